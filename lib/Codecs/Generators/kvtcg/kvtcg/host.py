"""C++ backend for the host side: what the host is told about every record and field, and
the message class that wraps every record.

Every field becomes a constant spec of what the host contract alone fixes (its type, role,
display scale and unit, do-not-use value, ...) and a class of a few lines over the
hand-written RTCM3FieldInfo, which finds the rest (name, display name, symbols, presence,
where the value lives) in the field's row of the codec's table; every record a description class over
RTCM3MessageInfo and a message class over RTCM3MessageT whose getters are one-line reads of
the record. Presence, counts and nested blocks are left to the bases, which read them from
the codec's layout tables, so that the host and the codec cannot disagree about them.

Records marked codec_only=True get no host classes."""

import math
import re
from dataclasses import dataclass, field
from typing import Dict, List, Optional, Tuple

from . import dsl, model
from .model import CTYPES

GENERATED = "// Generated from the message list by kvtcg. Do not edit."

# (name, record type, host kind, host width) of the frame header that opens every message.
HEADER_FIELDS = [("Preamble", "u8", "byte", 8), ("Reserved", "u8", "byte", 8),
                 ("Message_Length", "u16", "u", 10), ("Message_Number", "u16", "u", 12)]
CRC_FIELD = ("CRC", "u8", "byte", 8)

KINDS = {"u": "Unsigned", "i": "Signed", "byte": "Byte", "ch": "Char", "f32": "Float32",
         "f64": "Float64", "sub": "SubMessage"}

# Methods of the message bases that a generated getter must not hide.
RESERVED_GETTERS = {"getMessageInfo", "getParentMessage", "getRawRepresentation", "getSubMessages",
                    "getRawStringFor", "getRawString", "getReferenceCount", "hasRepresentation"}


@dataclass
class HostField:
    name: str
    index: int                       # position in the record's description
    shape: str                       # value | string | array | crc | embed | group
    ctype: str                       # C++ type of the member (of an element for arrays)
    kind: str                        # u | i | byte | ch | f32 | f64 | sub
    width: int
    display: str
    role: int                        # 0: none
    optional: bool = False
    repeated: bool = False
    derived: bool = False            # the host calls it virtual
    scale: Optional[float] = None
    unit: Optional[str] = None
    precision: Optional[int] = None
    symbols: List[Tuple[int, str]] = field(default_factory=list)
    dnu: Optional[int] = None
    subfields: List[str] = field(default_factory=list)
    sub: Optional[str] = None        # nested record, for embed and group


# ---- reading the list -----------------------------------------------------------------

def holds(p: dsl.Pred, number: int) -> bool:
    """A predicate over the message number alone, decided for one message."""
    if isinstance(p, dsl.MsgNumIn):
        return number in p.numbers
    if isinstance(p, dsl.MsgNumRange):
        return p.lo <= number <= p.hi
    if isinstance(p, dsl.MsmLevel):
        return number % 10 in p.levels
    if isinstance(p, dsl.AllOf):
        return all(holds(q, number) for q in p.preds)
    if isinstance(p, dsl.AnyOf):
        return any(holds(q, number) for q in p.preds)
    if isinstance(p, dsl.Not):
        return not holds(p.pred, number)
    raise ValueError(f"a width cannot depend on {p!r}")


def width_for(rec: dsl.Record, m: dsl.Member) -> int:
    """A message's own field has the width of that message; a sub-record shared by several
    messages shows the widest."""
    w = m.width
    if not isinstance(w, dsl.WidthRule):
        return w
    if not rec.is_message:
        return w.widest
    return next((width for p, width in w.cases if holds(p, rec.number)), w.default)


def parse_host(text: str, where: str) -> Tuple[str, int]:
    match = re.fullmatch(r"([ui])\((\d+)\)|(byte|ch|f32|f64)", text)
    if not match:
        raise ValueError(f"{where}: host type {text!r} is not u(n), i(n), byte, ch, f32 or f64")
    if match.group(1):
        return match.group(1), int(match.group(2))
    return match.group(3), {"byte": 8, "ch": 8, "f32": 32, "f64": 64}[match.group(3)]


def host_type(rec: dsl.Record, m: dsl.Member) -> Tuple[str, int]:
    where = f"{rec.name}.{m.name}"
    if "host" in m.meta:
        return parse_host(m.meta["host"], where)
    if m.kind in ("embed", "group"):
        return "sub", 0
    if m.kind == "string":
        return "ch", 8
    if m.kind == "derived":
        if m.rec in ("f32", "f64"):
            return m.rec, int(m.rec[1:])
        raise ValueError(f"{where}: a derived integer needs host=")
    return {"u": "u", "i": "i", "bits": "byte"}[m.wire], width_for(rec, m) if m.wire != "bits" else 8


