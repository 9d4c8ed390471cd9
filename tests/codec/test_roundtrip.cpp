// Table-driven over every message of both lists: records filled at random within every
// field's width encode, decode back to the same values, and survive truncation at every length.
// The filler walks the same layout tables as the codec, so a new list entry is tested by
// adding it; the values it compares come from the wire, not from the tables.

#include "RTCM3_codec.h"
#include "RTCM3_layout.h"
#include "frames.h"
#include "../support/random_record.h"
#include "reference_decode.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

using namespace Kvt::Nuvrix;
using namespace randomrecord;

namespace {

class EveryMessage : public ::testing::TestWithParam<int> {};

} // namespace

TEST_P(EveryMessage, RandomRecordsSurviveEncodeAndDecode)
{
    const RecordLayout& l = *anyLayout(GetParam());
    std::mt19937_64 rng(GetParam());
    for (int round = 0; round < 24; ++round) {
        const int groupSize = round % 4;  // 0 included: empty groups, strings and masks
        _RTCM3_message_t original;
        std::memset(&original, 0, sizeof(original));
        layout::initRecord(l, &original);
        Filler{rng, l.messageNumber, groupSize}.fill(l, &original);

        testframes::Bytes buffer(4096, 0);
        const int32_t bits = layout::encodeFrame(l, buffer.data(), static_cast<uint16_t>(buffer.size()), &original);
        ASSERT_GT(bits, 0) << RTCM3_any_error_to_string(bits);
        ASSERT_EQ(bits % 8, 0);
        const size_t size = bits / 8;
        EXPECT_EQ(original.header.kvtcg_bits, static_cast<uint32_t>(bits)) << "bit counter of a fresh record";
        EXPECT_EQ(original.Message_Type_1005.Message_Length, size - 6);
        const testframes::Bytes frame(buffer.begin(), buffer.begin() + size);
        EXPECT_EQ(((frame[1] & 3) << 8) | frame[2], static_cast<int>(size - 6)) << "Message_Length on the wire";
        EXPECT_TRUE(testframes::crcMatches(frame.data(), frame.size()));

        // Decode from an exactly sized heap copy, so any read past the frame is caught.
        std::vector<uint8_t> exact(frame);
        _RTCM3_message_t decoded;
        ASSERT_EQ(decodeAny(l, exact.data(), static_cast<uint16_t>(exact.size()), &decoded), bits);
        EXPECT_EQ(decoded.header.kvtcg_message, GetParam());
        EXPECT_EQ(decoded.header.kvtcg_bits, static_cast<uint32_t>(bits));
        EXPECT_EQ(referencedecode::firstDifference(l, &original, &decoded, l.messageNumber), "");
        const uint8_t* crc = reinterpret_cast<const uint8_t*>(&decoded) + l.crcOffset;
        EXPECT_EQ(std::memcmp(crc, &frame[size - 3], 3), 0) << "CRC bytes kept";

        // Encoding the same record again gives the same frame and doubles its bit counter.
        testframes::Bytes again(size, 0);
        EXPECT_EQ(layout::encodeFrame(l, again.data(), static_cast<uint16_t>(size), &original), bits);
        EXPECT_EQ(again, frame);
        EXPECT_EQ(original.header.kvtcg_bits, 2u * bits);

        RTCM3_free_any_children(&original);
        RTCM3_free_any_children(&decoded);
    }
}

// Every cut of a valid frame gives what a literal reading of the decode rule gives: the
// code of the last field that did not fit (or the CRC's), the same members and bit counter.
TEST_P(EveryMessage, TruncatedFramesGiveTheCodeOfTheLastFieldThatDidNotFit)
{
    std::mt19937_64 rng(1000 + GetParam());
    for (int groupSize = 1; groupSize <= 2; ++groupSize) {
        const Encoded e = randomFrame(GetParam(), rng, groupSize);
        ASSERT_GT(e.bits, 0);
        EXPECT_EQ(referencedecode::cutMismatch(*anyLayout(GetParam()), e.frame), "");
    }
}

// Decoding frame after frame with kept group arrays: each array comes back holding an earlier
// frame's values, larger or smaller, and every cut still reads as a fresh record does.
TEST_P(EveryMessage, KeptGroupArraysReadAsFreshOnes)
{
    std::mt19937_64 rng(4000 + GetParam());
    const layout::ArrayReuse reuse;
    for (int groupSize : {3, 1, 2}) {
        const Encoded e = randomFrame(GetParam(), rng, groupSize);
        ASSERT_GT(e.bits, 0);
        EXPECT_EQ(referencedecode::cutMismatch(*anyLayout(GetParam()), e.frame), "") << "groups of " << groupSize;
    }
}

