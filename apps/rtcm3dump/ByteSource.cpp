#include "ByteSource.h"

#include <QtCore/QFile>
#include <QtCore/QFileInfo>

#include <cerrno>
#include <cstring>
#include <netdb.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

constexpr qint64 kChunk = 64 * 1024;

class FileSource : public ByteSource
{
public:
    bool open(const QString &name)
    {
        mFile.setFileName(name);
        const bool ok = name == QLatin1String("-") ? mFile.open(stdin, QIODevice::ReadOnly)
                                                  : mFile.open(QIODevice::ReadOnly);
        if (!ok)
            mError = mFile.errorString();
        return ok;
    }
    QByteArray read() override
    {
        QByteArray chunk = mFile.read(kChunk);
        if (chunk.isEmpty() && mFile.error() != QFileDevice::NoError)
            mError = mFile.errorString();
        return chunk;
    }
    qint64 size() const override { return mFile.isSequential() ? -1 : mFile.size(); }

private:
    QFile mFile;
};

class TcpSource : public ByteSource
{
public:
    ~TcpSource() override
    {
        if (mSocket >= 0)
            ::close(mSocket);
    }
    bool connectTo(const QString &host, const QString &port)
    {
        addrinfo hints{};
        hints.ai_family = AF_UNSPEC;
        hints.ai_socktype = SOCK_STREAM;
        addrinfo *found = nullptr;
        const int rc = ::getaddrinfo(host.toUtf8().constData(), port.toUtf8().constData(), &hints, &found);
        if (rc != 0) {
            mError = QString::fromUtf8(::gai_strerror(rc));
            return false;
        }
        for (addrinfo *a = found; a && mSocket < 0; a = a->ai_next) {
            mSocket = ::socket(a->ai_family, a->ai_socktype, a->ai_protocol);
            if (mSocket >= 0 && ::connect(mSocket, a->ai_addr, a->ai_addrlen) != 0) {
                mError = QString::fromUtf8(std::strerror(errno));
                ::close(mSocket);
                mSocket = -1;
            }
        }
        ::freeaddrinfo(found);
        return mSocket >= 0;
    }
    QByteArray read() override
    {
        QByteArray chunk(kChunk, Qt::Uninitialized);
        ssize_t n;
        do {
            n = ::recv(mSocket, chunk.data(), chunk.size(), 0);
        } while (n < 0 && errno == EINTR);
        if (n < 0) {
            mError = QString::fromUtf8(std::strerror(errno));
            n = 0;
        }
        chunk.truncate(n);
        return chunk;
    }

private:
    int mSocket = -1;
};

} // namespace

std::unique_ptr<ByteSource> ByteSource::open(const QString &name, QString *error)
{
    const int colon = name.lastIndexOf(QLatin1Char(':'));
    if (name != QLatin1String("-") && colon > 0 && !QFileInfo::exists(name)) {
        auto tcp = std::make_unique<TcpSource>();
        if (tcp->connectTo(name.left(colon), name.mid(colon + 1)))
            return tcp;
        *error = QStringLiteral("cannot connect to %1: %2").arg(name, tcp->error());
        return nullptr;
    }
    auto file = std::make_unique<FileSource>();
    if (file->open(name))
        return file;
    *error = QStringLiteral("cannot read %1: %2").arg(name, file->error());
    return nullptr;
}
