// The numbering of the codes and the names of enumerators: checked against the published
// block table, not against the generator's own output.

#include "RTCM3_codec.h"
#include "RTCM3_layout.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

using namespace Kvt::Nuvrix;

namespace {

// Last code of every record's block, in enumerator order; each block starts right after the
// one before it, the first at -2.
const int kBlockEnds[] = {
    -9, -13, -19, -22, -27, -40, -46, -50, -57, -73, -77, -81,
    -87, -94, -102, -114, -136, -156, -177, -190, -206, -222, -260, -318,
    -355, -395, -400, -405, -420, -436, -454, -469, -483, -491, -516, -554,
    -590, -627, -663, -702, -718, -726, -734, -757, -787, -789, -792, -795,
    -798, -802, -808, -822, -838, -854, -870, -895, -919, -932, -945, -958,
    -971, -987, -1003, -1019, -1038, -1057, -1076, -1095, -1114, -1133, -1152, -1171,
    -1190, -1209, -1232, -1255, -1278, -1301, -1324, -1347, -1370, -1393, -1416, -1439,
    -1462, -1485, -1508, -1531, -1554, -1577, -1600, -1623, -1646, -1669, -1692, -1715,
    -1738, -1761, -1784, -1807, -1830, -1853, -1876, -1899, -1922, -1945, -1968, -1991,
    -2014, -2037, -2060, -2083, -2106, -2129, -2152, -2175, -2198, -2221, -2244, -2267,
    -2290, -2313, -2336, -2355, -2374, -2393, -2412, -2431, -2450, -2469, -2488, -2507,
    -2526, -2541, -2556, -2571, -2586, -2601, -2616, -2631, -2646, -2665, -2684, -2703,
    -2722, -2741, -2760, -2779, -2798,
};

std::string name(int32_t code) { return RTCM3_error_to_string(code); }

} // namespace

TEST(ErrorCodes, EveryBlockStartsAndEndsWhereTheTableSays)
{
    ASSERT_EQ(sizeof(kBlockEnds) / sizeof(kBlockEnds[0]), size_t(RTCM3_LAST_ENUMERATOR)) << "a row for every record";
    int first = -2;
    for (int e = 1; e <= RTCM3_LAST_ENUMERATOR; first = kBlockEnds[e - 1] - 1, ++e) {
        const std::string record = std::string(RTCM3_message_enum_to_string(e)).substr(6);
        SCOPED_TRACE(record);
        const int last = kBlockEnds[e - 1];
        const std::string prefix = "RTCM3_ERR_" + record + "_";
        EXPECT_EQ(name(first).rfind(prefix, 0), 0u) << name(first);
        const bool message = RTCM3_layout(e)->messageNumber != 0;
        EXPECT_EQ(name(last), prefix + (message ? "CRC_CHECKSUM" : "INTERNAL"));
        // The codes just outside the block belong to the neighbouring records.
        EXPECT_NE(name(first + 1).rfind(prefix, 0), 0u) << name(first + 1);
        EXPECT_NE(name(last - 1).rfind(prefix, 0), 0u) << name(last - 1);
    }
}

TEST(ErrorCodes, TotalsPerKindMatchTheNumberingRule)
{
    int ext = 0, in = 0, size = 0, internal = 0, crc = 0, disabled = 0;
    auto endsWith = [](const std::string& s, const char* tail) {
        return s.size() >= std::strlen(tail) && s.compare(s.size() - std::strlen(tail), std::string::npos, tail) == 0;
    };
    for (int32_t code = -1; code >= -2923; --code) {
        const std::string n = name(code);
        ext += endsWith(n, "_EXT_BUFFER_OVERFLOW");
        in += endsWith(n, "_INT_BUFFER_OVERFLOW");
        size += endsWith(n, "_SIZE_UNDERFLOW");
        internal += endsWith(n, "_INTERNAL");
        crc += endsWith(n, "_CRC_CHECKSUM");
        disabled += endsWith(n, "_DISABLED");
    }
    EXPECT_EQ(ext, 2198);
    EXPECT_EQ(in, 77);
    EXPECT_EQ(size, 250);
    EXPECT_EQ(internal, 149);
    EXPECT_EQ(crc, 123);
    EXPECT_EQ(disabled, 123);
}

