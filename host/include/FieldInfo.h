#pragma once

#include "FieldType.h"
#include "FieldValue.h"

#include <QtCore/QList>
#include <QtCore/QPair>
#include <QtCore/QString>

class Message;

// Describes one field of a message and reads its values out of a message
// object. The reading operations are virtual: a format library overrides them
// for its own message classes; the defaults here know nothing about any
// message and treat the field as absent, but already turn values into the
// texts the host shows.
class NUVRIXHOST_EXPORT FieldInfo
{
public:
    // Roles the host gives fields; a field may also have none (NoRole).
    enum Role { NoRole = 0, DataRole = 1, StructureRole = 2 };

    using SymbolicValue = QPair<FieldValue, QString>;

    FieldInfo(const QString &name, const FieldType &type);
    virtual ~FieldInfo();

    FieldInfo(const FieldInfo &) = delete;
    FieldInfo &operator=(const FieldInfo &) = delete;

    const QString &getName() const { return mName; }
    const FieldType &getType() const { return mType; }

    void setRole(int role) { mRole = role; }
    int getRole() const { return mRole; }

    void setScaleFactor(double factor);
    bool hasScaleFactor() const { return mHasScaleFactor; }
    double getScaleFactor() const { return mScaleFactor; }

    void setUnit(const QString &unit) { mUnit = unit; }
    const QString &getUnit() const { return mUnit; }
    bool hasUnit() const { return !mUnit.isEmpty(); }
    // Whether a unit follows the value ("12.5 m", the default) or leads it.
    void setUnitPlacedAfterValue(bool after) { mUnitAfterValue = after; }
    bool isUnitPlacedAfterValue() const { return mUnitAfterValue; }

    // Decimals of scaled and floating texts; -1 (the default) means 6.
    void setPrecision(int precision) { mPrecision = precision; }
    int getPrecision() const { return mPrecision; }
    bool hasPrecision() const { return mPrecision >= 0; }
    int getEffectivePrecision() const { return hasPrecision() ? mPrecision : 6; }

    void setIsOptional(bool optional) { mOptional = optional; }
    bool isOptional() const { return mOptional; }
    void setIsRepeated(bool repeated) { mRepeated = repeated; }
    bool isRepeated() const { return mRepeated; }
    // A virtual field holds a value computed from others rather than sent.
    void setVirtual(bool isVirtual) { mVirtual = isVirtual; }
    bool isVirtual() const { return mVirtual; }

    void setDoNotUseValue(const FieldValue &value) { mDoNotUseValue = value; }
    bool hasDoNotUseValue() const { return mDoNotUseValue.isValid(); }
    const FieldValue &getDoNotUseValue() const { return mDoNotUseValue; }

    void addSymbolicValue(const FieldValue &value, const QString &text);
    const QList<SymbolicValue> &getSymbolicValues() const { return mSymbolicValues; }
    bool hasSymbolicValues() const { return !mSymbolicValues.isEmpty(); }
    // The text of the first matching entry; empty when none matches.
    QString getSymbolicText(const FieldValue &value) const;

    // Sub-fields show the parts of a packed field; they stay owned by the caller.
    void addSubFieldInfo(const FieldInfo *field);
    const QList<const FieldInfo *> &getSubFieldInfos() const { return mSubFields; }

    // Value access. getValue checks presence and index and throws a
    // NuvrixEvent of type NuvrixEvent::InvalidFieldAccess on misuse;
    // getValueUnchecked trusts its caller.
    virtual bool isPresent(const Message *message) const;
    virtual unsigned getCount(const Message *message) const;
    virtual FieldValue getValue(const Message *message, unsigned index) const;
    virtual FieldValue getValueUnchecked(const Message *message, unsigned index) const;
    // All values of the field as one text: characters of a char field up to the
    // first NUL, otherwise the raw texts of the values separated by blanks.
    virtual QString getValueString(const Message *message) const;
    // The text a person reads: do-not-use marker, symbolic text, scaled value
    // and unit, as the field's description asks.
    virtual QString getInterpretedString(const Message *message, unsigned index,
                                         bool withUnit) const;

protected:
    QString interpretValue(const FieldValue &value, bool withUnit) const;
    QString joinUnit(const QString &text) const;

private:
    QString interpretNumber(const FieldValue &value) const;

    QString mName;
    FieldType mType;
    int mRole = NoRole;
    double mScaleFactor = 1.0;
    bool mHasScaleFactor = false;
    QString mUnit;
    bool mUnitAfterValue = true;
    int mPrecision = -1;
    bool mOptional = false;
    bool mRepeated = false;
    bool mVirtual = false;
    FieldValue mDoNotUseValue;
    QList<SymbolicValue> mSymbolicValues;
    QList<const FieldInfo *> mSubFields;
};
