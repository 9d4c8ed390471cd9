"""C++ backend: record types, layout tables and the one-line bindings of the codec.

Everything a record does is done by the hand-written layout walker; this backend only
states each record's shape as data and names the functions that bind to it."""

from typing import Dict, List, Optional, Tuple

from . import dsl, host, model, reflect
from .model import CTYPES

HEADER = [("Preamble", "u8", 8), ("Reserved", "u8", 6), ("Message_Length", "u16", 10),
          ("Message_Number", "u16", 12)]
# The categories that sub-records check their parent against, as rules over the list: a
# message with a simple header begins with the reference station's id (the MSM messages
# among them); an MSM or SSR message is one of that family.
CATEGORIES = {
    "simple": lambda r: bool(r.members) and r.members[0].name == "Reference_Station_ID",
    "msm": lambda r: r.family == "msm",
    "ssr": lambda r: r.family == "ssr",
}


def enumerator_ranges(records: List[dsl.Record], category: str) -> List[Tuple[int, int]]:
    """The runs of consecutive enumerators of the messages in the category."""
    out: List[List[int]] = []
    for e in sorted(r.enum for r in records if r.is_message and CATEGORIES[category](r)):
        if out and out[-1][1] == e - 1:
            out[-1][1] = e
        else:
            out.append([e, e])
    return [(a, b) for a, b in out]


def enable_bytes(records: List[dsl.Record]) -> int:
    """Bytes of the enable set: one bit per enumerator (0 included), and a byte more because
    the bit of enumerator e lies in byte (e + 1) / 8."""
    return (len(records) + 1 + 7) // 8 + 1


def _preds(p: Optional[dsl.Pred]):
    if p is None:
        return
    yield p
    for q in getattr(p, "preds", ()) + ((p.pred,) if isinstance(p, dsl.Not) else ()):
        yield from _preds(q)


def check(records: List[dsl.Record]) -> None:
    """What the generated code assumes of the list, checked before anything is written."""
    by_name = {r.name: r for r in records}
    for r in records:
        for m in r.members:
            sub = by_name.get(m.record) if m.kind in ("embed", "group") else None
            if sub and sub.parent and not (r.is_message and CATEGORIES[sub.parent](r)):
                raise ValueError(f"{r.name}.{m.name}: {sub.name} may only lie in a message of the "
                                 f"category {sub.parent}, and {r.name} is none")

    def levels_used(rec: dsl.Record) -> bool:
        for m in rec.members:
            widths = m.width.cases if isinstance(m.width, dsl.WidthRule) else ()
            for p in [m.when] + [c for c, _ in widths]:
                if any(isinstance(q, dsl.MsmLevel) for q in _preds(p)):
                    return True
            if m.kind in ("embed", "group") and levels_used(by_name[m.record]):
                return True
        return False
    for r in records:
        # The MSM level of a message is the last digit of its number (1071 is MSM1).
        if r.is_message and levels_used(r) and not (CATEGORIES["msm"](r) and 1 <= r.number % 10 <= 7):
            raise ValueError(f"{r.name}: msm_level() reads the MSM level from the last digit of the "
                             f"message number, and {r.number} is no MSM1 to MSM7 message")


def sname(rec: dsl.Record) -> str:
    return f"RTCM3_{rec.name}_s"


