#pragma once

#include "Message.h"
#include "nuvrixrtcm3_global.h"

#include <QtCore/QList>

#include <memory>
#include <vector>

namespace Kvt::Nuvrix {
struct RTCM3_kvtcg_header_s;
namespace layout {
struct Field;
struct RecordLayout;
} // namespace layout
} // namespace Kvt::Nuvrix

class RTCM3Message;

// A block nested in a record, and how a message object of its record type is made for it.
struct RTCM3NestedBlock
{
    quint16 field;  // position of the nested field in the description
    std::unique_ptr<RTCM3Message> (*make)(void *block, RTCM3Message *parent);
};

// What the generator states about a message class: one per record type.
struct RTCM3MessageClass
{
    const char *className;            // for the allocation tracer and fatal stops
    qint32 recordEnumerator;
    const MessageInfo *(*description)();
    void (*release)(void *record);    // frees what the record owns, then the record
    const RTCM3NestedBlock *nested;   // in field order
    quint8 nestedCount;
};

// A decoded record as the host sees it. It owns the record (and frees it with the codec's
// free function and delete) or borrows it from a parent message; nested blocks appear as
// child objects that are built on first use and borrow their blocks.
//
// Fields are addressed by their position in the record's description; presence, counts and
// element places come from the codec's layout table of the record, the same one that decoded
// it, so that host and codec cannot disagree about them.
class NUVRIXRTCM3_EXPORT RTCM3Message : public Message
{
public:
    ~RTCM3Message() override;

    QList<const Message *> getSubMessages() const override;
    QList<Message *> getSubMessages() override;
    QString getRawStringFor(const QList<bool> &selection) const override;
    const void *getRawRepresentation() const override { return mRecord; }

    bool hasRepresentation() const { return mRecord != nullptr; }
    // A fatal stop when there is no record: every read needs one.
    void assertRepresentation() const;
    // Deletes the children and, when owned, frees the record; the object is then empty.
    void disposeRepresentation();

    qint32 recordEnumerator() const;

    // By position in the description. Whether the field's presence rule holds (always for a
    // field without one); how many values a repeated field has (1 for the others); a value
    // as a wide integer (sign-extended where the record type is signed) or as a real.
    bool isFieldPresent(int field) const;
    unsigned numberOf(int field) const;
    qint64 integerAt(int field, unsigned index) const;
    double realAt(int field) const;
    // The child object of a nested block (element index of a repeated one); builds the
    // children first. Null for an index without a child.
    Message *subMessageAt(int field, unsigned index) const;

protected:
    RTCM3Message(const RTCM3MessageClass &messageClass, void *record, Message *parent,
                 bool ownsRepresentation);

    void *representation() const { return mRecord; }
    // Deletes the children and takes the new record; the old one is not released.
    void replaceRepresentation(void *record);

    void ensureSubMessages() const;
    void disposeSubMessages() const;

    // Checks of the getters: throw NuvrixEvent::InvalidFieldAccess.
    void requirePresent(int field) const;
    void requireIndex(int field, unsigned index) const;

    template <class C>
    C *childAt(int field, unsigned index) const
    {
        requireBlockIndex(field, index);
        return static_cast<C *>(subMessageAt(field, index));
    }
    template <class C>
    QList<C *> childrenOf(int field) const
    {
        QList<C *> children;
        for (Message *child : subMessagesOf(field))
            children.append(static_cast<C *>(child));
        return children;
    }
    template <class T>
    QList<T> valuesOf(int field, const T *values) const
    {
        const unsigned count = isFieldPresent(field) ? numberOf(field) : 0;
        return QList<T>(values, values + count);
    }

private:
    using Children = std::vector<std::unique_ptr<RTCM3Message>>;

    const Kvt::Nuvrix::layout::Field *layoutField(int field) const;
    int slotOf(int field) const;
    bool isBlockHeldOnce(int slot) const;
    void clearChildren() const;
    void buildBlock(int slot) const;
    void buildElements(int slot) const;
    QList<Message *> subMessagesOf(int field) const;
    void requireBlockIndex(int field, unsigned index) const;
    QString fieldName(int field) const;

    const RTCM3MessageClass &mClass;
    const Kvt::Nuvrix::layout::RecordLayout *mLayout;
    void *mRecord = nullptr;
    bool mOwnsRepresentation;
    mutable bool mSubMessagesBuilt = false;
    // One list per nested field, in field order; a block held once has exactly one entry,
    // null until built.
    mutable std::vector<Children> mChildren;
};

// The typed side of a generated message class: its record type and typed access.
template <class Record>
class RTCM3MessageT : public RTCM3Message
{
public:
    using RecordType = Record;

    // Deletes the children and takes the new record; ownership and the old record stay as
    // they were.
    void setRepresentation(Record *record) { replaceRepresentation(record); }

protected:
    RTCM3MessageT(const RTCM3MessageClass &messageClass, Record *record, Message *parent,
                  bool ownsRepresentation)
        : RTCM3Message(messageClass, record, parent, ownsRepresentation)
    {
    }

    const Record *record() const
    {
        assertRepresentation();
        return static_cast<const Record *>(representation());
    }
    Record *record()
    {
        assertRepresentation();
        return static_cast<Record *>(representation());
    }
};

// Wraps a copy of a record (the decode result of RTCM3_decode, or any record of a type with a
// message class) in a new message object that owns the copy. The copy takes over the heap
// arrays of the record: the caller must not free them. A sub-record is wrapped alone, without
// a parent. Null for a record type without a message class.
NUVRIXRTCM3_EXPORT std::unique_ptr<RTCM3Message> RTCM3_adoptRecord(Kvt::Nuvrix::RTCM3_kvtcg_header_s *record);
// The message description of a record type; null for one without a message class.
NUVRIXRTCM3_EXPORT const MessageInfo *RTCM3_messageInfoOf(qint32 enumerator);
