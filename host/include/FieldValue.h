#pragma once

#include "FieldType.h"

#include <QtCore/QString>

#include <cstdint>
#include <variant>

class Message;

// One value of one field. A default-constructed value is invalid and stands
// for "no value". Values of different kinds or widths never compare equal, so
// that u(1, 12) and u(1, 6) stay apart in symbolic-value tables.
class NUVRIXHOST_EXPORT FieldValue
{
public:
    FieldValue() = default;

    static FieldValue u(std::uint64_t value, int bits);
    static FieldValue i(std::int64_t value, int bits);
    static FieldValue byte(std::uint8_t value);
    static FieldValue ch(char value);
    static FieldValue f32(float value);
    static FieldValue f64(double value);
    // Borrows the message: sub-messages belong to their parent message, and a
    // value must not keep one alive or outlive it.
    static FieldValue subMessage(Message *message);

    bool isValid() const { return mKind != FieldType::Invalid; }
    FieldType::Kind kind() const { return mKind; }
    int bits() const { return mBits; }

    // Integer kinds (u, i, byte, ch) convert as C++ integer conversions do;
    // floats convert to 0 unless read with toDouble.
    std::uint64_t toUnsigned() const;
    std::int64_t toSigned() const;
    // Every numeric kind; 0 for invalid and sub-message values.
    double toDouble() const;
    char toChar() const;
    Message *toSubMessage() const;

    // Raw text: integers in decimal, bytes as two lowercase hex digits, a
    // character as itself (Latin-1), floats in raw 'f' notation with 6
    // decimals, "submsg" for a sub-message, empty for an invalid value.
    QString toString() const;

    bool operator==(const FieldValue &other) const;
    bool operator!=(const FieldValue &other) const { return !(*this == other); }

private:
    using Storage = std::variant<std::monostate, std::uint64_t, std::int64_t, double, Message *>;

    FieldValue(FieldType::Kind kind, int bits, Storage storage);

    FieldType::Kind mKind = FieldType::Invalid;
    int mBits = 0;
    Storage mStorage;
};
