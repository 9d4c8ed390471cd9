#pragma once
// RINEX 3 long file names: SSSSMRCCC_S_YYYYDDDHHMM_PPU_FFU_MO.rnx for observations and
// SSSSMRCCC_S_YYYYDDDHHMM_PPU_MN.rnx for a mixed navigation file; RINEX 2 short names
// ssssdddf.yyt.

#include "GnssTime.h"

#include <string>

namespace Kvt::Gnss {

enum class RinexVersion { V2_11, V3_04, V3_05 };

struct RinexFileStation {
    std::string marker;        // the first four characters name the station
    int monument = 0;          // 0-9
    int receiver = 0;          // 0-9
    std::string country = "XXX";
    // R: from receiver data, S: from a data stream (RTCM or other), U: unknown.
    char dataSource = 'S';
};

namespace RinexNames {

// "ABCD00XXX": marker upper-cased, cut or padded to four characters (a number is padded with
// leading zeros, a name with trailing zeros), then monument, receiver and country.
std::string stationCode(const RinexFileStation& station);

// The period a file covers: "15M", "01H", "01D", "01Y"; "00U" where it is not known (<= 0).
// A span is written in the largest unit that holds it whole, rounded up to whole minutes.
std::string period(double spanS);

// The data frequency: "30S", "01S", "05Z" (5 Hz), "01C" (100 Hz), "01M"; "00U" where unknown.
std::string frequency(double intervalS);

std::string observationFile(const RinexFileStation& station, const GpsTime& start, double spanS,
                            double intervalS);
std::string navigationFile(const RinexFileStation& station, const GpsTime& start, double spanS);

// "tlse034a.21o": the station's four characters in lower case, the day of year, the session
// ('0' for a day or a file not cut by the clock, the hour letter a-x for an hour, the letter
// and the minute for shorter periods: "a15"), the year's last two digits and `type` ('o'
// observations, 'n' GPS and 'g' GLONASS navigation).
std::string shortName(const RinexFileStation& station, const GpsTime& start, double periodS, char type);

} // namespace RinexNames
} // namespace Kvt::Gnss
