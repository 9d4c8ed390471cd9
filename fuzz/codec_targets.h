#pragma once
// What the codec fuzz targets do with one input, as plain functions: the libFuzzer entry
// points call them, and the ordinary test suite replays saved inputs through the very same
// code without libFuzzer. A broken invariant aborts, so the fuzzer reports it as a crash.

#include "RTCM3_codec.h"
#include "RTCM3_extension.h"
#include "RTCM3_layout.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

namespace nuvrixfuzz {

using Bytes = std::vector<uint8_t>;

// Decode input: the first kEnablePrefix bytes, when the input has them, are the enable set;
// the rest is the frame. The low bit of the first byte belongs to no enumerator, so it
// serves as the flag for decoding without a context.
constexpr size_t kEnablePrefix = Kvt::Nuvrix::RTCM3_ENABLE_BYTES;
constexpr uint8_t kNullContextFlag = 0x01;
constexpr size_t kMaxFrame = 65535;  // the decoder takes a 16-bit length

// Re-encode input: a big-endian selector picks the encode buffer size, the rest is the frame.
constexpr size_t kSelectorBytes = 2;
constexpr uint16_t kBufferSlack = 16;  // sizes run from 0 to the decoded frame plus this

enum class Reencode { NotDecoded, EncodeRefused, RoundTripped };

[[noreturn]] inline void fail(const char* what, int32_t a, int32_t b)
{
    std::fprintf(stderr, "codec invariant broken: %s (%d, %d)\n", what, a, b);
    std::abort();
}

// One decode into a record that starts as junk, so a member the decoder should have set up
// and did not shows as a bad pointer on release. Whatever the result, the one release call
// frees what the record owns, and a second call finds nothing left to free.
class DecodedRecord
{
public:
    DecodedRecord(Kvt::Nuvrix::RTCM3_context_s* context, const Bytes& frame)
        : mRecord(std::make_unique<Kvt::Nuvrix::_RTCM3_message_t>())
    {
        std::memset(mRecord.get(), 0xA5, sizeof(*mRecord));
        mResult = Kvt::Nuvrix::RTCM3_decode(context, frame.data(), static_cast<uint16_t>(frame.size()),
                                            mRecord.get());
        checkResult(frame.size());
    }
    ~DecodedRecord()
    {
        Kvt::Nuvrix::RTCM3_free_message_children(mRecord.get());
        Kvt::Nuvrix::RTCM3_free_message_children(mRecord.get());
    }
    DecodedRecord(const DecodedRecord&) = delete;
    DecodedRecord& operator=(const DecodedRecord&) = delete;

    int32_t result() const { return mResult; }
    Kvt::Nuvrix::_RTCM3_message_t* record() { return mRecord.get(); }

private:
    void checkResult(size_t frameSize) const
    {
        using namespace Kvt::Nuvrix;
        if (mResult > 0) {
            if (uint64_t(mResult) > uint64_t(frameSize) * 8)
                fail("decoded more bits than the frame holds", mResult, static_cast<int32_t>(frameSize));
            const layout::RecordLayout* l = RTCM3_layout(mRecord->header.kvtcg_message);
            if (!l || !l->messageNumber)
                fail("decoded record is no message", mResult, mRecord->header.kvtcg_message);
        } else if (std::strncmp(RTCM3_error_to_string(mResult), "RTCM3_ERR_", 10) != 0) {
            fail("decoder returned a code without a name", mResult, 0);
        }
    }

