#pragma once

#include "nuvrixhost_global.h"

#include <QtCore/QString>

class FormatInfo;
class HostObserver;
class Message;
class NuvrixEvent;

// The sending side of decoded messages and events. Each notification goes
// to the source's own observer, or to HostObserver::global() when it has none.
class NUVRIXHOST_EXPORT MessageSource
{
public:
    MessageSource();
    virtual ~MessageSource();

    MessageSource(const MessageSource &) = delete;
    MessageSource &operator=(const MessageSource &) = delete;

    // Borrowed; null returns the source to the global observer.
    void setObserver(HostObserver *observer) { mObserver = observer; }
    HostObserver *getObserver() const { return mObserver; }

    // A message is sent through newMessageEarly, newMessage and newMessageLate,
    // in this order, while the sender holds a reference to it.
    void newMessageEarly(const Message *message);
    void newMessage(const Message *message);
    void newMessageLate(const Message *message);
    void newUnknownMessage(const FormatInfo *format, const QString &text);
    void newEvent(const NuvrixEvent &event);

private:
    HostObserver *observer() const;

    HostObserver *mObserver = nullptr;
};
