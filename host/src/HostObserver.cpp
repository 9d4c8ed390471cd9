#include "HostObserver.h"

#include <atomic>

namespace {
std::atomic<HostObserver *> globalObserver{nullptr};
}

HostObserver::~HostObserver()
{
    // An observer that forgot to unplug itself must not be called after it is gone.
    HostObserver *self = this;
    globalObserver.compare_exchange_strong(self, nullptr);
}

void HostObserver::crcError(const AbstractSync *, const FormatInfo *) {}
void HostObserver::droppedBytes(const AbstractSync *, const FormatInfo *, unsigned int) {}
void HostObserver::messageEarly(const MessageSource *, const Message *) {}
void HostObserver::message(const MessageSource *, const Message *) {}
void HostObserver::messageLate(const MessageSource *, const Message *) {}
void HostObserver::unknownMessage(const MessageSource *, const FormatInfo *, const QString &) {}
void HostObserver::event(const MessageSource *, const NuvrixEvent &) {}

void HostObserver::setGlobal(HostObserver *observer)
{
    globalObserver.store(observer);
}

HostObserver *HostObserver::global()
{
    return globalObserver.load();
}