class Emitter:
    def __init__(self, records: List[dsl.Record], ns: str):
        check(records)
        self.records = records
        self.by_name = {r.name: r for r in records}
        self.ns = ns
        self.codes = model.error_codes(records)
        self.code = model.code_index(self.codes)
        self.helpers: List[str] = []
        self.helper_names: Dict[str, str] = {}
        reflect.check_keys(records)
        self.units = reflect.Emitter(records)

    # ---- helpers shared by several fields --------------------------------------------

    def _helper(self, key: str, make) -> str:
        if key not in self.helper_names:
            name = f"h{len(self.helper_names)}"
            self.helper_names[key] = name
            self.helpers.append(make(name))
        return self.helper_names[key]

    def symbols(self, items) -> Tuple[str, int]:
        if not items:
            return "nullptr", 0

        def make(name):
            rows = "".join(f"    {{{v}, {host.cstr(t)}}},\n" for v, t in items)
            return f"const layout::Symbol {name}[] = {{\n{rows}}};\n"
        return self._helper(f'symbols {items!r}', make), len(items)

    def pred_expr(self, p: dsl.Pred, rec: dsl.Record) -> str:
        if isinstance(p, dsl.MsgNumIn):
            return "(" + " || ".join(f"m == {n}" for n in p.numbers) + ")"
        if isinstance(p, dsl.MsgNumRange):
            return f"(m >= {p.lo} && m <= {p.hi})"
        if isinstance(p, dsl.MsmLevel):
            return "(" + " || ".join(f"m % 10 == {l}" for l in p.levels) + ")"
        if isinstance(p, dsl.FieldBit):
            return f"((r->{p.member} & {p.mask}u) != 0)"
        if isinstance(p, dsl.FieldAtMost):
            return f"(r->{p.member} <= {p.limit})"
        if isinstance(p, dsl.AllOf):
            return "(" + " && ".join(self.pred_expr(q, rec) for q in p.preds) + ")"
        if isinstance(p, dsl.AnyOf):
            return "(" + " || ".join(self.pred_expr(q, rec) for q in p.preds) + ")"
        if isinstance(p, dsl.Not):
            return "(!" + self.pred_expr(p.pred, rec) + ")"
        raise TypeError(p)

    @staticmethod
    def _uses_record(p: dsl.Pred) -> bool:
        if isinstance(p, (dsl.FieldBit, dsl.FieldAtMost)):
            return True
        if isinstance(p, (dsl.AllOf, dsl.AnyOf)):
            return any(Emitter._uses_record(q) for q in p.preds)
        if isinstance(p, dsl.Not):
            return Emitter._uses_record(p.pred)
        return False

    def presence(self, p: Optional[dsl.Pred], rec: dsl.Record) -> str:
        if p is None:
            return "nullptr"
        uses = self._uses_record(p)
        key = f"pred {rec.name if uses else ''} {p!r}"
        expr = self.pred_expr(p, rec)

        def make(name):
            body = (f"    const auto* r = static_cast<const {sname(rec)}*>(record);\n" if uses
                    else "    (void)record;\n")
            return (f"bool {name}(uint16_t m, const void* record)\n{{\n{body}"
                    f"    (void)m;\n    return {expr};\n}}\n")
        return self._helper(key, make)

    def width_fn(self, w: dsl.Width, rec: dsl.Record) -> str:
        if not isinstance(w, dsl.WidthRule):
            return "nullptr"
        key = f"width {w!r}"

        def make(name):
            lines = [f"uint8_t {name}(uint16_t m)\n{{"]
            for p, width in w.cases:
                lines.append(f"    if {self.pred_expr(p, rec)}\n        return {width};")
            lines.append(f"    return {w.default};\n}}\n")
            return "\n".join(lines)
        return self._helper(key, make)

    def derive_fn(self, rec: dsl.Record, trigger: str) -> str:
        computations = [m for m in rec.members if m.kind == "derived" and self.trigger(m) == trigger]
        if not computations:
            return "nullptr"
        members = {m.name: m for m in rec.members}
        body = []
        for m in computations:
            ctype = CTYPES[m.rec][0]
            c = m.compute
            if isinstance(c, dsl.Popcount):
                fn = "kvtcg_get_hammingweight_uint64" if members[c.source].rec in ("u64", "i64") \
                    else "kvtcg_get_hammingweight_uint32"
                expr = f"{fn}(r->{c.source})"
            elif isinstance(c, dsl.Product):
                expr = f"r->{c.a} * r->{c.b}"
            elif isinstance(c, dsl.CountOnes):
                expr = f"kvtcg_get_hammingweight_byte_array(r->{c.array}, static_cast<uint16_t>(elementsRead))"
            elif isinstance(c, dsl.SignMagnitude):
                expr = (f"{ctype}(r->{c.magnitude}) * {ctype}(1 - 2 * int(r->{c.sign})) * "
                        f"{ctype}({c.scale!r})")
            elif isinstance(c, dsl.BitOf):
                expr = f"(r->{c.source} >> {c.bit}) & 1u"
            elif isinstance(c, dsl.BitField):
                expr = f"(r->{c.source} >> {c.shift}) & {c.mask}u"
            elif isinstance(c, dsl.Offset):
                expr = f"r->{c.source} + {c.add}"
            elif isinstance(c, dsl.HarmonicTerms):
                # Degree n holds the orders 0 to min(n, M): the sine terms lack order 0.
                expr = ("[](uint32_t n, uint32_t o) { uint32_t t = 0; for (uint32_t k = 0; k <= n; ++k) "
                        f"t += (k < o ? k : o) + {0 if c.sine else 1}u; return t; }}(r->{c.degree} + 1u, r->{c.order} + 1u)")
            else:
                raise TypeError(c)
            body.append(f"    r->{m.name} = static_cast<{ctype}>({expr});")
        name = f"derive_{rec.name}_{trigger}"
        self.helpers.append(
            f"void {name}(void* record, uint32_t elementsRead)\n{{\n"
            f"    auto* r = static_cast<{sname(rec)}*>(record);\n    (void)elementsRead;\n"
            + "\n".join(body) + "\n}\n")
        return name

    @staticmethod
    def trigger(m: dsl.Member) -> str:
        c = m.compute
        if m.after:
            return m.after
        if isinstance(c, (dsl.Popcount, dsl.BitOf, dsl.BitField, dsl.Offset)):
            return c.source
        if isinstance(c, dsl.HarmonicTerms):
            return c.order
        if isinstance(c, dsl.CountOnes):
            return c.array
        if isinstance(c, dsl.SignMagnitude):
            return c.magnitude
        raise ValueError(f"derived {m.name} needs after=")

    # ---- record types ------------------------------------------------------------------

    def struct(self, rec: dsl.Record) -> str:
        lines = [f"struct {sname(rec)} {{",
                 "    _RTCM3_message_enum_t kvtcg_message;",
                 "    uint32_t kvtcg_bits;",
                 "    RTCM3_kvtcg_header_s* kvtcg_father;"]
        if rec.is_message:
            lines += [f"    {CTYPES[t][0]} {n};" for n, t, _ in HEADER]
        for m in rec.members:
            if m.kind in ("scalar", "derived"):
                lines.append(f"    {CTYPES[m.rec][0]} {m.name};")
            elif m.kind == "string":
                lines.append(f"    char {m.name}[{m.capacity + 1}];")
            elif m.kind == "array":
                lines.append(f"    {CTYPES[m.rec][0]} {m.name}[{m.capacity}];")
            elif m.kind == "embed":
                lines.append(f"    {sname(self.by_name[m.record])} {m.name};")
            elif m.kind == "group":
                lines.append(f"    {sname(self.by_name[m.record])}* {m.name};")
        if rec.is_message:
            lines.append("    uint8_t CRC[3];")
        lines.append("};")
        return "\n".join(lines)

    def layout_order(self) -> List[dsl.Record]:
        return model.nested_first(self.records)

    def struct_order(self) -> List[dsl.Record]:
        return model.nested_first(self.records, ("embed",))

    # ---- layout tables -----------------------------------------------------------------

    def embedding_parent(self, sub: str) -> dsl.Record:
        for r in self.records:
            if any(m.kind == "embed" and m.record == sub for m in r.members):
                return r
        raise ValueError(f"no record embeds {sub}")

    def field_row(self, rec: dsl.Record, m: dsl.Member, index: int, number: int = None) -> str:
        """The member's row; with number, its row in that message, where its scale differs."""
        S = sname(rec)
        kind = {"scalar": "Scalar", "string": "String", "array": "Array", "embed": "Embed",
                "group": "Group", "derived": "Derived"}[m.kind]
        ctype = {"embed": "Record", "group": "Ptr"}.get(m.kind) or CTYPES[m.rec][1]
        flags = []
        if m.wire == "i":
            flags.append("layout::Signed")
        if m.meta.get("reserved"):
            flags.append("layout::Reserved")
        if m.continue_on_error:
            flags.append("layout::ContinueOnError")
        count_off, count_type, fixed = "0", "CType::Record", 0
        if isinstance(m.count, str):
            flags.append("layout::CountIsMember")
            counter = next(c for c in rec.members if c.name == m.count)
            count_off, count_type = f"offsetof({S}, {m.count})", "CType::" + CTYPES[counter.rec][1]
        elif isinstance(m.count, dsl.ParentMember):
            flags.append("layout::CountInParent")
            parent = self.embedding_parent(rec.name)
            counter = next(c for c in parent.members if c.name == m.count.name)
            count_off = f"offsetof({sname(parent)}, {m.count.name})"
            count_type = "CType::" + CTYPES[counter.rec][1]
        elif isinstance(m.count, int):
            fixed = m.count
        flags += reflect.meaning_flags(m)
        numbered = m.kind in ("scalar", "string", "array")
        ext = self.code.get((rec.name, m.name, "EXT_BUFFER_OVERFLOW"), 0) if numbered else 0
        intc = self.code.get((rec.name, m.name, "INT_BUFFER_OVERFLOW"), 0)
        sub = f"&kLayout_{m.record}" if m.record else "nullptr"
        width = dsl.widest(m.width) if m.on_wire else 0
        derive = self.derive_fn(rec, m.name) if m.kind in ("scalar", "array") else "nullptr"
        if number is not None:
            near, far = reflect.meaning(rec, m, index, self.symbols, dsl.scale_for(m, number))
        else:
            extra = f"&kExtra_{rec.name}_{m.name}" if reflect.has_extra(m) else "nullptr"
            near, far = reflect.meaning(rec, m, index, self.symbols, extra=extra)
        return (f"    {{Kind::{kind}, CType::{ctype}, {width}, {' | '.join(flags) or '0'}, @RUN@, {count_type}, "
                f"{self.width_fn(m.width, rec) if m.on_wire else 'nullptr'}, "
                f"{self.presence(m.when, rec)}, offsetof({S}, {m.name}), {ext}, {intc}, "
                f"{count_off}, {fixed}, {m.capacity}, {near}, {sub}, {derive},\n"
                f"     {far}}},")

    @staticmethod
    def plain(m: Optional[dsl.Member], derives: set) -> bool:
        """A field that can join a run: fixed width, always present, triggers nothing."""
        return (m is None or (m.kind == "scalar" and m.when is None
                              and not isinstance(m.width, dsl.WidthRule) and m.name not in derives))

    def runs(self, rec: dsl.Record, fields) -> List[str]:
        """(runBits, runLength) of every row; fields are (member or None for header, width)."""
        derives = {self.trigger(m) for m in rec.members if m.kind == "derived"}
        out = []
        for k in range(len(fields)):
            bits = length = 0
            j = k
            while j < len(fields) and self.plain(fields[j][0], derives) and length < 255:
                bits += fields[j][1]
                length += 1
                j += 1
            out.append(f"{bits if length > 1 else 0}, {length if length > 1 else 1}")
        return out

    def extras(self, rec: dsl.Record, first: int, runs: List[str]) -> str:
        """What the rows of rarer meanings point at: the unit constants that hold a zero or
        parts, and the row in each message whose scale is not the default."""
        out = []
        for k, m in enumerate(rec.members):
            if not reflect.has_extra(m):
                continue
            tag = f"{rec.name}_{m.name}"
            cases = self.units.scale_cases(rec, m) if dsl.scale_rule(m) else []
            for number, _ in cases:
                row = self.field_row(rec, m, first + k, number).replace("@RUN@", runs[k]).strip().rstrip(",")
                out.append(f"constexpr Field kRow_{tag}_{number} = {row};")
            if cases:
                out.append(f"constexpr MessageRow kRows_{tag}[] = {{" +
                           ", ".join(f"{{{n}, &kRow_{tag}_{n}}}" for n, _ in cases) + "};")
            out.append(f"constexpr Extra kExtra_{tag} = {{&units::{rec.name}::{m.name}, "
                       f"{f'kRows_{tag}, {len(cases)}' if cases else 'nullptr, 0'}}};")
        return "\n".join(out) + ("\n" if out else "")

    @staticmethod
    def has_init_work(rec: dsl.Record) -> bool:
        return any(m.kind in ("derived", "string", "embed", "group") or m.meta.get("reserved")
                   or isinstance(m.count, str) for m in rec.members)

    def owns_arrays(self, rec: dsl.Record) -> bool:
        return any(m.kind == "group" or (m.kind == "embed" and self.owns_arrays(self.by_name[m.record]))
                   for m in rec.members)

    def layout(self, rec: dsl.Record) -> str:
        S = sname(rec)
        rows, fields = [], []
        if rec.is_message:
            for n, t, w in HEADER:
                ext = self.code[(rec.name, n, "EXT_BUFFER_OVERFLOW")]
                near, far = reflect.header_meaning(n)
                rows.append(f"    {{Kind::Scalar, CType::{CTYPES[t][1]}, {w}, 0, @RUN@, CType::Record, nullptr, nullptr, "
                            f"offsetof({S}, {n}), {ext}, 0, 0, 0, 0, {near}, nullptr, nullptr,\n"
                            f"     {far}}},")
                fields.append((None, w))
        first = len(rows)
        rows += [self.field_row(rec, m, first + k) for k, m in enumerate(rec.members)]
        fields += [(m, dsl.widest(m.width) if m.on_wire else 0) for m in rec.members]
        runs = self.runs(rec, fields)
        rows = [row.replace("@RUN@", run) for row, run in zip(rows, runs)]
        extras = self.extras(rec, first, runs[first:])
        check = {"msm": "checkMsmParent", "ssr": "checkSsrParent"}.get(rec.parent, "nullptr")
        if rec.is_message:
            msg = (f"{rec.number}, {rec.subtype if rec.subtype is not None else -1}, "
                   f"{self.code[(rec.name, 'CRC', 'EXT_BUFFER_OVERFLOW')]}, "
                   f"{self.code[(rec.name, '', 'CRC_CHECKSUM')]}, {self.code[(rec.name, '', 'DISABLED')]}, "
                   f"offsetof({S}, CRC)")
        else:
            msg = "0, -1, 0, 0, 0, 0"
        msg += ", true" if self.owns_arrays(rec) else ", false"
        msg += ", true" if self.has_init_work(rec) else ", false"
        return (extras + f"constexpr Field kFields_{rec.name}[] = {{\n" + "\n".join(rows) + "\n};\n"
                f"constexpr RecordLayout kLayout_{rec.name} = {{{model.enum_name(rec)}, sizeof({S}), "
                f"kFields_{rec.name}, {len(rows)}, {self.code[(rec.name, '', 'INTERNAL')]}, {check}, "
                f"{msg},\n    {host.cstr(rec.name)}, {host.cstr(host.display_name(rec))}, "
                f"{host.cstr(rec.meta.get('text'))}}};\n")

    # ---- function bindings --------------------------------------------------------------

    def functions(self, rec: dsl.Record):
        """(declaration, definition) pairs of every named function of the record."""
        S, L, n = sname(rec), f"kLayout_{rec.name}", rec.name
        out = [
            (f"int32_t RTCM3_init_{n}({S}* p)", f"return layout::initRecord({L}, p);"),
            (f"void RTCM3_free_{n}_children({S}* p)", f"layout::freeChildren({L}, p);"),
            (f"int32_t RTCM3_validate_{n}(const {S}* p)", "(void)p;\n    return RTCM3_ERR_NONE;"),
        ]
        if rec.is_message:
            out.append((f"int32_t RTCM3_encode_{n}(uint8_t* buffer, uint16_t size, {S}* p)",
                        f"return layout::encodeFrame({L}, buffer, size, p);"))
        offset = 4 if rec.is_message else 0
        for idx, m in enumerate(rec.members):
            if m.kind == "array":
                t = CTYPES[m.rec][0]
                out.append((f"int32_t RTCM3_memcpy_{n}_{m.name}({S}* p, const {t}* source, uint32_t count)",
                            f"return layout::copyArray(p->{m.name}, {m.capacity}, source, count);"))
            elif m.kind == "string":
                out.append((f"int32_t RTCM3_strcpy_{n}_{m.name}({S}* p, const char* source)",
                            f"return layout::copyString(p->{m.name}, {m.capacity}, &p->{m.count}, source);"))
            elif m.kind == "group" and isinstance(m.count, str):
                E = sname(self.by_name[m.record])
                out.append((f"{E}* RTCM3_append_{n}_{m.name}({S}* p)",
                            f"return static_cast<{E}*>(layout::appendElement({L}, "
                            f"kFields_{n}[{idx + offset}], p));"))
        if rec.is_message:
            out.append((f"int32_t RTCM3_memcpy_{n}_CRC({S}* p, const uint8_t* source, uint32_t count)",
                        "return layout::copyArray(p->CRC, 3, source, count);"))
        return out

    # ---- files ---------------------------------------------------------------------------

    def header(self) -> str:
        out = ["// Generated from the message list by kvtcg. Do not edit.", "#pragma once", "",
               "#include <cstddef>", "#include <cstdint>", "", "namespace Kvt::Nuvrix {", "",
               "enum _RTCM3_message_enum_t : int32_t {", "    RTCM3_MESSAGE_NULL = 0,"]
        out += [f"    {model.enum_name(r)} = {r.enum}," for r in self.records]
        out += ["};", "",
                f"constexpr int32_t RTCM3_LAST_ENUMERATOR = {len(self.records)};",
                "// The enable set of a context: the bit of enumerator e is in byte (e + 1) / 8.",
                f"constexpr std::size_t RTCM3_ENABLE_BYTES = {enable_bytes(self.records)};", "",
                "enum _RTCM3_error_enum_t : int32_t {"]
        out += [f"    {c.name} = {c.value}," for c in self.codes]
        out += ["};", "",
                "// The three members that begin every record.",
                "struct RTCM3_kvtcg_header_s {",
                "    _RTCM3_message_enum_t kvtcg_message;",
                "    uint32_t kvtcg_bits;",
                "    RTCM3_kvtcg_header_s* kvtcg_father;",
                "};", "",
                "#define RTCM3_AS_KVTCG_HEADER(p) ((::Kvt::Nuvrix::RTCM3_kvtcg_header_s*)(p))"]
        for cat in CATEGORIES:
            ranges = enumerator_ranges(self.records, cat)
            cond = " || ".join(f"(e >= {a} && e <= {b})" if a != b else f"e == {a}" for a, b in ranges)
            out += [f"inline bool RTCM3_is_{cat}_header(const RTCM3_kvtcg_header_s* h)",
                    "{", "    const int32_t e = h->kvtcg_message;", f"    return {cond};", "}",
                    f"#define RTCM3_IS_{cat.upper()}_HEADER(h) (::Kvt::Nuvrix::RTCM3_is_{cat}_header(h))"]
        out.append("")
        out += [f"struct {sname(r)};" for r in self.records]
        out.append("")
        for r in self.struct_order():
            out += [self.struct(r), ""]
        out += ["// The result of a decode: any message record; its header says which.",
                "union _RTCM3_message_t {", "    RTCM3_kvtcg_header_s header;"]
        out += [f"    {sname(r)} {r.name};" for r in self.records if r.is_message]
        out += ["};", "",
                "struct RTCM3_context_s {",
                "    uint8_t enabled[RTCM3_ENABLE_BYTES]; // one bit per enumerator",
                "    uint16_t unknown_message_number; // of the last frame that matched no message",
                "};", "",
                "void RTCM3_init_context(RTCM3_context_s* context);",
                "// Decodes one frame into result: the bits decoded, or a negative code. Whatever it",
                "// returns (success, unknown number, disabled, any error), result's header then names",
                "// what the record holds, and RTCM3_free_message_children(result) releases what it",
                "// owns: the arrays of its repeated groups, which a failed decode may own too. Release",
                "// the record once after each decode, before it takes the next frame.",
                "int32_t RTCM3_decode(RTCM3_context_s* context, const uint8_t* frame, uint16_t length,",
                "                     _RTCM3_message_t* result);",
                "const char* RTCM3_message_enum_to_string(int32_t value);",
                "// Any decoded message, by the enumerator in its header.",
                "int32_t RTCM3_encode_message(uint8_t* buffer, uint16_t size, _RTCM3_message_t* message);",
                "// Releases the arrays the record owns, by the enumerator in its header, and nulls their",
                "// pointers: safe after any result of RTCM3_decode, and a second call releases nothing.",
                "void RTCM3_free_message_children(_RTCM3_message_t* message);",
                "namespace layout { struct RecordLayout; }",
                "// The layout table of a record type; null outside 1 to the last enumerator.",
                "const layout::RecordLayout* RTCM3_layout(int32_t enumerator);",
                "const char* RTCM3_error_to_string(int32_t code);", ""]
        out += self.scalar_decode_declaration()
        for r in self.records:
            out += [d + ";" for d, _ in self.functions(r)]
        out += ["", "} // namespace Kvt::Nuvrix", ""]
        return "\n".join(out)

    def source(self) -> str:
        # Sub-records first, so that every table is defined before one that points at it
        # and the dispatch table can be built at compile time.
        layouts = [self.layout(r) for r in self.layout_order()]
        msgs = [r for r in self.records if r.is_message]
        plain = [r for r in msgs if r.subtype is None]
        subtyped = [r for r in msgs if r.subtype is not None]
        out = ["// Generated from the message list by kvtcg. Do not edit.",
               '#include "RTCM3_codec.h"', '#include "RTCM3_layout.h"', '#include "RTCM3_units.h"', '#include "kvtcg.h"', "",
               "namespace Kvt::Nuvrix {", "namespace {", "",
               "using layout::CType;", "using layout::Extra;", "using layout::Field;", "using layout::Kind;",
               "using layout::MessageRow;",
               "using layout::RecordLayout;", "",
               "// The structural checks of a sub-record's parent link.",
               "void checkMsmParent(const void* p)", "{",
               "    KVTCG_ASSERT(RTCM3_AS_KVTCG_HEADER(p)->kvtcg_father != NULL);",
               "    KVTCG_ASSERT(RTCM3_IS_SIMPLE_HEADER(RTCM3_AS_KVTCG_HEADER(p)->kvtcg_father));",
               "    KVTCG_ASSERT(RTCM3_IS_MSM_HEADER(RTCM3_AS_KVTCG_HEADER(p)->kvtcg_father));", "}", "",
               "void checkSsrParent(const void* p)", "{",
               "    KVTCG_ASSERT(RTCM3_AS_KVTCG_HEADER(p)->kvtcg_father != NULL);",
               "    KVTCG_ASSERT(RTCM3_IS_SSR_HEADER(RTCM3_AS_KVTCG_HEADER(p)->kvtcg_father));", "}", ""]
        out += self.helpers
        out += layouts
        out += ["// What the walker reads of a row fills one cache line, the row two.",
                "static_assert(offsetof(Field, name) == 64 && sizeof(Field) == 128, \"rows of two cache lines\");"]
        # The header of every message lies where the walker expects it.
        for r in msgs:
            S = sname(r)
            out.append(f"static_assert(offsetof({S}, Message_Number) == layout::kMessageNumberOffset "
                       f"&& offsetof({S}, Preamble) == layout::kPreambleOffset, \"{r.name} header\");")
            if r.subtype is not None:
                out.append(f"static_assert(offsetof({S}, {r.members[0].name}) == layout::kFirstMemberOffset, "
                           f"\"{r.name} sub-type\");")
        out += ["", "struct NumberTable {", "    const RecordLayout* byNumber[4096];", "};",
                "constexpr NumberTable makeNumberTable()", "{", "    NumberTable t{};",
                "    const RecordLayout* const all[] = {"]
        out += [f"        &kLayout_{r.name}," for r in plain]
        out += ["    };", "    for (const RecordLayout* l : all)",
                "        t.byNumber[l->messageNumber] = l;", "    return t;", "}",
                "constexpr NumberTable kNumbers = makeNumberTable();",
                "const RecordLayout* const kSubtyped[] = {"]
        out += [f"    &kLayout_{r.name}," for r in subtyped]
        sub_number = subtyped[0].number if subtyped else 0
        out += ["    nullptr,", "};",
                f"const layout::Dispatch kDispatch = {{kNumbers.byNumber, kSubtyped, {sub_number}, "
                "RTCM3_ERR_INVALID_MESSAGE};", "",
                "const int32_t kMessageEnumerators[] = {"]
        out += [f"    {model.enum_name(r)}," for r in msgs]
        out += ["};", "", "const RecordLayout* const kByEnumerator[] = {", "    nullptr,"]
        out += [f"    &kLayout_{r.name}," for r in self.records]
        out += ["};", "", "} // namespace", "",
                "const RecordLayout* RTCM3_layout(int32_t enumerator)", "{",
                f"    return enumerator > 0 && enumerator <= {len(self.records)} ? kByEnumerator[enumerator] : nullptr;",
                "}", "",
                "int32_t RTCM3_encode_message(uint8_t* buffer, uint16_t size, _RTCM3_message_t* message)", "{",
                "    const RecordLayout* l = RTCM3_layout(message->header.kvtcg_message);",
                "    return l && l->messageNumber ? layout::encodeFrame(*l, buffer, size, message) : RTCM3_ERR_INVALID_MESSAGE;",
                "}", "",
                "void RTCM3_free_message_children(_RTCM3_message_t* message)", "{",
                "    if (const RecordLayout* l = RTCM3_layout(message->header.kvtcg_message))",
                "        layout::freeChildren(*l, message);",
                "}", "",
                "void RTCM3_init_context(RTCM3_context_s* context)", "{",
                "    for (uint8_t& b : context->enabled)", "        b = 0;",
                "    for (int32_t e : kMessageEnumerators)",
                "        layout::setEnabled(context->enabled, e, true);",
                "    context->unknown_message_number = 0;", "}", "",
                "int32_t RTCM3_decode(RTCM3_context_s* context, const uint8_t* frame, uint16_t length,",
                "                     _RTCM3_message_t* result)", "{",
                "    return layout::decodeFrame(kDispatch, context ? context->enabled : nullptr,",
                "                               context ? &context->unknown_message_number : nullptr,",
                "                               frame, length, result);", "}", ""]
        out += self.scalar_decode_definition()
        for r in self.records:
            for decl, body in self.functions(r):
                out += [decl, "{", f"    {body}", "}", ""]
        out += ["} // namespace Kvt::Nuvrix", ""]
        return "\n".join(out)

    # A decode for readers of headers (station, epoch, counts): the same result as
    # RTCM3_decode, without the numeric arrays.
    @staticmethod
    def scalar_decode_declaration() -> List[str]:
        return ["// RTCM3_decode for readers of scalars: the same result, the same scalars, strings and",
                "// masks, but numeric arrays keep whatever they held before and repeated groups are",
                "// read without being kept (their pointers are null, their counts set). Much quicker",
                "// on observation messages, and no allocation; free the record as after RTCM3_decode.",
                "int32_t RTCM3_decode_scalars(RTCM3_context_s* context, const uint8_t* frame, uint16_t length,",
                "                             _RTCM3_message_t* result);", ""]

    @staticmethod
    def scalar_decode_definition() -> List[str]:
        return ["int32_t RTCM3_decode_scalars(RTCM3_context_s* context, const uint8_t* frame, uint16_t length,",
                "                             _RTCM3_message_t* result)", "{",
                "    return layout::decodeFrame(kDispatch, context ? context->enabled : nullptr,",
                "                               context ? &context->unknown_message_number : nullptr,",
                "                               frame, length, result, layout::Depth::Scalars);", "}", ""]

    def names(self) -> str:
        enum_names = ["RTCM3_MESSAGE_NULL"] + [model.enum_name(r) for r in self.records]
        errors = sorted((c for c in self.codes if c.value < 0), key=lambda c: c.value)
        out = ["// Generated from the message list by kvtcg. Do not edit.",
               '#include "RTCM3_codec.h"', "", "namespace Kvt::Nuvrix {", "namespace {", "",
               "const char* const kEnumNames[] = {"]
        out += [f'    "{n}",' for n in enum_names]
        out += ["};", "", "// Indexed by code + " + str(-errors[0].value) + ".",
                "const char* const kErrorNames[] = {"]
        out += [f'    "{c.name}",' for c in errors]
        out += ["};", "", "} // namespace", "",
                "const char* RTCM3_message_enum_to_string(int32_t value)", "{",
                f"    if (value < 0 || value >= {len(enum_names)})", '        return "???";',
                "    return kEnumNames[value];", "}", "",
                "const char* RTCM3_error_to_string(int32_t code)", "{",
                "    if (code >= 0)", '        return "RTCM3_ERR_NONE";',
                f"    if (code < {errors[0].value})", '        return "???";',
                f"    return kErrorNames[code + {-errors[0].value}];", "}", "",
                "} // namespace Kvt::Nuvrix", ""]
        return "\n".join(out)
