#pragma once
// Decoded RTCM 3 records to a RINEX 3.05 observation file and a mixed navigation file in a
// folder, through the engineering view.
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
#include <string>
#include <vector>

namespace Kvt::Nuvrix::View {

class RinexConversion {
public:
    explicit RinexConversion(Gnss::RinexConverterOptions options);
    ~RinexConversion();
    RinexConversion(const RinexConversion&) = delete;
    RinexConversion& operator=(const RinexConversion&) = delete;

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

    const std::string& error() const { return mConverter.error(); }
    const Gnss::RinexConverter& converter() const { return mConverter; }

private:
    class SurveySink;
    class WriteSink;

    GnssView& writingView();
    void prepare(GnssView& view) const;

    Gnss::RinexConverter mConverter;
    std::unique_ptr<SurveySink> mSurveySink;
    std::unique_ptr<WriteSink> mWriteSink;
    std::unique_ptr<GnssView> mSurveyView, mWriteView;
    std::optional<Gnss::GpsTime> mTimeHint, mClock;
    std::optional<std::array<int, 3>> mDateHint;
    bool mLive = false;
    std::map<int, int> mChannels;
    std::function<void(const ViewNotice&)> mNotice;
    bool mFinished = false;
};

} // namespace Kvt::Nuvrix::View