def member_field(rec: dsl.Record, m: dsl.Member, index: int) -> HostField:
    meta = m.meta
    kind, width = host_type(rec, m)
    shape = {"scalar": "value", "derived": "value"}.get(m.kind, m.kind)
    repeated = m.kind in ("string", "array", "group")
    if meta.get("repeated") and not repeated:
        raise ValueError(f"{rec.name}.{m.name}: only strings, arrays and groups repeat")
    ctype = "char" if m.kind == "string" else CTYPES[m.rec][0] if m.rec else ""
    symbols = [(int(v), str(t)) for v, t in (meta.get("symbols") or {}).items()]
    return HostField(
        name=m.name, index=index, shape=shape, ctype=ctype, kind=kind, width=width,
        display=meta.get("display", m.name.replace("_", " ")),
        role=0 if kind == "sub" else int(meta.get("role", 1)),
        optional=bool(meta.get("optional")) or m.when is not None,
        repeated=repeated, derived=bool(meta.get("virtual")),
        scale=meta.get("scale"), unit=meta.get("unit"), precision=meta.get("precision"),
        symbols=symbols, dnu=meta.get("dnu"), subfields=list(meta.get("subfields") or []),
        sub=m.record)


def record_fields(rec: dsl.Record) -> List[HostField]:
    """Every field of the record's description, in layout order: the frame header, the
    members (derived ones where the list puts them, right after their source) and CRC."""
    out: List[HostField] = []
    if rec.is_message:
        for name, rtype, kind, width in HEADER_FIELDS:
            out.append(HostField(name, len(out), "value", CTYPES[rtype][0], kind, width,
                                 name.replace("_", " "), 1))
    for m in rec.members:
        out.append(member_field(rec, m, len(out)))
    if rec.is_message:
        name, rtype, kind, width = CRC_FIELD
        out.append(HostField(name, len(out), "crc", CTYPES[rtype][0], kind, width, name, 1,
                             repeated=True))
    names = {f.name for f in out}
    for f in out:
        for s in f.subfields:
            if s not in names:
                raise ValueError(f"{rec.name}.{f.name}: unknown sub-field {s}")
    return out


def host_records(records: List[dsl.Record]) -> List[dsl.Record]:
    return [r for r in records if not r.meta.get("codec_only")]


def display_name(rec: dsl.Record) -> str:
    """"Message Type 1005", "SIGIL 1", "MSM Satellite Data": the record name with blanks."""
    return rec.name.replace("_", " ")


def read_order(path: str, records: List[dsl.Record]) -> List[dsl.Record]:
    by_name = {r.name: r for r in records}
    names = []
    with open(path, encoding="utf-8") as f:
        for line in f:
            line = line.split("#", 1)[0].strip()
            if line:
                names.append(line)
    unknown = [n for n in names if n not in by_name]
    missing = sorted(set(by_name) - set(names))
    twice = sorted({n for n in names if names.count(n) > 1})
    if unknown or missing or twice:
        raise ValueError(f"{path}: unknown {unknown}, missing {missing}, listed twice {twice}")
    return [by_name[n] for n in names]


# ---- C++ spelling -----------------------------------------------------------------------

def cstr(text: Optional[str]) -> str:
    if text is None:
        return "nullptr"
    return '"' + text.replace("\\", "\\\\").replace('"', '\\"') + '"'


def cdouble(value: float) -> str:
    mantissa, exponent = math.frexp(value)
    if value > 0 and mantissa == 0.5 and exponent <= 0:
        return f"0x1p{exponent - 1}"          # the exact power of two the list means
    return repr(float(value))


def field_class(rec: dsl.Record, f: HostField) -> str:
    return f"RTCM3_{rec.name}_{f.name}_FieldInfo"


def info_class(name: str) -> str:
    return f"RTCM3_{name}_MessageInfo"


def message_class(name: str) -> str:
    return f"RTCM3_{name}_Message"


def record_type(name: str) -> str:
    return f"Kvt::Nuvrix::RTCM3_{name}_s"


