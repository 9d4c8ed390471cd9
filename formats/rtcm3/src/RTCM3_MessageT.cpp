#include "RTCM3_MessageT.h"

#include "MemLeakTracer.h"
#include "MessageInfo.h"
#include "NuvrixEvent.h"
#include "RTCM3_FieldInfoT.h"
#include "RTCM3_FormatInfo.h"
#include "RTCM3_codec.h"
#include "RTCM3_layout.h"

#include <QtCore/QMessageLogger>

#include <algorithm>
#include <cstring>

namespace L = Kvt::Nuvrix::layout;

namespace {

constexpr unsigned kCrcBytes = 3;
// Deeper than any nesting of records, so that a broken chain of parent links ends.
constexpr int kMaxParentLinks = 8;

const quint8 *bytesOf(const void *record)
{
    return static_cast<const quint8 *>(record);
}

template <typename T>
T load(const void *record, std::size_t offset)
{
    T value;
    std::memcpy(&value, bytesOf(record) + offset, sizeof value);
    return value;
}

void setParentLink(void *record, void *parent)
{
    std::memcpy(static_cast<quint8 *>(record) + L::kParentOffset, &parent, sizeof parent);
}

std::size_t sizeOf(L::CType type)
{
    switch (type) {
    case L::CType::U8: case L::CType::I8: case L::CType::Char: return 1;
    case L::CType::U16: case L::CType::I16: return 2;
    case L::CType::U32: case L::CType::I32: case L::CType::F32: return 4;
    default: return 8;
    }
}

qint64 loadInteger(const void *record, std::size_t offset, L::CType type)
{
    switch (type) {
    case L::CType::U8: case L::CType::Char: return load<quint8>(record, offset);
    case L::CType::I8: return load<qint8>(record, offset);
    case L::CType::U16: return load<quint16>(record, offset);
    case L::CType::I16: return load<qint16>(record, offset);
    case L::CType::U32: return load<quint32>(record, offset);
    case L::CType::I32: return load<qint32>(record, offset);
    case L::CType::I64: return load<qint64>(record, offset);
    default: return qint64(load<quint64>(record, offset));
    }
}

// The message number that a record's presence rules are decided by: its own for a message,
// that of the message holding it for a sub-record.
quint16 governingNumber(const void *record)
{
    for (int depth = 0; record && depth < kMaxParentLinks; ++depth) {
        const L::RecordLayout *layout =
            Kvt::Nuvrix::RTCM3_layout(load<qint32>(record, L::kEnumeratorOffset));
        if (!layout)
            return 0;
        if (layout->messageNumber != 0)
            return load<quint16>(record, L::kMessageNumberOffset);
        record = load<const void *>(record, L::kParentOffset);
    }
    return 0;
}

unsigned countOf(const L::Field &field, const void *record)
{
    if (field.countType == L::CType::Record)
        return field.fixedCount;
    const void *holder =
        (field.flags & L::CountInParent) ? load<const void *>(record, L::kParentOffset) : record;
    return holder ? unsigned(loadInteger(holder, field.countOffset, field.countType)) : 0;
}

unsigned capacityOf(const L::Field &field)
{
    switch (field.kind) {
    case L::Kind::String: return field.capacity + 1u;  // with its terminating NUL
    case L::Kind::Array: return field.capacity;
    default: return 1;
    }
}

} // namespace

RTCM3Message::RTCM3Message(const RTCM3MessageClass &messageClass, void *record, Message *parent,
                           bool ownsRepresentation)
    : Message(messageClass.description()),
      mClass(messageClass),
      mLayout(Kvt::Nuvrix::RTCM3_layout(messageClass.recordEnumerator)),
      mOwnsRepresentation(ownsRepresentation),
      mChildren(messageClass.nestedCount)
{
    clearChildren();
    MemLeakTracer::getInstance()->doAllocateObject(mClass.className);
    mRecord = record;
    if (mLayout->messageNumber == 0)
        setParentMessage(parent);
}

RTCM3Message::~RTCM3Message()
{
    MemLeakTracer::getInstance()->doDeallocateObject(mClass.className);
    disposeRepresentation();
}

