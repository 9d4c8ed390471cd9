#include "Printer.h"

#include "FieldInfo.h"
#include "FieldValue.h"
#include "FormatInfo.h"
#include "Message.h"
#include "MessageInfo.h"

#include <QtCore/QJsonArray>
#include <QtCore/QJsonDocument>
#include <QtCore/QStringList>

#include <limits>

namespace {

bool isSubMessage(const FieldInfo *field) { return field->getType().kind() == FieldType::SubMessage; }
bool isText(const FieldInfo *field) { return field->getType().kind() == FieldType::Char; }

QJsonValue rawValue(const FieldValue &value)
{
    switch (value.kind()) {
    case FieldType::Unsigned:
    case FieldType::Byte:
        if (value.toUnsigned() > uint64_t(std::numeric_limits<qint64>::max()))
            return QString::number(value.toUnsigned());  // beyond what JSON numbers hold exactly
        return qint64(value.toUnsigned());
    case FieldType::Signed:
        return qint64(value.toSigned());
    case FieldType::Float32:
    case FieldType::Float64:
        return value.toDouble();
    case FieldType::Char:
        return QString(QLatin1Char(value.toChar()));
    default:
        return QJsonValue();
    }
}

QString describeType(const FieldInfo *field)
{
    QStringList parts{field->getType().toString()};
    if (field->hasScaleFactor())
        parts << QStringLiteral("scale %1").arg(field->getScaleFactor(), 0, 'g', 17);
    if (field->hasUnit())
        parts << field->getUnit();
    if (field->isOptional())
        parts << QStringLiteral("optional");
    if (field->isRepeated())
        parts << QStringLiteral("repeated");
    if (field->isVirtual())
        parts << QStringLiteral("computed");
    return parts.join(QStringLiteral(", "));
}

} // namespace

void Printer::print(const Message *message)
{
    switch (mStyle) {
    case Style::Text:
        printText(message, 0);
        break;
    case Style::Json:
        mOut << QJsonDocument(toJson(message)).toJson(QJsonDocument::Compact) << '\n';
        break;
    case Style::Raw:
        mOut << message->getMessageInfo()->getName() << Message::fieldSeparator << message->getRawString() << '\n';
        break;
    }
}

void Printer::printText(const Message *message, int indent)
{
    const QString pad(indent, QLatin1Char(' '));
    if (indent == 0)
        mOut << message->getMessageInfo()->getName() << '\n';
    for (const FieldInfo *field : message->getMessageInfo()->getFieldInfos()) {
        if (!field->isPresent(message))
            continue;
        const unsigned count = field->getCount(message);
        if (isSubMessage(field)) {
            for (unsigned i = 0; i < count; ++i) {
                mOut << pad << "  " << field->getName();
                if (field->isRepeated())
                    mOut << " [" << i << "]";
                mOut << ":\n";
                printText(field->getValue(message, i).toSubMessage(), indent + 2);
            }
            continue;
        }
        mOut << pad << "  " << field->getName() << ": ";
        if (isText(field)) {
            mOut << '"' << field->getValueString(message) << "\"\n";
            continue;
        }
        for (unsigned i = 0; i < count; ++i)
            mOut << (i ? ", " : "") << field->getInterpretedString(message, i, true);
        mOut << '\n';
    }
}

QJsonObject Printer::toJson(const Message *message) const
{
    QJsonArray fields;
    for (const FieldInfo *field : message->getMessageInfo()->getFieldInfos()) {
        if (!field->isPresent(message))
            continue;
        QJsonObject entry{{QStringLiteral("name"), field->getName()}};
        const unsigned count = field->getCount(message);
        QJsonArray values;
        for (unsigned i = 0; i < count; ++i) {
            const FieldValue value = field->getValue(message, i);
            values.append(isSubMessage(field) ? QJsonValue(toJson(value.toSubMessage())) : rawValue(value));
        }
        if (isText(field))
            entry.insert(QStringLiteral("value"), field->getValueString(message));
        else if (field->isRepeated())
            entry.insert(QStringLiteral("value"), values);
        else if (!values.isEmpty())
            entry.insert(QStringLiteral("value"), values.first());
        if (field->hasUnit())
            entry.insert(QStringLiteral("unit"), field->getUnit());
        fields.append(entry);
    }
    return {{QStringLiteral("message"), message->getMessageInfo()->getName()}, {QStringLiteral("fields"), fields}};
}

void Printer::describe(QTextStream &out, const FormatInfo *format, int messageNumber)
{
    auto numberOf = [](const MessageInfo *info) {
        for (const auto &d : info->getDiscriminants())
            if (d.field->getName() == QLatin1String("Message Number"))
                return int(d.value.toUnsigned());
        return -1;
    };
    const auto describeOne = [&out](const MessageInfo *info) {
        out << info->getName();
        if (!info->getShortDescriptiveText().isEmpty())
            out << " - " << info->getShortDescriptiveText();
        out << '\n';
        for (const FieldInfo *field : info->getFieldInfos()) {
            out << "  " << field->getName() << ": " << describeType(field) << '\n';
            for (const auto &symbol : field->getSymbolicValues())
                out << "      " << symbol.first.toString() << " = " << symbol.second << '\n';
        }
    };
    for (const MessageInfo *info : format->getMessageInfos())
        if (messageNumber < 0 || numberOf(info) == messageNumber)
            describeOne(info);
    if (messageNumber < 0)
        for (const MessageInfo *info : format->getSubMessageInfos())
            describeOne(info);
}
