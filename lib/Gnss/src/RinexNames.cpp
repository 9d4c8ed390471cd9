#include "RinexNames.h"

#include "RinexFormat.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>

namespace Kvt::Gnss::RinexNames {

namespace {

std::string twoDigits(long long n, char unit)
{
    const int clamped = int(std::clamp<long long>(n, 0, 99));
    return std::string{char('0' + clamped / 10), char('0' + clamped % 10), unit};
}

std::string startField(const GpsTime& start)
{
    const Rinex::EpochFields f = Rinex::splitEpoch(start);
    char text[16];
    std::snprintf(text, sizeof text, "%04d%03d%02d%02d", f.year, f.dayOfYear, f.hour, f.minute);
    return text;
}

std::string prefix(const RinexFileStation& station, const GpsTime& start, double spanS)
{
    return stationCode(station) + '_' + char(std::toupper(uint8_t(station.dataSource))) + '_'
           + startField(start) + '_' + period(spanS) + '_';
}

} // namespace

std::string stationCode(const RinexFileStation& station)
{
    std::string code;
    bool digitsOnly = !station.marker.empty();
    for (const char c : station.marker.substr(0, 4)) {
        const char u = char(std::toupper(uint8_t(c)));
        code += std::isalnum(uint8_t(u)) ? u : '0';
        digitsOnly = digitsOnly && std::isdigit(uint8_t(c));
    }
    if (digitsOnly)
        code.insert(0, 4 - code.size(), '0');
    else
        code.append(4 - code.size(), '0');
    const auto digit = [](int n) { return char('0' + (n >= 0 && n <= 9 ? n : 0)); };
    std::string country;
    for (const char c : station.country.substr(0, 3))
        country += char(std::toupper(uint8_t(c)));
    country.append(3 - country.size(), 'X');
    return code + digit(station.monument) + digit(station.receiver) + country;
}

std::string period(double spanS)
{
    if (!(spanS > 0))
        return "00U";
    const long long minutes = (long long)std::ceil(spanS / 60.0 - 1e-9);
    if (minutes % (365 * 1440) == 0 && minutes / (365 * 1440) <= 99)
        return twoDigits(minutes / (365 * 1440), 'Y');
    if (minutes % 1440 == 0 && minutes / 1440 <= 99)
        return twoDigits(minutes / 1440, 'D');
    if (minutes % 60 == 0 && minutes / 60 <= 99)
        return twoDigits(minutes / 60, 'H');
    if (minutes <= 99)
        return twoDigits(minutes, 'M');
    const long long hours = (minutes + 59) / 60;
    if (hours <= 99)
        return twoDigits(hours, 'H');
    const long long days = (minutes + 1439) / 1440;
    if (days <= 99)
        return twoDigits(days, 'D');
    return twoDigits(std::min<long long>(99, (days + 364) / 365), 'Y');
}

std::string frequency(double intervalS)
{
    if (!(intervalS > 0))
        return "00U";
    if (intervalS < 1.0) {
        const long long hz = std::llround(1.0 / intervalS);
        if (hz < 100)
            return twoDigits(hz, 'Z');
        return twoDigits(std::min<long long>(99, hz / 100), 'C');
    }
    const long long s = std::llround(intervalS);
    if (s < 100)
        return twoDigits(s, 'S');
    if (s < 100 * 60)
        return twoDigits(s / 60, 'M');
    if (s < 100 * 3600)
        return twoDigits(s / 3600, 'H');
    return twoDigits(std::min<long long>(99, s / 86400), 'D');
}

std::string observationFile(const RinexFileStation& station, const GpsTime& start, double spanS,
                            double intervalS)
{
    return prefix(station, start, spanS) + frequency(intervalS) + "_MO.rnx";
}

std::string navigationFile(const RinexFileStation& station, const GpsTime& start, double spanS)
{
    return prefix(station, start, spanS) + "MN.rnx";
}

std::string shortName(const RinexFileStation& station, const GpsTime& start, double periodS, char type)
{
    std::string name = stationCode(station).substr(0, 4);
    for (char& c : name)
        c = char(std::tolower(uint8_t(c)));
    const Rinex::EpochFields f = Rinex::splitEpoch(start);
    char text[24];
    std::snprintf(text, sizeof text, "%03d", f.dayOfYear);
    name += text;
    if (periodS > 0 && periodS < 86400) {
        name += char('a' + f.hour);
        if (periodS < 3600) {
            std::snprintf(text, sizeof text, "%02d", f.minute);
            name += text;
        }
    } else {
        name += '0';
    }
    std::snprintf(text, sizeof text, ".%02d%c", f.year % 100, type);
    return name + text;
}

} // namespace Kvt::Gnss::RinexNames