class Emitter:
    def __init__(self, records: List[dsl.Record], order_path: str, shards: int):
        self.all = records
        self.records = host_records(records)
        self.by_name = {r.name: r for r in self.records}
        self.order = read_order(order_path, self.records)
        self.fields = {r.name: record_fields(r) for r in self.records}
        self.shards = shards
        for r in self.records:
            self.check_rows(r)
            for f in self.fields[r.name]:
                if f.sub and f.sub not in self.by_name:
                    raise ValueError(f"{r.name}.{f.name}: {f.sub} has no host classes")

    def nested_first(self) -> List[dsl.Record]:
        """Records after the records they nest, so that every class is complete where a
        getter returns it."""
        return model.nested_first(self.records)

    def check_rows(self, rec: dsl.Record) -> None:
        """Field k of a description is row k of the record's codec table; a message's CRC,
        which the walker checks as a frame fact and keeps apart, is the one field after them."""
        rows = ([n for n, *_ in HEADER_FIELDS] if rec.is_message else []) + [m.name for m in rec.members]
        names = [f.name for f in self.fields[rec.name]]
        if names != rows + ([CRC_FIELD[0]] if rec.is_message else []):
            raise ValueError(f"{rec.name}: the description's fields {names} are not the table's rows {rows}")

    # ---- the header: every class ------------------------------------------------------

    @staticmethod
    def description_declaration(cls: str, base: str) -> str:
        return (f"class {cls} final : public {base}\n{{\npublic:\n"
                f"    NUVRIXRTCM3_EXPORT static const {cls} *getInstance();\n"
                f"    NUVRIXRTCM3_EXPORT static {cls} *getInstance_nonconst();\n\nprivate:\n"
                f"    friend class RTCM3Instances;\n    {cls}();\n}};\n")

    def getters(self, rec: dsl.Record, f: HostField) -> List[str]:
        k, n, t = f.index, f.name, f.ctype
        out = []
        if f.shape in ("embed", "group"):
            sub = message_class(f.sub)
            if f.shape == "embed":
                return [f"const {sub} *get{n}() const {{ return childAt<{sub}>({k}, 0); }}",
                        f"{sub} *get{n}() {{ return childAt<{sub}>({k}, 0); }}"]
            element = record_type(f.sub)
            return [f"unsigned getNumberOf{n}() const {{ return numberOf({k}); }}",
                    f"const {sub} *get{n}(unsigned index) const {{ return childAt<{sub}>({k}, index); }}",
                    f"{sub} *get{n}(unsigned index) {{ return childAt<{sub}>({k}, index); }}",
                    f"QList<const {sub} *> get{n}Vector() const {{ return childrenOf<const {sub}>({k}); }}",
                    f"QList<{sub} *> get{n}Vector() {{ return childrenOf<{sub}>({k}); }}",
                    f"{element} *get{n}Array() {{ return record()->{n}; }}",
                    f"const {element} *get{n}Array() const {{ return record()->{n}; }}"]
        if f.optional:
            out.append(f"bool has{n}() const {{ return isFieldPresent({k}); }}")
        if not f.repeated:
            check = f"requirePresent({k}); " if f.optional else ""
            out.append(f"{t} get{n}() const {{ {check}return record()->{n}; }}")
            return out
        return out + [
            f"unsigned getNumberOf{n}() const {{ return numberOf({k}); }}",
            f"{t} get{n}(unsigned index) const {{ requireIndex({k}, index); return record()->{n}[index]; }}",
            f"QList<{t}> get{n}Vector() const {{ return valuesOf({k}, record()->{n}); }}",
            f"{t} *get{n}Array() {{ return record()->{n}; }}",
            f"const {t} *get{n}Array() const {{ return record()->{n}; }}"]

    def message_declaration(self, rec: dsl.Record) -> str:
        cls = message_class(rec.name)
        fields = self.fields[rec.name]
        lines = [f"class {cls} final : public RTCM3MessageT<{record_type(rec.name)}>", "{",
                 "public:"]
        if rec.is_message:
            lines.append(f"    NUVRIXRTCM3_EXPORT {cls}(RecordType *record, bool ownsRepresentation);")
        else:
            lines.append(f"    NUVRIXRTCM3_EXPORT {cls}(RecordType *record, Message *parent,\n"
                         f"                             bool ownsRepresentation);")
        if any(f.shape in ("embed", "group") for f in fields):
            lines += ["    using RTCM3Message::disposeSubMessages;",
                      "    using RTCM3Message::ensureSubMessages;"]
        lines.append("")
        methods = []
        for f in fields:
            methods += self.getters(rec, f)
        names = [re.match(r".*?(\w+)\(", m).group(1) for m in methods]
        clash = sorted(set(names) & RESERVED_GETTERS)
        if clash:
            raise ValueError(f"{rec.name}: getters {clash} would hide methods of the base")
        lines += ["    " + m for m in methods]
        lines.append("};")
        return "\n".join(lines) + "\n"

    def header(self) -> str:
        out = [GENERATED,
               "// The host-facing classes of every record: field descriptions, the message",
               "// description and the message class. Each is a binding over a hand-written base.",
               "#pragma once", "",
               '#include "RTCM3_FieldInfoT.h"', '#include "RTCM3_MessageInfoT.h"',
               '#include "RTCM3_MessageT.h"', '#include "RTCM3_codec.h"',
               '#include "nuvrixrtcm3_global.h"', "", "#include <QtCore/QList>", ""]
        for rec in self.nested_first():
            out.append(f"// ---- {rec.name} " + "-" * max(4, 80 - len(rec.name) - 9))
            out.append("")
            out += [self.description_declaration(field_class(rec, f), "RTCM3FieldInfo")
                    for f in self.fields[rec.name]]
            out.append(self.description_declaration(info_class(rec.name), "RTCM3MessageInfo"))
            out.append(self.message_declaration(rec))
        return "\n".join(out)

    # ---- the sources: specs and bindings ----------------------------------------------

    def field_spec(self, rec: dsl.Record, f: HostField) -> List[str]:
        key = f"{rec.name}_{f.name}"
        out = []
        flags = [flag for flag, on in (("Optional", f.optional), ("Repeated", f.repeated),
                                       ("Derived", f.derived), ("Scaled", f.scale is not None),
                                       ("DoNotUse", f.dnu is not None)) if on]
        values = [cstr(field_class(rec, f)), str(rec.enum), str(f.index), f"Kind::{KINDS[f.kind]}",
                  str(f.width), str(f.role), " | ".join(flags) or "0"]
        # The rest in the order of RTCM3Field::Spec; trailing defaults are left out.
        rest = [cstr(f.unit), cdouble(f.scale) if f.scale is not None else "0.0",
                str(f.precision) if f.precision is not None else "-1",
                str(f.dnu) if f.dnu is not None else "0", "nullptr", "0", "nullptr"]
        if f.subfields:
            subs = ", ".join(f"&fieldOf<{field_class(rec, self.field_named(rec, s))}>"
                             for s in f.subfields)
            out.append(f"const FieldGetter kSubFields_{key}[] = {{{subs}}};")
            rest[4:6] = [f"kSubFields_{key}", str(len(f.subfields))]
        if f.kind == "sub":
            rest[6] = f"&descriptionOf<{info_class(f.sub)}>"
        defaults = ["nullptr", "0.0", "-1", "0", "nullptr", "0", "nullptr"]
        while rest and rest[-1] == defaults[len(rest) - 1]:
            rest.pop()
        out.append(f"constexpr Spec kField_{key} = {{{', '.join(values + rest)}}};")
        return out

    def field_named(self, rec: dsl.Record, name: str) -> HostField:
        return next(f for f in self.fields[rec.name] if f.name == name)

    def record_source(self, rec: dsl.Record) -> Tuple[List[str], List[str]]:
        """(specs in the anonymous namespace, bindings after it) of one record."""
        name, fields = rec.name, self.fields[rec.name]
        specs, bindings = [f"// ---- {name}"], []
        for f in fields:
            specs += self.field_spec(rec, f)
            cls = field_class(rec, f)
            bindings += self.description_bindings(cls, "RTCM3FieldInfo", f"kField_{name}_{f.name}")
        specs.append(f"const FieldGetter kFields_{name}[] = {{\n" +
                     "".join(f"    &fieldOf<{field_class(rec, f)}>,\n" for f in fields) +
                     "};")
        if rec.is_message and rec.meta.get("text") is None:
            raise ValueError(f"{name}: a message needs its short descriptive text (text=)")
        specs.append(f"constexpr RTCM3Description::Spec kInfo_{name} = {{{cstr(info_class(name))}, "
                     f"{rec.enum}, kFields_{name}, {len(fields)}}};")
        nested = [f for f in fields if f.shape in ("embed", "group")]
        if nested:
            entries = ", ".join(f"{{{f.index}, &makeChild<{message_class(f.sub)}>}}" for f in nested)
            specs.append(f"const RTCM3NestedBlock kNested_{name}[] = {{{entries}}};")
        specs.append(f"constexpr RTCM3MessageClass kClass_{name} = {{{cstr(message_class(name))}, "
                     f"{rec.enum}, &descriptionOf<{info_class(name)}>, "
                     f"&releaseRecord<{record_type(name)}, &Kvt::Nuvrix::RTCM3_free_{name}_children>, "
                     f"{'kNested_' + name if nested else 'nullptr'}, {len(nested)}}};")
        info, msg = info_class(name), message_class(name)
        bindings += self.description_bindings(info, "RTCM3MessageInfo", f"kInfo_{name}")
        if rec.is_message:
            bindings.append(f"{msg}::{msg}(RecordType *record, bool ownsRepresentation)\n"
                            f"    : RTCM3MessageT(kClass_{name}, record, nullptr, ownsRepresentation) {{}}")
        else:
            bindings.append(f"{msg}::{msg}(RecordType *record, Message *parent, bool ownsRepresentation)\n"
                            f"    : RTCM3MessageT(kClass_{name}, record, parent, ownsRepresentation) {{}}")
        return specs, bindings

    @staticmethod
    def description_bindings(cls: str, base: str, spec: str) -> List[str]:
        return [f"{cls}::{cls}() : {base}({spec}) {{}}",
                f"const {cls} *{cls}::getInstance() {{ return getInstance_nonconst(); }}",
                f"{cls} *{cls}::getInstance_nonconst() {{ return RTCM3Instances::of<{cls}>(); }}"]

    def shard_of(self) -> Dict[str, int]:
        """Records split into contiguous shards of about equal numbers of fields, so that the
        sources build in parallel and none of them grows large."""
        records = self.nested_first()
        weights = [len(self.fields[r.name]) + 4 for r in records]
        total = sum(weights)
        out, done = {}, 0
        for r, w in zip(records, weights):
            out[r.name] = min(self.shards - 1, done * self.shards // total)
            done += w
        return out

    def shard_source(self, shard: int) -> str:
        shards = self.shard_of()
        specs, bindings = [], []
        for rec in self.nested_first():
            if shards[rec.name] == shard:
                s, b = self.record_source(rec)
                specs += s + [""]
                bindings += b + [""]
        out = [GENERATED, '#include "RTCM3_host.h"', "", '#include "RTCM3_Bindings.h"', "",
               "namespace {", "", "using namespace RTCM3Field;", "",
               "// Field specs: class, record, position, host kind and width, role, flags, then the",
               "// display unit, scale and precision, do-not-use value, sub-fields and nested",
               "// description where set.", ""]
        out += specs + ["} // namespace", ""] + bindings
        return "\n".join(out)

    def registry(self) -> str:
        out = [GENERATED, '#include "RTCM3_host.h"', "", '#include "RTCM3_Bindings.h"', "",
               "#include <iterator>", "", "namespace {", "",
               "// The order in which the format description registers its message descriptions.",
               "const RTCM3Registration kRegistrations[] = {"]
        for r in self.order:
            out.append(f"    {{&descriptionOf<{info_class(r.name)}>, "
                       f"{'false' if r.is_message else 'true'}}},")
        out += ["};", "", "// Indexed by enumerator; null where a record has no message class.",
                "const AdoptFn kAdopt[] = {", "    nullptr,"]
        host = {r.name for r in self.records}
        for r in self.all:
            out.append(f"    &adopt<{message_class(r.name)}>," if r.name in host else "    nullptr,")
        out += ["};", "", "// Indexed by enumerator; null where a record has no description.",
                "const MessageInfo *(*const kDescriptions[])() = {", "    nullptr,"]
        for r in self.all:
            out.append(f"    &descriptionOf<{info_class(r.name)}>," if r.name in host else "    nullptr,")
        out += ["};", "", "} // namespace", "",
                "const MessageInfo *RTCM3_messageInfoOf(qint32 enumerator)", "{",
                "    if (enumerator <= 0 || enumerator >= qint32(std::size(kDescriptions)) || !kDescriptions[enumerator])",
                "        return nullptr;",
                "    return kDescriptions[enumerator]();", "}", "",
                "RTCM3RegistrationTable RTCM3_registrationTable()", "{",
                "    return {kRegistrations, int(std::size(kRegistrations))};", "}", "",
                "std::unique_ptr<RTCM3Message> RTCM3_adoptRecord(Kvt::Nuvrix::RTCM3_kvtcg_header_s *record)",
                "{",
                "    const qint32 e = record ? record->kvtcg_message : 0;",
                "    if (e <= 0 || e >= qint32(std::size(kAdopt)) || !kAdopt[e])",
                "        return nullptr;",
                "    return kAdopt[e](record);", "}", ""]
        return "\n".join(out)

    def files(self) -> Dict[str, str]:
        out = {"RTCM3_host.h": self.header(), "RTCM3_host_registry.cpp": self.registry()}
        for k in range(self.shards):
            out[f"RTCM3_host_{k}.cpp"] = self.shard_source(k)
        return out
