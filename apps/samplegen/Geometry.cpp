#include "Geometry.h"

#include <cmath>

namespace Kvt::Nuvrix::SampleGen {

namespace {

constexpr double kWgs84A = 6378137.0;
constexpr double kWgs84F = 1.0 / 298.257223563;
constexpr double kHalfWeek = 302400.0;

double degrees(double value)
{
    return value * M_PI / 180.0;
}

double eccentricAnomaly(double meanAnomaly, double e)
{
    double anomaly = meanAnomaly;
    for (int i = 0; i < 10; ++i)
        anomaly = meanAnomaly + e * std::sin(anomaly);
    return anomaly;
}

} // namespace

Vec3 operator-(const Vec3& a, const Vec3& b)
{
    return {a.x - b.x, a.y - b.y, a.z - b.z};
}

double norm(const Vec3& v)
{
    return std::sqrt(v.x * v.x + v.y * v.y + v.z * v.z);
}

Vec3 toEcef(const Geodetic& position)
{
    const double lat = degrees(position.latitudeDeg);
    const double lon = degrees(position.longitudeDeg);
    const double e2 = kWgs84F * (2 - kWgs84F);
    const double n = kWgs84A / std::sqrt(1 - e2 * std::sin(lat) * std::sin(lat));
    const double h = position.height;
    return {(n + h) * std::cos(lat) * std::cos(lon), (n + h) * std::cos(lat) * std::sin(lon),
            (n * (1 - e2) + h) * std::sin(lat)};
}

double elevation(const Geodetic& site, const Vec3& siteEcef, const Vec3& target)
{
    const double lat = degrees(site.latitudeDeg);
    const double lon = degrees(site.longitudeDeg);
    const Vec3 d = target - siteEcef;
    const double up = std::cos(lat) * std::cos(lon) * d.x + std::cos(lat) * std::sin(lon) * d.y
        + std::sin(lat) * d.z;
    return std::asin(up / norm(d));
}

Vec3 orbitPosition(const KeplerOrbit& o, double t)
{
    double tk = t - o.toe;
    if (tk > kHalfWeek)
        tk -= 2 * kHalfWeek;
    else if (tk < -kHalfWeek)
        tk += 2 * kHalfWeek;
    const double a = o.sqrtA * o.sqrtA;
    const double n = std::sqrt(kEarthGravity / (a * a * a)) + o.meanMotionDelta;
    const double e = o.eccentricity;
    const double ek = eccentricAnomaly(o.meanAnomaly + n * tk, e);
    const double v = std::atan2(std::sqrt(1 - e * e) * std::sin(ek), std::cos(ek) - e);
    const double phi = v + o.argumentOfPerigee;
    const double s2 = std::sin(2 * phi);
    const double c2 = std::cos(2 * phi);
    const double u = phi + o.cus * s2 + o.cuc * c2;
    const double r = a * (1 - e * std::cos(ek)) + o.crs * s2 + o.crc * c2;
    const double i = o.inclination + o.cis * s2 + o.cic * c2 + o.inclinationRate * tk;
    const double node = o.rightAscension + (o.rightAscensionRate - kEarthRotationRate) * tk
        - kEarthRotationRate * o.toe;
    const double xp = r * std::cos(u);
    const double yp = r * std::sin(u);
    return {xp * std::cos(node) - yp * std::cos(i) * std::sin(node),
            xp * std::sin(node) + yp * std::cos(i) * std::cos(node), yp * std::sin(i)};
}

Vec3 rotateWithEarth(const Vec3& p, double seconds)
{
    const double angle = kEarthRotationRate * seconds;
    return {std::cos(angle) * p.x + std::sin(angle) * p.y, -std::sin(angle) * p.x + std::cos(angle) * p.y,
            p.z};
}

} // namespace Kvt::Nuvrix::SampleGen
