#pragma once
// WGS-84 earth-centred coordinates and geodetic latitude, longitude and height.

namespace Kvt::Gnss {

struct Ecef {
    double x = 0, y = 0, z = 0;  // m
};

struct Geodetic {
    double latitudeDeg = 0, longitudeDeg = 0;
    double heightM = 0;  // above the ellipsoid
};

Geodetic ecefToGeodetic(const Ecef& p);
Ecef geodeticToEcef(const Geodetic& g);

} // namespace Kvt::Gnss
