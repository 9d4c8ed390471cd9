// rtcm3dump and its NTRIP client against rtklib's str2str, a real and independent version 1
// caster: every frame of a capture fed into its input arrives and refusals give their own
// errors, and an old stream through it is dated by itself or by --time, never by the clock.
// Skipped where str2str is not installed.

#include "net_harness.h"

#include "dump_runner.h"
#include "rinex_reader.h"

#include "../sync/sync_streams.h"

#include <QtCore/QDir>
#include <QtCore/QElapsedTimer>
#include <QtCore/QFileInfo>
#include <QtCore/QJsonObject>
#include <QtCore/QTemporaryDir>
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
    // --rinex prints nothing until it ends: a client is in once a connection to the caster
    // port stands and its request has had time to be answered.
    bool awaitClient() const
    {
        const QByteArray port = QByteArray::number(mCasterPort, 16).toUpper().rightJustified(4, '0');
        for (int i = 0; i < 100; ++i) {
            for (const char *table : {"/proc/net/tcp", "/proc/net/tcp6"}) {
                QFile file{QString::fromLatin1(table)};
                if (!file.open(QIODevice::ReadOnly))
                    continue;
                for (const QByteArray &line : file.readAll().split('\n')) {
                    const QList<QByteArray> f = line.simplified().split(' ');
                    if (f.size() > 3 && f[3] == "01" && f[2].endsWith(":" + port)) {
                        QThread::msleep(500);
                        return true;
                    }
                }
            }
            QThread::msleep(50);
        }
        return false;
    }
    QString url(const char *who, const char *mount) const
    {
        return QStringLiteral("ntrip://%1@127.0.0.1:%2/%3").arg(QLatin1String(who)).arg(mCasterPort).arg(QLatin1String(mount));
    }

    QProcess mCaster;
    const quint16 mInPort = freePort();
    const quint16 mCasterPort = freePort();
};

// rtcm3dump itself on the caster: every frame of the bundled sample, and of a shared capture
// where present, arrives in both versions and is recorded byte for byte by --save; what the
// caster adds of its own may only be dropped bytes; SIGINT ends the run with its summary.
TEST_F(Str2str, DeliversEveryFrameOfACaptureThroughRtcm3dumpInBothVersions)
{
    QStringList files{QStringLiteral(NUVRIX_SAMPLES_DIR "/rtklib/GMSD7_20121014.rtcm3"),
                      QStringLiteral(NUVRIX_SAMPLE_STREAM)};
    QTemporaryDir dir;
    for (const QString &file : files) {
        QFile capture(file);
        if (!capture.open(QIODevice::ReadOnly))
            continue;
        const QByteArray bytes = capture.readAll();
        const syncstreams::Outcome expected = syncstreams::feedWhole(bytes);
        const QByteArray expectedBytes = expected.frames.join();
        for (const int version : {1, 2}) {
            SCOPED_TRACE(qPrintable(QStringLiteral("%1, version %2").arg(file).arg(version)));
            const QString saved = dir.filePath(QStringLiteral("saved%1.rtcm3").arg(version));
            dumprunner::LiveRun run({"--stats", "--json", "--every", "0.2", "--save", saved, "--timeout", "10",
                                     "--ntrip-version", QString::number(version), url("user:secret", "MNT")});
            // Its first periodic summary says it is connected: feed at a pace the caster's
            // buffers take (it drops what overflows them).
            ASSERT_TRUE(run.awaitOutput([](const QByteArray &out) { return out.contains('\n'); }));
            QTcpSocket source;
            source.connectToHost(QHostAddress::LocalHost, mInPort);
            ASSERT_TRUE(source.waitForConnected(2000));
            for (qsizetype fed = 0; fed < bytes.size(); fed += 2048) {
                source.write(bytes.mid(fed, 2048));
                source.waitForBytesWritten(1000);
                QThread::msleep(5);
            }
            QElapsedTimer clock;
            clock.start();
            while (QFileInfo(saved).size() < expectedBytes.size() && !clock.hasExpired(20000))
                QThread::msleep(50);
            const dumprunner::Run result = run.stop(SIGINT);
            EXPECT_EQ(result.exitCode, 0) << result.err.toStdString();
            QFile recording(saved);
            ASSERT_TRUE(recording.open(QIODevice::ReadOnly));
            EXPECT_TRUE(recording.readAll() == expectedBytes);
            const QJsonObject total = result.summary();
            EXPECT_EQ(total.value("summary").toString(), QStringLiteral("total"));
            EXPECT_EQ(total.value("frames").toInteger(), expected.frames.size());
            EXPECT_EQ(total.value("crcErrors").toInteger(), expected.crcErrors);
        }
    }
}