qint32 RTCM3Message::recordEnumerator() const
{
    return mClass.recordEnumerator;
}

void RTCM3Message::assertRepresentation() const
{
    if (!mRecord)
        QMessageLogger().fatal("%s::assertRepresentation() failed when trying to access data "
                               "of an uninitialized message.", mClass.className);
}

void RTCM3Message::disposeRepresentation()
{
    disposeSubMessages();
    if (mRecord && mOwnsRepresentation)
        mClass.release(mRecord);
    mRecord = nullptr;
}

void RTCM3Message::replaceRepresentation(void *record)
{
    disposeSubMessages();
    mRecord = record;
}

// ---- fields ---------------------------------------------------------------------------
// Field k of a description is row k of the record's layout table; a message's CRC follows
// the last row.

const L::Field *RTCM3Message::layoutField(int field) const
{
    return field >= 0 && field < mLayout->fieldCount ? &mLayout->fields[field] : nullptr;
}

bool RTCM3Message::isFieldPresent(int field) const
{
    assertRepresentation();
    const L::Field *f = layoutField(field);
    return !f || !f->present || f->present(governingNumber(mRecord), mRecord);
}

unsigned RTCM3Message::numberOf(int field) const
{
    assertRepresentation();
    const L::Field *f = layoutField(field);
    if (!f)
        return kCrcBytes;
    switch (f->kind) {
    case L::Kind::String:
    case L::Kind::Array:
        // A record built by hand may count more than the array holds.
        return std::min(countOf(*f, mRecord), unsigned(f->capacity));
    case L::Kind::Group:
        return load<const void *>(mRecord, f->offset) ? countOf(*f, mRecord) : 0;
    default:
        return 1;
    }
}

qint64 RTCM3Message::integerAt(int field, unsigned index) const
{
    assertRepresentation();
    const L::Field *f = layoutField(field);
    if (!f)
        return index < kCrcBytes ? load<quint8>(mRecord, mLayout->crcOffset + index) : 0;
    if (index >= capacityOf(*f))
        return 0;
    return loadInteger(mRecord, f->offset + index * sizeOf(f->ctype), f->ctype);
}

double RTCM3Message::realAt(int field) const
{
    assertRepresentation();
    const L::Field *f = layoutField(field);
    if (f && f->ctype == L::CType::F32)
        return load<float>(mRecord, f->offset);
    if (f && f->ctype == L::CType::F64)
        return load<double>(mRecord, f->offset);
    return 0.0;
}

QString RTCM3Message::fieldName(int field) const
{
    const FieldInfo *info = getMessageInfo()->getFieldInfo(field);
    if (const auto *own = dynamic_cast<const RTCM3FieldInfo *>(info))
        return QString::fromUtf8(own->name());
    return info ? info->getName() : QString::number(field);
}

void RTCM3Message::requirePresent(int field) const
{
    if (!isFieldPresent(field))
        throw NuvrixEvent(NuvrixEvent::InvalidFieldAccess,
                          QStringLiteral("Requesting value for a non-present optional field %1::%2.")
                              .arg(getMessageInfo()->getName(), fieldName(field)),
                          RTCM3_FormatInfo::getInstance());
}

void RTCM3Message::requireIndex(int field, unsigned index) const
{
    requirePresent(field);
    if (index >= numberOf(field))
        throw NuvrixEvent(NuvrixEvent::InvalidFieldAccess,
                          QStringLiteral("Requesting value for an repeated field %1::%2 with out of range index.")
                              .arg(getMessageInfo()->getName(), fieldName(field)),
                          RTCM3_FormatInfo::getInstance());
}

void RTCM3Message::requireBlockIndex(int field, unsigned index) const
{
    const L::Field *f = layoutField(field);
    if (f && f->kind == L::Kind::Group)
        requireIndex(field, index);
}

// ---- nested blocks --------------------------------------------------------------------

int RTCM3Message::slotOf(int field) const
{
    for (int slot = 0; slot < mClass.nestedCount; ++slot) {
        if (mClass.nested[slot].field == field)
            return slot;
    }
    return -1;
}

