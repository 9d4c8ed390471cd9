#pragma once
// Observation epochs, station facts and broadcast orbits of one station to RINEX 3.05 (3.04)
// observation and mixed navigation files in a folder, named in the long form; or to RINEX 2.11
// observation, GPS and GLONASS navigation files with short names.
//
// A file can be read twice: survey() every epoch of a first pass and the header lists every
// type the file holds. A live stream is read once: the first `lookAheadEpochs` epochs are held
// back for the header, then epochs are written as they come; an epoch with a type the header
// lacks closes the file and starts a new one, so nothing is dropped for want of a column.
// Either way finish() closes the files and names them for the span they cover.
//
// A stream may send one instant in two epochs (MSM, then legacy messages with their own
// end-of-epoch mark), and instants out of order (a receiver that stamps BeiDou with GPS time
// sends them 14 s ahead): epochs wait `reorderWindowS` behind the latest one, merged with
// others of their time, so that the file has one record per instant, in time order. An epoch
// later still (a concatenated capture) starts a new file rather than being lost.
//
// With a period, files cover whole periods aligned to the GPS clock (15 min, an hour, a day)
// and are named for them.

#include "RinexFile.h"
#include "RinexNames.h"
#include "RinexNavWriter.h"
#include "RinexObsWriter.h"

#include <array>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <tuple>
#include <vector>

namespace Kvt::Gnss {

struct RinexConverterOptions {
    std::string directory = ".";
    std::string markerName;              // empty: the station ID, four digits
    RinexFileStation station;            // its marker, if empty, follows the marker name
    std::string program = "nuvrixrtcm3";
    std::string runBy;
    size_t lookAheadEpochs = 60;         // without a survey: epochs held back for the header
    double reorderWindowS = 16.0;        // how long an epoch waits for others of its time
    bool flushEachEpoch = false;         // live input: readers see each epoch as it is written

    // What the user tells the header; each replaces what the stream says.
    std::string markerNumber, markerType, observer, agency;
    StationDescription equipment;        // non-empty fields replace the stream's
    std::optional<Ecef> position;
    std::optional<std::array<double, 3>> antennaDeltaHen;

    // What goes into the files.
    std::optional<GpsTime> from, until;  // both inclusive
    double intervalS = 0;                // > 0: only epochs on multiples of it
    unsigned systems = ~0u;              // bit per System
    double periodS = 0;                  // > 0: one file set per period of the clock
    bool gzip = false;
    RinexVersion version = RinexVersion::V3_05;
    RinexSignalPriority priority = RinexSignalPriority::defaults();  // the 2.11 types' signals
    // Write a navigation file even when no observation was written (a stream of orbits alone).
    bool navigationAlone = true;
    // Told the path of each file once complete.
    std::function<void(const std::string& path)> onClose;
};

// What went into no file, beyond what the options left out on purpose.
struct RinexDrops {
    uint64_t lateEpochs = 0;         // repeated instants after their file moved on
    uint64_t emptyEpochs = 0;        // no value the file can hold
    uint64_t observations = 0;       // a value without a column (not a RINEX signal)
    uint64_t valuesBlanked = 0;      // too large for the field
    uint64_t orbits = 0;             // beyond what can wait for the navigation file
    uint64_t orbitsNotHeld = 0;      // of systems the RINEX 2.11 navigation files do not hold
    uint64_t total() const { return lateEpochs + emptyEpochs + observations + valuesBlanked + orbits + orbitsNotHeld; }
};

class RinexConverter {
public:
    explicit RinexConverter(RinexConverterOptions options);
    ~RinexConverter();
    RinexConverter(const RinexConverter&) = delete;
    RinexConverter& operator=(const RinexConverter&) = delete;

    // First pass over a file.
    void survey(const ObservationEpoch& epoch);
    void surveyType(System system, SignalCode code, RinexObsSurvey::Kind kind) { mSurvey.addType(system, code, kind); }

