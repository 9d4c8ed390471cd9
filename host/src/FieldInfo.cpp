#include "FieldInfo.h"

#include "FloatRepresentation.h"
#include "Message.h"
#include "NuvrixEvent.h"

#include <QtCore/QLocale>
#include <QtCore/QStringList>

FieldInfo::FieldInfo(const QString &name, const FieldType &type)
    : mName(name), mType(type)
{
}

FieldInfo::~FieldInfo() = default;

void FieldInfo::setScaleFactor(double factor)
{
    mScaleFactor = factor;
    mHasScaleFactor = true;
}

void FieldInfo::addSymbolicValue(const FieldValue &value, const QString &text)
{
    mSymbolicValues.append(SymbolicValue(value, text));
}

QString FieldInfo::getSymbolicText(const FieldValue &value) const
{
    for (const SymbolicValue &entry : mSymbolicValues) {
        if (entry.first == value)
            return entry.second;
    }
    return QString();
}

void FieldInfo::addSubFieldInfo(const FieldInfo *field)
{
    mSubFields.append(field);
}

bool FieldInfo::isPresent(const Message *message) const
{
    return getCount(message) > 0;
}

unsigned FieldInfo::getCount(const Message *) const
{
    return 0;
}

FieldValue FieldInfo::getValue(const Message *message, unsigned index) const
{
    const unsigned count = getCount(message);
    if (index >= count) {
        const QString text = count == 0
            ? QStringLiteral("Requesting value for a field %1 that is not present.").arg(mName)
            : QStringLiteral("Requesting value for a field %1 with out of range index.").arg(mName);
        throw NuvrixEvent(NuvrixEvent::InvalidFieldAccess, text, nullptr);
    }
    return getValueUnchecked(message, index);
}

FieldValue FieldInfo::getValueUnchecked(const Message *, unsigned) const
{
    return FieldValue();
}

QString FieldInfo::getValueString(const Message *message) const
{
    const unsigned count = getCount(message);
    if (mType.kind() == FieldType::Char) {
        QString text;
        for (unsigned k = 0; k < count; ++k) {
            const char c = getValueUnchecked(message, k).toChar();
            if (c == '\0')
                break;
            text += QLatin1Char(c);
        }
        return text;
    }
    QStringList parts;
    for (unsigned k = 0; k < count; ++k)
        parts << getValueUnchecked(message, k).toString();
    return parts.join(QLatin1Char(' '));
}

QString FieldInfo::getInterpretedString(const Message *message, unsigned index,
                                        bool withUnit) const
{
    return interpretValue(getValueUnchecked(message, index), withUnit);
}

QString FieldInfo::interpretValue(const FieldValue &value, bool withUnit) const
{
    if (hasDoNotUseValue() && value == mDoNotUseValue)
        return Message::useDoNotUseString ? Message::doNotUseString : QString();
    if (hasSymbolicValues()) {
        const QString symbol = getSymbolicText(value);
        if (!symbol.isEmpty())
            return symbol;
    }
    switch (value.kind()) {
    case FieldType::Invalid: return QString();
    case FieldType::SubMessage: return QStringLiteral("submsg");
    case FieldType::Char: return value.toString();
    case FieldType::Byte:
        if (!mHasScaleFactor)
            return value.toString();
        break;
    default: break;
    }
    const QString number = interpretNumber(value);
    return withUnit ? joinUnit(number) : number;
}

QString FieldInfo::interpretNumber(const FieldValue &value) const
{
    if (value.kind() == FieldType::Float32 || value.kind() == FieldType::Float64)
        return FloatRepresentation::getString(value.toDouble(), 'f', getEffectivePrecision(), true);
    if (mHasScaleFactor)
        return FloatRepresentation::getString(value.toDouble() * mScaleFactor, 'f',
                                              getEffectivePrecision(), true);
    const QLocale locale;
    if (value.kind() == FieldType::Signed)
        return locale.toString(qlonglong(value.toSigned()));
    return locale.toString(qulonglong(value.toUnsigned()));
}

QString FieldInfo::joinUnit(const QString &text) const
{
    if (!hasUnit() || text.isEmpty())
        return text;
    return mUnitAfterValue ? text + QLatin1Char(' ') + mUnit : mUnit + QLatin1Char(' ') + text;
}
