// rtcm3dump on the bundled sample, end to end: the text, JSON, raw and summary outputs, the
// message selection and the descriptions, each checked against the frames of the sample as
// found by the tests themselves.

#include "../support/dump_runner.h"
#include "../support/stream_frames.h"

#include "nuvrixrtcm3.h"
#include "FieldInfo.h"
#include "FormatInfo.h"
#include "MessageInfo.h"

#include <QtCore/QCryptographicHash>
#include <QtCore/QJsonArray>
#include <QtCore/QJsonDocument>
#include <QtCore/QJsonObject>
#include <QtCore/QRegularExpression>
#include <QtCore/QSet>

#include <gtest/gtest.h>

#include <functional>
#include <cmath>
#include <numeric>

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
    // Every heading names its message beside the number, as JSON does.
    QStringList heads;
    for (const QByteArray &line : run({QStringLiteral("--json")}).out.trimmed().split('\n')) {
        const QJsonObject o = QJsonDocument::fromJson(line).object();
        heads << QStringLiteral("Message Type %1 (%2)").arg(o.value(QStringLiteral("number")).toInt()).arg(o.value(QStringLiteral("name")).toString());
    }
    EXPECT_EQ(byDefault.heads(), heads);
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

// ---- JSON -------------------------------------------------------------------------------

TEST_F(Sample, JsonIsOneParsableObjectPerFrameKeyedByRecordMembers)
{
    const dumprunner::Run json = run({QStringLiteral("--json"), kSample});
    ASSERT_EQ(json.exitCode, 0) << json.err.toStdString();
    const QList<QByteArray> lines = json.out.split('\n');
    ASSERT_EQ(lines.size(), sampleFrames().size() + 1);
    EXPECT_TRUE(lines.last().isEmpty());
    for (qsizetype i = 0; i < sampleFrames().size(); ++i) {
        SCOPED_TRACE(i);
        const QByteArray &frame = sampleFrames()[i];
        QJsonParseError error;
        const QJsonDocument document = QJsonDocument::fromJson(lines[i], &error);
        ASSERT_EQ(error.error, QJsonParseError::NoError) << error.errorString().toStdString();
        const QJsonObject object = document.object();
        // "number" and "name" lead; the frame's header and CRC are not fields of the record.
        EXPECT_TRUE(lines[i].startsWith("{\"number\":" + QByteArray::number(streamframes::messageNumber(frame)) + ",\"name\":"));
        EXPECT_FALSE(object.contains(QStringLiteral("Message_Length")));
        EXPECT_FALSE(object.contains(QStringLiteral("CRC")));
        const int number = streamframes::messageNumber(frame);
        if (number >= 1071 && number <= 1137) {
            // 64-bit masks as hexadecimal text: JSON numbers lose them above 2^53.
            EXPECT_TRUE(object.value(QStringLiteral("Satellite_Mask")).toString().startsWith(QLatin1String("0x")));
            EXPECT_TRUE(object.value(QStringLiteral("MSM_Signal_Data")).isObject());
        }
        if (number == 1019) {  // scaled: seconds, not the raw count of 2^-31 s
            EXPECT_LT(std::fabs(object.value(QStringLiteral("a_f0")).toDouble()), 1e-2);
        }
    }
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

QMap<int, qint64> countsOf(const std::function<bool(int)> &kept)
{
    QMap<int, qint64> counts;
    for (const QByteArray &frame : sampleFrames())
        counts[streamframes::messageNumber(frame)] += kept(streamframes::messageNumber(frame));
    counts.removeIf([](const auto &entry) { return entry.value() == 0; });
    return counts;
}

// The text summary and its JSON twin count every frame of the sample by type.
TEST_F(Sample, StatsCountEveryFrameOfTheSampleByType)
{
    const dumprunner::Run text = run({QStringLiteral("--stats"), kSample});
    const dumprunner::Run json = run({QStringLiteral("--stats"), QStringLiteral("--json"), kSample});
    ASSERT_EQ(text.exitCode, 0) << text.err.toStdString();
    const QStringList lines = text.lines();
    ASSERT_FALSE(lines.isEmpty());
    EXPECT_EQ(lines.first(), QStringLiteral("frames: %1").arg(sampleFrames().size()));
    QMap<int, qint64> textCounts;
    for (qsizetype i = lines.indexOf(QStringLiteral("decoded by message type:")) + 1;
         i > 0 && i < lines.size() && lines[i].startsWith(QLatin1Char(' ')); ++i)
        textCounts.insert(lines[i].section(QLatin1Char(':'), 0, 0).toInt(), lines[i].section(QLatin1Char(':'), 1).toLongLong());
    const QMap<int, qint64> all = countsOf([](int) { return true; });
    EXPECT_EQ(textCounts, all);
    for (const char *line : {"CRC errors: 0", "dropped bytes: 0", "filtered frames: 0", "empty frames: 0",
                             "unknown message numbers: none", "decode errors: none"})
        EXPECT_TRUE(lines.contains(QLatin1String(line))) << line;

    const QJsonObject stats = json.summary();
    EXPECT_EQ(stats.value(QStringLiteral("frames")).toInteger(), sampleFrames().size());
    EXPECT_EQ(dumprunner::byNumber(stats.value(QStringLiteral("decoded"))), all);
    EXPECT_EQ(stats.value(QStringLiteral("stations")).toArray(), QJsonArray{dumprunner::stationOf(sampleFrames()[0])});
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
        EXPECT_EQ(text.heads().replaceInStrings(QRegularExpression(QStringLiteral(" \\(.*")), QString()), namesOf(selection.passes));

        const QJsonObject stats = run(selection.options + QStringList{QStringLiteral("--stats"), QStringLiteral("--json"), kSample}).summary();
        EXPECT_EQ(stats.value(QStringLiteral("frames")).toInteger(), sampleFrames().size());
        const QMap<int, qint64> decoded = countsOf(selection.passes);
        EXPECT_EQ(dumprunner::byNumber(stats.value(QStringLiteral("decoded"))), decoded);
        EXPECT_EQ(stats.value(QStringLiteral("filteredFrames")).toInteger(),
                  sampleFrames().size() - std::accumulate(decoded.cbegin(), decoded.cend(), qint64(0)));
        EXPECT_TRUE(stats.value(QStringLiteral("errors")).toObject().isEmpty());
    }
}

