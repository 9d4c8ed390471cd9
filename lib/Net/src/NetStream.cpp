#include "NetStream.h"

#include "StreamProtocol.h"

#include <QtCore/QAbstractEventDispatcher>
#include <QtCore/QElapsedTimer>
#include <QtCore/QEventLoop>
#include <QtCore/QTimer>
#include <QtNetwork/QSslSocket>
#include <QtNetwork/QTcpSocket>

#include <algorithm>
#include <optional>

namespace {

class RawProtocol : public StreamProtocol
{
public:
    Outcome receive(const QByteArray &bytes, QByteArray *payload) override
    {
        payload->append(bytes);
        return {Verdict::Streaming, NetError::None, {}};
    }
};

QString seconds(qint64 ms)
{
    return QString::number(double(ms) / 1000, 'g', 3) + QStringLiteral(" s");
}

} // namespace

class NetStream::Private
{
public:
    enum class Phase { Idle, Connecting, Answer, Streaming, Waiting, Done };

    struct Ending
    {
        State state;
        NetError error;
        QString text;
    };

    QString host;
    quint16 port;
    bool tls;
    NetSettings settings;
    std::unique_ptr<StreamProtocol> protocol;

    std::unique_ptr<QTcpSocket> socket;
    Phase phase = Phase::Idle;
    QElapsedTimer clock;
    qint64 deadline = 0;    // of the whole connect and answer, then of the stream's silence
    qint64 retryAt = 0;
    qint64 droppedAt = -1;  // while reconnecting: when the stream broke off
    int retryDelayMs = 0;
    int attempt = 0;
    bool everStreamed = false;

    State state = State::Connecting;
    NetError error = NetError::None;
    QString errorString;
    std::optional<Ending> ending;  // applied once every byte before it was read

    QByteArray pending;  // to return from this read()
    QByteArray later;    // received after an event of this read(): for the next one
    bool eventInRead = false;
    QList<NetEvent> events;
    QEventLoop *loop = nullptr;

    qint64 now() const { return clock.elapsed(); }
    QString peer() const
    {
        return (host.contains(QLatin1Char(':')) ? QLatin1Char('[') + host + QLatin1Char(']') : host)
            + QLatin1Char(':') + QString::number(port);
    }

    void service();
    void wait(qint64 ms);
    void wake()
    {
        if (loop)
            loop->quit();
    }

    void startAttempt();
    bool connected() const;
    void onConnected();
    void readAvailable();
    void apply(const StreamProtocol::Outcome &outcome);
    void streamingStarted();
    void deliver(const QByteArray &bytes) { (eventInRead ? later : pending).append(bytes); }
    void event(NetEvent e)
    {
        events << std::move(e);
        eventInRead = true;
    }
    void socketFailed();
    void stop(NetError code, const QString &text, bool permanent);
    void dropSocket();
    qint64 nextWake() const;
};

void NetStream::Private::startAttempt()
{
    if (!QAbstractEventDispatcher::instance()) {
        stop(NetError::NetworkError, QStringLiteral("network input needs a QCoreApplication in this thread"), true);
        return;
    }
    if (tls && !QSslSocket::supportsSsl()) {
        stop(NetError::TlsError, QStringLiteral("TLS is not available on this system"), true);
        return;
    }
    protocol->restart();
    socket.reset(tls ? new QSslSocket : new QTcpSocket);
    QTcpSocket *const s = socket.get();
    const auto wakeUp = [this] { wake(); };
    QObject::connect(s, &QTcpSocket::readyRead, s, wakeUp);
    QObject::connect(s, &QTcpSocket::connected, s, wakeUp);
    QObject::connect(s, &QTcpSocket::disconnected, s, wakeUp);
    QObject::connect(s, &QTcpSocket::errorOccurred, s, wakeUp);
    if (tls) {
        auto *const ssl = static_cast<QSslSocket *>(s);
        QObject::connect(ssl, &QSslSocket::encrypted, s, wakeUp);
        ssl->connectToHostEncrypted(host, port);
    } else {
        s->connectToHost(host, port);
    }
    phase = Phase::Connecting;
    state = State::Connecting;
    deadline = now() + settings.timeoutMs;
}

bool NetStream::Private::connected() const
{
    if (socket->state() != QAbstractSocket::ConnectedState)
        return false;
    return !tls || static_cast<QSslSocket *>(socket.get())->isEncrypted();
}

void NetStream::Private::onConnected()
{
    const QByteArray request = protocol->request(now());
    if (!request.isEmpty()) {
        socket->write(request);
        socket->flush();
    }
    if (protocol->needsAnswer())
        phase = Phase::Answer;
    else
        streamingStarted();
}

