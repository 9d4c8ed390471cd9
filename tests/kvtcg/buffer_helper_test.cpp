// Byte helpers, bit strings and the hex dump used when debugging generated codecs.
#include "kvtcg.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(BufferHelper, compareIsUnsignedAndStopsAtTheFirstDifference)
{
    const uint8_t high[] = {0x10, 0x80, 0x00};
    const uint8_t low[] = {0x10, 0x01, 0xFF};
    EXPECT_EQ(kvtcg_memcmp(high, low, 3), 1);
    EXPECT_EQ(kvtcg_memcmp(low, high, 3), -1);
    EXPECT_EQ(kvtcg_memcmp(high, low, 1), 0);
    EXPECT_EQ(kvtcg_memcmp(nullptr, nullptr, 0), 0);
}

TEST(BufferHelper, zeroCountsTouchNothing)
{
    kvtcg_memcpy(nullptr, nullptr, 0);
    kvtcg_memset(nullptr, 0xFF, 0);
    uint8_t bytes[3] = {1, 2, 3};
    kvtcg_memset(bytes, 0xEE, 2);
    EXPECT_EQ(bytes[1], 0xEE);
    EXPECT_EQ(bytes[2], 3);
    EXPECT_EQ(kvtcg_strlen("RTCM"), 4u);
}

TEST(BufferHelper, zeroPadClearsOnlyTheRestOfTheLastByte)
{
    struct Case {
        uint64_t offset;
        uint8_t first;
        uint8_t second;
    };
    for (const Case& c : {Case{12, 0xFF, 0xF0}, Case{9, 0xFF, 0x80}, Case{8, 0xFF, 0xFF}, Case{16, 0xFF, 0xFF},
                          Case{1, 0x80, 0xFF}}) {
        uint8_t buffer[2] = {0xFF, 0xFF};
        EXPECT_EQ(kvtcg_zero_pad(buffer, 2, c.offset), buffer);
        EXPECT_EQ(buffer[0], c.first) << "offset " << c.offset;
        EXPECT_EQ(buffer[1], c.second) << "offset " << c.offset;
    }
}

TEST(BitString, fieldBitsAreWrittenInStreamOrder)
{
    const uint8_t data[] = {0xA5, 0x0F};
    char text[16];
    EXPECT_STREQ(kvtcg_extract_bitstring(data, 2, 4, 8, text, sizeof text), "01010000");
    EXPECT_STREQ(kvtcg_extract_bitstring(data, 2, 13, 3, text, sizeof text), "111");
    EXPECT_STREQ(kvtcg_extract_bitstring(data, 2, 16, 0, text, sizeof text), "");
    EXPECT_STREQ(kvtcg_byte_to_bitstring(0xA5, text, sizeof text), "10100101");
}

TEST(BitString, printedByteEndsTheLine)
{
    testing::internal::CaptureStdout();
    kvtcg_print_byte_as_bitstring(0x5A);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "01011010\n");
}

TEST(BitString, indentGrowsOneSpacePerLevelUpToSix)
{
    const size_t expected[] = {0, 1, 2, 3, 4, 5, 6, 6, 6, 6};
    for (uint8_t level = 0; level < 10; ++level)
        EXPECT_EQ(std::string(kvtcg_indent(level)), std::string(expected[level], ' ')) << int(level);
    EXPECT_EQ(std::string(kvtcg_indent(255)), "      ");
}

TEST(HexDump, linesOf16BytesWithOffsetPairsAndPrintableCharacters)
{
    const std::string bytes = std::string("0123456789ABCDEF") + std::string("\xD3\x00\x13~\x7F", 5);
    testing::internal::CaptureStdout();
    kvtcg_print_byte_array(reinterpret_cast<const uint8_t*>(bytes.data()), static_cast<uint16_t>(bytes.size()));
    const std::string expected = "0000000: 3031 3233 3435 3637 3839 4142 4344 4546 0123456789ABCDEF\n"
                                 "0000010: d300 137e 7f" + std::string(28, ' ') + "...~.\n";
    EXPECT_EQ(testing::internal::GetCapturedStdout(), expected);

    testing::internal::CaptureStdout();
    kvtcg_print_byte_array(reinterpret_cast<const uint8_t*>(bytes.data()), 0);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
}

} // namespace
