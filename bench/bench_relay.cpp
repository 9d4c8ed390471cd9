// Fan-out of rtcm3relay's caster (a program, not a test): one capture replayed at 1 Hz into the
// caster's input mountpoints, read back by many NTRIP clients (half version 1, half version 2)
// on loopback. For each set-up it states whether every client received every byte in order,
// the added latency from the end of an epoch's write into the input to its last byte at a
// client (p50, p99, max), the caster's memory per client and its CPU time (per epoch and per
// client and epoch). rtklib's str2str, when installed, runs the 32-client set-up beside it.
// The clients read lazily, half an epoch after each write: the kernel stamps each arrival, so
// the reader need not compete with the caster for the cores while an epoch goes out.
//
//   bench_relay [--capture FILE] [--seconds N] [--only NAME]
// The program under test writes its messages to bench_relay.log in the current folder.

#include "RelayFrame.h"

#include <QtCore/QByteArray>
#include <QtCore/QFile>

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <ctime>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <string>
#include <sys/epoll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

struct Setup
{
    const char *name;
    bool str2str;
    int mounts;
    int clientsPerMount;
    bool stuckClient;  // one more client that never reads
};

std::vector<QByteArray> gEpochs;  // the capture cut where the MSM epoch changes
int gSeconds = 10;

qint64 now()
{
    return monotonicNs();
}

// The clock of the kernel's receive stamps.
qint64 realNow()
{
    timespec t;
    ::clock_gettime(CLOCK_REALTIME, &t);
    return qint64(t.tv_sec) * 1000000000 + t.tv_nsec;
}

void sleepUntil(qint64 monotonic)
{
    const qint64 wait = monotonic - now();
    if (wait <= 0)
        return;
    const timespec t{time_t(wait / 1000000000), long(wait % 1000000000)};
    ::nanosleep(&t, nullptr);
}

struct Injection
{
    qint64 real = 0;  // when the epoch's write into the input returned
};

std::vector<QByteArray> epochsOf(const QByteArray &capture)
{
    FrameSplitter splitter;
    std::vector<QByteArray> epochs(1);
    qint64 last = -1;
    int system = -1;
    for (const Frame &f : splitter.feed(capture, 0)) {
        // Systems count their epochs in their own time scales: follow the first one met.
        if (system < 0)
            system = msmSystem(f.type);
        const qint64 epoch = msmSystem(f.type) == system ? msmEpochMs(f.bytes) : -1;
        if (epoch >= 0 && last >= 0 && epoch != last && !epochs.back().isEmpty())
            epochs.emplace_back();
        if (epoch >= 0)
            last = epoch;
        epochs.back() += f.bytes;
    }
    return epochs;
}

int listenLoopback(int *port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(fd, reinterpret_cast<sockaddr *>(&a), sizeof a);
    ::listen(fd, 1024);
    socklen_t size = sizeof a;
    ::getsockname(fd, reinterpret_cast<sockaddr *>(&a), &size);
    *port = ntohs(a.sin_port);
    return fd;
}

int freePort()
{
    int port = 0;
    ::close(listenLoopback(&port));
    return port;
}

pid_t spawn(const std::vector<std::string> &args)
{
    const pid_t pid = ::fork();
    if (pid == 0) {
        std::vector<char *> argv;
        for (const std::string &a : args)
            argv.push_back(const_cast<char *>(a.c_str()));
        argv.push_back(nullptr);
        const int null = ::open("/dev/null", O_WRONLY);
        const int log = ::open("bench_relay.log", O_WRONLY | O_CREAT | O_TRUNC, 0644);
        ::dup2(log >= 0 ? log : null, 2);
        ::dup2(null, 1);
        ::execvp(argv[0], argv.data());
        ::_exit(127);
    }
    return pid;
}

// CPU seconds of every thread of a process (str2str runs one per stream), in nanoseconds of
// the scheduler's accounting: clock ticks are too coarse for a caster that idles.
double cpuSeconds(pid_t pid)
{
    double seconds = 0;
    const std::string tasks = "/proc/" + std::to_string(pid) + "/task";
    DIR *dir = ::opendir(tasks.c_str());
    while (dir) {
        const dirent *entry = ::readdir(dir);
        if (!entry)
            break;
        if (entry->d_name[0] == '.')
            continue;
        FILE *f = std::fopen((tasks + "/" + entry->d_name + "/schedstat").c_str(), "r");
        unsigned long long ns = 0;
        if (f && std::fscanf(f, "%llu", &ns) == 1)
            seconds += double(ns) / 1e9;
        if (f)
            std::fclose(f);
    }
    if (dir)
        ::closedir(dir);
    return seconds;
}

