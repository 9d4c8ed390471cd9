#pragma once

#include "nuvrixhost_global.h"

#include <QtCore/QList>
#include <QtCore/QString>

class MessageInfo;

// Describes one format: the messages it can deliver and the nested ones those
// messages are built from. It borrows the descriptions; their owner is the
// format library.
class NUVRIXHOST_EXPORT FormatInfo
{
public:
    explicit FormatInfo(const QString &name);
    virtual ~FormatInfo();

    FormatInfo(const FormatInfo &) = delete;
    FormatInfo &operator=(const FormatInfo &) = delete;

    const QString &getName() const { return mName; }

    void addMessageInfo(const MessageInfo *info);
    void addSubMessageInfo(const MessageInfo *info);
    const QList<const MessageInfo *> &getMessageInfos() const { return mMessageInfos; }
    const QList<const MessageInfo *> &getSubMessageInfos() const { return mSubMessageInfos; }

    // Searches main messages first, then sub-messages; null when unknown.
    const MessageInfo *findMessageInfo(const QString &name) const;

private:
    QString mName;
    QList<const MessageInfo *> mMessageInfos;
    QList<const MessageInfo *> mSubMessageInfos;
};
