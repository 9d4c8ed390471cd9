// rtcm3dump's inputs, end to end: a file, standard input and a TCP stream give the same
// result; streams that stop inside a frame, garbage and empty inputs end cleanly with what
// they held; missing inputs and bad options end with a message and a non-zero status.

#include "../support/dump_runner.h"
#include "../support/stream_frames.h"
#include "../sync/sync_streams.h"

#include <QtCore/QDir>
#include <QtCore/QElapsedTimer>
#include <QtCore/QFile>
#include <QtCore/QTemporaryDir>

#include <gtest/gtest.h>

#include <memory>
#include <vector>

namespace {

using dumprunner::run;

const QString kSample = QStringLiteral(NUVRIX_SAMPLE_STREAM);

enum class Source { File, StandardInput, Tcp };

const char *nameOf(Source source)
{
    switch (source) {
    case Source::File: return "file";
    case Source::StandardInput: return "standard input";
    case Source::Tcp: return "TCP";
    }
    return "";
}

class Inputs : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(mDir.isValid());
        mSample = streamframes::bundledSample();
        mFrames = streamframes::splitClean(mSample).frames;
        ASSERT_GT(mFrames.size(), 100) << "the sample stream " << kSample.toStdString() << " is missing or not clean";
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
        switch (source) {
        case Source::File:
            return run(options + QStringList{path});
        case Source::StandardInput:
            return run(options + QStringList{QStringLiteral("-")}, path);
        case Source::Tcp: {
            dumprunner::LoopbackServer server(bytes);
            EXPECT_TRUE(server.listening());
            const dumprunner::Run result = run(options + QStringList{server.endpoint()});
            EXPECT_TRUE(server.servedAll());
            return result;
        }
        }
        return {};
    }

    QTemporaryDir mDir;
    QByteArray mSample;
    QList<QByteArray> mFrames;
};

const QList<Source> kSources = {Source::File, Source::StandardInput, Source::Tcp};

TEST_F(Inputs, FileStandardInputAndTcpGiveTheSameOutput)
{
    for (const QStringList &options : {QStringList{}, QStringList{QStringLiteral("--stats")}}) {
        const dumprunner::Run fromFile = run(options + QStringList{kSample});
        ASSERT_EQ(fromFile.exitCode, 0);
        ASSERT_FALSE(fromFile.out.isEmpty());
        for (const Source source : {Source::StandardInput, Source::Tcp}) {
            SCOPED_TRACE(nameOf(source));
            const dumprunner::Run result = runOn(source, mSample, options);
            ASSERT_TRUE(result.finished);
            EXPECT_EQ(result.exitCode, 0) << result.err.toStdString();
            EXPECT_TRUE(result.err.isEmpty()) << result.err.toStdString();
            EXPECT_TRUE(result.out == fromFile.out) << "output differs from the file run";
        }
    }
}

// A stream that stops inside a frame: the program prints the frames before it, counts the
// tail as dropped bytes and ends normally, whatever the input.
TEST_F(Inputs, StreamStoppingInsideAFrameReportsWhatItHeldAndEndsCleanly)
{
    const int k = 40;  // the frame the stream stops in
    qsizetype start = 0;
    for (int i = 0; i < k; ++i)
        start += mFrames[i].size();
    const qsizetype frameSize = mFrames[k].size();
    const QList<std::pair<const char *, qsizetype>> cuts = {
        {"at a frame boundary", 0},
        {"after the preamble", 1},
        {"inside the header word", 2},
        {"inside the payload", 10},
        {"inside the CRC", frameSize - 1},
    };
    for (const Source source : kSources) {
        for (const auto &[where, into] : cuts) {
            SCOPED_TRACE(std::string(nameOf(source)) + ", " + where);
            const QByteArray bytes = mSample.left(start + into);
            const dumprunner::Run summary = runOn(source, bytes, {QStringLiteral("--stats")});
            ASSERT_TRUE(summary.finished);
            EXPECT_EQ(summary.exitCode, 0) << summary.err.toStdString();
            const dumprunner::Stats stats = dumprunner::parseStats(summary.lines());
            ASSERT_TRUE(stats.complete) << summary.text().toStdString();
            EXPECT_EQ(stats.frames, k);
            EXPECT_EQ(stats.droppedBytes, into);
            EXPECT_EQ(stats.crcErrors, 0);
            EXPECT_TRUE(stats.errors.isEmpty());
        }
    }
    const dumprunner::Run text = runOn(Source::File, mSample.left(start + 10));
    EXPECT_EQ(text.exitCode, 0);
    int heads = 0;
    for (const QString &line : text.lines())
        heads += line.startsWith(QLatin1String("Message Type "));
    EXPECT_EQ(heads, k);
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
        SCOPED_TRACE(nameOf(source));
        const dumprunner::Run summary = runOn(source, garbage, {QStringLiteral("--stats")});
        ASSERT_TRUE(summary.finished);
        EXPECT_EQ(summary.exitCode, 0) << summary.err.toStdString();
        const dumprunner::Stats stats = dumprunner::parseStats(summary.lines());
        ASSERT_TRUE(stats.complete) << summary.text().toStdString();
        EXPECT_EQ(stats.frames, 0);
        EXPECT_EQ(stats.droppedBytes, garbage.size());
        EXPECT_EQ(stats.crcErrors, framing.crcErrors);
        EXPECT_TRUE(stats.decoded.isEmpty());
    }
    const dumprunner::Run text = runOn(Source::File, garbage);
    EXPECT_EQ(text.exitCode, 0);
    EXPECT_TRUE(text.out.isEmpty()) << text.text().toStdString();
}