// Resident KiB of a process.
long rssKiB(pid_t pid)
{
    FILE *f = std::fopen(("/proc/" + std::to_string(pid) + "/status").c_str(), "r");
    long kib = 0;
    char line[256];
    while (f && std::fgets(line, sizeof line, f))
        if (std::sscanf(line, "VmRSS: %ld", &kib) == 1)
            break;
    if (f)
        std::fclose(f);
    return kib;
}

struct Client
{
    int fd = -1;
    bool v2 = false;
    bool streaming = false;
    bool broken = false;
    std::string head;     // answer header, then a chunk size line
    long chunkLeft = -1;  // -1: a size line is due; -2: the CRLF after a chunk
    size_t offset = 0;    // stream bytes received and matched
    size_t epoch = 0;     // next epoch whose end is awaited
};

struct Result
{
    int clients = 0, complete = 0;
    std::vector<double> latencyMs;  // to the bytes' arrival at the client's socket
    double cpuS = 0, wallS = 0, deliveredMB = 0;
    long rssPerClientB = 0;
};

class Swarm
{
public:
    Swarm(const std::vector<qint64> &ends, const QByteArray &stream, std::vector<Injection> &injected)
        : mEnds(ends), mStream(stream), mInjected(injected), mPoll(::epoll_create1(0)) {}
    ~Swarm()
    {
        for (Client &c : mClients)
            ::close(c.fd);
        ::close(mPoll);
    }

