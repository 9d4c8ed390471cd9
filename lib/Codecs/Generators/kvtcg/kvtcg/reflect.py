"""C++ backend: the physical meaning of every field, for the one field table of each record.

The codec's table holds, after what the walker reads, each field's name, JSON key, display
name, physical unit and scale, "no value" marker and symbols, from the list. A hand-written
walker turns a decoded record into JSON or text through those rows, with no host objects;
presence is the codec's own, so the two cannot disagree about what a frame holds. This
backend also writes the unit constants for code that reads or builds records by hand."""

import math
from decimal import Decimal
from typing import Dict, List, Optional, Tuple

from . import dsl, host
# Unsigned integers beyond this many bits are not exact as JSON numbers (doubles).
EXACT_BITS = 53


def is_mask(m: dsl.Member) -> bool:
    """A bit set of satellites, signals or messages, which people read in hexadecimal."""
    return m.kind == "scalar" and (m.name.endswith("_Mask") or m.name.endswith("_Indicator") and m.meta.get("role") == 2)


def resolution_decimals(scale: float) -> int:
    """Decimals that tell every step of a scale that no decimal writes exactly (2^-24 light
    milliseconds): one more than the step needs, so that the text reads back to its raw value;
    -1 where more than 17 would be needed (the shortest form of the double is written then)."""
    digits = max(0, math.ceil(-math.log10(scale)) + 1)
    return digits if digits <= 17 else -1


def scale_parts(scale: float, bits: int) -> Tuple[str, str, int]:
    """(numerator, divisor, decimals) of a scale. A decimal scale such as 0.4 is 4 / 10: raw
    times 4 is exact, so the value is written as that integer with one decimal, and its
    double is rounded once (244 times the double nearest 0.4 is 97.60000000000001). A
    binary scale (2^-31) multiplies exactly; decimals is then -1."""
    if scale >= 1 or math.frexp(scale)[0] != 0.5:
        d = Decimal(repr(scale)).normalize()
        places = max(0, -d.as_tuple().exponent)
        numerator = int(d.scaleb(places))
        if places <= 22 and bits + numerator.bit_length() <= 53:
            return f"{numerator}.0", f"1e{places}", places
    return host.cdouble(scale), "1.0", -1


def raw_range(m: dsl.Member) -> Tuple[str, str]:
    """The lowest and highest raw value of a member's widest field (C++ literals); 0, 0 for a
    member that is not an integer on the wire; 64 unsigned bits reach as far as int64_t does."""
    if m.wire not in ("u", "i", "bits"):
        return "0", "0"
    w = dsl.widest(m.width)
    lo, hi = (-(1 << (w - 1)), (1 << (w - 1)) - 1) if m.wire == "i" else (0, (1 << w) - 1)
    # The lowest of 64 bits has no literal of its own.
    return (f"({lo + 1} - 1)" if lo == -(1 << 63) else str(lo)), str(min(hi, (1 << 63) - 1))


def check_keys(records: List[dsl.Record]) -> None:
    for r in records:
        for m in r.members:
            # JSON writes names as they are, with room for 64 characters made at once.
            if not dsl.json_key(m).isidentifier() or len(dsl.json_key(m)) > 64:
                raise ValueError(f"{r.name}.{m.name}: a member name must be an identifier of at most 64 characters")


def text_shape(m: dsl.Member) -> bool:
    """Byte arrays that carry UTF-8 text (utf8=True) are shown as text, as strings are."""
    if m.meta.get("utf8") and (m.kind != "array" or m.rec != "u8"):
        raise ValueError(f"{m.name}: only an array of bytes can be shown as text")
    return bool(m.meta.get("utf8"))


def meaning_flags(m: dsl.Member) -> List[str]:
    flags = []
    if m.wire in ("u", "bits") and (dsl.widest(m.width) > EXACT_BITS or is_mask(m)):
        flags.append("layout::Hex")
    if dsl.invalid_value(m) is not None:
        flags.append("layout::HasInvalid")
    if text_shape(m):
        flags.append("layout::Text")
    return flags


def meaning(rec: dsl.Record, m: dsl.Member, index: int, symbols) -> Tuple[str, str]:
    """The row's meaning: (symbol count, decimals and resolution, which sit among the walker's
    members; name, key, display, unit, scale, its numerator, invalid marker and symbols, after
    them). symbols(items) names the shared list of symbols."""
    info = host.member_field(rec, m, index)
    # The physical meaning, not the host's display: the renderings show SI values.
    scale, unit = dsl.physical(m) or (None, info.unit)
    invalid = dsl.invalid_value(m)
    numerator, divisor, decimals = (scale_parts(scale, dsl.widest(m.width)) if scale
                                    else ("0.0", "1.0", -1))
    if divisor != (f"1e{decimals}" if decimals >= 0 else "1.0"):
        raise ValueError(f"{rec.name}.{m.name}: the scale's divisor must be 10 to its decimals")
    cscale = host.cdouble(scale) if scale is not None else "0.0"
    digits = resolution_decimals(scale) if scale and decimals < 0 else -1
    table, count = symbols(info.symbols)
    return (f"{count}, {decimals}, {digits}",
            f"{host.cstr(m.name)}, {host.cstr(dsl.json_key(m))}, {host.cstr(info.display)}, {host.cstr(unit)}, "
            f"{cscale}, {numerator}, {invalid or 0}, {table}")


def header_meaning(name: str) -> Tuple[str, str]:
    """The frame header fields: names only."""
    return "0, -1, -1", (f"{host.cstr(name)}, {host.cstr(name)}, {host.cstr(name.replace('_', ' '))}, nullptr, "
                         "0.0, 0.0, 0, nullptr")


class Emitter:
    def __init__(self, records: List[dsl.Record]):
        self.records = records

    def units(self) -> str:
        """The physical meaning of every member that has one, as constants named after the
        record and member, for code that reads or builds records by hand."""
        out = ["// Generated from the message list by kvtcg. Do not edit.", "#pragma once",
               "// Physical meaning of record members: units::value(units::Message_Type_1005::ECEF_X, r.ECEF_X)",
               "// is the ECEF X coordinate in m; units::rawOf<int64_t>(units::Message_Type_1005::ECEF_X, x)",
               "// the raw value nearest x. A constant is there for every member the list gives a scale.",
               "", '#include "RTCM3_physical.h"', "", "namespace Kvt::Nuvrix::units {", ""]
        for rec in self.records:
            rows = []
            for m in rec.members:
                p = dsl.physical(m)
                if not p:
                    continue
                invalid = dsl.invalid_value(m)
                lowest, highest = raw_range(m)
                rows.append(f"inline constexpr Physical {m.name}{{{host.cdouble(p[0])}, {host.cstr(p[1])}, "
                            f"{'true' if invalid is not None else 'false'}, {invalid or 0}, {lowest}, {highest}}};")
            if rows:
                out += [f"namespace {rec.name} {{"] + rows + [f"}} // namespace {rec.name}", ""]
        out += ["} // namespace Kvt::Nuvrix::units", ""]
        return "\n".join(out)

    def files(self) -> Dict[str, str]:
        return {"RTCM3_units.h": self.units()}
