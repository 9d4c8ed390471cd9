// CRCs against their published check values and table entries, and the rejections of the
// codec-facing checksum calls.
#include "kvtcg.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <vector>

namespace {

const uint8_t kCheckText[] = {'1', '2', '3', '4', '5', '6', '7', '8', '9'};

TEST(Crc, checkValuesMatchTheStandardParameters)
{
    EXPECT_EQ(CRC_compute24Q(kCheckText, 9), 0xCDE703u);
    EXPECT_EQ(CRC_compute16CCITT(kCheckText, 9), 0x31C3u);
    EXPECT_EQ(CRC_compute16_SBG(kCheckText, 9), 0x2189u);
    EXPECT_EQ(CRC_compute24Q(kCheckText, 0), 0u);
    EXPECT_EQ(CRC_compute16_SBG(kCheckText, 0), 0u);
}

TEST(Crc, frameCrcIsStoredMostSignificantByteFirstForTheCoveredBytesOnly)
{
    const uint8_t frame[] = {0x55, 0xD3, 0x00, 0x00, 0xAA};
    uint8_t crc[3] = {};
    ASSERT_TRUE(kvtcg_compute_CRC_24Q(frame, sizeof frame, 8, 32, crc, 24));
    EXPECT_EQ(crc[0], 0x47);
    EXPECT_EQ(crc[1], 0xEA);
    EXPECT_EQ(crc[2], 0x4B);
}

TEST(Crc, sixteenBitCrcsAreStoredInHostOrder)
{
    uint16_t crc = 0;
    ASSERT_TRUE(kvtcg_compute_CRC_16CCITT(kCheckText, 9, 0, 72, &crc, 16));
    EXPECT_EQ(crc, 0x31C3u);
    ASSERT_TRUE(kvtcg_compute_CRC_16SBG(kCheckText, 9, 0, 72, &crc, 16));
    EXPECT_EQ(crc, 0x2189u);
}

TEST(ByteSum, sumAndComplementWrapModulo256)
{
    const uint8_t small[] = {0x01, 0x02, 0x03};
    const uint8_t large[] = {0xFF, 0xFF, 0x03};
    uint8_t sum = 0xEE;
    ASSERT_TRUE(kvtcg_compute_MOD256(small, 3, 0, 24, &sum, 8));
    EXPECT_EQ(sum, 0x06);
    ASSERT_TRUE(kvtcg_compute_COMPLEMENT(small, 3, 0, 24, &sum, 8));
    EXPECT_EQ(sum, 0xFA);
    ASSERT_TRUE(kvtcg_compute_MOD256(large, 3, 0, 24, &sum, 8));
    EXPECT_EQ(sum, 0x01);
    ASSERT_TRUE(kvtcg_compute_COMPLEMENT(large, 3, 0, 24, &sum, 8));
    EXPECT_EQ(sum, 0xFF);
}

using ChecksumCall = bool (*)(const uint8_t*, uint16_t, uint64_t, uint64_t, void*, uint16_t);

struct Checksum {
    const char* name;
    ChecksumCall call;
    uint16_t width;
};

const Checksum kChecksums[] = {
    {"CRC_24Q", kvtcg_compute_CRC_24Q, 24},       {"CRC_16CCITT", kvtcg_compute_CRC_16CCITT, 16},
    {"CRC_16SBG", kvtcg_compute_CRC_16SBG, 16},   {"MOD256", kvtcg_compute_MOD256, 8},
    {"COMPLEMENT", kvtcg_compute_COMPLEMENT, 8},
};

struct BadRange {
    uint64_t firstBit;
    uint64_t endBit;
    int widthChange;
};

const BadRange kBadRanges[] = {
    {4, 32, 0},         // first bit inside a byte
    {0, 20, 0},         // end bit inside a byte
    {0, 48, 0},         // ends beyond the 5-byte buffer
    {16, 16, 0},        // empty
    {24, 8, 0},         // reversed
    {0, 40, 8},         // destination too wide
    {0, 40, -8},        // destination too narrow
    {UINT64_MAX - 7, 8, 0},
};

void PrintTo(const Checksum& checksum, std::ostream* out)
{
    *out << checksum.name;
}

class ChecksumRejection : public testing::TestWithParam<Checksum> {};

TEST_P(ChecksumRejection, badRangeOrWidthGivesFalseAndOnlyClearsTheFirstByte)
{
    const Checksum& checksum = GetParam();
    const uint8_t data[] = {0xD3, 0x00, 0x00, 0x47, 0xEA};
    for (const BadRange& bad : kBadRanges) {
        uint8_t destination[4] = {0xFF, 0xFF, 0xFF, 0xFF};
        const auto width = static_cast<uint16_t>(checksum.width + bad.widthChange);
        EXPECT_FALSE(checksum.call(data, sizeof data, bad.firstBit, bad.endBit, destination, width))
            << bad.firstBit << ".." << bad.endBit << " width " << width;
        EXPECT_EQ(destination[0], 0);
        EXPECT_EQ(destination[1], 0xFF);
    }
    uint8_t destination[4] = {};
    EXPECT_TRUE(checksum.call(data, sizeof data, 0, 40, destination, checksum.width));
}

INSTANTIATE_TEST_SUITE_P(All, ChecksumRejection, testing::ValuesIn(kChecksums),
                         [](const testing::TestParamInfo<Checksum>& info) { return std::string(info.param.name); });

// Satellite and signal counts of the observation messages come from these weights.
TEST(HammingWeight, everyBitIsCountedAndTheByteArraySumWrapsModulo256)
{
    EXPECT_EQ(kvtcg_get_hammingweight_uint64(uint64_t{1} << 63), 1);
    EXPECT_EQ(kvtcg_get_hammingweight_uint64(UINT64_MAX), 64);
    EXPECT_EQ(kvtcg_get_hammingweight_uint32(0x80000001u), 2);
    const std::vector<uint8_t> cells = {1, 0, 1, 1, 0, 1};
    EXPECT_EQ(kvtcg_get_hammingweight_byte_array(cells.data(), static_cast<uint16_t>(cells.size())), 4);
    const std::vector<uint8_t> full(64, 0xFF);
    EXPECT_EQ(kvtcg_get_hammingweight_byte_array(full.data(), 64), 0);
    EXPECT_EQ(kvtcg_get_hammingweight_byte_array(full.data(), 33), 8);
    EXPECT_EQ(kvtcg_get_hammingweight_byte_array(nullptr, 0), 0);
}

} // namespace

// The CRC-24Q runs eight bytes at a time; every length (whole steps, any remainder, a
// largest frame) at every alignment must give what the definition gives one bit at a time.
TEST(Crc24q, SlicedMatchesTheBitwiseDefinitionForEveryLengthAndAlignment)
{
    std::mt19937 rng(24);
    std::vector<uint8_t> data(1040);
    for (auto& b : data)
        b = static_cast<uint8_t>(rng());
    const int32_t largestFrame = 1029 - 3;
    for (int offset = 0; offset < 8; ++offset)
        for (int32_t length = 0; length <= largestFrame; length += length < 80 ? 1 : largestFrame - 80) {
            uint32_t reference = 0;
            for (int32_t i = 0; i < length; ++i) {
                reference ^= uint32_t{data[offset + i]} << 16;
                for (int bit = 0; bit < 8; ++bit) {
                    reference <<= 1;
                    if (reference & 0x1000000u)
                        reference ^= 0x1864CFBu;
                }
            }
            ASSERT_EQ(CRC_compute24Q(data.data() + offset, length), reference) << length << " at " << offset;
        }
}
