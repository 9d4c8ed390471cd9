#include "RTCM3_FieldInfoT.h"

#include "FloatRepresentation.h"
#include "MemLeakTracer.h"
#include "MessageInfo.h"
#include "NuvrixEvent.h"
#include "RTCM3_FormatInfo.h"
#include "RTCM3_MessageT.h"
#include "RTCM3_codec.h"

#include <QtCore/QLocale>

using RTCM3Field::Kind;
namespace L = Kvt::Nuvrix::layout;

namespace {

constexpr int kDefaultPrecision = 6;
// The one field of a description that has no row: a message's CRC bytes.
constexpr const char *kCrcName = "CRC";

const L::RecordLayout &recordOf(const RTCM3Field::Spec &spec)
{
    const L::RecordLayout *record = Kvt::Nuvrix::RTCM3_layout(spec.recordEnumerator);
    Q_ASSERT(record);
    return *record;
}

const L::Field *rowOf(const L::RecordLayout &record, const RTCM3Field::Spec &spec)
{
    return spec.index < record.fieldCount ? &record.fields[spec.index] : nullptr;
}

FieldType typeOf(const RTCM3Field::Spec &spec)
{
    switch (spec.kind) {
    case Kind::Unsigned: return FieldType::u(spec.width);
    case Kind::Signed: return FieldType::i(spec.width);
    case Kind::Byte: return FieldType::byte();
    case Kind::Char: return FieldType::ch();
    case Kind::Float32: return FieldType::f32();
    case Kind::Float64: return FieldType::f64();
    case Kind::SubMessage: return FieldType::subMessage(spec.subMessage());
    }
    return FieldType();
}

// A raw value in the field's own kind and width, as symbolic and do-not-use values are kept.
FieldValue integerValue(const RTCM3Field::Spec &spec, qint64 raw)
{
    switch (spec.kind) {
    case Kind::Signed: return FieldValue::i(raw, spec.width);
    case Kind::Byte: return FieldValue::byte(quint8(raw));
    case Kind::Char: return FieldValue::ch(char(raw));
    default: return FieldValue::u(quint64(raw), spec.width);
    }
}

QString twoHexDigits(qint64 raw)
{
    return QString::number(quint64(raw), 16).rightJustified(2, QLatin1Char('0'));
}

const QLocale &defaultLocale()
{
    static const QLocale locale;
    return locale;
}

} // namespace

RTCM3FieldInfo::RTCM3FieldInfo(const RTCM3Field::Spec &spec)
    : RTCM3FieldInfo(spec, recordOf(spec))
{
}

RTCM3FieldInfo::RTCM3FieldInfo(const RTCM3Field::Spec &spec, const L::RecordLayout &record)
    : FieldInfo(QString::fromUtf8(rowOf(record, spec) ? rowOf(record, spec)->display : kCrcName), typeOf(spec)),
      mSpec(spec), mRecord(&record), mRow(rowOf(record, spec))
{
    MemLeakTracer::getInstance()->doAllocateObject(spec.className);
    RTCM3_FormatInfo::getInstance();
    if (has(RTCM3Field::Optional))
        setIsOptional(true);
    if (has(RTCM3Field::Repeated))
        setIsRepeated(true);
    if (has(RTCM3Field::Derived))
        setVirtual(true);
    if (spec.role != 0)
        setRole(spec.role);
    for (int k = 0; k < spec.subFieldCount; ++k)
        addSubFieldInfo(spec.subFields[k]());
    if (spec.unit)
        setUnit(QString::fromUtf8(spec.unit));
    if (spec.precision >= 0)
        setPrecision(spec.precision);
    if (has(RTCM3Field::Scaled))
        setScaleFactor(spec.scale);
    const int symbolCount = mRow ? mRow->symbolCount : 0;
    if (symbolCount > 0)
        mSymbolTexts = std::make_unique<QHash<qint64, QString>>();
    for (int k = 0; k < symbolCount; ++k) {
        const QString text = QString::fromUtf8(mRow->symbols[k].text);
        addSymbolicValue(integerValue(spec, mRow->symbols[k].value), text);
        mSymbolTexts->insert(mRow->symbols[k].value, text);
    }
    if (has(RTCM3Field::DoNotUse))
        setDoNotUseValue(integerValue(spec, spec.doNotUse));
}

