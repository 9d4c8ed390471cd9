#include "AbstractDecoder.h"

AbstractDecoder::AbstractDecoder(const QString &name, QObject *parent)
    : QObject(parent), mName(name)
{
}

AbstractDecoder::~AbstractDecoder() = default;

void AbstractDecoder::setMessageEnum(const MessageInfo *info, int value)
{
    const auto oldValue = mEnumByInfo.constFind(info);
    if (oldValue != mEnumByInfo.constEnd())
        mInfoByEnum.remove(oldValue.value());
    const auto oldInfo = mInfoByEnum.constFind(value);
    if (oldInfo != mInfoByEnum.constEnd())
        mEnumByInfo.remove(oldInfo.value());
    mEnumByInfo.insert(info, value);
    mInfoByEnum.insert(value, info);
}

int AbstractDecoder::getMessageEnum(const MessageInfo *info) const
{
    return mEnumByInfo.value(info, -1);
}

const MessageInfo *AbstractDecoder::getMessageInfoForEnum(int value) const
{
    return mInfoByEnum.value(value, nullptr);
}

QList<const MessageInfo *> AbstractDecoder::getRegisteredMessageInfos() const
{
    return mInfoByEnum.values();
}

bool AbstractDecoder::setMessageEnabled(const MessageInfo *info, bool enabled)
{
    const auto entry = mEnumByInfo.constFind(info);
    if (entry == mEnumByInfo.constEnd())
        return false;
    if (enabled)
        enableMessageEnum(entry.value());
    else
        disableMessageEnum(entry.value());
    return true;
}

bool AbstractDecoder::isMessageEnabled(const MessageInfo *info) const
{
    const auto entry = mEnumByInfo.constFind(info);
    return entry != mEnumByInfo.constEnd() && isEnabledMessageEnum(entry.value());
}
