// rtcm3relay as a caster and as an NTRIP server, run as a program on loopback: what clients
// receive is the input byte for byte, refusals say why, a source may leave and come back, and a
// client that stops reading is dropped while the others go on. The Str2str tests use rtklib's
// str2str as the peer and skip where it is not installed.

#include "relay_harness.h"

#include <QtCore/QStandardPaths>
#include <QtCore/QTemporaryDir>

#include <gtest/gtest.h>

using namespace relayharness;

namespace {

class RelayCaster : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ensureApplication();
        QFile users(mDir.filePath(QStringLiteral("users")));
        ASSERT_TRUE(users.open(QIODevice::WriteOnly));
        users.write("# mount:source password:users\nMNT:spw:alice:a~?>b,bob:x\nFED:fpw:alice:a~?>b,bob:x\n");
        users.close();
        ASSERT_TRUE(mFeed.listen(QHostAddress::LocalHost));
        mCaster = std::make_unique<Process>(QStringList{
            QStringLiteral("tcp://127.0.0.1:%1?mount=FED").arg(mFeed.serverPort()), "--caster",
            QStringLiteral("127.0.0.1:%1").arg(mPort), "--users", users.fileName()});
        ASSERT_TRUE(mFeed.waitForNewConnection(10000));
        mInput.reset(mFeed.nextPendingConnection());
    }
    // Feeds the caster's input mountpoint FED.
    void feed(const QByteArray &bytes)
    {
        mInput->write(bytes);
        mInput->waitForBytesWritten(5000);
    }
    QByteArray get(const QByteArray &mount, const QByteArray &extra = {}, const char *protocol = "HTTP/1.0")
    {
        return "GET /" + mount + ' ' + protocol + "\r\nUser-Agent: NTRIP test\r\n" + extra + "\r\n";
    }
    QString url(const char *who, const char *mount) const
    {
        return QStringLiteral("ntrip://%1@127.0.0.1:%2/%3").arg(QLatin1String(who)).arg(mPort).arg(QLatin1String(mount));
    }

    QTemporaryDir mDir;
    const quint16 mPort = freePort();
    QTcpServer mFeed;
    std::unique_ptr<QTcpSocket> mInput;
    std::unique_ptr<Process> mCaster;
};

TEST_F(RelayCaster, ServesVersion1And2ClientsTheInputByteForByte)
{
    const QByteArray bytes = sample();
    dumprunner::LiveRun v2({"--stats", "--save", mDir.filePath(QStringLiteral("v2")), "--timeout", "10", url("bob:x", "FED")});
    Peer v1;
    ASSERT_TRUE(v1.open(mPort, get("FED", basic("alice:a~?>b"))));
    ASSERT_TRUE(mCaster->awaitErr("reads FED"));
    ASSERT_TRUE(mCaster->awaitErr("reads FED"));
    feed(bytes);
    EXPECT_TRUE(v1.read(12 + bytes.size()) == "ICY 200 OK\r\n" + bytes);
    QElapsedTimer clock;
    clock.start();
    while (QFileInfo(mDir.filePath(QStringLiteral("v2"))).size() < bytes.size() && !clock.hasExpired(20000))
        QThread::msleep(20);
    v2.stop(SIGINT);
    EXPECT_TRUE(streamframes::readFile(mDir.filePath(QStringLiteral("v2"))) == bytes);

    // The source table lists every message number the stream carried.
    Peer table;
    ASSERT_TRUE(table.open(mPort, get("")));
    const QByteArray answer = table.read(1 << 20);
    const QList<QByteArray> str = answer.mid(answer.indexOf("STR;FED;")).split('\n').value(0).trimmed().split(';');
    ASSERT_EQ(str.size(), 19) << answer.toStdString();
    EXPECT_EQ(str[15], "B");  // FED has users
    // The position of the sample's station (47.40782 N, 8.51068 E, as the sample generator
    // places it) from its 1006.
    EXPECT_NEAR(str[9].toDouble(), 47.41, 0.01);
    EXPECT_NEAR(str[10].toDouble(), 8.51, 0.01);
    // The network record names the network the stream refers to, closed as FED is.
    const QList<QByteArray> net = answer.mid(answer.indexOf("NET;")).split('\n').value(0).trimmed().split(';');
    ASSERT_EQ(net.size(), 9) << answer.toStdString();
    EXPECT_EQ(net[1], str[7]);
    EXPECT_EQ(net[3], "B");
    QSet<int> types;
    for (const QByteArray &frame : streamframes::splitClean(bytes).frames)
        types << streamframes::messageNumber(frame);
    for (const QByteArray &detail : str[4].split(','))
        EXPECT_TRUE(types.remove(detail.split('(').value(0).toInt())) << detail.toStdString();
    EXPECT_TRUE(types.isEmpty());
}

