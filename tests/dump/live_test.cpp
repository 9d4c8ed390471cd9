// rtcm3dump on live input: output that follows the stream, SIGINT and SIGTERM that end a run
// with its summary and a complete recording, periodic summaries, and write errors, unread
// outputs and closed descriptors that end the run with a message instead of losing output.

#include "../support/dump_runner.h"

#include <QtCore/QElapsedTimer>
#include <QtCore/QFileInfo>
#include <QtCore/QJsonArray>
#include <QtCore/QJsonDocument>
#include <QtCore/QJsonObject>
#include <QtCore/QRegularExpression>
#include <QtCore/QTemporaryDir>

#include <gtest/gtest.h>

#include <csignal>
#include <cstring>

namespace {

using dumprunner::LiveRun;
using dumprunner::run;

const QString kSample = QStringLiteral(NUVRIX_SAMPLE_STREAM);

class Live : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(mDir.isValid());
        const QList<QByteArray> frames = streamframes::splitClean(streamframes::bundledSample()).frames;
        ASSERT_GT(frames.size(), kSent);
        for (int i = 0; i < kSent; ++i)
            mSent += frames[i];
    }

    static constexpr int kSent = 25;  // frames that arrive before the stream falls silent
    QTemporaryDir mDir;
    QByteArray mSent;
};

int heads(const QByteArray &out)
{
    int count = 0;
    for (const QByteArray &line : out.split('\n'))
        count += line.startsWith("Message Type ");
    return count;
}

// A viewer sees each message while the stream is still open; a signal then ends the run with
// status 0, whether the bytes come from a TCP peer or through a pipe.
TEST_F(Live, MessagesAppearAsTheyArriveAndASignalEndsTheRun)
{
    for (const auto &[signal, tcp] : {std::pair{SIGINT, true}, std::pair{SIGTERM, false}}) {
        SCOPED_TRACE(std::string(tcp ? "TCP, " : "pipe, ") + (signal == SIGINT ? "SIGINT" : "SIGTERM"));
        dumprunner::LoopbackServer server(mSent, 60000);
        LiveRun live(tcp ? QStringList{server.endpoint()} : QStringList{QStringLiteral("-")});
        if (!tcp)
            live.process().write(mSent);  // the pipe stays open
        EXPECT_TRUE(live.awaitOutput([](const QByteArray &out) { return heads(out) == kSent; }))
            << "output held back while the input is open";
        const dumprunner::Run result = live.stop(signal);
        ASSERT_TRUE(result.finished);
        EXPECT_EQ(result.exitCode, 0) << result.err.toStdString();
        EXPECT_EQ(heads(result.out), kSent);
    }
}

// Ctrl-C in a monitoring run: the summary comes out and the recording holds every frame.
TEST_F(Live, InterruptedRecordingIsCompleteAndTheSummaryPrinted)
{
    const QString saved = mDir.filePath(QStringLiteral("saved.rtcm3"));
    dumprunner::LoopbackServer server(mSent, 60000);
    LiveRun live({QStringLiteral("--stats"), QStringLiteral("--save"), saved, server.endpoint()});
    QElapsedTimer clock;
    clock.start();
    while (QFileInfo(saved).size() < mSent.size() && !clock.hasExpired(20000))
        live.process().waitForFinished(50);
    EXPECT_EQ(QFileInfo(saved).size(), mSent.size()) << "the recording is not flushed per frame";
    const dumprunner::Run result = live.stop(SIGINT);
    ASSERT_TRUE(result.finished);
    EXPECT_EQ(result.exitCode, 0) << result.err.toStdString();
    EXPECT_EQ(result.lines().value(0), QStringLiteral("frames: %1").arg(kSent));
    EXPECT_EQ(streamframes::readFile(saved), mSent);
}

