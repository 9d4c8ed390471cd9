#include "RelayOutput.h"

#include "NtripClient.h"

#include <QtCore/QFile>
#include <QtCore/QTimeZone>
#include <QtCore/QTimer>
#include <QtNetwork/QHostInfo>
#include <QtNetwork/QSslSocket>
#include <QtNetwork/QTcpServer>
#include <QtNetwork/QTcpSocket>
#include <QtNetwork/QUdpSocket>
#include <QtSerialPort/QSerialPort>

#include <algorithm>
#include <list>
#include <sys/socket.h>
#include <sys/uio.h>

bool configureSerialPort(QSerialPort *port, const RelayAddress &address, QString *error);

bool BoundedLink::send(const QByteArray &bytes)
{
    const qint64 queued = mDevice->bytesToWrite();
    if (queued + bytes.size() > mLimit)
        return false;
    const QByteArray head = mChunked ? QByteArray::number(bytes.size(), 16) + "\r\n" : QByteArray();
    const QByteArray tail = mChunked ? QByteArray::fromRawData("\r\n", 2) : QByteArray();
    const QByteArray *pieces[] = {&head, &bytes, &tail};
    qint64 sent = 0;
    if (mDescriptor >= 0 && queued == 0) {
        iovec parts[3];
        for (int i = 0; i < 3; ++i)
            parts[i] = {const_cast<char *>(pieces[i]->constData()), size_t(pieces[i]->size())};
        msghdr message{};
        message.msg_iov = parts;
        message.msg_iovlen = 3;
        sent = std::max<qint64>(0, ::sendmsg(int(mDescriptor), &message, MSG_DONTWAIT | MSG_NOSIGNAL));
    }
    // What the kernel did not take waits in the socket's own queue (shared, not copied).
    for (const QByteArray *piece : pieces) {
        if (sent >= piece->size()) {
            sent -= piece->size();
            continue;
        }
        mDevice->write(sent == 0 ? *piece : piece->mid(sent));
        sent = 0;
    }
    return true;
}

void BoundedLink::finishBody()
{
    if (mChunked)
        mDevice->write("0\r\n\r\n", 5);
}

RelayOutput::RelayOutput(const RelayAddress &address, QObject *parent)
    : QObject(parent)
    , mAddress(address)
{
    mStats.role = QStringLiteral("output");
    mStats.name = address.text;
}

void RelayOutput::offer(const Frame &frame)
{
    if (!mFilter.accept(frame.type, frame.arrivalNs / 1000000))
        return;
    if (!mTransform)
        return send(frame);
    for (const Frame &converted : mTransform->apply(frame))
        send(converted);
}

void RelayOutput::flush()
{
    if (mTransform)
        for (const Frame &converted : mTransform->finish())
            send(converted);
}

void RelayOutput::dropped(const QString &why)
{
    ++mStats.drops;
    if (!mLosing)
        emit note(QStringLiteral("%1: dropping frames: %2").arg(mAddress.text, why));
    mLosing = true;
}

void RelayOutput::delivered(const Frame &frame)
{
    mLosing = false;
    mStats.bytes += frame.bytes.size();
    ++mStats.frames;
}

// ---- files ----------------------------------------------------------------------------

FileOutput::FileOutput(const RelayAddress &address, RelayClock *clock, int periodS)
    : RelayOutput(address)
    , mClock(clock)
    , mPeriodS(periodS)
{
}

FileOutput::~FileOutput() = default;

QString FileOutput::expand(const QString &pattern, const QDateTime &utc)
{
    QString name;
    for (qsizetype i = 0; i < pattern.size(); ++i) {
        if (pattern[i] != QLatin1Char('%') || i + 1 == pattern.size()) {
            name += pattern[i];
            continue;
        }
        const QChar key = pattern[++i];
        const auto two = [](int v) { return QStringLiteral("%1").arg(v, 2, 10, QLatin1Char('0')); };
        switch (key.unicode()) {
        case 'Y': name += QString::number(utc.date().year()); break;
        case 'y': name += two(utc.date().year() % 100); break;
        case 'm': name += two(utc.date().month()); break;
        case 'd': name += two(utc.date().day()); break;
        case 'n': name += QStringLiteral("%1").arg(utc.date().dayOfYear(), 3, 10, QLatin1Char('0')); break;
        case 'h': name += two(utc.time().hour()); break;
        case 'M': name += two(utc.time().minute()); break;
        case 'S': name += two(utc.time().second()); break;
        default: name += QLatin1Char('%') + key;
        }
    }
    return name;
}

