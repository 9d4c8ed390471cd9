#pragma once
// Sends streams to many clients from writer threads of their own, so that a thousand clients
// get an epoch within a few milliseconds and the event loop never waits for them. Each batch
// of bytes is made once, shared and immutable, and written with a non-blocking send() straight
// on every client's descriptor; only what the kernel refuses waits in the client's bounded
// queue. A client whose queue would overflow is closed and reported.

#include "nuvrixrelay_global.h"

#include <QtCore/QByteArray>

#include <functional>
#include <memory>
#include <vector>

class NUVRIXRELAY_EXPORT Fanout
{
public:
    struct Event
    {
        enum class Kind { Left, Dropped, Line };
        Kind kind;
        quint64 client;
        QByteArray text;  // Line: one line the client sent; Dropped: why
    };
    // Called on a writer thread.
    using Sink = std::function<void(const Event &)>;

    // `ring`: batch each publication's sends into one system call where the kernel allows it
    // (otherwise, and without it, one send() per client).
    Fanout(int threads, Sink sink, bool ring = true);
    ~Fanout();  // closes every client
    Fanout(const Fanout &) = delete;
    Fanout &operator=(const Fanout &) = delete;

    // Takes the connected descriptor over (and closes it in the end). `greeting` goes out
    // first; then, chunked or plain, whatever the group is sent from now on.
    void add(quint64 client, int group, int descriptor, bool chunked, qint64 limit, const QByteArray &greeting);
    // The bytes to every client of the group, after everything sent to it before.
    void publish(int group, const QByteArray &bytes);
    // Ends chunked bodies, sends what the kernel takes at once and closes every client; returns
    // when done.
    void closeAll();
    // Clients taken over and not yet closed.
    int clientCount() const;

    // The bytes a chunked client receives for `bytes`.
    static QByteArray chunk(const QByteArray &bytes);

private:
    class Writer;
    std::vector<std::unique_ptr<Writer>> mWriters;
};
