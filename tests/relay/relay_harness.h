#pragma once
// Runs rtcm3relay as an operator does, on loopback ports, and talks to it over plain sockets
// with bounded waits. Every process started here is killed with the test.

#include "dump_runner.h"

#include <QtCore/QCoreApplication>
#include <QtCore/QProcess>
#include <QtCore/QThread>
#include <QtNetwork/QTcpServer>
#include <QtNetwork/QTcpSocket>

#include <csignal>
#include <sys/prctl.h>

namespace relayharness {

// Sockets need an event dispatcher in the test's thread.
inline void ensureApplication()
{
    static int argc = 1;
    static char name[] = "test_relay";
    static char *argv[] = {name, nullptr};
    if (!QCoreApplication::instance())
        static QCoreApplication app(argc, argv);
}

inline quint16 freePort()
{
    ensureApplication();
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return probe.serverPort();
}

// The bundled sample's frames, back to back.
inline QByteArray sample()
{
    return streamframes::bundledSample();
}

class Process
{
public:
    Process(const QString &program, const QStringList &arguments)
    {
        mProcess.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGKILL); });
        mProcess.start(program, arguments);
        mProcess.waitForStarted(5000);
    }
    explicit Process(const QStringList &arguments) : Process(QStringLiteral(RTCM3RELAY), arguments) {}
    ~Process()
    {
        mProcess.kill();
        mProcess.waitForFinished(5000);
    }
    // Waits up to 20 s until standard error holds `text` after the last one awaited.
    bool awaitErr(const QByteArray &text)
    {
        QElapsedTimer clock;
        clock.start();
        while (mErr.indexOf(text, mSeen) < 0 && !clock.hasExpired(20000) && mProcess.state() == QProcess::Running) {
            mProcess.waitForReadyRead(50);
            mErr += mProcess.readAllStandardError();
        }
        mErr += mProcess.readAllStandardError();
        const qsizetype at = mErr.indexOf(text, mSeen);
        if (at >= 0)
            mSeen = at + text.size();
        return at >= 0;
    }
    // Signals the process and waits for its end; its exit code.
    int stop(int signal = SIGINT)
    {
        ::kill(pid_t(mProcess.processId()), signal);
        mProcess.waitForFinished(20000);
        mErr += mProcess.readAllStandardError();
        return mProcess.exitCode();
    }
    const QByteArray &err() const { return mErr; }
    QProcess &process() { return mProcess; }

private:
    QProcess mProcess;
    QByteArray mErr;
    qsizetype mSeen = 0;
};

// A connection that sends `request` and reads what comes back.
struct Peer
{
    QTcpSocket socket;

    bool open(quint16 port, const QByteArray &request = {})
    {
        socket.connectToHost(QHostAddress::LocalHost, port);
        if (!socket.waitForConnected(5000))
            return false;
        socket.write(request);
        return socket.waitForBytesWritten(5000) || request.isEmpty();
    }
    // Reads until `count` bytes or the end, for at most 20 s.
    QByteArray read(qsizetype count)
    {
        QByteArray bytes;
        QElapsedTimer clock;
        clock.start();
        while (bytes.size() < count && !clock.hasExpired(20000)) {
            if (socket.bytesAvailable() == 0 && !socket.waitForReadyRead(100)
                && socket.state() != QAbstractSocket::ConnectedState)
                break;
            bytes += socket.read(count - bytes.size());
        }
        return bytes;
    }
};

inline QByteArray basic(const char *credentials)
{
    return "Authorization: Basic " + QByteArray(credentials).toBase64() + "\r\n";
}

} // namespace relayharness
