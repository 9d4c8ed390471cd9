#include "GnssIds.h"

#include <cstdio>

namespace Kvt::Gnss {

namespace {
constexpr char kLetters[kSystemCount] = {'G', 'R', 'E', 'S', 'J', 'C', 'I'};
constexpr const char* kNames[kSystemCount] = {"GPS", "GLONASS", "Galileo", "SBAS",
                                              "QZSS", "BeiDou", "NavIC"};
constexpr double MHz = 1e6;
} // namespace

char systemLetter(System system) { return kLetters[static_cast<int>(system)]; }
const char* systemName(System system) { return kNames[static_cast<int>(system)]; }

std::optional<System> systemFromLetter(char letter)
{
    for (int i = 0; i < kSystemCount; ++i)
        if (kLetters[i] == letter)
            return static_cast<System>(i);
    return std::nullopt;
}

std::string SatId::toString() const
{
    char text[8];
    std::snprintf(text, sizeof text, "%c%02u", systemLetter(system), unsigned(number));
    return text;
}

std::optional<SatId> satelliteFromPrn(System system, int prn)
{
    // RINEX 3 numbers SBAS as PRN - 100 and QZSS as PRN - 192.
    switch (system) {
    case System::Sbas:
        if (prn >= 120 && prn <= 158)
            return SatId{system, uint8_t(prn - 100)};
        return std::nullopt;
    case System::Qzss:
        if (prn >= 193 && prn <= 202)
            return SatId{system, uint8_t(prn - 192)};
        return std::nullopt;
    default:
        if (prn >= 1 && prn <= 99)
            return SatId{system, uint8_t(prn)};
        return std::nullopt;
    }
}

// Carrier frequencies of the RINEX 3.05 band numbers (its table of observation codes and
// frequencies, and the constellations' interface documents it cites).
std::optional<double> carrierFrequencyHz(System system, char band, std::optional<int> glonassChannel)
{
    switch (system) {
    case System::Gps:
        switch (band) {
        case '1': return 1575.42 * MHz;
        case '2': return 1227.60 * MHz;
        case '5': return 1176.45 * MHz;
        }
        break;
    case System::Glonass:
        switch (band) {
        case '1':
            if (glonassChannel && *glonassChannel >= -7 && *glonassChannel <= 6)
                return (1602.0 + *glonassChannel * 0.5625) * MHz;
            return std::nullopt;
        case '2':
            if (glonassChannel && *glonassChannel >= -7 && *glonassChannel <= 6)
                return (1246.0 + *glonassChannel * 0.4375) * MHz;
            return std::nullopt;
        case '3': return 1202.025 * MHz;
        case '4': return 1600.995 * MHz;
        case '6': return 1248.06 * MHz;
        }
        break;
    case System::Galileo:
        switch (band) {
        case '1': return 1575.42 * MHz;
        case '5': return 1176.45 * MHz;
        case '6': return 1278.75 * MHz;
        case '7': return 1207.140 * MHz;
        case '8': return 1191.795 * MHz;
        }
        break;
    case System::Sbas:
        switch (band) {
        case '1': return 1575.42 * MHz;
        case '5': return 1176.45 * MHz;
        }
        break;
    case System::Qzss:
        switch (band) {
        case '1': return 1575.42 * MHz;
        case '2': return 1227.60 * MHz;
        case '5': return 1176.45 * MHz;
        case '6': return 1278.75 * MHz;
        }
        break;
    case System::BeiDou:
        switch (band) {
        case '1': return 1575.42 * MHz;
        case '2': return 1561.098 * MHz;
        case '5': return 1176.45 * MHz;
        case '6': return 1268.52 * MHz;
        case '7': return 1207.140 * MHz;
        case '8': return 1191.795 * MHz;
        }
        break;
    case System::NavIC:
        switch (band) {
        case '1': return 1575.42 * MHz;
        case '5': return 1176.45 * MHz;
        case '9': return 2492.028 * MHz;
        }
        break;
    }
    return std::nullopt;
}

} // namespace Kvt::Gnss