TEST_F(Inputs, EmptyInputPrintsNothingAndEndsCleanly)
{
    for (const Source source : kSources) {
        SCOPED_TRACE(nameOf(source));
        const dumprunner::Run text = runOn(source, QByteArray());
        ASSERT_TRUE(text.finished);
        EXPECT_EQ(text.exitCode, 0) << text.err.toStdString();
        EXPECT_TRUE(text.out.isEmpty());
        EXPECT_TRUE(text.err.isEmpty()) << text.err.toStdString();
        const dumprunner::Stats stats = dumprunner::parseStats(runOn(source, QByteArray(), {QStringLiteral("--stats")}).lines());
        ASSERT_TRUE(stats.complete);
        EXPECT_EQ(stats.frames, 0);
        EXPECT_EQ(stats.droppedBytes, 0);
        EXPECT_EQ(stats.crcErrors, 0);
    }
}

// A port that was just free and is closed again: nothing listens there.
QString closedEndpoint()
{
    dumprunner::LoopbackServer probe{QByteArray()};
    const QString endpoint = probe.endpoint();
    // Connect once so that the server ends and releases the port.
    const int s = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(endpoint.section(QLatin1Char(':'), 1).toUShort());
    ::connect(s, reinterpret_cast<sockaddr *>(&address), sizeof address);
    ::close(s);
    return endpoint;
}

TEST_F(Inputs, UnreadableInputEndsWithAMessageNamingItAndAFailureStatus)
{
    const QList<std::pair<QString, const char *>> inputs = {
        {mDir.filePath(QStringLiteral("no such file.rtcm3")), "cannot read"},
        {mDir.path(), "cannot read"},  // a folder
        {closedEndpoint(), "cannot connect to"},
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
        EXPECT_TRUE(QString::fromUtf8(result.err).startsWith(QStringLiteral("rtcm3dump: %1 %2").arg(QLatin1String(message), input)))
            << result.err.toStdString();
    }
}

TEST(Options, BadOptionsEndWithAMessageAndStatus2)
{
    const QList<QStringList> bad = {
        {QStringLiteral("--no-such-option")},
        {QStringLiteral("--only")},
        {QStringLiteral("--only"), QStringLiteral("1005,abc")},
        {QStringLiteral("--only"), QStringLiteral("")},
        {QStringLiteral("--only"), QStringLiteral(" , ")},
        {QStringLiteral("--only"), QStringLiteral("1077-1071")},
        {QStringLiteral("--only"), QStringLiteral("1071-")},
        {QStringLiteral("--only"), QStringLiteral("1005"), QStringLiteral("--only"), QStringLiteral("-3")},
        {QStringLiteral("--skip"), QStringLiteral("4096")},
        {QStringLiteral("--every"), QStringLiteral("1")},
        {QStringLiteral("--stats"), QStringLiteral("--every"), QStringLiteral("0")},
        {QStringLiteral("--timeout"), QStringLiteral("x")},
        {QStringLiteral("--save")},
        {QStringLiteral("--describe"), QStringLiteral("1240")},  // decoded, but without a description
        {QStringLiteral("localhost:0")},
        {QStringLiteral("[::1]:65536")},
        {QStringLiteral("--describe"), QStringLiteral("1000")},
        {QStringLiteral("--describe"), QStringLiteral("x")},
        {QStringLiteral("--json"), QStringLiteral("--raw")},
        {QStringLiteral("--raw"), QStringLiteral("--stats")},
        {QStringLiteral("one.rtcm3"), QStringLiteral("two.rtcm3")},
    };
    for (const QStringList &arguments : bad) {
        SCOPED_TRACE(arguments.join(QLatin1Char(' ')).toStdString());
        const dumprunner::Run result = run(arguments);
        ASSERT_TRUE(result.finished);
        EXPECT_EQ(result.exitCode, 2);
        EXPECT_TRUE(result.out.isEmpty()) << result.out.toStdString();
        EXPECT_TRUE(QString::fromUtf8(result.err).startsWith(QLatin1String("rtcm3dump: "))) << result.err.toStdString();
    }
}

