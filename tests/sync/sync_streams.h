#pragma once
// Test streams for the synchronizer: frames built by hand or by our encoder, a way to feed
// a stream in chunks and collect what comes out, and a plain model of the framing rule to
// check the results against.

#include "RTCM3FrameSplitter.h"
#include "RTCM3Synchronizer.h"
#include "RTCM3_FormatInfo.h"
#include "RTCM3_codec.h"
#include "RecordingObserver.h"
#include "kvtcg.h"

#include <QtCore/QByteArray>
#include <QtCore/QList>

#include <algorithm>
#include <cstring>
#include <functional>
#include <random>
#include <utility>

namespace syncstreams {

// Appends the CRC-24Q of everything before it.
inline QByteArray withCrc(QByteArray bytes)
{
    const uint32_t crc = CRC_compute24Q(reinterpret_cast<const uint8_t *>(bytes.constData()),
                                        static_cast<int32_t>(bytes.size()));
    bytes.append(char(crc >> 16)).append(char(crc >> 8)).append(char(crc));
    return bytes;
}

// A frame around `payload` under the header word `word` (the length, unless testing).
inline QByteArray frameWithWord(quint16 word, const QByteArray &payload)
{
    QByteArray bytes;
    bytes.append('\xD3').append(char(word >> 8)).append(char(word & 0xFF)).append(payload);
    return withCrc(bytes);
}

inline QByteArray frame(const QByteArray &payload)
{
    return frameWithWord(static_cast<quint16>(payload.size()), payload);
}

// Random payload bytes (0xD3 among them) of the given length.
inline QByteArray randomBytes(std::mt19937 &random, int length)
{
    QByteArray bytes(length, Qt::Uninitialized);
    for (char &byte : bytes)
        byte = char(random() & 0xFF);
    return bytes;
}

// A real station message, as a reference station sends it.
inline QByteArray stationFrame(uint16_t stationId, int64_t x, int64_t y, int64_t z)
{
    using namespace Kvt::Nuvrix;
    RTCM3_Message_Type_1005_s record;
    std::memset(&record, 0, sizeof record);  // init leaves the other fields as they are
    RTCM3_init_Message_Type_1005(&record);
    record.Reference_Station_ID = stationId;
    record.GPS_Indicator = 1;
    record.ECEF_X = x;
    record.ECEF_Y = y;
    record.ECEF_Z = z;
    uint8_t buffer[64] = {};
    const int32_t bits = RTCM3_encode_Message_Type_1005(buffer, sizeof buffer, &record);
    return bits > 0 ? QByteArray(reinterpret_cast<const char *>(buffer), bits / 8) : QByteArray();
}

struct Outcome
{
    QList<QByteArray> frames;
    quint64 dropped = 0;
    int crcErrors = 0;
    quint32 left = 0;
    bool allReportsNameTheFormat = true;

    bool operator==(const Outcome &other) const
    {
        return frames == other.frames && dropped == other.dropped && crcErrors == other.crcErrors
            && left == other.left;
    }
};

// Gives the size of the next chunk, at most `remaining`.
using Chunker = std::function<qsizetype(qsizetype remaining)>;

// Feeds the stream in chunks as a host does, hands every frame to `onFrame` as soon as it is
// ready, and ends the stream.
template <typename OnFrame>
void pump(RTCM3Synchronizer &sync, const QByteArray &stream, const Chunker &nextChunk, OnFrame &&onFrame)
{
    const auto drain = [&] {
        while (sync.hasBlock())
            onFrame(sync.getBlockBytes());
    };
    for (qsizetype at = 0; at < stream.size();) {
        const qsizetype size = nextChunk(stream.size() - at);
        sync.appendBytes(stream.mid(at, size));
        at += size;
        drain();
    }
    sync.endOfStream();
    drain();
}

// Feeds the stream as a host does, taking every frame as soon as it is ready, and ends it.
inline Outcome feed(const QByteArray &stream, const Chunker &nextChunk)
{
    RTCM3Synchronizer sync;
    RecordingObserver observer;
    sync.setObserver(&observer);
    Outcome outcome;
    pump(sync, stream, nextChunk, [&](const QByteArray &frame) { outcome.frames.append(frame); });
    outcome.dropped = observer.totalDropped();
    outcome.crcErrors = observer.crcErrors();
    outcome.left = sync.getNumberOfBytesLeft();
    for (const FormatInfo *format : observer.formats())
        outcome.allReportsNameTheFormat &= format == RTCM3_FormatInfo::getInstance();
    return outcome;
}

// The same through the codec's splitter, which hands frames over as views of each chunk.
inline Outcome feedSplitter(const QByteArray &stream, const Chunker &nextChunk)
{
    struct Collect
    {
        Outcome &outcome;
        void frame(const uint8_t *data, size_t size)
        {
            outcome.frames.append(QByteArray(reinterpret_cast<const char *>(data), qsizetype(size)));
        }
        void skipped(size_t count, bool crcError)
        {
            outcome.dropped += count;
            outcome.crcErrors += crcError;
        }
    };
    Outcome outcome;
    Collect collect{outcome};
    Kvt::Nuvrix::RTCM3FrameSplitter splitter;
    for (qsizetype at = 0; at < stream.size();) {
        const qsizetype size = nextChunk(stream.size() - at);
        const QByteArray chunk = stream.mid(at, size);  // its own buffer: a view past it is caught
        splitter.append(reinterpret_cast<const uint8_t *>(chunk.constData()), size_t(size), collect);
        at += size;
    }
    splitter.endOfInput(collect);
    outcome.left = quint32(splitter.held());
    return outcome;
}

inline Outcome feedWhole(const QByteArray &stream)
{
    return feed(stream, [](qsizetype remaining) { return remaining; });
}

inline Outcome feedBytewise(const QByteArray &stream)
{
    return feed(stream, [](qsizetype) { return qsizetype(1); });
}

inline Outcome feedRandomly(const QByteArray &stream, unsigned seed, int largest)
{
    std::mt19937 random(seed);
    return feed(stream, [&random, largest](qsizetype remaining) {
        return std::min<qsizetype>(remaining, std::uniform_int_distribution<int>(1, largest)(random));
    });
}

// The framing rule stated plainly over a whole stream: a 0xD3 whose header word is below
// 1023 and whose bytes are all there is a frame if its CRC matches, else a CRC error; every
// byte not in a frame is dropped, and a rejected candidate costs its first byte only.
inline Outcome model(const QByteArray &stream)
{
    const auto *bytes = reinterpret_cast<const uint8_t *>(stream.constData());
    const qsizetype size = stream.size();
    Outcome outcome;
    qsizetype inFrames = 0;
    for (qsizetype at = 0; at < size;) {
        if (bytes[at] == 0xD3 && at + 4 <= size) {
            const qsizetype length = bytes[at + 1] << 8 | bytes[at + 2];
            if (length < 1023 && at + length + 6 <= size) {
                const QByteArray candidate = stream.mid(at, length + 6);
                if (withCrc(candidate.left(length + 3)) == candidate) {
                    outcome.frames.append(candidate);
                    inFrames += candidate.size();
                    at += candidate.size();
                    continue;
                }
                ++outcome.crcErrors;
            }
        }
        ++at;
    }
    outcome.dropped = quint64(size - inFrames);
    return outcome;
}

} // namespace syncstreams
