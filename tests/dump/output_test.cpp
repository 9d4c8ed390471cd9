// rtcm3dump on the bundled sample, end to end: the text, JSON, raw and summary outputs, the
// message selection and the descriptions, each checked against the frames of the sample as
// found by the tests themselves.

#include "../support/dump_runner.h"
#include "../support/stream_frames.h"

#include "nuvrixrtcm3.h"
#include "FieldInfo.h"
#include "FormatInfo.h"
#include "MessageInfo.h"

#include <QtCore/QJsonArray>
#include <QtCore/QJsonDocument>
#include <QtCore/QJsonObject>
#include <QtCore/QRegularExpression>
#include <QtCore/QSet>

#include <gtest/gtest.h>

#include <functional>

namespace {

using dumprunner::run;

const QString kSample = QStringLiteral(NUVRIX_SAMPLE_STREAM);

const QList<QByteArray> &sampleFrames()
{
    static const QList<QByteArray> frames = streamframes::splitClean(streamframes::bundledSample()).frames;
    return frames;
}

QString nameOf(const QByteArray &frame)
{
    return QStringLiteral("Message Type %1").arg(streamframes::messageNumber(frame));
}

QStringList namesOf(const std::function<bool(int)> &kept)
{
    QStringList names;
    for (const QByteArray &frame : sampleFrames())
        if (kept(streamframes::messageNumber(frame)))
            names << nameOf(frame);
    return names;
}

QStringList unindented(const QStringList &lines)
{
    QStringList heads;
    for (const QString &line : lines)
        if (!line.startsWith(QLatin1Char(' ')))
            heads << line;
    return heads;
}

QString hexTail(const QByteArray &frame)
{
    return QString::fromLatin1(frame.right(3).toHex());
}

const MessageInfo *descriptionNamed(const QString &name)
{
    const FormatInfo *format = RTCM3_FormatInfo::getInstance();
    for (const QList<const MessageInfo *> &infos : {format->getMessageInfos(), format->getSubMessageInfos()})
        for (const MessageInfo *info : infos)
            if (info->getName() == name)
                return info;
    return nullptr;
}

class Sample : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_GT(sampleFrames().size(), 100) << "the sample stream " << kSample.toStdString() << " is missing or not clean";
    }
};

// ---- text -------------------------------------------------------------------------------

TEST_F(Sample, TextNamesEveryFrameInOrderAndIndentsNestedBlocks)
{
    const dumprunner::Run byDefault = run({});
    ASSERT_TRUE(byDefault.finished);
    EXPECT_EQ(byDefault.exitCode, 0) << byDefault.err.toStdString();
    EXPECT_TRUE(byDefault.err.isEmpty()) << byDefault.err.toStdString();
    const dumprunner::Run named = run({kSample});
    EXPECT_EQ(named.out, byDefault.out) << "without an input the bundled sample is decoded";

    const QStringList lines = byDefault.lines();
    EXPECT_EQ(unindented(lines), namesOf([](int) { return true; }));
    int nestedHeads = 0;
    for (qsizetype i = 0; i + 1 < lines.size(); ++i) {
        // A nested block: its head on the field level, its own fields two blanks deeper.
        if (!lines[i].startsWith(QLatin1String("  ")) || !lines[i].endsWith(QLatin1Char(':')))
            continue;
        ++nestedHeads;
        const qsizetype depth = lines[i].indexOf(QRegularExpression(QStringLiteral("\\S")));
        EXPECT_EQ(lines[i + 1].indexOf(QRegularExpression(QStringLiteral("\\S"))), depth + 2)
            << lines[i].toStdString() << " / " << lines[i + 1].toStdString();
    }
    EXPECT_GT(nestedHeads, 0);
    const int msmFrames = int(namesOf([](int n) { return n >= 1071 && n <= 1137; }).size());
    EXPECT_EQ(lines.count(QStringLiteral("  MSM Satellite Data:")), msmFrames);
    EXPECT_EQ(lines.count(QStringLiteral("  MSM Signal Data:")), msmFrames);
}

