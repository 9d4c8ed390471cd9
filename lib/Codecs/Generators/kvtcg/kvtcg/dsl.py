"""The vocabulary of a message list.

A message list file builds records out of members with the functions below; every
record it declares lands in the registry that the generator reads. Members are given
in wire order, which is also the record's member order and the host's field order.

Widths and presence may depend on the message at hand (a 27- or 30-bit epoch, a field
present only for GLONASS): say so with a small named predicate, never with code.
"""

import math
from dataclasses import dataclass, field as dc_field
from decimal import Decimal
from typing import Dict, List, Optional, Tuple, Union

# --------------------------------------------------------------------------------------
# Predicates over the message number of the frame (and, for masks, the record itself).

class Pred:
    def __and__(self, other): return AllOf((self, other))
    def __or__(self, other): return AnyOf((self, other))
    def __invert__(self): return Not(self)


@dataclass(frozen=True)
class MsgNumIn(Pred):
    numbers: Tuple[int, ...]


@dataclass(frozen=True)
class MsgNumRange(Pred):
    lo: int
    hi: int


@dataclass(frozen=True)
class MsmLevel(Pred):
    """The MSM level of the message: message number modulo 10."""
    levels: Tuple[int, ...]


@dataclass(frozen=True)
class FieldBit(Pred):
    """A bit of an earlier member of the same record is set (mask-driven presence)."""
    member: str
    mask: int


@dataclass(frozen=True)
class FieldAtMost(Pred):
    """An earlier member of the same record holds at most this value."""
    member: str
    limit: int


@dataclass(frozen=True)
class AllOf(Pred):
    preds: Tuple[Pred, ...]


@dataclass(frozen=True)
class AnyOf(Pred):
    preds: Tuple[Pred, ...]


@dataclass(frozen=True)
class Not(Pred):
    pred: Pred


def msgnum_in(*numbers: int) -> Pred:
    return MsgNumIn(tuple(numbers))


def msgnum_range(lo: int, hi: int) -> Pred:
    return MsgNumRange(lo, hi)


def msm_level(*levels: int) -> Pred:
    return MsmLevel(tuple(levels))


def field_bit(member: str, mask: int) -> Pred:
    return FieldBit(member, mask)


def field_at_most(member: str, limit: int) -> Pred:
    return FieldAtMost(member, limit)


# --------------------------------------------------------------------------------------
# Widths that depend on the message.

@dataclass(frozen=True)
class WidthRule:
    default: int
    cases: Tuple[Tuple[Pred, int], ...]

    @property
    def widest(self) -> int:
        return max([self.default] + [w for _, w in self.cases])


def widths(default: int, *cases: Tuple[Pred, int]) -> WidthRule:
    """widths(30, (GLONASS, 27)): the first matching case wins, else the default."""
    return WidthRule(default, tuple(cases))


Width = Union[int, WidthRule]


def widest(w: Width) -> int:
    return w.widest if isinstance(w, WidthRule) else w


@dataclass(frozen=True)
class ScaleRule:
    default: float
    cases: Tuple[Tuple[Pred, float], ...]


def scales(default, *cases) -> ScaleRule:
    """si=(scales(LIGHT_MS, (GLONASS, 2 * LIGHT_MS)), "m"): a scale that depends on the message
    number, for a sub-record that several messages share; the first matching case wins."""
    return ScaleRule(default, tuple(cases))


# --------------------------------------------------------------------------------------
# Derived members: computed by the decoder after a trigger member was read; never encoded.

@dataclass(frozen=True)
class Popcount:
    source: str                     # the mask member; trigger


@dataclass(frozen=True)
class Product:
    a: str
    b: str                          # kept to the derived member's type


@dataclass(frozen=True)
class CountOnes:
    array: str                      # ones among the elements read; trigger


@dataclass(frozen=True)
class SignMagnitude:
    sign: str                       # the _SB member read just before
    magnitude: str                  # trigger
    scale: float


@dataclass(frozen=True)
class BitOf:
    source: str                     # trigger
    bit: int


@dataclass(frozen=True)
class BitField:
    source: str                     # trigger
    shift: int
    mask: int


@dataclass(frozen=True)
class Offset:
    source: str                     # a count sent as one less than it is; trigger
    add: int


