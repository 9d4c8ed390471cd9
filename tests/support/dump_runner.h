#pragma once
// Runs the rtcm3dump program as a user does and reads back what it printed; serves bytes on
// a loopback TCP port for its network input.

#include <QtCore/QByteArray>
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

// `input` is a file whose bytes reach the program's standard input (none: an empty input).
inline Run run(const QStringList &arguments, const QString &input = QString())
{
    QProcess process;
    process.setProgram(QStringLiteral(RTCM3DUMP));
    process.setArguments(arguments);
    process.setStandardInputFile(input.isEmpty() ? QProcess::nullDevice() : input);
    process.start();
    Run result;
    result.finished = process.waitForFinished(300000) && process.exitStatus() == QProcess::NormalExit;
    result.exitCode = process.exitCode();
    result.out = process.readAllStandardOutput();
    result.err = process.readAllStandardError();
    return result;
}

// The --stats summary, read back.
struct Stats
{
    bool complete = false;  // every line was understood and every count was found
    qint64 frames = -1;
    qint64 crcErrors = -1;
    qint64 droppedBytes = -1;
    QMap<int, qint64> decoded;
    QMap<int, qint64> unknown;
    QMap<QString, qint64> errors;
};

inline Stats parseStats(const QStringList &lines)
{
    Stats stats;
    enum { None, Decoded, Unknown, Errors } section = None;
    bool understood = true;
    for (const QString &line : lines) {
        const qsizetype colon = line.lastIndexOf(QLatin1Char(':'));
        const QString key = line.left(colon).trimmed();
        const QString value = line.mid(colon + 1).trimmed();
        bool isNumber = false;
        const qint64 number = value.toLongLong(&isNumber);
        if (line.startsWith(QLatin1String("  ")) && isNumber) {
            if (section == Decoded)
                stats.decoded.insert(key.toInt(), number);
            else if (section == Unknown)
                stats.unknown.insert(key.toInt(), number);
            else if (section == Errors)
                stats.errors.insert(key, number);
            else
                understood = false;
        } else if (key == QLatin1String("frames") && isNumber) {
            stats.frames = number;
        } else if (key == QLatin1String("CRC errors") && isNumber) {
            stats.crcErrors = number;
        } else if (key == QLatin1String("dropped bytes") && isNumber) {
            stats.droppedBytes = number;
        } else if (key == QLatin1String("decoded by message type")) {
            section = Decoded;
        } else if (key == QLatin1String("unknown message numbers")) {
            section = Unknown;
        } else if (key == QLatin1String("decode errors")) {
            section = Errors;
        } else {
            understood = false;
        }
    }
    stats.complete = understood && stats.frames >= 0 && stats.crcErrors >= 0 && stats.droppedBytes >= 0;
    return stats;
}

// Accepts one connection on 127.0.0.1 at a port the system picks, sends the bytes in pieces
// that cut frames apart, and closes. Gives up when nobody connects within a minute.
class LoopbackServer
{
public:
    explicit LoopbackServer(const QByteArray &bytes, int piece = 997)
        : mBytes(bytes), mPiece(piece)
    {
        mListener = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        address.sin_port = 0;
        socklen_t size = sizeof address;
        if (mListener < 0 || ::bind(mListener, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0
            || ::listen(mListener, 1) != 0
            || ::getsockname(mListener, reinterpret_cast<sockaddr *>(&address), &size) != 0)
            return;
        mPort = ntohs(address.sin_port);
        mThread = std::thread([this] { serve(); });
    }
    ~LoopbackServer()
    {
        if (mThread.joinable())
            mThread.join();
        if (mListener >= 0)
            ::close(mListener);
    }
    LoopbackServer(const LoopbackServer &) = delete;
    LoopbackServer &operator=(const LoopbackServer &) = delete;

    bool listening() const { return mPort != 0; }
    QString endpoint() const { return QStringLiteral("127.0.0.1:%1").arg(mPort); }
    // Whether every byte went out; valid once the client has finished.
    bool servedAll() const { return mServedAll.load(); }

private:
    void serve()
    {
        pollfd waiting{mListener, POLLIN, 0};
        if (::poll(&waiting, 1, 60000) != 1)
            return;
        const int client = ::accept(mListener, nullptr, nullptr);
        if (client < 0)
            return;
        qsizetype sent = 0;
        while (sent < mBytes.size()) {
            const qsizetype size = std::min<qsizetype>(mPiece, mBytes.size() - sent);
            const ssize_t n = ::send(client, mBytes.constData() + sent, size_t(size), MSG_NOSIGNAL);
            if (n <= 0)
                break;
            sent += n;
            // Let the reader see the pieces one by one rather than coalesced.
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        mServedAll = sent == mBytes.size();
        ::close(client);
    }

    QByteArray mBytes;
    int mPiece;
    int mListener = -1;
    quint16 mPort = 0;
    std::atomic<bool> mServedAll{false};
    std::thread mThread;
};

} // namespace dumprunner
