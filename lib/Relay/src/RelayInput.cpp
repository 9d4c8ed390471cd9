#include "RelayInput.h"

#include "NtripClient.h"

#include <QtCore/QFile>
#include <QtCore/QSocketNotifier>
#include <QtNetwork/QNetworkDatagram>
#include <QtNetwork/QTcpServer>
#include <QtNetwork/QTcpSocket>
#include <QtNetwork/QUdpSocket>
#include <QtSerialPort/QSerialPort>

#include <deque>
#include <unistd.h>
#include <fcntl.h>

namespace {

constexpr qint64 kReadChunk = 64 * 1024;
constexpr int kConnectTimeoutMs = 10000;

// A file, read as fast as the outputs take it, or replayed at the pace of its MSM epochs.
class FileInput : public RelayInput
{
public:
    FileInput(const RelayAddress &address, std::unique_ptr<FrameSource> source)
        : RelayInput(address)
        , mSource(std::move(source))
    {
    }

    void start() override
    {
        mFile.setFileName(mAddress.path);
        if (!mSource && !mFile.open(QIODevice::ReadOnly)) {
            finish(QStringLiteral("cannot open %1: %2").arg(mAddress.path, mFile.errorString()));
            return;
        }
        mPace = mAddress.value(QStringLiteral("pace"), QStringLiteral("0")).toDouble();
        mTimer.setSingleShot(true);
        connect(&mTimer, &QTimer::timeout, this, [this] { step(); });
        mTimer.start(0);
    }

private:
    struct Held
    {
        Frame frame;
        qint64 epochMs;
    };

    void step()
    {
        if (mPace <= 0) {
            if (outputsBusy())
                return mTimer.start(10);
            if (!readChunk())
                return;
            return mTimer.start(0);
        }
        while (mHeld.size() < 256 && !mAtEnd)
            readChunk();
        releaseDue();
    }

    // False once the file is done.
    bool readChunk()
    {
        QString error;
        const QList<Frame> made = mSource ? mSource->next(&error) : QList<Frame>();
        const QByteArray bytes = mSource ? QByteArray() : mFile.read(kReadChunk);
        if (bytes.isEmpty() && made.isEmpty()) {
            mAtEnd = true;
            mEndWhy = error.isEmpty() ? QStringLiteral("end of file") : error;
            if (mPace <= 0) {
                mSplitter.reset();
                finish(mEndWhy);
            }
            return false;
        }
        for (const Frame &frame : made)
            take(frame);
        if (mSource)
            return true;
        // A replay counts the bytes it released, not those it read ahead.
        if (mPace <= 0)
            mStats.bytes += bytes.size();
        for (Frame &frame : mSplitter.feed(bytes, monotonicNs()))
            take(frame);
        return true;
    }

    void take(const Frame &frame)
    {
        if (mPace > 0)
            return mHeld.push_back({frame, epochOf(frame)});
        if (mSource)
            mStats.bytes += frame.bytes.size();
        announce(frame);
    }

    // The epoch of observation frames of the first system met; -1 for other frames.
    qint64 epochOf(const Frame &frame)
    {
        const int system = observationSystem(frame.type);
        if (system < 0)
            return -1;
        if (mSystem < 0)
            mSystem = system;
        return system == mSystem ? observationEpochMs(frame.bytes) : -1;
    }

    void releaseDue()
    {
        while (!mHeld.empty()) {
            Held &head = mHeld.front();
            if (head.epochMs >= 0) {
                const qint64 waitMs = waitFor(head.epochMs);
                if (waitMs > 0)
                    return mTimer.start(int(waitMs));
            }
            head.frame.arrivalNs = monotonicNs();
            mStats.bytes += head.frame.bytes.size();
            announce(head.frame);
            mHeld.pop_front();
            if (mHeld.size() < 64 && !mAtEnd)
                return mTimer.start(0);
        }
        if (mAtEnd)
            finish(mEndWhy);
    }

    // How long until an epoch is due; a step back or a gap over a minute starts the clock anew.
    qint64 waitFor(qint64 epochMs)
    {
        const qint64 period = mSystem == 1 ? 86400000 : 604800000;
        qint64 since = mStartEpochMs < 0 ? -1 : epochMs - mStartEpochMs;
        if (since < -period / 2)
            since += period;
        if (mStartEpochMs < 0 || since < mLastSinceMs || since - mLastSinceMs > 60000) {
            mStartEpochMs = epochMs;
            mStartNs = monotonicNs();
            since = 0;
        }
        mLastSinceMs = since;
        const qint64 dueNs = mStartNs + qint64(double(since) * 1e6 / mPace);
        return (dueNs - monotonicNs()) / 1000000;
    }