// --every: summaries of each period with rates that match their counts, in text and JSON.
TEST_F(Live, PeriodicSummariesGiveCountsRatesAndStations)
{
    dumprunner::LoopbackServer tcpServer(mSent, 60000);
    LiveRun live({QStringLiteral("--stats"), QStringLiteral("--json"), QStringLiteral("--every"),
                  QStringLiteral("0.3"), tcpServer.endpoint()});
    qint64 frames = 0;
    int periods = 0;
    const auto read = [&](const QByteArray &out) {
        frames = 0;
        periods = 0;
        for (const QByteArray &line : out.split('\n')) {
            const QJsonObject period = QJsonDocument::fromJson(line).object();
            if (period.value(QStringLiteral("summary")).toString() != QLatin1String("period"))
                continue;
            ++periods;
            frames += period.value(QStringLiteral("frames")).toInteger();
        }
        return frames == kSent && periods >= 3;
    };
    EXPECT_TRUE(live.awaitOutput(read));
    const dumprunner::Run result = live.stop(SIGINT);
    EXPECT_EQ(result.exitCode, 0);
    const QList<QByteArray> lines = result.out.trimmed().split('\n');
    bool stationSeen = false;
    for (const QByteArray &line : lines.mid(0, lines.size() - 1)) {
        const QJsonObject period = QJsonDocument::fromJson(line).object();
        const double seconds = period.value(QStringLiteral("seconds")).toDouble();
        EXPECT_GE(seconds, 0.3);
        EXPECT_LT(seconds, 3.0);
        for (const QJsonValue &type : period.value(QStringLiteral("decoded")).toObject()) {
            const QJsonObject counts = type.toObject();
            EXPECT_DOUBLE_EQ(counts.value(QStringLiteral("hz")).toDouble() * seconds, counts.value(QStringLiteral("count")).toDouble());
            EXPECT_DOUBLE_EQ(counts.value(QStringLiteral("bytesPerSecond")).toDouble() * seconds,
                             counts.value(QStringLiteral("bytes")).toDouble());
        }
        for (const QJsonValue &station : period.value(QStringLiteral("stations")).toArray())
            stationSeen = stationSeen || station.toInt() == dumprunner::stationOf(mSent);
    }
    EXPECT_TRUE(stationSeen);
    const QJsonObject total = QJsonDocument::fromJson(lines.last()).object();
    EXPECT_EQ(total.value(QStringLiteral("summary")).toString(), QStringLiteral("total"));
    EXPECT_EQ(total.value(QStringLiteral("frames")).toInteger(), kSent);

    dumprunner::LoopbackServer textServer(mSent, 60000);
    LiveRun text({QStringLiteral("--stats"), QStringLiteral("--every"), QStringLiteral("0.3"), textServer.endpoint()});
    EXPECT_TRUE(text.awaitOutput([](const QByteArray &out) { return out.contains("\nperiod: "); }));
    const dumprunner::Run textResult = text.stop(SIGTERM);
    // Each period says when it ended; the total that closes the run is told apart from them.
    EXPECT_TRUE(QRegularExpression(QStringLiteral("^period: [0-9.]+ s until \\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d UTC\nframes: "))
                    .match(QString::fromUtf8(textResult.out)).hasMatch()) << textResult.out.toStdString();
    EXPECT_TRUE(textResult.out.contains("\ntotal of the run until ")) << textResult.out.toStdString();
}

// ---- output that cannot be written -------------------------------------------------------

// A reader that goes away ends the run quietly, as filters do; every other write error ends
// it with a message and status 1, also when the output is small enough to sit in a buffer
// and when a stop request finds the program waiting for a reader that does not read.
TEST(WriteErrors, EndTheRunWithAMessageAndStatus1)
{
    const struct
    {
        const char *script;
        int status;
        const char *message;  // empty: nothing on standard error
    } cases[] = {
        {R"("$0" "$1" > /dev/full)", 1, "writing standard output"},
        {R"("$0" --only 1006 "$1" > /dev/full)", 1, "writing standard output"},
        {R"("$0" --help > /dev/full)", 1, "writing standard output"},
        {R"("$0" "$1" >&-)", 1, "writing standard output"},
        {R"("$0" "$1" | head -c 100 > /dev/null; exit ${PIPESTATUS[0]})", 0, ""},
        // Nobody reads: once it waits for room in the pipe, SIGTERM must still end the run.
        {R"(exec 3> >(sleep 30); s=$!; "$0" "$1" >&3 & p=$!; exec 3>&-
            for i in $(seq 400); do grep -qE 'pipe_write|poll' /proc/$p/wchan && break; sleep 0.05; done
            kill -TERM $p; (sleep 20; kill -KILL $p) & k=$!; wait $p; r=$?; kill $s $k; exit $r)", 1, "writing standard output"},
        {R"("$0" --stats --save /dev/full "$1")", 1, "writing /dev/full"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.script);
        const dumprunner::Run result = dumprunner::runShell(QString::fromUtf8(c.script), {kSample});
        ASSERT_TRUE(result.finished);
        EXPECT_EQ(result.exitCode, c.status);
        EXPECT_EQ(result.err.left(int(std::strlen(c.message)) + 11).toStdString(), *c.message ? "rtcm3dump: " + std::string(c.message) : "")
            << result.err.toStdString();
    }
}

// With standard input and output closed, the connection must not take their place: nothing
// decoded may travel back to the peer.
TEST(WriteErrors, ClosedStandardDescriptorsAreNotTakenByTheConnection)
{
    dumprunner::LoopbackServer server(streamframes::bundledSample());
    const dumprunner::Run result = dumprunner::runShell(QStringLiteral("\"$0\" \"$1\" <&- >&-"), {server.endpoint()});
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_TRUE(result.err.startsWith("rtcm3dump: writing standard output")) << result.err.toStdString();
    EXPECT_TRUE(server.received().isEmpty()) << server.received().left(200).toStdString();
}

} // namespace
