// Nothing is dropped silently: every CRC-checked frame has its block in the text, its object
// in JSON and its line in the raw output, in order, whatever became of it in the decoder; and
// text from the stream cannot break a line or reach the terminal as a control sequence.

#include "../support/dump_runner.h"
#include "../support/random_record.h"

#include "nuvrixrtcm3.h"
#include "FieldInfo.h"
#include "FieldValue.h"
#include "FormatInfo.h"
#include "HostObserver.h"
#include "Message.h"
#include "MessageInfo.h"
#include "RTCM3Decoder.h"
#include "RTCM3_layout.h"

#include <QtCore/QFile>
#include <QtCore/QJsonArray>
#include <QtCore/QJsonDocument>
#include <QtCore/QJsonObject>
#include <QtCore/QRegularExpression>
#include <QtCore/QSet>
#include <QtCore/QTemporaryDir>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

namespace {

using dumprunner::frame;
using dumprunner::run;

struct Case
{
    QByteArray frame;
    QString head;
    QString detail;    // the block's line that says what became of the frame; empty if none
    QString payload;   // hexadecimal payload of a frame that gave no message
};

QString hexOf(const QByteArray &frame)
{
    return QString::fromLatin1(frame.mid(3, frame.size() - 6).toHex());
}

// Message records that the codec decodes but no host description shows, one frame each.
QList<Case> undescribedCases()
{
    using namespace Kvt::Nuvrix;
    QSet<int> described;
    for (const MessageInfo *info : RTCM3_FormatInfo::getInstance()->getMessageInfos())
        for (const auto &d : info->getDiscriminants())
            if (d.field->getName() == QLatin1String("Message Number"))
                described << int(d.value.toUnsigned());
    QList<Case> cases;
    for (int e = 1; const layout::RecordLayout *l = RTCM3_layout(e); ++e) {
        if (l->messageNumber == 0 || described.contains(l->messageNumber))
            continue;
        _RTCM3_message_t record;
        std::memset(&record, 0, sizeof record);
        layout::initRecord(*l, &record);
        uint8_t buffer[1100] = {};
        const int32_t bits = RTCM3_encode_message(buffer, sizeof buffer, &record);
        const QByteArray bytes(reinterpret_cast<const char *>(buffer), bits > 0 ? bits / 8 : 0);
        cases.append({bytes, QStringLiteral("Message Type %1").arg(l->messageNumber), QString(), hexOf(bytes)});
    }
    return cases;
}

class Frames : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(mDir.isValid());
        const QByteArray station = streamframes::splitClean(streamframes::bundledSample()).frames.value(0);
        ASSERT_EQ(streamframes::messageNumber(station), 1006);
        const QByteArray payload = station.mid(3, station.size() - 6);
        const QByteArray unknown = frame(QByteArray::fromHex("3e7012"));
        const QByteArray truncated = frame(payload.left(6));
        mCases = {
            {station, QStringLiteral("Message Type 1006"), QString(), QString()},
            {unknown, QStringLiteral("Unknown Message Type 999"), QString(), hexOf(unknown)},
            {truncated, QStringLiteral("Undecodable Message Type 1006"), QStringLiteral("  Error: RTCM3_ERR_MESSAGE_TYPE_1006_"), hexOf(truncated)},
            {frame(QByteArray()), QStringLiteral("Empty Frame"), QString(), QString()},
            // One byte: a number read from it would borrow bits of the CRC.
            {frame(QByteArray::fromHex("3e")), QStringLiteral("Empty Frame"), QString(), QStringLiteral("3e")},
            {frame(payload + QByteArray::fromHex("aabbcc")), QStringLiteral("Message Type 1006"),
             QStringLiteral("  Bytes After Last Field: 3"), QString()},
        };
        const QList<Case> undescribed = undescribedCases();
        ASSERT_FALSE(undescribed.isEmpty());
        mCases += undescribed;
        QByteArray stream;
        for (const Case &c : mCases) {
            ASSERT_FALSE(c.frame.isEmpty()) << c.head.toStdString();
            stream += c.frame;
        }
        mStream = mDir.filePath(QStringLiteral("frames.rtcm3"));
        QFile file(mStream);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly) && file.write(stream) == stream.size());
    }

    QTemporaryDir mDir;
    QList<Case> mCases;
    QString mStream;
};

