// rtcm3dump's engineering outputs end to end on the bundled sample: observation epochs as
// text and JSON, and RINEX files that read back with every epoch.

#include "../support/dump_runner.h"
#include "../support/rinex_reader.h"
#include "../support/stream_frames.h"

#include <QtCore/QDir>
#include <QtCore/QFile>
#include <QtCore/QJsonArray>
#include <QtCore/QJsonDocument>
#include <QtCore/QJsonObject>
#include <QtCore/QTemporaryDir>

#include <gtest/gtest.h>

#include <algorithm>

namespace {

using dumprunner::run;

const QString kSample = QStringLiteral(NUVRIX_SAMPLE_STREAM);
// The sample holds ten epochs of MSMs of GPS, GLONASS, Galileo and BeiDou, one second apart,
// dated by its 1013.
constexpr int kEpochs = 10;

TEST(Observations, JsonHasOneDatedEpochPerInstantAndTheStation)
{
    const dumprunner::Run json = run({QStringLiteral("--obs"), QStringLiteral("--json"), kSample});
    ASSERT_EQ(json.exitCode, 0) << json.err.toStdString();
    QList<QJsonObject> epochs;
    bool station = false;
    for (const QString &line : json.lines()) {
        const QJsonObject object = QJsonDocument::fromJson(line.toUtf8()).object();
        ASSERT_FALSE(object.isEmpty()) << line.toStdString();
        if (object.contains(QStringLiteral("sats")))
            epochs << object;
        station = station || object.contains(QStringLiteral("llh"));
    }
    EXPECT_TRUE(station);
    ASSERT_EQ(epochs.size(), kEpochs);
    for (qsizetype i = 0; i < epochs.size(); ++i) {
        const QJsonObject &e = epochs[i];
        EXPECT_EQ(e.value(QStringLiteral("tow")).toDouble() - epochs[0].value(QStringLiteral("tow")).toDouble(), double(i));
        EXPECT_TRUE(e.value(QStringLiteral("time")).toString().startsWith(QLatin1String("2024-06-04T")));
        const QStringList sats = e.value(QStringLiteral("sats")).toObject().keys();
        for (const char system : {'G', 'R', 'E', 'C'})
            EXPECT_TRUE(std::any_of(sats.cbegin(), sats.cend(), [system](const QString &s) { return s.front() == QLatin1Char(system); }))
                << system;
        // Pseudoranges of satellites in metres, not raw integers.
        const QJsonObject sat = e.value(QStringLiteral("sats")).toObject();
        for (auto it = sat.begin(); it != sat.end(); ++it) {
            if (!it.key().startsWith(QLatin1Char('G')))
                continue;
            const double range = it->toObject().value(QStringLiteral("C1C")).toDouble();
            EXPECT_GT(range, 1.9e7) << it.key().toStdString();
            EXPECT_LT(range, 2.6e7) << it.key().toStdString();
        }
    }
    const dumprunner::Run text = run({QStringLiteral("--obs"), kSample});
    ASSERT_EQ(text.exitCode, 0);
    EXPECT_EQ(text.heads().filter(QStringLiteral(" GPST  week ")).size(), kEpochs);
}

// The summary of dated epochs: the epochs a station skipped by its own interval, and the
// latency of live input (a replay through a pipe is years late, but it is measured).
TEST(Observations, SummaryCountsMissingEpochsAndNoLatencyForAnOldStreamOnAPipe)
{
    const QList<QByteArray> frames = streamframes::splitClean(streamframes::bundledSample()).frames;
    QByteArray gapped;
    int epoch = 0;
    for (const QByteArray &frame : frames) {
        const int number = streamframes::messageNumber(frame);
        epoch += number == 1074;
        if (epoch != 5 || number < 1071 || number > 1137)
            gapped += frame;
    }
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("gapped.rtcm3"));
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly) && file.write(gapped) == gapped.size());
    file.close();
    const QJsonObject whole = run({QStringLiteral("--stats"), QStringLiteral("--json"), kSample}).summary();
    EXPECT_FALSE(whole.contains(QStringLiteral("missingEpochs")));
    EXPECT_FALSE(whole.contains(QStringLiteral("latency"))) << "a file is not live";
    const dumprunner::Run live = dumprunner::runShell(QStringLiteral("cat \"$1\" | \"$0\" --stats --json"), {path});
    const QJsonObject summary = live.summary();
    EXPECT_EQ(summary.value(QStringLiteral("missingEpochs")).toObject().value(QStringLiteral("2403")).toInt(), 1)
        << live.out.toStdString();
    // The gap is dated: the time the whole stream gives its fifth epoch.
    QStringList epochs = run({QStringLiteral("--obs"), QStringLiteral("--json"), kSample}).lines();
    epochs.removeIf([](const QString &line) { return !line.contains(QLatin1String("\"sats\"")); });
    ASSERT_GT(epochs.size(), 4);
    const QString fifth = QJsonDocument::fromJson(epochs[4].toUtf8()).object().value(QStringLiteral("time")).toString();
    const QJsonArray gaps = summary.value(QStringLiteral("missingEpochGaps")).toObject().value(QStringLiteral("2403")).toArray();
    ASSERT_EQ(gaps.size(), 1);
    EXPECT_EQ(gaps[0].toObject().value(QStringLiteral("first")).toString(), fifth);
    EXPECT_EQ(gaps[0].toObject().value(QStringLiteral("last")).toString(), fifth);
    // The sample is years old: through a pipe it is not live data, and a latency of years would
    // mean nothing.
    EXPECT_FALSE(summary.contains(QStringLiteral("latency"))) << live.out.toStdString();
}

