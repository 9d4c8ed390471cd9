"""C++ backend: the layouts that several message records share, as named types.

A message of the list may say layout="Name": the records of one name share the members that
all of them hold (same name, same declaration). For each layout the generator emits:
- struct Name: those members, read from any record of the layout (scalars by value, arrays,
  strings and blocks by reference), built by Name::of(record), which fails to compile for a
  record that lacks one;
- compile-time checks that every record of the layout declares each shared member alike;
- visitName(number, message, f): f called with the record of that message number in its own
  type (const or not, as the message is), false for a number outside the layout;
- units::Name: the physical meaning of the shared members, the same in every record of it;
and units::Of<Record> the physical meaning of any record's members by the record's type.
In namespace wire, what the message number alone decides of the wire: per message, the width
and raw range of each integer field (sub-records nested by member name), and Bits<Record>, the
payload bits outside the repeated parts and per element of each count; per layout, the fields
alike in all its records; the frame's header, check value and length limit.
Besides, messageNumber(message) and init(record) overloads serve code that handles records of
any layout."""

from typing import Dict, List, Tuple

from . import dsl
from .codec import CTYPES, HEADER, sname


class Undecided(Exception):
    """A size that a member's value decides, not the message number."""


def declarations(rec: dsl.Record, by_name: Dict[str, dsl.Record]) -> List[Tuple[str, str, str]]:
    """(name, type in the record, type in the shared view) of every member in record order;
    of the frame header the message number only, reserved bits left out."""
    out = [(n, CTYPES[t][0], CTYPES[t][0]) for n, t, _ in HEADER if n == "Message_Number"]
    for m in rec.members:
        if m.meta.get("reserved"):
            continue
        if m.kind in ("scalar", "derived"):
            t = CTYPES[m.rec][0]
            out.append((m.name, t, t))
        elif m.kind in ("string", "array"):
            t, n = ("char", m.capacity + 1) if m.kind == "string" else (CTYPES[m.rec][0], m.capacity)
            out.append((m.name, f"{t}[{n}]", f"const {t} (&{{}})[{n}]"))
        elif m.kind == "embed":
            t = sname(by_name[m.record])
            out.append((m.name, t, f"const {t}&"))
        elif m.kind == "group":
            t = sname(by_name[m.record]) + "*"
            out.append((m.name, t, f"{t} const"))
    return out


def physical_row(m: dsl.Member):
    p = dsl.physical(m)
    return None if not p else (p, dsl.invalid_value(m))


def when_bit(p) -> int:
    """The bit of an earlier mask member that a field is there under (1230's biases), 0 where
    its presence is not one such bit."""
    if isinstance(p, dsl.FieldBit):
        return p.mask
    if isinstance(p, dsl.AllOf):
        found = [q.mask for q in p.preds if isinstance(q, dsl.FieldBit)]
        return found[0] if len(found) == 1 else 0
    return 0


def wire_fields(rec: dsl.Record, number: int, by_name: Dict[str, dsl.Record], path=(), at=None):
    """(path, name, bits, lowest, highest, capacity, offset, when bit) of the integer fields a
    message of this number may hold, sub-records' by the path of member names; offset is the
    frame bit where the field begins while the sizes before it are fixed, else -1. at: the frame
    bit where the record's first member begins, None where that is not fixed."""
    for m in rec.members:
        if m.kind == "derived":
            continue
        present = dsl.holds_for(m.when, number)
        bits = dsl.width_for(m.width, number) if m.kind in ("scalar", "array", "string") else None
        offset = -1 if at is None or present is None else at
        if present is not False and m.kind in ("scalar", "array") and m.wire in ("u", "i", "bits") \
                and bits is not None and not m.meta.get("reserved"):
            yield (path, m.name, bits) + dsl.raw_bounds(m.wire, bits) + (m.capacity, offset, when_bit(m.when))
        elif present is not False and m.kind in ("embed", "group"):
            # Named after the member, or after the sub-record where one of its fields has that name.
            sub = by_name[m.record]
            name = m.record if any(x.name == m.name for x in sub.members) else m.name
            yield from wire_fields(sub, number, by_name, path + (name,),
                                   offset if m.kind == "embed" and offset >= 0 else None)
        if present is False:
            continue
        at = at + bits if at is not None and present and m.kind == "scalar" and bits is not None else None


