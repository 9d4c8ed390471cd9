#include "MessageSource.h"

#include "HostObserver.h"

MessageSource::MessageSource() = default;

MessageSource::~MessageSource() = default;

HostObserver *MessageSource::observer() const
{
    return mObserver ? mObserver : HostObserver::global();
}

void MessageSource::newMessageEarly(const Message *message)
{
    if (HostObserver *target = observer())
        target->messageEarly(this, message);
}

void MessageSource::newMessage(const Message *message)
{
    if (HostObserver *target = observer())
        target->message(this, message);
}

void MessageSource::newMessageLate(const Message *message)
{
    if (HostObserver *target = observer())
        target->messageLate(this, message);
}

void MessageSource::newUnknownMessage(const FormatInfo *format, const QString &text)
{
    if (HostObserver *target = observer())
        target->unknownMessage(this, format, text);
}

void MessageSource::newEvent(const NuvrixEvent &event)
{
    if (HostObserver *target = observer())
        target->event(this, event);
}
