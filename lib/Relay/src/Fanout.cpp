#include "Fanout.h"

#include <algorithm>
#include <atomic>
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

namespace {

constexpr qsizetype kMaxLineBytes = 1024;
constexpr quint64 kWakeKey = ~quint64(0);

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

} // namespace

class Fanout::Writer
{
public:
    explicit Writer(Sink sink) : mSink(std::move(sink)), mPoll(::epoll_create1(EPOLL_CLOEXEC)), mWake(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC))
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
        epoll_event events[256];
        while (!mStop) {
            const int n = ::epoll_wait(mPoll, events, 256, -1);
            for (int i = 0; i < n; ++i) {
                if (events[i].data.u64 == kWakeKey)
                    takeCommands();
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
        ++mCount;
        if (!write(*raw, greeting))
            drop(*raw, Event::Kind::Left, {});
    }

    void publish(int group, const QByteArray &plain, const QByteArray &chunked)
    {
        const auto it = mGroups.find(group);
        if (it == mGroups.end())
            return;
        std::vector<Connection *> full;
        for (Connection *c : it->second)
            if (!write(*c, c->chunked ? chunked : plain))
                full.push_back(c);
        for (Connection *c : full) {
            if (c->fd < 0)
                drop(*c, Event::Kind::Left, {});
            else
                drop(*c, Event::Kind::Dropped, "it does not read; its queue is full");
        }
    }

    // False when the client has to go: its queue would overflow, or the connection broke
    // (then its descriptor is already closed and set to -1).
    bool write(Connection &c, const QByteArray &bytes)
    {
        qsizetype sent = 0;
        if (c.queue.empty()) {
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

Fanout::Fanout(int threads, Sink sink)
{
    for (int i = 0; i < std::max(1, threads); ++i)
        mWriters.push_back(std::make_unique<Writer>(sink));
}

Fanout::~Fanout() = default;

QByteArray Fanout::chunk(const QByteArray &bytes)
{
    return QByteArray::number(bytes.size(), 16) + "\r\n" + bytes + "\r\n";
}

void Fanout::add(quint64 client, int group, int descriptor, bool chunked, qint64 limit, const QByteArray &greeting)
{
    Command command{Command::Kind::Add, {}, greeting, group, {}, {}, {}};
    command.connection = std::make_unique<Connection>(Connection{client, group, descriptor, chunked, limit, {}, 0, false, {}});
    mWriters[mNext++ % mWriters.size()]->post(std::move(command));
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