void FileOutput::send(const Frame &frame)
{
    QDateTime utc = mClock->utcNow();
    if (mPeriodS > 0)
        utc = QDateTime::fromSecsSinceEpoch(utc.toSecsSinceEpoch() / mPeriodS * mPeriodS, Qt::UTC);
    const bool stdio = mAddress.kind == RelayAddress::Kind::Stdio;
    if (stdio && mWriteFailed)
        return dropped(QStringLiteral("standard output is closed"));
    const QString name = stdio ? QString() : expand(mAddress.path, utc);
    if ((!mFile || name != mName) && !openFor(name))
        return dropped(QStringLiteral("cannot open the file"));
    if (mFile->write(frame.bytes) != frame.bytes.size() || !mFile->flush()) {
        emit note(QStringLiteral("%1: %2").arg(mName.isEmpty() ? QStringLiteral("standard output") : mName, mFile->errorString()));
        mFile.reset();
        mWriteFailed = true;
        return dropped(QStringLiteral("write error"));
    }
    delivered(frame);
}

bool FileOutput::openFor(const QString &name)
{
    mFile.reset();
    auto file = std::make_unique<QFile>();
    const bool ok = name.isEmpty() ? file->open(stdout, QIODevice::WriteOnly | QIODevice::Unbuffered)
                                   : (file->setFileName(name), file->open(QIODevice::WriteOnly | QIODevice::Append));
    if (!ok) {
        emit note(QStringLiteral("cannot open %1: %2").arg(name, file->errorString()));
        return false;
    }
    if (!name.isEmpty() && !mName.isEmpty() && name != mName)
        emit note(QStringLiteral("now writing %1").arg(name));
    mWriteFailed = false;
    mName = name;
    mFile = std::move(file);
    return true;
}

void FileOutput::finish()
{
    mFile.reset();
    emit drained();
}

void FileOutput::reopen()
{
    // At once: a file moved away has its successor before the next frame comes.
    if (mAddress.kind != RelayAddress::Kind::Stdio && mFile)
        openFor(mName);
}

namespace {

// ---- TCP client -----------------------------------------------------------------------

// One connection that is made again after every drop; frames arriving while it is down are
// dropped. Subclasses may speak a protocol before the stream (NTRIP push).
class ConnectionOutput : public RelayOutput
{
public:
    using RelayOutput::RelayOutput;
    // A TLS socket says it disconnected while it is destroyed: by then the timers and the
    // link its handlers use are gone.
    ~ConnectionOutput() override
    {
        if (mSocket)
            disconnect(mSocket.get(), nullptr, this, nullptr);
    }

