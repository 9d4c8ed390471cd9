#include "HostCallbackFunctions.h"

#include <QtCore/QElapsedTimer>
#include <QtCore/QMutex>
#include <QtCore/QtDebug>

#include <atomic>
#include <cstdlib>

namespace {

QRecursiveMutex traceMutex;
std::atomic<FILE *> announcedStream{nullptr};

const QElapsedTimer &hostClock()
{
    static const QElapsedTimer clock = [] {
        QElapsedTimer timer;
        timer.start();
        return timer;
    }();
    return clock;
}

// Started when the host library loads, so that trace start and stop times
// count from the start of the host program.
[[maybe_unused]] const bool clockStarted = hostClock().isValid();

void lockTrace(void *mutex)
{
    static_cast<QRecursiveMutex *>(mutex)->lock();
}

void unlockTrace(void *mutex)
{
    static_cast<QRecursiveMutex *>(mutex)->unlock();
}

std::uint64_t millisecondsSinceStart()
{
    return std::uint64_t(hostClock().elapsed());
}

void rememberLogStream(FILE *stream)
{
    announcedStream.store(stream);
}

void reportTraceError(const char *text, int level)
{
    qWarning("trace error (level %d): %s", level, text ? text : "");
}

const char *lookUpEnvironment(const char *name)
{
    return name ? std::getenv(name) : nullptr;
}

void flushBeforeAbort()
{
    std::fflush(nullptr);
}

const HostCallbackFunctions hostCallbacks = {
    &traceMutex,
    lockTrace,
    unlockTrace,
    millisecondsSinceStart,
    rememberLogStream,
    reportTraceError,
    lookUpEnvironment,
    flushBeforeAbort,
};

} // namespace

const HostCallbackFunctions *getCallBackFunctions()
{
    return &hostCallbacks;
}

FILE *getAnnouncedLogStream()
{
    return announcedStream.load();
}