void NetStream::Private::streamingStarted()
{
    phase = Phase::Streaming;
    state = State::Streaming;
    deadline = now() + settings.timeoutMs;
    everStreamed = true;
    NetEvent e{NetEvent::Kind::Connected, QStringLiteral("connected to %1").arg(peer())};
    if (droppedAt >= 0) {
        e.attempt = attempt;
        e.gapMs = now() - droppedAt;
        e.message = QStringLiteral("reconnected to %1 after %2").arg(peer(), seconds(e.gapMs));
    }
    event(e);
    droppedAt = -1;
    attempt = 0;
}

void NetStream::Private::apply(const StreamProtocol::Outcome &outcome)
{
    if (outcome.verdict == StreamProtocol::Verdict::Ended)
        stop(NetError::None, outcome.message, false);
    else if (outcome.verdict == StreamProtocol::Verdict::Failed)
        stop(outcome.error, outcome.message, outcome.permanent);
}

void NetStream::Private::readAvailable()
{
    const QByteArray bytes = socket->readAll();
    if (bytes.isEmpty())
        return;
    QByteArray payload;
    const StreamProtocol::Outcome outcome = protocol->receive(bytes, &payload);
    // The Connected event comes before the first bytes of the stream it announces, even
    // when the stream breaks within the same read.
    if (phase == Phase::Answer && (outcome.verdict == StreamProtocol::Verdict::Streaming
                                   || outcome.verdict == StreamProtocol::Verdict::Ended || !payload.isEmpty()))
        streamingStarted();
    if (!payload.isEmpty()) {
        deliver(payload);
        retryDelayMs = settings.firstRetryDelayMs;
    }
    if (phase == Phase::Streaming)
        deadline = now() + settings.timeoutMs;
    apply(outcome);
}

void NetStream::Private::socketFailed()
{
    const QAbstractSocket::SocketError code = socket->error();
    const QString why = socket->errorString();
    if (phase != Phase::Connecting
        && (code == QAbstractSocket::RemoteHostClosedError || code == QAbstractSocket::UnknownSocketError)) {
        const StreamProtocol::Outcome outcome = protocol->closed();
        if (phase == Phase::Answer && outcome.verdict == StreamProtocol::Verdict::Ended)
            streamingStarted();  // an answer that was the whole stream
        apply(outcome);
        return;
    }
    switch (code) {
    case QAbstractSocket::HostNotFoundError:
        stop(NetError::HostNotFound, QStringLiteral("cannot find host %1: %2").arg(host, why), false);
        break;
    case QAbstractSocket::ConnectionRefusedError:
        stop(NetError::ConnectionRefused, QStringLiteral("%1 refused the connection").arg(peer()), false);
        break;
    case QAbstractSocket::SocketTimeoutError:
        stop(NetError::Timeout, QStringLiteral("timed out connecting to %1").arg(peer()), false);
        break;
    case QAbstractSocket::SslHandshakeFailedError:
    case QAbstractSocket::SslInternalError:
    case QAbstractSocket::SslInvalidUserDataError:
        stop(NetError::TlsError, QStringLiteral("TLS with %1 failed: %2").arg(peer(), why), false);
        break;
    default:
        stop(NetError::NetworkError, QStringLiteral("connection to %1 failed: %2").arg(peer(), why), false);
        break;
    }
}

void NetStream::Private::dropSocket()
{
    if (!socket)
        return;
    socket->disconnect();
    socket->abort();
    socket.reset();
}

void NetStream::Private::stop(NetError code, const QString &text, bool permanent)
{
    const bool wasStreaming = phase == Phase::Streaming;
    dropSocket();
    if (settings.reconnect && everStreamed && !permanent) {
        if (droppedAt < 0)
            droppedAt = now();
        ++attempt;
        retryAt = now() + retryDelayMs;
        NetEvent e{wasStreaming ? NetEvent::Kind::Dropped : NetEvent::Kind::RetryFailed,
                   QStringLiteral("%1; reconnecting in %2").arg(text, seconds(retryDelayMs))};
        e.attempt = attempt - 1;
        e.retryInMs = retryDelayMs;
        event(e);
        retryDelayMs = std::min(retryDelayMs * 2, settings.maxRetryDelayMs);
        phase = Phase::Waiting;
        state = State::WaitingToReconnect;
        return;
    }
    phase = Phase::Done;
    ending = Ending{code == NetError::None ? State::Finished : State::Failed, code, text};
}

