// The NTRIP client against rtklib's str2str, a real and independent version 1 caster:
// every frame of a capture fed into its input arrives, refusals give their own errors and
// its source table lists the mountpoint. Skipped where str2str is not installed.

#include "net_harness.h"

#include "NtripClient.h"

#include "../sync/sync_streams.h"

#include <QtCore/QDir>
#include <QtCore/QFile>
#include <QtCore/QProcess>
#include <QtCore/QStandardPaths>

#include <gtest/gtest.h>

#include <csignal>
#include <sys/prctl.h>

using namespace netharness;

namespace {

class Str2str : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ensureApplication();
        const QString program = QStandardPaths::findExecutable(QStringLiteral("str2str"));
        if (program.isEmpty())
            GTEST_SKIP() << "str2str (Debian package rtklib) is not installed";
        mCaster.setProgram(program);
        mCaster.setWorkingDirectory(QDir::tempPath());
        mCaster.setArguments({"-in", QStringLiteral("tcpsvr://:%1").arg(mInPort), "-out",
                              QStringLiteral("ntripc://user:secret@:%1/MNT:Town;RTCM 3.3;1004(1);2;GPS;NETX;DEU;50.12;8.68;0;0")
                                  .arg(mCasterPort)});
        // The caster dies with the test, even when the test crashes.
        mCaster.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGKILL); });
        mCaster.setStandardOutputFile(QProcess::nullDevice());
        mCaster.setStandardErrorFile(QProcess::nullDevice());
        mCaster.start();
        ASSERT_TRUE(mCaster.waitForStarted(5000));
        for (int i = 0; i < 100; ++i) {  // ready once its caster port accepts
            QTcpSocket probe;
            probe.connectToHost(QHostAddress::LocalHost, mCasterPort);
            if (probe.waitForConnected(100))
                return;
            QThread::msleep(50);
        }
        FAIL() << "str2str did not open its caster port";
    }
    void TearDown() override
    {
        mCaster.kill();
        mCaster.waitForFinished(5000);
    }
    NtripEndpoint endpoint(const QString &who, const QString &mount) const
    {
        QString error;
        return NtripEndpoint::parse(QStringLiteral("ntrip://%1@127.0.0.1:%2/%3").arg(who).arg(mCasterPort).arg(mount), &error);
    }
    static NtripSettings settings(int version)
    {
        NtripSettings s;
        s.timeoutMs = 5000;
        s.version = version;
        return s;
    }

    QProcess mCaster;
    const quint16 mInPort = freePort();
    const quint16 mCasterPort = freePort();
};

// Every frame of the bundled sample, and of a shared capture where present, in both
// versions; what the caster adds of its own may only be dropped bytes.
TEST_F(Str2str, DeliversEveryFrameOfACaptureInBothVersions)
{
    QStringList files{QStringLiteral(NUVRIX_SAMPLES_DIR "/rtklib/GMSD7_20121014.rtcm3")};
#ifdef NUVRIX_SAMPLE_STREAM
    files << QStringLiteral(NUVRIX_SAMPLE_STREAM);
#endif
    for (const QString &file : files) {
        QFile capture(file);
        if (!capture.open(QIODevice::ReadOnly))
            continue;
        const QByteArray bytes = capture.readAll();
        const syncstreams::Outcome expected = syncstreams::feedWhole(bytes);
        for (const int version : {1, 2}) {
            SCOPED_TRACE(qPrintable(QStringLiteral("%1, version %2").arg(file).arg(version)));
            NtripClient client(endpoint(QStringLiteral("user:secret"), QStringLiteral("MNT")), settings(version));
            QTcpSocket source;
            qsizetype fed = 0;
            const Collected got = pull(client, 10, 30000, [&](const Collected &c) {
                // Feed once the client is in, at a pace the caster's buffers take (it drops
                // what overflows them); stop once every frame is through.
                if (c.connections.isEmpty())
                    return;
                if (source.state() == QAbstractSocket::UnconnectedState) {
                    source.connectToHost(QHostAddress::LocalHost, mInPort);
                    ASSERT_TRUE(source.waitForConnected(2000));
                }
                if (fed < bytes.size()) {
                    source.write(bytes.mid(fed, 2048));
                    source.waitForBytesWritten(1000);
                    fed += 2048;
                    QThread::msleep(5);
                }
                if (syncstreams::feedWhole(c.connections.last()).frames.size() >= expected.frames.size())
                    client.close();
            });
            const syncstreams::Outcome framed = syncstreams::feedWhole(got.all());
            EXPECT_EQ(framed.frames.size(), expected.frames.size());
            EXPECT_TRUE(framed.frames == expected.frames);
            EXPECT_EQ(framed.crcErrors, expected.crcErrors);
            EXPECT_EQ(client.version(), 1);
        }
    }
}

TEST_F(Str2str, RefusalsGiveTheirOwnErrors)
{
    const struct
    {
        const char *who;
        const char *mount;
        NetError error;
    } cases[] = {{"user:wrong", "MNT", NetError::AuthenticationFailed},
                 {"user", "MNT", NetError::AuthenticationFailed},
                 {"user:secret", "NOPE", NetError::UnknownMountpoint}};
    for (const auto &c : cases) {
        NtripClient client(endpoint(QString::fromUtf8(c.who), QString::fromUtf8(c.mount)), settings(0));
        pull(client);
        EXPECT_EQ(client.state(), NetStream::State::Failed) << c.who << " " << c.mount;
        EXPECT_EQ(client.error(), c.error) << qPrintable(client.errorString());
    }
}

TEST_F(Str2str, SourceTableListsTheMountpoint)
{
    QString error;
    const SourceTable table = fetchSourceTable(endpoint(QStringLiteral("user"), QString()), settings(0), &error);
    EXPECT_TRUE(error.isEmpty()) << qPrintable(error);
    ASSERT_EQ(table.streams.size(), 1);
    const SourceTableStream &s = table.streams[0];
    EXPECT_EQ(QStringList({s.mountpoint, s.format, s.country}).join(';'), QStringLiteral("MNT;RTCM 3.3;DEU"));
    EXPECT_DOUBLE_EQ(s.latitudeDeg, 50.12);
}

} // namespace
