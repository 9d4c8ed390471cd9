#include "FieldValue.h"

#include "FloatRepresentation.h"

FieldValue::FieldValue(FieldType::Kind kind, int bits, Storage storage)
    : mKind(kind), mBits(bits), mStorage(storage)
{
}

FieldValue FieldValue::u(std::uint64_t value, int bits)
{
    return FieldValue(FieldType::Unsigned, bits, value);
}

FieldValue FieldValue::i(std::int64_t value, int bits)
{
    return FieldValue(FieldType::Signed, bits, value);
}

FieldValue FieldValue::byte(std::uint8_t value)
{
    return FieldValue(FieldType::Byte, 8, std::uint64_t(value));
}

FieldValue FieldValue::ch(char value)
{
    return FieldValue(FieldType::Char, 8, std::int64_t(value));
}

FieldValue FieldValue::f32(float value)
{
    return FieldValue(FieldType::Float32, 32, double(value));
}

FieldValue FieldValue::f64(double value)
{
    return FieldValue(FieldType::Float64, 64, value);
}

FieldValue FieldValue::subMessage(Message *message)
{
    return FieldValue(FieldType::SubMessage, 0, message);
}

std::uint64_t FieldValue::toUnsigned() const
{
    if (const auto *u = std::get_if<std::uint64_t>(&mStorage))
        return *u;
    if (const auto *s = std::get_if<std::int64_t>(&mStorage))
        return std::uint64_t(*s);
    return 0;
}

std::int64_t FieldValue::toSigned() const
{
    if (const auto *s = std::get_if<std::int64_t>(&mStorage))
        return *s;
    if (const auto *u = std::get_if<std::uint64_t>(&mStorage))
        return std::int64_t(*u);
    return 0;
}

double FieldValue::toDouble() const
{
    if (const auto *d = std::get_if<double>(&mStorage))
        return *d;
    if (const auto *s = std::get_if<std::int64_t>(&mStorage))
        return double(*s);
    if (const auto *u = std::get_if<std::uint64_t>(&mStorage))
        return double(*u);
    return 0.0;
}

char FieldValue::toChar() const
{
    return char(toSigned());
}

Message *FieldValue::toSubMessage() const
{
    if (const auto *m = std::get_if<Message *>(&mStorage))
        return *m;
    return nullptr;
}

QString FieldValue::toString() const
{
    switch (mKind) {
    case FieldType::Unsigned: return QString::number(toUnsigned());
    case FieldType::Signed: return QString::number(toSigned());
    case FieldType::Byte: return QString::number(toUnsigned(), 16).rightJustified(2, QLatin1Char('0'));
    case FieldType::Char: return QString(QLatin1Char(toChar()));
    case FieldType::Float32:
    case FieldType::Float64: return FloatRepresentation::getString(toDouble(), 'f', 6, false);
    case FieldType::SubMessage: return QStringLiteral("submsg");
    case FieldType::Invalid: break;
    }
    return QString();
}

bool FieldValue::operator==(const FieldValue &other) const
{
    return mKind == other.mKind && mBits == other.mBits && mStorage == other.mStorage;
}
