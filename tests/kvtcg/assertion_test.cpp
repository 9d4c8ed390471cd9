// Broken preconditions stop the process with a report on standard output that names the check.
#include "kvtcg.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <functional>
#include <string>
#include <unistd.h>

namespace {

std::string escapeForRegex(const std::string& text)
{
    std::string escaped;
    for (char c : text) {
        if (std::string("\\^$.|?*+()[]{}").find(c) != std::string::npos)
            escaped += '\\';
        escaped += c;
    }
    return escaped;
}

// The whole report line: "<source path>:<line>: Assertion failed '<text>'".
std::string reportLine(const std::string& text)
{
    return "^[^\n]+\\.(h|cpp):[0-9]+: Assertion failed '" + escapeForRegex(text) + "'\n$";
}

struct BrokenCall {
    const char* name;
    std::function<void()> call;
    const char* text;
};

uint8_t gBuffer[16];

const char* const kRange = "(offset + bit_len) <= (UINT32)(data_size * 8)";

const BrokenCall kBrokenCalls[] = {
    {"int8EmptyField", [] { int8_t v; kvtcg_decode_int8(gBuffer, 16, 0, 0, &v); }, "bit_len > 0"},
    {"int8TooWide", [] { int8_t v; kvtcg_decode_int8(gBuffer, 16, 0, 9, &v); }, "bit_len <= 8"},
    {"uint16FitsInAByte", [] { uint16_t v; kvtcg_decode_uint16_bigendian(gBuffer, 16, 0, 8, &v); }, "bit_len > 8"},
    {"int64TooWide", [] { int64_t v; kvtcg_decode_int64_bigendian(gBuffer, 16, 0, 65, &v); }, "bit_len <= 64"},
    {"littleEndian64Fits32", [] { int64_t v; kvtcg_decode_int64_littleendian(gBuffer, 16, 0, 32, &v); },
     "bit_len > 32"},
    {"floatNot32", [] { float v; kvtcg_decode_float_bigendian(gBuffer, 16, 0, 31, &v); }, "bit_len == 32"},
    {"decodeOneBitPastTheEnd", [] { uint32_t v; kvtcg_decode_uint32_bigendian(gBuffer, 4, 1, 32, &v); }, kRange},
    {"encodeOneBitPastTheEnd", [] { kvtcg_encode_byte(gBuffer, 1, 1, 8, 0); }, kRange},
    {"rangeIsCheckedBeforeWidth", [] { kvtcg_encode_uint16_bigendian(gBuffer, 1, 1, 8, 0); }, kRange},
    {"offsetWrapsAround", [] { uint8_t v; kvtcg_decode_byte(gBuffer, 16, UINT64_MAX - 3, 8, &v); }, kRange},
    {"zeroPadPastTheEnd", [] { kvtcg_zero_pad(gBuffer, 2, 17); }, "offset <= (UINT32)(data_size * 8)"},
    // Generated codecs report their own structural checks; the text must be the source, unexpanded.
    {"assertReportsUnexpandedSource", [] { const void* kvtcg_father = nullptr; KVTCG_ASSERT(kvtcg_father != NULL); },
     "kvtcg_father != NULL"},
};

void PrintTo(const BrokenCall& broken, std::ostream* out)
{
    *out << broken.name;
}

class BrokenPrecondition : public testing::TestWithParam<BrokenCall> {};

TEST_P(BrokenPrecondition, exitsWithStatusOneAndNamesTheCheck)
{
    const BrokenCall& broken = GetParam();
    // The report goes to standard output; death tests only see standard error.
    EXPECT_EXIT(
        {
            dup2(STDERR_FILENO, STDOUT_FILENO);
            broken.call();
        },
        testing::ExitedWithCode(1), reportLine(broken.text));
}

INSTANTIATE_TEST_SUITE_P(Checks, BrokenPrecondition, testing::ValuesIn(kBrokenCalls),
                         [](const testing::TestParamInfo<BrokenCall>& info) { return std::string(info.param.name); });

TEST(BrokenPreconditionBoundary, largestAcceptedFieldsDoNotStop)
{
    uint8_t buffer[9] = {};
    kvtcg_encode_uint64_bigendian(buffer, sizeof buffer, 8, 64, ~uint64_t{0});
    kvtcg_zero_pad(buffer, sizeof buffer, 72);
    EXPECT_EQ(buffer[8], 0xFF);
}

} // namespace
