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


def has_extra(m: dsl.Member) -> bool:
    """A rarer physical meaning, which the row points at: a zero, parts, a scale per message."""
    if m.meta.get("zero") and dsl.scale_rule(m):
        raise ValueError(f"{m.name}: a zero and a scale per message together are not supported")
    return bool(m.meta.get("zero") or dsl.parts_of(m) or dsl.scale_rule(m))


def meaning(rec: dsl.Record, m: dsl.Member, index: int, symbols, scale: Optional[float] = None,
            extra: str = "nullptr") -> Tuple[str, str]:
    """The row's meaning: (symbol count, decimals and resolution, which sit among the walker's
    members; name, key, display, unit, the rarer meaning, the scale's numerator, invalid marker
    and symbols, after them). symbols(items) names the shared list of symbols; scale, where
    given, is the scale in one message."""
    info = host.member_field(rec, m, index)
    # The physical meaning, not the host's display: the renderings show SI values.
    default, unit = dsl.physical(m) or (None, info.unit)
    scale = default if scale is None else scale
    invalid = dsl.invalid_value(m)
    numerator, divisor, decimals = (scale_parts(scale, dsl.widest(m.width)) if scale
                                    else ("0.0", "1.0", -1))
    if divisor != (f"1e{decimals}" if decimals >= 0 else "1.0"):
        raise ValueError(f"{rec.name}.{m.name}: the scale's divisor must be 10 to its decimals")
    digits = resolution_decimals(scale) if scale and decimals < 0 else -1
    table, count = symbols(info.symbols)
    return (f"{count}, {decimals}, {digits}",
            f"{host.cstr(m.name)}, {host.cstr(dsl.json_key(m))}, {host.cstr(info.display)}, {host.cstr(unit)}, "
            f"{extra}, {numerator}, {invalid or 0}, {table}")


def header_meaning(name: str) -> Tuple[str, str]:
    """The frame header fields: names only."""
    return "0, -1, -1", (f"{host.cstr(name)}, {host.cstr(name)}, {host.cstr(name.replace('_', ' '))}, nullptr, "
                         "nullptr, 0.0, 0, nullptr")


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
                if m.kind == "derived" and isinstance(m.compute, dsl.BitField):
                    # The part of its source a derived member is, for code that packs the source.
                    c = m.compute
                    rows.append(f"inline constexpr SubField {m.name}{{{c.shift}, {(c.mask + 1).bit_length() - 1}, 0}};")
                p = dsl.physical(m)
                if not p:
                    continue
                rows += self.extras(rec, m)
                invalid = dsl.invalid_value(m)
                lowest, highest = raw_range(m)
                extra = ""
                if m.meta.get("zero") or dsl.parts_of(m) or dsl.scale_rule(m):
                    parts = dsl.parts_of(m)
                    extra = (f", {int(m.meta.get('zero', 0))}, "
                             f"{f'{m.name}_parts, {len(parts)}' if parts else 'nullptr, 0'}, "
                             f"{f'{m.name}_scales, {len(self.scale_cases(rec, m))}' if dsl.scale_rule(m) else 'nullptr, 0'}")
                rows.append(f"inline constexpr Physical {m.name}{{{host.cdouble(p[0])}, {host.cstr(p[1])}, "
                            f"{'true' if invalid is not None else 'false'}, {invalid or 0}, {lowest}, {highest}{extra}}};")
            if rows:
                out += [f"namespace {rec.name} {{"] + rows + [f"}} // namespace {rec.name}", ""]
        out += ["} // namespace Kvt::Nuvrix::units", ""]
        return "\n".join(out)

    def messages_holding(self, rec: dsl.Record) -> List[dsl.Record]:
        """The messages that hold this record, themselves or through sub-records at any depth."""
        if rec.is_message:
            return [rec]
        holders = [r for r in self.records if any(m.record == rec.name for m in r.members)]
        return sorted({h.number: h for r in holders for h in self.messages_holding(r)}.values(),
                      key=lambda r: r.number)

    def scale_cases(self, rec: dsl.Record, m: dsl.Member) -> List[Tuple[int, float]]:
        """(message number, scale) of every message holding the member whose scale is not the default."""
        default = dsl.physical(m)[0]
        return [(h.number, dsl.scale_for(m, h.number)) for h in self.messages_holding(rec)
                if dsl.scale_for(m, h.number) != default]

    def extras(self, rec: dsl.Record, m: dsl.Member) -> List[str]:
        """The tables a rarer physical meaning points at: its parts, its scales per message."""
        rows = []
        parts = dsl.parts_of(m)
        if parts:
            rows.append(f"inline constexpr SubField {m.name}_parts[] = {{" +
                        ", ".join(f"{{{shift}, {width}, {host.cdouble(steps)}}}" for _, shift, width, steps in parts) +
                        "};  // " + ", ".join(n for n, *_ in parts))
        if dsl.scale_rule(m):
            cases = self.scale_cases(rec, m)
            if not cases:
                raise ValueError(f"{rec.name}.{m.name}: its scale is the same in every message")
            rows.append(f"inline constexpr ScaleIn {m.name}_scales[] = {{" +
                        ", ".join(f"{{{n}, {host.cdouble(v)}}}" for n, v in cases) + "};")
        return rows

    def files(self) -> Dict[str, str]:
        return {"RTCM3_units.h": self.units()}
