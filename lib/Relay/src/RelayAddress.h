#pragma once
// An input or output as written on the command line: a file path, "-", tcp://HOST:PORT,
// tcp://:PORT, ntrip[s]://[USER:PW@]HOST[:PORT]/MNT, serial:///dev/X?baud=N, udp://HOST:PORT,
// each with optional ?key=value&... parameters.

#include "NetEndpoint.h"
#include "nuvrixrelay_global.h"

#include <QtCore/QMap>
#include <QtCore/QString>

struct NUVRIXRELAY_EXPORT RelayAddress
{
    enum class Kind { File, Stdio, TcpConnect, TcpListen, Ntrip, Serial, Udp };

    Kind kind = Kind::File;
    QString text;   // as given, for messages (a password is masked)
    QString path;   // file or serial device
    QString host;   // empty for a listening socket: every address
    quint16 port = 0;
    NtripEndpoint ntrip;
    QMap<QString, QString> query;

    // *error is empty when the text is valid.
    static RelayAddress parse(const QString &text, QString *error);
    QString value(const QString &key, const QString &fallback = {}) const { return query.value(key, fallback); }
};

// Exponential reconnection delays: 1 s doubling to 60 s, back to 1 s once data flows again.
class NUVRIXRELAY_EXPORT Backoff
{
public:
    explicit Backoff(int firstMs = 1000, int maxMs = 60000) : mFirstMs(firstMs), mMaxMs(maxMs), mNextMs(firstMs) {}
    int next();  // the delay before the coming attempt
    void reset() { mNextMs = mFirstMs; }

private:
    int mFirstMs;
    int mMaxMs;
    int mNextMs;
};
