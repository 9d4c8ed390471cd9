#pragma once
// A byte stream from the network, read by a program that runs no event loop: read() waits
// at most the time it is given, so the caller can check a stop flag and print summaries
// between calls. Connecting, timeouts and reconnection happen inside read().
//
// The calling thread needs an event dispatcher (a QCoreApplication in the main thread, or
// a QThread); no event loop has to run between calls.
//
// Pull loop:
//     while (!stopRequested && !stream.atEnd()) {
//         const QByteArray bytes = stream.read(200);
//         feed(bytes);                               // bytes come before the events below
//         for (const NetEvent &event : stream.takeEvents())
//             report(event);                         // after Dropped: start framing afresh
//     }
//     if (stream.state() == NetStream::State::Failed) fail(stream.errorString());

#include "NetEndpoint.h"
#include "nuvrixntrip_global.h"

#include <QtCore/QByteArray>
#include <QtCore/QList>
#include <QtCore/QString>

#include <memory>

class StreamProtocol;

enum class NetError {
    None,
    HostNotFound,          // the name does not resolve
    ConnectionRefused,     // nothing listens on the port
    NetworkError,          // unreachable network, reset connection, other socket faults
    Timeout,               // connect, answer or a silent stream took longer than the timeout
    TlsError,              // handshake or certificate failure, or no TLS on this system
    AuthenticationFailed,  // the caster refused the user name or password (401)
    UnknownMountpoint,     // the caster has no such mountpoint (its source table, or 404)
    Rejected,              // the caster answered with another error status
    ProtocolError,         // an answer or chunk encoding that is malformed or too long
};

struct NetSettings
{
    int timeoutMs = 30000;  // connect plus answer, and the longest silence of a stream
    bool reconnect = false; // after a drop, reconnect until close(); a first connection that
                            // fails, and refused credentials or mountpoints, still fail
    int firstRetryDelayMs = 1000;
    int maxRetryDelayMs = 60000;  // the delay doubles from the first up to this
};

struct NetEvent
{
    enum class Kind {
        Connected,    // streaming begins; after a drop, attempt > 0 and gapMs are set
        Dropped,      // the stream broke off; a reconnect follows in retryInMs
        RetryFailed,  // a reconnect attempt failed; the next follows in retryInMs
    };
    Kind kind = Kind::Connected;
    QString message;     // for a person: what happened and where
    int attempt = 0;     // reconnect attempts since the drop
    qint64 gapMs = 0;    // Connected after a drop: time since the drop
    int retryInMs = 0;
};

class NUVRIXNTRIP_EXPORT NetStream
{
public:
    enum class State {
        Connecting,
        Streaming,
        WaitingToReconnect,
        Finished,  // the peer ended the stream, or close() was called
        Failed,    // error() says why
    };

    virtual ~NetStream();
    NetStream(const NetStream &) = delete;
    NetStream &operator=(const NetStream &) = delete;

    // Stream bytes as soon as any arrived, or empty once maxWaitMs passed. Bytes received
    // before a failure are all returned before state() turns Failed or Finished: a read()
    // that returns bytes never ends the stream. A read() returns right after queueing an
    // event, with the bytes received before it only.
    QByteArray read(int maxWaitMs);
    State state() const;
    bool atEnd() const { return state() == State::Finished || state() == State::Failed; }
    NetError error() const;
    // Why the stream failed or finished; empty while it runs.
    QString errorString() const;
    // Events since the last call, oldest first.
    QList<NetEvent> takeEvents();
    // Stops now: the connection closes and state() turns Finished.
    void close();
    // Bytes for the peer on the running stream (a rover's GGA sentence); false, and nothing
    // sent, while there is none.
    bool send(const QByteArray &bytes);
    // host:port, for messages.
    QString peer() const;

protected:
    NetStream(const QString &host, quint16 port, bool tls, const NetSettings &settings,
              std::unique_ptr<StreamProtocol> protocol);
    StreamProtocol *protocol() const;

private:
    class Private;
    std::unique_ptr<Private> d;
};

// Plain TCP: the bytes as they come.
class NUVRIXNTRIP_EXPORT TcpClient : public NetStream
{
public:
    explicit TcpClient(const TcpEndpoint &endpoint, const NetSettings &settings = {});
};
