#pragma once
// A RINEX observation file produced as an RTCM 3 stream, one epoch at a time: observations
// as MSM or legacy messages, the station position (1005/1006) and description (1033) from
// the header every `positionS` seconds of data.
//
//     std::ifstream in(path);
//     RinexReplay replay(in, path, settings);   // reads the header; throws Gnss::RinexError
//     std::vector<Frame> frames;
//     while (replay.next(frames)) send(frames);

#include "ObservationProducer.h"
#include "RinexReader.h"

#include <istream>
#include <optional>
#include <string>

namespace Kvt::Nuvrix::Produce {

struct ReplaySettings {
    int msmLevel = 7;           // 1..7, or 0 for legacy 1004/1012
    uint16_t stationId = 0;
    double positionS = 10;
    std::string systems;        // RINEX letters kept; empty: all
    ObservationProducer::LimitReport limitReport;
    // Reads "msm", "station", "position" and "systems" from parameter text; false with
    // *error set for a value out of range.
    bool set(const std::string& key, const std::string& value, std::string* error);
};

class RinexReplay {
public:
    RinexReplay(std::istream& in, const std::string& fileName, const ReplaySettings& settings);
    // The frames of the next epoch; false at the end. Throws Gnss::RinexError.
    bool next(std::vector<Frame>& frames);
    // The instant of the epoch last produced.
    const Gnss::GpsTime& epochTime() const { return mEpochTime; }

private:
    Gnss::RinexObservationReader mReader;
    ReplaySettings mSettings;
    ObservationProducer mProducer;
    Gnss::GpsTime mEpochTime;
    std::optional<Gnss::GpsTime> mLastPosition;
};

// Whether the text begins with a RINEX header line of an observation file.
bool isRinexObservationHeader(const std::string& firstLine);

} // namespace Kvt::Nuvrix::Produce