    std::unique_ptr<Kvt::Nuvrix::_RTCM3_message_t> mRecord;
    int32_t mResult = 0;
};

// A heap copy of exactly the frame's size, clipped to what the decoder can be given, so any
// read past its end is caught.
inline Bytes exactFrame(const uint8_t* data, size_t size)
{
    return Bytes(data, data + std::min(size, kMaxFrame));
}

// The extension after the core, with the 8-bit-IOD layout allowed so that both of its paths
// run: a record of either list comes back whole or not at all, and one release frees it.
inline void fuzzExtendedDecode(Kvt::Nuvrix::RTCM3_context_s* context, const Bytes& frame)
{
    using namespace Kvt::Nuvrix;
    const auto record = std::make_unique<_RTCM3_message_t>();
    std::memset(record.get(), 0xA5, sizeof(*record));
    const RTCM3_ext_context_s extension{true};
    const int32_t result =
        RTCM3_decode_extended(context, &extension, frame.data(), static_cast<uint16_t>(frame.size()), record.get());
    if (result > 0 && uint64_t(result) > uint64_t(frame.size()) * 8)
        fail("extended decode read more bits than the frame holds", result, static_cast<int32_t>(frame.size()));
    if (result <= 0 && std::strncmp(RTCM3_any_error_to_string(result), "RTCM3_ERR_", 10) != 0)
        fail("extended decode returned a code without a name", result, 0);
    RTCM3_free_any_children(record.get());
    RTCM3_free_any_children(record.get());
}

// Returns what RTCM3_decode returned.
inline int32_t fuzzCodecDecode(const uint8_t* data, size_t size)
{
    Kvt::Nuvrix::RTCM3_context_s context;
    Kvt::Nuvrix::RTCM3_context_s* contextUsed = nullptr;
    if (size >= kEnablePrefix) {
        if (!(data[0] & kNullContextFlag)) {
            Kvt::Nuvrix::RTCM3_init_context(&context);
            std::memcpy(context.enabled, data, kEnablePrefix);
            contextUsed = &context;
        }
        data += kEnablePrefix;
        size -= kEnablePrefix;
    }
    const Bytes frame = exactFrame(data, size);
    const int32_t core = DecodedRecord(contextUsed, frame).result();
    fuzzExtendedDecode(contextUsed, frame);
    return core;
}

// Encodes the record into a heap buffer of exactly `capacity` bytes, so any write outside it
// is caught; returns the encoder's result and leaves the written frame in `frame`.
inline int32_t encodeInto(Kvt::Nuvrix::_RTCM3_message_t* record, uint16_t capacity, Bytes& frame)
{
    const auto buffer = std::make_unique<uint8_t[]>(capacity);
    const int32_t written = Kvt::Nuvrix::RTCM3_encode_message(buffer.get(), capacity, record);
    if (written <= 0)
        return written;
    if (written % 8 != 0 || uint32_t(written) > uint32_t(capacity) * 8)
        fail("encoder claims a frame that does not fit its buffer", written, capacity);
    frame.assign(buffer.get(), buffer.get() + written / 8);
    return written;
}

inline uint16_t capacityFor(uint16_t selector, int32_t decodedBits)
{
    const uint32_t frameBytes = (uint32_t(decodedBits) + 7) / 8;
    const uint32_t span = frameBytes + kBufferSlack + 1;
    return static_cast<uint16_t>(std::min<uint32_t>(frameBytes + kBufferSlack - selector % span, kMaxFrame));
}

// A frame the encoder wrote must state its own payload length (10 bits in the header, so a
// payload it cannot state must be refused), decode back and re-encode to the same bytes.
inline void checkReencodedFrame(const Bytes& frame, int32_t written)
{
    // The 10-bit length field carries the payload length; a payload of more than 1023 bytes
    // (from a record, or a frame longer than any the synchronizer delivers) keeps its low
    // 10 bits.
    if (frame.size() < 6 || (((frame[1] & 0x03u) << 8) | frame[2]) != ((frame.size() - 6) & 0x3FFu))
        fail("encoder wrote a frame whose length field is not its payload length", written,
             static_cast<int32_t>(frame.size()));
    DecodedRecord again(nullptr, frame);
    if (again.result() != written)
        fail("re-encoded frame does not decode back", again.result(), written);
    Bytes second;
    const int32_t rewritten = encodeInto(again.record(), static_cast<uint16_t>(frame.size()), second);
    if (rewritten != written || second != frame)
        fail("re-encoded frame encodes differently the second time", rewritten, written);
}

inline Reencode fuzzCodecReencode(const uint8_t* data, size_t size)
{
    uint16_t selector = 0;
    if (size >= kSelectorBytes) {
        selector = static_cast<uint16_t>((data[0] << 8) | data[1]);
        data += kSelectorBytes;
        size -= kSelectorBytes;
    }
    DecodedRecord decoded(nullptr, exactFrame(data, size));
    if (decoded.result() <= 0)
        return Reencode::NotDecoded;
    Bytes frame;
    const int32_t written = encodeInto(decoded.record(), capacityFor(selector, decoded.result()), frame);
    if (written <= 0)
        return Reencode::EncodeRefused;
    checkReencodedFrame(frame, written);
    return Reencode::RoundTripped;
}

// Inputs built from a frame, for seeds and tests.
inline Bytes decodeInput(const uint8_t (&enableSet)[kEnablePrefix], const Bytes& frame)
{
    Bytes input(enableSet, enableSet + kEnablePrefix);
    input.insert(input.end(), frame.begin(), frame.end());
    return input;
}

inline Bytes decodeInputWithoutContext(const Bytes& frame)
{
    uint8_t prefix[kEnablePrefix] = {kNullContextFlag};
    return decodeInput(prefix, frame);
}

inline Bytes decodeInputAllEnabled(const Bytes& frame)
{
    uint8_t prefix[kEnablePrefix];
    std::memset(prefix, 0xFF, sizeof prefix);
    prefix[0] = static_cast<uint8_t>(~kNullContextFlag);
    return decodeInput(prefix, frame);
}

// The selector under which a frame of `frameBytes` is re-encoded into `capacity` bytes
// (capacity at most frameBytes + kBufferSlack).
inline uint16_t selectorFor(size_t frameBytes, size_t capacity)
{
    return static_cast<uint16_t>(frameBytes + kBufferSlack - capacity);
}

inline Bytes reencodeInput(uint16_t selector, const Bytes& frame)
{
    Bytes input{static_cast<uint8_t>(selector >> 8), static_cast<uint8_t>(selector)};
    input.insert(input.end(), frame.begin(), frame.end());
    return input;
}

} // namespace nuvrixfuzz