    void start() override
    {
        mRetry.setSingleShot(true);
        connect(&mRetry, &QTimer::timeout, this, [this] { attempt(); });
        mWatchdog.setSingleShot(true);
        connect(&mWatchdog, &QTimer::timeout, this, [this] { retry(QStringLiteral("no answer in time")); });
        attempt();
    }
    bool busy() const override { return mLink && mSocket->bytesToWrite() > BoundedLink::kDefaultLimit / 2; }
    void finish() override
    {
        mClosing = true;
        mRetry.stop();
        if (!mSocket || mSocket->state() != QAbstractSocket::ConnectedState)
            return emit drained();
        if (mLink)
            mLink->finishBody();
        mSocket->disconnectFromHost();
        if (mSocket->state() == QAbstractSocket::UnconnectedState)
            emit drained();
    }

protected:
    void send(const Frame &frame) override
    {
        if (!mLink)
            return dropped(QStringLiteral("not connected"));
        if (!mLink->send(frame.bytes))
            return dropped(QStringLiteral("the peer does not take the data in time"));
        delivered(frame);
    }
    virtual bool tls() const { return false; }
    virtual QString host() const { return mAddress.host; }
    virtual quint16 port() const { return mAddress.port; }
    // Bytes to send on connect; empty: the stream starts at once.
    virtual QByteArray request() const { return {}; }
    // The answer so far: 1 accepted, 0 incomplete, -1 refused (*why says how).
    virtual int answer(const QByteArray &bytes, QString *why) { Q_UNUSED(bytes) Q_UNUSED(why) return 1; }
    virtual bool chunked() const { return false; }

private:
    void attempt()
    {
        mSocket = std::make_unique<QSslSocket>();
        mAnswer.clear();
        connect(mSocket.get(), &QTcpSocket::connected, this, [this] { connected(); });
        connect(mSocket.get(), &QSslSocket::encrypted, this, [this] { connected(); });
        connect(mSocket.get(), &QTcpSocket::readyRead, this, [this] { readSome(); });
        connect(mSocket.get(), &QTcpSocket::bytesWritten, this, [this] { mBackoff.reset(); });
        connect(mSocket.get(), &QTcpSocket::disconnected, this, [this] {
            if (mClosing)
                return emit drained();
            retry(QStringLiteral("the peer closed the connection"));
        });
        connect(mSocket.get(), &QTcpSocket::errorOccurred, this, [this] {
            if (!mClosing)
                retry(mSocket->errorString());
        });
        mStats.state = QStringLiteral("connecting");
        if (tls())
            mSocket->connectToHostEncrypted(host(), port());
        else
            mSocket->connectToHost(host(), port());
        mWatchdog.start(10000);
    }
    void connected()
    {
        if (tls() && !mSocket->isEncrypted())
            return;
        const QByteArray req = request();
        if (req.isEmpty())
            return streaming();
        mSocket->write(req);
    }
    void readSome()
    {
        const QByteArray bytes = mSocket->readAll();
        if (mLink)
            return;  // what a caster sends back while streaming is not ours to use
        mAnswer += bytes;
        QString why;
        const int verdict = answer(mAnswer, &why);
        if (verdict > 0)
            streaming();
        else if (verdict < 0 || mAnswer.size() > 16384)
            retry(why.isEmpty() ? QStringLiteral("an answer too long") : why);
    }
    void streaming()
    {
        mWatchdog.stop();
        mLink = std::make_unique<BoundedLink>(mSocket.get(), chunked());
        mStats.state = QStringLiteral("streaming");
        emit note(QStringLiteral("%1: streaming").arg(mAddress.text));
    }
    void retry(const QString &why)
    {
        if (mRetry.isActive() || mClosing)
            return;
        mWatchdog.stop();
        mLink.reset();
        mSocket.release()->deleteLater();
        ++mStats.reconnects;
        const int delay = mBackoff.next();
        mStats.state = why;
        emit note(QStringLiteral("%1: %2; trying again in %3 s").arg(mAddress.text, why).arg(delay / 1000.0));
        mRetry.start(delay);
    }

    std::unique_ptr<QSslSocket> mSocket;
    std::unique_ptr<BoundedLink> mLink;
    QByteArray mAnswer;
    QTimer mRetry;
    QTimer mWatchdog;
    bool mClosing = false;
};

// Pushes the stream into a caster's mountpoint as an NTRIP server: version 1 with SOURCE,
// version 2 with a chunked POST and Basic authentication.
class NtripPushOutput : public ConnectionOutput
{
public:
    using ConnectionOutput::ConnectionOutput;

protected:
    bool tls() const override { return mAddress.ntrip.tls; }
    QString host() const override { return mAddress.ntrip.host; }
    quint16 port() const override { return mAddress.ntrip.port; }
    bool chunked() const override { return version() == 2; }
    int version() const { return mAddress.value(QStringLiteral("v"), QStringLiteral("1")).toInt(); }

