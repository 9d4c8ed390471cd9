#pragma once
// Where rtcm3dump reads its bytes from: a file, standard input or a TCP endpoint.

#include <QtCore/QByteArray>
#include <QtCore/QString>

#include <memory>

class ByteSource
{
public:
    virtual ~ByteSource() = default;
    // The next chunk; empty at the end of the input. Sets error() on failure.
    virtual QByteArray read() = 0;
    // Total size when known (files), else -1.
    virtual qint64 size() const { return -1; }
    const QString &error() const { return mError; }

    // "-" is standard input; "host:port" that is not an existing file is a TCP endpoint.
    static std::unique_ptr<ByteSource> open(const QString &name, QString *error);

protected:
    QString mError;
};
