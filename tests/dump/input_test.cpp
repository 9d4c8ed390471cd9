// rtcm3dump's inputs, end to end: a file, standard input and a TCP stream give the same
// result; streams that stop inside a frame, garbage and empty inputs end cleanly with what
// they held; the choice of input without INPUT; missing inputs, silent peers and bad options
// end with a message and their status.

#include "../support/dump_runner.h"
#include "../sync/sync_streams.h"

#include <QtCore/QDir>
#include <QtCore/QFile>
#include <QtCore/QTemporaryDir>

#include <gtest/gtest.h>

#include <vector>

namespace {

using dumprunner::run;

enum class Source { File, StandardInput, Tcp };
const QList<Source> kSources = {Source::File, Source::StandardInput, Source::Tcp};
const char *const kSourceNames[] = {"file", "standard input", "TCP"};

const QStringList kStatsJson = {QStringLiteral("--stats"), QStringLiteral("--json")};

class Inputs : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(mDir.isValid());
        mSample = streamframes::bundledSample();
        mFrames = streamframes::splitClean(mSample).frames;
        ASSERT_GT(mFrames.size(), 100) << "the sample stream is missing or not clean";
    }

    QString write(const QString &name, const QByteArray &bytes)
    {
        const QString path = mDir.filePath(name);
        QFile file(path);
        EXPECT_TRUE(file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size());
        return path;
    }

    // Runs the program on `bytes` arriving through `source`.
    dumprunner::Run runOn(Source source, const QByteArray &bytes, const QStringList &options = {})
    {
        const QString path = write(QStringLiteral("input.rtcm3"), bytes);
        if (source == Source::File)
            return run(options + QStringList{path});
        if (source == Source::StandardInput)
            return run(options + QStringList{QStringLiteral("-")}, path);
        dumprunner::LoopbackServer server(bytes);
        const dumprunner::Run result = run(options + QStringList{server.endpoint()});
        EXPECT_TRUE(server.servedAll());
        return result;
    }

    QTemporaryDir mDir;
    QByteArray mSample;
    QList<QByteArray> mFrames;
};

TEST_F(Inputs, FileStandardInputAndTcpGiveTheSameOutput)
{
    for (const QStringList &options : {QStringList{}, QStringList{QStringLiteral("--stats")}}) {
        const dumprunner::Run fromFile = runOn(Source::File, mSample, options);
        ASSERT_EQ(fromFile.exitCode, 0);
        ASSERT_FALSE(fromFile.out.isEmpty());
        for (const Source source : {Source::StandardInput, Source::Tcp}) {
            SCOPED_TRACE(kSourceNames[int(source)]);
            const dumprunner::Run result = runOn(source, mSample, options);
            ASSERT_TRUE(result.finished);
            EXPECT_EQ(result.exitCode, 0) << result.err.toStdString();
            EXPECT_TRUE(result.err.isEmpty()) << result.err.toStdString();
            // Live input (TCP) adds how late its epochs arrived, which a file cannot know.
            const qsizetype latency = result.out.indexOf("latency by station:");
            EXPECT_TRUE((latency < 0 ? result.out : result.out.left(latency)) == fromFile.out)
                << "output differs from the file run";
        }
    }
}

// A stream that ends (inside a frame, or at once): the program prints the frames before it,
// counts the tail as dropped bytes and ends normally, whatever the input.
TEST_F(Inputs, StreamStoppingInsideAFrameReportsWhatItHeldAndEndsCleanly)
{
    struct Cut
    {
        const char *where;
        int frames;       // whole frames before the cut
        qsizetype into;   // bytes of the next frame
    };
    const QList<Cut> cuts = {
        {"empty input", 0, 0},
        {"at a frame boundary", 40, 0},
        {"after the preamble", 40, 1},
        {"inside the header word", 40, 2},
        {"inside the payload", 40, 10},
        {"inside the CRC", 40, mFrames[40].size() - 1},
    };
    for (const Source source : kSources) {
        for (const Cut &cut : cuts) {
            SCOPED_TRACE(std::string(kSourceNames[int(source)]) + ", " + cut.where);
            qsizetype start = 0;
            for (int i = 0; i < cut.frames; ++i)
                start += mFrames[i].size();
            const dumprunner::Run summary = runOn(source, mSample.left(start + cut.into), kStatsJson);
            ASSERT_TRUE(summary.finished);
            EXPECT_EQ(summary.exitCode, 0) << summary.err.toStdString();
            const QJsonObject stats = summary.summary();
            EXPECT_EQ(stats.value(QStringLiteral("frames")).toInteger(-1), cut.frames);
            EXPECT_EQ(stats.value(QStringLiteral("droppedBytes")).toInteger(-1), cut.into);
            EXPECT_EQ(stats.value(QStringLiteral("crcErrors")).toInteger(-1), 0);
        }
    }
    const dumprunner::Run text = runOn(Source::File, mSample.left(10));
    EXPECT_EQ(text.exitCode, 0);
    EXPECT_TRUE(text.out.isEmpty() && text.err.isEmpty());
}

