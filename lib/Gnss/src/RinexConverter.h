#pragma once
// Observation epochs, station facts and broadcast orbits to one RINEX 3.05 observation file
// and one mixed navigation file in a folder, named in the long form.
//
// A file can be read twice: survey() every epoch of a first pass and the header lists every
// type the file holds. A live stream is read once: the first `lookAheadEpochs` epochs are held
// back for the header, then epochs are written as they come. Either way finish() closes the
// files and names them for the span they cover.
//
// A stream may send one instant in two epochs (MSM, then legacy messages with their own
// end-of-epoch mark), and instants out of order (a receiver that stamps BeiDou with GPS time
// sends them 14 s ahead): epochs wait `reorderWindowS` behind the latest one, merged with
// others of their time, so that the file has one record per instant, in time order.

#include "RinexNames.h"
#include "RinexNavWriter.h"
#include "RinexObsWriter.h"

#include <fstream>
#include <map>
#include <memory>
#include <optional>
#include <string>
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
    const RinexObsWriter* observationWriter() const { return mObs.get(); }
    const RinexNavWriter* navigationWriter() const { return mNav.get(); }

private:
    template <class Ephemeris>
    void addOrbit(const Ephemeris& ephemeris, std::vector<Ephemeris>& pending);
    void pass(const ObservationEpoch& epoch);
    void beginObservations();
    void beginNavigation(const GpsTime& start);
    GpsTime earliestPendingOrbit() const;
    RinexFileStation fileStation(std::optional<uint16_t> stationId) const;
    bool open(std::ofstream& file, const std::string& name);
    void check(const std::ofstream& file, const std::string& name);
    std::string rename(const std::string& from, const std::string& to);

    RinexConverterOptions mOptions;
    RinexObsHeader mHeader;
    RinexObsSurvey mSurvey;
    bool mSurveyed = false;
    std::optional<int> mLeapSeconds;
    std::map<GpsTime, ObservationEpoch> mWaiting;  // by time, within the reorder window
    std::vector<ObservationEpoch> mHeld;
    std::vector<KeplerEphemeris> mPendingKepler;
    std::vector<GlonassEphemeris> mPendingGlonass;

    std::ofstream mObsFile, mNavFile;
    std::unique_ptr<RinexObsWriter> mObs;
    std::unique_ptr<RinexNavWriter> mNav;
    std::string mObsName, mNavName;
    RinexFileStation mStation;
    GpsTime mObsStart, mNavStart;
    bool mFinished = false;
    std::string mError;
};

} // namespace Kvt::Gnss
