// The format-independent GNSS library: time scales, identifiers, frequencies, geodesy.

#include "Geodesy.h"
#include "GnssIds.h"
#include "GnssTime.h"

#include <gtest/gtest.h>

#include <cmath>
#include <set>

using namespace Kvt::Gnss;

// Dates checked against the published GPS calendar (week 2143 began on Sunday 2021-01-31).
TEST(GpsTimeTest, CalendarRoundTripsAcrossWeekDayAndYearBoundaries)
{
    struct Case { int32_t week; double tow; const char* iso; };
    const Case cases[] = {
        {0, 0.0, "1980-01-06T00:00:00.000"},
        {2143, 488648.0, "2021-02-05T15:44:08.000"},
        {2143, 604799.9996, "2021-02-07T00:00:00.000"},  // rounds into the next week
        {1023, 604799.0, "1999-08-21T23:59:59.000"},     // last second before the first rollover
        {1024, 0.0, "1999-08-22T00:00:00.000"},
        {2047, 345600.5, "2019-04-04T00:00:00.500"},
        {2086, 0.0, "2019-12-29T00:00:00.000"},
        {2190, 432000.0, "2021-12-31T00:00:00.000"},
    };
    for (const Case& c : cases) {
        const GpsTime t(c.week, c.tow);
        EXPECT_EQ(t.toIso(), c.iso) << c.week << " " << c.tow;
        const GpsTime back = GpsTime::fromCalendar(t.toCalendar());
        EXPECT_EQ(back.week, t.week);
        EXPECT_NEAR(back.tow, t.tow, 1e-6);
    }
}

TEST(GpsTimeTest, LeapSecondsChangeAtTheirUtcInstant)
{
    const GpsTime justBefore = GpsTime::fromCalendar({2016, 12, 31, 23, 59, 59.0}).plusSeconds(17);
    EXPECT_EQ(leapSecondsAt(justBefore), 17);
    EXPECT_EQ(leapSecondsAt(justBefore.plusSeconds(2)), 18);
    EXPECT_EQ(leapSecondsAt(GpsTime(50, 0)), 0);
    EXPECT_EQ(leapSecondsAt(GpsTime(1800, 0)), 16);  // 2014

    const DateTime utc{2021, 2, 5, 15, 43, 50.0};
    const GpsTime t = GpsTime::fromUtc(utc);
    EXPECT_EQ(t.toIso(), "2021-02-05T15:44:08.000");
    EXPECT_EQ(t.toUtc().minute, 43);
    EXPECT_DOUBLE_EQ(t.toUtc().second, 50.0);
}

TEST(GpsTimeTest, TruncatedWeeksResolveToTheNearestOfTheirEra)
{
    EXPECT_EQ(resolveWeek(100, 1024, 2148), 2148);
    EXPECT_EQ(resolveWeek(1023, 1024, 2048), 2047);   // reference just past a rollover
    EXPECT_EQ(resolveWeek(0, 1024, 2047), 2048);      // reference just before one
    EXPECT_EQ(resolveWeek(5, 8192, 2300), 8197 - 8192);
}

TEST(GnssIdsTest, SatellitesAreNamedAsRinexNamesThem)
{
    // The MSM satellite tests name S23 and J02; here the ends of the ranges.
    EXPECT_FALSE(satelliteFromPrn(System::Sbas, 119));
    EXPECT_EQ(satelliteFromPrn(System::Sbas, 158)->toString(), "S58");
    std::set<char> letters;
    for (int s = 0; s < kSystemCount; ++s) {
        const char letter = systemLetter(System(s));
        EXPECT_TRUE(letters.insert(letter).second) << letter;
        EXPECT_EQ(systemFromLetter(letter), System(s));
    }
}

TEST(GnssIdsTest, GlonassFdmaFrequenciesNeedTheirChannel)
{
    EXPECT_FALSE(carrierFrequencyHz(System::Glonass, '1'));
    EXPECT_DOUBLE_EQ(*carrierFrequencyHz(System::Glonass, '1', -7), 1598.0625e6);
    EXPECT_DOUBLE_EQ(*carrierFrequencyHz(System::Glonass, '2', 6), 1248.625e6);
    EXPECT_FALSE(carrierFrequencyHz(System::Glonass, '1', 7));
    EXPECT_FALSE(carrierFrequencyHz(System::Gps, '7'));
}

TEST(GeodesyTest, GeodeticRoundTripsAndKnownPoints)
{
    const Geodetic equator = ecefToGeodetic({6378137.0, 0, 0});
    EXPECT_NEAR(equator.latitudeDeg, 0, 1e-12);
    EXPECT_NEAR(equator.heightM, 0, 1e-6);
    const Geodetic pole = ecefToGeodetic({0, 0, 6356752.314245});
    EXPECT_NEAR(pole.latitudeDeg, 90, 1e-9);
    EXPECT_NEAR(pole.heightM, 0, 1e-4);
    for (const Geodetic g : {Geodetic{47.3769, 8.5417, 408.0}, Geodetic{-33.9, 151.2, -20.5},
                             Geodetic{89.99, -179.0, 3000.0}}) {
        const Geodetic back = ecefToGeodetic(geodeticToEcef(g));
        EXPECT_NEAR(back.latitudeDeg, g.latitudeDeg, 1e-9);
        EXPECT_NEAR(back.longitudeDeg, g.longitudeDeg, 1e-9);
        EXPECT_NEAR(back.heightM, g.heightM, 1e-4);
    }
}
