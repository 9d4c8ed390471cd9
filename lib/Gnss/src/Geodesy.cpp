#include "Geodesy.h"

#include <cmath>

namespace Kvt::Gnss {

namespace {
constexpr double kA = 6378137.0;                 // WGS-84 semi-major axis, m
constexpr double kF = 1.0 / 298.257223563;       // flattening
constexpr double kE2 = kF * (2.0 - kF);          // first eccentricity squared
constexpr double kPi = 3.14159265358979323846;
constexpr double kDeg = 180.0 / kPi;
} // namespace

Geodetic ecefToGeodetic(const Ecef& p)
{
    const double r2 = p.x * p.x + p.y * p.y;
    const double r = std::sqrt(r2);
    // Fixed-point iteration on the latitude: a few rounds reach 1e-12 rad anywhere on earth.
    double z = p.z;
    double zk = 0.0;
    double n = kA;
    for (int i = 0; i < 10 && std::fabs(z - zk) >= 1e-4; ++i) {
        zk = z;
        const double sinLat = z / std::sqrt(r2 + z * z);
        n = kA / std::sqrt(1.0 - kE2 * sinLat * sinLat);
        z = p.z + n * kE2 * sinLat;
    }
    Geodetic g;
    g.latitudeDeg = (r > 1e-12 ? std::atan(z / r) : (p.z > 0.0 ? kPi / 2.0 : -kPi / 2.0)) * kDeg;
    g.longitudeDeg = (r > 1e-12 ? std::atan2(p.y, p.x) : 0.0) * kDeg;
    g.heightM = std::sqrt(r2 + z * z) - n;
    return g;
}

Ecef geodeticToEcef(const Geodetic& g)
{
    const double lat = g.latitudeDeg / kDeg;
    const double lon = g.longitudeDeg / kDeg;
    const double sinLat = std::sin(lat);
    const double n = kA / std::sqrt(1.0 - kE2 * sinLat * sinLat);
    return {(n + g.heightM) * std::cos(lat) * std::cos(lon),
            (n + g.heightM) * std::cos(lat) * std::sin(lon),
            (n * (1.0 - kE2) + g.heightM) * sinLat};
}

} // namespace Kvt::Gnss
