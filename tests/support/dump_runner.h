#pragma once
// Runs the rtcm3dump program as a user does and reads back what it printed; serves bytes on
// a loopback TCP port for its network input.

#include "stream_frames.h"

#include <QtCore/QByteArray>
#include <QtCore/QElapsedTimer>
#include <QtCore/QJsonDocument>
#include <QtCore/QJsonObject>
#include <QtCore/QMap>
#include <QtCore/QProcess>
#include <QtCore/QString>
#include <QtCore/QStringList>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <csignal>
#include <functional>
#include <mutex>
#include <thread>

namespace dumprunner {

struct Run
{
    bool finished = false;  // started, and ended by itself with an exit code
    int exitCode = -1;
    QByteArray out;
    QByteArray err;

    QString text() const { return QString::fromUtf8(out); }
    QStringList lines() const { return text().split(QLatin1Char('\n'), Qt::SkipEmptyParts); }
    // The unindented lines: the head of each block of the text output.
    QStringList heads() const
    {
        QStringList heads = lines();
        heads.removeIf([](const QString &line) { return line.startsWith(QLatin1Char(' ')); });
        return heads;
    }
    // The last line as JSON: the summary of a --stats --json run.
    QJsonObject summary() const { return QJsonDocument::fromJson(out.trimmed().split('\n').last()).object(); }
};

inline Run finish(QProcess &process, int waitMs = 300000)
{
    Run result;
    result.finished = process.waitForFinished(waitMs) && process.exitStatus() == QProcess::NormalExit;
    result.exitCode = process.exitCode();
    result.out = process.readAllStandardOutput();
    result.err = process.readAllStandardError();
    return result;
}

// `input` is a file whose bytes reach the program's standard input (none: /dev/null).
inline Run run(const QStringList &arguments, const QString &input = QString(),
               const QString &program = QStringLiteral(RTCM3DUMP))
{
    QProcess process;
    process.setProgram(program);
    process.setArguments(arguments);
    process.setStandardInputFile(input.isEmpty() ? QProcess::nullDevice() : input);
    process.start();
    return finish(process);
}

// A bash script in which "$0" is the program and "$1"... are `arguments`.
inline Run runShell(const QString &script, const QStringList &arguments = {})
{
    return run(QStringList{QStringLiteral("-c"), script, QStringLiteral(RTCM3DUMP)} + arguments, QString(),
               QStringLiteral("/bin/bash"));
}

// Counts of a summary object by message number: {"1005": 3} or {"1005": {"count": 3, ...}}.
inline QMap<int, qint64> byNumber(const QJsonValue &counts)
{
    QMap<int, qint64> numbers;
    const QJsonObject object = counts.toObject();
    for (auto it = object.begin(); it != object.end(); ++it)
        numbers.insert(it.key().toInt(), it->isObject() ? it->toObject().value(QStringLiteral("count")).toInteger()
                                                        : it->toInteger());
    return numbers;
}

// The reference station of a frame whose station ID follows the message number (1005-1012,
// MSM and most others).
inline int stationOf(const QByteArray &frame)
{
    return (uint8_t(frame[4]) & 0x0F) << 8 | uint8_t(frame[5]);
}

// A run that goes on while the test watches its output, then is stopped by a signal.
class LiveRun
{
public:
    explicit LiveRun(const QStringList &arguments)
    {
        mProcess.start(QStringLiteral(RTCM3DUMP), arguments);
        mProcess.waitForStarted();
    }
    QProcess &process() { return mProcess; }
    // Waits up to 20 s until the output so far satisfies `done`.
    bool awaitOutput(const std::function<bool(const QByteArray &)> &done)
    {
        QElapsedTimer clock;
        clock.start();
        while (!done(mOut) && !clock.hasExpired(20000) && mProcess.state() == QProcess::Running) {
            mProcess.waitForReadyRead(100);
            mOut += mProcess.readAllStandardOutput();
        }
        return done(mOut);
    }
    Run stop(int signal)
    {
        ::kill(pid_t(mProcess.processId()), signal);
        Run result = finish(mProcess, 20000);
        result.out.prepend(mOut);
        return result;
    }

private:
    QProcess mProcess;
    QByteArray mOut;
};

// A frame around `payload`, with its length and CRC.
inline QByteArray frame(const QByteArray &payload)
{
    QByteArray bytes = QByteArray("\xD3") + char(payload.size() >> 8) + char(payload.size() & 0xFF) + payload;
    const uint32_t crc = streamframes::crc24q(bytes);
    return bytes + char(crc >> 16) + char(crc >> 8) + char(crc);
}

// Accepts one connection on the loopback address at a port the system picks, sends the bytes
// in pieces that cut frames apart, stays silent `holdMs` longer (or until the client goes)
// and closes; keeps what the client sent. Gives up when nobody connects within a minute.
class LoopbackServer
{
public:
    explicit LoopbackServer(const QByteArray &bytes, int holdMs = 0, bool ipv6 = false)
        : mBytes(bytes), mIpv6(ipv6), mHoldMs(holdMs)
    {
        sockaddr_in v4{};
        v4.sin_family = AF_INET;
        v4.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        sockaddr_in6 v6{};
        v6.sin6_family = AF_INET6;
        v6.sin6_addr = in6addr_loopback;
        auto *address = mIpv6 ? reinterpret_cast<sockaddr *>(&v6) : reinterpret_cast<sockaddr *>(&v4);
        socklen_t size = mIpv6 ? sizeof v6 : sizeof v4;
        mListener = ::socket(mIpv6 ? AF_INET6 : AF_INET, SOCK_STREAM, 0);
        if (mListener < 0 || ::bind(mListener, address, size) != 0 || ::listen(mListener, 1) != 0
            || ::getsockname(mListener, address, &size) != 0)
            return;
        mPort = ntohs(mIpv6 ? v6.sin6_port : v4.sin_port);
        mThread = std::thread([this] { serve(); });
    }
    ~LoopbackServer()
    {
        mStop = true;
        if (mThread.joinable())
            mThread.join();
        if (mListener >= 0)
            ::close(mListener);
    }
    LoopbackServer(const LoopbackServer &) = delete;
    LoopbackServer &operator=(const LoopbackServer &) = delete;

