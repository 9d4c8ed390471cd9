#include "MessageInfo.h"

#include "FieldInfo.h"

#include <QtCore/QtGlobal>

MessageInfo::MessageInfo(const QString &name)
    : mName(name)
{
}

MessageInfo::~MessageInfo() = default;

void MessageInfo::addFieldInfo(const FieldInfo *field, int index, bool takeOwnership)
{
    if (!field)
        return;
    mFields.insert(qBound(0, index, int(mFields.size())), field);
    if (takeOwnership)
        mOwnedFields.emplace_back(field);
}

const FieldInfo *MessageInfo::getFieldInfo(int index) const
{
    return index >= 0 && index < mFields.size() ? mFields.at(index) : nullptr;
}

const FieldInfo *MessageInfo::findFieldInfo(const QString &name) const
{
    for (const FieldInfo *field : mFields) {
        if (field->getName() == name)
            return field;
    }
    return nullptr;
}

void MessageInfo::addDiscriminantValue(const FieldInfo *field, const FieldValue &value)
{
    mDiscriminants.append(Discriminant{field, value});
}
