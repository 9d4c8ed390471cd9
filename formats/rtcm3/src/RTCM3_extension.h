#pragma once
// Messages beyond the core's 123: the IGS state-space corrections carried in 4076, the CRS
// messages 1300 to 1302, and the layout of the BeiDou orbit and combined SSR messages (1258,
// 1261) with an 8-bit IOD that some producers send. The core decode runs first and answers
// as it always does; the extension is consulted only where the core knows no message, and
// for a variant layout of a core message only when the extension context asks for it.

#include "RTCM3_ext_codec.h"

#include <cstdint>

namespace Kvt::Nuvrix {

struct RTCM3_ext_context_s {
    // 1258 and 1261 frames that the standard layout does not read to their end are read
    // with an 8-bit IOD in place of the 24-bit IOD/CRC.
    bool bds_ssr_iod8 = false;
};

// RTCM3_decode (or, with scalars, RTCM3_decode_scalars), then the extension: returns the bits
// decoded or a negative code (core or extension), and leaves in result a record of either
// list; release it with RTCM3_free_any_children.
int32_t RTCM3_decode_extended(RTCM3_context_s *context, const RTCM3_ext_context_s *extension,
                              const uint8_t *frame, uint16_t length, _RTCM3_message_t *result,
                              bool scalars = false);

// The record's arrays, by the enumerator in its header, core or extension.
void RTCM3_free_any_children(_RTCM3_message_t *message);
// Names of enumerators and codes of either list ("???" for neither).
const char *RTCM3_any_enum_to_string(int32_t value);
const char *RTCM3_any_error_to_string(int32_t code);

} // namespace Kvt::Nuvrix
