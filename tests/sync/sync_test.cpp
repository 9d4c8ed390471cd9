// The synchronizer's rules on small hand-made inputs: what is dropped and reported, what is
// delivered, what is kept for the next chunk and what the end of the stream releases.

#include "sync_streams.h"

#include <gtest/gtest.h>

using namespace syncstreams;

namespace {

// A payload without 0xD3, so that nothing inside it can start a candidate.
QByteArray plainPayload(int length, char first = 0x10)
{
    QByteArray payload(length, Qt::Uninitialized);
    for (int i = 0; i < length; ++i)
        payload[i] = char(first + i % 0x40);
    return payload;
}

const QByteArray kFrameA = frame(plainPayload(19));
const QByteArray kFrameB = frame(plainPayload(40, 0x50));
const QByteArray kStation = stationFrame(2003, 11445234, -56784320, 42305501);

class Synchronizer : public ::testing::Test
{
protected:
    Synchronizer() { mSync.setObserver(&mObserver); }

    void TearDown() override
    {
        for (const FormatInfo *format : mObserver.formats())
            EXPECT_EQ(format, RTCM3_FormatInfo::getInstance());
    }

    QList<QByteArray> takeAll()
    {
        QList<QByteArray> frames;
        while (mSync.hasBlock())
            frames.append(mSync.getBlockBytes());
        return frames;
    }

