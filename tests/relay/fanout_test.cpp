// The caster's writers on a loopback connection whose buffers are tiny: what the kernel refuses
// waits in the client's queue and still arrives whole and in order, plain or chunked, sent one
// by one or batched through the kernel's ring; a client whose queue would overflow is closed
// and reported, having received a prefix of the stream.

#include "Fanout.h"

#include <gtest/gtest.h>

#include <mutex>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// Reads until the peer closes or `enough` bytes came, waiting at most 10 s for each piece.
QByteArray readAll(int fd, qsizetype enough)
{
    QByteArray bytes;
    char buffer[4096];
    pollfd p{fd, POLLIN, 0};
    while (bytes.size() < enough && ::poll(&p, 1, 10000) > 0) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n <= 0)
            break;
        bytes.append(buffer, n);
    }
    return bytes;
}

// A TCP connection on loopback with small buffers on both ends, so that the kernel takes part
// of a write and refuses the rest: [0] the caster's end, [1] the client's.
bool loopbackPair(int pair[2])
{
    const int listener = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof a;
    const int small = 4096;
    pair[1] = ::socket(AF_INET, SOCK_STREAM, 0);
    ::setsockopt(pair[1], SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
    const bool ok = ::bind(listener, reinterpret_cast<sockaddr *>(&a), sizeof a) == 0 && ::listen(listener, 1) == 0
        && ::getsockname(listener, reinterpret_cast<sockaddr *>(&a), &size) == 0
        && ::connect(pair[1], reinterpret_cast<sockaddr *>(&a), sizeof a) == 0
        && (pair[0] = ::accept(listener, nullptr, nullptr)) >= 0;
    ::close(listener);
    if (ok)
        ::setsockopt(pair[0], SOL_SOCKET, SO_SNDBUF, &small, sizeof small);
    return ok;
}

TEST(Fanout, QueuesWhatTheKernelRefusesAndDropsAClientWhoseQueueOverflows)
{
    const struct
    {
        bool ring;
        bool chunked;
        qint64 limit;
        bool dropped;
    } cases[] = {{false, false, 4 << 20, false}, {false, true, 4 << 20, false}, {false, false, 16 * 1024, true},
                 {false, true, 16 * 1024, true},  {true, false, 4 << 20, false},  {true, true, 4 << 20, false},
                 {true, false, 16 * 1024, true},  {true, true, 16 * 1024, true}};
    for (const auto &c : cases) {
        SCOPED_TRACE(testing::Message() << "ring " << c.ring << ", chunked " << c.chunked << ", limit " << c.limit);
        std::mutex mutex;
        std::vector<Fanout::Event> events;
        Fanout fanout(2, [&](const Fanout::Event &e) {
            const std::lock_guard<std::mutex> lock(mutex);
            events.push_back(e);
        }, c.ring);
        int pair[2];
        ASSERT_TRUE(loopbackPair(pair));
        fanout.add(7, 3, pair[0], c.chunked, c.limit, "HELLO\r\n");
        fanout.publish(4, "not this group");
        QByteArray expected = "HELLO\r\n";
        for (int i = 0; i < 300; ++i) {
            // The first more than the kernel takes at once: its rest is the first thing queued.
            const QByteArray batch(i == 0 ? 256 * 1024 : 100 + i * 37 % 6000, char('a' + i % 26));
            fanout.publish(3, batch);
            expected += c.chunked ? Fanout::chunk(batch) : batch;
        }
        // Nobody reads yet: an overflowing queue shows before the first read.
        for (int i = 0; c.dropped && i < 1000; ++i) {
            {
                const std::lock_guard<std::mutex> lock(mutex);
                if (!events.empty())
                    break;
            }
            ::usleep(10000);
        }
        const QByteArray received = readAll(pair[1], expected.size());
        ::close(pair[1]);
        if (c.dropped) {
            EXPECT_LT(received.size(), expected.size());
            EXPECT_TRUE(expected.startsWith(received));
        } else {
            EXPECT_TRUE(received == expected) << received.size() << " of " << expected.size();
        }
        fanout.closeAll();
        const std::lock_guard<std::mutex> lock(mutex);
        const bool drop = !events.empty() && events[0].kind == Fanout::Event::Kind::Dropped && events[0].client == 7;
        EXPECT_EQ(drop, c.dropped);
    }
}

} // namespace
