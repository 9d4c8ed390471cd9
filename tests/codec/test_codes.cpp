// The numbering of the codes and the names of enumerators: checked against the published
// block table, not against the generator's own output.

#include "RTCM3_codec.h"
#include "RTCM3_layout.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

using namespace Kvt::Nuvrix;

namespace {

struct Block {
    int enumerator;
    const char* record;
    int first;
    int last;
};

// First and last code of every record's block, in enumerator order.
const Block kBlocks[] = {
    {1, "REFSIG_BASIC", -2, -9},
    {2, "REFSIG_EXTENDED", -10, -13},
    {3, "DELTASIG_BASIC", -14, -19},
    {4, "DELTASIG_EXTENDED", -20, -22},
    {5, "ANNOUNCEMENT", -23, -27},
    {6, "SSR_ORBIT_CORRECTION", -28, -40},
    {7, "SSR_CLOCK_CORRECTION", -41, -46},
    {8, "CODE_BIAS", -47, -50},
    {9, "PHASE_BIAS", -51, -57},
    {10, "SSR_COMBINED_ORBIT_AND_CLOCK_CORRECTIONS", -58, -73},
    {11, "SSR_URA", -74, -77},
    {12, "SSR_HIGH_RATE_CLOCK_CORRECTION", -78, -81},
    {13, "IONOSPHERIC_CORRECTION_DIFFERENCE", -82, -87},
    {14, "GEOMETRIC_CORRECTION_DIFFERENCE", -88, -94},
    {15, "COMBINED_CORRECTION_DIFFERENCE", -95, -102},
    {16, "MSM_SATELLITE_DATA", -103, -114},
    {17, "MSM_SIGNAL_DATA", -115, -136},
    {18, "MESSAGE_TYPE_1005", -137, -156},
    {19, "MESSAGE_TYPE_1006", -157, -177},
    {20, "MESSAGE_TYPE_1007", -178, -190},
    {21, "MESSAGE_TYPE_1008", -191, -206},
    {22, "MESSAGE_TYPE_1014", -207, -222},
    {23, "MESSAGE_TYPE_1019", -223, -260},
    {24, "MESSAGE_TYPE_1020", -261, -318},
    {25, "MESSAGE_TYPE_1021", -319, -355},
    {26, "MESSAGE_TYPE_1022", -356, -395},
    {27, "LLH_RESIDUAL", -396, -400},
    {28, "ENU_RESIDUAL", -401, -405},
    {29, "MESSAGE_TYPE_1025", -406, -420},
    {30, "MESSAGE_TYPE_1026", -421, -436},
    {31, "MESSAGE_TYPE_1027", -437, -454},
    {32, "MESSAGE_TYPE_1029", -455, -469},
    {33, "MESSAGE_TYPE_1032", -470, -483},
    {34, "NETWORK_RTK_RESIDUAL", -484, -491},
    {35, "MESSAGE_TYPE_1033", -492, -516},
    {36, "MESSAGE_TYPE_1041", -517, -554},
    {37, "MESSAGE_TYPE_1042", -555, -590},
    {38, "MESSAGE_TYPE_1044", -591, -627},
    {39, "MESSAGE_TYPE_1045", -628, -663},
    {40, "MESSAGE_TYPE_1046", -664, -702},
    {41, "MESSAGE_TYPE_1230", -703, -718},
    {42, "MESSAGE_TYPE_4090", -719, -726},
    {43, "MESSAGE_TYPE_4091", -727, -734},
    {44, "SIGIL_1", -735, -757},
    {45, "SIGIL_2", -758, -787},
    {46, "BASIC_1", -788, -789},
    {47, "EXTENDED_1", -790, -792},
    {48, "BASIC_2", -793, -795},
    {49, "EXTENDED_2", -796, -798},
    {50, "SSR_CODE_BIAS", -799, -802},
    {51, "SSR_PHASE_BIAS", -803, -808},
    {52, "MESSAGE_TYPE_1013", -809, -822},
    {53, "MESSAGE_TYPE_1015", -823, -838},
    {54, "MESSAGE_TYPE_1016", -839, -854},
    {55, "MESSAGE_TYPE_1017", -855, -870},
    {56, "MESSAGE_TYPE_1023", -871, -895},
    {57, "MESSAGE_TYPE_1024", -896, -919},
    {58, "MESSAGE_TYPE_1030", -920, -932},
    {59, "MESSAGE_TYPE_1031", -933, -945},
    {60, "MESSAGE_TYPE_1303", -946, -958},
    {61, "MESSAGE_TYPE_1304", -959, -971},
    {62, "MESSAGE_TYPE_1037", -972, -987},
    {63, "MESSAGE_TYPE_1038", -988, -1003},
    {64, "MESSAGE_TYPE_1039", -1004, -1019},
    {65, "MESSAGE_TYPE_1057", -1020, -1038},
    {66, "MESSAGE_TYPE_1058", -1039, -1057},
    {67, "MESSAGE_TYPE_1060", -1058, -1076},
    {68, "MESSAGE_TYPE_1061", -1077, -1095},
    {69, "MESSAGE_TYPE_1062", -1096, -1114},
    {70, "MESSAGE_TYPE_1063", -1115, -1133},
    {71, "MESSAGE_TYPE_1064", -1134, -1152},
    {72, "MESSAGE_TYPE_1066", -1153, -1171},
    {73, "MESSAGE_TYPE_1067", -1172, -1190},
    {74, "MESSAGE_TYPE_1068", -1191, -1209},
    {75, "MESSAGE_TYPE_1071", -1210, -1232},
    {76, "MESSAGE_TYPE_1072", -1233, -1255},
    {77, "MESSAGE_TYPE_1073", -1256, -1278},
    {78, "MESSAGE_TYPE_1074", -1279, -1301},
    {79, "MESSAGE_TYPE_1075", -1302, -1324},
    {80, "MESSAGE_TYPE_1076", -1325, -1347},
    {81, "MESSAGE_TYPE_1077", -1348, -1370},
    {82, "MESSAGE_TYPE_1081", -1371, -1393},
    {83, "MESSAGE_TYPE_1082", -1394, -1416},
    {84, "MESSAGE_TYPE_1083", -1417, -1439},
    {85, "MESSAGE_TYPE_1084", -1440, -1462},
    {86, "MESSAGE_TYPE_1085", -1463, -1485},
    {87, "MESSAGE_TYPE_1086", -1486, -1508},
    {88, "MESSAGE_TYPE_1087", -1509, -1531},
    {89, "MESSAGE_TYPE_1091", -1532, -1554},
    {90, "MESSAGE_TYPE_1092", -1555, -1577},
    {91, "MESSAGE_TYPE_1093", -1578, -1600},
    {92, "MESSAGE_TYPE_1094", -1601, -1623},
    {93, "MESSAGE_TYPE_1095", -1624, -1646},
    {94, "MESSAGE_TYPE_1096", -1647, -1669},
    {95, "MESSAGE_TYPE_1097", -1670, -1692},
    {96, "MESSAGE_TYPE_1101", -1693, -1715},
    {97, "MESSAGE_TYPE_1102", -1716, -1738},
    {98, "MESSAGE_TYPE_1103", -1739, -1761},
    {99, "MESSAGE_TYPE_1104", -1762, -1784},
    {100, "MESSAGE_TYPE_1105", -1785, -1807},
    {101, "MESSAGE_TYPE_1106", -1808, -1830},
    {102, "MESSAGE_TYPE_1107", -1831, -1853},
    {103, "MESSAGE_TYPE_1111", -1854, -1876},
    {104, "MESSAGE_TYPE_1112", -1877, -1899},
    {105, "MESSAGE_TYPE_1113", -1900, -1922},
    {106, "MESSAGE_TYPE_1114", -1923, -1945},
    {107, "MESSAGE_TYPE_1115", -1946, -1968},
    {108, "MESSAGE_TYPE_1116", -1969, -1991},
    {109, "MESSAGE_TYPE_1117", -1992, -2014},
    {110, "MESSAGE_TYPE_1121", -2015, -2037},
    {111, "MESSAGE_TYPE_1122", -2038, -2060},
    {112, "MESSAGE_TYPE_1123", -2061, -2083},
    {113, "MESSAGE_TYPE_1124", -2084, -2106},
    {114, "MESSAGE_TYPE_1125", -2107, -2129},
    {115, "MESSAGE_TYPE_1126", -2130, -2152},
    {116, "MESSAGE_TYPE_1127", -2153, -2175},
    {117, "MESSAGE_TYPE_1131", -2176, -2198},
    {118, "MESSAGE_TYPE_1132", -2199, -2221},
    {119, "MESSAGE_TYPE_1133", -2222, -2244},
    {120, "MESSAGE_TYPE_1134", -2245, -2267},
    {121, "MESSAGE_TYPE_1135", -2268, -2290},
    {122, "MESSAGE_TYPE_1136", -2291, -2313},
    {123, "MESSAGE_TYPE_1137", -2314, -2336},
    {124, "MESSAGE_TYPE_1240", -2337, -2355},
    {125, "MESSAGE_TYPE_1241", -2356, -2374},
    {126, "MESSAGE_TYPE_1243", -2375, -2393},
    {127, "MESSAGE_TYPE_1244", -2394, -2412},
    {128, "MESSAGE_TYPE_1245", -2413, -2431},
    {129, "MESSAGE_TYPE_1258", -2432, -2450},
    {130, "MESSAGE_TYPE_1259", -2451, -2469},
    {131, "MESSAGE_TYPE_1261", -2470, -2488},
    {132, "MESSAGE_TYPE_1262", -2489, -2507},
    {133, "MESSAGE_TYPE_1263", -2508, -2526},
    {134, "MESSAGE_TYPE_1001", -2527, -2541},
    {135, "MESSAGE_TYPE_1002", -2542, -2556},
    {136, "MESSAGE_TYPE_1003", -2557, -2571},
    {137, "MESSAGE_TYPE_1004", -2572, -2586},
    {138, "MESSAGE_TYPE_1009", -2587, -2601},
    {139, "MESSAGE_TYPE_1010", -2602, -2616},
    {140, "MESSAGE_TYPE_1011", -2617, -2631},
    {141, "MESSAGE_TYPE_1012", -2632, -2646},
    {142, "MESSAGE_TYPE_1059", -2647, -2665},
    {143, "MESSAGE_TYPE_1065", -2666, -2684},
    {144, "MESSAGE_TYPE_1242", -2685, -2703},
    {145, "MESSAGE_TYPE_1260", -2704, -2722},
    {146, "MESSAGE_TYPE_1265", -2723, -2741},
    {147, "MESSAGE_TYPE_1266", -2742, -2760},
    {148, "MESSAGE_TYPE_1267", -2761, -2779},
    {149, "MESSAGE_TYPE_1270", -2780, -2798},
};

std::string name(int32_t code) { return RTCM3_error_to_string(code); }

} // namespace