    QByteArray request() const override
    {
        const NtripEndpoint &e = mAddress.ntrip;
        const QByteArray agent = "NTRIP rtcm3relay/" + NtripClient::userAgent().mid(NtripClient::userAgent().indexOf('/') + 1);
        if (version() == 1)
            return "SOURCE " + e.password.toUtf8() + " /" + e.mountpoint.toUtf8() + "\r\nSource-Agent: " + agent + "\r\n\r\n";
        const QByteArray hostName = e.host.contains(QLatin1Char(':')) ? '[' + e.host.toUtf8() + ']' : e.host.toUtf8();
        return "POST /" + e.mountpoint.toUtf8() + " HTTP/1.1\r\nHost: " + hostName + ':' + QByteArray::number(e.port)
            + "\r\nNtrip-Version: Ntrip/2.0\r\nUser-Agent: " + agent
            + "\r\nAuthorization: Basic " + (e.user + QLatin1Char(':') + e.password).toUtf8().toBase64()
            + "\r\nContent-Type: gnss/data\r\nTransfer-Encoding: chunked\r\nConnection: close\r\n\r\n";
    }
    int answer(const QByteArray &bytes, QString *why) override
    {
        const qsizetype end = bytes.indexOf('\n');
        if (end < 0)
            return 0;
        const QByteArray status = bytes.left(end).trimmed();
        const QList<QByteArray> words = status.split(' ');
        if (status.startsWith("ICY 200") || (words.size() > 1 && words[0].startsWith("HTTP/") && words[1] == "200"))
            return 1;
        *why = QStringLiteral("the caster refused: ") + QString::fromLatin1(status.left(120)).toHtmlEscaped();
        return -1;
    }
};

// ---- servers, datagrams and serial lines -----------------------------------------------

// Every client that connects gets the stream from then on; one that falls behind its queue is
// disconnected.
class TcpServerOutput : public RelayOutput
{
public:
    using RelayOutput::RelayOutput;

    void start() override
    {
        connect(&mServer, &QTcpServer::newConnection, this, [this] { accept(); });
        const QHostAddress host = mAddress.host.isEmpty() ? QHostAddress::Any : QHostAddress(mAddress.host);
        if (!mServer.listen(host, mAddress.port))
            emit note(QStringLiteral("cannot listen on %1: %2").arg(mAddress.text, mServer.errorString()));
    }
    void finish() override
    {
        mServer.close();
        for (Client &c : mClients)
            c.socket->disconnectFromHost();
        emit drained();
    }

protected:
    void send(const Frame &frame) override
    {
        for (auto it = mClients.begin(); it != mClients.end();) {
            if (it->link.send(frame.bytes)) {
                ++it;
                continue;
            }
            emit note(QStringLiteral("%1: dropping client %2: it does not read").arg(mAddress.text, it->peer));
            ++mStats.drops;
            it->socket->abort();
            it->socket->deleteLater();
            it = mClients.erase(it);
            mStats.clients = qint64(mClients.size());
        }
        delivered(frame);
    }

private:
    struct Client
    {
        QTcpSocket *socket;
        BoundedLink link;
        QString peer;
    };

    void accept()
    {
        while (QTcpSocket *socket = mServer.nextPendingConnection()) {
            socket->setParent(this);
            mClients.push_back({socket, BoundedLink(socket, false), socket->peerAddress().toString()});
            mClients.back().link.writeDirectly(socket->socketDescriptor());
            ++mStats.clientsEver;
            mStats.clients = qint64(mClients.size());
            connect(socket, &QTcpSocket::readyRead, socket, [socket] { socket->readAll(); });
            connect(socket, &QTcpSocket::disconnected, this, [this, socket] { forget(socket); });
        }
    }
    void forget(QTcpSocket *socket)
    {
        mClients.remove_if([socket](const Client &c) { return c.socket == socket; });
        mStats.clients = qint64(mClients.size());
        socket->deleteLater();
    }

    QTcpServer mServer;
    std::list<Client> mClients;
};

class UdpOutput : public RelayOutput
{
public:
    using RelayOutput::RelayOutput;
    void start() override
    {
        mTarget = QHostAddress(mAddress.host);
        if (mTarget.isNull())
            mTarget = QHostInfo::fromName(mAddress.host).addresses().value(0);
        if (mTarget.isNull())
            emit note(QStringLiteral("%1: cannot resolve %2").arg(mAddress.text, mAddress.host));
    }

protected:
    void send(const Frame &frame) override
    {
        if (mSocket.writeDatagram(frame.bytes, mTarget, mAddress.port) < 0)
            return dropped(mSocket.errorString());
        delivered(frame);
    }

private:
    QUdpSocket mSocket;
    QHostAddress mTarget;
};

class SerialOutput : public RelayOutput
{
public:
    using RelayOutput::RelayOutput;

