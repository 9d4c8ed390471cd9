#pragma once
// For the generated sources only: the templates that bind each generated class to its base.

#include "RTCM3_FormatInfo.h"
#include "RTCM3_MessageT.h"
#include "RTCM3_codec.h"
#include "nuvrixrtcm3_global.h"

#include <memory>
#include <type_traits>

class FieldInfo;
class MessageInfo;

template <class Description>
Description *RTCM3Instances::of()
{
    RTCM3_FormatInfo::getInstance();
    static Description instance;
    return &instance;
}

// Each generated source keeps its own copies: nothing of this leaves the source.
namespace {

template <class Field>
const FieldInfo *fieldOf()
{
    return Field::getInstance();
}

template <class Description>
const MessageInfo *descriptionOf()
{
    return Description::getInstance();
}

// The child object of a block inside its parent's record; it borrows the block.
// Objects are held as RTCM3Message from the start: deleting them through the base keeps the
// thousands of derived destructors out of the sources that only make them.
template <class Child>
std::unique_ptr<RTCM3Message> makeChild(void *block, RTCM3Message *parent)
{
    return std::unique_ptr<RTCM3Message>(
        new Child(static_cast<typename Child::RecordType *>(block), parent, false));
}

template <class Record, void (*FreeChildren)(Record *)>
void releaseRecord(void *record)
{
    Record *owned = static_cast<Record *>(record);
    FreeChildren(owned);
    delete owned;
}

using AdoptFn = std::unique_ptr<RTCM3Message> (*)(Kvt::Nuvrix::RTCM3_kvtcg_header_s *);

template <class MessageClass>
std::unique_ptr<RTCM3Message> adopt(Kvt::Nuvrix::RTCM3_kvtcg_header_s *header)
{
    using Record = typename MessageClass::RecordType;
    auto copy = std::make_unique<Record>(*reinterpret_cast<const Record *>(header));
    if constexpr (std::is_constructible_v<MessageClass, Record *, bool>) {
        return std::unique_ptr<RTCM3Message>(new MessageClass(copy.release(), true));
    } else {
        // Alone now: its old parent is no longer its parent.
        copy->kvtcg_father = nullptr;
        return std::unique_ptr<RTCM3Message>(new MessageClass(copy.release(), nullptr, true));
    }
}

} // namespace
