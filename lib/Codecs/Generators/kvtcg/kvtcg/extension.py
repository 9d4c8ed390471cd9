"""The second message list: records that the core dispatch does not know, built by the same
backends into tables of their own. The core's enumerators, error codes and decode stay as
they are; extension records number their enumerators and codes on after the core's, and a
hand-written entry point picks their layouts from the selection table emitted here: by
message number, by a sub-type member (4076), or, for a variant of a core message, on
request only."""

from typing import Dict, List, Tuple

from . import dsl, model
from .codec import Emitter as CodecEmitter, sname

GENERATED = "// Generated from the extension message list by kvtcg. Do not edit."


def selector(rec: dsl.Record) -> Tuple[int, int, int]:
    """(bit position, width, value) of the member that tells the record from others of its
    number, or (0, 0, -1) where the number alone does."""
    if "select" not in rec.meta:
        return 0, 0, -1
    name, value = rec.meta["select"]
    position = 36
    for m in rec.members:
        if m.name == name:
            return position, dsl.widest(m.width), value
        if m.kind != "scalar" or m.when is not None or isinstance(m.width, dsl.WidthRule):
            break
        position += m.width
    raise ValueError(f"{rec.name}: select member {name} must follow fixed members only")


class CodecExtension(CodecEmitter):
    def __init__(self, records: List[dsl.Record], core: List[dsl.Record], ns: str):
        super().__init__(records, ns)
        core_codes = model.error_codes(core)
        self.codes = model.error_codes(records, min(c.value for c in core_codes) - 1)
        self.code = model.code_index(self.codes)
        self.core_numbers = {r.number for r in core if r.is_message}

    def functions(self, rec: dsl.Record):
        out = super().functions(rec)
        if "select" in rec.meta:
            # Init names the sub-type, so that a record built from scratch encodes as itself.
            name, value = rec.meta["select"]
            decl, _ = out[0]
            out[0] = (decl, f"layout::initRecord(kLayout_{rec.name}, p);\n    p->{name} = {value};\n    return 0;")
        return out

    def header(self) -> str:
        msgs = [r for r in self.records if r.is_message]
        out = [GENERATED, "#pragma once", "", '#include "RTCM3_codec.h"', "",
               "namespace Kvt::Nuvrix {", "",
               f"constexpr int32_t RTCM3_EXT_FIRST_ENUMERATOR = {self.records[0].enum};",
               f"constexpr int32_t RTCM3_EXT_LAST_ENUMERATOR = {self.records[-1].enum};",
               "enum _RTCM3_ext_message_enum_t : int32_t {"]
        out += [f"    {model.enum_name(r)} = {r.enum}," for r in self.records]
        out += ["};", "", "enum _RTCM3_ext_error_enum_t : int32_t {"]
        out += [f"    {c.name} = {c.value}," for c in self.codes]
        out += ["};", f"constexpr int32_t RTCM3_EXT_LAST_ERROR = {self.codes[-1].value};", ""]
        out += [f"struct {sname(r)};" for r in self.records]
        out.append("")
        for r in self.struct_order():
            out += [self.struct(r), ""]
        out += ["// An extension message decodes into the core's result record."]
        out += [f"static_assert(sizeof({sname(r)}) <= sizeof(_RTCM3_message_t), \"{r.name}\");" for r in msgs]
        out += ["",
                "// How the extension entry point finds a message's layout: by its number and, where",
                "// width is not 0, by the value of the width bits at position; a variant of a core",
                "// message is tried only on request.",
                "struct RTCM3_ext_selection_s {",
                "    const layout::RecordLayout* layout;",
                "    uint16_t number;",
                "    uint16_t position;",
                "    uint8_t width;",
                "    int32_t value;",
                "    bool variant;",
                "};",
                "// Null-terminated (layout null).",
                "extern const RTCM3_ext_selection_s RTCM3_ext_selections[];",
                "// The layout of an extension record; null outside the extension's enumerators.",
                "const layout::RecordLayout* RTCM3_ext_layout(int32_t enumerator);",
                "const char* RTCM3_ext_enum_to_string(int32_t value);",
                "const char* RTCM3_ext_error_to_string(int32_t code);", ""]
        for r in self.records:
            out += [d + ";" for d, _ in self.functions(r)]
        out += ["", "} // namespace Kvt::Nuvrix", ""]
        return "\n".join(out)

    def source(self) -> str:
        layouts = [self.layout(r) for r in self.layout_order()]
        msgs = [r for r in self.records if r.is_message]
        first = self.records[0].enum
        errors = sorted(self.codes, key=lambda c: -c.value)
        out = [GENERATED, '#include "RTCM3_ext_codec.h"', '#include "RTCM3_layout.h"', '#include "kvtcg.h"',
               "", "namespace Kvt::Nuvrix {", "namespace {", "",
               "using layout::CType;", "using layout::Field;", "using layout::Kind;",
               "using layout::RecordLayout;", ""]
        out += self.helpers + layouts
        for r in msgs:
            out.append(f"static_assert(offsetof({sname(r)}, Message_Number) == layout::kMessageNumberOffset "
                       f"&& offsetof({sname(r)}, Preamble) == layout::kPreambleOffset, \"{r.name} header\");")
        out += ["", "const RecordLayout* const kByEnumerator[] = {"]
        out += [f"    &kLayout_{r.name}," for r in self.records]
        out += ["};", "", "const char* const kEnumNames[] = {"]
        out += [f'    "{model.enum_name(r)}",' for r in self.records]
        out += ["};", "", f"// Indexed by {errors[0].value} - code.", "const char* const kErrorNames[] = {"]
        out += [f'    "{c.name}",' for c in errors]
        out += ["};", "", "} // namespace", "", "const RTCM3_ext_selection_s RTCM3_ext_selections[] = {"]
        for r in msgs:
            position, width, value = selector(r)
            variant = "true" if r.number in self.core_numbers else "false"
            out.append(f"    {{&kLayout_{r.name}, {r.number}, {position}, {width}, {value}, {variant}}},")
        out += ["    {nullptr, 0, 0, 0, -1, false},", "};", "",
                "const RecordLayout* RTCM3_ext_layout(int32_t enumerator)", "{",
                f"    return enumerator >= {first} && enumerator <= {self.records[-1].enum} "
                f"? kByEnumerator[enumerator - {first}] : nullptr;", "}", "",
                "const char* RTCM3_ext_enum_to_string(int32_t value)", "{",
                f"    return value >= {first} && value <= {self.records[-1].enum} "
                f"? kEnumNames[value - {first}] : \"???\";", "}", "",
                "const char* RTCM3_ext_error_to_string(int32_t code)", "{",
                f"    return code <= {errors[0].value} && code >= {errors[-1].value} "
                f"? kErrorNames[{errors[0].value} - code] : \"???\";", "}", ""]
        for r in self.records:
            for decl, body in self.functions(r):
                out += [decl, "{", f"    {body}", "}", ""]
        out += ["} // namespace Kvt::Nuvrix", ""]
        return "\n".join(out)


def files(core: List[dsl.Record], messages_dir: str) -> Dict[str, str]:
    """The generated sources of the extension list in messages_dir."""
    records = model.load_extension(messages_dir, len(core) + 1)
    codec = CodecExtension(records, core, "Kvt::Nuvrix")
    header = codec.header()
    return {"RTCM3_ext_codec.h": header, "RTCM3_ext_codec.cpp": codec.source()}