const char *RTCM3FieldInfo::name() const
{
    return mRow ? mRow->name : kCrcName;
}

RTCM3FieldInfo::~RTCM3FieldInfo()
{
    MemLeakTracer::getInstance()->doDeallocateObject(mSpec.className);
}

// ---- presence and count ---------------------------------------------------------------

const RTCM3Message *RTCM3FieldInfo::accept(const Message *message) const
{
    const auto *own = dynamic_cast<const RTCM3Message *>(message);
    return own && own->recordEnumerator() == mSpec.recordEnumerator ? own : nullptr;
}

// An optional field that repeats (the signal arrays of a Multiple Signal Message) counts its
// elements only where its presence rule holds.
unsigned RTCM3FieldInfo::countIn(const RTCM3Message &message) const
{
    if (has(RTCM3Field::Optional) && !message.isFieldPresent(mSpec.index))
        return 0;
    return has(RTCM3Field::Repeated) ? message.numberOf(mSpec.index) : 1;
}

bool RTCM3FieldInfo::reaches(const RTCM3Message &message, unsigned index) const
{
    return has(RTCM3Field::Repeated) ? index < message.numberOf(mSpec.index) : index == 0;
}

bool RTCM3FieldInfo::isPresent(const Message *message) const
{
    const RTCM3Message *own = accept(message);
    return own && countIn(*own) > 0;
}

unsigned RTCM3FieldInfo::getCount(const Message *message) const
{
    const RTCM3Message *own = accept(message);
    return own ? countIn(*own) : 0;
}

// ---- values ---------------------------------------------------------------------------

void RTCM3FieldInfo::misuse(const char *text) const
{
    throw NuvrixEvent(NuvrixEvent::InvalidFieldAccess,
                      QString::fromUtf8(text).arg(QString::fromUtf8(mRecord->display),
                                                  QString::fromUtf8(name())),
                      RTCM3_FormatInfo::getInstance());
}

FieldValue RTCM3FieldInfo::getValue(const Message *message, unsigned index) const
{
    const RTCM3Message *own = accept(message);
    if (!own)
        misuse("Requesting value for a field %1::%2 that is not present in the given kind of message.");
    if (has(RTCM3Field::Optional) && !own->isFieldPresent(mSpec.index))
        misuse("Requesting value for an optional field %1::%2 that is not present.");
    if (!has(RTCM3Field::Repeated)) {
        if (index != 0)
            misuse("Requesting value for a non-repeated field %1::%2 using non-zero index.");
    } else {
        const unsigned count = own->numberOf(mSpec.index);
        if (count == 0)
            misuse("Requesting value for an repeated field %1::%2 that is repeated 0 times.");
        if (index >= count)
            misuse("Requesting value for an repeated field %1::%2 with out of range index.");
    }
    return valueIn(*own, index);
}

FieldValue RTCM3FieldInfo::getValueUnchecked(const Message *message, unsigned index) const
{
    const RTCM3Message *own = accept(message);
    if (!own || !reaches(*own, index))
        return FieldValue();
    return valueIn(*own, index);
}

FieldValue RTCM3FieldInfo::valueIn(const RTCM3Message &message, unsigned index) const
{
    switch (mSpec.kind) {
    case Kind::SubMessage:
        return FieldValue::subMessage(message.subMessageAt(mSpec.index, index));
    case Kind::Float32:
        return FieldValue::f32(float(message.realAt(mSpec.index)));
    case Kind::Float64:
        return FieldValue::f64(message.realAt(mSpec.index));
    default:
        return integerValue(mSpec, message.integerAt(mSpec.index, index));
    }
}

QString RTCM3FieldInfo::getValueString(const Message *message) const
{
    if (mSpec.kind != Kind::Char)
        return FieldInfo::getValueString(message);
    const RTCM3Message *own = accept(message);
    if (!own)
        misuse("Requesting value for a field %1::%2 that is not present in the given kind of message.");
    return characters(*own);
}

QString RTCM3FieldInfo::characters(const RTCM3Message &message) const
{
    QString text;
    const unsigned count = message.numberOf(mSpec.index);
    for (unsigned k = 0; k < count; ++k) {
        const char c = char(message.integerAt(mSpec.index, k));
        if (c == '\0')
            break;
        text += QLatin1Char(c);
    }
    return text;
}

// ---- texts ----------------------------------------------------------------------------

