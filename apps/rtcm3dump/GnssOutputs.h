#pragma once
// rtcm3dump's engineering outputs: observation epochs and station records as text or JSON
// lines (--obs), and RINEX files (--rinex). Both read the records of the frames through the
// engineering view; its notices (epochs held back for a time reference, undated) go to
// standard error.

#include "EpochHeaders.h"
#include "Frame.h"

#include "GnssView.h"
#include "RinexConversion.h"
#include "RinexOptions.h"

#include <map>
#include <memory>
#include <optional>
#include <string>

class OutputDevice;
class Stats;

// What the view is told besides the stream: a time hint from the user, the system clock's
// era (and the clock as a full reference for live network input), GLONASS channels.
struct ViewSetup
{
    std::optional<Kvt::Gnss::GpsTime> hint;
    bool liveNetwork = false;
    std::map<int, int> glonassChannels;  // slot -> frequency channel

    template <class View>
    void apply(View &view) const;
};

class ObservationPrinter : public FrameSink, private Kvt::Nuvrix::View::GnssSink
{
public:
    ObservationPrinter(OutputDevice &device, bool json, const ViewSetup &time);
    void frame(const Frame &frame) override;
    void flush() override;
    QString writeError() const override;
    // End of input: the epoch being gathered, and a word on what could not be dated.
    void finish();

private:
    void epoch(const Kvt::Gnss::ObservationEpoch &epoch) override;
    void stationPosition(const Kvt::Gnss::StationPosition &position) override;
    void stationDescription(const Kvt::Gnss::StationDescription &description) override;
    void stationText(const Kvt::Gnss::StationText &text) override;
    void keplerEphemeris(const Kvt::Gnss::KeplerEphemeris &ephemeris) override;
    void glonassEphemeris(const Kvt::Gnss::GlonassEphemeris &ephemeris) override;
    void glonassBiases(const Kvt::Gnss::GlonassBiases &biases) override;
    void notice(const Kvt::Nuvrix::View::ViewNotice &notice) override;
    void write();

    OutputDevice &mDevice;
    const bool mJson;
    std::string mLine;
    Kvt::Nuvrix::View::GnssView mView;
};

// What --stats learns from dated epochs: latency on live input, and epochs missing from each
// station's own interval.
class EpochMonitor : public FrameSink, private Kvt::Nuvrix::View::GnssSink
{
public:
    // With `headersOnly` the view sees observation records without their satellites: the
    // same epochs, and records decoded without observables suffice.
    EpochMonitor(Stats &stats, bool live, const ViewSetup &time, bool headersOnly = true);
    void frame(const Frame &frame) override;
    void finish() { mView.finish(); }

private:
    struct Cadence
    {
        Kvt::Gnss::GpsTime last;
        double intervalS = 0;  // the smallest step seen
    };
    void epoch(const Kvt::Gnss::ObservationEpoch &epoch) override;

    Stats &mStats;
    const bool mLive;
    const bool mHeadersOnly;
    EpochHeaders mHeaders;
    std::map<int, Cadence> mCadence;
    Kvt::Nuvrix::View::GnssView mView;
};

// RINEX 3.05 observation and navigation files in a folder, one set per station (or per
// station and period). A regular file is surveyed in a first pass (survey()), so that the
// header lists everything the file holds; live input is written as epochs complete.
class RinexWriter : public FrameSink
{
public:
    RinexWriter(const RinexChoices &choices, bool live, const ViewSetup &time);
    void survey(const Frame &frame);
    void frame(const Frame &frame) override;
    // Closes the files and prints their names, one per line; what went into no file goes to
    // standard error. False with `error` set when a file failed or none was written.
    bool finish(OutputDevice &device, QString *error);

private:
    Kvt::Nuvrix::View::RinexConversion mConversion;
};