    void connectClient(int port, const std::string &mount, bool v2, bool reads)
    {
        Client c;
        c.v2 = v2;
        c.fd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        a.sin_port = htons(uint16_t(port));
        if (::connect(c.fd, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0) {
            c.broken = true;
        }
        const std::string request = v2 ? "GET /" + mount + " HTTP/1.1\r\nHost: 127.0.0.1\r\nNtrip-Version: Ntrip/2.0\r\nUser-Agent: NTRIP bench\r\n\r\n"
                                       : "GET /" + mount + " HTTP/1.0\r\nUser-Agent: NTRIP bench\r\n\r\n";
        if (::write(c.fd, request.data(), request.size()) < 0)
            c.broken = true;
        ::fcntl(c.fd, F_SETFL, O_NONBLOCK);
        const int on = 1;
        ::setsockopt(c.fd, SOL_SOCKET, SO_TIMESTAMPNS, &on, sizeof on);
        if (!reads) {
            mStuck.push_back(c.fd);
            return;
        }
        mClients.push_back(c);
    }
    void arm()
    {
        for (size_t i = 0; i < mClients.size(); ++i) {
            epoll_event e{};
            e.events = EPOLLIN;
            e.data.u64 = i;
            ::epoll_ctl(mPoll, EPOLL_CTL_ADD, mClients[i].fd, &e);
        }
    }
    // Stops watching the clients: from now on they are read only when drain() is called.
    void quiet()
    {
        for (const Client &c : mClients)
            ::epoll_ctl(mPoll, EPOLL_CTL_DEL, c.fd, nullptr);
    }
    // Reads what every client has received so far.
    void drain()
    {
        for (Client &c : mClients)
            if (!c.broken)
                readClient(c);
    }
    // Serves readable clients until `untilNs`.
    void run(qint64 untilNs)
    {
        epoll_event events[256];
        for (qint64 t; (t = now()) < untilNs;) {
            const int n = ::epoll_wait(mPoll, events, 256, int(std::max<qint64>(1, (untilNs - t) / 1000000)));
            for (int i = 0; i < n; ++i)
                readClient(mClients[events[i].data.u64]);
        }
    }
    int streamingCount() const
    {
        return int(std::count_if(mClients.begin(), mClients.end(), [](const Client &c) { return c.streaming; }));
    }
    bool allDone(size_t bytes) const
    {
        return std::all_of(mClients.begin(), mClients.end(), [bytes](const Client &c) { return c.broken || c.offset >= bytes; });
    }
    void collect(Result *r, size_t bytes) const
    {
        r->clients = int(mClients.size());
        for (const Client &c : mClients)
            r->complete += !c.broken && c.offset == bytes;
        r->latencyMs = mLatencyMs;
    }

private:
    // The kernel stamps when the bytes reached the client's socket: this reader visits a
    // thousand sockets in turn, and its own pace is not the caster's latency.
    void readClient(Client &c)
    {
        char buffer[65536];
        char control[256];
        for (;;) {
            iovec part{buffer, sizeof buffer};
            msghdr message{};
            message.msg_iov = &part;
            message.msg_iovlen = 1;
            message.msg_control = control;
            message.msg_controllen = sizeof control;
            const ssize_t n = ::recvmsg(c.fd, &message, MSG_DONTWAIT);
            if (n <= 0) {
                if (n == 0 || (errno != EAGAIN && errno != EINTR)) {
                    c.broken = true;
                    ::epoll_ctl(mPoll, EPOLL_CTL_DEL, c.fd, nullptr);
                }
                return;
            }
            qint64 arrival = realNow();
            for (cmsghdr *m = CMSG_FIRSTHDR(&message); m; m = CMSG_NXTHDR(&message, m)) {
                if (m->cmsg_level == SOL_SOCKET && m->cmsg_type == SCM_TIMESTAMPNS) {
                    timespec t;
                    std::memcpy(&t, CMSG_DATA(m), sizeof t);
                    arrival = qint64(t.tv_sec) * 1000000000 + t.tv_nsec;
                }
            }
            for (ssize_t i = 0; i < n && !c.broken;)
                i += take(c, buffer + i, size_t(n - i), arrival);
        }
    }
    // Consumes bytes of one client; returns how many.
    size_t take(Client &c, const char *p, size_t n, qint64 arrival)
    {
        if (!c.streaming) {
            c.head.push_back(*p);
            const char *end = c.v2 ? "\r\n\r\n" : "\r\n";
            if (c.head.size() >= std::strlen(end) && c.head.compare(c.head.size() - std::strlen(end), std::strlen(end), end) == 0) {
                c.broken = c.head.find(" 200 OK") == std::string::npos;
                c.streaming = true;
                c.head.clear();
            }
            if (c.head.size() > 4096)
                c.broken = true;
            return 1;
        }
        if (c.v2 && c.chunkLeft < 0) {
            c.head.push_back(*p);
            if (c.head.size() >= 2 && c.head.compare(c.head.size() - 2, 2, "\r\n") == 0) {
                c.chunkLeft = c.chunkLeft == -2 ? -1 : std::strtol(c.head.c_str(), nullptr, 16);
                c.head.clear();
            }
            return 1;
        }
        size_t take = n;
        if (c.v2)
            take = std::min<size_t>(n, size_t(c.chunkLeft));
        take = std::min(take, size_t(mStream.size()) - c.offset);
        if (take == 0 || std::memcmp(p, mStream.constData() + c.offset, take) != 0) {
            c.broken = true;
            return n;
        }
        c.offset += take;
        if (c.v2 && (c.chunkLeft -= long(take)) == 0)
            c.chunkLeft = -2;
        while (c.epoch < mEnds.size() && qint64(c.offset) >= mEnds[c.epoch]) {
            if (mInjected[c.epoch].real > 0)
                mLatencyMs.push_back(double(arrival - mInjected[c.epoch].real) / 1e6);
            ++c.epoch;
        }
        return take;
    }

    const std::vector<qint64> &mEnds;
    const QByteArray &mStream;
    std::vector<Injection> &mInjected;
    int mPoll;
    std::vector<Client> mClients;
    std::vector<int> mStuck;
    std::vector<double> mLatencyMs;
};

double percentile(std::vector<double> v, double p)
{
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    return v[std::min(v.size() - 1, size_t(p * double(v.size())))];
}

Result run(const Setup &s, const std::string &relay)
{
    int feedPort = 0;
    const int feedListen = listenLoopback(&feedPort);
    const int casterPort = freePort();
    std::vector<std::string> args;
    if (s.str2str) {
        args = {"str2str", "-in", "tcpcli://127.0.0.1:" + std::to_string(feedPort), "-out",
                "ntripc://:" + std::to_string(casterPort) + "/M0"};
    } else {
        args = {relay};
        for (int m = 0; m < s.mounts; ++m)
            args.push_back("tcp://127.0.0.1:" + std::to_string(feedPort) + "?mount=M" + std::to_string(m));
        args.insert(args.end(), {"--caster", "127.0.0.1:" + std::to_string(casterPort)});
    }
    const pid_t pid = spawn(args);
    std::vector<int> feeds;
    while (int(feeds.size()) < s.mounts) {
        const int fd = ::accept(feedListen, nullptr, nullptr);
        if (fd < 0)
            break;
        feeds.push_back(fd);
    }
    ::usleep(300000);
    // The stream the clients should see: the epochs fed, in order.
    QByteArray stream;
    std::vector<qint64> ends;
    std::vector<Injection> injected(static_cast<size_t>(gSeconds));
    for (int k = 0; k < gSeconds; ++k) {
        stream += gEpochs[size_t(k) % gEpochs.size()];
        ends.push_back(stream.size());
    }
    const long rssBefore = rssKiB(pid);
    Swarm swarm(ends, stream, injected);
    int total = 0;
    for (int m = 0; m < s.mounts; ++m)
        for (int c = 0; c < s.clientsPerMount; ++c, ++total) {
            swarm.connectClient(casterPort, "M" + std::to_string(m), total % 2 == 1 && !s.str2str, true);
            if (total % 500 == 499)
                ::usleep(20000);  // lets the caster accept: the listen queue is finite
        }
    if (s.stuckClient)
        swarm.connectClient(casterPort, "M0", false, false);
    swarm.arm();
    const qint64 waitUntil = now() + 30000000000LL;
    while (swarm.streamingCount() < total && now() < waitUntil)
        swarm.run(now() + 100000000);
    const long rssAfter = rssKiB(pid);
    Result r;
    r.rssPerClientB = total > 0 ? (rssAfter - rssBefore) * 1024 / total : 0;
    const double cpu0 = cpuSeconds(pid);
    swarm.quiet();
    const qint64 start = now();
    for (int k = 0; k < gSeconds; ++k) {
        const qint64 due = start + qint64(k) * 1000000000;
        sleepUntil(due);
        const QByteArray &epoch = gEpochs[size_t(k) % gEpochs.size()];
        for (const int fd : feeds)
            if (::write(fd, epoch.constData(), size_t(epoch.size())) != epoch.size())
                std::fprintf(stderr, "short write to the input\n");
        injected[size_t(k)] = {realNow()};
        sleepUntil(due + 500000000);
        swarm.drain();
    }
    const qint64 drainUntil = now() + 5000000000LL;
    while (!swarm.allDone(size_t(stream.size())) && now() < drainUntil) {
        sleepUntil(now() + 50000000);
        swarm.drain();
    }
    r.wallS = double(now() - start) / 1e9;
    r.cpuS = cpuSeconds(pid) - cpu0;
    swarm.collect(&r, size_t(stream.size()));
    r.deliveredMB = double(r.complete) * double(stream.size()) / 1e6;
    ::kill(pid, SIGTERM);
    ::waitpid(pid, nullptr, 0);
    for (const int fd : feeds)
        ::close(fd);
    ::close(feedListen);
    return r;
}

} // namespace

