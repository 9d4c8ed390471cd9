// One real capture per constellation against numbers worked out by hand from the frames' bits
// (rough range, fine range, rate, CNR and lock indicator read field by field and scaled as the
// message tables say), and the date each capture's own messages give.

#include "view_support.h"

#include <gtest/gtest.h>

#include <cmath>

using namespace Kvt;
using namespace viewtest;

namespace {

struct Expected {
    const char* file;
    const char* hint;       // for a capture without a time reference of its own
    const char* time;       // of the first epoch with the signal, GPST
    const char* sat;
    const char* code;
    double pseudorangeM, phaseCycles, dopplerHz, cn0DbHz;
    double lockTimeS;       // negative: a reserved indicator, absent
    bool halfCycle;
};

// pygpsdata-NTRIP-USCL00CHL0.log: one MSM7 of each constellation, dated by its 1013.
// sept.rtcm carries the QZSS satellite; no shared capture has NavIC signals from a receiver,
// so a generated 1137 stands in for them (its lock indicator 917 is a reserved value).
const Expected kExpected[] = {
    {"pyrtcm/pygpsdata-NTRIP-USCL00CHL0.log", nullptr, "2024-03-13T16:35:45.000", "G01", "1C",
     20667626.1216, 108609052.7841, -1569.8157, 49.4375, 16252.928, false},
    // Frequency channel 8 - 7 = +1 from the extended satellite information; Moscow day 3.
    {"pyrtcm/pygpsdata-NTRIP-USCL00CHL0.log", nullptr, "2024-03-13T16:35:45.000", "R01", "1C",
     22565175.7062, 120623859.9330, 2070.9520, 41.5625, 1966.080, false},
    {"pyrtcm/pygpsdata-NTRIP-USCL00CHL0.log", nullptr, "2024-03-13T16:35:45.000", "E03", "1C",
     23976288.1980, 125996199.8416, -1275.7434, 49.3125, 17825.792, false},
    // Satellite 12 of the SBAS mask is PRN 131.
    {"pyrtcm/pygpsdata-NTRIP-USCL00CHL0.log", nullptr, "2024-03-13T16:35:45.000", "S31", "1C",
     38942669.7455, 204645032.4932, -0.0762, 40.8125, 67108.864, false},
    // BDT 318931 s is GPST 318945 s.
    {"pyrtcm/pygpsdata-NTRIP-USCL00CHL0.log", nullptr, "2024-03-13T16:35:45.000", "C12", "2I",
     26571254.3977, 138363478.9862, 2575.6396, 34.8125, 1212.416, false},
    {"gnss-converters/sept.rtcm", nullptr, "2018-01-02T19:58:05.000", "J02", "1C",
     34365093.1474, 180589817.2654, 2369.2685, 47.4375, 16252.928, false},
    {"rtcm-rs/msg1137_2.rtcm", "2021-02-03", "2021-02-05T18:02:33.727", "I15", "5A",
     36568304.6090, 143500377.6649, 5971.5848, 44.75, -1, true},
};

// A skipped or failed case names its capture and signal, not the bytes of the row.
void PrintTo(const Expected& x, std::ostream* os) { *os << x.file << ' ' << x.sat << ' ' << x.code; }

class SampleTest : public ::testing::TestWithParam<Expected> {};

TEST_P(SampleTest, ValuesAndDateOfTheFirstEpochWithTheSignal)
{
    const Expected& x = GetParam();
    const std::string path = samplesDir() + "/" + x.file;
    if (!std::filesystem::exists(path))
        GTEST_SKIP() << "no " << path;
    std::optional<Gnss::GpsTime> hint;
    if (x.hint)
        hint = Gnss::GpsTime::fromCalendar({std::atoi(x.hint), std::atoi(x.hint + 5), std::atoi(x.hint + 8), 12, 0, 0.0});
    const CollectSink sink = runCapture(path, hint);
    for (const Gnss::ObservationEpoch& e : sink.epochs)
        for (const Gnss::SatelliteObservations& s : e.satellites)
            for (const Gnss::Observation& o : s.observations) {
                if (s.sat.toString() != x.sat || o.code.toString() != x.code)
                    continue;
                EXPECT_EQ(e.time.toIso(), x.time);
                ASSERT_TRUE(o.pseudorangeM && o.phaseCycles && o.dopplerHz && o.cn0DbHz);
                EXPECT_NEAR(*o.pseudorangeM, x.pseudorangeM, 1e-3);
                EXPECT_NEAR(*o.phaseCycles, x.phaseCycles, 1e-3);
                EXPECT_NEAR(*o.dopplerHz, x.dopplerHz, 1e-3);
                EXPECT_DOUBLE_EQ(*o.cn0DbHz, x.cn0DbHz);
                if (x.lockTimeS < 0)
                    EXPECT_FALSE(o.lockTimeS);
                else
                    EXPECT_DOUBLE_EQ(o.lockTimeS.value_or(-1), x.lockTimeS);
                EXPECT_EQ(o.halfCycleAmbiguity, x.halfCycle);
                return;
            }
    ADD_FAILURE() << x.sat << ' ' << x.code << " not found in " << x.file;
}

INSTANTIATE_TEST_SUITE_P(Captures, SampleTest, ::testing::ValuesIn(kExpected),
                         [](const auto& info) { return std::string(info.param.sat) + "_" + info.param.code; });

// Station records of one capture: ECEF as the peer writes it, latitude, longitude and height
// by Bowring's closed form, descriptors as sent.
TEST(SampleStation, PositionAndDescriptorsOfUscl)
{
    const std::string path = samplesDir() + "/pyrtcm/pygpsdata-NTRIP-USCL00CHL0.log";
    if (!std::filesystem::exists(path))
        GTEST_SKIP() << "no " << path;
    const CollectSink sink = runCapture(path);
    ASSERT_EQ(sink.positions.size(), 2u);  // 1005 and 1006
    const Gnss::StationPosition& p = sink.positions[1];
    EXPECT_NEAR(p.ecef.x, 1762489.6191, 1e-4);
    EXPECT_NEAR(p.ecef.y, -5027633.8438, 1e-4);
    EXPECT_NEAR(p.ecef.z, -3496008.8438, 1e-4);
    EXPECT_NEAR(p.antennaHeightM.value_or(-1), 0.0343, 1e-4);
    const Gnss::Geodetic g = p.geodetic();
    EXPECT_NEAR(g.latitudeDeg, -33.449845644, 1e-8);
    EXPECT_NEAR(g.longitudeDeg, -70.681351359, 1e-8);
    EXPECT_NEAR(g.heightM, 570.769, 1e-3);
    const Gnss::StationDescription& d = sink.descriptions.back();  // the 1033
    EXPECT_EQ(d.antennaDescriptor, "SEPCHOKE_B3E6   SPKE");
    EXPECT_EQ(d.receiverDescriptor, "SEPT POLARX5");
    EXPECT_EQ(d.receiverFirmwareVersion, "5.5.0");
    EXPECT_EQ(d.receiverSerialNumber, "3075024");
    // The 1020 of R09: tb at 16:45 of the Moscow day is 16:45:18 GPST with 18 leap seconds.
    ASSERT_EQ(sink.glonass.size(), 1u);
    EXPECT_EQ(sink.glonass[0].toe.toIso(), "2024-03-13T16:45:18.000");
    EXPECT_EQ(sink.glonass[0].frequencyChannel, -2);
}

} // namespace