void NetStream::Private::service()
{
    if (phase == Phase::Idle || (phase == Phase::Waiting && now() >= retryAt))
        startAttempt();
    if (phase == Phase::Connecting && socket && connected())
        onConnected();
    if (phase == Phase::Answer || phase == Phase::Streaming)
        readAvailable();
    const bool active = phase == Phase::Connecting || phase == Phase::Answer || phase == Phase::Streaming;
    if (!active)
        return;
    if (socket->state() == QAbstractSocket::UnconnectedState) {
        socketFailed();
    } else if (now() >= deadline) {
        const QString text = phase == Phase::Streaming
            ? QStringLiteral("no data from %1 for %2").arg(peer(), seconds(settings.timeoutMs))
            : phase == Phase::Answer ? QStringLiteral("no answer from %1 within %2").arg(peer(), seconds(settings.timeoutMs))
                                     : QStringLiteral("timed out connecting to %1 after %2").arg(peer(), seconds(settings.timeoutMs));
        stop(NetError::Timeout, text, false);
    } else if (phase == Phase::Streaming) {
        const QByteArray message = protocol->due(now());
        if (!message.isEmpty()) {
            socket->write(message);
            socket->flush();
        }
    }
}

qint64 NetStream::Private::nextWake() const
{
    switch (phase) {
    case Phase::Waiting:
        return retryAt;
    case Phase::Streaming:
        return protocol->nextDueMs() >= 0 ? std::min(deadline, protocol->nextDueMs()) : deadline;
    case Phase::Connecting:
    case Phase::Answer:
        return deadline;
    default:
        return now();
    }
}

void NetStream::Private::wait(qint64 ms)
{
    QEventLoop local;
    if (ms <= 0) {
        local.processEvents(QEventLoop::AllEvents);
        return;
    }
    loop = &local;
    // A timer of our own, not a single shot: a wait ended early by data must not leave a
    // pending timer object behind until its time has passed.
    QTimer timer;
    timer.setSingleShot(true);
    QObject::connect(&timer, &QTimer::timeout, &local, &QEventLoop::quit);
    timer.start(int(std::min<qint64>(ms, 3600000)));
    local.exec();
    loop = nullptr;
}

NetStream::NetStream(const QString &host, quint16 port, bool tls, const NetSettings &settings,
                     std::unique_ptr<StreamProtocol> protocol)
    : d(std::make_unique<Private>())
{
    d->host = host;
    d->port = port;
    d->tls = tls;
    d->settings = settings;
    d->settings.timeoutMs = std::max(1, settings.timeoutMs);
    d->settings.firstRetryDelayMs = std::max(1, settings.firstRetryDelayMs);
    d->settings.maxRetryDelayMs = std::max(d->settings.firstRetryDelayMs, settings.maxRetryDelayMs);
    d->retryDelayMs = d->settings.firstRetryDelayMs;
    d->protocol = std::move(protocol);
    d->clock.start();
}

NetStream::~NetStream()
{
    d->dropSocket();
}

QByteArray NetStream::read(int maxWaitMs)
{
    if (atEnd())
        return {};
    d->eventInRead = false;
    if (!d->later.isEmpty())
        return std::exchange(d->later, {});
    const qint64 end = d->now() + std::max(0, maxWaitMs);
    for (;;) {
        d->service();
        if (!d->pending.isEmpty())
            return std::exchange(d->pending, {});
        if (d->ending && d->later.isEmpty()) {
            d->state = d->ending->state;
            d->error = d->ending->error;
            d->errorString = d->ending->text;
            d->ending.reset();
            return {};
        }
        if (d->eventInRead)
            return {};
        const qint64 left = std::min(end, d->nextWake()) - d->now();
        if (d->now() >= end)
            return {};
        d->wait(left);
    }
}

NetStream::State NetStream::state() const
{
    return d->state;
}

NetError NetStream::error() const
{
    return d->error;
}

QString NetStream::errorString() const
{
    return d->errorString;
}

QList<NetEvent> NetStream::takeEvents()
{
    return std::exchange(d->events, {});
}

void NetStream::close()
{
    d->dropSocket();
    d->phase = Private::Phase::Done;
    d->ending.reset();
    d->pending.clear();
    d->later.clear();
    d->state = State::Finished;
    d->errorString = QStringLiteral("closed");
}

bool NetStream::send(const QByteArray &bytes)
{
    if (d->phase != Private::Phase::Streaming || !d->socket)
        return false;
    d->socket->write(bytes);
    d->socket->flush();
    return true;
}

QString NetStream::peer() const
{
    return d->peer();
}

StreamProtocol *NetStream::protocol() const
{
    return d->protocol.get();
}

TcpClient::TcpClient(const TcpEndpoint &endpoint, const NetSettings &settings)
    : NetStream(endpoint.host, endpoint.port, false, settings, std::make_unique<RawProtocol>())
{
}