TEST_F(RelayCaster, RefusesWrongPasswordsAndUnknownMountpointsOnBothSides)
{
    const struct
    {
        QByteArray request;
        QByteArray answer;
    } cases[] = {
        {get("FED", basic("alice:wrong")), "HTTP/1.0 401"},
        {get("FED", "Ntrip-Version: Ntrip/2.0\r\n", "HTTP/1.1"), "HTTP/1.1 401"},
        {get("NOPE", "Ntrip-Version: Ntrip/2.0\r\n", "HTTP/1.1"), "HTTP/1.1 404"},
        {get("NOPE"), "SOURCETABLE 200 OK"},
        {"SOURCE wrong /MNT\r\nSource-Agent: NTRIP test\r\n\r\n", "ERROR - Bad Password"},
        {"SOURCE spw /NOPE\r\n\r\n", "ERROR - Bad Password"},
        {"SOURCE fpw /FED\r\n\r\n", "ERROR - Mount Point Taken or Invalid"},
        {"POST /MNT HTTP/1.1\r\nNtrip-Version: Ntrip/2.0\r\n" + basic("x:wrong") + "\r\n", "HTTP/1.1 401"},
        {"BREW /MNT HTTP/1.1\r\n\r\n", "HTTP/1.1 400"},
        {"GET /" + QByteArray(9000, 'A'), "HTTP/1.1 413"},
    };
    for (const auto &c : cases) {
        Peer peer;
        ASSERT_TRUE(peer.open(mPort, c.request));
        EXPECT_TRUE(peer.read(1 << 16).startsWith(c.answer)) << c.request.left(60).toStdString();
    }
    const dumprunner::Run refused = dumprunner::run({"--timeout", "5", url("bob:y", "MNT")});
    EXPECT_EQ(refused.exitCode, 1);
}

TEST_F(RelayCaster, KeepsClientsWhileTheSourceLeavesAndReturns)
{
    const QByteArray bytes = sample();
    const qsizetype half = streamframes::splitClean(bytes.left(bytes.size() / 2)).frames.join().size();
    Peer source;
    ASSERT_TRUE(source.open(mPort, "SOURCE spw /MNT\r\nSource-Agent: NTRIP test\r\n\r\n"));
    ASSERT_EQ(source.read(12), "ICY 200 OK\r\n");
    Peer client;
    ASSERT_TRUE(client.open(mPort, get("MNT", basic("bob:x"))));
    ASSERT_TRUE(mCaster->awaitErr("reads MNT"));
    source.socket.write(bytes.left(half));
    source.socket.waitForBytesWritten(5000);
    source.socket.disconnectFromHost();
    ASSERT_TRUE(mCaster->awaitErr("of mountpoint MNT left"));
    Peer again;
    ASSERT_TRUE(again.open(mPort, "POST /MNT HTTP/1.1\r\nNtrip-Version: Ntrip/2.0\r\nTransfer-Encoding: chunked\r\n"
                                  + basic("any:spw") + "\r\n"));
    ASSERT_TRUE(again.read(15).startsWith("HTTP/1.1 200 OK"));
    // Chunks of every size, the last one cut inside a frame.
    for (qsizetype at = half, size = 1; at < bytes.size(); at += size, size = size * 3 % 1000 + 1)
        again.socket.write(QByteArray::number(qMin(size, bytes.size() - at), 16) + "\r\n" + bytes.mid(at, size) + "\r\n");
    again.socket.write("0\r\n\r\n");
    again.socket.waitForBytesWritten(5000);
    EXPECT_TRUE(client.read(12 + bytes.size()) == "ICY 200 OK\r\n" + bytes);
}

