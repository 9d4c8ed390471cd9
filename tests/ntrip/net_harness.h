#pragma once
// A scripted peer on loopback in its own thread, and the pull loop a program runs over a
// network stream.

#include "NetStream.h"

#include <QtCore/QCoreApplication>
#include <QtCore/QElapsedTimer>
#include <QtCore/QThread>
#include <QtNetwork/QTcpServer>
#include <QtNetwork/QTcpSocket>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <functional>
#include <future>
#include <memory>
#include <random>

namespace netharness {

// The client needs an event dispatcher in the test's thread, as a program has.
inline void ensureApplication()
{
    static int argc = 1;
    static char name[] = "test_ntrip";
    static char *argv[] = {name, nullptr};
    if (!QCoreApplication::instance())
        static QCoreApplication app(argc, argv);
}

// A loopback port that nothing listens on, at least right now.
inline quint16 freePort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return probe.serverPort();
}

// One accepted connection, driven with bounded waits; keeps what the client sent.
struct Peer
{
    QTcpSocket *socket;
    QByteArray received;

    // Reads for `ms`, until `done` or until the client closes.
    void readFor(int ms, const std::function<bool()> &done = [] { return false; })
    {
        QElapsedTimer clock;
        clock.start();
        while (!done() && clock.elapsed() < ms && socket->state() == QAbstractSocket::ConnectedState)
            if (socket->waitForReadyRead(int(std::clamp<qint64>(ms - clock.elapsed(), 1, 100))))
                received += socket->readAll();
    }
    QByteArray request()
    {
        readFor(5000, [this] { return received.contains("\r\n\r\n"); });
        return received.left(received.indexOf("\r\n\r\n") + 4);
    }
    void send(const QByteArray &bytes)
    {
        socket->write(bytes);
        while (socket->bytesToWrite() > 0 && socket->waitForBytesWritten(1000)) {
        }
    }
    // Pieces of 1..largest bytes with pauses between some: reads split frames and chunk lines.
    void trickle(const QByteArray &bytes, int largest)
    {
        std::mt19937 random(1);
        for (qsizetype at = 0, size; at < bytes.size(); at += size) {
            size = 1 + random() % largest;
            send(bytes.mid(at, size));
            if (random() % 8 == 0)
                QThread::msleep(1);
        }
    }
    void hold(int ms) { readFor(ms); }   // silent
};

// Plays one script per connection, in order. A turn may first refuse connections for a while.
class ScriptedServer
{
public:
    struct Turn
    {
        std::function<void(Peer &)> script;
        int refuseFirstMs = 0;
    };

    explicit ScriptedServer(QList<Turn> turns, const QHostAddress &address = QHostAddress(QHostAddress::LocalHost))
    {
        std::promise<quint16> port;
        mThread.reset(QThread::create([turns, address, &port, stop = mStop] {
            QTcpServer server;
            server.listen(address, 0);
            const quint16 number = server.serverPort();
            port.set_value(number);
            for (const Turn &turn : turns) {
                if (turn.refuseFirstMs > 0) {
                    server.close();
                    QThread::msleep(turn.refuseFirstMs);
                    server.listen(address, number);
                }
                for (int i = 0; i < 500 && !*stop && !server.hasPendingConnections(); ++i)
                    server.waitForNewConnection(20);
                if (!server.hasPendingConnections())
                    return;
                std::unique_ptr<QTcpSocket> socket(server.nextPendingConnection());
                Peer peer{socket.get(), {}};
                turn.script(peer);
                socket->disconnectFromHost();
                if (socket->state() != QAbstractSocket::UnconnectedState)
                    socket->waitForDisconnected(1000);
            }
        }));
        std::future<quint16> ready = port.get_future();
        mThread->start();
        mPort = ready.get();
    }
    ~ScriptedServer()
    {
        *mStop = true;
        finish();
    }
    // Waits until every script ran, so that what they recorded can be read.
    void finish() { mThread->wait(30000); }
    quint16 port() const { return mPort; }

private:
    std::unique_ptr<QThread> mThread;
    std::shared_ptr<std::atomic<bool>> mStop = std::make_shared<std::atomic<bool>>(false);
    quint16 mPort = 0;
};

// What a program's pull loop collects: each connection's bytes apart, as a program that
// starts its framing afresh on every Connected event.
struct Collected
{
    QList<QByteArray> connections;
    QList<NetEvent> events;
    qint64 longestReadMs = 0;

    QByteArray all() const { return connections.isEmpty() ? QByteArray() : connections.join(); }
};

inline Collected pull(NetStream &stream, int maxWaitMs = 50, int totalMs = 15000,
                      const std::function<void(const Collected &)> &onRead = {})
{
    Collected got;
    QElapsedTimer total;
    total.start();
    while (!stream.atEnd() && total.elapsed() < totalMs) {
        QElapsedTimer one;
        one.start();
        const QByteArray bytes = stream.read(maxWaitMs);
        got.longestReadMs = std::max(got.longestReadMs, one.elapsed());
        if (!bytes.isEmpty()) {
            if (got.connections.isEmpty()) {
                ADD_FAILURE() << "stream bytes before the Connected event";
                got.connections << QByteArray();
            }
            got.connections.last() += bytes;
        }
        for (const NetEvent &event : stream.takeEvents()) {
            if (event.kind == NetEvent::Kind::Connected)
                got.connections << QByteArray();
            got.events << event;
        }
        if (onRead)
            onRead(got);
    }
    return got;
}

} // namespace netharness
