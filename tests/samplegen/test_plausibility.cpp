// The bundled sample as physics: the station sits on the Earth, the observations hang together
// across messages and epochs, and the ephemerides and corrections describe the satellites that
// are observed.

#include "Geometry.h"
#include "sample.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>

using namespace samplegen_test;
namespace sg = Kvt::Nuvrix::SampleGen;

namespace {

constexpr double kMetresPerMs = 299792.458;
constexpr int kObservationMessagesPerEpoch = 8;
const uint16_t kMsm4[] = {1074, 1084, 1094, 1124};

sg::Vec3 stationArp()
{
    sg::Vec3 arp;
    forEachDecoded([&](const Frame& f, const _RTCM3_message_t& m, int32_t) {
        if (f.number == 1006)
            arp = {m.Message_Type_1006.ECEF_X * 1e-4, m.Message_Type_1006.ECEF_Y * 1e-4, m.Message_Type_1006.ECEF_Z * 1e-4};
    });
    return arp;
}

// The GPS orbit that a 1019 describes, in the units the geometry works in.
sg::KeplerOrbit orbitOf(const RTCM3_Message_Type_1019_s& r)
{
    const double semicircle = M_PI;
    sg::KeplerOrbit o{};
    o.sqrtA = std::ldexp(r.SQRT_A, -19);
    o.eccentricity = std::ldexp(r.e, -33);
    o.inclination = std::ldexp(r.i_0, -31) * semicircle;
    o.rightAscension = std::ldexp(r.OMEGA_0, -31) * semicircle;
    o.argumentOfPerigee = std::ldexp(r.omega, -31) * semicircle;
    o.meanAnomaly = std::ldexp(r.M_0, -31) * semicircle;
    o.meanMotionDelta = std::ldexp(r.Delta_n, -43) * semicircle;
    o.rightAscensionRate = std::ldexp(r.OMEGADOT, -43) * semicircle;
    o.inclinationRate = std::ldexp(r.IDOT, -43) * semicircle;
    o.cuc = std::ldexp(r.C_uc, -29);
    o.cus = std::ldexp(r.C_us, -29);
    o.cic = std::ldexp(r.C_ic, -29);
    o.cis = std::ldexp(r.C_is, -29);
    o.crc = std::ldexp(r.C_rc, -5);
    o.crs = std::ldexp(r.C_rs, -5);
    o.toe = r.t_oe * 16.0;
    return o;
}

double geometricRange(const sg::KeplerOrbit& orbit, const sg::Vec3& station, double tow)
{
    double travel = 0.075;
    for (int i = 0; i < 4; ++i)
        travel = sg::norm(sg::rotateWithEarth(sg::orbitPosition(orbit, tow - travel), travel) - station) / 299792458.0;
    return travel * 299792458.0;
}

} // namespace

// Masks that announce a satellite or signal without a cell, ranges that no GNSS satellite can
// have, or signal strengths no receiver reports.
TEST(SamplePlausibility, ObservationsFillTheirMasksWithRealisticValues)
{
    const std::vector<MsmView> views = msmViews();
    ASSERT_EQ(views.size(), 10u * kObservationMessagesPerEpoch);
    for (size_t i = 0; i < views.size(); ++i) {
        const MsmView& v = views[i];
        SCOPED_TRACE(v.number);
        const size_t nsat = v.satelliteIds.size(), nsig = v.cells.size() / std::max<size_t>(nsat, 1);
        EXPECT_GE(nsat, 4u) << "too few satellites for a position";
        std::vector<bool> satelliteUsed(nsat), signalUsed(nsig);
        for (size_t c = 0; c < v.cells.size(); ++c) {
            if (v.cells[c])
                satelliteUsed[c / nsig] = signalUsed[c % nsig] = true;
        }
        EXPECT_EQ(std::count(satelliteUsed.begin(), satelliteUsed.end(), false), 0) << "satellite without a cell";
        EXPECT_EQ(std::count(signalUsed.begin(), signalUsed.end(), false), 0) << "signal without a cell";
        for (double rough : v.roughMs)
            EXPECT_TRUE(rough > 64.0 && rough < 95.0) << rough;
        for (double cnr : v.cnr)
            EXPECT_TRUE(cnr > 25.0 && cnr < 55.0) << cnr;
        EXPECT_EQ(v.moreFollow, i % kObservationMessagesPerEpoch != kObservationMessagesPerEpoch - 1)
            << "only the last observation message of an epoch closes it";
    }
}