TEST_F(Frames, EveryFrameHasItsBlockInTextJsonAndRawInOrder)
{
    const dumprunner::Run text = run({mStream});
    ASSERT_EQ(text.exitCode, 0) << text.err.toStdString();
    QList<QStringList> blocks;
    for (const QString &line : text.lines()) {
        if (!line.startsWith(QLatin1Char(' ')))
            blocks.append(QStringList());
        blocks.last() << line;
    }
    const dumprunner::Run json = run({QStringLiteral("--json"), mStream});
    const QList<QByteArray> objects = json.out.trimmed().split('\n');
    const dumprunner::Run raw = run({QStringLiteral("--raw"), mStream});
    const QStringList rawLines = raw.lines();
    ASSERT_EQ(blocks.size(), mCases.size());
    ASSERT_EQ(objects.size(), mCases.size());
    ASSERT_EQ(rawLines.size(), mCases.size());

    for (qsizetype i = 0; i < mCases.size(); ++i) {
        const Case &c = mCases[i];
        SCOPED_TRACE(c.head.toStdString());
        EXPECT_EQ(blocks[i].first().section(QLatin1String(" ("), 0, 0), c.head);
        if (!c.detail.isEmpty()) {
            EXPECT_TRUE(std::any_of(blocks[i].cbegin(), blocks[i].cend(), [&](const QString &l) { return l.startsWith(c.detail); }))
                << blocks[i].join(QLatin1Char('\n')).toStdString();
        }
        const QJsonObject object = QJsonDocument::fromJson(objects[i]).object();
        EXPECT_EQ(object.value(QStringLiteral("number")).toInt(-1), streamframes::payloadLength(c.frame) >= 2
                                                                        ? streamframes::messageNumber(c.frame) : -1);
        EXPECT_EQ(rawLines[i].section(QLatin1Char(';'), 0, 0), c.head);
        if (c.head.startsWith(QLatin1String("Message Type ")))
            continue;  // a decoded record: its fields, not its payload
        EXPECT_EQ(object.value(QStringLiteral("name")).toString(), c.head);
        const QString hex = c.payload.isEmpty() ? QStringLiteral("none") : c.payload;
        EXPECT_TRUE(blocks[i].contains(QStringLiteral("  Payload: ") + hex)) << blocks[i].join(QLatin1Char('\n')).toStdString();
        EXPECT_EQ(object.value(QStringLiteral("payload")).toString(), c.payload);
        EXPECT_EQ(rawLines[i].section(QLatin1Char(';'), -1), c.payload);
    }
    const QJsonObject trailing = QJsonDocument::fromJson(objects[5]).object();
    EXPECT_EQ(trailing.value(QStringLiteral("trailingBytes")).toInt(), 3);
    EXPECT_TRUE(QJsonDocument::fromJson(objects[2]).object().value(QStringLiteral("error")).toString().endsWith(
        QLatin1String("_EXT_BUFFER_OVERFLOW")));

    const QJsonObject stats = run({QStringLiteral("--stats"), QStringLiteral("--json"), mStream}).summary();
    EXPECT_EQ(stats.value(QStringLiteral("frames")).toInteger(), mCases.size());
    EXPECT_EQ(stats.value(QStringLiteral("emptyFrames")).toInteger(), 2);
    EXPECT_EQ(stats.value(QStringLiteral("framesWithBytesAfterLastField")).toInteger(), 1);
    EXPECT_EQ(dumprunner::byNumber(stats.value(QStringLiteral("unknown"))), (QMap<int, qint64>{{999, 1}}));
    EXPECT_EQ(stats.value(QStringLiteral("errors")).toObject().size(), 1);
    const QMap<int, qint64> decoded = dumprunner::byNumber(stats.value(QStringLiteral("decoded")));
    EXPECT_EQ(decoded.value(1006), 2);
    EXPECT_EQ(decoded.size(), mCases.size() - 5);  // 1006 and each undescribed number
    EXPECT_EQ(stats.value(QStringLiteral("stations")).toArray(), QJsonArray{dumprunner::stationOf(mCases[0].frame)});
}

