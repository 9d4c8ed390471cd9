#include "SkyModel.h"

#include "SampleTime.h"
#include "Scaling.h"

#include <algorithm>
#include <cmath>

namespace Kvt::Nuvrix::SampleGen {

namespace {

constexpr double kElevationMask = 5.0 * M_PI / 180.0;
// Low satellites are tracked on their first signal only, as a real receiver often loses the
// weaker second frequency near the horizon.
constexpr double kSecondSignalMask = 12.0 * M_PI / 180.0;
constexpr double kReceiverClockBias = 1.5e-8;  // s, the receiver steers its clock
constexpr double kReceiverClockDrift = 3e-12;  // s/s
constexpr double kL1Hz = 1575.42e6;

struct ConstellationDesign {
    System system;
    int planes;
    int perPlane;
    int firstId;
    double sqrtA;
    double inclinationDeg;
    double nodeOffsetDeg;
    double phasingDeg;
    double nodeRate;  // rad/s
    double toe;       // s of week, system time
};

// Frequency channels of the GLONASS slots 1 to 24: antipodal satellites share one.
constexpr int kGlonassChannels[24] = {1, -4, 5, 6, 1, -4, 5, 6, -2, -7, 0, -1,
                                      -2, -7, 0, -1, 4, -3, 3, 2, 4, -3, 3, 2};

double radians(double degrees)
{
    return degrees * M_PI / 180.0;
}

KeplerOrbit designOrbit(const ConstellationDesign& d, int plane, int slot, double seed)
{
    KeplerOrbit o{};
    o.sqrtA = d.sqrtA + 0.4 * wobble(seed);
    o.eccentricity = 0.004 + 0.003 * std::fabs(wobble(seed + 1));
    o.inclination = radians(d.inclinationDeg + 0.8 * wobble(seed + 2));
    o.rightAscension = radians(std::remainder(d.nodeOffsetDeg + plane * 360.0 / d.planes, 360.0));
    o.argumentOfPerigee = radians(170.0 * wobble(seed + 3));
    // The mean anomaly takes back the argument of perigee, so that the satellites keep their slot
    // spacing along the plane.
    o.meanAnomaly = radians(std::remainder(slot * 360.0 / d.perPlane + plane * d.phasingDeg
                                               - 170.0 * wobble(seed + 3), 360.0));
    o.meanMotionDelta = 4.5e-9 + 0.8e-9 * wobble(seed + 4);
    o.rightAscensionRate = d.nodeRate * (1 + 0.05 * wobble(seed + 5));
    o.inclinationRate = 2e-10 * wobble(seed + 6);
    o.cuc = 5e-6 * wobble(seed + 7);
    o.cus = 6e-6 * wobble(seed + 8);
    o.crc = 220 + 40 * wobble(seed + 9);
    o.crs = 60 * wobble(seed + 10);
    o.cic = 1.2e-7 * wobble(seed + 11);
    o.cis = 1.1e-7 * wobble(seed + 12);
    o.toe = d.toe;
    return o;
}

std::vector<Satellite> buildConstellation(const ConstellationDesign& d)
{
    std::vector<Satellite> satellites;
    for (int plane = 0; plane < d.planes; ++plane) {
        for (int slot = 0; slot < d.perPlane; ++slot) {
            const int id = d.firstId + plane * d.perPlane + slot;
            const double seed = 100.0 * int(d.system) + id;
            Satellite s{};
            s.system = d.system;
            s.id = id;
            s.glonassChannel = d.system == System::Glonass ? kGlonassChannels[id - 1] : 0;
            s.orbit = designOrbit(d, plane, slot, seed);
            s.clockBias = 3.5e-4 * wobble(seed + 20);
            s.clockDrift = 4e-12 * wobble(seed + 21);
            s.issueOfData = d.system == System::BeiDou ? 1 + id % 30 : 3 * id + 17; // BeiDou AODE: 5 bits
            satellites.push_back(s);
        }
    }
    return satellites;
}

std::vector<ConstellationDesign> designs()
{
    const double gpsToe = 2 * kSecondsPerDay + 10 * 3600;        // Tuesday 10:00
    const double galileoToe = 2 * kSecondsPerDay + 9 * 3600 + 600; // Tuesday 09:10
    const double beidouToe = 2 * kSecondsPerDay + 9 * 3600;      // Tuesday 09:00 BeiDou time
    return {
        {System::Gps, 6, 4, 1, 5153.65, 55.0, 12.0, 15.0, -8.1e-9, gpsToe},
        {System::Glonass, 3, 8, 1, 5050.5, 64.8, 47.0, 15.0, -5.9e-9, SkyModel::glonassReferenceTow()},
        {System::Galileo, 3, 8, 1, 5440.6, 56.0, -75.0, 15.0, -5.6e-9, galileoToe},
        {System::BeiDou, 3, 8, 19, 5282.6, 55.0, 140.0, 15.0, -6.9e-9, beidouToe},
    };
}

double ionosphereAtL1(double elevation)
{
    // Thin shell at 350 km; 2 m of zenith delay at L1 is a quiet mid-latitude afternoon.
    const double ratio = 0.9451 * std::cos(elevation);
    return 2.0 / std::sqrt(1 - ratio * ratio);
}

double receiverClock(double gpsTow)
{
    return kReceiverClockBias + kReceiverClockDrift * (gpsTow - kFirstEpochTow);
}

} // namespace

const std::vector<Signal>& trackedSignals(System system)
{
    static const std::vector<Signal> plans[4] = {
        {{2, 1575.42e6, 0}, {10, 1227.60e6, 0}},               // GPS 1C, 2W
        {{2, 1602.0e6, 0.5625e6}, {8, 1246.0e6, 0.4375e6}},    // GLONASS 1C, 2C
        {{2, 1575.42e6, 0}, {23, 1176.45e6, 0}},               // Galileo 1C, 5Q
        {{2, 1561.098e6, 0}, {14, 1207.14e6, 0}},              // BeiDou 2I, 7I
    };
    return plans[int(system)];
}

SkyModel::SkyModel()
    : mStation{47.40782, 8.51068, 598.37}
    , mStationEcef(toEcef(mStation))
{
    for (const ConstellationDesign& d : designs())
        mSatellites[int(d.system)] = buildConstellation(d);
}

double SkyModel::systemTow(System system, double gpsTow)
{
    return system == System::BeiDou ? gpsTow - kBeiDouLagSeconds : gpsTow;
}

double SkyModel::glonassReferenceTow()
{
    // The GLONASS ephemeris in force: reference times every 30 minutes, at a quarter past and a
    // quarter to the hour.
    const GlonassTime now = glonassFromGps(kFirstEpochTow);
    const double tb = std::floor(now.secondOfDay / 1800.0) * 1800.0 + 900.0;
    return gpsTowFromGlonass(now, tb);
}

Vec3 SkyModel::position(const Satellite& satellite, double gpsTow)
{
    return orbitPosition(satellite.orbit, systemTow(satellite.system, gpsTow));
}

double SkyModel::satelliteClock(const Satellite& satellite, double gpsTow)
{
    const double elapsed = systemTow(satellite.system, gpsTow) - satellite.orbit.toe;
    return satellite.clockBias + satellite.clockDrift * elapsed;
}

SkyModel::Sight SkyModel::sight(const Satellite& satellite, double gpsTow) const
{
    // Light time: the signal received now left the satellite about 70 ms earlier, while the
    // Earth turned under it.
    double travel = 0.075;
    Vec3 emitted;
    for (int i = 0; i < 4; ++i) {
        emitted = rotateWithEarth(position(satellite, gpsTow - travel), travel);
        travel = norm(emitted - mStationEcef) / kSpeedOfLight;
    }
    return {travel * kSpeedOfLight, elevation(mStation, mStationEcef, emitted)};
}

std::vector<const Satellite*> SkyModel::visibleSatellites(System system, double gpsTow) const
{
    std::vector<const Satellite*> visible;
    for (const Satellite& s : mSatellites[int(system)]) {
        if (sight(s, gpsTow).elevation >= kElevationMask)
            visible.push_back(&s);
    }
    return visible;
}

SatelliteObservation SkyModel::observeSatellite(const Satellite& s, const std::vector<Signal>& plan,
                                                double gpsTow) const
{
    const Sight now = sight(s, gpsTow);
    const double rangeRate = sight(s, gpsTow + 0.5).range - sight(s, gpsTow - 0.5).range;
    const double clock = kSpeedOfLight * (receiverClock(gpsTow) - satelliteClock(s, gpsTow));
    const double clockRate = kSpeedOfLight * (kReceiverClockDrift - s.clockDrift);
    const double troposphere = 2.3 / std::sin(now.elevation);
    const double seed = 100.0 * int(s.system) + s.id;
    // Low satellites were acquired only seconds before the first epoch.
    const double lockedSince = now.elevation < kSecondSignalMask ? 4 + s.id % 7 : 1200 + 97 * s.id;

    SatelliteObservation observation{&s, {}};
    for (size_t k = 0; k < plan.size(); ++k) {
        if (k > 0 && now.elevation < kSecondSignalMask)
            break;
        const double hz = plan[k].baseHz + s.glonassChannel * plan[k].channelStepHz;
        const double wavelength = kSpeedOfLight / hz;
        const double iono = ionosphereAtL1(now.elevation) * (kL1Hz / hz) * (kL1Hz / hz);
        const double ambiguity = std::round(25.0 * wobble(seed + 30 + k) / wavelength) * wavelength;
        const double common = now.range + clock + troposphere;
        observation.measurements.push_back({plan[k].id, common + iono + 0.4 * wobble(seed + gpsTow + k),
                                       common - iono + ambiguity, rangeRate + clockRate,
                                       30 + 19 * std::sin(now.elevation) - 3.0 * k + 0.6 * wobble(seed + gpsTow),
                                       lockedSince + gpsTow - kFirstEpochTow});
    }
    return observation;
}

EpochObservations SkyModel::observe(System system, double gpsTow) const
{
    EpochObservations epoch{system, gpsTow, {}, {}};
    const std::vector<Signal>& plan = trackedSignals(system);
    size_t tracked = 0;
    for (const Satellite* s : visibleSatellites(system, gpsTow)) {
        epoch.satellites.push_back(observeSatellite(*s, plan, gpsTow));
        tracked = std::max(tracked, epoch.satellites.back().measurements.size());
    }
    for (size_t k = 0; k < tracked; ++k)
        epoch.signalIds.push_back(plan[k].id);
    return epoch;
}

} // namespace Kvt::Nuvrix::SampleGen