TEST_P(EveryMessage, EncodingIntoShortBuffersNeverWritesOutside)
{
    std::mt19937_64 rng(2000 + GetParam());
    const RecordLayout& l = *anyLayout(GetParam());
    _RTCM3_message_t record;
    std::memset(&record, 0, sizeof(record));
    layout::initRecord(l, &record);
    Filler{rng, l.messageNumber, 2}.fill(l, &record);
    testframes::Bytes full(4096, 0);
    const int32_t bits = layout::encodeFrame(l, full.data(), 4096, &record);
    ASSERT_GT(bits, 0);
    for (int size = 0; size < bits / 8; ++size) {
        std::vector<uint8_t> buffer(size);  // exact size: ASan sees any write past it
        const int32_t r = layout::encodeFrame(l, buffer.data(), static_cast<uint16_t>(size), &record);
        ASSERT_LT(r, 0) << "size " << size;
        if (size == bits / 8 - 1) {
            EXPECT_EQ(r, l.crcExtCode);
        }
    }
    RTCM3_free_any_children(&record);
}

// Holds no array at any depth it can reach without one.
bool ownsNoArray(const RecordLayout& l, const void* record)
{
    for (uint16_t k = 0; k < l.fieldCount; ++k) {
        const layout::Field& f = l.fields[k];
        const auto* member = static_cast<const uint8_t*>(record) + f.offset;
        if (f.kind == layout::Kind::Group && *reinterpret_cast<void* const*>(member) != nullptr)
            return false;
        if (f.kind == layout::Kind::Embed && !ownsNoArray(*f.sub, member))
            return false;
    }
    return true;
}

// After any result of a decode, one release call frees what the record owns and leaves it
// owning nothing, so that a second call or the next decode into the same record can neither
// leak nor free twice (the sanitizer build sees both).
TEST_P(EveryMessage, OneReleaseAfterAnyResultLeavesNothingToLeakOrFreeTwice)
{
    std::mt19937_64 rng(3000 + GetParam());
    const RecordLayout& l = *anyLayout(GetParam());
    const Encoded e = randomFrame(GetParam(), rng, 3);
    ASSERT_GT(e.bits, 0);
    RTCM3_context_s disabling;
    RTCM3_init_context(&disabling);
    const bool core = RTCM3_layout(GetParam()) != nullptr;  // only core messages have an enable bit
    if (core)
        layout::setEnabled(disabling.enabled, GetParam(), false);
    testframes::Bytes unknown = e.frame;
    unknown[3] = 0;  // message number 0
    unknown[4] &= 0x0F;

    struct Decode {
        std::string kind;
        testframes::Bytes frame;
        RTCM3_context_s* context;
        int32_t expected;  // 0: any failure
    };
    std::vector<Decode> decodes = {
        {"whole", e.frame, nullptr, e.bits},
        {"disabled", e.frame, &disabling, l.disabledCode},
        {"unknown number", unknown, nullptr, RTCM3_ERR_INVALID_MESSAGE},
        {"whole again", e.frame, nullptr, e.bits},
    };
    if (!core)
        decodes.erase(decodes.begin() + 1);
    for (size_t cut = 0; cut < e.frame.size(); ++cut)
        decodes.push_back({"cut at " + std::to_string(cut), testframes::Bytes(e.frame.begin(), e.frame.begin() + cut),
                           nullptr, 0});

    _RTCM3_message_t record;
    std::memset(&record, 0xA5, sizeof(record));  // as junk as an uninitialised record
    for (const Decode& d : decodes) {
        SCOPED_TRACE(d.kind);
        const int32_t r = d.context ? RTCM3_decode(d.context, d.frame.data(), static_cast<uint16_t>(d.frame.size()), &record)
                                    : decodeAny(l, d.frame.data(), static_cast<uint16_t>(d.frame.size()), &record);
        if (d.expected != 0)
            EXPECT_EQ(r, d.expected) << RTCM3_any_error_to_string(r);
        else
            EXPECT_LT(r, 0);
        RTCM3_free_any_children(&record);
        RTCM3_free_any_children(&record);
        const RecordLayout* held = anyLayout(record.header.kvtcg_message);
        EXPECT_TRUE(held == nullptr || ownsNoArray(*held, &record));
        const bool begun = r != RTCM3_ERR_INVALID_MESSAGE && r != l.disabledCode;
        EXPECT_EQ(held, begun ? &l : nullptr) << "the header names what the record holds";
    }
}

INSTANTIATE_TEST_SUITE_P(Codec, EveryMessage, ::testing::ValuesIn(messageEnumerators()),
                         [](const ::testing::TestParamInfo<int>& info) {
                             return std::string(RTCM3_message_enum_to_string(info.param)).substr(6);
                         });
INSTANTIATE_TEST_SUITE_P(Extension, EveryMessage, ::testing::ValuesIn(extensionEnumerators()),
                         [](const ::testing::TestParamInfo<int>& info) {
                             return std::string(RTCM3_ext_enum_to_string(info.param)).substr(6);
                         });
