// The synchronizer's rules on small hand-made inputs: what is dropped and reported, what is
// delivered, what is kept for the next chunk and what the end of the stream releases.

#include "sync_streams.h"

#include "MemLeakTracer.h"

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

TEST_F(Synchronizer, EmptyInputOnEmptySynchronizerReportsNothing)
{
    EXPECT_FALSE(mSync.appendBytes(QByteArray()));
    EXPECT_FALSE(mSync.endOfStream());
    EXPECT_TRUE(mObserver.droppedReports().isEmpty());
    EXPECT_EQ(mSync.getNumberOfBytesLeft(), 0u);
}

TEST_F(Synchronizer, BytesWithoutPreambleAreDroppedInOneReport)
{
    EXPECT_FALSE(mSync.appendBytes(QByteArray::fromHex("000102")));
    EXPECT_EQ(mObserver.droppedReports(), QList<unsigned int>{3});
    EXPECT_EQ(mSync.getNumberOfBytesLeft(), 0u);
}

TEST_F(Synchronizer, GarbageBeforeAFrameIsDroppedInOneReport)
{
    EXPECT_TRUE(mSync.appendBytes(QByteArray::fromHex("55aa") + kStation));
    EXPECT_EQ(mObserver.droppedReports(), QList<unsigned int>{2});
    EXPECT_EQ(mSync.getBlockBytes(), kStation);
    EXPECT_EQ(mSync.getNumberOfBytesLeft(), 0u);
}

// The shortest and the longest frames: an off-by-one on either end of the length loses them.
TEST_F(Synchronizer, ShortestAndLongestFramesAreValid)
{
    const QByteArray empty = QByteArray::fromHex("d3000047ea4b");
    const QByteArray longest = frame(plainPayload(1022));
    EXPECT_TRUE(mSync.appendBytes(empty + longest));
    EXPECT_EQ(takeAll(), (QList<QByteArray>{empty, longest}));
    EXPECT_EQ(longest.size(), 1028);
    EXPECT_EQ(mObserver.crcErrors(), 0);
    EXPECT_TRUE(mObserver.droppedReports().isEmpty());
}

TEST_F(Synchronizer, TwoFramesInOneChunkComeOutInOrder)
{
    EXPECT_TRUE(mSync.appendBytes(kFrameA + kStation));
    EXPECT_EQ(mSync.getBlockBytes(), kFrameA);
    EXPECT_TRUE(mSync.hasBlock());
    EXPECT_EQ(mSync.getBlockBytes(), kStation);
    EXPECT_FALSE(mSync.hasBlock());
    EXPECT_EQ(mSync.getNumberOfBytesLeft(), 0u);
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

// Header words of 1023 and above are false synchronisations: no CRC error, one byte, and no
// waiting for the 1029 bytes such a length would claim.
TEST_F(Synchronizer, HeaderWordOfLimitOrReservedBitsIsRejectedAtOnce)
{
    for (const char *header : {"d303ff00", "d3fc0000", "d3040000", "d3ffff00"}) {
        SCOPED_TRACE(header);
        mObserver.clear();
        EXPECT_FALSE(mSync.appendBytes(QByteArray::fromHex(header)));
        EXPECT_EQ(mObserver.droppedReports(), (QList<unsigned int>{1, 3}));
        EXPECT_EQ(mObserver.crcErrors(), 0);
        EXPECT_EQ(mSync.getNumberOfBytesLeft(), 0u);
    }
}

TEST_F(Synchronizer, TakingWithoutAFrameChangesNothing)
{
    mSync.appendBytes(kFrameA.left(10));
    EXPECT_TRUE(mSync.getBlockBytes().isEmpty());
    EXPECT_FALSE(mSync.hasBlock());
    EXPECT_EQ(mSync.getNumberOfBytesLeft(), 10u);
    EXPECT_TRUE(mSync.appendBytes(kFrameA.mid(10)));
    EXPECT_EQ(mSync.getBlockBytes(), kFrameA);
    EXPECT_TRUE(mObserver.droppedReports().isEmpty());
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

// Reads split frames anywhere: each split must deliver the frame, with nothing dropped.
TEST(SplitFrame, IsDeliveredWhereverTheChunksMeet)
{
    for (qsizetype split = 1; split < kStation.size(); ++split) {
        SCOPED_TRACE(split);
        RTCM3Synchronizer sync;
        RecordingObserver observer;
        sync.setObserver(&observer);
        EXPECT_FALSE(sync.appendBytes(kStation.left(split)));
        EXPECT_EQ(sync.getNumberOfBytesLeft(), quint32(split));
        EXPECT_TRUE(sync.appendBytes(kStation.mid(split)));
        EXPECT_EQ(sync.getBlockBytes(), kStation);
        EXPECT_TRUE(observer.droppedReports().isEmpty());
        EXPECT_EQ(observer.crcErrors(), 0);
    }
}

TEST_F(Synchronizer, AppendingBehindAReadyFrameKeepsItAtTheHead)
{
    EXPECT_TRUE(mSync.appendBytes(kFrameA));
    EXPECT_TRUE(mSync.appendBytes(kFrameB.left(5)));
    EXPECT_EQ(mSync.getNumberOfBytesLeft(), quint32(kFrameA.size() + 5));
    EXPECT_EQ(mSync.getBlockBytes(), kFrameA);
    EXPECT_FALSE(mSync.hasBlock());
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

TEST(SynchronizerLifetime, AnnouncesItselfToTheAllocationTracer)
{
    MemLeakTracer *tracer = MemLeakTracer::getInstance();
    const int before = tracer->liveCount("RTCM3Synchronizer");
    {
        RTCM3Synchronizer sync;
        sync.appendBytes(kFrameA.left(5));
        EXPECT_EQ(tracer->liveCount("RTCM3Synchronizer"), before + 1);
    }
    EXPECT_EQ(tracer->liveCount("RTCM3Synchronizer"), before);
}

} // namespace
