#include "RTCM3FrameSplitter.h"

#include "kvtcg.h"

#include <cstring>

namespace Kvt::Nuvrix {

namespace {

constexpr size_t kHeaderBytes = 4;  // enough for the header word to be read
constexpr size_t kCrcBytes = 3;

} // namespace

RTCM3Candidate RTCM3_check_candidate(const uint8_t *data, size_t size, size_t *frameSize)
{
    if (size < kHeaderBytes)
        return RTCM3Candidate::Incomplete;
    const uint16_t length = uint16_t(data[1] << 8 | data[2]);
    if (length >= kRTCM3LengthLimit)
        return RTCM3Candidate::FalseLength;
    const size_t frame = length + kRTCM3FrameOverhead;
    if (size < frame)
        return RTCM3Candidate::Incomplete;
    const size_t covered = frame - kCrcBytes;
    const uint32_t received = uint32_t(data[covered]) << 16 | uint32_t(data[covered + 1]) << 8 | data[covered + 2];
    if (CRC_compute24Q(data, int32_t(covered)) != received)
        return RTCM3Candidate::CrcMismatch;
    *frameSize = frame;
    return RTCM3Candidate::Valid;
}

size_t RTCM3_find_preamble(const uint8_t *data, size_t size)
{
    const void *found = size ? std::memchr(data, kRTCM3Preamble, size) : nullptr;
    return found ? size_t(static_cast<const uint8_t *>(found) - data) : size;
}

RTCM3Cut RTCM3_cut_frame(const uint8_t *data, size_t size, bool endOfInput)
{
    if (size == 0)
        return {RTCM3Cut::Kind::Wait, 0, false};
    if (data[0] != kRTCM3Preamble)
        return {RTCM3Cut::Kind::Skip, RTCM3_find_preamble(data, size), false};
    size_t frame = 0;
    switch (RTCM3_check_candidate(data, size, &frame)) {
    case RTCM3Candidate::Valid:
        return {RTCM3Cut::Kind::Frame, frame, false};
    case RTCM3Candidate::Incomplete:
        if (!endOfInput)
            return {RTCM3Cut::Kind::Wait, 0, false};
        break;
    case RTCM3Candidate::FalseLength:
        break;
    case RTCM3Candidate::CrcMismatch:
        return {RTCM3Cut::Kind::Skip, 1, true};
    }
    return {RTCM3Cut::Kind::Skip, 1, false};
}

} // namespace Kvt::Nuvrix
