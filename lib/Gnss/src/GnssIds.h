#pragma once
// Satellites, signals and carrier frequencies of the seven constellations, named as RINEX 3
// names them. Nothing here knows a transport format.

#include <cstdint>
#include <optional>
#include <string>

namespace Kvt::Gnss {

enum class System : uint8_t { Gps, Glonass, Galileo, Sbas, Qzss, BeiDou, NavIC };

constexpr int kSystemCount = 7;

// The RINEX 3 system letter: G R E S J C I.
char systemLetter(System system);
std::optional<System> systemFromLetter(char letter);
const char* systemName(System system);  // "GPS", "GLONASS", ...

// A satellite as RINEX 3 numbers it: SBAS PRN 123 is S23, QZSS PRN 194 is J02.
struct SatId {
    System system = System::Gps;
    uint8_t number = 0;

    std::string toString() const;  // "G05"
    bool operator==(const SatId& o) const { return system == o.system && number == o.number; }
    bool operator!=(const SatId& o) const { return !(*this == o); }
    // Files and outputs list satellites by system, then number.
    bool operator<(const SatId& o) const
    {
        return system != o.system ? system < o.system : number < o.number;
    }
};

// The satellite of a broadcast PRN, or nothing for a PRN the system does not define in RINEX
// (SBAS PRNs 120-158, QZSS PRNs 193-202 are mapped; others of those ranges have no name).
std::optional<SatId> satelliteFromPrn(System system, int prn);

// A RINEX 3 signal: frequency band digit and tracking attribute, "1C", "2W", "5Q".
struct SignalCode {
    char band = '\0';
    char attribute = '\0';

    std::string toString() const { return std::string{band, attribute}; }
    bool valid() const { return band != '\0' && attribute != '\0'; }
    bool operator==(const SignalCode& o) const { return band == o.band && attribute == o.attribute; }
    bool operator!=(const SignalCode& o) const { return !(*this == o); }
    // RINEX headers list codes by band, then attribute.
    bool operator<(const SignalCode& o) const
    {
        return band != o.band ? band < o.band : attribute < o.attribute;
    }
};

// Carrier frequency of a band in Hz; GLONASS G1 and G2 need the satellite's frequency channel
// (-7..+6). Nothing for a band the system does not have or an FDMA band without its channel.
std::optional<double> carrierFrequencyHz(System system, char band,
                                         std::optional<int> glonassChannel = std::nullopt);

constexpr double kSpeedOfLight = 299792458.0;  // m/s

} // namespace Kvt::Gnss