def payload_bits(rec: dsl.Record, number: int, by_name: Dict[str, dsl.Record]) -> Dict[str, int]:
    """Bits of a record in a message of this number: under "" those outside any count, under a
    count's name those per unit of it. Undecided where a member's value decides a size."""
    out: Dict[str, int] = {}

    def add(key: str, n: int):
        out[key] = out.get(key, 0) + n

    for m in rec.members:
        present = None if m.kind == "derived" else dsl.holds_for(m.when, number)
        if present is None and m.kind != "derived":
            raise Undecided(m.name)
        if not present:
            continue
        if m.kind in ("scalar", "array", "string"):
            bits = dsl.width_for(m.width, number)
            if bits is None:
                raise Undecided(m.name)
            if m.kind == "scalar" or isinstance(m.count, int):
                add("", bits * (1 if m.kind == "scalar" else m.count))
            else:
                add(m.count.name if isinstance(m.count, dsl.ParentMember) else m.count, bits)
        elif m.kind == "embed":
            for key, n in payload_bits(by_name[m.record], number, by_name).items():
                add(key, n)
        elif m.kind == "group":
            element = payload_bits(by_name[m.record], number, by_name)
            if set(element) - {""} or not isinstance(m.count, (int, str)):
                raise Undecided(m.name)
            if isinstance(m.count, int):
                add("", m.count * element.get("", 0))
            else:
                add(m.count, element.get("", 0))
    return out


def field_literal(bits: int, lowest: int, highest: int, capacity: int, offset: int, when: int = 0) -> str:
    # 64 unsigned bits reach as far as int64_t does; the lowest of 64 has no literal of its own.
    low = f"({lowest + 1} - 1)" if lowest == -(1 << 63) else str(lowest)
    return f"{{{bits}, {low}, {min(highest, (1 << 63) - 1)}, {capacity}, {offset}, {when}}}"


