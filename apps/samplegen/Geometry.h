#pragma once
// Earth-fixed geometry of the sample: the station, broadcast-style orbits and the line of sight.

namespace Kvt::Nuvrix::SampleGen {

constexpr double kSpeedOfLight = 299792458.0;        // m/s
constexpr double kEarthRotationRate = 7.2921151467e-5; // rad/s
constexpr double kEarthGravity = 3.986005e14;        // m^3/s^2

struct Vec3 {
    double x = 0;
    double y = 0;
    double z = 0;
};
Vec3 operator-(const Vec3& a, const Vec3& b);
double norm(const Vec3& v);

// WGS84 latitude and longitude in degrees, ellipsoidal height in metres.
struct Geodetic {
    double latitudeDeg;
    double longitudeDeg;
    double height;
};
Vec3 toEcef(const Geodetic& position);

// Elevation of `target` above the horizon of `site`, in radians.
double elevation(const Geodetic& site, const Vec3& siteEcef, const Vec3& target);

// One broadcast ephemeris element set, in metres, seconds and radians. The sample derives both
// the observations and the ephemeris messages from it, so a decoder that computes satellite
// positions from the ephemerides finds ranges that agree with the observations.
struct KeplerOrbit {
    double sqrtA;
    double eccentricity;
    double inclination;
    double rightAscension;    // at the start of the week
    double argumentOfPerigee;
    double meanAnomaly;       // at toe
    double meanMotionDelta;   // rad/s
    double rightAscensionRate; // rad/s
    double inclinationRate;   // rad/s
    double cuc, cus, crc, crs, cic, cis;
    double toe;               // seconds of week in the system's own time
};

// Earth-fixed position at seconds of week t of the orbit's time scale.
Vec3 orbitPosition(const KeplerOrbit& orbit, double t);

// Rotates an Earth-fixed position by the Earth's turn during `seconds`, to express where a
// satellite was at transmission in the frame of the reception time.
Vec3 rotateWithEarth(const Vec3& position, double seconds);

} // namespace Kvt::Nuvrix::SampleGen