TEST_F(Sample, TextShowsInterpretedValuesWithTheirUnits)
{
    const dumprunner::Run text = run({kSample});
    ASSERT_EQ(text.exitCode, 0);
    // Broadcast ephemerides: a week number in weeks, clock and ephemeris epochs in seconds.
    const QRegularExpression week(QStringLiteral("^  Week Number: \\S+ week$"), QRegularExpression::MultilineOption);
    const QRegularExpression seconds(QStringLiteral("^  .+: -?[0-9.,]+ second$"), QRegularExpression::MultilineOption);
    EXPECT_TRUE(week.match(text.text()).hasMatch());
    EXPECT_TRUE(seconds.match(text.text()).hasMatch());
}

// ---- JSON -------------------------------------------------------------------------------

// Every field of an object and of its nested objects carries exactly its description's unit.
void expectUnitsOfDescriptions(const QJsonObject &object, QSet<QString> &units)
{
    const QString name = object.value(QStringLiteral("message")).toString();
    const MessageInfo *info = descriptionNamed(name);
    ASSERT_NE(info, nullptr) << name.toStdString();
    for (const QJsonValue &entry : object.value(QStringLiteral("fields")).toArray()) {
        const QJsonObject field = entry.toObject();
        const FieldInfo *description = info->findFieldInfo(field.value(QStringLiteral("name")).toString());
        ASSERT_NE(description, nullptr) << name.toStdString() << "::" << field.value(QStringLiteral("name")).toString().toStdString();
        EXPECT_EQ(field.value(QStringLiteral("unit")).toString(), description->getUnit());
        if (description->hasUnit())
            units << description->getUnit();
        const QJsonValue value = field.value(QStringLiteral("value"));
        if (value.isObject())
            expectUnitsOfDescriptions(value.toObject(), units);
        for (const QJsonValue &element : value.toArray())
            if (element.isObject())
                expectUnitsOfDescriptions(element.toObject(), units);
    }
}

QJsonValue fieldValue(const QJsonObject &object, const char *name)
{
    for (const QJsonValue &entry : object.value(QStringLiteral("fields")).toArray())
        if (entry.toObject().value(QStringLiteral("name")).toString() == QLatin1String(name))
            return entry.toObject().value(QStringLiteral("value"));
    return QJsonValue(QJsonValue::Undefined);
}

TEST_F(Sample, JsonIsOneParsableObjectPerFrameWithRawValuesAndUnits)
{
    const dumprunner::Run json = run({QStringLiteral("--json"), kSample});
    ASSERT_EQ(json.exitCode, 0) << json.err.toStdString();
    const QList<QByteArray> lines = json.out.split('\n');
    ASSERT_EQ(lines.size(), sampleFrames().size() + 1);
    EXPECT_TRUE(lines.last().isEmpty());
    QSet<QString> units;
    for (qsizetype i = 0; i < sampleFrames().size(); ++i) {
        SCOPED_TRACE(i);
        const QByteArray &frame = sampleFrames()[i];
        QJsonParseError error;
        const QJsonDocument document = QJsonDocument::fromJson(lines[i], &error);
        ASSERT_EQ(error.error, QJsonParseError::NoError) << error.errorString().toStdString();
        ASSERT_TRUE(document.isObject());
        const QJsonObject object = document.object();
        EXPECT_EQ(object.value(QStringLiteral("message")).toString(), nameOf(frame));
        // Raw values as sent: the header's length and number, the CRC bytes.
        EXPECT_EQ(fieldValue(object, "Message Number").toInteger(), streamframes::messageNumber(frame));
        EXPECT_EQ(fieldValue(object, "Message Length").toInteger(), streamframes::payloadLength(frame));
        EXPECT_EQ(fieldValue(object, "CRC").toArray(),
                  QJsonArray({int(uint8_t(frame[frame.size() - 3])), int(uint8_t(frame[frame.size() - 2])),
                              int(uint8_t(frame[frame.size() - 1]))}));
        const int number = streamframes::messageNumber(frame);
        if (number >= 1071 && number <= 1137) {
            EXPECT_EQ(fieldValue(object, "MSM Signal Data").toObject().value(QStringLiteral("message")).toString(),
                      QStringLiteral("MSM Signal Data"));
        }
        expectUnitsOfDescriptions(object, units);
    }
    EXPECT_TRUE(units.contains(QStringLiteral("week")));
    EXPECT_TRUE(units.contains(QStringLiteral("second")));
}

// ---- raw --------------------------------------------------------------------------------