@dataclass(frozen=True)
class HarmonicTerms:
    """Coefficients of a spherical harmonic expansion of degree and order each sent as one
    less than it is: the cosine terms (m from 0) or the sine terms (m from 1)."""
    degree: str
    order: str                      # trigger
    sine: bool


def popcount(source): return Popcount(source)
def product(a, b): return Product(a, b)
def count_ones(array): return CountOnes(array)
def sign_magnitude(sign, magnitude, scale): return SignMagnitude(sign, magnitude, float(scale))
def bit_of(source, bit): return BitOf(source, bit)
def bitfield(source, shift, mask): return BitField(source, shift, mask)
def offset(source, add): return Offset(source, add)
def harmonic_terms(degree, order, sine): return HarmonicTerms(degree, order, sine)


@dataclass(frozen=True)
class ParentMember:
    """A count held by the record that contains this one (MSM arrays count Nsat or Ncell)."""
    name: str


def parent(name: str) -> ParentMember:
    return ParentMember(name)


# --------------------------------------------------------------------------------------
# Members.

RECORD_TYPES = ("u8", "u16", "u32", "u64", "i8", "i16", "i32", "i64", "f32", "f64", "char")

# Host metadata every member may carry (unused by the codec, read by the descriptions).
META_KEYS = {"display", "host", "scale", "unit", "symbols", "dnu", "optional", "repeated",
             "virtual", "role", "precision", "subfields", "reserved", "si", "invalid", "utf8",
             "zero", "parts"}


@dataclass
class Member:
    name: str
    kind: str                       # scalar | string | array | embed | group | derived
    wire: Optional[str] = None      # u | i | bits | chars
    width: Width = 0
    rec: Optional[str] = None       # record type of the member (element type for arrays)
    when: Optional[Pred] = None     # presence; None = always
    count: Union[None, str, int, ParentMember] = None
    capacity: int = 0
    record: Optional[str] = None    # sub-record name, for embed and group
    numbered: bool = True           # has error-code names of its own
    continue_on_error: bool = False # group failures record a code and go on (1023/1024 grid)
    compute: object = None          # derived members
    after: Optional[str] = None     # trigger of a derived member when not implied
    meta: Dict[str, object] = dc_field(default_factory=dict)

    @property
    def on_wire(self) -> bool:
        return self.kind != "derived"


def _meta(name: str, kw: dict) -> dict:
    unknown = set(kw) - META_KEYS
    if unknown:
        raise TypeError(f"{name}: unknown metadata {sorted(unknown)}")
    return dict(kw)


def _smallest(wire: str, bits: int) -> str:
    for size in (8, 16, 32, 64):
        if bits <= size:
            return ("i" if wire == "i" else "u") + str(size)
    raise ValueError(f"width {bits} does not fit 64 bits")


def _scalar(wire, name, width, rec=None, when=None, **meta) -> Member:
    rec = rec or _smallest(wire, widest(width))
    return Member(name, "scalar", wire=wire, width=width, rec=rec, when=when, meta=_meta(name, meta))


def u(name: str, width: Width, rec: str = None, when: Pred = None, **meta) -> Member:
    """Unsigned binary number."""
    return _scalar("u", name, width, rec, when, **meta)


def i(name: str, width: Width, rec: str = None, when: Pred = None, **meta) -> Member:
    """Two's complement number, sign-extended into its record type."""
    return _scalar("i", name, width, rec, when, **meta)


def bits(name: str, width: Width, rec: str = None, when: Pred = None, **meta) -> Member:
    """Raw bit pattern (flag or code), right-aligned in its record type."""
    return _scalar("bits", name, width, rec, when, **meta)


def string(name: str, count: str, capacity: int = 31, when: Pred = None, **meta) -> Member:
    """count characters of 8 bits after the count member; held NUL-terminated in char[capacity+1]."""
    return Member(name, "string", wire="chars", width=8, rec="char", count=count,
                  capacity=capacity, when=when, meta=_meta(name, meta))


def array(name: str, wire: str, width: Width, count, capacity: int, rec: str = None,
          when: Pred = None, **meta) -> Member:
    """A fixed-capacity array held inside the record; count is a member of this record,
    parent("X") for a member of the containing record, or a fixed number."""
    rec = rec or _smallest(wire, widest(width))
    return Member(name, "array", wire=wire, width=width, rec=rec, count=count,
                  capacity=capacity, when=when, meta=_meta(name, meta))


