#pragma once
// Cuts an RTCM 3 byte stream into transport frames without Qt and without copying: the
// frames are views of the caller's buffer. A frame is the preamble 0xD3, a 16-bit header word
// holding the payload length L, L payload bytes and a CRC-24Q over all before it: L + 6
// bytes. Header words of 1023 and above (the largest length, or a reserved bit set) are false
// synchronisations.
//
// A consumer of the codec alone cuts a whole buffer like this:
//     for (size_t at = 0; at < size;) {
//         const RTCM3Cut cut = RTCM3_cut_frame(data + at, size - at, true);
//         if (cut.kind == RTCM3Cut::Kind::Frame)
//             RTCM3_decode(&context, data + at, uint16_t(cut.size), &record);
//         at += cut.size;
//     }
// A stream that arrives in pieces goes through an RTCM3FrameSplitter, which holds back the
// start of a frame that a piece's end cut.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace Kvt::Nuvrix {

constexpr uint8_t kRTCM3Preamble = 0xD3;
constexpr uint16_t kRTCM3LengthLimit = 1023;
constexpr size_t kRTCM3FrameOverhead = 6;
constexpr size_t kRTCM3LargestFrame = kRTCM3LengthLimit - 1 + kRTCM3FrameOverhead;

// What stands at the start of a buffer.
struct RTCM3Cut
{
    enum class Kind : uint8_t {
        Frame,  // a whole frame whose CRC matches: size bytes
        Skip,   // size bytes that start no frame: those before the next preamble (all of them
                // when there is none), or the preamble of a rejected candidate (size 1)
        Wait,   // a candidate whose bytes have not all arrived, or nothing at all: size 0
    };
    Kind kind;
    size_t size;
    bool crcError;  // a Skip of a candidate whose CRC did not match
};

// The candidate at data[0], a preamble. Valid gives its frame size.
enum class RTCM3Candidate : uint8_t { Valid, Incomplete, FalseLength, CrcMismatch };
RTCM3Candidate RTCM3_check_candidate(const uint8_t *data, size_t size, size_t *frameSize);

// Offset of the first preamble; size when there is none.
size_t RTCM3_find_preamble(const uint8_t *data, size_t size);

// One step of the cut. A rejected candidate costs its preamble only: a frame may begin inside
// it. With endOfInput an incomplete candidate is rejected rather than waited for.
RTCM3Cut RTCM3_cut_frame(const uint8_t *data, size_t size, bool endOfInput);

// Cuts a stream appended piece by piece, in order, as from a file, socket or serial line.
// The handler gets every frame as a view, alive until it returns: of the piece appended, or,
// for the frames that begin in the bytes held back from the piece before, of a copy of those
// bytes (at most one frame) and the start of the new piece. Bytes that start no frame are
// handed to it too:
//     void frame(const uint8_t *data, size_t size);
//     void skipped(size_t count, bool crcError);
// Nothing is allocated once the splitter has been constructed.
class RTCM3FrameSplitter
{
public:
    RTCM3FrameSplitter() { mHeld.reserve(2 * kRTCM3LargestFrame); }

    template <class Handler>
    void append(const uint8_t *data, size_t size, Handler &handler)
    {
        const size_t used = mHeld.empty() ? 0 : cutHeld(data, size, handler);
        if (used < size) {
            const size_t cutTo = used + cut(data + used, size - used, false, handler);
            mHeld.assign(data + cutTo, data + size);
        }
    }

    // No more bytes: the candidate held back is rejected and what follows it cut.
    template <class Handler>
    void endOfInput(Handler &handler)
    {
        std::vector<uint8_t> rest;
        rest.swap(mHeld);
        cut(rest.data(), rest.size(), true, handler);
        rest.clear();
        mHeld.swap(rest);  // its capacity serves a stream that starts again
    }

    // Bytes held back for the next piece.
    size_t held() const { return mHeld.size(); }

private:
    template <class Handler>
    static size_t cut(const uint8_t *data, size_t size, bool endOfInput, Handler &handler)
    {
        size_t at = 0;
        for (;;) {
            const RTCM3Cut step = RTCM3_cut_frame(data + at, size - at, endOfInput);
            if (step.kind == RTCM3Cut::Kind::Wait)
                return at;
            if (step.kind == RTCM3Cut::Kind::Frame)
                handler.frame(data + at, step.size);
            else
                handler.skipped(step.size, step.crcError);
            at += step.size;
        }
    }

    // The held bytes get enough of the new ones behind them that every candidate starting
    // among the held ones is complete: those are cut from the copy, the rest from the piece.
    // Returns how many bytes of the piece were used up.
    template <class Handler>
    size_t cutHeld(const uint8_t *data, size_t size, Handler &handler)
    {
        const size_t held = mHeld.size();
        mHeld.insert(mHeld.end(), data, data + std::min(size, kRTCM3LargestFrame));
        size_t at = 0;
        while (at < held) {
            const RTCM3Cut step = RTCM3_cut_frame(mHeld.data() + at, mHeld.size() - at, false);
            if (step.kind == RTCM3Cut::Kind::Wait) {
                // Only when the whole piece was lent and still does not finish the candidate.
                mHeld.erase(mHeld.begin(), mHeld.begin() + std::ptrdiff_t(at));
                return size;
            }
            if (step.kind == RTCM3Cut::Kind::Frame)
                handler.frame(mHeld.data() + at, step.size);
            else
                handler.skipped(step.size, step.crcError);
            at += step.size;
        }
        mHeld.clear();
        return at - held;
    }

    std::vector<uint8_t> mHeld;
};

} // namespace Kvt::Nuvrix