TEST(SamplePlausibility, Msm4AndMsm7OfOneEpochReportTheSameMeasurements)
{
    for (uint16_t msm4 : kMsm4) {
        const std::vector<MsmView> coarse = msmViews(msm4);
        const std::vector<MsmView> fine = msmViews(uint16_t(msm4 + 3));
        ASSERT_EQ(coarse.size(), fine.size());
        for (size_t e = 0; e < coarse.size(); ++e) {
            SCOPED_TRACE(testing::Message() << msm4 << " epoch " << e);
            EXPECT_EQ(coarse[e].epochTime, fine[e].epochTime);
            EXPECT_EQ(coarse[e].satelliteMask, fine[e].satelliteMask);
            EXPECT_EQ(coarse[e].signalMask, fine[e].signalMask);
            ASSERT_EQ(coarse[e].cells, fine[e].cells);
            for (size_t c = 0; c < coarse[e].pseudorangeMs.size(); ++c) {
                EXPECT_NEAR(coarse[e].pseudorangeMs[c], fine[e].pseudorangeMs[c], std::ldexp(1.0, -24));
                EXPECT_NEAR(coarse[e].phaseRangeMs[c], fine[e].phaseRangeMs[c], std::ldexp(1.0, -29));
                EXPECT_NEAR(coarse[e].cnr[c], fine[e].cnr[c], 0.5 + 1.0 / 32);
            }
        }
    }
}

// Carrier phase grows by the phase range rate: a rate of the wrong sign or scale misses by
// metres, whereas the troposphere of a low satellite adds a centimetre per second at most.
TEST(SamplePlausibility, PhaseRangesMoveAtTheReportedRates)
{
    for (uint16_t msm7 : {1077, 1087, 1097, 1127}) {
        const std::vector<MsmView> epochs = msmViews(uint16_t(msm7));
        for (size_t e = 0; e + 1 < epochs.size(); ++e) {
            const MsmView& now = epochs[e];
            const MsmView& next = epochs[e + 1];
            ASSERT_EQ(now.cells, next.cells);
            for (size_t c = 0; c < now.phaseRangeMs.size(); ++c) {
                const double moved = (next.phaseRangeMs[c] - now.phaseRangeMs[c]) * kMetresPerMs;
                EXPECT_NEAR(moved, (now.rate[c] + next.rate[c]) / 2, 0.05) << msm7 << " epoch " << e << " cell " << c;
            }
        }
    }
}

// Positions computed from the GPS ephemeris must reproduce the observed pseudoranges up to the
// atmosphere and the receiver clock (at most some 40 m); a field with a wrong scale misses by
// kilometres.
TEST(SamplePlausibility, GpsEphemerisPredictsTheObservedPseudoranges)
{
    const sg::Vec3 station = stationArp();
    MsmView latest;
    int mjd = 0;
    int checked = 0;
    forEachDecoded([&](const Frame& f, const _RTCM3_message_t& m, int32_t) {
        if (f.number == 1013)
            mjd = m.Message_Type_1013.MJD_Number;
        if (f.number == 1077)
            latest = viewOf(m.Message_Type_1077);
        if (f.number != 1019)
            return;
        const auto& r = m.Message_Type_1019;
        const double observed = firstPseudorangeMs(latest, r.Satellite_ID) * kMetresPerMs;
        ASSERT_GT(observed, 0) << "ephemeris of untracked satellite G" << int(r.Satellite_ID);
        const double tow = latest.epochTime / 1000.0;
        const double clock = std::ldexp(r.a_f0, -31) + std::ldexp(r.a_f1, -43) * (tow - r.t_oc * 16.0);
        const double predicted = geometricRange(orbitOf(r), station, tow) - clock * 299792458.0;
        EXPECT_NEAR(observed, predicted, 40.0) << "G" << int(r.Satellite_ID);
        EXPECT_EQ(r.Week_Number, (mjd - 44244) / 7 % 1024) << "week of the date in the system parameters";
        ++checked;
    });
    EXPECT_EQ(checked, 10);
}

