#pragma once

#include "MessageSource.h"

#include <QtCore/QHash>
#include <QtCore/QMap>
#include <QtCore/QObject>
#include <QtCore/QString>

#include <cstdint>

class MessageInfo;

// Turns the frames of one format into messages, sent through its
// MessageSource side. Message types are switched on and off by the format's
// own enumerators; setMessageEnum tells the host which enumerator belongs to
// which description so that it can switch them by description too.
class NUVRIXHOST_EXPORT AbstractDecoder : public QObject, public MessageSource
{
    Q_OBJECT

public:
    explicit AbstractDecoder(const QString &name, QObject *parent = nullptr);
    ~AbstractDecoder() override;

    const QString &getName() const { return mName; }

    // Decodes one frame; returns the bits decoded or a negative error code.
    virtual std::int32_t decodeMessage(const std::uint8_t *buffer, uint maxlength) = 0;
    virtual void enableAllMessages() = 0;
    virtual void disableAllMessages() = 0;
    virtual void enableMessageEnum(int value) = 0;
    virtual void disableMessageEnum(int value) = 0;
    virtual bool isEnabledMessageEnum(int value) const = 0;

    // Registering a description or a value again replaces its old pairing.
    void setMessageEnum(const MessageInfo *info, int value);
    // -1 for a description that was never registered.
    int getMessageEnum(const MessageInfo *info) const;
    const MessageInfo *getMessageInfoForEnum(int value) const;
    // In ascending enumerator order.
    QList<const MessageInfo *> getRegisteredMessageInfos() const;

    // Switch by description; false (and nothing changes) when unregistered.
    bool setMessageEnabled(const MessageInfo *info, bool enabled);
    bool isMessageEnabled(const MessageInfo *info) const;

private:
    QString mName;
    QHash<const MessageInfo *, int> mEnumByInfo;
    QMap<int, const MessageInfo *> mInfoByEnum;
};