TEST_F(Inputs, GarbageIsDroppedByteForByteAndEndsCleanly)
{
    std::mt19937 random(77);
    QByteArray garbage = syncstreams::randomBytes(random, 60000);
    // Plenty of false preambles, some with lengths that fit in what follows.
    for (qsizetype at = 0; at + 3 < garbage.size(); at += 257) {
        garbage[at] = char(0xD3);
        garbage[at + 1] = char(random() & 0x03);
    }
    const syncstreams::Outcome framing = syncstreams::model(garbage);
    ASSERT_TRUE(framing.frames.isEmpty());
    ASSERT_GT(framing.crcErrors, 0);
    for (const Source source : kSources) {
        SCOPED_TRACE(kSourceNames[int(source)]);
        const dumprunner::Run summary = runOn(source, garbage, kStatsJson);
        ASSERT_TRUE(summary.finished);
        EXPECT_EQ(summary.exitCode, 0) << summary.err.toStdString();
        const QJsonObject stats = summary.summary();
        EXPECT_EQ(stats.value(QStringLiteral("frames")).toInteger(-1), 0);
        EXPECT_EQ(stats.value(QStringLiteral("droppedBytes")).toInteger(-1), garbage.size());
        EXPECT_EQ(stats.value(QStringLiteral("crcErrors")).toInteger(-1), framing.crcErrors);
    }
    EXPECT_TRUE(runOn(Source::File, garbage).out.isEmpty());
}

// Without INPUT: a pipe, a socket or a file on standard input is read; a terminal or a
// device such as /dev/null (or a closed standard input) means the bundled sample, found
// next to the program when it was installed or moved with its share folder.
TEST_F(Inputs, WithoutInputStandardInputIsReadUnlessItIsADevice)
{
    const QString head = write(QStringLiteral("head.rtcm3"), mFrames[0] + mFrames[1] + mFrames[2]);
    const QList<std::pair<QString, qsizetype>> scripts = {
        {QStringLiteral("cat \"$1\" | \"$0\" --stats --json"), 3},
        {QStringLiteral("\"$0\" --stats --json < \"$1\""), 3},
        {QStringLiteral("\"$0\" --stats --json < /dev/null"), mFrames.size()},
        {QStringLiteral("\"$0\" --stats --json <&-"), mFrames.size()},
    };
    for (const auto &[script, frames] : scripts) {
        SCOPED_TRACE(script.toStdString());
        const dumprunner::Run result = dumprunner::runShell(script, {head});
        EXPECT_EQ(result.exitCode, 0) << result.err.toStdString();
        EXPECT_EQ(result.summary().value(QStringLiteral("frames")).toInteger(-1), frames);
    }

    ASSERT_TRUE(QDir(mDir.path()).mkpath(QStringLiteral("bin")));
    ASSERT_TRUE(QDir(mDir.path()).mkpath(QStringLiteral("share/nuvrixrtcm3")));
    const QString moved = mDir.filePath(QStringLiteral("bin/rtcm3dump"));
    ASSERT_TRUE(QFile::copy(QStringLiteral(RTCM3DUMP), moved));
    write(QStringLiteral("share/nuvrixrtcm3/sample.rtcm3"), mFrames[0] + mFrames[1]);
    EXPECT_EQ(run(kStatsJson, QString(), moved).summary().value(QStringLiteral("frames")).toInteger(-1), 2);
}

TEST_F(Inputs, UnreadableInputEndsWithAMessageNamingItAndAFailureStatus)
{
    // A port that was just free and is closed again: nothing listens there.
    QString closed;
    {
        dumprunner::LoopbackServer probe{QByteArray()};
        closed = probe.endpoint();
    }
    const QList<std::pair<QString, const char *>> inputs = {
        {mDir.filePath(QStringLiteral("no such file.rtcm3")), "cannot read"},
        {mDir.path(), "cannot read"},  // a folder
        {closed, "cannot connect to"},
        // Names with a colon that are no host:port: missing files, not failed connections.
        {QStringLiteral("no/such:file"), "cannot read"},
        {QStringLiteral("C:x"), "cannot read"},
        {QStringLiteral("a:b.rtcm"), "cannot read"},
    };
    for (const auto &[input, message] : inputs) {
        SCOPED_TRACE(input.toStdString());
        const dumprunner::Run result = run({input});
        ASSERT_TRUE(result.finished);
        EXPECT_EQ(result.exitCode, 1);
        EXPECT_TRUE(result.out.isEmpty());
        EXPECT_TRUE(result.err.startsWith(QStringLiteral("rtcm3dump: %1 %2").arg(QLatin1String(message), input).toUtf8()))
            << result.err.toStdString();
    }
}

// --save onto the input, by its name, a link or standard input, would empty it.
TEST_F(Inputs, SavingOntoTheInputIsRefused)
{
    const QString input = write(QStringLiteral("in.rtcm3"), mSample);
    for (const char *script : {R"("$0" --stats --save "$1" "$1")", R"(ln -sf "$1" "$1.s"; "$0" --stats --save "$1.s" "$1")",
                               R"(ln -f "$1" "$1.h"; "$0" --stats --save "$1.h" "$1")", R"("$0" --stats --save "$1" < "$1")"}) {
        const dumprunner::Run result = dumprunner::runShell(QString::fromUtf8(script), {input});
        EXPECT_TRUE(result.exitCode == 2 && result.err.startsWith("rtcm3dump: --save ")) << script << result.err.toStdString();
        EXPECT_TRUE(streamframes::readFile(input) == mSample) << script;
    }
}

