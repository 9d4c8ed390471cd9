#pragma once
// One RINEX 3.05 (3.04) mixed navigation file: GPS, Galileo (I/NAV and F/NAV), GLONASS, BeiDou,
// QZSS and NavIC broadcast ephemerides, each written once, in each system's own time scale. A
// RINEX 2.11 file holds one system: GPS or GLONASS.

#include "GnssData.h"
#include "RinexNames.h"

#include <cstdint>
#include <optional>
#include <ostream>
#include <set>
#include <string>
#include <tuple>
#include <vector>

namespace Kvt::Gnss {

struct RinexNavHeader {
    std::string program = "nuvrixrtcm3";
    std::string runBy;
    std::string creationDate;           // "yyyymmdd hhmmss UTC"; empty: now
    std::optional<int> leapSeconds;     // GPS - UTC, where the stream or the caller knows it
    std::vector<std::string> comments;
    // RINEX 3.04: GLONASS records without their fourth orbit line.
    RinexVersion version = RinexVersion::V3_05;
    System system = System::Gps;        // RINEX 2.11: the file's one system, GPS or GLONASS
};

class RinexNavWriter {
public:
    explicit RinexNavWriter(std::ostream& out);

    void begin(const RinexNavHeader& header);
    // Each writes a record unless the same ephemeris was written before (or the system has no
    // record of this kind) and tells whether it did.
    bool write(const KeplerEphemeris& eph);
    bool write(const GlonassEphemeris& eph);

    bool began() const { return mBegan; }
    uint64_t recordsWritten() const { return mWritten; }
    uint64_t duplicates() const { return mDuplicates; }

private:
    using Key = std::tuple<int, int, int64_t, int64_t, int, int, int>;
    bool firstTime(const Key& key);
    void writeRecord(const SatId& sat, const GpsTime& epoch, const std::vector<std::optional<double>>& values);

    std::ostream& mOut;
    bool mBegan = false;
    RinexVersion mVersion = RinexVersion::V3_05;
    System mSystem = System::Gps;
    std::set<Key> mSeen;
    uint64_t mWritten = 0, mDuplicates = 0;
};

} // namespace Kvt::Gnss
