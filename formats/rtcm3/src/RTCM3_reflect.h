#pragma once
// What a decoded record holds, field by field, without host objects: the codec's field table
// of each record (names, display names, scales, units, symbols and where each value lives,
// from the message list) and one walk that hands every present field of a record to a
// visitor. The JSON and text renderings of records are built on it, so records without host
// descriptions (the SSR messages 1240-1270 among them) print through the same names.

#include "RTCM3_codec.h"
#include "RTCM3_layout.h"

#include <cstdint>
#include <cstring>
#include <string_view>

namespace Kvt::Nuvrix::reflect {

using layout::CType;
using layout::Field;
using layout::Kind;
using layout::RecordLayout;
using layout::Hex;
using layout::HasInvalid;
using layout::Reserved;
using layout::Text;

// The table of a record type by its enumerator, of the core list or the extension; null for
// any other enumerator.
const RecordLayout *recordInfo(int32_t enumerator);

// A number read from a record, in the representation its member has.
struct Number {
    enum class Kind : uint8_t { Unsigned, Signed, Real } kind;
    union {
        uint64_t u;
        int64_t i;
        double d;
    };
};

// Element index of an array of the given type at values (index 0 for a single member).
inline Number numberOf(CType type, const void *values, uint32_t index)
{
    const auto *p = static_cast<const uint8_t *>(values);
    const auto load = [p, index](auto v) {
        std::memcpy(&v, p + index * sizeof(v), sizeof(v));
        return v;
    };
    Number n;
    switch (type) {
    case CType::U8: case CType::Char: n.kind = Number::Kind::Unsigned; n.u = load(uint8_t()); break;
    case CType::U16: n.kind = Number::Kind::Unsigned; n.u = load(uint16_t()); break;
    case CType::U32: n.kind = Number::Kind::Unsigned; n.u = load(uint32_t()); break;
    case CType::U64: n.kind = Number::Kind::Unsigned; n.u = load(uint64_t()); break;
    case CType::I8: n.kind = Number::Kind::Signed; n.i = load(int8_t()); break;
    case CType::I16: n.kind = Number::Kind::Signed; n.i = load(int16_t()); break;
    case CType::I32: n.kind = Number::Kind::Signed; n.i = load(int32_t()); break;
    case CType::I64: n.kind = Number::Kind::Signed; n.i = load(int64_t()); break;
    case CType::F32: n.kind = Number::Kind::Real; n.d = load(float()); break;
    case CType::F64: n.kind = Number::Kind::Real; n.d = load(double()); break;
    case CType::Ptr: case CType::Record: n.kind = Number::Kind::Unsigned; n.u = 0; break;
    }
    return n;
}

inline Number numberAt(const Field &f, const void *values, uint32_t index)
{
    return numberOf(f.ctype, values, index);
}

inline double toDouble(Number n)
{
    switch (n.kind) {
    case Number::Kind::Unsigned: return double(n.u);
    case Number::Kind::Signed: return double(n.i);
    case Number::Kind::Real: break;
    }
    return n.d;
}

// The physical value of a scaled field, raw value times scale, correctly rounded: 244 times
// 0.4 is 97.6, not the 97.60000000000001 of a multiplication by the double nearest 0.4.
inline double scaleDivisor(const Field &f)
{
    constexpr double kPowers[] = {1e0, 1e1, 1e2, 1e3, 1e4, 1e5, 1e6, 1e7, 1e8, 1e9, 1e10, 1e11,
                                  1e12, 1e13, 1e14, 1e15, 1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
    return f.decimals > 0 && f.decimals <= 22 ? kPowers[f.decimals] : 1.0;
}
inline double timesScale(const Field &f, Number n) { return toDouble(n) * f.scaleNumerator / scaleDivisor(f); }
inline bool isScaled(const Field &f) { return f.scaleNumerator != 0; }

// A field packed of parts (each worth its own steps) has a value that is their sum.
inline bool isPacked(const Field &f) { return f.extra && f.extra->physical->parts; }
inline int64_t rawInteger(Number n) { return n.kind == Number::Kind::Signed ? n.i : int64_t(n.u); }
// The raw value less the one that means zero, for fields sent plus an offset.
inline Number fromZero(const Field &f, Number n)
{
    if (!f.extra || !f.extra->physical->zero || n.kind == Number::Kind::Real)
        return n;
    Number shifted;
    shifted.kind = Number::Kind::Signed;
    shifted.i = rawInteger(n) - f.extra->physical->zero;
    return shifted;
}
// Out of line: the rare meanings keep the common product small enough to inline.
double scaledWithExtra(const Field &f, Number n);
inline double scaled(const Field &f, Number n) { return f.extra ? scaledWithExtra(f, n) : timesScale(f, n); }

// The field's row in the message of this number: its own, or the one of that message where
// its scale depends on it.
inline const Field &rowIn(const Field &f, uint16_t messageNumber)
{
    if (f.extra)
        for (uint16_t k = 0; k < f.extra->rowCount; ++k)
            if (f.extra->rows[k].messageNumber == messageNumber)
                return *f.extra->rows[k].row;
    return f;
}

// True where the raw value is the field's "no value" marker.
inline bool isInvalid(const Field &f, Number n)
{
    return (f.flags & HasInvalid) && n.kind != Number::Kind::Real &&
           rawInteger(n) == f.invalid;
}

// The physical value of a field (raw times scale, the raw value where it has no scale) and
// its inverse, the raw value nearest a physical one, for records built from physical values.
// f is the row in the message at hand (rowIn), where the scale depends on the message.
inline double physical(const Field &f, Number n) { return isScaled(f) ? scaled(f, n) : toDouble(n); }
inline double rawOf(const Field &f, double value)
{
    if (isPacked(f))
        return double(units::rawOf<int64_t>(*f.extra->physical, value));
    const double zero = f.extra ? double(f.extra->physical->zero) : 0.0;
    return isScaled(f) ? value * scaleDivisor(f) / f.scaleNumerator + zero : value;
}

// The row of a member by name; null where the record has none (the frame header's rows are
// not members).
const Field *fieldOf(const RecordLayout &info, std::string_view name);

// The symbol text of a raw value; null where the list names none.
const char *symbolOf(const Field &f, Number n);

// Receives the present fields of a record in member order; nested records come between
// begin and end calls. Reserved fields are never handed over.
class Visitor
{
public:
    virtual ~Visitor();
    virtual void value(const Field &field, Number value) = 0;
    // count elements of the field's type at elements; read them with numberAt().
    virtual void array(const Field &field, const void *elements, uint32_t count) = 0;
    // The raw bytes of a string field: any byte value, embedded NULs included.
    virtual void string(const Field &field, std::string_view bytes) = 0;
    virtual void beginEmbed(const Field &field) = 0;
    virtual void endEmbed(const Field &field) = 0;
    virtual void beginGroup(const Field &field, uint32_t count) = 0;
    virtual void beginElement(const Field &field, uint32_t index) = 0;
    virtual void endElement(const Field &field, uint32_t index) = 0;
    virtual void endGroup(const Field &field) = 0;
};

// Walks a record that a decode filled without error (or that a caller set in full): every
// field its presence rule admits, arrays and strings up to their counts (never past their
// capacity), groups element by element. messageNumber is that of the message holding the
// record, which presence rules of sub-records depend on.
void walk(const RecordLayout &info, const void *record, uint16_t messageNumber,
                             Visitor &visitor);
// A decoded message by the enumerator in its header; false (nothing visited) when the
// header names no message record.
bool walkMessage(const _RTCM3_message_t &message, Visitor &visitor);

} // namespace Kvt::Nuvrix::reflect
