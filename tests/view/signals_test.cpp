// The signal tables by their properties: what a wrong or shifted row would break.

#include "RtcmSignals.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

using namespace Kvt;
using namespace Kvt::Nuvrix::View;
using Gnss::System;

namespace {

constexpr System kSystems[] = {System::Gps,  System::Glonass, System::Galileo, System::Sbas,
                               System::Qzss, System::BeiDou,  System::NavIC};

TEST(MsmSignals, EveryCodeIsUniqueWithinItsConstellation)
{
    for (const System s : kSystems) {
        std::set<std::string> seen;
        int defined = 0;
        for (int id = 1; id <= kMsmSignalIds; ++id)
            if (const auto code = msmSignal(s, id)) {
                ++defined;
                EXPECT_TRUE(seen.insert(code->toString()).second)
                    << Gnss::systemName(s) << " signal " << id << " repeats " << code->toString();
            }
        EXPECT_GT(defined, 0) << Gnss::systemName(s);
    }
}

TEST(MsmSignals, EveryBandHasACarrierFrequency)
{
    for (const System s : kSystems)
        for (int id = 1; id <= kMsmSignalIds; ++id) {
            if (const auto code = msmSignal(s, id)) {
                EXPECT_TRUE(Gnss::carrierFrequencyHz(s, code->band, 0).has_value())
                    << Gnss::systemName(s) << " signal " << id << " band " << code->band;
            }
        }
}

TEST(MsmSignals, IdZeroAndBeyondTheMaskAreNoSignal)
{
    for (const System s : kSystems) {
        EXPECT_FALSE(msmSignal(s, 0));
        EXPECT_FALSE(msmSignal(s, 33));
        EXPECT_FALSE(msmSignal(s, 1));  // reserved in every table
    }
}

// Rows where the tables differ between constellations: a row copied from another system
// shows here.
TEST(MsmSignals, KnownRows)
{
    struct Row { System system; int id; const char* code; };
    const Row rows[] = {
        {System::Gps, 2, "1C"},      {System::Gps, 4, "1W"},      {System::Gps, 17, "2X"},
        {System::Gps, 22, "5I"},     {System::Gps, 32, "1X"},     {System::Glonass, 3, "1P"},
        {System::Glonass, 8, "2C"},  {System::Galileo, 5, "1X"},  {System::Galileo, 15, "7Q"},
        {System::Galileo, 20, "8X"}, {System::Galileo, 24, "5X"}, {System::Sbas, 22, "5I"},
        {System::Qzss, 9, "6S"},     {System::Qzss, 30, "1S"},    {System::BeiDou, 2, "2I"},
        {System::BeiDou, 8, "6I"},   {System::BeiDou, 14, "7I"},  {System::BeiDou, 23, "5P"},
        {System::BeiDou, 31, "1P"},  {System::NavIC, 8, "9A"},    {System::NavIC, 22, "5A"},
    };
    for (const Row& r : rows) {
        const auto code = msmSignal(r.system, r.id);
        ASSERT_TRUE(code) << Gnss::systemName(r.system) << ' ' << r.id;
        EXPECT_EQ(code->toString(), r.code) << Gnss::systemName(r.system) << ' ' << r.id;
    }
}

TEST(MsmSatellites, PrnOffsetsOfSbasAndQzss)
{
    EXPECT_EQ(msmSatellite(System::Gps, 5)->toString(), "G05");
    EXPECT_EQ(msmSatellite(System::Sbas, 4)->toString(), "S23");   // PRN 123
    EXPECT_EQ(msmSatellite(System::Qzss, 2)->toString(), "J02");   // PRN 194
    EXPECT_EQ(msmSatellite(System::BeiDou, 19)->toString(), "C19");
    EXPECT_FALSE(msmSatellite(System::Gps, 0));
    EXPECT_FALSE(msmSatellite(System::Qzss, 11));                  // PRN 203: no RINEX name
}

TEST(MsmMessages, SystemAndLevelOfEveryNumber)
{
    for (int s = 0; s < 7; ++s)
        for (int level = 1; level <= 7; ++level) {
            const int number = 1071 + 10 * s + level - 1;
            EXPECT_EQ(msmSystem(number), kSystems[s]) << number;
            EXPECT_EQ(msmLevel(number), level) << number;
        }
    for (const int n : {1070, 1078, 1079, 1080, 1138, 1005})
        EXPECT_FALSE(msmSystem(n)) << n;
}

// Lock time tables: never decreasing, steps joining where the resolution changes, and the
// ends of each table.
TEST(LockTimes, TablesGrowAndEndWhereTheyShould)
{
    struct Table { const char* name; std::optional<double> (*lock)(int); int last; double lastS; };
    const Table tables[] = {
        {"MSM1-5", msmLockTimeS, 15, 524.288},
        {"MSM6-7", msmExtendedLockTimeS, 704, 67108.864},
        {"legacy", legacyLockTimeS, 127, 937.0},
    };
    for (const Table& t : tables) {
        double previous = -1;
        for (int i = 0; i <= t.last; ++i) {
            const auto s = t.lock(i);
            ASSERT_TRUE(s) << t.name << ' ' << i;
            EXPECT_GT(*s, previous) << t.name << ' ' << i;
            previous = *s;
        }
        EXPECT_DOUBLE_EQ(*t.lock(t.last), t.lastS) << t.name;
        EXPECT_FALSE(t.lock(t.last + 1)) << t.name;
        EXPECT_FALSE(t.lock(-1)) << t.name;
    }
    // Where the resolution doubles: 64 -> 64 ms, 96 -> 128 ms, 126 -> 936 s.
    EXPECT_DOUBLE_EQ(*msmExtendedLockTimeS(64), 0.064);
    EXPECT_DOUBLE_EQ(*msmExtendedLockTimeS(96), 0.128);
    EXPECT_DOUBLE_EQ(*msmExtendedLockTimeS(638), 16252.928);
    EXPECT_DOUBLE_EQ(*legacyLockTimeS(24), 24.0);
    EXPECT_DOUBLE_EQ(*legacyLockTimeS(126), 936.0);
    EXPECT_DOUBLE_EQ(*msmLockTimeS(1), 0.032);
}

} // namespace