TEST(Rinex, WritesFilesThatReadBackWithEveryEpoch)
{
    QTemporaryDir dir;
    const QString out = dir.filePath(QStringLiteral("rinex"));
    const dumprunner::Run result = run({QStringLiteral("--rinex"), out, QStringLiteral("--marker"), QStringLiteral("zurich"), kSample});
    ASSERT_EQ(result.exitCode, 0) << result.err.toStdString();
    const QStringList names = result.lines();
    ASSERT_EQ(names.size(), 2);
    EXPECT_TRUE(names[0].startsWith(QLatin1String("ZURI00XXX_S_2024156")));
    EXPECT_TRUE(names[0].endsWith(QLatin1String("_MO.rnx")));
    EXPECT_TRUE(names[1].endsWith(QLatin1String("_MN.rnx")));
    const rinexreader::ObsFile obs =
        rinexreader::parseObs(rinexreader::readText(QDir(out).filePath(names[0]).toStdString()));
    EXPECT_TRUE(obs.errors.empty()) << obs.errors.front();
    EXPECT_EQ(obs.epochs.size(), size_t(kEpochs));
}

// The sample as two stations: every frame with a station ID sent again as station 2404.
QByteArray twoStations(const QString &path)
{
    QByteArray both;
    for (QByteArray frame : streamframes::splitClean(streamframes::readFile(path)).frames) {
        both += frame;
        const int n = streamframes::messageNumber(frame);
        if (n == 1019 || n == 1020 || (n >= 1041 && n <= 1046))
            continue;  // orbits name a satellite, not a station
        frame[4] = char((uint8_t(frame[4]) & 0xF0) | (2404 >> 8));
        frame[5] = char(2404 & 0xFF);
        const uint32_t crc = streamframes::crc24q(frame.left(frame.size() - 3));
        for (int i = 0; i < 3; ++i)
            frame[frame.size() - 3 + i] = char(crc >> (16 - 8 * i));
        both += frame;
    }
    return both;
}

TEST(Rinex, EachStationItsOwnFilesAndStandardInputReadTwice)
{
    QTemporaryDir dir;
    QFile input(dir.filePath(QStringLiteral("two.rtcm")));
    ASSERT_TRUE(input.open(QIODevice::WriteOnly));
    input.write(twoStations(kSample));
    input.close();
    const QString out = dir.filePath(QStringLiteral("rinex"));
    const dumprunner::Run result = dumprunner::runShell(QStringLiteral("\"$0\" --rinex \"$1\" < \"$2\""), {out, input.fileName()});
    ASSERT_EQ(result.exitCode, 0) << result.err.toStdString();
    QStringList names = result.lines();
    names.sort();  // per station: the observation file, then the navigation file
    ASSERT_EQ(names.size(), 4) << result.out.toStdString();
    for (int i : {0, 2}) {
        const QString id = i == 0 ? QStringLiteral("2403") : QStringLiteral("2404");
        EXPECT_TRUE(names[i + 1].startsWith(id + QLatin1String("00XXX_")) && names[i + 1].endsWith(QLatin1String("_MN.rnx")));
        const rinexreader::ObsFile obs =
            rinexreader::parseObs(rinexreader::readText(QDir(out).filePath(names[i]).toStdString()));
        ASSERT_EQ(obs.epochs.size(), size_t(kEpochs)) << names[i].toStdString();
        EXPECT_EQ(obs.find("MARKER NAME")->content.substr(0, 4), id.toStdString());
    }
    const dumprunner::Run one = run({QStringLiteral("--rinex"), out + QLatin1Char('1'), QStringLiteral("--station"),
                                     QStringLiteral("2404"), input.fileName()});
    EXPECT_EQ(one.lines().size(), 2) << one.out.toStdString();
}

// The sample without what dates it: its 1013, 1029 and orbits.
QByteArray undatedSample()
{
    QByteArray undated;
    for (const QByteArray &frame : streamframes::splitClean(streamframes::readFile(kSample)).frames) {
        const int n = streamframes::messageNumber(frame);
        if (n != 1013 && n != 1029 && n != 1019 && n != 1020 && (n < 1041 || n > 1046))
            undated += frame;
    }
    return undated;
}

TEST(Rinex, NothingWrittenEndsWithStatusOneAndSaysWhy)
{
    QTemporaryDir dir;
    const dumprunner::Run absent = run({QStringLiteral("--rinex"), dir.filePath(QStringLiteral("a")),
                                        QStringLiteral("--station"), QStringLiteral("7"), kSample});
    EXPECT_EQ(absent.exitCode, 1);
    EXPECT_TRUE(absent.err.contains(QLatin1String("station 7 is not in the input"))) << absent.err.toStdString();
    const dumprunner::Run nested = run({QStringLiteral("--rinex"), dir.filePath(QStringLiteral("b/c")), kSample});
    EXPECT_EQ(nested.exitCode, 1);
    EXPECT_FALSE(QDir(dir.filePath(QStringLiteral("b"))).exists());
    // Without its 1013, 1029 and orbits the sample has no date: the hint names --time.
    QFile undated(dir.filePath(QStringLiteral("undated.rtcm")));
    ASSERT_TRUE(undated.open(QIODevice::WriteOnly));
    undated.write(undatedSample());
    undated.close();
    const dumprunner::Run none = run({QStringLiteral("--rinex"), dir.filePath(QStringLiteral("d")), undated.fileName()});
    EXPECT_EQ(none.exitCode, 1);
    EXPECT_TRUE(none.err.contains(QLatin1String("--time"))) << none.err.toStdString();
    EXPECT_TRUE(none.out.isEmpty());
}

} // namespace
