#pragma once
// Broadcast ephemerides of the RTCM 3 records as orbits and clocks in SI units, their times
// resolved to full weeks. Internal to the view.

#include "GnssData.h"
#include "RTCM3_families.h"

#include <optional>

namespace Kvt::Nuvrix::View {

using Gnss::GpsTime;

// Weeks are full weeks (GPS weeks for NavIC, the 10-bit week of the record resolved); a
// reference time sent near a week's end may belong to the week before or after: `near`, an
// instant of the data, tells which.
Gnss::KeplerEphemeris gpsEphemeris(const RTCM3_Message_Type_1019_s& r, int32_t week, const std::optional<GpsTime>& near);
Gnss::KeplerEphemeris qzssEphemeris(const RTCM3_Message_Type_1044_s& r, int32_t week, const std::optional<GpsTime>& near);
Gnss::KeplerEphemeris navicEphemeris(const RTCM3_Message_Type_1041_s& r, int32_t gpsWeek, const std::optional<GpsTime>& near);
Gnss::KeplerEphemeris beidouEphemeris(const RTCM3_Message_Type_1042_s& r, const std::optional<GpsTime>& near);
// 1045 (F/NAV) or 1046 (I/NAV).
Gnss::KeplerEphemeris galileoEphemeris(const RTCM3_Message_Type_1045_s& r, const std::optional<GpsTime>& near);
Gnss::KeplerEphemeris galileoEphemeris(const RTCM3_Message_Type_1046_s& r, const std::optional<GpsTime>& near);
// tb and tk are Moscow times of day: the day is the one of `reference`, given GPS - UTC.
Gnss::GlonassEphemeris glonassEphemeris(const RTCM3_Message_Type_1020_s& r, const GpsTime& reference, int leap);

// The reference time of an ephemeris in GPS time at its broadcast week: for telling whether
// it dates the stream.
GpsTime galileoReferenceTime(const family::GalileoOrbit& m);
GpsTime beidouReferenceTime(const RTCM3_Message_Type_1042_s& r);

} // namespace Kvt::Nuvrix::View
