#pragma once
// Where rtcm3dump reads its bytes from: a file, standard input, a pipe or device, or a TCP
// endpoint. Every read waits a bounded time, so that the caller sees a stop request and
// its own timers while a live source is silent.

#include <QtCore/QByteArray>
#include <QtCore/QString>

#include "NtripClient.h"

#include <memory>

class ByteSource
{
public:
    enum class Status {
        Data,    // bytes arrived
        Idle,    // nothing within the wait; ask again
        End,     // the input ended
        Failed,  // error() says why
    };

    struct Settings
    {
        // Network input: timeout (connect, answer, silence), reconnection, NTRIP version, GGA.
        NtripSettings ntrip;
    };

    // Why open() gave nothing: the text for standard error and the exit status.
    struct OpenError
    {
        QString text;
        int status = 1;
    };

    virtual ~ByteSource() = default;

    // Replaces `chunk` with what arrived within `waitMs` milliseconds.
    virtual Status read(QByteArray &chunk, int waitMs) = 0;
    // Bytes that arrive while someone watches (network, pipe, terminal, device) rather than
    // a file read at full speed: the output follows every message.
    virtual bool isLive() const = 0;
    // A network stream: its data is happening now, so the system clock dates it.
    virtual bool isNetwork() const { return false; }
    // Whether the input can be read again from its start (a regular file).
    bool isRegularFile() const { return size() >= 0; }
    // Total size when known (regular files), else -1.
    virtual qint64 size() const { return -1; }
    // Whether `path` names what this source reads (the same file, also through a link).
    virtual bool readsFrom(const QString &path) const
    {
        Q_UNUSED(path)
        return false;
    }
    // Whether the stream broke off and resumed since the last call: framing starts afresh.
    virtual bool takeRestart() { return false; }
    const QString &error() const { return mError; }

    // "-" is standard input; ntrip:// and ntrips:// addresses are NTRIP streams; "host:port"
    // and "[v6-address]:port" that name no existing file are TCP endpoints; anything else is
    // a file.
    static std::unique_ptr<ByteSource> open(const QString &name, const Settings &settings, OpenError *error);
    // Whether standard input carries a stream (a pipe, a socket or a regular file) rather
    // than a terminal or a device such as /dev/null.
    static bool standardInputHoldsData();

protected:
    QString mError;
};