TEST_F(Sample, RawIsOneLinePerFrameWithOneEntryPerField)
{
    const dumprunner::Run raw = run({QStringLiteral("--raw"), kSample});
    ASSERT_EQ(raw.exitCode, 0) << raw.err.toStdString();
    const QStringList lines = raw.lines();
    ASSERT_EQ(lines.size(), sampleFrames().size());
    for (qsizetype i = 0; i < lines.size(); ++i) {
        SCOPED_TRACE(lines[i].toStdString());
        const QByteArray &frame = sampleFrames()[i];
        const QStringList entries = lines[i].split(QLatin1Char(';'));
        ASSERT_EQ(entries.first(), nameOf(frame));
        EXPECT_EQ(entries.size() - 1, descriptionNamed(nameOf(frame))->getFieldCount());
        EXPECT_EQ(entries.last(), hexTail(frame));
        EXPECT_EQ(entries.value(4), QString::number(streamframes::messageNumber(frame)));
    }
}

// ---- summary and selection --------------------------------------------------------------

TEST_F(Sample, StatsCountEveryFrameOfTheSampleByType)
{
    const dumprunner::Run summary = run({QStringLiteral("--stats"), kSample});
    ASSERT_EQ(summary.exitCode, 0) << summary.err.toStdString();
    const dumprunner::Stats stats = dumprunner::parseStats(summary.lines());
    ASSERT_TRUE(stats.complete) << summary.text().toStdString();
    EXPECT_EQ(stats.frames, sampleFrames().size());
    EXPECT_EQ(stats.crcErrors, 0);
    EXPECT_EQ(stats.droppedBytes, 0);
    const QMap<int, int> counts = streamframes::countByNumber(sampleFrames());
    QMap<int, qint64> expected;
    for (auto it = counts.cbegin(); it != counts.cend(); ++it)
        expected.insert(it.key(), it.value());
    EXPECT_EQ(stats.decoded, expected);
    EXPECT_TRUE(stats.unknown.isEmpty());
    EXPECT_TRUE(stats.errors.isEmpty());
}

struct Selection
{
    QStringList options;
    std::function<bool(int)> passes;
};

// Frames left out by --only/--skip are counted as filtered, neither printed nor decoded.
TEST_F(Sample, OnlyAndSkipTakeRepeatedListsAndRanges)
{
    const QList<Selection> selections = {
        {{QStringLiteral("--only"), QStringLiteral("1005,1077")}, [](int n) { return n == 1077; }},
        {{QStringLiteral("--only"), QStringLiteral("1006, 1019"), QStringLiteral("--only=1020")},
         [](int n) { return n == 1006 || n == 1019 || n == 1020; }},
        {{QStringLiteral("--only"), QStringLiteral("1071-1077,1124")},
         [](int n) { return (n >= 1071 && n <= 1077) || n == 1124; }},
        {{QStringLiteral("--skip"), QStringLiteral("1019-1020"), QStringLiteral("--skip"), QStringLiteral("1077")},
         [](int n) { return n != 1019 && n != 1020 && n != 1077; }},
        {{QStringLiteral("--only"), QStringLiteral("1074,1084"), QStringLiteral("--skip"), QStringLiteral("1084")},
         [](int n) { return n == 1074; }},
    };
    for (const Selection &selection : selections) {
        SCOPED_TRACE(selection.options.join(QLatin1Char(' ')).toStdString());
        const dumprunner::Run text = run(selection.options + QStringList{kSample});
        ASSERT_EQ(text.exitCode, 0) << text.err.toStdString();
        EXPECT_EQ(unindented(text.lines()), namesOf(selection.passes));

        const dumprunner::Run summary = run(selection.options + QStringList{QStringLiteral("--stats"), kSample});
        ASSERT_EQ(summary.exitCode, 0);
        const dumprunner::Stats stats = dumprunner::parseStats(summary.lines());
        ASSERT_TRUE(stats.complete) << summary.text().toStdString();
        EXPECT_EQ(stats.frames, sampleFrames().size());
        QMap<int, qint64> decoded;
        qint64 filtered = 0;
        for (const QByteArray &frame : sampleFrames()) {
            const int n = streamframes::messageNumber(frame);
            if (selection.passes(n))
                ++decoded[n];
            else
                ++filtered;
        }
        EXPECT_EQ(stats.decoded, decoded);
        EXPECT_EQ(stats.filtered, filtered);
        EXPECT_TRUE(stats.errors.isEmpty());
    }
}

