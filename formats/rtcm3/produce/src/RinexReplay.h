#pragma once
// A RINEX observation file produced as an RTCM 3 stream, one epoch at a time: observations
// as MSM or legacy messages, the station position (1005/1006) and description (1033) from
// the header every `positionS` seconds of data, and with a navigation file the orbits of its
// satellites (1019, 1020, 1041, 1042, 1044, 1045, 1046) every `orbitsS` seconds.
//
//     std::ifstream in(path);
//     RinexReplay replay(in, path, settings);   // reads the header; throws Gnss::RinexError
//     std::vector<Frame> frames;
//     while (replay.next(frames)) send(frames);

#include "ObservationProducer.h"
#include "RinexNavReader.h"
#include "RinexReader.h"

#include <istream>
#include <optional>
#include <set>
#include <string>

namespace Kvt::Nuvrix::Produce {

struct ReplaySettings {
    int msmLevel = 7;           // 1..7, or 0 for legacy 1004/1012
    uint16_t stationId = 0;
    double positionS = 10;
    double orbitsS = 60;
    std::string navigation;     // a RINEX navigation file; empty: no orbits
    std::string systems;        // RINEX letters kept; empty: all
    ObservationProducer::LimitReport limitReport;
    // Reads "msm", "station", "position", "orbits", "nav" and "systems" from parameter text;
    // false with *error set for a value out of range.
    bool set(const std::string& key, const std::string& value, std::string* error);
};

class RinexReplay {
public:
    // Reads the observation header and the whole navigation file, if any.
    RinexReplay(std::istream& in, const std::string& fileName, const ReplaySettings& settings);
    // The frames of the next epoch; false at the end. Throws Gnss::RinexError.
    bool next(std::vector<Frame>& frames);
    // The instant of the epoch last produced.
    const Gnss::GpsTime& epochTime() const { return mEpochTime; }

private:
    bool kept(Gnss::System system) const;
    void addStation(const Gnss::ObservationEpoch& epoch, std::vector<Frame>& frames) const;
    void addOrbits(const Gnss::GpsTime& time, std::vector<Frame>& frames);

    Gnss::RinexObservationReader mReader;
    ReplaySettings mSettings;
    ObservationProducer mProducer;
    Gnss::GpsTime mEpochTime;
    std::optional<Gnss::GpsTime> mLastPosition;
    std::vector<Gnss::RinexNavigationRecord> mOrbits;
    std::optional<Gnss::GpsTime> mLastOrbits;
    std::set<std::string> mRefused;  // orbits said once not to fit their message
};

// Whether the text begins with a RINEX header line of an observation file.
bool isRinexObservationHeader(const std::string& firstLine);

} // namespace Kvt::Nuvrix::Produce