    bool listening() const { return mPort != 0; }
    QString endpoint() const { return QString::fromLatin1(mIpv6 ? "[::1]:%1" : "127.0.0.1:%1").arg(mPort); }
    // Whether every byte went out; valid once the client has finished.
    bool servedAll() const { return mServedAll.load(); }
    QByteArray received() const
    {
        std::lock_guard<std::mutex> lock(mMutex);
        return mReceived;
    }

private:
    void serve()
    {
        int client = -1;
        for (int waited = 0; client < 0 && waited < 60000 && !mStop; waited += 100)
            if (wait(mListener, 100))
                client = ::accept(mListener, nullptr, nullptr);
        if (client < 0)
            return;
        qsizetype sent = 0;
        while (sent < mBytes.size()) {
            const ssize_t n = ::send(client, mBytes.constData() + sent,
                                     size_t(std::min<qsizetype>(997, mBytes.size() - sent)), MSG_NOSIGNAL);
            if (n <= 0)
                break;
            sent += n;
            collect(client, 1);  // also lets the reader see the pieces one by one
        }
        mServedAll = sent == mBytes.size();
        for (int waited = 0; waited < mHoldMs && !mStop && collect(client, 50); waited += 50) {
        }
        ::close(client);
    }
    static bool wait(int fd, int ms)
    {
        pollfd readable{fd, POLLIN, 0};
        return ::poll(&readable, 1, ms) == 1;
    }
    // Keeps what the client sends; false once it closed.
    bool collect(int client, int waitMs)
    {
        if (!wait(client, waitMs))
            return true;
        char buffer[4096];
        const ssize_t n = ::recv(client, buffer, sizeof buffer, 0);
        std::lock_guard<std::mutex> lock(mMutex);
        mReceived.append(buffer, std::max<ssize_t>(n, 0));
        return n > 0;
    }

    QByteArray mBytes;
    bool mIpv6;
    int mHoldMs;
    int mListener = -1;
    quint16 mPort = 0;
    std::atomic<bool> mServedAll{false};
    std::atomic<bool> mStop{false};
    mutable std::mutex mMutex;
    QByteArray mReceived;
    std::thread mThread;
};

} // namespace dumprunner
