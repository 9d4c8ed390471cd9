// Whole streams: false preambles that claim real frames, chunking invariance of frames and
// counts, and real captures.

#include "sync_streams.h"

#include <QtCore/QDirIterator>
#include <QtCore/QFile>

#include <gtest/gtest.h>

using namespace syncstreams;

namespace {

struct BuiltStream
{
    QByteArray bytes;
    QList<QByteArray> goodFrames;
};

// Real frames of every length, some of our encoder, with garbage, corrupted, truncated and
// falsely announced frames between them.
BuiltStream mixedStream(unsigned seed, int pieces)
{
    std::mt19937 random(seed);
    const auto pick = [&random](int low, int high) {
        return std::uniform_int_distribution<int>(low, high)(random);
    };
    const auto goodFrame = [&]() {
        if (pick(0, 3) == 0)
            return stationFrame(uint16_t(pick(0, 4095)), pick(-6400000, 6400000) * 10000LL,
                                pick(-6400000, 6400000) * 10000LL, pick(-6400000, 6400000) * 10000LL);
        return frame(randomBytes(random, pick(0, 9) == 0 ? pick(0, 1022) : pick(0, 120)));
    };
    BuiltStream stream;
    for (int piece = 0; piece < pieces; ++piece) {
        const QByteArray good = goodFrame();
        QByteArray bad = goodFrame();
        int cut = pick(1, int(bad.size()) - 1);
        switch (pick(0, 5)) {
        case 0:
            stream.bytes += randomBytes(random, pick(1, 60));
            break;
        case 1: // one flipped bit anywhere behind the preamble
            bad[cut] ^= char(1 << pick(0, 7));
            stream.bytes += bad;
            break;
        case 2: // cut short, unless the next frame would complete it as it was
            while (good.startsWith(bad.mid(cut)))
                --cut;
            stream.bytes += bad.left(cut);
            break;
        case 3: // a preamble whose claimed length covers what follows
            stream.bytes += QByteArray::fromHex("d3") + char(pick(0, 3)) + char(pick(0, 255));
            break;
        default:
            break;
        }
        stream.bytes += good;
        stream.goodFrames.append(good);
    }
    return stream;
}

quint64 totalSize(const QList<QByteArray> &frames)
{
    quint64 total = 0;
    for (const QByteArray &frame : frames)
        total += quint64(frame.size());
    return total;
}

void expectAllFeedsAgree(const QByteArray &stream, const Outcome &expected)
{
    const QList<std::pair<const char *, Outcome>> feeds = {
        {"whole", feedWhole(stream)},
        {"bytewise", feedBytewise(stream)},
        {"random up to 7", feedRandomly(stream, 11, 7)},
        {"random up to 700", feedRandomly(stream, 12, 700)},
        {"random up to 5000", feedRandomly(stream, 13, 5000)},
        {"splitter whole", feedSplitter(stream, [](qsizetype remaining) { return remaining; })},
        {"splitter bytewise", feedSplitter(stream, [](qsizetype) { return qsizetype(1); })},
        {"splitter random up to 1500", feedSplitter(stream, [random = std::mt19937(14)](qsizetype remaining) mutable {
             return std::min<qsizetype>(remaining, std::uniform_int_distribution<int>(1, 1500)(random));
         })},
    };
    for (const auto &[name, outcome] : feeds) {
        SCOPED_TRACE(name);
        EXPECT_EQ(outcome.frames.size(), expected.frames.size());
        EXPECT_TRUE(outcome.frames == expected.frames);
        EXPECT_EQ(outcome.dropped, expected.dropped);
        EXPECT_EQ(outcome.crcErrors, expected.crcErrors);
        EXPECT_EQ(outcome.left, 0u);
        EXPECT_TRUE(outcome.allReportsNameTheFormat);
    }
}

// A 0xD3 in garbage whose claimed length covers real frames: skipping the claimed length
// would lose them; it must cost the one byte and, once its bytes are there, one CRC error.
TEST(FalsePreamble, CoveringRealFramesCostsOneByte)
{
    QList<QByteArray> frames;
    QByteArray body;
    for (int i = 0; i < 60; ++i) {
        frames.append(stationFrame(uint16_t(100 + i), 11445234LL * i, -5678432LL * i, 4230550LL + i));
        body += frames.last();
    }
    ASSERT_GT(body.size(), 1028);
    for (const char *header : {"d30010", "d30100", "d303fe"}) {
        SCOPED_TRACE(header);
        const QByteArray stream = QByteArray::fromHex("55aa") + QByteArray::fromHex(header) + body;
        Outcome expected;
        expected.frames = frames;
        expected.dropped = 5;
        expected.crcErrors = 1;
        expectAllFeedsAgree(stream, expected);
    }
}

// Every chunking of a stream gives the same frames and counts: exactly its real frames, all
// other bytes dropped, and the CRC errors that the framing rule finds over the whole stream.
TEST(ChunkingInvariance, FramesAndCountsDoNotDependOnChunkSizes)
{
    for (const unsigned seed : {1u, 2u, 3u}) {
        SCOPED_TRACE(seed);
        const BuiltStream stream = mixedStream(seed, 400);
        const Outcome expected = model(stream.bytes);
        ASSERT_TRUE(expected.frames == stream.goodFrames);
        ASSERT_EQ(expected.dropped, quint64(stream.bytes.size()) - totalSize(stream.goodFrames));
        ASSERT_GT(expected.crcErrors, 0);
        expectAllFeedsAgree(stream.bytes, expected);
    }
}

TEST(ChunkingInvariance, TwoChunksMeetingAnywhereGiveTheSameResult)
{
    const BuiltStream stream = mixedStream(4, 25);
    const Outcome expected = model(stream.bytes);
    ASSERT_TRUE(expected.frames == stream.goodFrames);
    for (qsizetype split = 1; split < stream.bytes.size(); ++split) {
        bool first = true;
        const auto twoChunks = [&first, split](qsizetype remaining) {
            return std::exchange(first, false) ? split : remaining;
        };
        ASSERT_TRUE(feed(stream.bytes, twoChunks) == expected) << "split at " << split;
        first = true;
        ASSERT_TRUE(feedSplitter(stream.bytes, twoChunks) == expected) << "splitter, split at " << split;
    }
}

QByteArray readSample(const QString &relative)
{
    QFile file(QStringLiteral(NUVRIX_SAMPLES_DIR "/") + relative);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

TEST(Samples, CaptureWithFalsePreamblesYieldsAll200Frames)
{
    const QByteArray capture = readSample(QStringLiteral("gpsd/rtcm3-3.log"));
    if (capture.isEmpty())
        GTEST_SKIP() << "no capture at " NUVRIX_SAMPLES_DIR;
    for (const Outcome &outcome : {feedWhole(capture), feedBytewise(capture)}) {
        EXPECT_EQ(outcome.frames.size(), 200);
        EXPECT_EQ(outcome.dropped + totalSize(outcome.frames), quint64(capture.size()));
        EXPECT_EQ(outcome.left, 0u);
    }
}

TEST(Samples, EveryCaptureIsFramedByTheRuleInAnyChunking)
{
    QDirIterator files(QStringLiteral(NUVRIX_SAMPLES_DIR), QDir::Files, QDirIterator::Subdirectories);
    int checked = 0;
    while (files.hasNext()) {
        const QString path = files.next();
        SCOPED_TRACE(path.toStdString());
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        const QByteArray capture = file.readAll();
        const Outcome expected = model(capture);
        EXPECT_TRUE(feedWhole(capture) == expected);
        EXPECT_TRUE(feedRandomly(capture, 21, 3000) == expected);
        ++checked;
    }
    if (checked == 0)
        GTEST_SKIP() << "no captures at " NUVRIX_SAMPLES_DIR;
}

} // namespace