    std::unique_ptr<FrameSource> mSource;
    QFile mFile;
    QString mEndWhy;
    QTimer mTimer;
    double mPace = 0;
    bool mAtEnd = false;
    std::deque<Held> mHeld;
    int mSystem = -1;
    qint64 mStartEpochMs = -1;
    qint64 mStartNs = 0;
    qint64 mLastSinceMs = 0;
};

class StdinInput : public RelayInput
{
public:
    using RelayInput::RelayInput;

    void start() override
    {
        ::fcntl(0, F_SETFL, ::fcntl(0, F_GETFL) | O_NONBLOCK);
        mNotifier = std::make_unique<QSocketNotifier>(0, QSocketNotifier::Read);
        connect(mNotifier.get(), &QSocketNotifier::activated, this, [this] { readSome(); });
    }

private:
    void readSome()
    {
        QByteArray bytes(kReadChunk, Qt::Uninitialized);
        const ssize_t got = ::read(0, bytes.data(), size_t(bytes.size()));
        if (got < 0 && (errno == EAGAIN || errno == EINTR))
            return;
        if (got <= 0) {
            mNotifier->setEnabled(false);
            mSplitter.reset();
            finish(got == 0 ? QStringLiteral("end of input") : QString::fromLocal8Bit(strerror(errno)));
            return;
        }
        bytes.truncate(got);
        receive(bytes);
    }

    std::unique_ptr<QSocketNotifier> mNotifier;
};

// A TCP connection to a source, made again after every drop.
class TcpClientInput : public RelayInput
{
public:
    using RelayInput::RelayInput;

    void start() override
    {
        connect(&mSocket, &QTcpSocket::readyRead, this, [this] {
            mBackoff.reset();
            mWatchdog.start(kConnectTimeoutMs * 6);
            receive(mSocket.readAll());
        });
        connect(&mSocket, &QTcpSocket::connected, this, [this] {
            emit note(QStringLiteral("connected to %1").arg(mAddress.text));
            mStats.state = QStringLiteral("connected");
        });
        connect(&mSocket, &QTcpSocket::errorOccurred, this, [this] { retry(mSocket.errorString()); });
        mWatchdog.setSingleShot(true);
        connect(&mWatchdog, &QTimer::timeout, this, [this] { retry(QStringLiteral("no data")); });
        mRetry.setSingleShot(true);
        connect(&mRetry, &QTimer::timeout, this, [this] { attempt(); });
        attempt();
    }
    void sendUpstream(const QByteArray &bytes) override
    {
        if (mSocket.state() == QAbstractSocket::ConnectedState && mSocket.bytesToWrite() < 65536)
            mSocket.write(bytes);
    }

private:
    void attempt()
    {
        mStats.state = QStringLiteral("connecting");
        mSocket.connectToHost(mAddress.host, mAddress.port);
        mWatchdog.start(kConnectTimeoutMs);
    }
    void retry(const QString &why)
    {
        if (mRetry.isActive())
            return;
        mWatchdog.stop();
        mSocket.abort();
        brokeOff(why);
        ++mStats.reconnects;
        mRetry.start(mBackoff.next());
    }

    QTcpSocket mSocket;
    QTimer mWatchdog;
    QTimer mRetry;
};

// Sources connect to us; each connection is cut into frames on its own.
class TcpServerInput : public RelayInput
{
public:
    using RelayInput::RelayInput;

    void start() override
    {
        connect(&mServer, &QTcpServer::newConnection, this, [this] { accept(); });
        const QHostAddress host = mAddress.host.isEmpty() ? QHostAddress::Any : QHostAddress(mAddress.host);
        if (!mServer.listen(host, mAddress.port))
            finish(QStringLiteral("cannot listen on %1: %2").arg(mAddress.text, mServer.errorString()));
    }

private:
    void accept()
    {
        while (QTcpSocket *socket = mServer.nextPendingConnection()) {
            auto splitter = std::make_shared<FrameSplitter>();
            ++mStats.clients;
            ++mStats.clientsEver;
            connect(socket, &QTcpSocket::readyRead, this, [this, socket, splitter] {
                const QByteArray bytes = socket->readAll();
                mStats.bytes += bytes.size();
                for (const Frame &frame : splitter->feed(bytes, monotonicNs()))
                    announce(frame);
            });
            connect(socket, &QTcpSocket::disconnected, this, [this, socket] {
                --mStats.clients;
                socket->deleteLater();
            });
        }
    }