// --timeout bounds a peer that stops sending (after some frames, or from the start) and a
// connection that is never accepted (a listener whose queue is full ignores the handshake).
TEST_F(Inputs, SilentPeersAndStalledConnectsEndAfterTheTimeout)
{
    dumprunner::LoopbackServer talksThenStops(mSample.left(3000), 60000);
    dumprunner::LoopbackServer silent(QByteArray(), 60000);
    const int full = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    auto *any = reinterpret_cast<sockaddr *>(&address);
    ASSERT_TRUE(::bind(full, any, size) == 0 && ::listen(full, 0) == 0 && ::getsockname(full, any, &size) == 0);
    std::vector<int> queued;
    for (int i = 0; i < 4; ++i) {
        queued.push_back(::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0));
        ::connect(queued.back(), any, size);
    }
    const QString stalled = QStringLiteral("127.0.0.1:%1").arg(ntohs(address.sin_port));
    for (const QString &endpoint : {talksThenStops.endpoint(), silent.endpoint(), stalled}) {
        SCOPED_TRACE(endpoint.toStdString());
        QElapsedTimer clock;
        clock.start();
        const dumprunner::Run result = run({QStringLiteral("--timeout"), QStringLiteral("1"), endpoint});
        EXPECT_LT(clock.elapsed(), 10000);
        EXPECT_EQ(result.exitCode, 1);
        EXPECT_TRUE(result.err.startsWith("rtcm3dump: ") && result.err.contains(endpoint.toUtf8())) << result.err.toStdString();
    }
    for (const int s : queued)
        ::close(s);
    ::close(full);
}

TEST(Options, BadOptionsEndWithAMessageAndStatus2)
{
    const QList<QStringList> bad = {
        {QStringLiteral("--no-such-option")},
        {QStringLiteral("--only")},
        {QStringLiteral("--only"), QStringLiteral("1005,abc")},
        {QStringLiteral("--only"), QString()},
        {QStringLiteral("--only"), QStringLiteral(" , ")},
        {QStringLiteral("--only"), QStringLiteral("1077-1071")},
        {QStringLiteral("--only"), QStringLiteral("1071-")},
        {QStringLiteral("--only"), QStringLiteral("1005"), QStringLiteral("--only"), QStringLiteral("-3")},
        {QStringLiteral("--skip"), QStringLiteral("4096")},
        {QStringLiteral("--every"), QStringLiteral("1")},
        {QStringLiteral("--stats"), QStringLiteral("--every"), QStringLiteral("0")},
        {QStringLiteral("--timeout"), QStringLiteral("x")},
        {QStringLiteral("--save")},
        {QStringLiteral("--describe"), QStringLiteral("1000")},
        {QStringLiteral("--describe"), QStringLiteral("1240")},  // decoded, but without a description
        {QStringLiteral("--describe"), QStringLiteral("x")},
        {QStringLiteral("--json"), QStringLiteral("--raw")},
        {QStringLiteral("--raw"), QStringLiteral("--stats")},
        {QStringLiteral("one.rtcm3"), QStringLiteral("two.rtcm3")},
        {QStringLiteral("localhost:0")},
        {QStringLiteral("[::1]:65536")},
        {QStringLiteral("--time"), QStringLiteral("2021-13-01")},
        {QStringLiteral("--time"), QStringLiteral("yesterday")},
        {QStringLiteral("--obs"), QStringLiteral("--stats")},
        {QStringLiteral("--obs"), QStringLiteral("--rinex"), QStringLiteral("out")},
        {QStringLiteral("--rinex"), QStringLiteral("out"), QStringLiteral("--json")},
        {QStringLiteral("--marker"), QStringLiteral("ABCD")},
        {QStringLiteral("--ntrip-version"), QStringLiteral("3")},
        {QStringLiteral("--gga"), QStringLiteral("91,0,0")},
        {QStringLiteral("--stats"), QStringLiteral("--every"), QStringLiteral("0.0001")},
        {QStringLiteral("--glonass-channels"), QStringLiteral("3:9")},
        {QStringLiteral("--glonass-channels"), QStringLiteral("3")},
        {QStringLiteral("ntrip://host:99999/MNT")},
    };
    for (const QStringList &arguments : bad) {
        SCOPED_TRACE(arguments.join(QLatin1Char(' ')).toStdString());
        const dumprunner::Run result = run(arguments);
        ASSERT_TRUE(result.finished);
        EXPECT_EQ(result.exitCode, 2);
        EXPECT_TRUE(result.out.isEmpty()) << result.out.toStdString();
        EXPECT_TRUE(result.err.startsWith("rtcm3dump: ")) << result.err.toStdString();
    }
}

} // namespace
