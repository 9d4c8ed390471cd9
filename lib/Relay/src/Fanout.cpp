#include "Fanout.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cerrno>
#include <deque>
#include <future>
#include <mutex>
#include <thread>
#include <unordered_map>

#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#ifdef NUVRIX_HAVE_URING
#include <liburing.h>
#endif

namespace {

constexpr qsizetype kMaxLineBytes = 1024;
constexpr quint64 kWakeKey = ~quint64(0);
constexpr quint64 kRingKey = ~quint64(0) - 1;

struct Piece
{
    QByteArray bytes;
    qsizetype offset;
};

struct Connection
{
    quint64 id;
    int group;
    int fd;
    bool chunked;
    qint64 limit;
    std::deque<Piece> queue;
    qint64 queued = 0;
    bool sending = false;  // a send submitted to the ring has not completed yet
    bool watchingOutput = false;
    QByteArray lines;
};

struct Command
{
    enum class Kind { Add, Publish, CloseAll } kind;
    std::unique_ptr<Connection> connection;
    QByteArray greeting;
    int group = 0;
    QByteArray plain;
    QByteArray chunked;
    std::shared_ptr<std::promise<void>> done;
};


// Many non-blocking sends in one system call, through the kernel's submission ring where it
// offers one: on virtual machines a system call can cost as much as a small loopback send, and
// a writer makes one per client and batch otherwise. Every send carries MSG_DONTWAIT, so the
// kernel completes it at once (in full, in part, or refused) instead of waiting for room.
class SendRing
{
public:
    static constexpr unsigned kEntries = 512;

    ~SendRing()
    {
#ifdef NUVRIX_HAVE_URING
        if (mReady)
            io_uring_queue_exit(&mRing);
#endif
    }
    // Made on the thread that submits, which alone may then use it.
    bool open()
    {
#ifdef NUVRIX_HAVE_URING
        mReady = io_uring_queue_init(kEntries, &mRing, IORING_SETUP_SINGLE_ISSUER | IORING_SETUP_COOP_TASKRUN) == 0
            || io_uring_queue_init(kEntries, &mRing, 0) == 0;
#endif
        return mReady;
    }
    bool ready() const { return mReady; }
    int descriptor() const
    {
#ifdef NUVRIX_HAVE_URING
        return mReady ? mRing.ring_fd : -1;
#else
        return -1;
#endif
    }
    // False when the ring holds kEntries sends already: submit first.
    bool add([[maybe_unused]] int fd, [[maybe_unused]] const QByteArray &bytes, [[maybe_unused]] quint64 key)
    {
#ifdef NUVRIX_HAVE_URING
        io_uring_sqe *sqe = io_uring_get_sqe(&mRing);
        if (!sqe)
            return false;
        io_uring_prep_send(sqe, fd, bytes.constData(), size_t(bytes.size()), MSG_DONTWAIT | MSG_NOSIGNAL);
        io_uring_sqe_set_data64(sqe, key);
        return true;
#else
        return false;
#endif
    }
    // Submits what was added; then hands every completion there is to `done(key, result)`.
    template <class Done>
    void submit(Done done)
    {
#ifdef NUVRIX_HAVE_URING
        if (!mReady)
            return;
        if (io_uring_sq_ready(&mRing) > 0)
            io_uring_submit(&mRing);
        io_uring_cqe *cqe;
        unsigned head, seen = 0;
        io_uring_for_each_cqe(&mRing, head, cqe)
        {
            done(io_uring_cqe_get_data64(cqe), cqe->res);
            ++seen;
        }
        io_uring_cq_advance(&mRing, seen);
#else
        (void)done;
#endif
    }

private:
    bool mReady = false;
#ifdef NUVRIX_HAVE_URING
    io_uring mRing{};
#endif
};

} // namespace