TEST_F(RelayCaster, DropsAClientThatStopsReadingAndServesTheOthersInFull)
{
    QByteArray bytes;
    for (int i = 0; bytes.size() < 24 * 1024 * 1024; ++i)
        bytes += dumprunner::frame(QByteArray(1, char(0xFF)) + char(0xF0) + QByteArray(1000, char(i)));
    Peer reader, stuck;
    ASSERT_TRUE(reader.open(mPort, get("FED", basic("alice:a~?>b"))));
    ASSERT_TRUE(stuck.open(mPort, get("FED", basic("alice:a~?>b"))));
    ASSERT_TRUE(mCaster->awaitErr("reads FED"));
    // The reader keeps up with the feed; the stuck client's kernel buffers and queue fill.
    QByteArray received;
    for (qsizetype at = 0; at < bytes.size(); at += 64 * 1024) {
        mInput->write(bytes.mid(at, 64 * 1024));
        mInput->waitForBytesWritten(1000);
        received += reader.read(12 + at - received.size());
    }
    received += reader.read(12 + bytes.size() - received.size());
    EXPECT_TRUE(received == "ICY 200 OK\r\n" + bytes);
    EXPECT_TRUE(mCaster->awaitErr("dropping client 127.0.0.1 of FED: it does not read"));
}

// A second relay reads FED as an NTRIP client and serves it on as UP; what a client of UP
// sends as GGA reaches our caster, where asked only.
TEST_F(RelayCaster, PassesClientsGgaUpToAnNtripInputWhereAsked)
{
    const struct
    {
        const char *parameters;
        QByteArray checksum;  // tells the two sentences apart
    } cases[] = {{"?mount=UP", "5B"}, {"?mount=UP&gga=pass", "5A"}};
    for (const auto &c : cases) {
        const quint16 port = freePort();
        Process relay({url("bob:x", "FED") + QLatin1String(c.parameters), "--caster", QStringLiteral("127.0.0.1:%1").arg(port)});
        ASSERT_TRUE(mCaster->awaitErr("reads FED"));
        Peer client;
        ASSERT_TRUE(client.open(port, get("UP")));
        ASSERT_TRUE(relay.awaitErr("reads UP"));
        const QByteArray bytes = sample();
        feed(bytes);
        ASSERT_TRUE(client.read(12 + bytes.size()) == "ICY 200 OK\r\n" + bytes);
        client.socket.write("$GPGGA,120000.00,5006.0,N,00836.0,E,1,08,1.0,100.0,M,47.0,M,,*" + c.checksum + "\r\n");
        ASSERT_TRUE(client.socket.waitForBytesWritten(5000));
        ASSERT_TRUE(relay.awaitErr("on UP sent $GPGGA"));
    }
    EXPECT_TRUE(mCaster->awaitErr("on FED sent $GPGGA,120000.00,5006.0,N,00836.0,E,1,08,1.0,100.0,M,47.0,M,,*5A"));
    EXPECT_FALSE(mCaster->err().contains("*5B"));
}

