#pragma once

#include "nuvrixhost_global.h"

#include <QtCore/QString>

class MessageInfo;

// The type of a field as the host shows it: kind plus width in bits, or the
// description of the nested message for a sub-message field.
class NUVRIXHOST_EXPORT FieldType
{
public:
    enum Kind { Invalid, Unsigned, Signed, Byte, Char, Float32, Float64, SubMessage };

    FieldType() = default;

    static FieldType u(int bits);
    static FieldType i(int bits);
    static FieldType byte();
    static FieldType ch();
    static FieldType f32();
    static FieldType f64();
    static FieldType subMessage(const MessageInfo *info);

    Kind kind() const { return mKind; }
    int bits() const { return mBits; }
    const MessageInfo *subMessageInfo() const { return mSubMessageInfo; }

    bool isValid() const { return mKind != Invalid; }
    bool isInteger() const { return mKind == Unsigned || mKind == Signed || mKind == Byte; }
    bool isFloat() const { return mKind == Float32 || mKind == Float64; }

    // "u12", "i38", "byte", "char", "f32", "f64", "submsg" or "invalid".
    QString toString() const;

    bool operator==(const FieldType &other) const;
    bool operator!=(const FieldType &other) const { return !(*this == other); }

private:
    FieldType(Kind kind, int bits, const MessageInfo *info = nullptr);

    Kind mKind = Invalid;
    int mBits = 0;
    const MessageInfo *mSubMessageInfo = nullptr;
};
