#include "Output.h"

#include "Lifecycle.h"

#include <QtCore/QFile>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr qint64 kBlock = 64 * 1024;
// Longest wait for room in a pipe or socket before the stop flag is looked at again.
constexpr int kRoomPollMs = 200;
// After a stop request, how long a reader that takes nothing is waited for.
constexpr int kStopGraceMs = 1000;

// A pipe or socket blocks a write for as long as its reader does not read.
bool mayStall(int fd)
{
    struct stat info = {};
    return fd >= 0 && ::fstat(fd, &info) == 0 && (S_ISFIFO(info.st_mode) || S_ISSOCK(info.st_mode));
}

} // namespace

OutputDevice::OutputDevice(int fd, const QString &name)
    : mName(name), mFd(fd), mMayStall(mayStall(fd))
{
    mBuffer.reserve(kBlock);
    QIODevice::open(QIODevice::WriteOnly | QIODevice::Unbuffered);
}

OutputDevice::~OutputDevice()
{
    close();
}

bool OutputDevice::create(const QString &path)
{
    close();
    mFd = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (mFd < 0) {
        mError = QString::fromLocal8Bit(std::strerror(errno));
        return false;
    }
    mOwned = true;
    mMayStall = mayStall(mFd);
    mName = path;
    mError.clear();
    return QIODevice::open(QIODevice::WriteOnly | QIODevice::Unbuffered);
}

void OutputDevice::close()
{
    if (mFd >= 0) {
        flush();
        if (mOwned && ::close(mFd) != 0 && mError.isEmpty())
            mError = QString::fromLocal8Bit(std::strerror(errno));
    }
    mFd = -1;
    mOwned = false;
    QIODevice::close();
}

qint64 OutputDevice::writeData(const char *data, qint64 size)
{
    if (failed())
        return -1;
    if (mBuffer.size() + size > kBlock && !flush())
        return -1;
    if (size >= kBlock)
        return writeOut(data, size) ? size : -1;
    mBuffer.append(data, size);
    return size;
}

QString OutputDevice::failure() const
{
    return failed() ? QStringLiteral("writing %1: %2").arg(mName, mError) : QString();
}

bool OutputDevice::flush()
{
    if (!mBuffer.isEmpty() && !failed()) {
        writeOut(mBuffer.constData(), mBuffer.size());
        mBuffer.resize(0);  // keeps its room, unlike clear()
    }
    return !failed();
}

bool OutputDevice::writeOut(const char *data, qint64 size)
{
    while (size > 0 && !failed()) {
        // Where a write could stall, write no more than the room poll() promised: at most
        // PIPE_BUF bytes go into a pipe that is not full without waiting.
        if (mMayStall && !awaitRoom())
            break;
        const ssize_t n = ::write(mFd, data, size_t(mMayStall ? std::min<qint64>(size, PIPE_BUF) : size));
        if (n > 0) {
            data += n;
            size -= n;
        } else if (n == 0) {
            mError = QStringLiteral("nothing could be written");
        } else if (errno != EINTR && errno != EAGAIN) {
            // SIGPIPE is ignored so that a closed pipe is reported here.
            mReaderGone = errno == EPIPE;
            mError = QString::fromLocal8Bit(std::strerror(errno));
        }
    }
    return !failed();
}

bool OutputDevice::awaitRoom()
{
    for (int waitedAfterStop = 0;;) {
        pollfd room{mFd, POLLOUT, 0};
        const int ready = ::poll(&room, 1, kRoomPollMs);
        if (ready > 0 || (ready < 0 && errno != EINTR))
            return true;  // room, or an error that the write itself reports
        if (lifecycle::stopRequested() && (waitedAfterStop += kRoomPollMs) >= kStopGraceMs) {
            mError = QStringLiteral("nobody read it after the stop request");
            return false;
        }
    }
}
