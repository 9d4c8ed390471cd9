#pragma once
// The engineering view of an RTCM 3 stream: decoded records in, observation epochs at full
// GPS time, station positions and descriptions, texts, broadcast orbits and clocks out, in
// SI units, through a sink.
//
//     MySink sink;
//     GnssView view(sink);
//     view.setTimeHint(GpsTime::fromCalendar({2021, 2, 5, 12, 0, 0}));   // optional
//     for each frame: RTCM3_decode(nullptr, frame, size, &record); view.add(record);
//                     RTCM3_free_message_children(&record);
//     view.finish();
//
// Time. MSMs carry a time of week (GLONASS: a day of week and a time of day), never a week.
// The view dates every epoch against a reference: the stream's own (1013 and 1029 dates,
// the full weeks of 1042, 1045 and 1046, the 10-bit weeks of 1019 and 1044 once an era is
// known) or a hint. Until the first reference, epochs and the ephemerides that need a date
// are held back (at most kHoldLimit) and released in order once it comes; nothing is ever
// handed on with a guessed date. Then each epoch is dated against the one before, so that a
// time of week that starts again at zero falls in the next week.

#include "GnssData.h"
#include "RtcmSignals.h"

#include <cstddef>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <optional>
#include <string>

namespace Kvt::Nuvrix {
union _RTCM3_message_t;
}

namespace Kvt::Nuvrix::View {

using Gnss::GpsTime;
struct RawTime;

// Something the reader of the view should know that is not data.
struct ViewNotice {
    enum class Kind {
        HeldBack,      // the first epoch without a time reference: epochs wait from here on
        Released,      // a reference came; `count` held items follow with their time
        Dropped,       // the holding space was full: `count` oldest items are lost, undated
        Undated,       // at finish, `count` items never got a reference and are not handed on
        BadTime,       // an epoch time outside its range: the message is skipped
    };
    Kind kind = Kind::HeldBack;
    std::size_t count = 0;
    std::string text;   // one line for a person
};

class GnssSink {
public:
    virtual ~GnssSink() = default;
    virtual void epoch(const Gnss::ObservationEpoch&) {}
    virtual void stationPosition(const Gnss::StationPosition&) {}
    virtual void stationDescription(const Gnss::StationDescription&) {}
    virtual void stationText(const Gnss::StationText&) {}
    virtual void keplerEphemeris(const Gnss::KeplerEphemeris&) {}
    virtual void glonassEphemeris(const Gnss::GlonassEphemeris&) {}
    virtual void glonassBiases(const Gnss::GlonassBiases&) {}
    virtual void notice(const ViewNotice&) {}
};

class GnssView {
public:
    // Items (epochs, ephemerides) held back while no reference exists.
    static constexpr std::size_t kHoldLimit = 10000;

    explicit GnssView(GnssSink& sink);
    ~GnssView();
    GnssView(const GnssView&) = delete;
    GnssView& operator=(const GnssView&) = delete;

    // A reference the user knows: an instant near the data (within days).
    void setTimeHint(const GpsTime& nearData);
    // The date of the data: its noon in GPST is the reference, so that GLONASS times of day
    // without a day of week fall on that date.
    void setDateHint(int year, int month, int day);
    // The system clock now. It picks the 1024-week era of 10-bit weeks (the latest such week
    // not after the clock), and is a full reference only with live input.
    void setClock(const GpsTime& now);
    // Live network input: the clock is a reference from the start.
    void setLiveInput(bool live);
    // The frequency channel (-7..+6) of a GLONASS slot, where the stream does not tell it.
    void setGlonassChannel(int slot, int channel);
    std::optional<int> glonassChannel(int slot) const;

    // One decoded record; records of no interest to the view are ignored.
    void add(const _RTCM3_message_t& record);
    // End of input: hands on the epoch being gathered and reports what could not be dated.
    void finish();

    // The current time reference, if any.
    std::optional<GpsTime> reference() const { return mReference; }

private:
    struct Pending;
    struct Held;

    void addMsm(int number, const void* record);
    void addLegacy(int number, const void* record);
    void addStation(int number, const void* record);
    void addEphemeris(int number, const void* record);
    void addSystemParameters(const void* record);
    void addText(const void* record);

    // Epoch gathering.
    Pending& pendingFor(uint16_t station, const RawTime& time);
    bool sameInstant(const Pending& pending, const RawTime& time) const;
    void completePending();
    void dateAndHandOn(Gnss::ObservationEpoch& epoch, const RawTime& time);

    // Time.
    void setReference(const GpsTime& t, bool exact);
    void releaseHeld();
    void handOn(Held&& item);
    void hold(Held&& item);
    void dispatch(Held& item);
    int leapSeconds() const;
    std::optional<int32_t> fullWeek10(int week10) const;

    GnssSink& mSink;
    std::optional<GpsTime> mReference;
    std::optional<GpsTime> mHint;
    std::optional<GpsTime> mClock;
    std::optional<int> mLeapFromStream;
    bool mLive = false;
    bool mStarted = false;
    std::map<int, int> mGlonassChannels;
    std::unique_ptr<Pending> mPending;
    Gnss::ObservationEpoch mEpoch;  // the one being handed on, its room kept
    std::deque<std::unique_ptr<Held>> mHeld;
    std::size_t mDropped = 0;
};

} // namespace Kvt::Nuvrix::View
