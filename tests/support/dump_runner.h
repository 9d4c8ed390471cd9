#pragma once
// Runs the rtcm3dump program as a user does and reads back what it printed; serves bytes on
// a loopback TCP port for its network input.

#include "stream_frames.h"

#include <QtCore/QByteArray>
#include <QtCore/QElapsedTimer>
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
#include <chrono>
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
};

inline Run finish(QProcess &process, int waitMs = 300000)
{
    Run result;
    result.finished = process.waitForFinished(waitMs) && process.exitStatus() == QProcess::NormalExit;
    result.exitCode = process.exitCode();
    result.out += process.readAllStandardOutput();
    result.err += process.readAllStandardError();
    return result;
}

// `input` is a file whose bytes reach the program's standard input (none: /dev/null).
inline Run run(const QStringList &arguments, const QString &input = QString())
{
    QProcess process;
    process.setProgram(QStringLiteral(RTCM3DUMP));
    process.setArguments(arguments);
    process.setStandardInputFile(input.isEmpty() ? QProcess::nullDevice() : input);
    process.start();
    return finish(process);
}

// A bash script in which "$0" is the program and "$1"... are `arguments`.
inline Run runShell(const QString &script, const QStringList &arguments = {})
{
    QProcess process;
    process.setProgram(QStringLiteral("/bin/bash"));
    process.setArguments(QStringList{QStringLiteral("-c"), script, QStringLiteral(RTCM3DUMP)} + arguments);
    process.setStandardInputFile(QProcess::nullDevice());
    process.start();
    return finish(process);
}