def embed(name: str, record: str, numbered: bool = True, **meta) -> Member:
    """A sub-record held by value; its parent link points at this record."""
    return Member(name, "embed", record=record, numbered=numbered, meta=_meta(name, meta))


def group(name: str, record: str, count, continue_on_error: bool = False, **meta) -> Member:
    """A repeated group: a heap array of sub-records owned by this record, sized by the
    count member read before it (or a fixed number)."""
    return Member(name, "group", record=record, count=count,
                  continue_on_error=continue_on_error, meta=_meta(name, meta))


def derived(name: str, rec: str, compute, after: str = None, **meta) -> Member:
    """A member not on the wire, computed by the decoder once its trigger member was read."""
    return Member(name, "derived", rec=rec, compute=compute, after=after, meta=_meta(name, meta))


# --------------------------------------------------------------------------------------
# Physical meaning. The host description shows a field with its own scale and unit, which the
# host contract fixes; the physical value is stated apart: si=(scale, unit) gives raw times
# scale in SI units (or in the unit named, where SI has none, such as dB-Hz; None for a bare
# number), invalid= the raw value that means "no value" (the do-not-use value by default).
# Where a field states no si but the host shows it scaled, the physical value follows from
# the host's unit below. Two rarer shapes:
# - zero=7: the raw value that means zero (a GLONASS frequency channel is sent plus 7); the
#   value is raw less zero, times the scale;
# - parts=(("Hours", 5, 3600), ...): a field packed of parts, most significant first, each of
#   its width and worth that many steps of the scale; the value is the sum.

LIGHT_MS = 299792.458       # metres light travels in one millisecond: MSM ranges are in ms
# Radians in a semicircle as the interface documents of the broadcast messages fix pi, which
# receivers use to turn the broadcast angles into radians.
SEMICIRCLE = "3.1415926535898"

HOST_UNIT_SI = {
    "meter": (1, "m"), "millimeter": ("0.001", "m"), "kilometer": (1000, "m"),
    "millimeterpersecond": ("0.001", "m/s"), "kilometerpersecond": (1000, "m/s"),
    "millimeterpersecondsquared": ("0.001", "m/s^2"), "kilometerpersecondsquared": (1000, "m/s^2"),
    "second": (1, "s"), "minute": (60, "s"), "secondpersecond": (1, "s/s"),
    "secondpersecondsquared": (1, "s/s^2"), "radian": (1, "rad"),
    "semicircle": (SEMICIRCLE, "rad"), "semicirclepersecond": (SEMICIRCLE, "rad/s"),
    "metersqrt": (1, "m^0.5"),
}

# Units outside SI put their name into the member's JSON key: CNR_dBHz.
NON_SI_KEYS = {"dB-Hz": "dBHz", "TECU": "TECU", "arcsec": "arcsec", "arcsec/yr": "arcsec_per_yr",
               "ppm": "ppm", "ppm/yr": "ppm_per_yr", "m/yr": "m_per_yr", "yr": "yr", "d": "d"}


def _times(a, b) -> float:
    """a times b, exact in decimal where both are decimal (0.1 mm is 0.0001 m, not 1.0000000000000002e-04)."""
    return float(Decimal(repr(a)) * Decimal(repr(b)) if not isinstance(a, str) and not isinstance(b, str)
                 else Decimal(str(a)) * Decimal(str(b)))


def physical(m: "Member") -> Optional[Tuple[float, str]]:
    """(scale, unit) of the member's physical value, None where it has none; of a scale that
    depends on the message, the default."""
    if "si" in m.meta:
        scale, unit = m.meta["si"]
        return float(scale.default if isinstance(scale, ScaleRule) else scale), unit
    scale, unit = m.meta.get("scale"), m.meta.get("unit")
    if unit in HOST_UNIT_SI:
        factor, si_unit = HOST_UNIT_SI[unit]
        return _times(1 if scale is None else scale, factor), si_unit
    return (float(scale), unit) if scale is not None else None


def scale_rule(m: "Member") -> Optional[ScaleRule]:
    scale = m.meta.get("si", (None, None))[0]
    return scale if isinstance(scale, ScaleRule) else None