TEST_F(Str2str, RefusalsEndRtcm3dumpWithTheirOwnMessages)
{
    const struct
    {
        const char *who;
        const char *mount;
        const char *says;
    } cases[] = {{"user:wrong", "MNT", "password"}, {"user:secret", "NOPE", "mountpoint"}};
    for (const auto &c : cases) {
        const dumprunner::Run result = dumprunner::run({"--timeout", "5", url(c.who, c.mount)});
        EXPECT_EQ(result.exitCode, 1) << c.who << " " << c.mount;
        EXPECT_TRUE(result.err.startsWith("rtcm3dump: cannot connect to ntrip://")) << result.err.toStdString();
        EXPECT_TRUE(result.err.contains(c.says)) << result.err.toStdString();
        EXPECT_FALSE(result.err.contains("wrong")) << "the password stays out of messages";
    }
}

// A years-old stream replayed through a real caster is live network input: the clock may
// pick an era but never dates an epoch. Dated, it keeps its own date; with its dating
// messages (1013, 1029, orbits) taken out, --time dates it; with neither, nothing is written.
TEST_F(Str2str, DatesAnOldStreamByItselfOrByTheUserNeverByTheClock)
{
    QFile file(QStringLiteral(NUVRIX_SAMPLE_STREAM));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const syncstreams::Outcome sample = syncstreams::feedWhole(file.readAll());
    QByteArray dated, undated;
    for (const QByteArray &frame : sample.frames) {
        const int n = (uint8_t(frame[3]) << 4) | (uint8_t(frame[4]) >> 4);
        dated += frame;
        if (n != 1013 && n != 1029 && n != 1019 && n != 1020 && (n < 1041 || n > 1046))
            undated += frame;
    }
    const struct
    {
        const QByteArray *stream;
        const char *time;  // --time, or none
        bool written;
    } cases[] = {{&dated, nullptr, true}, {&undated, "2024-06-04", true}, {&undated, nullptr, false}};
    for (const auto &c : cases) {
        SCOPED_TRACE(std::string(c.stream == &dated ? "dated" : "undated") + (c.time ? " with --time" : ""));
        QTemporaryDir dir;
        QStringList arguments{"--rinex", dir.filePath("r"), "--timeout", "10"};
        if (c.time)
            arguments << "--time" << QLatin1String(c.time);
        dumprunner::LiveRun run(arguments << url("user:secret", "MNT"));
        ASSERT_TRUE(awaitClient());
        QTcpSocket source;
        source.connectToHost(QHostAddress::LocalHost, mInPort);
        ASSERT_TRUE(source.waitForConnected(2000));
        source.write(*c.stream);
        source.waitForBytesWritten(1000);
        QThread::msleep(1000);  // the caster relays at its own pace; the run ends on SIGINT
        const dumprunner::Run result = run.stop(SIGINT);
        const QStringList files = QDir(dir.filePath("r")).entryList({"*O.rnx"}, QDir::Files);
        if (!c.written) {
            EXPECT_EQ(result.exitCode, 1);
            EXPECT_TRUE(files.isEmpty());
            EXPECT_TRUE(result.err.contains("--time")) << result.err.toStdString();
            continue;
        }
        EXPECT_EQ(result.exitCode, 0) << result.err.toStdString();
        ASSERT_EQ(files.size(), 1) << result.err.toStdString();
        const rinexreader::ObsFile obs = rinexreader::readObs(dir.filePath("r/" + files[0]).toStdString());
        ASSERT_FALSE(obs.epochs.empty());
        for (const rinexreader::ObsEpoch &e : obs.epochs)
            EXPECT_TRUE(e.time.year == 2024 && e.time.month == 6 && e.time.day == 4) << e.time.year << '-' << e.time.month;
    }
}

} // namespace