// Our own push, version 1 and 2, into our caster, read by rtcm3dump.
TEST_F(RelayCaster, TakesOurPushInBothVersions)
{
    const QByteArray bytes = sample();
    for (const int version : {1, 2}) {
        QTcpServer feed;
        ASSERT_TRUE(feed.listen(QHostAddress::LocalHost));
        Process push({QStringLiteral("tcp://127.0.0.1:%1").arg(feed.serverPort()), "--to",
                      QStringLiteral("ntrip://:spw@127.0.0.1:%1/MNT?v=%2").arg(mPort).arg(version)});
        ASSERT_TRUE(mCaster->awaitErr(QStringLiteral("feeds mountpoint MNT (version %1)").arg(version).toUtf8()));
        const QString saved = mDir.filePath(QStringLiteral("pushed%1").arg(version));
        dumprunner::LiveRun client({"--stats", "--save", saved, "--timeout", "10", url("bob:x", "MNT")});
        ASSERT_TRUE(mCaster->awaitErr(QStringLiteral("reads MNT (version 2)").toUtf8()));
        ASSERT_TRUE(feed.waitForNewConnection(10000));
        QTcpSocket *source = feed.nextPendingConnection();
        source->write(bytes);
        source->waitForBytesWritten(5000);
        QElapsedTimer clock;
        clock.start();
        while (QFileInfo(saved).size() < bytes.size() && !clock.hasExpired(20000))
            QThread::msleep(20);
        client.stop(SIGINT);
        EXPECT_TRUE(streamframes::readFile(saved) == bytes) << version;
        EXPECT_EQ(push.stop(SIGTERM), 0);
        EXPECT_TRUE(push.err().contains("output total ntrip://127.0.0.1")) << push.err().toStdString();
        ASSERT_TRUE(mCaster->awaitErr("of mountpoint MNT left"));
    }
}

class Str2strRelay : public RelayCaster
{
protected:
    void SetUp() override
    {
        mStr2str = QStandardPaths::findExecutable(QStringLiteral("str2str"));
        if (mStr2str.isEmpty())
            GTEST_SKIP() << "str2str (Debian package rtklib) is not installed";
        RelayCaster::SetUp();
    }
    QString mStr2str;
};

TEST_F(Str2strRelay, PushesIntoOurCasterByteForByte)
{
    const QByteArray bytes = sample();
    QTcpServer feed;
    ASSERT_TRUE(feed.listen(QHostAddress::LocalHost));
    Process server(mStr2str, {"-in", QStringLiteral("tcpcli://127.0.0.1:%1").arg(feed.serverPort()), "-out",
                              QStringLiteral("ntrips://:spw@127.0.0.1:%1/MNT").arg(mPort)});
    ASSERT_TRUE(mCaster->awaitErr("feeds mountpoint MNT (version 1)"));
    Peer client;
    ASSERT_TRUE(client.open(mPort, get("MNT", basic("alice:a~?>b"))));
    ASSERT_TRUE(mCaster->awaitErr("reads MNT"));
    ASSERT_TRUE(feed.waitForNewConnection(10000));
    QTcpSocket *source = feed.nextPendingConnection();
    source->write(bytes);
    source->waitForBytesWritten(5000);
    EXPECT_TRUE(client.read(12 + bytes.size()) == "ICY 200 OK\r\n" + bytes);
}

TEST_F(Str2strRelay, ReadsFromOurCasterByteForByte)
{
    const QByteArray bytes = sample();
    const QString saved = mDir.filePath(QStringLiteral("str2str.rtcm3"));
    Process client(mStr2str, {"-in", QStringLiteral("ntrip://alice:a~?>b@127.0.0.1:%1/FED").arg(mPort), "-out",
                              QStringLiteral("file://%1").arg(saved)});
    ASSERT_TRUE(mCaster->awaitErr("reads FED (version 1)"));
    feed(bytes);
    QElapsedTimer clock;
    clock.start();
    while (QFileInfo(saved).size() < bytes.size() && !clock.hasExpired(20000))
        QThread::msleep(20);
    client.stop(SIGINT);
    EXPECT_TRUE(streamframes::readFile(saved) == bytes);
}

} // namespace
