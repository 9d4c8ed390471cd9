#include "Printer.h"

#include "Output.h"

#include "FieldInfo.h"
#include "FieldValue.h"
#include "FormatInfo.h"
#include "Message.h"
#include "MessageInfo.h"
#include "RTCM3RecordWriter.h"
#include "RTCM3_codec.h"
#include "RTCM3_extension.h"
#include "TextEscape.h"

#include <QtCore/QHash>
#include <QtCore/QStringList>

#include <charconv>
#include <string>

namespace {

bool isText(const FieldInfo *field) { return field->getType().kind() == FieldType::Char; }

// The characters of a text field as they came: the descriptions hand them over one byte per
// Latin-1 character.
QByteArray textBytes(const FieldInfo *field, const Message *message)
{
    return field->getValueString(message).toLatin1();
}

QString head(const Frame &frame)
{
    switch (frame.kind) {
    case Frame::Kind::Decoded:
        return frame.message->getMessageInfo()->getName();
    case Frame::Kind::Undescribed:
        return QStringLiteral("Message Type %1").arg(frame.number);
    case Frame::Kind::Unknown:
        return QStringLiteral("Unknown Message Type %1").arg(frame.number);
    case Frame::Kind::Failed:
        return QStringLiteral("Undecodable Message Type %1").arg(frame.number);
    case Frame::Kind::Empty:
        break;
    }
    return QStringLiteral("Empty Frame");
}

QString recordName(const Frame &frame)
{
    return QString::fromLatin1(Kvt::Nuvrix::RTCM3_any_enum_to_string(frame.enumerator));
}

QString errorName(const Frame &frame)
{
    return QString::fromLatin1(Kvt::Nuvrix::RTCM3_any_error_to_string(frame.result));
}

void appendNumber(std::string &out, long long value)
{
    char text[24];
    const auto r = std::to_chars(text, text + sizeof text, value);
    out.append(text, r.ptr);
}

// head() into a line, without a string of its own: every frame that gave no record has one.
void appendHead(std::string &out, const Frame &frame)
{
    const char *prefix = nullptr;
    switch (frame.kind) {
    case Frame::Kind::Decoded:
        out += frame.message->getMessageInfo()->getName().toStdString();
        return;
    case Frame::Kind::Undescribed:
        prefix = "Message Type ";
        break;
    case Frame::Kind::Unknown:
        prefix = "Unknown Message Type ";
        break;
    case Frame::Kind::Failed:
        prefix = "Undecodable Message Type ";
        break;
    case Frame::Kind::Empty:
        out += "Empty Frame";
        return;
    }
    out += prefix;
    appendNumber(out, frame.number);
}

// The payload in lower-case hexadecimal, as QByteArray::toHex() writes it.
void appendPayloadHex(std::string &out, const Frame &frame)
{
    static constexpr char kDigits[] = "0123456789abcdef";
    const QByteArray &bytes = frame.bytes;
    const qsizetype length = bytes.size() - 6;
    for (qsizetype i = 0; i < length; ++i) {
        const auto byte = static_cast<unsigned char>(bytes[3 + i]);
        out += kDigits[byte >> 4];
        out += kDigits[byte & 15];
    }
}

// Why a frame gave no record, for the "error" member of its JSON line.
const char *errorText(const Frame &frame)
{
    switch (frame.kind) {
    case Frame::Kind::Failed:
        return Kvt::Nuvrix::RTCM3_any_error_to_string(frame.result);
    case Frame::Kind::Unknown:
        return "unknown message number";
    case Frame::Kind::Empty:
        return "payload too short for a message number";
    default:
        return "no record";
    }
}

QString payloadHex(const Frame &frame)
{
    return QString::fromLatin1(frame.payload().toHex());
}

// ---- text ----------------------------------------------------------------------------

// Indented lines per frame, written straight from the record through the tables that JSON
// uses, into one buffer per frame: no descriptions, no locale, no host objects.
class TextPrinter : public Printer
{
public:
    explicit TextPrinter(OutputDevice &device) : Printer(device) { mText.reserve(64 * 1024); }

    void frame(const Frame &frame) override
    {
        mText.clear();
        if (frame.record && Kvt::Nuvrix::reflect::appendText(mText, *frame.record)) {
            if (frame.trailingBytes > 0) {
                mText += "  Bytes After Last Field: ";
                appendNumber(mText, frame.trailingBytes);
                mText += '\n';
            }
        } else {
            appendUndecoded(frame);
        }
        mDevice.write(mText.data(), qint64(mText.size()));
    }

private:
    std::string mText;

    // A frame that gave no record: what it is, why, and its payload.
    void appendUndecoded(const Frame &frame)
    {
        appendHead(mText, frame);
        if (frame.kind == Frame::Kind::Failed) {
            mText += "\n  Error: ";
            mText += Kvt::Nuvrix::RTCM3_any_error_to_string(frame.result);
        }
        mText += "\n  Payload: ";
        if (frame.bytes.size() > 6)
            appendPayloadHex(mText, frame);
        else
            mText += "none";
        mText += '\n';
    }
};

// ---- raw -----------------------------------------------------------------------------

class RawPrinter : public Printer
{
public:
    explicit RawPrinter(OutputDevice &device) : Printer(device) {}

