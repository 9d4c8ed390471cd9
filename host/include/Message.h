#pragma once

#include "ReferenceCountedObject.h"

#include <QtCore/QList>
#include <QtCore/QString>

class MessageInfo;

// A message the host received: its description plus, in a format library's
// subclass, the decoded data. Main messages travel by reference counting;
// sub-messages are owned by their parent message.
class NUVRIXHOST_EXPORT Message : public ReferenceCountedObject
{
public:
    explicit Message(const MessageInfo *info);
    ~Message() override;

    const MessageInfo *getMessageInfo() const { return mInfo; }

    void setParentMessage(const Message *parent) { mParent = parent; }
    const Message *getParentMessage() const { return mParent; }

    // The format library's data behind the message (its decoded record), or
    // null; null-safe so that it can be asked of a missing sub-message.
    static const void *getRawRepresentationOf(const Message *message);
    virtual const void *getRawRepresentation() const;

    // Sub-messages as they stand; the default message has none.
    virtual QList<const Message *> getSubMessages() const;
    virtual QList<Message *> getSubMessages();

    // One line of raw values, of the fields whose entry in selection is true
    // (entry k stands for field k of the description). The default message
    // has no data and yields an empty line.
    virtual QString getRawStringFor(const QList<bool> &selection) const;
    // The raw line with every field of the description selected.
    QString getRawString() const;

    // Shared by every message of the process; set by the host before
    // messages are printed.
    static QString fieldSeparator;   // between fields of a raw line; default ";"
    static QString doNotUseString;   // shown for a "do not use" value; default "DNU"
    static bool useDoNotUseString;   // when false the raw number is shown instead; default true

private:
    const MessageInfo *mInfo;
    const Message *mParent = nullptr;
};
