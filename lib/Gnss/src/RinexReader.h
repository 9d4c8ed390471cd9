#pragma once
// Reading RINEX observation files (3.00 to 3.05, and 2.10/2.11) into observation epochs.
// Strict: a line that breaks the fixed columns, a number that does not read, a system or
// observation type not declared stops the reading with an error naming file, line, column
// and reason.
//
//     std::ifstream in(path);
//     RinexObservationReader reader(in, path);     // reads the header
//     ObservationEpoch epoch;
//     while (reader.next(epoch)) ...
//
// Values are taken as RINEX defines them: C pseudoranges in m, L phases in cycles, D Doppler
// in Hz, S signal strengths in dB-Hz. Lock times are counted from the epoch a signal was
// first seen or last flagged with a loss of lock; a half-cycle flag sets the ambiguity.
//
// RINEX 2 types name a band and a code but no tracking mode; they read as these signals:
// GPS C1 1C, P1 1W, C2 2X (L2C), P2 2W, C5 5X; GLONASS C1 1C, P1 1P, C2 2C, P2 2P;
// Galileo and SBAS band n nX (SBAS 1C). Phases, Dopplers and strengths of band 1 go with
// the C/A code (1C); those of band 2 with P2 where the file lists it, else with C2; those
// of the other bands with their code.

#include "GnssData.h"
#include "RinexLines.h"

#include <istream>
#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace Kvt::Gnss {

class RinexError : public std::runtime_error {
public:
    RinexError(const std::string& file, int line, int column, const std::string& reason);
    const std::string& file() const { return mFile; }
    int line() const { return mLine; }
    int column() const { return mColumn; }
    const std::string& reason() const { return mReason; }

private:
    std::string mFile;
    int mLine, mColumn;
    std::string mReason;
};

struct RinexObservationHeader {
    double version = 0;
    std::string markerName;
    std::optional<Ecef> approximatePosition;
    std::optional<double> antennaHeightM;
    std::string antennaType, antennaSerial, receiverType, receiverVersion, receiverSerial;
    std::map<System, std::vector<std::string>> types;   // "C1C", "L1C", ... per system ("" for
                                                         // a RINEX 2 type the system lacks)
    std::vector<std::string> version2Types;              // "C1", "L2", ... as a RINEX 2 file lists them
    std::map<int, int> glonassChannels;                  // slot -> channel
    std::optional<double> intervalS;
};

class RinexObservationReader {
public:
    RinexObservationReader(std::istream& in, std::string fileName);
    const RinexObservationHeader& header() const { return mHeader; }
    // The next epoch with observations; false at the end of the file.
    bool next(ObservationEpoch& epoch);
    // The line last read (1-based), for messages about what follows.
    int line() const { return mLines.line(); }

private:
    bool readLine(std::string& line) { return mLines.read(line); }
    [[noreturn]] void fail(int column, const std::string& reason) const { mLines.fail(column, reason); }
    void readHeader();
    void headerLine(const std::string& content, const std::string& label, const std::string& line);
    void version2Types(const std::string& line);
    double number(const std::string& line, int first, int width, const char* what) const
    {
        return mLines.number(line, first, width, what);
    }
    std::optional<double> optionalNumber(const std::string& line, int first, int width, const char* what) const
    {
        return mLines.optionalNumber(line, first, width, what);
    }
    bool nextVersion2(ObservationEpoch& epoch);
    SatId satellite(const std::string& line, int column) const;
    void readSatellite(const std::string& line, const GpsTime& time, SatelliteObservations& out);
    // One value of `type` ("C1C") from columns [column, column + 16) of a line.
    void addValue(const std::string& type, const std::string& line, int column, const GpsTime& time,
                  SatelliteObservations& out);

    Rinex::LineReader mLines;
    RinexObservationHeader mHeader;
    bool mVersion2 = false;
    char mFileSystem = 'G';             // RINEX 2: the system of a satellite without a letter
    char mPendingTypesSystem = 0;
    int mPendingTypes = 0;
    // Since when each signal of each satellite has been tracked, and when it was last seen.
    std::map<std::pair<SatId, std::string>, std::pair<GpsTime, GpsTime>> mTrackedSince;
    std::optional<GpsTime> mLastEpoch;
};

} // namespace Kvt::Gnss
