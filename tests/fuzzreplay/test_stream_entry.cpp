// How the stream fuzz entry reads its input and what it reports, checked against streams of
// known content: a mistake here would make the fuzzer test less than it claims, or make
// saved findings mean something else.

#include "stream_inputs.h"

#include <gtest/gtest.h>

#include <ostream>

using namespace Kvt::Nuvrix;
using nuvrixfuzz::StreamRun;
using nuvrixfuzz::streamInput;
using streaminputs::Bytes;
using streaminputs::everyMessage;
using streaminputs::frameOf;
using streaminputs::operator+;

namespace {

StreamRun runStream(const Bytes& input)
{
    return nuvrixfuzz::fuzzStream(input.data(), input.size());
}

struct Chunking {
    const char* name;
    uint8_t flags;
    std::vector<uint8_t> sizes;
};

void PrintTo(const Chunking& c, std::ostream* out)
{
    *out << c.name;
}

class EveryChunking : public ::testing::TestWithParam<Chunking> {};

} // namespace

// Frames split at any byte must still all come out whole, decode and reach the host.
TEST_P(EveryChunking, DeliversEveryFrameAndMessageWithNothingDropped)
{
    const streaminputs::FrameStream& stream = everyMessage();
    const StreamRun run = runStream(streamInput(GetParam().flags, GetParam().sizes, stream.bytes));
    EXPECT_EQ(run.bytesIn, qint64(stream.bytes.size()));
    EXPECT_EQ(run.frames, stream.frames);
    EXPECT_EQ(run.decoded, stream.frames);
    EXPECT_EQ(run.messages, stream.withMessageClass);
    EXPECT_EQ(run.droppedBytes, 0);
    EXPECT_EQ(run.crcErrors, 0);
    EXPECT_EQ(run.events, 0);
}

INSTANTIATE_TEST_SUITE_P(
    StreamEntry, EveryChunking,
    ::testing::Values(Chunking{"OneChunk", 0, {}}, Chunking{"SingleBytes", 0, {1}},
                      Chunking{"UnevenSmall", 0, {2, 3, 5, 7}}, Chunking{"LargestByte", 0, {255}},
                      Chunking{"ZeroMeansWide", 0, {0}},
                      Chunking{"ReadInsideNotification", nuvrixfuzz::kFlagReadInsideNotification, {13}},
                      Chunking{"ReadPastTheValues", nuvrixfuzz::kFlagTryMisuse, {0}}),
    [](const ::testing::TestParamInfo<Chunking>& info) { return std::string(info.param.name); });

// Reading inside the notification, where the decoder alone holds the message, and after
// the decode, where the observer kept it, must see the same fields and nested blocks.
TEST(StreamEntry, ReadingInsideOrAfterTheNotificationReadsTheSameValues)
{
    const Bytes& all = everyMessage().bytes;
    const StreamRun kept = runStream(streamInput(0, {}, all));
    const StreamRun inside = runStream(streamInput(nuvrixfuzz::kFlagReadInsideNotification, {}, all));
    EXPECT_GT(kept.values, 0);
    EXPECT_GT(kept.subMessages, 0);
    EXPECT_EQ(inside.values, kept.values);
    EXPECT_EQ(inside.subMessages, kept.subMessages);
}

// A block and the blocks embedded in it, as its description states them.
int blocksIn(const MessageInfo* info)
{
    int blocks = 1;
    for (const FieldInfo* field : info->getFieldInfos())
        if (field->getType().kind() == FieldType::SubMessage && !field->isRepeated())
            blocks += blocksIn(field->getType().subMessageInfo());
    return blocks;
}

// Every element of a group, and every block embedded in one, is a nested message that the
// walk must reach.
TEST(StreamEntry, WalkReachesEveryElementOfAGroupAndItsBlocks)
{
    const MessageInfo* info = RTCM3_messageInfoOf(RTCM3_MESSAGE_TYPE_1004);
    ASSERT_NE(info, nullptr);
    const FieldInfo* group = info->findFieldInfo(QStringLiteral("L1 L2 Extended"));
    ASSERT_NE(group, nullptr);
    const int perElement = blocksIn(group->getType().subMessageInfo());
    for (const int groups : {1, 4}) {
        const StreamRun run = runStream(streamInput(0, {}, frameOf(RTCM3_MESSAGE_TYPE_1004, groups)));
        ASSERT_EQ(run.messages, 1);
        EXPECT_EQ(run.subMessages, groups * perElement) << groups << " elements";
    }
}