    QTcpServer mServer;
};

// An NTRIP caster's mountpoint through the network library, which reconnects by itself;
// its pull interface is polled without waiting.
class NtripInput : public RelayInput
{
public:
    using RelayInput::RelayInput;

    void start() override
    {
        NtripSettings settings;
        settings.reconnect = true;
        settings.version = mAddress.value(QStringLiteral("v"), QStringLiteral("0")).toInt();
        mClient = std::make_unique<NtripClient>(mAddress.ntrip, settings);
        connect(&mPoll, &QTimer::timeout, this, [this] { poll(); });
        mPoll.start(5);
    }
    void sendUpstream(const QByteArray &bytes) override
    {
        if (mClient)
            mClient->send(bytes);
    }

private:
    void poll()
    {
        for (;;) {
            const QByteArray bytes = mClient->read(0);
            if (bytes.isEmpty())
                break;
            receive(bytes);
        }
        for (const NetEvent &event : mClient->takeEvents()) {
            if (event.kind == NetEvent::Kind::Dropped) {
                ++mStats.reconnects;
                mSplitter.reset();
            }
            emit note(event.message);
        }
        if (mClient->atEnd()) {
            mPoll.stop();
            finish(mClient->errorString());
        }
    }

    std::unique_ptr<NtripClient> mClient;
    QTimer mPoll;
};

} // namespace

bool configureSerialPort(QSerialPort *port, const RelayAddress &address, QString *error);

namespace {

class SerialInput : public RelayInput
{
public:
    using RelayInput::RelayInput;

    void start() override
    {
        connect(&mPort, &QSerialPort::readyRead, this, [this] {
            mBackoff.reset();
            receive(mPort.readAll());
        });
        connect(&mPort, &QSerialPort::errorOccurred, this, [this](QSerialPort::SerialPortError e) {
            if (e != QSerialPort::NoError && !mRetry.isActive()) {
                brokeOff(mPort.errorString());
                mPort.close();
                ++mStats.reconnects;
                mRetry.start(mBackoff.next());
            }
        });
        mRetry.setSingleShot(true);
        connect(&mRetry, &QTimer::timeout, this, [this] { open(); });
        open();
    }

private:
    void open();

    QSerialPort mPort;
    QTimer mRetry;
};

class UdpInput : public RelayInput
{
public:
    using RelayInput::RelayInput;

    void start() override
    {
        const QHostAddress host = mAddress.host.isEmpty() ? QHostAddress::Any : QHostAddress(mAddress.host);
        if (!mSocket.bind(host, mAddress.port)) {
            finish(QStringLiteral("cannot bind %1: %2").arg(mAddress.text, mSocket.errorString()));
            return;
        }
        connect(&mSocket, &QUdpSocket::readyRead, this, [this] {
            while (mSocket.hasPendingDatagrams())
                receive(mSocket.receiveDatagram().data());
        });
    }

private:
    QUdpSocket mSocket;
};

} // namespace

// Serial line settings: ?baud=115200&data=8&parity=none|even|odd&stop=1|2.
bool configureSerialPort(QSerialPort *port, const RelayAddress &address, QString *error)
{
    bool ok = true;
    const int baud = address.value(QStringLiteral("baud"), QStringLiteral("9600")).toInt(&ok);
    const int data = address.value(QStringLiteral("data"), QStringLiteral("8")).toInt();
    const QString parity = address.value(QStringLiteral("parity"), QStringLiteral("none"));
    const QString stop = address.value(QStringLiteral("stop"), QStringLiteral("1"));
    if (!ok || baud <= 0 || data < 5 || data > 8
        || !QStringList{"none", "even", "odd"}.contains(parity) || (stop != QLatin1String("1") && stop != QLatin1String("2"))) {
        *error = QStringLiteral("%1: give baud=N, data=5..8, parity=none|even|odd, stop=1|2").arg(address.text);
        return false;
    }
    port->setPortName(address.path);
    port->setBaudRate(baud);
    port->setDataBits(QSerialPort::DataBits(data));
    port->setParity(parity == QLatin1String("even") ? QSerialPort::EvenParity
                    : parity == QLatin1String("odd") ? QSerialPort::OddParity : QSerialPort::NoParity);
    port->setStopBits(stop == QLatin1String("2") ? QSerialPort::TwoStop : QSerialPort::OneStop);
    return true;
}

