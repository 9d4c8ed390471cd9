#include "RTCM3_extension.h"

#include "RTCM3_layout.h"
#include "kvtcg.h"

namespace Kvt::Nuvrix {
namespace {

// Up to 32 bits at bit position pos, most significant first; the caller checked the frame
// holds them.
uint32_t bitsAt(const uint8_t *frame, uint32_t pos, unsigned width)
{
    return static_cast<uint32_t>(kvtcg_detail::readBits(frame, pos, width));
}

const RTCM3_ext_selection_s *find(const uint8_t *frame, uint16_t length, uint16_t number, bool variant)
{
    for (const RTCM3_ext_selection_s *s = RTCM3_ext_selections; s->layout; ++s) {
        if (s->number != number || s->variant != variant)
            continue;
        if (s->width == 0)
            return s;
        if (uint32_t(s->position) + s->width <= uint32_t(length) * 8 &&
            bitsAt(frame, s->position, s->width) == uint32_t(s->value))
            return s;
    }
    return nullptr;
}

// The core's DISABLED answer for a number is final: the variant is not tried either.
bool disabled(const RTCM3_context_s *context, uint16_t number)
{
    if (!context)
        return false;
    for (int32_t e = 1; const layout::RecordLayout *l = RTCM3_layout(e); ++e)
        if (l->messageNumber == number)
            return !layout::isEnabled(context->enabled, e);
    return false;
}

} // namespace

int32_t RTCM3_decode_extended(RTCM3_context_s *context, const RTCM3_ext_context_s *extension,
                              const uint8_t *frame, uint16_t length, _RTCM3_message_t *result,
                              bool scalars)
{
    const auto coreDecode = scalars ? RTCM3_decode_scalars : RTCM3_decode;
    const auto depth = scalars ? layout::Depth::Scalars : layout::Depth::Full;
    const int32_t core = coreDecode(context, frame, length, result);
    const bool unknown = core == RTCM3_ERR_INVALID_MESSAGE;
    // A frame the core read to its end is final, and so is any other answer unless asked.
    if (length < 5 || (!unknown && (!extension || !extension->bds_ssr_iod8 || core == int32_t(length) * 8)))
        return core;
    const auto number = static_cast<uint16_t>(bitsAt(frame, 24, 12));
    if (unknown) {
        const RTCM3_ext_selection_s *s = find(frame, length, number, false);
        return s ? layout::decodeMessage(*s->layout, frame, length, result, depth) : core;
    }
    const RTCM3_ext_selection_s *s = find(frame, length, number, true);
    if (!s || disabled(context, number))
        return core;
    RTCM3_free_message_children(result);
    const int32_t variant = layout::decodeMessage(*s->layout, frame, length, result, depth);
    if (variant > 0)
        return variant;
    // Neither reads the frame: the standard layout's answer stands.
    RTCM3_free_any_children(result);
    return coreDecode(context, frame, length, result);
}

void RTCM3_free_any_children(_RTCM3_message_t *message)
{
    if (const layout::RecordLayout *l = RTCM3_ext_layout(message->header.kvtcg_message))
        layout::freeChildren(*l, message);
    else
        RTCM3_free_message_children(message);
}

const char *RTCM3_any_enum_to_string(int32_t value)
{
    return RTCM3_ext_layout(value) ? RTCM3_ext_enum_to_string(value) : RTCM3_message_enum_to_string(value);
}

const char *RTCM3_any_error_to_string(int32_t code)
{
    return code < RTCM3_ERR_EOF ? RTCM3_ext_error_to_string(code) : RTCM3_error_to_string(code);
}

} // namespace Kvt::Nuvrix
