#pragma once
// What a connection carries above TCP: the request sent on connect, the answer awaited
// before the stream, and how received bytes become stream bytes. Internal to the library.

#include "NetStream.h"

#include <QtCore/QByteArray>
#include <QtCore/QString>

class StreamProtocol
{
public:
    enum class Verdict {
        NeedMore,   // the answer is still incomplete
        Streaming,  // stream bytes flow
        Ended,      // the peer ended the stream as it should
        Failed,
    };
    struct Outcome
    {
        Verdict verdict = Verdict::NeedMore;
        NetError error = NetError::None;
        QString message;
        bool permanent = false;  // retrying cannot help: no reconnect
    };

    virtual ~StreamProtocol() = default;
    // A new connection begins: forget the last one.
    virtual void restart() {}
    // Bytes to send once connected, at `nowMs` on the stream's clock.
    virtual QByteArray request(qint64 nowMs) { Q_UNUSED(nowMs) return {}; }
    virtual bool needsAnswer() const { return false; }
    // Takes received bytes and appends the stream bytes among them to *payload.
    virtual Outcome receive(const QByteArray &bytes, QByteArray *payload) = 0;
    // The peer closed the connection after every byte was given to receive().
    virtual Outcome closed() const { return {Verdict::Ended, NetError::None, QStringLiteral("the peer closed the connection")}; }
    // Bytes to send now while streaming, and when that is next due (-1: never).
    virtual QByteArray due(qint64 nowMs) { Q_UNUSED(nowMs) return {}; }
    virtual qint64 nextDueMs() const { return -1; }
};