    RecordingObserver mObserver;
    RTCM3Synchronizer mSync;
};

struct ChunkCase
{
    const char *name;
    QByteArray input;
    bool ready;
    QList<QByteArray> frames;
    QList<unsigned int> dropped;
};

// One chunk on a fresh synchronizer: what it delivers at once, and the drop reports it makes.
TEST(SynchronizerChunk, DeliversItsFramesAndReportsEachRunOfDroppedBytesOnce)
{
    const QByteArray empty = QByteArray::fromHex("d3000047ea4b");
    const QByteArray longest = frame(plainPayload(1022));
    ASSERT_EQ(longest.size(), 1028);
    const ChunkCase cases[] = {
        {"nothing", {}, false, {}, {}},
        {"no preamble", QByteArray::fromHex("000102"), false, {}, {3}},
        {"garbage before a frame", QByteArray::fromHex("55aa") + kStation, true, {kStation}, {2}},
        // An off-by-one on either end of the length loses the shortest or the longest frame.
        {"shortest and longest", empty + longest, true, {empty, longest}, {}},
        // Header words of 1023 and above are false synchronisations: no CRC error, one byte,
        // and no waiting for the 1029 bytes such a length would claim.
        {"length 1023", QByteArray::fromHex("d303ff00"), false, {}, {1, 3}},
        {"reserved bits", QByteArray::fromHex("d3fc0000"), false, {}, {1, 3}},
        {"length 1024", QByteArray::fromHex("d3040000"), false, {}, {1, 3}},
        {"all bits", QByteArray::fromHex("d3ffff00"), false, {}, {1, 3}},
    };
    for (const ChunkCase &c : cases) {
        SCOPED_TRACE(c.name);
        RTCM3Synchronizer sync;
        RecordingObserver observer;
        sync.setObserver(&observer);
        EXPECT_EQ(sync.appendBytes(c.input), c.ready);
        QList<QByteArray> frames;
        while (sync.hasBlock())
            frames.append(sync.getBlockBytes());
        EXPECT_EQ(frames, c.frames);
        EXPECT_EQ(observer.droppedReports(), c.dropped);
        EXPECT_EQ(observer.crcErrors(), 0);
        EXPECT_EQ(sync.getNumberOfBytesLeft(), 0u);
        EXPECT_FALSE(sync.endOfStream());
        for (const FormatInfo *format : observer.formats())
            EXPECT_EQ(format, RTCM3_FormatInfo::getInstance());
    }
}

// Corrupting a byte of a frame (length, payload, CRC) must cost one CRC error and its
// preamble, then the bytes up to the next frame, which is still delivered.
TEST_F(Synchronizer, CorruptedFrameCostsOneCrcErrorThenTheNextFrameIsFound)
{
    const int size = int(kFrameB.size());
    for (const int position : {2, 3, 12, size - 3, size - 1}) {
        SCOPED_TRACE(position);
        RTCM3Synchronizer sync;
        RecordingObserver observer;
        sync.setObserver(&observer);
        QByteArray corrupted = kFrameB;
        corrupted[position] = char(corrupted[position] ^ 0x01);
        sync.appendBytes(corrupted + kFrameA);
        sync.endOfStream();
        EXPECT_EQ(sync.getBlockBytes(), kFrameA);
        EXPECT_EQ(observer.crcErrors(), 1);
        ASSERT_FALSE(observer.droppedReports().isEmpty());
        EXPECT_EQ(observer.droppedReports().first(), 1u);
        EXPECT_EQ(observer.totalDropped(), quint64(corrupted.size()));
    }
}

TEST_F(Synchronizer, LengthNeedsFourBytesAndCrcNeedsTheWholeFrame)
{
    quint16 length = 0xABCD;
    mSync.appendBytes(kFrameA.left(3));
    EXPECT_FALSE(mSync.getLength(length));
    EXPECT_EQ(length, 0xABCD);
    mSync.appendBytes(kFrameA.mid(3, 10));
    EXPECT_TRUE(mSync.getLength(length));
    EXPECT_EQ(length, 19);
    EXPECT_FALSE(mSync.validCRC(length));
    mSync.appendBytes(kFrameA.mid(13));
    EXPECT_TRUE(mSync.validCRC(length));
    EXPECT_FALSE(mSync.validCRC(length - 1));
}

TEST_F(Synchronizer, AppendingBehindAReadyFrameKeepsItAtTheHeadAndTakingNothingChangesNothing)
{
    EXPECT_TRUE(mSync.appendBytes(kFrameA));
    EXPECT_TRUE(mSync.appendBytes(kFrameB.left(5)));
    EXPECT_EQ(mSync.getNumberOfBytesLeft(), quint32(kFrameA.size() + 5));
    EXPECT_EQ(mSync.getBlockBytes(), kFrameA);
    EXPECT_FALSE(mSync.hasBlock());
    EXPECT_TRUE(mSync.getBlockBytes().isEmpty());
    EXPECT_EQ(mSync.getNumberOfBytesLeft(), 5u);
    EXPECT_TRUE(mSync.appendBytes(kFrameB.mid(5)));
    EXPECT_EQ(mSync.getBlockBytes(), kFrameB);
}

// A frame that was the whole buffer may share its bytes; later input must not reach it.
TEST_F(Synchronizer, TakenFrameIsNotChangedByLaterInput)
{
    mSync.appendBytes(kFrameA);
    const QByteArray taken = mSync.getBlockBytes();
    mSync.appendBytes(kFrameB);
    mSync.appendBytes(kFrameA);
    EXPECT_EQ(taken, kFrameA);
    EXPECT_EQ(takeAll(), (QList<QByteArray>{kFrameB, kFrameA}));
}

TEST_F(Synchronizer, EndOfStreamDropsATruncatedFrameAndHoldsNothing)
{
    for (const int kept : {1, 3, 4, 10, int(kFrameA.size()) - 1}) {
        SCOPED_TRACE(kept);
        mObserver.clear();
        EXPECT_FALSE(mSync.appendBytes(kFrameA.left(kept)));
        EXPECT_TRUE(mObserver.droppedReports().isEmpty());
        EXPECT_FALSE(mSync.endOfStream());
        EXPECT_EQ(mObserver.totalDropped(), quint64(kept));
        EXPECT_EQ(mObserver.crcErrors(), 0);
        EXPECT_EQ(mSync.getNumberOfBytesLeft(), 0u);
    }
}

// The false candidate claims 768 bytes, more than the input holds: without the end-of-stream
// call it would hold the real frames back for good.
TEST_F(Synchronizer, EndOfStreamReleasesFramesBehindAFalsePreamble)
{
    const QByteArray stream = QByteArray::fromHex("d30300") + kFrameA + kStation + kFrameB;
    EXPECT_FALSE(mSync.appendBytes(stream));
    EXPECT_EQ(mSync.getNumberOfBytesLeft(), quint32(stream.size()));
    EXPECT_TRUE(mSync.endOfStream());
    EXPECT_EQ(takeAll(), (QList<QByteArray>{kFrameA, kStation, kFrameB}));
    EXPECT_EQ(mObserver.totalDropped(), 3u);
    EXPECT_EQ(mObserver.crcErrors(), 0);
    EXPECT_EQ(mSync.getNumberOfBytesLeft(), 0u);
}

// The false candidate is met only once the waiting frame is taken, after the call.
TEST_F(Synchronizer, EndOfStreamGoesOnRejectingAsFramesAreTaken)
{
    EXPECT_TRUE(mSync.appendBytes(kFrameA + QByteArray::fromHex("d30300") + kStation + kFrameB));
    EXPECT_TRUE(mSync.endOfStream());
    EXPECT_EQ(takeAll(), (QList<QByteArray>{kFrameA, kStation, kFrameB}));
    EXPECT_EQ(mSync.getNumberOfBytesLeft(), 0u);
}

TEST_F(Synchronizer, BytesAfterEndOfStreamStartANewStream)
{
    mSync.endOfStream();
    EXPECT_FALSE(mSync.appendBytes(kFrameB.left(7)));
    EXPECT_EQ(mSync.getNumberOfBytesLeft(), 7u);
    EXPECT_TRUE(mSync.appendBytes(kFrameB.mid(7)));
    EXPECT_EQ(mSync.getBlockBytes(), kFrameB);
    EXPECT_TRUE(mObserver.droppedReports().isEmpty());
}

} // namespace
