#pragma once
// Streams for the stream fuzz entry, built from our own encoder: every message back to back,
// and hostile variations of it that the entry must survive without breaking an invariant.

#include "../../fuzz/stream_target.h"
#include "../support/random_record.h"
#include "RTCM3_MessageT.h"

#include <algorithm>
#include <random>
#include <string>
#include <vector>

namespace streaminputs {

using Bytes = std::vector<uint8_t>;
using namespace Kvt::Nuvrix;

struct Named {
    std::string name;
    Bytes bytes;
};

inline Bytes frameOf(int enumerator, int groupSize)
{
    std::mt19937_64 rng(static_cast<uint64_t>(enumerator));
    return randomrecord::randomFrame(enumerator, rng, groupSize).frame;
}

inline Bytes operator+(Bytes a, const Bytes& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// One frame of every message that encodes, groups of two elements.
struct FrameStream {
    Bytes bytes;
    int frames = 0;
    int withMessageClass = 0;  // frames the decoder hands to the host as messages
};

inline const FrameStream& everyMessage()
{
    static const FrameStream stream = [] {
        FrameStream s;
        for (const int e : randomrecord::messageEnumerators()) {
            const Bytes frame = frameOf(e, 2);
            if (frame.empty())
                continue;
            s.bytes = s.bytes + frame;
            ++s.frames;
            if (RTCM3_messageInfoOf(e))
                ++s.withMessageClass;
        }
        return s;
    }();
    return stream;
}

// Random bytes with a preamble every few bytes, so false frames start all the time.
inline Bytes preambleNoise(size_t size)
{
    std::mt19937 rng(11);
    Bytes out(size);
    for (size_t k = 0; k < size; ++k)
        out[k] = k % 7 == 0 ? layout::kPreamble : static_cast<uint8_t>(rng());
    return out;
}

// Every other frame with one payload bit flipped, so its CRC fails.
inline Bytes everyOtherFrameCorrupted()
{
    Bytes out;
    int k = 0;
    for (const int e : randomrecord::messageEnumerators()) {
        Bytes frame = frameOf(e, 1);
        if (frame.size() > 6 && k++ % 2)
            frame[4] ^= 0x01;
        out = out + frame;
    }
    return out;
}

inline std::vector<Named> hostileStreams()
{
    using nuvrixfuzz::streamInput;
    const Bytes all = everyMessage().bytes;
    const Bytes msm = frameOf(RTCM3_MESSAGE_TYPE_1077, 3);
    const Bytes halfMsm(msm.begin(), msm.begin() + long(msm.size() / 2));
    const Bytes falseLongFrame = {layout::kPreamble, 0x03, 0xFE, 0x00};  // claims 1022 bytes
    const Bytes reservedBitsSet = {layout::kPreamble, 0xFC, 0x00, 0x00};
    uint8_t noneEnabled[nuvrixfuzz::kStreamEnableBytes] = {};
    const uint8_t everyMode = nuvrixfuzz::kFlagReadInsideNotification | nuvrixfuzz::kFlagTryMisuse;
    return {
        {"Empty", {}},
        {"EveryFlagAndNothingElse", {0xFF}},
        {"ChunkSizesRunPastTheInput", {0x0F, 3, 4}},
        {"EnableSetCutShortIsStream", Bytes{nuvrixfuzz::kFlagEnableSet, 1, 2, 3} + msm},
        {"OneByteChunks", streamInput(0, {1}, all)},
        {"FalseLongFrameBeforeRealOnes", streamInput(0, {200, 3}, falseLongFrame + all)},
        {"ReservedLengthBitsBeforeFrames", streamInput(0, {}, reservedBitsSet + msm)},
        {"StreamStopsMidFrame", streamInput(0, {0}, all + halfMsm)},
        {"NewStreamAfterEveryChunk", streamInput(nuvrixfuzz::kFlagEndEveryChunk, {97, 13}, all)},
        {"CrcBrokenInEveryOtherFrame", streamInput(0, {0, 1, 255}, everyOtherFrameCorrupted())},
        {"NoiseFullOfPreambles", streamInput(0, {31}, preambleNoise(3000) + msm)},
        {"EveryMessageDisabled", streamInput(0, {}, all, noneEnabled)},
        {"ReadInsideNotificationAndPastTheValues", streamInput(everyMode, {0}, all)},
    };
}

} // namespace streaminputs
