#pragma once

#include "nuvrixhost_global.h"

#include <QtCore/QString>

class AbstractSync;
class FormatInfo;
class Message;
class MessageSource;
class NuvrixEvent;

// Where a host program (or a test) receives what synchronizers and decoders
// report. Each source sends to its own observer if it has one, else to the
// global observer, else nowhere. Every callback does nothing by default.
class NUVRIXHOST_EXPORT HostObserver
{
public:
    virtual ~HostObserver();

    virtual void crcError(const AbstractSync *source, const FormatInfo *format);
    virtual void droppedBytes(const AbstractSync *source, const FormatInfo *format,
                              unsigned int count);

    // A message passes messageEarly, message and messageLate in this order.
    // It is alive only during the calls unless the observer adds a reference.
    virtual void messageEarly(const MessageSource *source, const Message *message);
    virtual void message(const MessageSource *source, const Message *message);
    virtual void messageLate(const MessageSource *source, const Message *message);
    virtual void unknownMessage(const MessageSource *source, const FormatInfo *format,
                                const QString &text);
    virtual void event(const MessageSource *source, const NuvrixEvent &event);

    // The observer of sources that have none of their own; null to stop.
    // The caller keeps ownership and must reset it before the observer goes.
    static void setGlobal(HostObserver *observer);
    static HostObserver *global();
};
