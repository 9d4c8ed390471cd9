// Values that do not fit their field stop the generator instead of being cut to their low bits.

#include "Record.h"
#include "Scaling.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>

using namespace Kvt::Nuvrix;
using namespace Kvt::Nuvrix::SampleGen;

namespace {

// A field's raw range, not its record type's, bounds what the generator writes.
TEST(FieldRange, RefusesTheFirstValuesPastEitherEnd)
{
    const wire::Field signed14{14, -8192, 8191, 0, -1, 0}, unsigned10{10, 0, 1023, 0, -1, 0};
    struct Case { const wire::Field& field; double value, scale; bool fits; };
    const Case cases[] = {
        {signed14, 8191, 1, true}, {signed14, 8192, 1, false}, {signed14, -8192, 1, true},
        {signed14, -8193, 1, false}, {signed14, 8191.4, 1, true}, {signed14, 8191.5, 1, false},
        {signed14, std::nan(""), 1, false}, {unsigned10, 1023, 1, true}, {unsigned10, 1024, 1, false},
        {unsigned10, -1, 1, false}, {unsigned10, -0.4, 1, true}, {unsigned10, 0.5, 1.0 / 2048, false},
    };
    for (const Case& c : cases) {
        if (c.fits)
            EXPECT_EQ(toField(c.value, c.scale, c.field, "v"), std::llround(c.value / c.scale)) << c.value;
        else
            EXPECT_THROW(toField(c.value, c.scale, c.field, "v"), SampleError) << c.value;
    }
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
