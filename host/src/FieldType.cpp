#include "FieldType.h"

FieldType::FieldType(Kind kind, int bits, const MessageInfo *info)
    : mKind(kind), mBits(bits), mSubMessageInfo(info)
{
}

FieldType FieldType::u(int bits) { return FieldType(Unsigned, bits); }
FieldType FieldType::i(int bits) { return FieldType(Signed, bits); }
FieldType FieldType::byte() { return FieldType(Byte, 8); }
FieldType FieldType::ch() { return FieldType(Char, 8); }
FieldType FieldType::f32() { return FieldType(Float32, 32); }
FieldType FieldType::f64() { return FieldType(Float64, 64); }
FieldType FieldType::subMessage(const MessageInfo *info) { return FieldType(SubMessage, 0, info); }

QString FieldType::toString() const
{
    switch (mKind) {
    case Unsigned: return QStringLiteral("u%1").arg(mBits);
    case Signed: return QStringLiteral("i%1").arg(mBits);
    case Byte: return QStringLiteral("byte");
    case Char: return QStringLiteral("char");
    case Float32: return QStringLiteral("f32");
    case Float64: return QStringLiteral("f64");
    case SubMessage: return QStringLiteral("submsg");
    case Invalid: break;
    }
    return QStringLiteral("invalid");
}

bool FieldType::operator==(const FieldType &other) const
{
    return mKind == other.mKind && mBits == other.mBits
        && mSubMessageInfo == other.mSubMessageInfo;
}
