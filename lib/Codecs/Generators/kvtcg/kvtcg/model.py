"""Loads a message list and derives what every backend shares: the record order,
the member names, and the numbering of the error codes."""

import importlib.util
import os
import sys
from dataclasses import dataclass
from typing import Dict, List, Tuple

from . import dsl

# Record member type -> (C++ type, layout type name).
CTYPES = {
    "u8": ("uint8_t", "U8"), "u16": ("uint16_t", "U16"), "u32": ("uint32_t", "U32"),
    "u64": ("uint64_t", "U64"), "i8": ("int8_t", "I8"), "i16": ("int16_t", "I16"),
    "i32": ("int32_t", "I32"), "i64": ("int64_t", "I64"), "f32": ("float", "F32"),
    "f64": ("double", "F64"), "char": ("char", "Char"),
}
HEADER_MEMBERS = ("Preamble", "Reserved", "Message_Length", "Message_Number")


def load(messages_dir: str) -> List[dsl.Record]:
    """Runs every list file of the folder and returns the records in enumerator order."""
    dsl.REGISTRY.clear()
    sys.path.insert(0, messages_dir)
    try:
        for fname in sorted(os.listdir(messages_dir)):
            if fname.endswith(".py") and not fname.startswith("_"):
                path = os.path.join(messages_dir, fname)
                spec = importlib.util.spec_from_file_location("msglist_" + fname[:-3], path)
                module = importlib.util.module_from_spec(spec)
                spec.loader.exec_module(module)
    finally:
        sys.path.pop(0)
    records = sorted(dsl.REGISTRY, key=lambda r: r.enum)
    check(records)
    return records


def load_extension(messages_dir: str, first: int) -> List[dsl.Record]:
    """The records of a second list, whose enumerators run on from first."""
    dsl.REGISTRY.clear()
    # The core list's folder too: its shared member builders (_*.py) serve both lists.
    sys.path[0:0] = [messages_dir, os.path.dirname(os.path.normpath(messages_dir))]
    try:
        for fname in sorted(os.listdir(messages_dir)):
            if fname.endswith(".py") and not fname.startswith("_"):
                spec = importlib.util.spec_from_file_location(
                    "extlist_" + fname[:-3], os.path.join(messages_dir, fname))
                spec.loader.exec_module(importlib.util.module_from_spec(spec))
    finally:
        del sys.path[0:2]
    records = sorted(dsl.REGISTRY, key=lambda r: r.enum)
    check(records, first)
    return records


def check(records: List[dsl.Record], first: int = 1) -> None:
    enums = [r.enum for r in records]
    if enums != list(range(first, first + len(records))):
        missing = sorted(set(range(first, max(enums, default=0) + 1)) - set(enums))
        dupes = sorted({e for e in enums if enums.count(e) > 1})
        raise ValueError(f"enumerators must run 1..N: missing {missing}, duplicated {dupes}")
    by_name = {r.name: r for r in records}
    for r in records:
        names = [m.name for m in r.members]
        if len(set(names)) != len(names):
            raise ValueError(f"{r.name}: duplicate member names")
        for m in r.members:
            if m.kind in ("embed", "group") and m.record not in by_name:
                raise ValueError(f"{r.name}.{m.name}: unknown sub-record {m.record}")
            if isinstance(m.count, str):
                # A wire count is read before what it counts; a derived one is computed
                # from earlier members wherever the host lists it.
                counter = next((c for c in r.members if c.name == m.count), None)
                earlier = m.count in names[:names.index(m.name)]
                if counter is None or not (earlier or counter.kind == "derived"):
                    raise ValueError(f"{r.name}.{m.name}: count {m.count} is not an earlier member")


def nested_first(records: List[dsl.Record], kinds=("embed", "group")) -> List[dsl.Record]:
    """Every record after the records it nests through members of the given kinds, so that a
    definition precedes its use: tables that point at sub-tables, structs that hold others by
    value (kinds=("embed",)), classes whose getters return nested ones."""
    by_name = {r.name: r for r in records}
    done, order = set(), []

    def visit(r):
        if r.name in done:
            return
        done.add(r.name)
        for m in r.members:
            if m.kind in kinds and m.record in by_name:
                visit(by_name[m.record])
        order.append(r)
    for r in records:
        visit(r)
    return order


def enum_name(rec: dsl.Record) -> str:
    return "RTCM3_" + rec.name.upper()


@dataclass
class Code:
    value: int
    name: str
    record: str = ""
    member: str = ""
    kind: str = ""


def numbered_members(rec: dsl.Record) -> List[Tuple[str, str]]:
    """(member name, kind of member) in wire order for the error numbering."""
    out: List[Tuple[str, str]] = []
    if rec.is_message:
        out += [(h, "scalar") for h in HEADER_MEMBERS]
    for m in rec.members:
        if m.kind == "derived" or not m.numbered:
            continue
        out.append((m.name, m.kind))
    if rec.is_message:
        out.append(("CRC", "crc"))
    return out


def error_codes(records: List[dsl.Record], first: int = 0) -> List[Code]:
    """The codes of a list; a second list numbers its own from first on, below the first's."""
    codes = [] if first else [Code(0, "RTCM3_ERR_NONE"), Code(-1, "RTCM3_ERR_INVALID_CRC")]
    value = first or -2

    def add(rec, member, kind):
        nonlocal value
        prefix = "RTCM3_ERR_" + rec.name.upper() + "_"
        name = prefix + (member.upper() + "_" if member else "") + kind
        codes.append(Code(value, name, rec.name, member, kind))
        value -= 1

    for rec in records:
        members = numbered_members(rec)
        for idx, (mname, kind) in enumerate(members):
            if kind in ("embed", "group"):
                add(rec, mname, "SIZE_UNDERFLOW")
                continue
            add(rec, mname, "EXT_BUFFER_OVERFLOW")
            if kind in ("string", "array"):
                add(rec, mname, "INT_BUFFER_OVERFLOW")
            if idx == len(members) - 1:
                add(rec, mname, "SIZE_UNDERFLOW")
        add(rec, "", "INTERNAL")
        if rec.is_message:
            add(rec, "", "CRC_CHECKSUM")
    for rec in records:
        if rec.is_message:
            add(rec, "", "DISABLED")
    add_single = [] if first else [("RTCM3_ERR_INVALID_MESSAGE",), ("RTCM3_ERR_EOF",)]
    for (name,) in add_single:
        codes.append(Code(value, name))
        value -= 1
    return codes


def code_index(codes: List[Code]) -> Dict[Tuple[str, str, str], int]:
    """(record, member, kind) -> value."""
    return {(c.record, c.member, c.kind): c.value for c in codes if c.record}
