#pragma once
// The simulated sky over the sample station: four constellations of satellites on broadcast-style
// orbits, and what the station's receiver measures from them at an epoch.

#include "Geometry.h"

#include <vector>

namespace Kvt::Nuvrix::SampleGen {

enum class System { Gps, Glonass, Galileo, BeiDou };

struct Signal {
    int id;               // position in the MSM signal mask, 1 to 32
    double baseHz;
    double channelStepHz; // GLONASS frequency division: step per frequency channel
};

struct Satellite {
    System system;
    int id;               // PRN, or GLONASS slot
    int glonassChannel;   // frequency channel -7 to 6, GLONASS only
    KeplerOrbit orbit;
    double clockBias;     // s, at the orbit's reference time
    double clockDrift;    // s/s
    int issueOfData;      // IODE, IODnav or AODE of the current ephemeris
};

struct SignalObservation {
    int signalId;
    double pseudorange;     // m
    double phaseRange;      // m
    double phaseRangeRate;  // m/s
    double cnr;             // dB-Hz
    double lockTime;        // s
};

struct SatelliteObservation {
    const Satellite* satellite;
    std::vector<SignalObservation> measurements; // ascending signal id; untracked signals are absent
};

struct EpochObservations {
    System system;
    double gpsTow;
    std::vector<int> signalIds;                   // every signal tracked on some satellite
    std::vector<SatelliteObservation> satellites; // ascending satellite id
};

class SkyModel {
public:
    SkyModel();

    const Geodetic& stationPosition() const { return mStation; }
    const Vec3& stationEcef() const { return mStationEcef; }

    // Satellites above the elevation mask, ascending id.
    std::vector<const Satellite*> visibleSatellites(System system, double gpsTow) const;
    EpochObservations observe(System system, double gpsTow) const;

    // Satellite clock offset against its system time, in seconds.
    static double satelliteClock(const Satellite& satellite, double gpsTow);
    static double systemTow(System system, double gpsTow);
    // Earth-fixed position at a GPS time.
    static Vec3 position(const Satellite& satellite, double gpsTow);
    // GPS time of the GLONASS ephemeris reference instant (tb) of the sample.
    static double glonassReferenceTow();

private:
    struct Sight {
        double range;
        double elevation;
    };
    Sight sight(const Satellite& satellite, double gpsTow) const;
    SatelliteObservation observeSatellite(const Satellite& satellite, const std::vector<Signal>& plan,
                                          double gpsTow) const;

    Geodetic mStation;
    Vec3 mStationEcef;
    std::vector<Satellite> mSatellites[4];
};

const std::vector<Signal>& trackedSignals(System system);

} // namespace Kvt::Nuvrix::SampleGen