class Emitter:
    def __init__(self, records: List[dsl.Record]):
        self.records = records
        self.by_name = {r.name: r for r in records}
        self.layouts: Dict[str, List[dsl.Record]] = {}
        for r in records:
            if r.meta.get("layout"):
                if not r.is_message:
                    raise ValueError(f"{r.name}: only messages share a layout")
                self.layouts.setdefault(r.meta["layout"], []).append(r)

    def shared(self, recs: List[dsl.Record]) -> List[Tuple[str, str, str]]:
        """The members that every record holds alike: same type, same wire and width."""
        def key(r, n, t):
            m = next((m for m in r.members if m.name == n), None)
            return n, t, None if m is None else repr((m.kind, m.wire, m.width, m.when, m.count, m.record))
        first, *others = [[key(r, n, t) + (v,) for n, t, v in declarations(r, self.by_name)] for r in recs]
        sets = [set(d[:3] for d in o) for o in others]
        return [(d[0], d[1], d[3]) for d in first if all(d[:3] in s for s in sets)]

    def check_units(self, name: str, recs: List[dsl.Record], members: List[str]) -> List[str]:
        """The shared members' physical meaning, which must not differ between the records."""
        rows = []
        for mname in members:
            seen = {repr(physical_row(next(m for m in r.members if m.name == mname)))
                    for r in recs if any(m.name == mname for m in r.members)}
            if len(seen) > 1:
                raise ValueError(f"layout {name}: {mname} has a different physical meaning in its records")
            if any(m.name == mname and physical_row(m) for m in recs[0].members):
                rows.append(mname)
        return rows

    def layout(self, name: str, recs: List[dsl.Record]) -> List[str]:
        members = self.shared(recs)
        view = [f"    {v.format(n)};" if "{}" in v else f"    {v} {n};" for n, _, v in members]
        init = ", ".join(f"r.{n}" for n, _, _ in members)
        numbers = ", ".join(str(r.number) for r in recs)
        out = [f"// Members that messages {numbers} share.", f"struct {name} {{"] + view
        out += ["", "    template <typename Record>",
                f"    static {name} of(const Record& r) {{ return {{{init}}}; }}", "};", ""]
        for r in recs:
            out += [f"static_assert(std::is_same_v<decltype({sname(r)}::{n}), {t}>, "
                    f"\"{r.name} holds {name}'s {n}\");" for n, t, _ in members]
        out += ["", f"template <typename Message, typename F>",
                f"bool visit{name}(int number, Message& message, F&& f)", "{",
                "    static_assert(std::is_same_v<std::remove_const_t<Message>, _RTCM3_message_t>);",
                "    switch (number) {"]
        out += [f"    case {r.number}: f(message.{r.name}); return true;" for r in recs]
        out += ["    default: return false;", "    }", "}", "",
                "// f(Type<Record>{}) with the record type of a message number of the layout, for what the",
                "// type alone tells (its wire sizes); false for a number outside the layout.",
                "template <typename F>", f"bool visit{name}Type(int number, F&& f)", "{", "    switch (number) {"]
        out += [f"    case {r.number}: f(Type<{sname(r)}>{{}}); return true;" for r in recs]
        out += ["    default: return false;", "    }", "}", ""]
        return out

    def units(self, name: str, recs: List[dsl.Record]) -> List[str]:
        members = [n for n, _, _ in self.shared(recs)]
        rows = self.check_units(name, recs, members)
        if not rows:
            return []
        return [f"namespace units::{name} {{"] + \
            [f"inline constexpr const Physical& {n} = units::{recs[0].name}::{n};" for n in rows] + \
            [f"}} // namespace units::{name}", ""]

    def units_of(self) -> List[str]:
        """units::Of<Record>: the physical meaning of a record's members by its type, for code
        written once for several records."""
        out = ["namespace units {", "template <typename Record>", "struct Of;"]
        for r in self.records:
            rows = [m.name for m in r.members if dsl.physical(m)]
            if rows:
                out += [f"template <>", f"struct Of<{sname(r)}> {{"]
                out += [f"    static constexpr const Physical& {n} = {r.name}::{n};" for n in rows]
                out += ["};"]
        return out + ["} // namespace units", ""]

    def wire(self) -> List[str]:
        messages = [r for r in self.records if r.is_message]
        frame = {n: w for n, _, w in HEADER}
        before = sum(w for n, _, w in HEADER if n != "Message_Number")
        out = ["namespace wire {", "",
               "// An integer field: its width, its raw range, the elements an array of it holds (0 for one",
               "// value), the frame bit where it begins (-1 where the sizes before it vary) and the bit of",
               "// an earlier mask that it is there under (0 where its presence is not one such bit).",
               "struct Field {", "    int bits;", "    int64_t lowest, highest;", "    int capacity;", "    int offset;",
               "    uint64_t whenBit;", "};", "",
               "// Payload bits of a record: Bits<Record>::fixed those outside any count (the message number",
               "// on), and a member named after a count those per unit of it (Bits<...>::Nsat).",
               "template <typename Record>", "struct Bits;", "",
               "// The fields of a message by its record's type.", "template <typename Record>", "struct Of;", "",
               "namespace Frame {"]
        at = 0
        for n, w in frame.items():
            out.append(f"inline constexpr Field {n}{field_literal(w, *dsl.raw_bounds('u', w), 0, at)};")
            at += w
        out += [f"inline constexpr int headerBits = {before};  // before the payload, which the message number begins",
                f"inline constexpr int crcBits = {dsl.CRC_BITS};",
                "inline constexpr int maxPayloadBytes = int(Message_Length.highest);",
                "inline constexpr int maxBytes = (headerBits + crcBits) / 8 + maxPayloadBytes;",
                "} // namespace Frame", ""]
        for r in messages:
            out += self.wire_message(r)
        for name, recs in self.layouts.items():
            out += self.wire_layout(name, recs)
        return out + ["} // namespace wire", ""]

    def wire_message(self, r: dsl.Record) -> List[str]:
        """struct Message_Type_N: its fields, a nested struct per sub-record member; Of<Record>
        names it by the record's type."""
        out, path = [f"struct {r.name} {{"], ()
        for p, n, *field in wire_fields(r, r.number, self.by_name, at=sum(w for _, _, w in HEADER)):
            common = next((k for k, (a, b) in enumerate(zip(path, p)) if a != b), min(len(path), len(p)))
            out += [f"{'    ' * k}}};" for k in range(len(path), common, -1)]
            out += [f"{'    ' * (k + 1)}struct {p[k]} {{" for k in range(common, len(p))]
            path = p
            out.append(f"{'    ' * (len(p) + 1)}static constexpr Field {n}{field_literal(*field)};")
        out += [f"{'    ' * k}}};" for k in range(len(path), -1, -1)]
        out += ["template <>", f"struct Of<{sname(r)}> : {r.name} {{", "};"]
        try:
            bits = payload_bits(r, r.number, self.by_name)
        except Undecided:
            return out + [""]
        bits[""] = bits.get("", 0) + dict((n, w) for n, _, w in HEADER)["Message_Number"]
        out += ["template <>", f"struct Bits<{sname(r)}> {{", f"    static constexpr int fixed = {bits.pop('')};"]
        out += [f"    static constexpr int {k} = {v};" for k, v in sorted(bits.items())]
        return out + ["};", ""]

    def wire_layout(self, name: str, recs: List[dsl.Record]) -> List[str]:
        """The fields of a layout's own level that every record of it holds alike."""
        start = sum(w for _, _, w in HEADER)
        each = [{n: f for p, n, *f in wire_fields(r, r.number, self.by_name, at=start) if not p} for r in recs]
        # Alike in width, range and capacity; the offset where it is the same too.
        alike = [(n, f[:4] + [f[4] if all(e[n][4] == f[4] for e in each) else -1])
                 for n, f in each[0].items() if all(n in e and e[n][:4] == f[:4] for e in each[1:])]
        if not alike:
            return []
        return [f"struct {name} {{"] + [f"    static constexpr Field {n}{field_literal(*f)};" for n, f in alike] + \
            ["};", ""]

    def header(self) -> str:
        out = ["// Generated from the message list by kvtcg. Do not edit.", "#pragma once",
               '#include "RTCM3_codec.h"', '#include "RTCM3_units.h"', "",
               "#include <cstddef>", "#include <cstdint>", "#include <type_traits>", "", "namespace Kvt::Nuvrix {", ""]
        for name, recs in self.layouts.items():
            out += self.units(name, recs)
        out += self.units_of()
        out += self.wire()
        out += ["namespace family {", "", "template <typename Record>", "struct Type {", "    using type = Record;", "};", ""]
        for name, recs in self.layouts.items():
            out += self.layout(name, recs)
        messages = [r for r in self.records if r.is_message]
        out += ["// Every message record begins alike (enumerator, bit count, parent link, frame header),",
                "// so the number is read in that common beginning, whichever message the union holds.",
                "inline int messageNumber(const _RTCM3_message_t& message)", "{",
                f"    return message.{messages[0].name}.Message_Number;", "}", ""]
        out += [f"static_assert(offsetof({sname(r)}, Message_Number) == offsetof({sname(messages[0])}, Message_Number));"
                for r in messages[1:]]
        out += [""]
        out += [f"inline int32_t init({sname(r)}* p) {{ return RTCM3_init_{r.name}(p); }}"
                for recs in self.layouts.values() for r in recs]
        out += ["", "// A new element of the one repeated group of a record that has one."]
        for recs in self.layouts.values():
            for r in recs:
                groups = [m for m in r.members if m.kind == "group"]
                if len(groups) == 1:
                    g = groups[0]
                    out.append(f"inline {sname(self.by_name[g.record])}* append({sname(r)}* p) "
                               f"{{ return RTCM3_append_{r.name}_{g.name}(p); }}")
        out += ["", "} // namespace family", "} // namespace Kvt::Nuvrix", ""]
        return "\n".join(out)

    def files(self) -> Dict[str, str]:
        return {"RTCM3_families.h": self.header()}