    void frame(const Frame &frame) override
    {
        const QString &separator = Message::fieldSeparator;
        mOut << head(frame);
        switch (frame.kind) {
        case Frame::Kind::Decoded:
            mOut << separator << rawLine(frame.message) << '\n';
            return;
        case Frame::Kind::Undescribed:
            mOut << separator << frame.number << separator << recordName(frame);
            break;
        case Frame::Kind::Failed:
            mOut << separator << frame.number << separator << errorName(frame);
            break;
        case Frame::Kind::Unknown:
            mOut << separator << frame.number;
            break;
        case Frame::Kind::Empty:
            break;
        }
        mOut << separator << payloadHex(frame) << '\n';
    }

private:
    // One line whatever the stream's text holds: text fields are escaped, the separator
    // among them, so that a field can neither end the line nor forge another field.
    QString rawLine(const Message *message)
    {
        const MessageInfo *info = message->getMessageInfo();
        if (!hasText(info))
            return message->getRawString();
        const QList<const FieldInfo *> &fields = info->getFieldInfos();
        const char separator = Message::fieldSeparator.size() == 1 ? Message::fieldSeparator.at(0).toLatin1() : ';';
        QStringList entries;
        QList<bool> selection(fields.size(), false);
        for (qsizetype k = 0; k < fields.size(); ++k) {
            if (isText(fields[k])) {
                entries << (fields[k]->isPresent(message) ? escaped(textBytes(fields[k], message), separator) : QString());
                continue;
            }
            selection[k] = true;
            entries << message->getRawStringFor(selection);
            selection[k] = false;
        }
        return entries.join(Message::fieldSeparator);
    }

    bool hasText(const MessageInfo *info)
    {
        auto found = mHasText.constFind(info);
        if (found == mHasText.cend()) {
            bool any = false;
            for (const FieldInfo *field : info->getFieldInfos())
                any = any || isText(field);
            found = mHasText.insert(info, any);
        }
        return found.value();
    }

    QHash<const MessageInfo *, bool> mHasText;
};

// ---- JSON ----------------------------------------------------------------------------

// One line per frame, written straight from the record by the codec's streaming writer: no
// document objects, no detour through UTF-16.
class JsonPrinter : public Printer
{
public:
    explicit JsonPrinter(OutputDevice &device) : Printer(device) { mLine.reserve(64 * 1024); }

    void frame(const Frame &frame) override
    {
        using namespace Kvt::Nuvrix;
        mLine.clear();
        if (frame.record && reflect::appendJson(mLine, *frame.record)) {
            if (frame.trailingBytes > 0) {
                mLine.pop_back();  // the closing brace
                mLine += ",\"trailingBytes\":";
                appendNumber(mLine, frame.trailingBytes);
                mLine += '}';
            }
        } else {
            // Frames that gave no record: their number, what they are, and the payload.
            mLine += '{';
            if (frame.number >= 0) {
                mLine += "\"number\":";
                appendNumber(mLine, frame.number);
                mLine += ',';
            }
            mLine += "\"name\":";
            mName.clear();
            appendHead(mName, frame);
            Kvt::Text::appendJsonString(mLine, mName);
            mLine += ",\"error\":";
            Kvt::Text::appendJsonString(mLine, errorText(frame));
            mLine += ",\"payload\":\"";
            appendPayloadHex(mLine, frame);
            mLine += "\"}";
        }
        mLine += '\n';
        mDevice.write(mLine.data(), qint64(mLine.size()));
    }

private:
    std::string mLine;
    std::string mName;  // of a frame that gave no record, before it is escaped
};

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

std::unique_ptr<Printer> Printer::create(Style style, OutputDevice &device)
{
    switch (style) {
    case Style::Json:
        return std::make_unique<JsonPrinter>(device);
    case Style::Raw:
        return std::make_unique<RawPrinter>(device);
    case Style::Text:
        break;
    }
    return std::make_unique<TextPrinter>(device);
}

Printer::Printer(OutputDevice &device)
    : mDevice(device), mOut(&device)
{
}

Printer::~Printer()
{
    mOut.flush();
}

void Printer::flush()
{
    mOut.flush();
    mDevice.flush();
}

QString Printer::writeError() const
{
    return mDevice.failure();
}

QString Printer::escaped(const QByteArray &bytes, char delimiter)
{
    std::string text;
    Kvt::Text::appendEscaped(text, std::string_view(bytes.constData(), std::size_t(bytes.size())), delimiter);
    return QString::fromStdString(text);
}

int Printer::describe(QTextStream &out, const FormatInfo *format, int messageNumber)
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
    int shown = 0;
    for (const MessageInfo *info : format->getMessageInfos()) {
        if (messageNumber < 0 || numberOf(info) == messageNumber) {
            describeOne(info);
            ++shown;
        }
    }
    if (messageNumber < 0)
        for (const MessageInfo *info : format->getSubMessageInfos())
            describeOne(info);
    return shown;
}