int main(int argc, char **argv)
{
    QString capture = QStringLiteral(NUVRIX_SAMPLES_DIR "/rtklib/GMSD7_20121014.rtcm3");
    std::string relay = RTCM3RELAY;
    std::string only;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string a = argv[i];
        if (a == "--capture")
            capture = QString::fromLocal8Bit(argv[i + 1]);
        else if (a == "--seconds")
            gSeconds = std::max(2, std::atoi(argv[i + 1]));
        else if (a == "--only")
            only = argv[i + 1];
    }
    QFile file(capture);
    if (!file.open(QIODevice::ReadOnly)) {
        file.setFileName(QStringLiteral(NUVRIX_SAMPLE_STREAM));
        file.open(QIODevice::ReadOnly);
    }
    gEpochs = epochsOf(file.readAll());
    rlimit limit{};
    ::getrlimit(RLIMIT_NOFILE, &limit);
    limit.rlim_cur = limit.rlim_max;
    ::setrlimit(RLIMIT_NOFILE, &limit);
    std::signal(SIGPIPE, SIG_IGN);
    std::printf("capture %s: %zu epochs, %lld bytes per epoch on average; %d s at 1 Hz; descriptors %llu\n",
                qPrintable(file.fileName()), gEpochs.size(),
                gEpochs.empty() ? 0LL : (long long)(file.size() / qint64(gEpochs.size())), gSeconds,
                (unsigned long long)limit.rlim_cur);
    const Setup setups[] = {
        {"relay-32", false, 1, 32, false},       {"str2str-32", true, 1, 32, false},
        {"relay-1000", false, 1, 1000, false},   {"relay-1000+stuck", false, 1, 1000, true},
        {"relay-200x5", false, 200, 5, false},   {"relay-10000", false, 1, 10000, false},
    };
    std::printf("%-18s %8s %9s %9s %9s %9s %10s %9s %12s %13s %10s\n", "set-up", "clients", "complete", "p50 ms",
                "p99 ms", "max ms", "B/client", "CPU %", "CPU ms/epoch", "CPU us/client", "CPU ms/MB");
    for (const Setup &s : setups) {
        if (!only.empty() && only != s.name)
            continue;
        const Result r = run(s, relay);
        const double cpuPerEpochMs = 1000 * r.cpuS / gSeconds;
        std::printf("%-18s %8d %9d %9.3f %9.3f %9.3f %10ld %9.1f %12.2f %13.2f %10.2f\n", s.name, r.clients,
                    r.complete, percentile(r.latencyMs, 0.5), percentile(r.latencyMs, 0.99),
                    percentile(r.latencyMs, 1.0), r.rssPerClientB, 100 * r.cpuS / r.wallS, cpuPerEpochMs,
                    r.clients > 0 ? 1000 * cpuPerEpochMs / r.clients : 0,
                    r.deliveredMB > 0 ? 1000 * r.cpuS / r.deliveredMB : 0);
        std::fflush(stdout);
    }
    return 0;
}