def scale_for(m: "Member", number: int) -> float:
    """The scale of the member's physical value in the message of this number."""
    rule = scale_rule(m)
    if rule is None:
        return physical(m)[0]
    for pred, scale in rule.cases:
        value = holds_for(pred, number)
        if value is None:
            raise ValueError(f"{m.name}: a scale can depend on the message number only")
        if value:
            return float(scale)
    return float(rule.default)


def parts_of(m: "Member") -> List[Tuple[str, int, int, float]]:
    """(name, shift, width, steps) of each part of a packed member, most significant first;
    the widths fill the member."""
    parts = m.meta.get("parts")
    if not parts:
        return []
    if "si" not in m.meta or m.wire != "u" or isinstance(m.width, WidthRule):
        raise ValueError(f"{m.name}: parts need si= and an unsigned field of one width")
    shift, out = m.width, []
    for name, width, steps in parts:
        shift -= width
        out.append((name, shift, width, float(steps)))
    if shift != 0:
        raise ValueError(f"{m.name}: its parts do not fill its {m.width} bits")
    return out


def invalid_value(m: "Member") -> Optional[int]:
    value = m.meta.get("invalid", m.meta.get("dnu"))
    return None if value is None else int(value)


def json_key(m: "Member") -> str:
    p = physical(m)
    return m.name + "_" + NON_SI_KEYS[p[1]] if p and p[1] in NON_SI_KEYS else m.name


# --------------------------------------------------------------------------------------
# Records.

@dataclass
class Record:
    name: str                       # RTCM3_<name>_s
    enum: int
    members: List[Member]
    number: Optional[int] = None    # message number; None for a sub-record
    subtype: Optional[int] = None   # value of the member right after Message_Number (4089)
    parent: Optional[str] = None    # category its parent must have: "msm" | "ssr" | None
    family: str = ""
    meta: Dict[str, object] = dc_field(default_factory=dict)

    @property
    def is_message(self) -> bool:
        return self.number is not None


REGISTRY: List[Record] = []
_current_family = [""]


def family(name: str) -> None:
    """Names the family that the records declared next belong to."""
    _current_family[0] = name


def _register(rec: Record) -> Record:
    REGISTRY.append(rec)
    return rec


def subrecord(name: str, enum: int, members: List[Member], parent: str = None, **meta) -> Record:
    return _register(Record(name, enum, list(members), parent=parent,
                            family=_current_family[0], meta=dict(meta)))


def message(number: int, enum: int, members: List[Member], name: str = None,
            subtype: int = None, **meta) -> Record:
    """A message record: the frame header (Preamble, Reserved, Message_Length,
    Message_Number) comes before the members and CRC after them and the zero pad."""
    return _register(Record(name or f"Message_Type_{number}", enum, list(members), number=number,
                            subtype=subtype, family=_current_family[0], meta=dict(meta)))


# --------------------------------------------------------------------------------------
# What a message number alone decides: presence and widths that depend on no member's value.

# The frame's check value after the payload, in bits.
CRC_BITS = 24


def holds_for(p: Optional[Pred], number: int) -> Optional[bool]:
    """Whether a presence rule holds in the message of this number; None where it depends on
    a member's value."""
    if p is None:
        return True
    if isinstance(p, MsgNumIn):
        return number in p.numbers
    if isinstance(p, MsgNumRange):
        return p.lo <= number <= p.hi
    if isinstance(p, MsmLevel):
        return number % 10 in p.levels
    if isinstance(p, (AllOf, AnyOf)):
        values = [holds_for(q, number) for q in p.preds]
        decided = (False in values) if isinstance(p, AllOf) else (True in values)
        if decided:
            return not isinstance(p, AllOf)
        return None if None in values else isinstance(p, AllOf)
    if isinstance(p, Not):
        value = holds_for(p.pred, number)
        return None if value is None else not value
    return None


def width_for(w: Width, number: int) -> Optional[int]:
    """The width of a field in the message of this number; None where a member's value decides."""
    if not isinstance(w, WidthRule):
        return w
    for pred, width in w.cases:
        value = holds_for(pred, number)
        if value is None:
            return None
        if value:
            return width
    return w.default


def raw_bounds(wire: str, bits: int) -> Tuple[int, int]:
    """The lowest and highest raw value of a field of this many bits."""
    return (-(1 << (bits - 1)), (1 << (bits - 1)) - 1) if wire == "i" else (0, (1 << bits) - 1)