class Fanout::Writer
{
public:
    Writer(Sink sink, bool ring)
        : mSink(std::move(sink)), mWantRing(ring), mPoll(::epoll_create1(EPOLL_CLOEXEC)), mWake(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC))
    {
        epoll_event e{};
        e.events = EPOLLIN;
        e.data.u64 = kWakeKey;
        ::epoll_ctl(mPoll, EPOLL_CTL_ADD, mWake, &e);
        mThread = std::thread([this] { run(); });
    }
    ~Writer()
    {
        mStop = true;
        wake();
        mThread.join();
        for (auto &[id, c] : mConnections)
            ::close(c->fd);
        for (const Command &command : mInbox)
            if (command.connection)
                ::close(command.connection->fd);
        ::close(mWake);
        ::close(mPoll);
    }

    void post(Command command)
    {
        if (command.kind == Command::Kind::Add)
            ++mCount;
        {
            const std::lock_guard<std::mutex> lock(mMutex);
            mInbox.push_back(std::move(command));
        }
        wake();
    }
    int count() const { return mCount.load(); }

private:
    void wake()
    {
        const quint64 one = 1;
        [[maybe_unused]] const ssize_t n = ::write(mWake, &one, sizeof one);
    }

    void run()
    {
        if (mWantRing && mRing.open()) {
            epoll_event e{};
            e.events = EPOLLIN;
            e.data.u64 = kRingKey;
            ::epoll_ctl(mPoll, EPOLL_CTL_ADD, mRing.descriptor(), &e);
        }
        epoll_event events[256];
        while (!mStop) {
            const int n = ::epoll_wait(mPoll, events, 256, -1);
            for (int i = 0; i < n; ++i) {
                if (events[i].data.u64 == kWakeKey)
                    takeCommands();
                else if (events[i].data.u64 == kRingKey)
                    completeSends();
                else
                    serve(events[i].data.u64, events[i].events);
            }
        }
    }

    void takeCommands()
    {
        quint64 ignored;
        [[maybe_unused]] const ssize_t n = ::read(mWake, &ignored, sizeof ignored);
        std::vector<Command> commands;
        {
            const std::lock_guard<std::mutex> lock(mMutex);
            commands.swap(mInbox);
        }
        for (Command &command : commands) {
            switch (command.kind) {
            case Command::Kind::Add: adopt(std::move(command.connection), command.greeting); break;
            case Command::Kind::Publish: publish(command.group, command.plain, command.chunked); break;
            case Command::Kind::CloseAll: closeAll(); command.done->set_value(); break;
            }
        }
    }

    void adopt(std::unique_ptr<Connection> c, const QByteArray &greeting)
    {
        const int one = 1;
        ::setsockopt(c->fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        ::fcntl(c->fd, F_SETFL, ::fcntl(c->fd, F_GETFL) | O_NONBLOCK);
        epoll_event e{};
        e.events = EPOLLIN | EPOLLRDHUP;
        e.data.u64 = c->id;
        ::epoll_ctl(mPoll, EPOLL_CTL_ADD, c->fd, &e);
        Connection *raw = c.get();
        mGroups[c->group].push_back(raw);
        mConnections.emplace(c->id, std::move(c));
        if (!write(*raw, greeting))
            drop(*raw, Event::Kind::Left, {});
    }

    void publish(int group, const QByteArray &plain, const QByteArray &chunked)
    {
        const auto it = mGroups.find(group);
        if (it == mGroups.end())
            return;
        std::vector<quint64> gone;
        for (Connection *c : it->second) {
            const QByteArray &bytes = c->chunked ? chunked : plain;
            if (!mRing.ready() || !c->queue.empty() || c->sending) {
                if (!write(*c, bytes))
                    gone.push_back(c->id);
                continue;
            }
            if (!mRing.add(c->fd, bytes, c->id)) {
                settleSends(&gone);
                // Still full when the kernel would not take the batch: this one goes alone.
                if (!mRing.add(c->fd, bytes, c->id)) {
                    if (!write(*c, bytes))
                        gone.push_back(c->id);
                    continue;
                }
            }
            c->sending = true;
            mInflight.emplace(c->id, bytes);
        }
        settleSends(&gone);
        dropAll(gone);
    }

    // Submits the sends added to the ring and takes the outcome of those completed.
    void settleSends(std::vector<quint64> *gone)
    {
        mRing.submit([&](quint64 id, int result) {
            auto bytes = mInflight.extract(id);
            const auto it = mConnections.find(id);
            if (!bytes.empty() && it != mConnections.end() && !settle(*it->second, bytes.mapped(), result))
                gone->push_back(id);
        });
    }

    void completeSends()
    {
        std::vector<quint64> gone;
        settleSends(&gone);
        dropAll(gone);
    }

    // The outcome of a send from the ring: what the kernel did not take goes first in the
    // queue. False as for write().
    bool settle(Connection &c, const QByteArray &bytes, int result)
    {
        c.sending = false;
        if (result < 0 && result != -EAGAIN && result != -EINTR) {
            ::close(std::exchange(c.fd, -1));
            return false;
        }
        const qint64 left = bytes.size() - std::max(0, result);
        if (left > 0) {
            if (c.queued + left > c.limit)
                return false;
            c.queue.push_front({bytes, bytes.size() - left});
            c.queued += left;
        }
        if (!c.queue.empty())
            watchOutput(c, true);
        return true;
    }

    void dropAll(std::vector<quint64> &gone)
    {
        std::sort(gone.begin(), gone.end());
        gone.erase(std::unique(gone.begin(), gone.end()), gone.end());
        for (const quint64 id : gone) {
            const auto it = mConnections.find(id);
            if (it == mConnections.end())
                continue;
            Connection &c = *it->second;
            if (c.fd < 0)
                drop(c, Event::Kind::Left, {});
            else
                drop(c, Event::Kind::Dropped, "it does not read; its queue is full");
        }
    }

    // False when the client has to go: its queue would overflow, or the connection broke
    // (then its descriptor is already closed and set to -1).
    bool write(Connection &c, const QByteArray &bytes)
    {
        qsizetype sent = 0;
        if (c.queue.empty() && !c.sending) {
            const ssize_t n = ::send(c.fd, bytes.constData(), size_t(bytes.size()), MSG_DONTWAIT | MSG_NOSIGNAL);
            if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) {
                ::close(std::exchange(c.fd, -1));
                return false;
            }
            sent = std::max<qsizetype>(0, n);
            if (sent == bytes.size())
                return true;
        }
        const qint64 left = bytes.size() - sent;
        if (c.queued + left > c.limit)
            return false;
        c.queue.push_back({bytes, sent});
        c.queued += left;
        if (!c.sending)  // else once the ring's send completes
            watchOutput(c, true);
        return true;
    }

    void watchOutput(Connection &c, bool on)
    {
        if (c.watchingOutput == on)
            return;
        c.watchingOutput = on;
        epoll_event e{};
        e.events = EPOLLIN | EPOLLRDHUP | (on ? quint32(EPOLLOUT) : 0u);
        e.data.u64 = c.id;
        ::epoll_ctl(mPoll, EPOLL_CTL_MOD, c.fd, &e);
    }

    void serve(quint64 id, quint32 events)
    {
        const auto it = mConnections.find(id);
        if (it == mConnections.end())
            return;
        Connection &c = *it->second;
        if ((events & EPOLLOUT) && !flushQueue(c))
            return drop(c, Event::Kind::Left, {});
        if ((events & (EPOLLIN | EPOLLRDHUP | EPOLLHUP | EPOLLERR)) && !readLines(c))
            return drop(c, Event::Kind::Left, {});
    }

    bool flushQueue(Connection &c)
    {
        if (c.sending)
            return true;
        while (!c.queue.empty()) {
            Piece &p = c.queue.front();
            const ssize_t n = ::send(c.fd, p.bytes.constData() + p.offset, size_t(p.bytes.size() - p.offset), MSG_DONTWAIT | MSG_NOSIGNAL);
            if (n < 0)
                return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR;
            p.offset += n;
            c.queued -= n;
            if (p.offset < p.bytes.size())
                return true;
            c.queue.pop_front();
        }
        watchOutput(c, false);
        return true;
    }

    // False when the client closed or the connection broke.
    bool readLines(Connection &c)
    {
        char buffer[4096];
        for (;;) {
            const ssize_t n = ::recv(c.fd, buffer, sizeof buffer, MSG_DONTWAIT);
            if (n == 0)
                return false;
            if (n < 0)
                return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR;
            c.lines.append(buffer, n);
            for (qsizetype end; (end = c.lines.indexOf('\n')) >= 0;) {
                const QByteArray line = c.lines.left(end).trimmed();
                c.lines.remove(0, end + 1);
                if (line.startsWith('$'))
                    mSink({Event::Kind::Line, c.id, line});
            }
            // A client that sends no line feed must not make us hold its bytes.
            if (c.lines.size() > kMaxLineBytes)
                c.lines.clear();
        }
    }

    void drop(Connection &c, Event::Kind kind, const QByteArray &why)
    {
        const quint64 id = c.id;
        auto &members = mGroups[c.group];
        members.erase(std::find(members.begin(), members.end(), &c));
        if (c.fd >= 0) {
            ::epoll_ctl(mPoll, EPOLL_CTL_DEL, c.fd, nullptr);
            ::close(c.fd);
        }
        mConnections.erase(id);
        --mCount;
        mSink({kind, id, why});
    }

    void closeAll()
    {
        static const QByteArray kEnd("0\r\n\r\n");
        // Sends are completed at once; a late one gets a moment, not a wait.
        for (int i = 0; !mInflight.empty() && i < 100; ++i) {
            completeSends();
            if (!mInflight.empty())
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        for (auto &[id, c] : mConnections) {
            if (c->chunked)
                write(*c, kEnd);
            flushQueue(*c);
            ::shutdown(c->fd, SHUT_WR);
            ::close(c->fd);
        }
        mConnections.clear();
        mGroups.clear();
        mCount = 0;
    }

    Sink mSink;
    bool mWantRing;
    std::unordered_map<quint64, QByteArray> mInflight;  // what the ring's sends read, by client
    SendRing mRing;  // after mInflight: gone before the buffers it may still read
    int mPoll;
    int mWake;
    std::thread mThread;
    std::atomic<bool> mStop{false};
    std::atomic<int> mCount{0};
    std::mutex mMutex;
    std::vector<Command> mInbox;
    std::unordered_map<quint64, std::unique_ptr<Connection>> mConnections;
    std::unordered_map<int, std::vector<Connection *>> mGroups;
};