QString RTCM3FieldInfo::decimal(qint64 raw) const
{
    if (mSpec.kind == Kind::Signed)
        return defaultLocale().toString(qlonglong(raw));
    return defaultLocale().toString(qulonglong(quint64(raw)));
}

QString RTCM3FieldInfo::joinUnit(const QString &text) const
{
    if (!hasUnit())
        return text;
    return isUnitPlacedAfterValue() ? text + QLatin1Char(' ') + getUnit()
                                    : getUnit() + QLatin1Char(' ') + text;
}

// A byte shows its bit pattern; an integer its value, scaled when the field has a scale.
QString RTCM3FieldInfo::number(qint64 raw, bool withUnit) const
{
    if (mSpec.kind == Kind::Byte)
        return twoHexDigits(raw);
    QString text;
    if (has(RTCM3Field::Scaled)) {
        const double value = mSpec.kind == Kind::Signed ? double(raw) : double(quint64(raw));
        text = FloatRepresentation::getString(value * mSpec.scale, 'f',
                                              hasPrecision() ? getPrecision() : kDefaultPrecision,
                                              true);
    } else {
        text = decimal(raw);
    }
    return withUnit ? joinUnit(text) : text;
}

QString RTCM3FieldInfo::getInterpretedString(const Message *message, unsigned index,
                                             bool withUnit) const
{
    const RTCM3Message *own = accept(message);
    if (!own || !reaches(*own, index))
        return QString();
    switch (mSpec.kind) {
    case Kind::SubMessage:
        return QStringLiteral("submsg");
    case Kind::Char:
        return QString(QLatin1Char(char(own->integerAt(mSpec.index, index))));
    case Kind::Float32:
    case Kind::Float64: {
        const QString text = FloatRepresentation::getString(own->realAt(mSpec.index), 'f',
                                                            kDefaultPrecision, true);
        return withUnit ? joinUnit(text) : text;
    }
    default:
        break;
    }
    const qint64 raw = own->integerAt(mSpec.index, index);
    if (has(RTCM3Field::DoNotUse)) {
        // The do-not-use test replaces the symbolic texts: other values show as numbers.
        if (raw == mSpec.doNotUse)
            return Message::useDoNotUseString ? Message::doNotUseString : QString();
        return number(raw, withUnit);
    }
    if (mSymbolTexts) {
        const QString text = mSymbolTexts->value(raw);
        if (!text.isEmpty())
            return text;
        return mSpec.kind == Kind::Byte ? twoHexDigits(raw) : decimal(raw);
    }
    return number(raw, withUnit);
}

// ---- raw line -------------------------------------------------------------------------

QString RTCM3FieldInfo::rawText(const RTCM3Message &message, unsigned index) const
{
    switch (mSpec.kind) {
    case Kind::SubMessage:
        return QStringLiteral("submsg");
    case Kind::Float32:
    case Kind::Float64:
        return FloatRepresentation::getString(message.realAt(mSpec.index), 'f',
                                              kDefaultPrecision, false);
    case Kind::Char:
        return QString(QLatin1Char(char(message.integerAt(mSpec.index, index))));
    default:
        break;
    }
    const qint64 raw = message.integerAt(mSpec.index, index);
    if (mSpec.kind == Kind::Byte)
        return twoHexDigits(raw);
    if (has(RTCM3Field::DoNotUse) && raw == mSpec.doNotUse && Message::useDoNotUseString)
        return Message::doNotUseString;
    return mSpec.kind == Kind::Signed ? QString::number(qlonglong(raw))
                                      : QString::number(qulonglong(quint64(raw)));
}

void RTCM3FieldInfo::appendRawText(const RTCM3Message &message, QString &line) const
{
    if (has(RTCM3Field::Optional) && !message.isFieldPresent(mSpec.index))
        return;
    if (!has(RTCM3Field::Repeated)) {
        line += rawText(message, 0);
        return;
    }
    if (mSpec.kind == Kind::Char) {
        line += characters(message);
        return;
    }
    // Bytes run together in groups of four, like the bytes of a dump; numbers and nested
    // blocks are separated by blanks.
    const unsigned count = message.numberOf(mSpec.index);
    for (unsigned k = 0; k < count; ++k) {
        if (k > 0 && (mSpec.kind != Kind::Byte || k % 4 == 0))
            line += QLatin1Char(' ');
        line += rawText(message, k);
    }
}