// ---- descriptions -----------------------------------------------------------------------

TEST(Describe, AllListsEveryMessageAndBlockDescriptionOnce)
{
    const dumprunner::Run described = run({QStringLiteral("--describe")});
    ASSERT_EQ(described.exitCode, 0) << described.err.toStdString();
    QStringList heads;
    for (const QString &head : unindented(described.lines()))
        heads << head.section(QStringLiteral(" - "), 0, 0);
    const FormatInfo *format = RTCM3_FormatInfo::getInstance();
    QStringList expected;
    for (const QList<const MessageInfo *> &infos : {format->getMessageInfos(), format->getSubMessageInfos()})
        for (const MessageInfo *info : infos)
            expected << info->getName();
    EXPECT_EQ(heads.size(), 133);
    EXPECT_EQ(heads, expected);
    EXPECT_TRUE(heads.contains(QStringLiteral("Message Type 1005")));
    EXPECT_TRUE(heads.contains(QStringLiteral("MSM Signal Data")));
}

// One message: its name and text, then every field in order with its wire type, scale, unit
// and symbolic values as its description has them.
TEST(Describe, OneMessageShowsItsFieldsAsDescribed)
{
    const QList<std::pair<int, const MessageInfo *>> messages = {
        {1005, RTCM3_Message_Type_1005_MessageInfo::getInstance()},
        {1019, RTCM3_Message_Type_1019_MessageInfo::getInstance()},
        {1077, RTCM3_Message_Type_1077_MessageInfo::getInstance()},
    };
    for (const auto &[number, info] : messages) {
        SCOPED_TRACE(number);
        const dumprunner::Run described = run({QStringLiteral("--describe"), QString::number(number)});
        ASSERT_EQ(described.exitCode, 0) << described.err.toStdString();
        const QStringList lines = described.lines();
        ASSERT_FALSE(lines.isEmpty());
        EXPECT_EQ(unindented(lines), QStringList{info->getName() + QStringLiteral(" - ") + info->getShortDescriptiveText()});
        QStringList fieldLines;
        int symbolLines = 0;
        for (const QString &line : lines) {
            if (line.startsWith(QLatin1String("   ")))
                ++symbolLines;
            else if (line.startsWith(QLatin1String("  ")))
                fieldLines << line.mid(2);
        }
        ASSERT_EQ(fieldLines.size(), info->getFieldCount());
        int symbols = 0;
        for (int k = 0; k < info->getFieldCount(); ++k) {
            const FieldInfo *field = info->getFieldInfo(k);
            SCOPED_TRACE(field->getName().toStdString());
            EXPECT_TRUE(fieldLines[k].startsWith(field->getName() + QStringLiteral(": ")));
            EXPECT_EQ(fieldLines[k].contains(QLatin1String("scale")), field->hasScaleFactor());
            if (field->hasUnit()) {
                EXPECT_TRUE(fieldLines[k].contains(field->getUnit()));
            }
            symbols += int(field->getSymbolicValues().size());
        }
        EXPECT_EQ(symbolLines, symbols);
    }
    // What the wire holds: ECEF-X of 1005 is a signed 38-bit field.
    const dumprunner::Run station = run({QStringLiteral("--describe"), QStringLiteral("1005")});
    EXPECT_TRUE(station.lines().contains(QStringLiteral("  ECEF-X: i38")));
}

TEST(Help, NamesEveryOptionAndExitsCleanly)
{
    const dumprunner::Run help = run({QStringLiteral("--help")});
    ASSERT_TRUE(help.finished);
    EXPECT_EQ(help.exitCode, 0);
    for (const char *option : {"--json", "--raw", "--stats", "--every", "--only", "--skip", "--save", "--timeout",
                               "--describe", "--version", "host:port"})
        EXPECT_TRUE(help.text().contains(QLatin1String(option))) << option;
    const dumprunner::Run version = run({QStringLiteral("--version")});
    EXPECT_EQ(version.exitCode, 0);
    EXPECT_TRUE(QRegularExpression(QStringLiteral("^rtcm3dump [0-9]+\\.[0-9]+\\.[0-9]+\n$")).match(version.text()).hasMatch())
        << version.text().toStdString();
}

} // namespace
