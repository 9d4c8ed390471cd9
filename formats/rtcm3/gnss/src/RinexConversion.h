#pragma once
// Decoded RTCM 3 records to RINEX 3.05 files in a folder, through the engineering view: one
// observation file (and navigation file) per station, each header from that station's own
// position, equipment and biases, or only the station chosen.
//
// A file is read twice: survey() every record of a first pass, then add() every record of the
// second. The header then lists every observation type and the station's equipment found
// anywhere in the file, and GLONASS phases are complete from the first epoch, with the
// frequency channels the file tells only later. A live stream is read once with add(): the
// first epochs are held back for the header (RinexConverterOptions::lookAheadEpochs), then
// epochs are written as they complete.
//
//     RinexConversion conversion(options);
//     for each record of the file: conversion.survey(record);
//     for each record of the file: conversion.add(record);
//     const std::vector<std::string> names = conversion.finish();

#include "GnssView.h"
#include "RinexConverter.h"

#include <array>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <tuple>
#include <vector>

namespace Kvt::Nuvrix::View {

class RinexConversion {
public:
    explicit RinexConversion(Gnss::RinexConverterOptions options);
    ~RinexConversion();
    RinexConversion(const RinexConversion&) = delete;
    RinexConversion& operator=(const RinexConversion&) = delete;

    // Only this station's data; others are left out.
    void chooseStation(uint16_t stationId) { mChosen = stationId; }
    // Time references and channels, given to the view of each pass.
    void setTimeHint(const Gnss::GpsTime& nearData);
    void setDateHint(int year, int month, int day);
    void setClock(const Gnss::GpsTime& now);
    void setLiveInput(bool live);
    void setGlonassChannel(int slot, int channel);
    // What the view has to say (held back, released, undated), from the writing pass.
    void setNoticeHandler(std::function<void(const ViewNotice&)> handler);

    void survey(const _RTCM3_message_t& record);
    void add(const _RTCM3_message_t& record);
    // Ends the input, closes the files; their names, without the folder.
    std::vector<std::string> finish();

    const std::string& error() const { return mError; }
    // One line per station and kind of loss: what went into no file, for standard error.
    std::vector<std::string> drops() const;
    // Why no file was written (after finish() gave none), for a person.
    std::string whyNothing() const;

private:
    class SurveySink;
    class WriteSink;
    struct Station {
        std::unique_ptr<Gnss::RinexConverter> converter;
        Gnss::StationDescription description;
        bool positioned = false, biased = false;
    };

    GnssView& writingView();
    void prepare(GnssView& view) const;
    // The station's converter, created on first sight with the orbits seen so far; null for a
    // station not chosen.
    Gnss::RinexConverter* station(uint16_t id);
    Station* stationEntry(uint16_t id);
    void orbit(const Gnss::KeplerEphemeris& ephemeris);
    void orbit(const Gnss::GlonassEphemeris& ephemeris);
    void description(uint16_t id, const Gnss::StationDescription& d);
    void position(const Gnss::StationPosition& p);
    void biases(const Gnss::GlonassBiases& b);

    Gnss::RinexConverterOptions mOptions;
    std::optional<uint16_t> mChosen;
    std::map<uint16_t, Station> mStations;
    std::set<uint16_t> mRenamed;   // stations that did not get the marker the user gave
    std::vector<Gnss::KeplerEphemeris> mKepler;   // every orbit so far, for stations seen later
    std::vector<Gnss::GlonassEphemeris> mGlonass;
    std::set<std::tuple<int, int, long long, long long, int, int, int, int>> mOrbitKeys;
    std::unique_ptr<SurveySink> mSurveySink;
    std::unique_ptr<WriteSink> mWriteSink;
    std::unique_ptr<GnssView> mSurveyView, mWriteView;
    std::optional<Gnss::GpsTime> mTimeHint, mClock;
    std::optional<std::array<int, 3>> mDateHint;
    bool mLive = false;
    std::map<int, int> mChannels;
    std::function<void(const ViewNotice&)> mNotice;
    size_t mUndated = 0;
    uint64_t mRefused = 0;         // records of stations beyond the limit
    uint64_t mEpochs = 0;          // dated epochs of the stations written
    bool mFinished = false;
    std::string mError;
};

} // namespace Kvt::Nuvrix::View