bool RTCM3Message::isBlockHeldOnce(int slot) const
{
    return mLayout->fields[mClass.nested[slot].field].kind == L::Kind::Embed;
}

void RTCM3Message::clearChildren() const
{
    for (int slot = 0; slot < mClass.nestedCount; ++slot) {
        mChildren[slot].clear();
        if (isBlockHeldOnce(slot))
            mChildren[slot].resize(1);
    }
}

void RTCM3Message::disposeSubMessages() const
{
    clearChildren();
    mSubMessagesBuilt = false;
}

void RTCM3Message::ensureSubMessages() const
{
    if (mSubMessagesBuilt)
        return;
    assertRepresentation();
    for (int slot = 0; slot < mClass.nestedCount; ++slot) {
        if (isBlockHeldOnce(slot))
            buildBlock(slot);
        else
            buildElements(slot);
    }
    mSubMessagesBuilt = true;
}

// Children are parts of this object, made when first asked for, also through a const
// message; they are given it as their parent, which they only read.
void RTCM3Message::buildBlock(int slot) const
{
    const RTCM3NestedBlock &nested = mClass.nested[slot];
    void *block = static_cast<quint8 *>(mRecord) + mLayout->fields[nested.field].offset;
    // A record copied out of the decoder's result still links its blocks to the original.
    setParentLink(block, mRecord);
    std::unique_ptr<RTCM3Message> &child = mChildren[slot].front();
    if (!child || child->getRawRepresentation() != block)
        child = nested.make(block, const_cast<RTCM3Message *>(this));
}

void RTCM3Message::buildElements(int slot) const
{
    const RTCM3NestedBlock &nested = mClass.nested[slot];
    const L::Field &field = mLayout->fields[nested.field];
    quint8 *elements = load<quint8 *>(mRecord, field.offset);
    const unsigned count = elements ? countOf(field, mRecord) : 0;
    Children old;
    old.swap(mChildren[slot]);
    for (unsigned i = 0; i < count; ++i) {
        void *element = elements + std::size_t(i) * field.sub->size;
        setParentLink(element, mRecord);
        const auto reusable = std::find_if(old.begin(), old.end(), [element](const auto &child) {
            return child && child->getRawRepresentation() == element;
        });
        if (reusable != old.end())
            mChildren[slot].push_back(std::move(*reusable));
        else
            mChildren[slot].push_back(nested.make(element, const_cast<RTCM3Message *>(this)));
    }
}

Message *RTCM3Message::subMessageAt(int field, unsigned index) const
{
    ensureSubMessages();
    const int slot = slotOf(field);
    if (slot < 0 || index >= mChildren[slot].size())
        return nullptr;
    return mChildren[slot][index].get();
}

QList<Message *> RTCM3Message::subMessagesOf(int field) const
{
    ensureSubMessages();
    QList<Message *> children;
    const int slot = slotOf(field);
    if (slot >= 0) {
        for (const auto &child : mChildren[slot])
            children.append(child.get());
    }
    return children;
}

QList<const Message *> RTCM3Message::getSubMessages() const
{
    QList<const Message *> children;
    for (const Children &slot : mChildren) {
        for (const auto &child : slot)
            children.append(child.get());
    }
    return children;
}

QList<Message *> RTCM3Message::getSubMessages()
{
    QList<Message *> children;
    for (const Children &slot : mChildren) {
        for (const auto &child : slot)
            children.append(child.get());
    }
    return children;
}

// ---- raw line -------------------------------------------------------------------------

QString RTCM3Message::getRawStringFor(const QList<bool> &selection) const
{
    assertRepresentation();
    const QList<const FieldInfo *> &fields = getMessageInfo()->getFieldInfos();
    const qsizetype visited = std::min(selection.size(), fields.size());
    QString line;
    bool first = true;
    for (qsizetype k = 0; k < visited; ++k) {
        if (!selection.at(k))
            continue;
        // An absent field writes nothing but keeps its place between the separators.
        if (!first)
            line += Message::fieldSeparator;
        first = false;
        if (const auto *field = dynamic_cast<const RTCM3FieldInfo *>(fields.at(k)))
            field->appendRawText(*this, line);
    }
    return line;
}
