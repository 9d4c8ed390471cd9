#include "RTCM3_reflect.h"

#include "RTCM3_reflect_walk.h"

#include "RTCM3_ext_codec.h"

namespace Kvt::Nuvrix::reflect {

Visitor::~Visitor() = default;

const char *symbolOf(const Field &f, Number n)
{
    if (n.kind == Number::Kind::Real)
        return nullptr;
    const int64_t raw = rawInteger(n);
    for (uint16_t k = 0; k < f.symbolCount; ++k)
        if (f.symbols[k].value == raw)
            return f.symbols[k].text;
    return nullptr;
}

double scaledWithExtra(const Field &f, Number n)
{
    if (isPacked(f))
        return units::value(*f.extra->physical, rawInteger(n)).value_or(0.0);
    return timesScale(f, fromZero(f, n));
}

const RecordLayout *recordInfo(int32_t enumerator)
{
    return enumerator <= RTCM3_LAST_ENUMERATOR ? RTCM3_layout(enumerator) : RTCM3_ext_layout(enumerator);
}

const Field *fieldOf(const RecordLayout &info, std::string_view name)
{
    for (uint16_t k = layout::firstMember(info); k < info.fieldCount; ++k)
        if (std::string_view(info.fields[k].name) == name)
            return &info.fields[k];
    return nullptr;
}

void walk(const RecordLayout &info, const void *record, uint16_t messageNumber, Visitor &visitor)
{
    // A sub-record walked on its own finds the counts it shares with its parent by its link.
    detail::walkFields(info, record, static_cast<const RTCM3_kvtcg_header_s *>(record)->kvtcg_father, messageNumber,
               visitor);
}

bool walkMessage(const _RTCM3_message_t &message, Visitor &visitor)
{
    const RecordLayout *info = recordInfo(message.header.kvtcg_message);
    if (!info || info->messageNumber == 0)
        return false;
    detail::walkFields(*info, &message, nullptr, info->messageNumber, visitor);
    return true;
}

} // namespace Kvt::Nuvrix::reflect
