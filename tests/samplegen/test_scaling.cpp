// Values that do not fit their field stop the generator instead of being cut to their low bits.

#include "Record.h"
#include "Scaling.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>

using namespace Kvt::Nuvrix;
using namespace Kvt::Nuvrix::SampleGen;

namespace {

struct SignedCase {
    double value;
    int bits;
    bool fits;
};

class SignedRange : public testing::TestWithParam<SignedCase> {};

TEST_P(SignedRange, RefusesValuesBeyondTheTwosComplementRange)
{
    const SignedCase c = GetParam();
    if (c.fits)
        EXPECT_EQ(toSigned(c.value, 1.0, c.bits, "v"), std::llround(c.value));
    else
        EXPECT_THROW(toSigned(c.value, 1.0, c.bits, "v"), SampleError);
}

INSTANTIATE_TEST_SUITE_P(Edges, SignedRange,
                         testing::Values(SignedCase{8191, 14, true}, SignedCase{8192, 14, false},
                                         SignedCase{-8192, 14, true}, SignedCase{-8193, 14, false},
                                         SignedCase{8191.4, 14, true}, SignedCase{8191.5, 14, false},
                                         SignedCase{std::nan(""), 14, false},
                                         SignedCase{-137438953472.0, 38, true}));

TEST(UnsignedRange, RefusesNegativeValuesAndTheFirstValuePastTheWidth)
{
    EXPECT_EQ(toUnsigned(1023, 1.0, 10, "v"), 1023u);
    EXPECT_THROW(toUnsigned(1024, 1.0, 10, "v"), SampleError);
    EXPECT_THROW(toUnsigned(-1, 1.0, 10, "v"), SampleError);
    EXPECT_EQ(toUnsigned(-0.4, 1.0, 10, "v"), 0u) << "rounds to zero";
    EXPECT_EQ(toUnsigned(5153.6, std::ldexp(1.0, -19), 32, "sqrt A"), 2701970637u);
}

TEST(SignMagnitudeValues, CarryTheSignApartAndNeverSendMinusZero)
{
    const units::Physical fourBits{1.0 / 1024, nullptr, false, 0, 0, 15};
    uint8_t sign = 0, magnitude = 0;
    putSignMagnitude(sign, magnitude, -3.0 / 1024, fourBits, "v");
    EXPECT_EQ(sign, 1);
    EXPECT_EQ(magnitude, 3u);
    putSignMagnitude(sign, magnitude, -0.2 / 1024, fourBits, "v");
    EXPECT_EQ(sign, 0);
    EXPECT_EQ(magnitude, 0u);
    EXPECT_THROW(putSignMagnitude(sign, magnitude, -16.0 / 1024, fourBits, "v"), SampleError) << "4 bits";
}

// The list's range of a member, less its invalid marker: a value the field would read as
// "no value" stops the generator too.
TEST(ListRange, RefusesTheInvalidMarkerAndValuesPastTheField)
{
    namespace sig = units::MSM_Signal_Data;
    struct Case { const units::Physical& unit; double value; bool fits; };
    const Case cases[] = {
        {sig::CNR, 63, true}, {sig::CNR, 64, false}, {sig::CNR, 0.4, false}, {sig::CNR, 1, true},
        {sig::Fine_PhaseRangeRate, -1.6383, true}, {sig::Fine_PhaseRangeRate, -1.6384, false},
        {sig::Fine_PhaseRangeRate, 1.6383, true}, {sig::Fine_PhaseRangeRate, 1.6384, false},
    };
    for (const Case& c : cases) {
        if (c.fits)
            EXPECT_EQ(rawOf(c.value, c.unit, "v"), std::llround(c.value / c.unit.scale)) << c.value;
        else
            EXPECT_THROW(rawOf(c.value, c.unit, "v"), SampleError) << c.value;
    }
}

TEST(CheckedFrame, NamesTheCodeTheEncoderReturned)
{
    const uint8_t buffer[8] = {};
    try {
        checkedFrame(buffer, RTCM3_ERR_MESSAGE_TYPE_1005_ECEF_Z_EXT_BUFFER_OVERFLOW, 1005);
        FAIL() << "an encoder failure went through";
    } catch (const SampleError& error) {
        EXPECT_NE(std::string(error.what()).find("RTCM3_ERR_MESSAGE_TYPE_1005_ECEF_Z_EXT_BUFFER_OVERFLOW"),
                  std::string::npos)
            << error.what();
    }
    EXPECT_THROW(checkedFrame(buffer, 0, 1005), SampleError);
    EXPECT_EQ(checkedFrame(buffer, 64, 1005).size(), 8);
}

} // namespace
