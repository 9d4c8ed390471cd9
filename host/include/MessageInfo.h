#pragma once

#include "FieldValue.h"
#include "nuvrixhost_global.h"

#include <QtCore/QList>
#include <QtCore/QString>

#include <memory>
#include <vector>

class FieldInfo;
class FormatInfo;

// Describes one kind of message: its fields in order, the values that
// identify it on the wire and whether it stands alone (main) or only nests
// inside other messages.
class NUVRIXHOST_EXPORT MessageInfo
{
public:
    struct Discriminant
    {
        const FieldInfo *field;
        FieldValue value;
    };

    explicit MessageInfo(const QString &name);
    virtual ~MessageInfo();

    MessageInfo(const MessageInfo &) = delete;
    MessageInfo &operator=(const MessageInfo &) = delete;

    const QString &getName() const { return mName; }

    // Places the field at position index (clamped to the current list, so
    // that indices 0, 1, 2, ... simply append). With takeOwnership the
    // description deletes the field when it goes; format libraries keep their
    // field descriptions as singletons and pass false.
    void addFieldInfo(const FieldInfo *field, int index, bool takeOwnership);
    const QList<const FieldInfo *> &getFieldInfos() const { return mFields; }
    int getFieldCount() const { return int(mFields.size()); }
    const FieldInfo *getFieldInfo(int index) const;
    int indexOfFieldInfo(const FieldInfo *field) const { return int(mFields.indexOf(field)); }
    const FieldInfo *findFieldInfo(const QString &name) const;

    void setFormatInfo(const FormatInfo *format) { mFormat = format; }
    const FormatInfo *getFormatInfo() const { return mFormat; }

    void addDiscriminantValue(const FieldInfo *field, const FieldValue &value);
    const QList<Discriminant> &getDiscriminants() const { return mDiscriminants; }

    void setShortDescriptiveText(const QString &text) { mShortText = text; }
    const QString &getShortDescriptiveText() const { return mShortText; }

    void setIsMain(bool isMain) { mIsMain = isMain; }
    bool isMain() const { return mIsMain; }

private:
    QString mName;
    QString mShortText;
    const FormatInfo *mFormat = nullptr;
    bool mIsMain = true;
    QList<const FieldInfo *> mFields;
    std::vector<std::unique_ptr<const FieldInfo>> mOwnedFields;
    QList<Discriminant> mDiscriminants;
};