// A stream that stops inside a frame keeps the frames before it; the tail is dropped, and
// nothing stays held.
TEST(StreamEntry, StreamStoppingMidFrameDropsExactlyTheTail)
{
    const Bytes msm = frameOf(RTCM3_MESSAGE_TYPE_1077, 3);
    for (const size_t tail : {size_t(1), size_t(3), msm.size() / 2, msm.size() - 1}) {
        const Bytes stream = msm + Bytes(msm.begin(), msm.begin() + long(tail));
        const StreamRun run = runStream(streamInput(0, {7}, stream));
        EXPECT_EQ(run.frames, 1) << "tail of " << tail;
        EXPECT_EQ(run.droppedBytes, qint64(tail)) << "tail of " << tail;
    }
}

// After an end of stream, bytes start a new stream: a frame cut by it is lost for good.
TEST(StreamEntry, EndAfterEveryChunkLosesFramesCutByIt)
{
    const Bytes msm = frameOf(RTCM3_MESSAGE_TYPE_1077, 3);
    const Bytes twoFrames = msm + msm;
    const StreamRun cut = runStream(streamInput(nuvrixfuzz::kFlagEndEveryChunk, {1}, twoFrames));
    EXPECT_EQ(cut.frames, 0);
    EXPECT_EQ(cut.droppedBytes, qint64(twoFrames.size()));
    ASSERT_LE(msm.size(), 255u);
    const StreamRun aligned =
        runStream(streamInput(nuvrixfuzz::kFlagEndEveryChunk, {uint8_t(msm.size())}, twoFrames));
    EXPECT_EQ(aligned.frames, 2);
    EXPECT_EQ(aligned.droppedBytes, 0);
}

// The enable set in the input switches the decoder: disabled frames give an event each and
// no message.
TEST(StreamEntry, EnableSetFromTheInputLetsOnlyItsMessagesThrough)
{
    const streaminputs::FrameStream& stream = everyMessage();
    uint8_t only1077[nuvrixfuzz::kStreamEnableBytes] = {};
    Kvt::Nuvrix::layout::setEnabled(only1077, RTCM3_MESSAGE_TYPE_1077, true);
    const StreamRun run = runStream(streamInput(0, {}, stream.bytes, only1077));
    EXPECT_EQ(run.frames, stream.frames);
    EXPECT_EQ(run.decoded, 1);
    EXPECT_EQ(run.messages, 1);
    EXPECT_EQ(run.events, stream.frames - 1);
}

// The header is read as documented, also when the input ends inside it.
TEST(StreamEntry, HeaderReadsChunkSizesEnableSetAndStream)
{
    struct Case {
        const char* what;
        Bytes input;
        std::vector<int> sizes;
        bool enableSet;
        size_t stream;
    };
    Bytes withSet{uint8_t(nuvrixfuzz::kFlagEnableSet | 1), 9};
    withSet.resize(withSet.size() + nuvrixfuzz::kStreamEnableBytes + 4, 0xD3);
    const Case cases[] = {
        {"empty", {}, {}, false, 0},
        {"no chunk sizes", {0x00, 1, 2}, {}, false, 2},
        {"zero is a wide chunk", {0x02, 0, 17, 5}, {nuvrixfuzz::kWideChunk, 17}, false, 1},
        {"sizes run past the end", {0x0F, 3, 4}, {3, 4}, false, 0},
        {"enable set and stream", withSet, {9}, true, 4},
        {"enable set cut short is stream", {nuvrixfuzz::kFlagEnableSet, 1, 2, 3}, {}, false, 3},
    };
    for (const Case& c : cases) {
        const nuvrixfuzz::StreamInput in = nuvrixfuzz::parseStreamInput(c.input.data(), c.input.size());
        EXPECT_EQ(in.chunkSizes, c.sizes) << c.what;
        EXPECT_EQ(in.enableSet != nullptr, c.enableSet) << c.what;
        EXPECT_EQ(in.streamSize, c.stream) << c.what;
    }
}
