#pragma once

#include "FieldInfo.h"
#include "RTCM3_layout.h"
#include "nuvrixrtcm3_global.h"

#include <QtCore/QHash>
#include <QtCore/QString>

#include <memory>

class MessageInfo;
class RTCM3Message;

// What the host contract fixes about one field, as constant data: one spec per field class.
// Everything else the list states about the field (name, display name, symbols, where it
// lives) is in the field's row of the codec's table of its record.
namespace RTCM3Field {

enum class Kind : quint8 { Unsigned, Signed, Byte, Char, Float32, Float64, SubMessage };

enum Flag : quint8 {
    Optional = 1,   // present only by the presence rule of its record
    Repeated = 2,   // a string, array, group or the CRC bytes
    Derived = 4,    // computed by the codec, not on the wire (the host calls it virtual)
    Scaled = 8,     // scale holds the factor
    DoNotUse = 16,  // doNotUse holds the value
};

using FieldGetter = const FieldInfo *(*)();
using MessageInfoGetter = const MessageInfo *(*)();

struct Spec
{
    const char *className;      // for the allocation tracer
    qint32 recordEnumerator;    // the record type the field belongs to
    quint16 index;              // position in the record's description, and row of its table
    Kind kind;                  // the host's type of the field: bit strings are bytes, ...
    quint8 width;               // ... and a field that varies is as wide as in its message
    quint8 role;                // 0: none
    quint8 flags;
    const char *unit = nullptr; // what the host displays: its unit, scale and precision
    double scale = 0.0;
    qint8 precision = -1;       // -1: none
    qint64 doNotUse = 0;
    const FieldGetter *subFields = nullptr;
    quint8 subFieldCount = 0;
    MessageInfoGetter subMessage = nullptr;
};

} // namespace RTCM3Field

// The description of one field of one record, and how the host reads its values out of a
// message object of that record. The generated field classes only name their spec; all
// behaviour is here, so that 2330 fields share one implementation.
class NUVRIXRTCM3_EXPORT RTCM3FieldInfo : public FieldInfo
{
public:
    ~RTCM3FieldInfo() override;

    bool isPresent(const Message *message) const override;
    unsigned getCount(const Message *message) const override;
    // Throws NuvrixEvent::InvalidFieldAccess, with the message and field named, for a message
    // of another kind, an absent optional field and an index out of range.
    FieldValue getValue(const Message *message, unsigned index) const override;
    // Trusts the caller. For a message of another kind or an index beyond the values it
    // yields an invalid value instead of reading memory that is not the field's.
    FieldValue getValueUnchecked(const Message *message, unsigned index) const override;
    // Text fields: the characters up to the count or the first NUL. Others: the host's.
    QString getValueString(const Message *message) const override;
    QString getInterpretedString(const Message *message, unsigned index,
                                 bool withUnit) const override;

    const RTCM3Field::Spec &spec() const { return mSpec; }
    // The field's row of its record's table; null for a message's CRC, which the frame owns.
    const Kvt::Nuvrix::layout::Field *row() const { return mRow; }
    // The record's member name, as misuse texts quote it.
    const char *name() const;
    // Symbolic values by raw value; null for a field without any.
    const QHash<qint64, QString> *symbolTexts() const { return mSymbolTexts.get(); }

    // The field's raw values as a raw line shows them; nothing for an absent field.
    void appendRawText(const RTCM3Message &message, QString &line) const;

protected:
    explicit RTCM3FieldInfo(const RTCM3Field::Spec &spec);

private:
    RTCM3FieldInfo(const RTCM3Field::Spec &spec, const Kvt::Nuvrix::layout::RecordLayout &record);
    bool has(RTCM3Field::Flag flag) const { return (mSpec.flags & flag) != 0; }
    const RTCM3Message *accept(const Message *message) const;
    unsigned countIn(const RTCM3Message &message) const;
    bool reaches(const RTCM3Message &message, unsigned index) const;
    FieldValue valueIn(const RTCM3Message &message, unsigned index) const;
    QString decimal(qint64 raw) const;
    QString number(qint64 raw, bool withUnit) const;
    QString joinUnit(const QString &text) const;
    QString rawText(const RTCM3Message &message, unsigned index) const;
    QString characters(const RTCM3Message &message) const;
    [[noreturn]] void misuse(const char *text) const;

    const RTCM3Field::Spec &mSpec;
    const Kvt::Nuvrix::layout::RecordLayout *mRecord;
    const Kvt::Nuvrix::layout::Field *mRow;
    std::unique_ptr<QHash<qint64, QString>> mSymbolTexts;
};
