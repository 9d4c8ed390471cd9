#pragma once
// What a decoded record holds, field by field, without host objects: a table per record,
// generated from the message list (names, display names, scales, units, symbols and where
// each value lives), and one walk that hands every present field of a record to a visitor.
// The JSON and text renderings of records are built on it, so records without host
// descriptions (the SSR messages 1240-1270 among them) print through the same names.

#include "RTCM3_codec.h"

#include <cstdint>
#include <cstring>
#include <string_view>

namespace Kvt::Nuvrix::reflect {

enum class Shape : uint8_t {
    Value,   // one number
    String,  // characters, as many as its count member says
    Array,   // numbers, as many as its count says
    Embed,   // a sub-record held by value
    Group,   // a heap array of sub-records
};

// Type of the member (of one element for arrays); Record for sub-records and for "no count".
enum class Type : uint8_t { U8, U16, U32, U64, I8, I16, I32, I64, F32, F64, Char, Record };

enum FieldFlags : uint8_t {
    Reserved = 1,       // carries nothing: the walk leaves it out
    Computed = 2,       // not on the wire: computed by the decoder from other members
    Hex = 4,            // written as hexadecimal: masks, and unsigned numbers not exact as a double
    CountInParent = 8,  // the count is a member of the record that holds this one
    HasInvalid = 16,    // `invalid` is the raw value that means "no value"
};

struct Symbol {
    int64_t value;
    const char *text;
};

struct RecordInfo;
using PresenceFn = bool (*)(uint16_t messageNumber, const void *record);

struct FieldInfo {
    std::string_view name; // the member name ("ECEF_X"): an identifier, NUL-terminated after it
    std::string_view key;  // its JSON name: the member name, with the unit where that is not SI ("CNR_dBHz")
    const char *display;   // "ECEF-X"
    const char *unit;      // of the physical value ("m", "dB-Hz"); null: none
    double scale;          // physical value = raw times scale; 0: the raw value is the value
    double scaleNumerator; // scale = scaleNumerator / scaleDivisor, the divisor a power of ten
    double scaleDivisor;   // or 1, so that the physical value is rounded once
    int8_t decimals;       // >= 0: raw times scaleNumerator is an exact integer and the value
                           // is that integer with this many decimals; -1: a binary scale
    int8_t resolution;     // with decimals -1, >= 0: the value is written with this many
                           // decimals, enough that it reads back to its raw value
    int64_t invalid;       // with HasInvalid: the raw value that carries no value
    Shape shape;
    Type type;
    uint8_t flags;
    Type countType;        // Record: fixedCount is the count
    PresenceFn present;    // null: always present
    uint32_t offset;       // of the member in its record
    uint32_t countOffset;  // of the count member, in this record or (CountInParent) its parent
    uint16_t fixedCount;
    uint16_t capacity;     // of an array or string member
    const RecordInfo *sub; // Embed and Group
    const Symbol *symbols;
    uint16_t symbolCount;
};

struct RecordInfo {
    const char *name;        // "Message_Type_1005", "MSM_Satellite_Data"
    const char *display;     // "Message Type 1005"
    const char *text;        // "Stationary RTK Reference Station ARP"; null where the list has none
    uint16_t messageNumber;  // 0 for a sub-record
    uint32_t size;           // of the record, the step between group elements
    const FieldInfo *fields;
    uint16_t fieldCount;
};

// The table of a record type by its enumerator; null outside 1 to the last enumerator.
const RecordInfo *recordInfo(int32_t enumerator);

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
inline Number numberOf(Type type, const void *values, uint32_t index)
{
    const auto *p = static_cast<const uint8_t *>(values);
    const auto load = [p, index](auto v) {
        std::memcpy(&v, p + index * sizeof(v), sizeof(v));
        return v;
    };
    Number n;
    switch (type) {
    case Type::U8: case Type::Char: n.kind = Number::Kind::Unsigned; n.u = load(uint8_t()); break;
    case Type::U16: n.kind = Number::Kind::Unsigned; n.u = load(uint16_t()); break;
    case Type::U32: n.kind = Number::Kind::Unsigned; n.u = load(uint32_t()); break;
    case Type::U64: n.kind = Number::Kind::Unsigned; n.u = load(uint64_t()); break;
    case Type::I8: n.kind = Number::Kind::Signed; n.i = load(int8_t()); break;
    case Type::I16: n.kind = Number::Kind::Signed; n.i = load(int16_t()); break;
    case Type::I32: n.kind = Number::Kind::Signed; n.i = load(int32_t()); break;
    case Type::I64: n.kind = Number::Kind::Signed; n.i = load(int64_t()); break;
    case Type::F32: n.kind = Number::Kind::Real; n.d = load(float()); break;
    case Type::F64: n.kind = Number::Kind::Real; n.d = load(double()); break;
    case Type::Record: n.kind = Number::Kind::Unsigned; n.u = 0; break;
    }
    return n;
}

inline Number numberAt(const FieldInfo &f, const void *values, uint32_t index)
{
    return numberOf(f.type, values, index);
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
inline double scaled(const FieldInfo &f, Number n) { return toDouble(n) * f.scaleNumerator / f.scaleDivisor; }

// True where the raw value is the field's "no value" marker.
inline bool isInvalid(const FieldInfo &f, Number n)
{
    return (f.flags & HasInvalid) && n.kind != Number::Kind::Real &&
           (n.kind == Number::Kind::Signed ? n.i == f.invalid : int64_t(n.u) == f.invalid);
}

// The physical value of a field (raw times scale, the raw value where it has no scale) and
// its inverse, the raw value nearest a physical one, for records built from physical values.
inline double physical(const FieldInfo &f, Number n) { return f.scale != 0 ? scaled(f, n) : toDouble(n); }
inline double rawOf(const FieldInfo &f, double value) { return f.scale != 0 ? value * f.scaleDivisor / f.scaleNumerator : value; }

// The row of a member by name; null where the record has none.
const FieldInfo *fieldOf(const RecordInfo &info, std::string_view name);

// The symbol text of a raw value; null where the list names none.
const char *symbolOf(const FieldInfo &f, Number n);

// Receives the present fields of a record in member order; nested records come between
// begin and end calls. Reserved fields are never handed over.
class Visitor
{
public:
    virtual ~Visitor();
    virtual void value(const FieldInfo &field, Number value) = 0;
    // count elements of the field's type at elements; read them with numberAt().
    virtual void array(const FieldInfo &field, const void *elements, uint32_t count) = 0;
    // The raw bytes of a string field: any byte value, embedded NULs included.
    virtual void string(const FieldInfo &field, std::string_view bytes) = 0;
    virtual void beginEmbed(const FieldInfo &field) = 0;
    virtual void endEmbed(const FieldInfo &field) = 0;
    virtual void beginGroup(const FieldInfo &field, uint32_t count) = 0;
    virtual void beginElement(const FieldInfo &field, uint32_t index) = 0;
    virtual void endElement(const FieldInfo &field, uint32_t index) = 0;
    virtual void endGroup(const FieldInfo &field) = 0;
};

// Walks a record that a decode filled without error (or that a caller set in full): every
// field its presence rule admits, arrays and strings up to their counts (never past their
// capacity), groups element by element. messageNumber is that of the message holding the
// record, which presence rules of sub-records depend on.
void walk(const RecordInfo &info, const void *record, uint16_t messageNumber,
                             Visitor &visitor);
// A decoded message by the enumerator in its header; false (nothing visited) when the
// header names no message record.
bool walkMessage(const _RTCM3_message_t &message, Visitor &visitor);

} // namespace Kvt::Nuvrix::reflect
