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
Besides, messageNumber(message) and init(record) overloads serve code that handles records of
any layout."""

from typing import Dict, List, Tuple

from . import dsl
from .codec import CTYPES, HEADER, sname


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

    def header(self) -> str:
        out = ["// Generated from the message list by kvtcg. Do not edit.", "#pragma once",
               '#include "RTCM3_codec.h"', '#include "RTCM3_units.h"', "",
               "#include <cstddef>", "#include <type_traits>", "", "namespace Kvt::Nuvrix {", ""]
        for name, recs in self.layouts.items():
            out += self.units(name, recs)
        out += self.units_of()
        out += ["namespace family {", ""]
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