TEST(ErrorCodes, NamedExamplesAndTheEdgesOfTheRange)
{
    EXPECT_EQ(name(0), "RTCM3_ERR_NONE");
    EXPECT_EQ(name(200), "RTCM3_ERR_NONE");
    EXPECT_EQ(name(-1), "RTCM3_ERR_INVALID_CRC");
    EXPECT_EQ(name(-2), "RTCM3_ERR_REFSIG_BASIC_SATELLITE_ID_EXT_BUFFER_OVERFLOW");
    EXPECT_EQ(name(-141), "RTCM3_ERR_MESSAGE_TYPE_1005_REFERENCE_STATION_ID_EXT_BUFFER_OVERFLOW");
    EXPECT_EQ(name(-788), "RTCM3_ERR_BASIC_1_REFSIG_BASIC_SIZE_UNDERFLOW");
    EXPECT_EQ(name(-2799), "RTCM3_ERR_MESSAGE_TYPE_1005_DISABLED");
    EXPECT_EQ(name(-2906), "RTCM3_ERR_MESSAGE_TYPE_1001_DISABLED");
    EXPECT_EQ(name(-2921), "RTCM3_ERR_MESSAGE_TYPE_1270_DISABLED");
    EXPECT_EQ(name(-2922), "RTCM3_ERR_INVALID_MESSAGE");
    EXPECT_EQ(name(-2923), "RTCM3_ERR_EOF");
    EXPECT_EQ(name(-2924), "???");
    EXPECT_EQ(RTCM3_ERR_MESSAGE_TYPE_1005_ECEF_Z_EXT_BUFFER_OVERFLOW, -152);
    EXPECT_EQ(RTCM3_ERR_MESSAGE_TYPE_1005_CRC_EXT_BUFFER_OVERFLOW, -153);
}

TEST(ErrorCodes, TheBlockOf1007ReadsAsTheWorkedExample)
{
    const char* tails[] = {"PREAMBLE_EXT_BUFFER_OVERFLOW", "RESERVED_EXT_BUFFER_OVERFLOW",
                           "MESSAGE_LENGTH_EXT_BUFFER_OVERFLOW", "MESSAGE_NUMBER_EXT_BUFFER_OVERFLOW",
                           "REFERENCE_STATION_ID_EXT_BUFFER_OVERFLOW", "N_EXT_BUFFER_OVERFLOW",
                           "ANTENNA_DESCRIPTOR_EXT_BUFFER_OVERFLOW", "ANTENNA_DESCRIPTOR_INT_BUFFER_OVERFLOW",
                           "ANTENNA_SETUP_ID_EXT_BUFFER_OVERFLOW", "CRC_EXT_BUFFER_OVERFLOW",
                           "CRC_SIZE_UNDERFLOW", "INTERNAL", "CRC_CHECKSUM"};
    int32_t code = -178;
    for (const char* tail : tails)
        EXPECT_EQ(name(code--), std::string("RTCM3_ERR_MESSAGE_TYPE_1007_") + tail);
}

TEST(MessageEnum, NamesAndOutOfRangeValues)
{
    EXPECT_STREQ(RTCM3_message_enum_to_string(0), "RTCM3_MESSAGE_NULL");
    EXPECT_STREQ(RTCM3_message_enum_to_string(18), "RTCM3_MESSAGE_TYPE_1005");
    EXPECT_STREQ(RTCM3_message_enum_to_string(44), "RTCM3_SIGIL_1");
    EXPECT_STREQ(RTCM3_message_enum_to_string(150), "???");
    EXPECT_STREQ(RTCM3_message_enum_to_string(-1), "???");
}

TEST(Context, InitEnablesExactlyTheMessageEnumerators)
{
    RTCM3_context_s context;
    std::memset(&context, 0xAA, sizeof(context));
    RTCM3_init_context(&context);
    const uint8_t expected[20] = {0x00, 0x00, 0x3E, 0xE7, 0xDF, 0xFD, 0x0E, 0xFF, 0xFF, 0xFF,
                                  0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFD, 0x00};
    EXPECT_EQ(std::memcmp(context.enabled, expected, 20), 0);
    EXPECT_EQ(context.unknown_message_number, 0);
}