// ---- descriptions -----------------------------------------------------------------------

// What every output printed for the bundled sample when the road was last reworked for
// speed, as the start of its SHA-256: work on speed must not change a byte. A deliberate change
// of an output (or of the sample generator) updates its row with the hash the failure gives.
TEST(SampleOutputs, AreByteForByteWhatTheyWere)
{
    const struct
    {
        QStringList options;
        const char *hash;
    } outputs[] = {
        {{}, "81ecec4c6c6d242d"},
        {{QStringLiteral("--json")}, "918376bc8c5431f5"},
        {{QStringLiteral("--raw")}, "ba82c8f7d3d300cc"},
        {{QStringLiteral("--stats")}, "51474e966b48a63a"},
        {{QStringLiteral("--stats"), QStringLiteral("--json")}, "4903c1458220192e"},
        {{QStringLiteral("--obs")}, "112a62e3cbf034c6"},
        {{QStringLiteral("--obs"), QStringLiteral("--json")}, "253d714ec9686bf6"},
    };
    for (const auto &output : outputs) {
        const dumprunner::Run result = run(output.options + QStringList{kSample});
        const QByteArray hash = QCryptographicHash::hash(result.out, QCryptographicHash::Sha256).toHex().left(16);
        EXPECT_EQ(hash, QByteArray(output.hash)) << output.options.join(QLatin1Char(' ')).toStdString();
    }
}

TEST(Describe, ListsEveryDescriptionOrOneMessageFieldByField)
{
    const dumprunner::Run described = run({QStringLiteral("--describe")});
    ASSERT_EQ(described.exitCode, 0) << described.err.toStdString();
    QStringList heads;
    for (const QString &head : described.heads())
        heads << head.section(QStringLiteral(" - "), 0, 0);
    const FormatInfo *format = RTCM3_FormatInfo::getInstance();
    QStringList expected;
    for (const QList<const MessageInfo *> &infos : {format->getMessageInfos(), format->getSubMessageInfos()})
        for (const MessageInfo *info : infos)
            expected << info->getName();
    EXPECT_EQ(heads, expected);

    const MessageInfo *info = RTCM3_Message_Type_1005_MessageInfo::getInstance();
    const QStringList lines = run({QStringLiteral("--describe"), QStringLiteral("1005")}).lines();
    ASSERT_EQ(lines.size(), 1 + info->getFieldCount() + 6);  // head, fields, symbols of two fields
    EXPECT_EQ(lines.first(), info->getName() + QStringLiteral(" - ") + info->getShortDescriptiveText());
    EXPECT_TRUE(lines.contains(QStringLiteral("  ECEF-X: i38"))) << "what the wire holds: a signed 38-bit field";
    EXPECT_TRUE(lines.contains(QStringLiteral("      01 = Virtual")));
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
