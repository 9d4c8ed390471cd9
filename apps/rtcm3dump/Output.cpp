#include "Output.h"

#include <QtCore/QFile>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace {

constexpr qint64 kBlock = 64 * 1024;

} // namespace

OutputDevice::OutputDevice(int fd, const QString &name)
    : mName(name), mFd(fd)
{
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
        mBuffer.clear();
    }
    return !failed();
}

bool OutputDevice::writeOut(const char *data, qint64 size)
{
    while (size > 0 && !failed()) {
        const ssize_t n = ::write(mFd, data, size_t(size));
        if (n > 0) {
            data += n;
            size -= n;
        } else if (n == 0) {
            mError = QStringLiteral("nothing could be written");
        } else if (errno != EINTR) {
            // EPIPE included: SIGPIPE is ignored so that a closed pipe is reported here.
            mError = QString::fromLocal8Bit(std::strerror(errno));
        }
    }
    return !failed();
}