// The GLONASS state vector, carried from tb to the epoch along its velocity, must give the
// observed pseudorange once the satellite clock offset tau is added: a wrong sign or scale of a
// sign-magnitude field misses by hundreds of kilometres, the straight-line carry by some 100 m.
// Its frequency channel must be the one the observations use.
TEST(SamplePlausibility, GlonassStateVectorPlacesTheSatelliteAtTheObservedRange)
{
    const sg::Vec3 station = stationArp();
    MsmView latest;
    int checked = 0;
    forEachDecoded([&](const Frame& f, const _RTCM3_message_t& m, int32_t) {
        if (f.number == 1087)
            latest = viewOf(m.Message_Type_1087);
        if (f.number != 1020)
            return;
        const auto& r = m.Message_Type_1020;
        const double observed = firstPseudorangeMs(latest, r.Satellite_ID) * kMetresPerMs;
        ASSERT_GT(observed, 0) << "ephemeris of untracked satellite R" << int(r.Satellite_ID);
        const double sinceTb = latest.epochTime / 1000.0 - r.tb * 900.0;
        const sg::Vec3 satellite{(r.x + r.dx * sinceTb) * 1e3, (r.y + r.dy * sinceTb) * 1e3, (r.z + r.dz * sinceTb) * 1e3};
        const double predicted = sg::norm(satellite - station) + r.tau * 299792458.0;
        EXPECT_NEAR(observed, predicted, 500.0) << "R" << int(r.Satellite_ID);
        const auto at = std::find(latest.satelliteIds.begin(), latest.satelliteIds.end(), r.Satellite_ID);
        EXPECT_EQ(latest.extendedInfo[size_t(at - latest.satelliteIds.begin())], r.Channel_Number);
        ++checked;
    });
    EXPECT_EQ(checked, 10);
}

// A correction refers to the broadcast ephemeris it corrects: IODE for GPS, tb for GLONASS.
TEST(SamplePlausibility, OrbitCorrectionsReferToTheBroadcastEphemerides)
{
    std::map<int, int> iode;   // GPS satellite -> IODE; key 0: the GLONASS tb
    forEachDecoded([&](const Frame& f, const _RTCM3_message_t& m, int32_t) {
        if (f.number == 1019)
            iode[m.Message_Type_1019.Satellite_ID] = m.Message_Type_1019.IODE;
        if (f.number == 1020)
            iode[0] = m.Message_Type_1020.tb;
    });
    int compared = 0;
    const auto compare = [&](const auto& r, bool glonass) {
        for (int i = 0; i < r.Nr_of_Satellites; ++i) {
            const auto found = iode.find(glonass ? 0 : r.Corrections[i].Satellite_ID);
            if (found == iode.end())
                continue;
            EXPECT_EQ(r.Corrections[i].IOD, found->second) << int(r.Corrections[i].Satellite_ID);
            ++compared;
        }
    };
    forEachDecoded([&](const Frame& f, const _RTCM3_message_t& m, int32_t) {
        if (f.number == 1057)
            compare(m.Message_Type_1057, false);
        if (f.number == 1060)
            compare(m.Message_Type_1060, false);
        if (f.number == 1063)
            compare(m.Message_Type_1063, true);
    });
    EXPECT_GT(compared, 10);
}
