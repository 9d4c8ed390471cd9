// The JSON lines and text blocks of epochs and stations, and the --time text.

#include "GnssFormat.h"

#include <gtest/gtest.h>

using namespace Kvt::Gnss;

namespace {

ObservationEpoch exampleEpoch()
{
    ObservationEpoch e;
    e.time = GpsTime(2143, 488648.0);
    SatelliteObservations s;
    s.sat = SatId{System::Gps, 5};
    Observation o;
    o.code = SignalCode{'1', 'C'};
    o.pseudorangeM = 22489021.3374;
    o.phaseCycles = 118219883.1016;
    o.dopplerHz = -935.2100004;
    o.cn0DbHz = 45.0;
    s.observations.push_back(o);
    e.satellites.push_back(s);
    return e;
}

TEST(EpochJson, TheLineOfTheExample)
{
    std::string out;
    appendEpochJson(out, exampleEpoch());
    EXPECT_EQ(out, "{\"station\":0,\"time\":\"2021-02-05T15:44:08.000\",\"week\":2143,\"tow\":488648.0,"
                   "\"sats\":{\"G05\":{\"C1C\":22489021.337,\"L1C\":118219883.102,\"D1C\":-935.21,"
                   "\"S1C\":45.0}}}\n");
}

TEST(EpochJson, ExtrasFollowTheObservationsAndAbsentValuesAreLeftOut)
{
    ObservationEpoch e = exampleEpoch();
    Observation l2;
    l2.code = SignalCode{'2', 'P'};
    l2.pseudorangeM = 1.0;
    l2.lockTimeS = 520.0;
    l2.halfCycleAmbiguity = true;
    e.satellites[0].sat = SatId{System::Glonass, 7};
    e.satellites[0].glonassChannel = -3;
    e.satellites[0].observations.push_back(l2);
    std::string out = "kept ";
    appendEpochJson(out, e);
    EXPECT_NE(out.find("kept {"), std::string::npos) << "appends";
    EXPECT_NE(out.find("\"S1C\":45.0,\"C2P\":1.0,\"lock2P\":520.0,\"half2P\":true,\"fcn\":-3}"),
              std::string::npos) << out;
    EXPECT_EQ(out.find("L2P"), std::string::npos);
}

TEST(JsonNumber, RoundedToThreeDecimalsInShortestForm)
{
    struct Case { double value; const char* text; };
    const Case cases[] = {
        {45.0, "45.0"},          {-935.2100004, "-935.21"}, {22489021.3374, "22489021.337"},
        {0.0004, "0.0"},         {-0.0004, "0.0"},          {1e9, "1000000000.0"},
        {0.0005, "0.001"},       {-2.5e-3, "-0.003"},       {67108.864, "67108.864"},
    };
    for (const Case& c : cases) {
        std::string out;
        appendJsonNumber(out, c.value);
        EXPECT_EQ(out, c.text) << c.value;
    }
}

TEST(EpochText, HeaderAndAlignedColumns)
{
    ObservationEpoch e = exampleEpoch();
    Observation bare;
    bare.code = SignalCode{'5', 'Q'};
    bare.dopplerHz = 12.5;
    e.satellites[0].observations.push_back(bare);
    std::string out;
    appendEpochText(out, e);
    const size_t firstEnd = out.find('\n');
    EXPECT_EQ(out.substr(0, firstEnd), "2021-02-05 15:44:08.000 GPST  week 2143  tow 488648.000  station 0  satellites 1");
    const std::string l1 = out.substr(firstEnd + 1, out.find('\n', firstEnd + 1) - firstEnd - 1);
    const std::string l5 = out.substr(out.find("  G05 5Q"));
    // The Doppler column ends at the same place on both lines.
    EXPECT_EQ(l1.find("-935.210") + 8, l5.find("12.500") + 6);
}

TEST(TimeHint, DatesAndTimes)
{
    EXPECT_EQ(parseTimeHint("2021-02-05"), GpsTime::fromCalendar({2021, 2, 5, 12, 0, 0.0}));
    EXPECT_EQ(parseTimeHint("2021-02-05T15:44:08"), GpsTime(2143, 488648));
    EXPECT_EQ(parseTimeHint("2024-02-29T00:00:00"), GpsTime::fromCalendar({2024, 2, 29, 0, 0, 0.0}));
    for (const char* bad : {"", "2021-02-30", "2021-2-5", "2021-02-05T25:00:00", "2021-02-05T15:44",
                            "2021/02/05", "1979-12-31", "2021-02-05x", "2021-02-05T15:44:08Z"})
        EXPECT_FALSE(parseTimeHint(bad)) << bad;
}

TEST(EphemerisJson, EveryTermWithItsTime)
{
    KeplerEphemeris k;
    k.sat = SatId{System::Galileo, 3};
    k.messageNumber = 1046;
    k.week = 1281;
    k.toe = k.toc = GpsTime(2305, 318000);
    k.sqrtA = 5440.592414856;
    k.e = 2.254637656733e-04;
    std::string out;
    appendKeplerJson(out, k);
    EXPECT_EQ(out.rfind("{\"sat\":\"E03\",\"message\":1046,\"week\":1281,\"toc\":\"2024-03-13T16:20:00.000\","
                        "\"toe\":\"2024-03-13T16:20:00.000\",\"af0\":0,", 0), 0u) << out;
    EXPECT_NE(out.find("\"e\":0.0002254637656733,\"sqrtA\":5440.592414856,"), std::string::npos) << out;

}

} // namespace