void SerialInput::open()
{
    QString error;
    configureSerialPort(&mPort, mAddress, &error);
    if (mPort.open(QIODevice::ReadOnly)) {
        mStats.state = QStringLiteral("open");
        emit note(QStringLiteral("opened %1").arg(mAddress.path));
    }
}

RelayInput::RelayInput(const RelayAddress &address, QObject *parent)
    : QObject(parent)
    , mAddress(address)
{
    mStats.role = QStringLiteral("input");
    mStats.name = address.text;
}

std::unique_ptr<RelayInput> RelayInput::create(const RelayAddress &address, QString *error,
                                               std::unique_ptr<FrameSource> source)
{
    error->clear();
    if (source && address.kind != RelayAddress::Kind::File) {
        *error = QStringLiteral("%1: only a file can be produced as a stream").arg(address.text);
        return nullptr;
    }
    const QStringList own = source ? source->parameters() : QStringList();
    for (const QString &key : address.query.keys()) {
        if (!QStringList{"mount", "pace", "baud", "data", "parity", "stop", "v", "nmea", "gga", "msgs"}.contains(key) && !own.contains(key)) {
            *error = QStringLiteral("%1: an input takes no '%2'").arg(address.text, key);
            return nullptr;
        }
    }
    if (address.kind == RelayAddress::Kind::Serial) {
        QSerialPort probe;
        if (!configureSerialPort(&probe, address, error))
            return nullptr;
    }
    const MessageFilter filter = MessageFilter::parse(address.value(QStringLiteral("msgs")), error);
    if (!error->isEmpty()) {
        *error = address.text + QStringLiteral(": ") + *error;
        return nullptr;
    }
    bool ok = true;
    if (address.query.contains(QStringLiteral("pace"))
        && (address.kind != RelayAddress::Kind::File || address.value(QStringLiteral("pace")).toDouble(&ok) <= 0 || !ok)) {
        *error = QStringLiteral("%1: pace needs a file and a factor above 0").arg(address.text);
        return nullptr;
    }
    std::unique_ptr<RelayInput> input;
    switch (address.kind) {
    case RelayAddress::Kind::File: input = std::make_unique<FileInput>(address, std::move(source)); break;
    case RelayAddress::Kind::Stdio: input = std::make_unique<StdinInput>(address); break;
    case RelayAddress::Kind::TcpConnect: input = std::make_unique<TcpClientInput>(address); break;
    case RelayAddress::Kind::TcpListen: input = std::make_unique<TcpServerInput>(address); break;
    case RelayAddress::Kind::Ntrip: input = std::make_unique<NtripInput>(address); break;
    case RelayAddress::Kind::Serial: input = std::make_unique<SerialInput>(address); break;
    case RelayAddress::Kind::Udp: input = std::make_unique<UdpInput>(address); break;
    }
    input->mFilter = filter;
    return input;
}

EndpointStats RelayInput::stats() const
{
    EndpointStats s = mStats;
    if (mSplitter.droppedBytes() > 0)
        s.state += (s.state.isEmpty() ? QString() : QStringLiteral(", "))
            + QStringLiteral("%1 bytes outside frames").arg(mSplitter.droppedBytes());
    return s;
}

void RelayInput::receive(const QByteArray &bytes)
{
    mStats.bytes += bytes.size();
    for (const Frame &frame : mSplitter.feed(bytes, monotonicNs()))
        announce(frame);
    emit readDone();
}

void RelayInput::announce(const Frame &frame)
{
    if (!mFilter.accept(frame.type, frame.arrivalNs / 1000000))
        return;
    ++mStats.frames;
    emit frameReady(frame);
}

void RelayInput::finish(const QString &why)
{
    if (mFinished)
        return;
    mFinished = true;
    mStats.state = why;
    emit note(QStringLiteral("%1: %2").arg(mAddress.text, why));
    emit finished();
}

void RelayInput::brokeOff(const QString &why)
{
    mSplitter.reset();
    mStats.state = why;
    emit note(QStringLiteral("%1: %2; trying again").arg(mAddress.text, why));
}