    // Station facts; the header takes those known when it is written.
    void setPosition(const StationPosition& position) { mHeader.position = position; }
    void setDescription(const StationDescription& description) { mHeader.description = description; }
    void setGlonassBiases(const GlonassBiases& biases) { mHeader.glonassBiases = biases; }
    void setGlonassChannel(int slot, int channel) { mHeader.glonassChannels[slot] = channel; }
    void setLeapSeconds(int leapSeconds) { mLeapSeconds = leapSeconds; }

    void addEpoch(const ObservationEpoch& epoch);
    void addEphemeris(const KeplerEphemeris& ephemeris);
    void addEphemeris(const GlonassEphemeris& ephemeris);

    // Writes what is held back, closes and names the files; their names (without the folder).
    std::vector<std::string> finish();

    // The first failure to create or write a file; empty while all is well.
    const std::string& error() const { return mError; }
    uint64_t epochsWritten() const { return mEpochsWritten + (mObs ? mObs->epochsWritten() : 0); }
    // Counts of what went into no file, and the types without a column ("G C5Q" -> count).
    RinexDrops drops() const;
    const std::map<std::string, uint64_t>& droppedTypes() const { return mDroppedTypes; }

private:
    struct NavOutput {
        RinexFile file;
        std::unique_ptr<RinexNavWriter> writer;
    };
    template <class Ephemeris>
    void addOrbit(const Ephemeris& ephemeris, std::vector<Ephemeris>& pending);
    template <class Ephemeris>
    void writeOrbit(const Ephemeris& ephemeris);
    NavOutput* navigationFor(System system);
    std::string observationName(const GpsTime& start, double spanS, double intervalS) const;
    bool wanted(const ObservationEpoch& epoch) const;
    bool wanted(System system) const;
    void queue(const ObservationEpoch& epoch);
    void pass(const ObservationEpoch& epoch);
    void beginObservations();
    void beginNavigation(const GpsTime& start);
    void closeObservations();
    void closeNavigation();
    void commit(RinexFile& file, const std::string& name);
    GpsTime earliestPendingOrbit() const;
    RinexFileStation fileStation(std::optional<uint16_t> stationId) const;
    RinexObsHeader header(const GpsTime& first) const;
    GpsTime fileStart(const GpsTime& first) const;
    double fileSpan(const GpsTime& start, double intervalS) const;
    void check(RinexFile& file, const char* what);

    RinexConverterOptions mOptions;
    const unsigned mSystems;
    RinexObsHeader mHeader;
    RinexObsSurvey mSurvey;               // the whole file, or everything passed on live input
    bool mSurveyed = false;
    std::optional<int> mLeapSeconds;
    std::map<GpsTime, ObservationEpoch> mWaiting;  // by time, within the reorder window
    std::vector<ObservationEpoch> mHeld;
    std::vector<KeplerEphemeris> mPendingKepler;
    std::vector<GlonassEphemeris> mPendingGlonass;
    // The latest orbit of each satellite, to open the navigation file of a new period with.
    std::map<std::pair<int, int>, KeplerEphemeris> mLatestKepler;
    std::map<int, GlonassEphemeris> mLatestGlonass;

    RinexFile mObsFile;
    std::unique_ptr<RinexObsWriter> mObs;
    // One mixed file, or for RINEX 2.11 a GPS and a GLONASS file; each created at its first record.
    std::array<NavOutput, 2> mNavs;
    bool mNavOpen = false;
    std::set<std::tuple<int, int, long long>> mOrbitsNotHeld;
    RinexFileStation mStation;
    std::optional<uint16_t> mStationId;
    GpsTime mObsStart, mNavStart;
    std::optional<long long> mPeriod;
    std::vector<std::string> mNames;
    uint64_t mEpochsWritten = 0;
    RinexDrops mDrops;
    std::map<std::string, uint64_t> mDroppedTypes;
    bool mFinished = false;
    std::string mError;
};

} // namespace Kvt::Gnss
