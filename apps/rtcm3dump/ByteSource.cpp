#include "ByteSource.h"

#include "Lifecycle.h"

#include <QtCore/QElapsedTimer>
#include <QtCore/QFile>
#include <QtCore/QFileInfo>
#include <QtCore/QRegularExpression>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr qsizetype kChunk = 64 * 1024;
// Longest single wait while connecting, so that a stop request is seen.
constexpr int kConnectSliceMs = 100;

QString systemError(int code = errno)
{
    return QString::fromLocal8Bit(std::strerror(code));
}

// Any readable descriptor: files, standard input, pipes, devices, sockets.
class FdSource : public ByteSource
{
public:
    explicit FdSource(int fd = -1, bool owned = false) { adopt(fd, owned); }
    ~FdSource() override
    {
        if (mOwned && mFd >= 0)
            ::close(mFd);
    }

    bool openFile(const QString &path)
    {
        const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
        if (fd < 0) {
            mError = systemError();
            return false;
        }
        adopt(fd, true);
        if (S_ISDIR(mStat.st_mode)) {
            mError = systemError(EISDIR);
            return false;
        }
        return true;
    }

    Status read(QByteArray &chunk, int waitMs) override
    {
        chunk.clear();
        pollfd waiting{mFd, POLLIN, 0};
        const int ready = ::poll(&waiting, 1, waitMs);
        if (ready < 0 && errno != EINTR)
            return fail(systemError());
        if (ready <= 0)
            return idle();
        chunk.resize(kChunk);
        const ssize_t n = ::read(mFd, chunk.data(), size_t(chunk.size()));
        if (n < 0) {
            chunk.clear();
            if (errno == EINTR || errno == EAGAIN)
                return idle();
            return fail(systemError());
        }
        chunk.truncate(n);
        if (n == 0)
            return Status::End;
        mSilence.restart();
        return Status::Data;
    }

    bool isLive() const override { return !S_ISREG(mStat.st_mode) && !S_ISBLK(mStat.st_mode); }
    qint64 size() const override { return S_ISREG(mStat.st_mode) ? qint64(mStat.st_size) : -1; }

protected:
    void adopt(int fd, bool owned)
    {
        mFd = fd;
        mOwned = owned;
        mStat = {};
        if (fd >= 0)
            ::fstat(fd, &mStat);
        mSilence.start();
    }
    Status fail(const QString &error)
    {
        mError = error;
        return Status::Failed;
    }
    // A peer that stays silent beyond the limit has failed; other sources may wait forever.
    Status idle()
    {
        if (mSilenceLimitMs > 0 && mSilence.hasExpired(mSilenceLimitMs))
            return fail(QStringLiteral("no data for %1 s").arg(mSilenceLimitMs / 1000.0));
        return Status::Idle;
    }

    int mFd = -1;
    bool mOwned = false;
    struct stat mStat = {};
    QElapsedTimer mSilence;
    qint64 mSilenceLimitMs = 0;
};

class TcpSource : public FdSource
{
public:
    bool connectTo(const QString &host, const QString &port, int timeoutMs)
    {
        addrinfo hints{};
        hints.ai_family = AF_UNSPEC;
        hints.ai_socktype = SOCK_STREAM;
        addrinfo *found = nullptr;
        const int rc = ::getaddrinfo(host.toUtf8().constData(), port.toUtf8().constData(), &hints, &found);
        if (rc != 0) {
            mError = QString::fromLocal8Bit(::gai_strerror(rc));
            return false;
        }
        QElapsedTimer clock;
        clock.start();
        int fd = -1;
        for (addrinfo *a = found; a && fd < 0 && !clock.hasExpired(timeoutMs); a = a->ai_next)
            fd = connectOne(*a, clock, timeoutMs);
        ::freeaddrinfo(found);
        if (fd < 0)
            return false;
        adopt(fd, true);
        mSilenceLimitMs = timeoutMs;
        return true;
    }

private:
    int connectOne(const addrinfo &address, const QElapsedTimer &clock, int timeoutMs)
    {
        const int fd = ::socket(address.ai_family, address.ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC,
                                address.ai_protocol);
        if (fd < 0) {
            mError = systemError();
            return -1;
        }
        int error = ::connect(fd, address.ai_addr, address.ai_addrlen) == 0 ? 0 : errno;
        if (error == EINPROGRESS)
            error = awaitConnection(fd, clock, timeoutMs);
        if (error != 0) {
            mError = error == ETIMEDOUT ? QStringLiteral("no connection within %1 s").arg(timeoutMs / 1000.0)
                                        : systemError(error);
            ::close(fd);
            return -1;
        }
        return fd;
    }

    static int awaitConnection(int fd, const QElapsedTimer &clock, int timeoutMs)
    {
        for (;;) {
            if (lifecycle::stopRequested())
                return EINTR;
            const qint64 left = timeoutMs - clock.elapsed();
            if (left <= 0)
                return ETIMEDOUT;
            pollfd waiting{fd, POLLOUT, 0};
            const int ready = ::poll(&waiting, 1, int(std::min<qint64>(left, kConnectSliceMs)));
            if (ready < 0 && errno != EINTR)
                return errno;
            if (ready > 0) {
                int error = 0;
                socklen_t size = sizeof error;
                ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &size);
                return error;
            }
        }
    }
};

struct Endpoint
{
    QString host;
    QString port;
};

// host:port or [address]:port; a name with a path separator or a port that is not a number
// is a file name.
bool parseEndpoint(const QString &name, Endpoint *endpoint)
{
    static const QRegularExpression shape(QStringLiteral(R"(^(?:\[([^\]/]+)\]|([^:/\[\]]+)):([0-9]+)$)"));
    const QRegularExpressionMatch match = shape.match(name);
    if (!match.hasMatch())
        return false;
    endpoint->host = match.captured(1).isEmpty() ? match.captured(2) : match.captured(1);
    endpoint->port = match.captured(3);
    return true;
}

} // namespace

std::unique_ptr<ByteSource> ByteSource::open(const QString &name, const Settings &settings, OpenError *error)
{
    if (name == QLatin1String("-"))
        return std::make_unique<FdSource>(STDIN_FILENO);

    Endpoint endpoint;
    if (!QFileInfo::exists(name) && parseEndpoint(name, &endpoint)) {
        bool ok = false;
        const uint port = endpoint.port.toUInt(&ok);
        if (!ok || port < 1 || port > 65535) {
            *error = {QStringLiteral("%1: the port must be 1 to 65535").arg(name), 2};
            return nullptr;
        }
        auto tcp = std::make_unique<TcpSource>();
        if (tcp->connectTo(endpoint.host, endpoint.port, settings.timeoutMs))
            return tcp;
        *error = {QStringLiteral("cannot connect to %1: %2").arg(name, tcp->error()), 1};
        return nullptr;
    }

    auto file = std::make_unique<FdSource>();
    if (file->openFile(name))
        return file;
    *error = {QStringLiteral("cannot read %1: %2").arg(name, file->error()), 1};
    return nullptr;
}

bool ByteSource::standardInputHoldsData()
{
    struct stat info = {};
    if (::fstat(STDIN_FILENO, &info) != 0)
        return false;
    return S_ISFIFO(info.st_mode) || S_ISSOCK(info.st_mode) || S_ISREG(info.st_mode);
}