TEST(ErrorCodes, EveryBlockStartsAndEndsWhereTheTableSays)
{
    ASSERT_EQ(sizeof(kBlocks) / sizeof(kBlocks[0]), size_t(RTCM3_LAST_ENUMERATOR)) << "a row for every record";
    for (const Block& b : kBlocks) {
        SCOPED_TRACE(b.record);
        EXPECT_STREQ(RTCM3_message_enum_to_string(b.enumerator), (std::string("RTCM3_") + b.record).c_str());
        const std::string prefix = std::string("RTCM3_ERR_") + b.record + "_";
        EXPECT_EQ(name(b.first).rfind(prefix, 0), 0u) << name(b.first);
        const bool message = RTCM3_layout(b.enumerator)->messageNumber != 0;
        EXPECT_EQ(name(b.last), prefix + (message ? "CRC_CHECKSUM" : "INTERNAL"));
        // The codes just outside the block belong to the neighbouring records.
        EXPECT_NE(name(b.first + 1).rfind(prefix, 0), 0u) << name(b.first + 1);
        EXPECT_NE(name(b.last - 1).rfind(prefix, 0), 0u) << name(b.last - 1);
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
    EXPECT_EQ(name(-185), "RTCM3_ERR_MESSAGE_TYPE_1007_ANTENNA_DESCRIPTOR_INT_BUFFER_OVERFLOW");
    EXPECT_EQ(name(-788), "RTCM3_ERR_BASIC_1_REFSIG_BASIC_SIZE_UNDERFLOW");
    EXPECT_EQ(name(-796), "RTCM3_ERR_EXTENDED_2_DELTASIG_BASIC_SIZE_UNDERFLOW");
    EXPECT_EQ(name(-797), "RTCM3_ERR_EXTENDED_2_DELTASIG_EXTENDED_SIZE_UNDERFLOW");
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
