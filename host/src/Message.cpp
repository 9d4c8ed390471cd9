#include "Message.h"

#include "MessageInfo.h"

QString Message::fieldSeparator = QStringLiteral(";");
QString Message::doNotUseString = QStringLiteral("DNU");
bool Message::useDoNotUseString = true;

Message::Message(const MessageInfo *info)
    : mInfo(info)
{
}

Message::~Message() = default;

const void *Message::getRawRepresentationOf(const Message *message)
{
    return message ? message->getRawRepresentation() : nullptr;
}

const void *Message::getRawRepresentation() const
{
    return nullptr;
}

QList<const Message *> Message::getSubMessages() const
{
    return {};
}

QList<Message *> Message::getSubMessages()
{
    return {};
}

QString Message::getRawStringFor(const QList<bool> &) const
{
    return QString();
}

QString Message::getRawString() const
{
    const int fields = mInfo ? mInfo->getFieldCount() : 0;
    return getRawStringFor(QList<bool>(fields, true));
}