    void start() override
    {
        QString error;
        configureSerialPort(&mPort, mAddress, &error);
        if (!mPort.open(QIODevice::WriteOnly))
            emit note(QStringLiteral("cannot open %1: %2").arg(mAddress.path, mPort.errorString()));
    }

protected:
    void send(const Frame &frame) override
    {
        if (!mPort.isOpen())
            return dropped(QStringLiteral("not open"));
        if (!mLink.send(frame.bytes))
            return dropped(QStringLiteral("the line is slower than the stream"));
        delivered(frame);
    }

private:
    QSerialPort mPort;
    BoundedLink mLink{&mPort, false, 64 * 1024};
};

// Period implied by the finest time keyword of a file name, 0 for none.
int impliedPeriod(const QString &pattern)
{
    if (pattern.contains(QLatin1String("%S")))
        return 1;
    if (pattern.contains(QLatin1String("%M")))
        return 60;
    if (pattern.contains(QLatin1String("%h")))
        return 3600;
    if (pattern.contains(QLatin1String("%d")) || pattern.contains(QLatin1String("%n")))
        return 86400;
    return 0;
}

} // namespace

std::unique_ptr<RelayOutput> RelayOutput::create(const RelayAddress &address, RelayClock *clock, QString *error,
                                                 const TransformMaker &transforms)
{
    error->clear();
    const bool converts = address.query.contains(QStringLiteral("convert")) || address.query.contains(QStringLiteral("systems"));
    for (const QString &key : address.query.keys()) {
        if (QStringList{"convert", "systems"}.contains(key) && !transforms) {
            *error = QStringLiteral("%1: '%2' needs a frame converter, which this build does not have").arg(address.text, key);
            return nullptr;
        }
        if (!QStringList{"msgs", "v", "period", "baud", "data", "parity", "stop", "convert", "systems"}.contains(key)) {
            *error = QStringLiteral("%1: an output takes no '%2'").arg(address.text, key);
            return nullptr;
        }
    }
    const MessageFilter filter = MessageFilter::parse(address.value(QStringLiteral("msgs")), error);
    if (!error->isEmpty())
        return nullptr;
    const QString v = address.value(QStringLiteral("v"), QStringLiteral("1"));
    if (v != QLatin1String("1") && v != QLatin1String("2")) {
        *error = QStringLiteral("%1: v is 1 or 2").arg(address.text);
        return nullptr;
    }
    bool ok = true;
    const int period = address.value(QStringLiteral("period"), QString::number(impliedPeriod(address.path))).toInt(&ok);
    if (!ok || period < 0) {
        *error = QStringLiteral("%1: period is a number of seconds").arg(address.text);
        return nullptr;
    }
    std::unique_ptr<RelayOutput> output;
    switch (address.kind) {
    case RelayAddress::Kind::File:
    case RelayAddress::Kind::Stdio: output = std::make_unique<FileOutput>(address, clock, period); break;
    case RelayAddress::Kind::TcpConnect: output = std::make_unique<ConnectionOutput>(address); break;
    case RelayAddress::Kind::TcpListen: output = std::make_unique<TcpServerOutput>(address); break;
    case RelayAddress::Kind::Ntrip: output = std::make_unique<NtripPushOutput>(address); break;
    case RelayAddress::Kind::Udp: output = std::make_unique<UdpOutput>(address); break;
    case RelayAddress::Kind::Serial: {
        QSerialPort probe;
        if (!configureSerialPort(&probe, address, error))
            return nullptr;
        output = std::make_unique<SerialOutput>(address);
        break;
    }
    }
    output->setFilter(filter);
    if (converts) {
        std::unique_ptr<FrameTransform> transform = transforms(address, error);
        if (!transform)
            return nullptr;
        output->setTransform(std::move(transform));
    }
    return output;
}
