// What a decode allocates goes again. Plain heap arrays are invisible to the allocation
// tracer, so the tests of failed and codec-only decodes measure the heap in use instead.

#include "../support/live_objects.h"
#include "../support/message_dump.h"
#include "../support/random_record.h"
#include "../support/stream_frames.h"
#include "../sync/sync_streams.h"

#include "nuvrixrtcm3.h"
#include "RTCM3_layout.h"
#include "RecordingObserver.h"

#include <gtest/gtest.h>

#include <malloc.h>

#include <functional>

using namespace Kvt::Nuvrix;

namespace {

// Counts what the decoder reports, keeping nothing that would grow the heap.
class CountingObserver : public HostObserver
{
public:
    void message(const MessageSource *, const Message *) override { ++messages; }
    void unknownMessage(const MessageSource *, const FormatInfo *, const QString &) override { ++unknown; }
    void event(const MessageSource *, const NuvrixEvent &event) override
    {
        ++events;
        decodeErrors += event.getType() == NuvrixEvent::DecodeError;
    }

    int messages = 0;
    int unknown = 0;
    int events = 0;
    int decodeErrors = 0;
};

// Heap bytes in use that `work` leaves behind on its second and third run; the first run
// takes the one-time allocations of Qt and the host.
qint64 heapLeftBehind(const std::function<void()> &work)
{
    work();
    const size_t before = mallinfo2().uordblks;
    work();
    work();
    return qint64(mallinfo2().uordblks) - qint64(before);
}

// The allocator's own caches move the count by a few kilobytes; leaving the arrays of the
// failed decodes below behind leaves over half a megabyte.
constexpr qint64 kAllocatorNoise = 64 * 1024;

struct Frame
{
    int enumerator;
    QByteArray bytes;
};

// Valid frames, three elements in every group, of the messages that `select` picks.
QList<Frame> framesWithGroups(const std::function<bool(int)> &select)
{
    QList<Frame> frames;
    for (const int e : randomrecord::messageEnumerators()) {
        if (!RTCM3_layout(e)->ownsArrays || !select(e))
            continue;
        std::mt19937_64 random(1000 + unsigned(e));
        const randomrecord::Encoded encoded = randomrecord::randomFrame(e, random, 3);
        frames.append({e, QByteArray(reinterpret_cast<const char *>(encoded.frame.data()),
                                     qsizetype(encoded.frame.size()))});
    }
    return frames;
}

bool hasMessageClass(int e)
{
    return RTCM3_messageInfoOf(e) != nullptr;
}

using FailedDecode = LiveHostObjects;

// A message cut anywhere behind its sub-type fails after its decode has started, often with
// element arrays already allocated: the decoder must release them.
TEST_F(FailedDecode, EveryCutOfAMessageWithGroupsReleasesItsArrays)
{
    const QList<Frame> frames = framesWithGroups(hasMessageClass);
    ASSERT_GE(frames.size(), 20);
    RTCM3Decoder decoder;
    CountingObserver observer;
    decoder.setObserver(&observer);
    int cuts = 0;
    int wrongResults = 0;
    const qint64 left = heapLeftBehind([&] {
        for (const Frame &frame : frames) {
            ASSERT_GT(frame.bytes.size(), 7);
            for (qsizetype length = 7; length < frame.bytes.size(); ++length, ++cuts) {
                const int32_t r = decoder.decodeMessage(reinterpret_cast<const uint8_t *>(frame.bytes.constData()),
                                                        uint(length));
                wrongResults += r >= 0 || r == RTCM3_ERR_INVALID_MESSAGE;
            }
        }
    });
    EXPECT_EQ(wrongResults, 0);
    EXPECT_EQ(observer.messages, 0);
    EXPECT_EQ(observer.unknown, 0);
    EXPECT_EQ(observer.decodeErrors, cuts);
    EXPECT_EQ(observer.events, cuts);
    EXPECT_LT(left, kAllocatorNoise) << "heap bytes left by " << cuts << " failed decodes";
}

// Messages without a class are decoded and dropped: their arrays go with them, unseen.
TEST_F(FailedDecode, MessagesOfTheCodecAloneAreDroppedWithTheirArrays)
{
    const QList<Frame> frames = framesWithGroups([](int e) { return !hasMessageClass(e); });
    ASSERT_FALSE(frames.isEmpty());
    RTCM3Decoder decoder;
    CountingObserver observer;
    decoder.setObserver(&observer);
    int wrongResults = 0;
    const qint64 left = heapLeftBehind([&] {
        for (int round = 0; round < 50; ++round)
            for (const Frame &frame : frames)
                wrongResults += decoder.decodeMessage(reinterpret_cast<const uint8_t *>(frame.bytes.constData()),
                                                      uint(frame.bytes.size()))
                    != frame.bytes.size() * 8;
    });
    EXPECT_EQ(wrongResults, 0);
    EXPECT_EQ(observer.messages + observer.unknown + observer.events, 0);
    EXPECT_LT(left, kAllocatorNoise);
}

#ifdef NUVRIX_SAMPLE_STREAM

int liveMainMessages()
{
    int total = 0;
    const QHash<QByteArray, int> live = MemLeakTracer::getInstance()->liveCounts();
    for (auto it = live.cbegin(); it != live.cend(); ++it)
        if (it.key().startsWith("RTCM3_Message_Type_") && it.key().endsWith("_Message"))
            total += it.value();
    return total;
}

// The whole sample through synchronizer and decoder, every message kept and read to the last
// nested block: once the host lets go and the decoder is gone, nothing is left.
TEST(WholeSample, EveryHostObjectIsReleasedWithTheLastReferenceAndTheDecoder)
{
    const QByteArray sample = streamframes::bundledSample();
    const streamframes::Split split = streamframes::splitClean(sample);
    ASSERT_FALSE(sample.isEmpty());
    ASSERT_EQ(split.end, sample.size());

    RTCM3_FormatInfo::getInstance();
    MemLeakTracer *tracer = MemLeakTracer::getInstance();
    const qint64 before = tracer->totalLive();
    {
        RecordingObserver host(true);
        {
            RTCM3Synchronizer sync;
            RTCM3Decoder decoder;
            sync.setObserver(&host);
            decoder.setObserver(&host);
            syncstreams::pump(sync, sample, [](qsizetype remaining) { return remaining; }, [&](const QByteArray &frame) {
                decoder.decodeMessage(reinterpret_cast<const uint8_t *>(frame.constData()), uint(frame.size()));
            });
            EXPECT_EQ(tracer->liveCount("RTCM3Decoder"), 1);
            EXPECT_EQ(tracer->liveCount("RTCM3Synchronizer"), 1);
        }
        ASSERT_EQ(host.messages().size(), split.frames.size());
        EXPECT_EQ(liveMainMessages(), split.frames.size());
        EXPECT_TRUE(host.events().isEmpty());
        qsizetype nested = 0;
        for (const Message *message : host.messages())
            nested += messagedump::dump(message).count(QLatin1Char('{')) - 1;
        ASSERT_GT(nested, 0);
        EXPECT_EQ(tracer->totalLive(), before + split.frames.size() + nested);
        host.clear();
    }
    EXPECT_EQ(tracer->totalLive(), before) << tracer->report().toStdString();
    // Only the process-wide descriptions are left: no message, decoder or synchronizer.
    const QHash<QByteArray, int> live = tracer->liveCounts();
    for (auto it = live.cbegin(); it != live.cend(); ++it)
        EXPECT_TRUE(it.key().endsWith("Info")) << it.key().constData() << ": " << it.value();
}

#endif

} // namespace
