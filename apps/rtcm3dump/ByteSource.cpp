#include "ByteSource.h"

#include "Lifecycle.h"

#include "NetStream.h"
#include "NtripClient.h"

#include <QtCore/QElapsedTimer>
#include <QtCore/QFile>
#include <QtCore/QFileInfo>
#include <QtCore/QRegularExpression>

#include <algorithm>
#include <cstdio>
#include <utility>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
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
            return Status::Idle;
        chunk.resize(kChunk);
        const ssize_t n = ::read(mFd, chunk.data(), size_t(chunk.size()));
        if (n < 0) {
            chunk.clear();
            if (errno == EINTR || errno == EAGAIN)
                return Status::Idle;
            return fail(systemError());
        }
        chunk.truncate(n);
        if (n == 0)
            return Status::End;
        return Status::Data;
    }

    bool isLive() const override { return !S_ISREG(mStat.st_mode) && !S_ISBLK(mStat.st_mode); }
    bool readsFrom(const QString &path) const override
    {
        struct stat named = {};
        // Only a regular file loses its bytes when opened for writing: /dev/null may be both.
        return S_ISREG(mStat.st_mode) && ::stat(QFile::encodeName(path).constData(), &named) == 0
            && named.st_dev == mStat.st_dev && named.st_ino == mStat.st_ino;
    }
    qint64 size() const override { return S_ISREG(mStat.st_mode) ? qint64(mStat.st_size) : -1; }

private:
    void adopt(int fd, bool owned)
    {
        mFd = fd;
        mOwned = owned;
        mStat = {};
        if (fd >= 0)
            ::fstat(fd, &mStat);
    }
    Status fail(const QString &error)
    {
        mError = error;
        return Status::Failed;
    }

    int mFd = -1;
    bool mOwned = false;
    struct stat mStat = {};
};

// A network stream (plain TCP or NTRIP) from the network library. Drops and reconnects are
// told on standard error; after a drop the reader starts framing afresh.
class NetSource : public ByteSource
{
public:
    NetSource(std::unique_ptr<NetStream> stream, bool endIsFailure)
        : mStream(std::move(stream)), mEndIsFailure(endIsFailure)
    {
    }

    Status read(QByteArray &chunk, int waitMs) override
    {
        if (!mFirst.isEmpty()) {
            chunk = std::exchange(mFirst, {});
            return Status::Data;
        }
        chunk = mStream->read(waitMs);
        for (const NetEvent &event : mStream->takeEvents()) {
            if (event.kind == NetEvent::Kind::Connected && event.attempt == 0)
                continue;
            if (event.kind == NetEvent::Kind::Dropped)
                mRestart = true;
            std::fprintf(stderr, "rtcm3dump: %s\n", qPrintable(event.message));
        }
        if (!chunk.isEmpty())
            return Status::Data;
        switch (mStream->state()) {
        case NetStream::State::Failed:
            mError = mStream->errorString();
            return Status::Failed;
        case NetStream::State::Finished:
            if (!mEndIsFailure)
                return Status::End;
            mError = mStream->errorString();
            return Status::Failed;
        default:
            return Status::Idle;
        }
    }
    bool isLive() const override { return true; }
    bool isNetwork() const override { return true; }
    bool takeRestart() override { return std::exchange(mRestart, false); }

    // Connecting happens inside the first reads: a failure before streaming began is an error
    // of opening. Bytes that came meanwhile are handed out first.
    bool connect()
    {
        while (!lifecycle::stopRequested() && mStream->state() == NetStream::State::Connecting) {
            QByteArray bytes;
            const Status status = read(bytes, kConnectSliceMs);
            mFirst += bytes;
            if (status == Status::Failed)
                return false;
        }
        return true;
    }

private:
    std::unique_ptr<NetStream> mStream;
    const bool mEndIsFailure;
    QByteArray mFirst;
    bool mRestart = false;
};

std::unique_ptr<ByteSource> connectNet(std::unique_ptr<NetStream> stream, const QString &name, bool endIsFailure,
                                       ByteSource::OpenError *error)
{
    auto source = std::make_unique<NetSource>(std::move(stream), endIsFailure);
    if (source->connect())
        return source;
    *error = {QStringLiteral("cannot connect to %1: %2").arg(name, source->error()), 1};
    return nullptr;
}

// host:port or [address]:port; a name with a path separator or a port that is not a number
// is a file name.
bool looksLikeEndpoint(const QString &name)
{
    static const QRegularExpression shape(QStringLiteral(R"(^(?:\[[^\]/]+\]|[^:/\[\]]+):[0-9]+$)"));
    return shape.match(name).hasMatch();
}

} // namespace

std::unique_ptr<ByteSource> ByteSource::open(const QString &name, const Settings &settings, OpenError *error)
{
    if (name == QLatin1String("-"))
        return std::make_unique<FdSource>(STDIN_FILENO);

    if (NtripEndpoint::isNtripUrl(name)) {
        QString problem;
        const NtripEndpoint endpoint = NtripEndpoint::parse(name, &problem);
        if (!problem.isEmpty()) {
            *error = {QStringLiteral("%1: %2").arg(name, problem), 2};
            return nullptr;
        }
        // A caster's stream has no end: when the caster closes it, data is missing.
        return connectNet(std::make_unique<NtripClient>(endpoint, settings.ntrip), endpoint.display(), true, error);
    }
    if (!QFileInfo::exists(name) && looksLikeEndpoint(name)) {
        QString problem;
        const TcpEndpoint endpoint = TcpEndpoint::parse(name, &problem);
        if (!problem.isEmpty()) {
            *error = {QStringLiteral("%1: %2").arg(name, problem), 2};
            return nullptr;
        }
        return connectNet(std::make_unique<TcpClient>(endpoint, settings.ntrip), name, false, error);
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