// An unknown number is selected like any other; --save keeps exactly the frames selected.
TEST_F(Frames, SelectionReachesUnknownNumbersAndTheRecording)
{
    const QString saved = mDir.filePath(QStringLiteral("saved.rtcm3"));
    const dumprunner::Run text = run({QStringLiteral("--only"), QStringLiteral("999,1000-1006"),
                                      QStringLiteral("--save"), saved, mStream});
    ASSERT_EQ(text.exitCode, 0) << text.err.toStdString();
    QStringList heads;
    QByteArray kept;
    for (const Case &c : mCases) {
        if (c.head.endsWith(QLatin1String(" 999")) || c.head.endsWith(QLatin1String(" 1006"))) {
            heads << c.head;
            kept += c.frame;
        }
    }
    EXPECT_EQ(text.heads().replaceInStrings(QRegularExpression(QStringLiteral(" \\(.*")), QString()), heads);
    EXPECT_EQ(streamframes::readFile(saved), kept);

    const QJsonObject stats = run({QStringLiteral("--skip"), QStringLiteral("999"), QStringLiteral("--stats"),
                                   QStringLiteral("--json"), mStream}).summary();
    EXPECT_EQ(stats.value(QStringLiteral("filteredFrames")).toInteger(), 1);
    EXPECT_TRUE(stats.value(QStringLiteral("unknown")).toObject().isEmpty());
    EXPECT_EQ(stats.value(QStringLiteral("emptyFrames")).toInteger(), 2) << "empty frames pass --skip";
}

// ---- text from strangers -----------------------------------------------------------------

struct Hostile
{
    QByteArray descriptor;
    QString text;  // between the quotes of the text output
    QString raw;   // between the separators of the raw line
    QString json;  // the JSON string's value: UTF-8 as sent, other bytes as Latin-1, all escaped on the wire
};

Hostile same(const QByteArray &descriptor, const QString &escaped)
{
    return {descriptor, escaped, escaped, QString::fromUtf8(descriptor)};
}

// An antenna descriptor (1007) of station 291 holding `descriptor`.
QByteArray antennaFrame(const QByteArray &descriptor)
{
    return frame(QByteArray::fromHex("3ef123") + char(descriptor.size()) + descriptor + char(0));
}

// No byte that a terminal takes as a control: C0 (but the line feed), DEL, C1 in UTF-8.
bool printable(const QByteArray &out)
{
    for (qsizetype i = 0; i < out.size(); ++i) {
        const uchar c = uchar(out[i]);
        if ((c < 0x20 && c != '\n') || c == 0x7F)
            return false;
        if (c == 0xC2 && i + 1 < out.size() && uchar(out[i + 1]) >= 0x80 && uchar(out[i + 1]) <= 0x9F)
            return false;
    }
    return QString::fromUtf8(out).toUtf8() == out;  // well-formed UTF-8
}

TEST(Strangers, TextFieldsCannotForgeLinesOrSendControlSequences)
{
    const QList<Hostile> rows = {
        same("AB\nMessage Type 1005\r\n", QStringLiteral("AB\\x0aMessage Type 1005\\x0d\\x0a")),
        same("\x1b[2J\x07\x7f", QStringLiteral("\\x1b[2J\\x07\\x7f")),
        same("\xc2\x9b" "31m", QStringLiteral("\\u009b31m")),   // CSI as UTF-8
        {"\x9b" "31m", QStringLiteral("\\x9b31m"), QStringLiteral("\\x9b31m"), QStringLiteral("\u009b31m")},  // CSI as one byte
        same("caf\xc3\xa9", QStringLiteral("caf\u00e9")),        // UTF-8 stays
        {"\xff\xed\xa0\x80\xe0\x80\xaf", QStringLiteral("\\xff\\xed\\xa0\\x80\\xe0\\x80\\xaf"),
         QStringLiteral("\\xff\\xed\\xa0\\x80\\xe0\\x80\\xaf"), QString::fromLatin1("\xff\xed\xa0\x80\xe0\x80\xaf")},
        {"a\\b\"c;d", QStringLiteral("a\\\\b\\x22c;d"), QStringLiteral("a\\\\b\"c\\x3bd"), QStringLiteral("a\\b\"c;d")},
    };
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("hostile.rtcm3"));
    QByteArray stream;
    for (const Hostile &row : rows)
        stream += antennaFrame(row.descriptor);
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly) && file.write(stream) == stream.size());
    file.close();

    const dumprunner::Run text = run({path});
    const dumprunner::Run raw = run({QStringLiteral("--raw"), path});
    const dumprunner::Run json = run({QStringLiteral("--json"), path});
    const dumprunner::Run obs = run({QStringLiteral("--obs"), path});
    const dumprunner::Run obsJson = run({QStringLiteral("--obs"), QStringLiteral("--json"), path});
    const int fields = RTCM3_Message_Type_1007_MessageInfo::getInstance()->getFieldCount();
    QStringList texts;
    for (const QString &line : text.lines())
        if (line.startsWith(QLatin1String("  Antenna Descriptor: ")))
            texts << line.section(QLatin1Char('"'), 1, -2);
    ASSERT_EQ(text.heads().size(), rows.size()) << text.text().toStdString();
    ASSERT_EQ(texts.size(), rows.size());
    ASSERT_EQ(raw.lines().size(), rows.size());
    const QList<QByteArray> objects = json.out.trimmed().split('\n');
    ASSERT_EQ(objects.size(), rows.size());
    const QList<QByteArray> obsObjects = obsJson.out.trimmed().split('\n');
    ASSERT_EQ(obsObjects.size(), rows.size());
    ASSERT_EQ(obs.lines().size(), rows.size());
    for (const dumprunner::Run *output : {&text, &raw, &json, &obs, &obsJson})
        EXPECT_TRUE(printable(output->out)) << output->out.toStdString();

    for (qsizetype i = 0; i < rows.size(); ++i) {
        SCOPED_TRACE(rows[i].raw.toStdString());
        EXPECT_EQ(texts[i], rows[i].text);
        const QStringList entries = raw.lines()[i].split(QLatin1Char(';'));
        EXPECT_EQ(entries.size(), fields + 1);
        EXPECT_EQ(entries.value(7), rows[i].raw);  // the name, then the fields up to the descriptor
        EXPECT_EQ(obs.lines()[i].section(QLatin1Char('"'), 1, -2), rows[i].text);
        for (const QByteArray &line : {objects[i], obsObjects[i]}) {
            QJsonParseError error;
            const QJsonObject object = QJsonDocument::fromJson(line, &error).object();
            EXPECT_EQ(error.error, QJsonParseError::NoError) << line.toStdString();
            const QString key = QLatin1String(line == objects[i] ? "Antenna_Descriptor" : "antenna");
            EXPECT_EQ(object.value(key).toString(), rows[i].json) << line.toStdString();
        }
    }
}

