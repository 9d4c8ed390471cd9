#include "RecordingObserver.h"

#include "Message.h"

#include <utility>

RecordingObserver::RecordingObserver(bool keepMessages)
    : mKeepMessages(keepMessages)
{
}

RecordingObserver::~RecordingObserver()
{
    clear();
}

void RecordingObserver::crcError(const AbstractSync *, const FormatInfo *format)
{
    ++mCrcErrors;
    mFormats.append(format);
}

void RecordingObserver::droppedBytes(const AbstractSync *, const FormatInfo *format,
                                     unsigned int count)
{
    mDropped.append(count);
    mFormats.append(format);
}

void RecordingObserver::messageEarly(const MessageSource *, const Message *message)
{
    deliver(Stage::Early, message);
}

void RecordingObserver::message(const MessageSource *, const Message *message)
{
    deliver(Stage::Normal, message);
}

void RecordingObserver::messageLate(const MessageSource *, const Message *message)
{
    deliver(Stage::Late, message);
}

void RecordingObserver::unknownMessage(const MessageSource *, const FormatInfo *format,
                                       const QString &text)
{
    mUnknown.append(text);
    mFormats.append(format);
}

void RecordingObserver::event(const MessageSource *, const NuvrixEvent &event)
{
    mEvents.append(event);
    mFormats.append(event.getFormatInfo());
}

quint64 RecordingObserver::totalDropped() const
{
    quint64 total = 0;
    for (const unsigned int count : mDropped)
        total += count;
    return total;
}

QList<const Message *> RecordingObserver::messages() const
{
    QList<const Message *> result;
    for (const Delivery &delivery : mDeliveries) {
        if (delivery.stage == Stage::Normal)
            result.append(delivery.message);
    }
    return result;
}

void RecordingObserver::deliver(Stage stage, const Message *message)
{
    // One reference per delivery keeps the bookkeeping trivial: clear()
    // releases exactly one per entry.
    if (mKeepMessages && message)
        message->addReference();
    mDeliveries.append(Delivery{stage, message ? message->getMessageInfo() : nullptr, message});
}

void RecordingObserver::clear()
{
    const QList<Delivery> deliveries = std::exchange(mDeliveries, {});
    if (mKeepMessages) {
        for (const Delivery &delivery : deliveries) {
            if (delivery.message)
                delivery.message->removeReference();
        }
    }
    mCrcErrors = 0;
    mDropped.clear();
    mUnknown.clear();
    mEvents.clear();
    mFormats.clear();
}