// A run that goes on while the test watches its output, then is stopped by a signal.
class LiveRun
{
public:
    explicit LiveRun(const QStringList &arguments)
    {
        mProcess.setProgram(QStringLiteral(RTCM3DUMP));
        mProcess.setArguments(arguments);
        mProcess.start();
        mProcess.waitForStarted();
    }
    QProcess &process() { return mProcess; }
    // Waits up to `waitMs` until the output so far satisfies `done`.
    bool awaitOutput(const std::function<bool(const QByteArray &)> &done, int waitMs = 20000)
    {
        QElapsedTimer clock;
        clock.start();
        while (!done(mOut) && !clock.hasExpired(waitMs) && mProcess.state() == QProcess::Running) {
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

// The --stats summary, read back.
struct Stats
{
    bool complete = false;  // every line was understood and every count was found
    qint64 frames = -1;
    qint64 crcErrors = -1;
    qint64 droppedBytes = -1;
    qint64 filtered = -1;
    qint64 empty = -1;
    qint64 trailing = -1;  // frames with bytes after their last field
    QStringList stations;
    QMap<int, qint64> decoded;
    QMap<int, qint64> unknown;
    QMap<QString, qint64> errors;
};

inline Stats parseStats(const QStringList &lines)
{
    Stats stats;
    const QMap<QString, qint64 *> counts = {
        {QStringLiteral("frames"), &stats.frames},
        {QStringLiteral("CRC errors"), &stats.crcErrors},
        {QStringLiteral("dropped bytes"), &stats.droppedBytes},
        {QStringLiteral("filtered frames"), &stats.filtered},
        {QStringLiteral("empty frames"), &stats.empty},
        {QStringLiteral("frames with bytes after the last field"), &stats.trailing},
    };
    QMap<QString, QMap<int, qint64> *> sections = {
        {QStringLiteral("decoded by message type"), &stats.decoded},
        {QStringLiteral("unknown message numbers"), &stats.unknown},
    };
    QMap<int, qint64> *section = nullptr;
    bool inErrors = false;
    bool understood = !lines.isEmpty() && lines.first().startsWith(QLatin1String("frames: "));
    for (const QString &line : lines) {
        const qsizetype colon = line.indexOf(QLatin1Char(':'));
        const QString key = line.left(colon).trimmed();
        const QString value = line.mid(colon + 1).trimmed();
        bool isNumber = false;
        const qint64 number = value.toLongLong(&isNumber);
        if (line.startsWith(QLatin1String("  ")) && isNumber && (section || inErrors)) {
            if (inErrors)
                stats.errors.insert(key, number);
            else
                section->insert(key.toInt(), number);
        } else if (counts.contains(key) && isNumber && *counts[key] < 0) {
            *counts[key] = number;
        } else if (key == QLatin1String("stations")) {
            stats.stations = value == QLatin1String("none") ? QStringList() : value.split(QStringLiteral(", "));
        } else if (sections.contains(key) || key == QLatin1String("decode errors")) {
            section = sections.value(key);
            inErrors = !section;
        } else {
            understood = false;
        }
    }
    stats.complete = understood;
    for (const qint64 *count : counts)
        stats.complete = stats.complete && *count >= 0;
    return stats;
}

// A frame around `payload`, with its length and CRC.
inline QByteArray frame(const QByteArray &payload)
{
    QByteArray bytes;
    bytes.append(char(0xD3)).append(char(payload.size() >> 8)).append(char(payload.size() & 0xFF)).append(payload);
    const uint32_t crc = streamframes::crc24q(bytes);
    return bytes.append(char(crc >> 16)).append(char(crc >> 8)).append(char(crc));
}

// Accepts one connection on the loopback address at a port the system picks, sends the bytes
// in pieces that cut frames apart, keeps the connection open `holdMs` longer (a silent peer)
// and closes. Keeps what the client sent. Gives up when nobody connects within a minute or
// the server goes.
class LoopbackServer
{
public:
    struct Settings
    {
        int piece = 997;
        int holdMs = 0;
        bool ipv6 = false;
    };

    explicit LoopbackServer(const QByteArray &bytes) : LoopbackServer(bytes, Settings()) {}
    LoopbackServer(const QByteArray &bytes, const Settings &settings)
        : mBytes(bytes), mSettings(settings)
    {
        mListener = ::socket(settings.ipv6 ? AF_INET6 : AF_INET, SOCK_STREAM, 0);
        sockaddr_storage address{};
        socklen_t size = 0;
        if (settings.ipv6) {
            auto *v6 = reinterpret_cast<sockaddr_in6 *>(&address);
            v6->sin6_family = AF_INET6;
            v6->sin6_addr = in6addr_loopback;
            size = sizeof *v6;
        } else {
            auto *v4 = reinterpret_cast<sockaddr_in *>(&address);
            v4->sin_family = AF_INET;
            v4->sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            size = sizeof *v4;
        }
        if (mListener < 0 || ::bind(mListener, reinterpret_cast<sockaddr *>(&address), size) != 0
            || ::listen(mListener, 1) != 0
            || ::getsockname(mListener, reinterpret_cast<sockaddr *>(&address), &size) != 0)
            return;
        mPort = ntohs(settings.ipv6 ? reinterpret_cast<sockaddr_in6 *>(&address)->sin6_port
                                    : reinterpret_cast<sockaddr_in *>(&address)->sin_port);
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
    QString endpoint() const
    {
        return mSettings.ipv6 ? QStringLiteral("[::1]:%1").arg(mPort) : QStringLiteral("127.0.0.1:%1").arg(mPort);
    }
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
        int ready = 0;
        for (int waited = 0; ready != 1 && waited < 60000 && !mStop; waited += 100) {
            pollfd waiting{mListener, POLLIN, 0};
            ready = ::poll(&waiting, 1, 100);
        }
        if (ready != 1)
            return;
        const int client = ::accept(mListener, nullptr, nullptr);
        if (client < 0)
            return;
        qsizetype sent = 0;
        while (sent < mBytes.size()) {
            const qsizetype size = std::min<qsizetype>(mSettings.piece, mBytes.size() - sent);
            const ssize_t n = ::send(client, mBytes.constData() + sent, size_t(size), MSG_NOSIGNAL);
            if (n <= 0)
                break;
            sent += n;
            collect(client, 1);  // lets the reader see the pieces one by one
        }
        mServedAll = sent == mBytes.size();
        for (int waited = 0; waited < mSettings.holdMs && !mStop && collect(client, 50); waited += 50) {
        }
        ::close(client);
    }
    // Keeps what the client sends; false once it closed.
    bool collect(int client, int waitMs)
    {
        pollfd readable{client, POLLIN, 0};
        if (::poll(&readable, 1, waitMs) != 1)
            return true;
        char buffer[4096];
        const ssize_t n = ::recv(client, buffer, sizeof buffer, 0);
        if (n > 0) {
            std::lock_guard<std::mutex> lock(mMutex);
            mReceived.append(buffer, n);
        }
        return n > 0;
    }

    QByteArray mBytes;
    Settings mSettings;
    int mListener = -1;
    quint16 mPort = 0;
    std::atomic<bool> mServedAll{false};
    std::atomic<bool> mStop{false};
    mutable std::mutex mMutex;
    QByteArray mReceived;
    std::thread mThread;
};

} // namespace dumprunner
