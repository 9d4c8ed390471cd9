// The whole road from received bytes to host messages, synchronizer and decoder together:
// the sample stream with garbage, corrupted, cut and undecodable frames spliced in gives the
// same messages, events and counts however its bytes are cut into chunks, and the same as
// its frames decoded one by one.

#include "../support/live_objects.h"
#include "../support/message_dump.h"
#include "../support/random_record.h"
#include "../support/stream_frames.h"
#include "../sync/sync_streams.h"

#include "nuvrixrtcm3.h"
#include "RecordingObserver.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <numeric>

using namespace Kvt::Nuvrix;

// The road runs on the bundled sample, written when the programs are built.
#ifdef NUVRIX_SAMPLE_STREAM
namespace {

// What the host saw. Messages are read only after the whole stream went by, so that each
// must still hold its own values after the frames behind it were decoded.
struct Road
{
    QStringList messages;
    QStringList events;
    QStringList unknown;
    quint64 dropped = 0;
    int crcErrors = 0;
    quint32 left = 0;
};

void record(Road &road, const RecordingObserver &host)
{
    for (const Message *message : host.messages())
        road.messages << messagedump::dump(message);
    for (const NuvrixEvent &event : host.events())
        road.events << QStringLiteral("%1 %2").arg(event.getType()).arg(event.getText());
    road.unknown << host.unknownMessages();
}

Road travel(const QByteArray &stream, const syncstreams::Chunker &nextChunk)
{
    RecordingObserver host(true);
    RTCM3Synchronizer sync;
    RTCM3Decoder decoder;
    sync.setObserver(&host);
    decoder.setObserver(&host);
    syncstreams::pump(sync, stream, nextChunk, [&](const QByteArray &frame) {
        decoder.decodeMessage(reinterpret_cast<const uint8_t *>(frame.constData()), uint(frame.size()));
    });
    Road road;
    record(road, host);
    road.dropped = host.totalDropped();
    road.crcErrors = host.crcErrors();
    road.left = sync.getNumberOfBytesLeft();
    return road;
}

// Each frame decoded alone by a decoder of its own.
Road oneByOne(const QList<QByteArray> &frames)
{
    Road road;
    for (const QByteArray &frame : frames) {
        RecordingObserver host(true);
        RTCM3Decoder decoder;
        decoder.setObserver(&host);
        decoder.decodeMessage(reinterpret_cast<const uint8_t *>(frame.constData()), uint(frame.size()));
        record(road, host);
    }
    return road;
}

struct Spliced
{
    QByteArray bytes;
    QList<QByteArray> frames;  // every frame with a valid CRC, in stream order
    int decodeErrors = 0;
    int unknownNumbers = 0;
};

QByteArray encoded(int e, std::mt19937_64 &random)
{
    const randomrecord::Encoded made = randomrecord::randomFrame(e, random, 2);
    return QByteArray(reinterpret_cast<const char *>(made.frame.data()), qsizetype(made.frame.size()));
}

// The sample's frames with something spliced in before most of them: garbage, a frame with
// a flipped bit, a frame cut short, a false preamble whose length covers what follows, and
// frames with a valid CRC that decode to no message (unknown number, payload too short for
// its message, a message of the codec alone). The stream ends inside a frame.
Spliced splice(const QList<QByteArray> &sample, unsigned seed)
{
    std::mt19937 random(seed);
    std::mt19937_64 random64(seed);
    const auto pick = [&random](int low, int high) { return std::uniform_int_distribution<int>(low, high)(random); };
    const auto anyFrame = [&] { return sample[pick(0, int(sample.size()) - 1)]; };
    Spliced spliced;
    const auto addFrame = [&spliced](const QByteArray &frame) {
        spliced.bytes += frame;
        spliced.frames << frame;
    };
    for (const QByteArray &next : sample) {
        QByteArray bad = anyFrame();
        int cut = pick(1, int(bad.size()) - 1);
        switch (pick(0, 9)) {
        case 0:
            spliced.bytes += syncstreams::randomBytes(random, pick(1, 80));
            break;
        case 1:
            bad[pick(3, int(bad.size()) - 1)] ^= char(1 << pick(0, 7));
            spliced.bytes += bad;
            break;
        case 2: // unless the next frame would complete it as it was
            while (next.startsWith(bad.mid(cut)))
                --cut;
            spliced.bytes += bad.left(cut);
            break;
        case 3:
            spliced.bytes += QByteArray::fromHex("d3") + char(pick(0, 3)) + char(pick(0, 255));
            break;
        case 4: {
            const int number = pick(0, 1) ? 999 : pick(2, 999);
            addFrame(syncstreams::frame(QByteArray(1, char(number >> 4)) + char((number & 0x0F) << 4) + "\x01\x02"));
            ++spliced.unknownNumbers;
            break;
        }
        case 5: // a real payload cut short, under a CRC of its own
            addFrame(syncstreams::frame(bad.mid(3, pick(2, streamframes::payloadLength(bad) - 1))));
            ++spliced.decodeErrors;
            break;
        case 6:
            addFrame(encoded(pick(RTCM3_MESSAGE_TYPE_1240, RTCM3_MESSAGE_TYPE_1263), random64));
            break;
        default:
            break;
        }
        addFrame(next);
    }
    spliced.bytes += anyFrame().chopped(4);
    return spliced;
}

syncstreams::Chunker randomChunks(unsigned seed, int largest)
{
    auto random = std::make_shared<std::mt19937>(seed);
    return [random, largest](qsizetype remaining) {
        return std::min<qsizetype>(remaining, std::uniform_int_distribution<int>(1, largest)(*random));
    };
}

using WholeRoad = LiveHostObjects;

TEST_F(WholeRoad, MessagesEventsAndCountsDoNotDependOnHowTheBytesAreChunked)
{
    const QByteArray sample = streamframes::bundledSample();
    ASSERT_FALSE(sample.isEmpty()) << "no sample stream";
    const QList<QByteArray> sampleFrames = streamframes::splitClean(sample).frames;
    ASSERT_GT(sampleFrames.size(), 100);

    for (const unsigned seed : {1u, 2u, 3u}) {
        SCOPED_TRACE(seed);
        const Spliced spliced = splice(sampleFrames, seed);
        // The splices are what they claim: the framing rule finds exactly the frames added.
        const syncstreams::Outcome framing = syncstreams::model(spliced.bytes);
        ASSERT_TRUE(framing.frames == spliced.frames);
        ASSERT_GT(framing.crcErrors, 0);

        Road expected = oneByOne(spliced.frames);
        expected.dropped = quint64(std::accumulate(spliced.frames.cbegin(), spliced.frames.cend(), spliced.bytes.size(),
                                                   [](qsizetype left, const QByteArray &f) { return left - f.size(); }));
        expected.crcErrors = framing.crcErrors;
        ASSERT_GE(expected.messages.size(), sampleFrames.size());
        ASSERT_GT(spliced.decodeErrors, 0);
        ASSERT_GT(spliced.unknownNumbers, 0);
        ASSERT_EQ(expected.events.size(), spliced.decodeErrors + spliced.unknownNumbers);
        ASSERT_EQ(expected.unknown.size(), spliced.unknownNumbers);

        const QList<std::pair<const char *, syncstreams::Chunker>> chunkings = {
            {"all at once", [](qsizetype remaining) { return remaining; }},
            {"one byte at a time", [](qsizetype) { return qsizetype(1); }},
            {"random up to 7", randomChunks(seed, 7)},
            {"random up to 300", randomChunks(seed, 300)},
            {"random up to 4000", randomChunks(seed, 4000)},
        };
        for (const auto &[name, chunker] : chunkings) {
            SCOPED_TRACE(name);
            const Road road = travel(spliced.bytes, chunker);
            ASSERT_EQ(road.messages.size(), expected.messages.size());
            for (qsizetype i = 0; i < road.messages.size(); ++i)
                ASSERT_EQ(road.messages[i], expected.messages[i]) << "message " << i;
            EXPECT_EQ(road.events, expected.events);
            EXPECT_EQ(road.unknown, expected.unknown);
            EXPECT_EQ(road.dropped, expected.dropped);
            EXPECT_EQ(road.crcErrors, expected.crcErrors);
            EXPECT_EQ(road.left, 0u);
        }
    }
}

} // namespace
#endif
