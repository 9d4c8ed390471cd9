#pragma once
// Reading RINEX 3 observation files (3.00 to 3.05) into observation epochs. Strict: a line
// that breaks the fixed columns, a number that does not read, a system or observation type
// not declared stops the reading with an error naming file, line, column and reason.
//
//     std::ifstream in(path);
//     RinexObservationReader reader(in, path);     // reads the header
//     ObservationEpoch epoch;
//     while (reader.next(epoch)) ...
//
// Values are taken as RINEX defines them: C pseudoranges in m, L phases in cycles, D Doppler
// in Hz, S signal strengths in dB-Hz. Lock times are counted from the epoch a signal was
// first seen or last flagged with a loss of lock; a half-cycle flag sets the ambiguity.

#include "GnssData.h"

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
    std::map<System, std::vector<std::string>> types;   // "C1C", "L1C", ... per system
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
    int line() const { return mLine; }

private:
    bool readLine(std::string& line);
    [[noreturn]] void fail(int column, const std::string& reason) const;
    void readHeader();
    void headerLine(const std::string& content, const std::string& label, const std::string& line);
    double number(const std::string& line, int first, int width, const char* what) const;
    std::optional<double> optionalNumber(const std::string& line, int first, int width, const char* what) const;
    void readSatellite(const std::string& line, const GpsTime& time, SatelliteObservations& out);

    std::istream& mIn;
    std::string mFile;
    int mLine = 0;
    RinexObservationHeader mHeader;
    char mPendingTypesSystem = 0;
    int mPendingTypes = 0;
    // Since when each signal of each satellite has been tracked, and when it was last seen.
    std::map<std::pair<SatId, std::string>, std::pair<GpsTime, GpsTime>> mTrackedSince;
    std::optional<GpsTime> mLastEpoch;
};

} // namespace Kvt::Gnss