Fanout::Fanout(int threads, Sink sink, bool ring)
{
    for (int i = 0; i < std::max(1, threads); ++i)
        mWriters.push_back(std::make_unique<Writer>(sink, ring));
}

Fanout::~Fanout() = default;

QByteArray Fanout::chunk(const QByteArray &bytes)
{
    return QByteArray::number(bytes.size(), 16) + "\r\n" + bytes + "\r\n";
}

void Fanout::add(quint64 client, int group, int descriptor, bool chunked, qint64 limit, const QByteArray &greeting)
{
    Command command{Command::Kind::Add, {}, greeting, group, {}, {}, {}};
    command.connection = std::make_unique<Connection>(Connection{client, group, descriptor, chunked, limit, {}, 0, false, false, {}});
    // To the writer with the fewest clients, so that both cores share every epoch's sends
    // evenly however clients came and went.
    const auto least = std::min_element(mWriters.begin(), mWriters.end(),
                                        [](const auto &a, const auto &b) { return a->count() < b->count(); });
    (*least)->post(std::move(command));
}

void Fanout::publish(int group, const QByteArray &bytes)
{
    const QByteArray chunked = chunk(bytes);
    for (const auto &writer : mWriters)
        writer->post({Command::Kind::Publish, {}, {}, group, bytes, chunked, {}});
}

void Fanout::closeAll()
{
    std::vector<std::future<void>> pending;
    for (const auto &writer : mWriters) {
        auto done = std::make_shared<std::promise<void>>();
        pending.push_back(done->get_future());
        writer->post({Command::Kind::CloseAll, {}, {}, 0, {}, {}, done});
    }
    for (auto &f : pending)
        f.wait();
}

int Fanout::clientCount() const
{
    int count = 0;
    for (const auto &writer : mWriters)
        count += writer->count();
    return count;
}
