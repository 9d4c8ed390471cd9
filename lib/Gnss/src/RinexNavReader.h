#pragma once
// Reading RINEX navigation files into broadcast orbits: 3.02 to 3.05 (GPS, GLONASS, Galileo,
// BeiDou, QZSS, NavIC; SBAS records are read and passed over) and 2.11 (GPS "N" and GLONASS
// "G" files). Strict like the observation reader: a field out of its columns, a number that
// does not read, a required value left blank stops the reading with file, line, column and
// reason.
//
//     std::ifstream in(path);
//     RinexNavigationReader reader(in, path);      // reads the header
//     RinexNavigationRecord record;
//     while (reader.next(record)) ...
//
// Values come back as the orbit model holds them: reference times as GPS instants (a BeiDou
// record counts in BDT, a GLONASS one in UTC), each system's own week number, accuracies as
// the broadcast index the printed metres stand for.

#include "GnssData.h"
#include "RinexLines.h"
#include "RinexReader.h"

#include <istream>
#include <optional>
#include <string>
#include <variant>
#include <vector>

namespace Kvt::Gnss {

struct RinexNavigationHeader {
    double version = 0;
    char fileType = 'N';                // N (or G: a RINEX 2 GLONASS file)
    std::optional<int> leapSeconds;
};

using RinexNavigationRecord = std::variant<KeplerEphemeris, GlonassEphemeris>;

class RinexNavigationReader {
public:
    RinexNavigationReader(std::istream& in, std::string fileName);
    const RinexNavigationHeader& header() const { return mHeader; }
    // The next orbit; false at the end of the file.
    bool next(RinexNavigationRecord& record);
    // Every orbit of the file at once.
    static std::vector<RinexNavigationRecord> readAll(std::istream& in, const std::string& fileName);

private:
    void readHeader();
    bool readRecord(std::string& first, SatId& sat, DateTime& epoch, std::vector<std::optional<double>>& values);
    int orbitLines(System system) const;
    bool mayBeBlank(System system, std::size_t index) const;

    Rinex::LineReader mLines;
    RinexNavigationHeader mHeader;
    bool mVersion2 = false;
};

// The broadcast accuracy index of a printed accuracy in metres: GPS, QZSS, NavIC and BeiDou
// URA (the range of the index the value falls in), Galileo SISA (255: no accuracy).
int uraIndexOfMetres(double metres);
int sisaIndexOfMetres(double metres);

} // namespace Kvt::Gnss
