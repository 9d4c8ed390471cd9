"""C++ backend: the reflection table of every record.

For each record, one row per member in member order (the frame header and CRC left out):
its name, display name, scale, unit and symbols from the list, and where the decoded value
lives in the record (offset, type, presence, count). A hand-written walker turns a decoded
record into JSON or text through these rows, with no host objects. Presence uses the
codec's own predicate expressions, so the two cannot disagree about what a frame holds."""

import math
from decimal import Decimal
from typing import Dict, List, Optional, Tuple

from . import dsl, host
from .codec import CTYPES, Emitter as CodecEmitter, sname

SHAPES = {"scalar": "Value", "derived": "Value", "string": "String", "array": "Array",
          "embed": "Embed", "group": "Group"}
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


class Emitter:
    def __init__(self, records: List[dsl.Record]):
        self.records = records
        self.by_name = {r.name: r for r in records}
        self.codec = CodecEmitter(records, "Kvt::Nuvrix")
        self.helpers: List[str] = []
        self.names: Dict[str, str] = {}

    def _shared(self, key: str, prefix: str, make) -> str:
        """One definition per distinct predicate or symbol list, named prefix + number."""
        if key not in self.names:
            self.names[key] = f"{prefix}{len(self.names)}"
            self.helpers.append(make(self.names[key]))
        return self.names[key]

    def presence(self, p: Optional[dsl.Pred], rec: dsl.Record) -> str:
        if p is None:
            return "nullptr"
        expr = self.codec.pred_expr(p, rec)
        uses = "r->" in expr

        def make(name):
            body = (f"    const auto* r = static_cast<const {sname(rec)}*>(record);\n" if uses
                    else "    (void)record;\n")
            return f"bool {name}(uint16_t m, const void* record)\n{{\n{body}    (void)m;\n    return {expr};\n}}\n"
        return self._shared(f"pred {rec.name if uses else ''} {p!r}", "present", make)

    def symbols(self, items) -> str:
        if not items:
            return "nullptr, 0"

        def make(name):
            rows = "".join(f"    {{{v}, {host.cstr(t)}}},\n" for v, t in items)
            return f"const Symbol {name}[] = {{\n{rows}}};\n"
        return f"{self._shared(f'symbols {items!r}', 'kSymbols', make)}, {len(items)}"

    def embedding_parents(self, sub: str) -> List[dsl.Record]:
        return [r for r in self.records if any(m.kind == "embed" and m.record == sub for m in r.members)]

    def count(self, rec: dsl.Record, m: dsl.Member):
        """(flags, count type, count offset, fixed count) of a member."""
        if isinstance(m.count, str):
            counter = next(c for c in rec.members if c.name == m.count)
            return [], CTYPES[counter.rec][1], f"offsetof({sname(rec)}, {m.count})", 0
        if isinstance(m.count, dsl.FatherMember):
            parent = self.embedding_parents(rec.name)[0]
            counter = next(c for c in parent.members if c.name == m.count.name)
            return ["CountInParent"], CTYPES[counter.rec][1], f"offsetof({sname(parent)}, {m.count.name})", 0
        return [], "Record", "0", m.count if isinstance(m.count, int) else 0

    @staticmethod
    def shape(m: dsl.Member) -> str:
        """Byte arrays that carry UTF-8 text (utf8=True) are shown as text, as strings are."""
        if m.meta.get("utf8"):
            if m.kind != "array" or m.rec != "u8":
                raise ValueError(f"{m.name}: only an array of bytes can be shown as text")
            return "String"
        return SHAPES[m.kind]

    def row(self, rec: dsl.Record, m: dsl.Member, index: int) -> str:
        info = host.member_field(rec, m, index)
        flags, count_type, count_offset, fixed = self.count(rec, m)
        if m.meta.get("reserved"):
            flags.append("Reserved")
        if m.kind == "derived":
            flags.append("Computed")
        if m.wire in ("u", "bits") and (dsl.widest(m.width) > EXACT_BITS or is_mask(m)):
            flags.append("Hex")
        ctype = "Record" if m.kind in ("embed", "group") else CTYPES[m.rec][1]
        sub = f"&kRecord_{m.record}" if m.record else "nullptr"
        # The physical meaning, not the host's display: the renderings show SI values.
        scale, unit = dsl.physical(m) or (None, info.unit)
        invalid = dsl.invalid_value(m)
        if invalid is not None:
            flags.append("HasInvalid")
        numerator, divisor, decimals = (scale_parts(scale, dsl.widest(m.width)) if scale
                                        else ("0.0", "1.0", -1))
        cscale = host.cdouble(scale) if scale is not None else "0.0"
        digits = resolution_decimals(scale) if scale and decimals < 0 else -1
        return (f"    {{{host.cstr(m.name)}, {host.cstr(dsl.json_key(m))}, {host.cstr(info.display)}, {host.cstr(unit)}, "
                f"{cscale}, {numerator}, {divisor}, {decimals}, {digits}, {invalid or 0}, "
                f"Shape::{self.shape(m)}, Type::{ctype}, {' | '.join(flags) or '0'}, Type::{count_type}, "
                f"{self.presence(m.when, rec)}, offsetof({sname(rec)}, {m.name}), {count_offset}, "
                f"{fixed}, {m.capacity}, {sub}, {self.symbols(info.symbols)}}},")

    def record(self, rec: dsl.Record) -> str:
        rows = [self.row(rec, m, k) for k, m in enumerate(rec.members)]
        fields = f"kFields_{rec.name}" if rows else "nullptr"
        table = f"constexpr FieldInfo kFields_{rec.name}[] = {{\n" + "\n".join(rows) + "\n};\n" if rows else ""
        return (table + f"constexpr RecordInfo kRecord_{rec.name} = {{{host.cstr(rec.name)}, "
                f"{host.cstr(host.display_name(rec))}, {host.cstr(rec.meta.get('text'))}, "
                f"{rec.number or 0}, sizeof({sname(rec)}), {fields}, {len(rows)}}};\n")

    def nested_first(self) -> List[dsl.Record]:
        done, order = set(), []

        def visit(r):
            if r.name not in done:
                done.add(r.name)
                for m in r.members:
                    if m.record:
                        visit(self.by_name[m.record])
                order.append(r)
        for r in self.records:
            visit(r)
        return order

    def same_counts(self) -> List[str]:
        """A count in the parent is found at one offset whichever record embeds the block."""
        out = []
        for rec in self.records:
            for m in rec.members:
                if isinstance(m.count, dsl.FatherMember):
                    first, *others = self.embedding_parents(rec.name)
                    out += [f"static_assert(offsetof({sname(p)}, {m.count.name}) == "
                            f"offsetof({sname(first)}, {m.count.name}), \"{rec.name} count {m.count.name}\");"
                            for p in others]
        return sorted(set(out))

    def source(self, include: str = "", function: str = "recordInfo") -> str:
        """The tables and their lookup by enumerator; the core's lookup passes enumerators
        beyond its own on to the extension's (function extRecordInfo)."""
        for r in self.records:
            for m in r.members:
                # JSON writes names as they are, with room for 64 characters made at once.
                if not dsl.json_key(m).isidentifier() or len(dsl.json_key(m)) > 64:
                    raise ValueError(f"{r.name}.{m.name}: a member name must be an identifier of at most 64 characters")
        tables = [self.record(r) for r in self.nested_first()]
        out = ["// Generated from the message list by kvtcg. Do not edit.",
               '#include "RTCM3_reflect.h"'] + ([f'#include "{include}"'] if include else []) + [
               "", "#include <cstddef>", "",
               "namespace Kvt::Nuvrix::reflect {", "", "const RecordInfo* extRecordInfo(int32_t enumerator);", "",
               "namespace {", ""]
        out += self.helpers + tables + self.same_counts()
        first, last = self.records[0].enum, self.records[-1].enum
        beyond = "nullptr" if include else "extRecordInfo(enumerator)"
        out += ["", "const RecordInfo* const kByEnumerator[] = {"]
        out += [f"    &kRecord_{r.name}," for r in self.records]
        out += ["};", "", "} // namespace", "",
                f"const RecordInfo* {function}(int32_t enumerator)", "{",
                f"    if (enumerator >= {first} && enumerator <= {last})",
                f"        return kByEnumerator[enumerator - {first}];",
                f"    return enumerator > {last} ? {beyond} : nullptr;",
                "}", "", "} // namespace Kvt::Nuvrix::reflect", ""]
        return "\n".join(out)

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
        return {"RTCM3_reflect_tables.cpp": self.source(), "RTCM3_units.h": self.units()}
