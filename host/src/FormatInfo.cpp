#include "FormatInfo.h"

#include "MessageInfo.h"

FormatInfo::FormatInfo(const QString &name)
    : mName(name)
{
}

FormatInfo::~FormatInfo() = default;

void FormatInfo::addMessageInfo(const MessageInfo *info)
{
    mMessageInfos.append(info);
}

void FormatInfo::addSubMessageInfo(const MessageInfo *info)
{
    mSubMessageInfos.append(info);
}

const MessageInfo *FormatInfo::findMessageInfo(const QString &name) const
{
    for (const auto *list : {&mMessageInfos, &mSubMessageInfos}) {
        for (const MessageInfo *info : *list) {
            if (info && info->getName() == name)
                return info;
        }
    }
    return nullptr;
}