// Without INPUT: a pipe, a socket or a file on standard input is read; a terminal or a
// device such as /dev/null (or a closed standard input) means the bundled sample.
TEST_F(Inputs, WithoutInputStandardInputIsReadUnlessItIsADevice)
{
    const int few = 7;
    QByteArray head;
    for (int i = 0; i < few; ++i)
        head += mFrames[i];
    const QString path = write(QStringLiteral("head.rtcm3"), head);
    const QList<std::pair<QString, qint64>> scripts = {
        {QStringLiteral("cat \"$1\" | \"$0\" --stats"), few},
        {QStringLiteral("\"$0\" --stats < \"$1\""), few},
        {QStringLiteral("\"$0\" --stats < /dev/null"), mFrames.size()},
        {QStringLiteral("\"$0\" --stats <&-"), mFrames.size()},
    };
    for (const auto &[script, frames] : scripts) {
        SCOPED_TRACE(script.toStdString());
        const dumprunner::Run result = dumprunner::runShell(script, {path});
        EXPECT_EQ(result.exitCode, 0) << result.err.toStdString();
        EXPECT_EQ(dumprunner::parseStats(result.lines()).frames, frames);
    }
}

// A program moved with its share folder finds the sample next to itself.
TEST_F(Inputs, SampleIsFoundRelativeToTheProgram)
{
    const QByteArray other = mFrames[0] + mFrames[1];
    ASSERT_TRUE(QDir(mDir.path()).mkpath(QStringLiteral("bin")) && QDir(mDir.path()).mkpath(QStringLiteral("share/nuvrixrtcm3")));
    const QString program = mDir.filePath(QStringLiteral("bin/rtcm3dump"));
    ASSERT_TRUE(QFile::copy(QStringLiteral(RTCM3DUMP), program));
    write(QStringLiteral("share/nuvrixrtcm3/sample.rtcm3"), other);
    QProcess process;
    process.setProgram(program);
    process.setArguments({QStringLiteral("--stats")});
    process.setStandardInputFile(QProcess::nullDevice());
    process.start();
    const dumprunner::Run result = dumprunner::finish(process);
    EXPECT_EQ(result.exitCode, 0) << result.err.toStdString();
    EXPECT_EQ(dumprunner::parseStats(result.lines()).frames, 2);
}

TEST_F(Inputs, Ipv6LoopbackEndpointIsRead)
{
    dumprunner::LoopbackServer server(mSample, {997, 0, true});
    if (!server.listening())
        GTEST_SKIP() << "no IPv6 loopback here";
    const dumprunner::Run result = run({QStringLiteral("--stats"), server.endpoint()});
    EXPECT_EQ(result.exitCode, 0) << result.err.toStdString();
    EXPECT_EQ(dumprunner::parseStats(result.lines()).frames, mFrames.size());
}

// --timeout bounds a peer that stops sending (after some frames, or from the start) and a
// connection that is never accepted (a listener whose queue is full drops the handshake).
TEST_F(Inputs, SilentPeersAndStalledConnectsEndAfterTheTimeout)
{
    dumprunner::LoopbackServer talksThenStops(mSample.left(3000), {997, 60000, false});
    dumprunner::LoopbackServer silent(QByteArray(), {997, 60000, false});
    const int full = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    ASSERT_TRUE(::bind(full, reinterpret_cast<sockaddr *>(&address), size) == 0 && ::listen(full, 0) == 0
                && ::getsockname(full, reinterpret_cast<sockaddr *>(&address), &size) == 0);
    std::vector<int> queued;
    for (int i = 0; i < 4; ++i) {
        queued.push_back(::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0));
        ::connect(queued.back(), reinterpret_cast<sockaddr *>(&address), size);
    }
    const QString stalled = QStringLiteral("127.0.0.1:%1").arg(ntohs(address.sin_port));
    for (const QString &endpoint : {talksThenStops.endpoint(), silent.endpoint(), stalled}) {
        SCOPED_TRACE(endpoint.toStdString());
        QElapsedTimer clock;
        clock.start();
        const dumprunner::Run result = run({QStringLiteral("--timeout"), QStringLiteral("1"), endpoint});
        EXPECT_LT(clock.elapsed(), 10000);
        EXPECT_EQ(result.exitCode, 1);
        EXPECT_TRUE(QString::fromUtf8(result.err).startsWith(QLatin1String("rtcm3dump: ")));
        EXPECT_TRUE(QString::fromUtf8(result.err).contains(endpoint)) << result.err.toStdString();
    }
    for (int s : queued)
        ::close(s);
    ::close(full);
}

} // namespace
