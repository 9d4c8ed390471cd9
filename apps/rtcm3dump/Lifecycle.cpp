#include "Lifecycle.h"

#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace lifecycle {

namespace {

volatile std::sig_atomic_t gStop = 0;

extern "C" void requestStop(int)
{
    gStop = 1;
}

} // namespace

void ensureStandardDescriptors()
{
    // Read-only even for standard output: a run whose output was closed must still fail to
    // write rather than print into /dev/null unnoticed.
    const int modes[3] = {O_RDONLY, O_RDONLY, O_WRONLY};
    for (int fd = 0; fd < 3; ++fd) {
        if (::fcntl(fd, F_GETFD) != -1)
            continue;
        const int opened = ::open("/dev/null", modes[fd]);
        if (opened >= 0 && opened != fd) {
            ::dup2(opened, fd);
            ::close(opened);
        }
    }
}

void installSignalHandlers()
{
    struct sigaction ignore = {};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    ::sigaction(SIGPIPE, &ignore, nullptr);

    struct sigaction stop = {};
    stop.sa_handler = requestStop;
    sigemptyset(&stop.sa_mask);
    stop.sa_flags = 0;  // no SA_RESTART: poll, connect and read return with EINTR
    ::sigaction(SIGINT, &stop, nullptr);
    ::sigaction(SIGTERM, &stop, nullptr);
}

bool stopRequested()
{
    return gStop != 0;
}

} // namespace lifecycle