// The stations as the host descriptions show them.
class StationsSeen : public HostObserver
{
public:
    void message(const MessageSource *, const Message *message) override
    {
        const FieldInfo *field = message->getMessageInfo()->findFieldInfo(QStringLiteral("Reference Station ID"));
        if (field && field->isPresent(message))
            ids.insert(int(field->getValue(message, 0).toUnsigned()));
    }
    QSet<int> ids;
};

// The summary reads stations from the records without host objects: over a random frame of
// every message type and a copy with bits flipped (its number and station among them), it
// lists exactly the stations the descriptions show.
TEST(Stations, SummaryListsWhatTheDescriptionsShowOverEveryTypeAndMutatedFrames)
{
    std::mt19937_64 rng(18);
    RTCM3Decoder decoder;
    StationsSeen seen;
    decoder.setObserver(&seen);
    QByteArray stream;
    for (const int e : randomrecord::messageEnumerators()) {
        const std::vector<uint8_t> bytes = randomrecord::randomFrame(e, rng, 2).frame;
        if (bytes.size() < 12)
            continue;
        const QByteArray payload(reinterpret_cast<const char *>(bytes.data()) + 3, qsizetype(bytes.size()) - 6);
        QByteArray mutated = payload;
        mutated[qsizetype(rng() % 6)] ^= char(1u << (rng() % 8));
        mutated[qsizetype(rng() % uint64_t(mutated.size()))] ^= char(1u << (rng() % 8));
        for (const QByteArray &bytesOfPayload : {payload, mutated}) {
            const QByteArray f = frame(bytesOfPayload);
            decoder.decodeMessage(reinterpret_cast<const uint8_t *>(f.constData()), uint(f.size()));
            stream += f;
        }
    }
    decoder.setObserver(nullptr);
    QList<int> ids = seen.ids.values();
    std::sort(ids.begin(), ids.end());
    QJsonArray expected;
    for (const int id : ids)
        expected.append(id);
    ASSERT_GT(expected.size(), 50);
    QTemporaryDir dir;
    QFile file(dir.filePath(QStringLiteral("random.rtcm3")));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly) && file.write(stream) == stream.size());
    file.close();
    const QJsonObject stats = run({QStringLiteral("--stats"), QStringLiteral("--json"), file.fileName()}).summary();
    EXPECT_EQ(stats.value(QStringLiteral("stations")).toArray(), expected);
}

} // namespace
