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
// are held back (at most kHoldLimit, kHoldBytes) and released in order once it comes; nothing is ever
// handed on with a guessed date. Then each epoch is dated against the one before, so that a
// time of week that starts again at zero falls in the next week.

#include "GnssSink.h"
#include "RtcmSignals.h"

#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <optional>

namespace Kvt::Nuvrix {
union _RTCM3_message_t;
}

namespace Kvt::Nuvrix::View {

using Gnss::GpsTime;
struct RawTime;

class GnssView {
public:
    // Items (epochs, ephemerides) held back while no reference exists, and the memory they
    // may take: past either the oldest are dropped and reported.
    static constexpr std::size_t kHoldLimit = 10000;
    static constexpr std::size_t kHoldBytes = 8u << 20;

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
    struct Parts;
    // Something waiting for a date: an epoch, or an ephemeris whose week or day is not sent.
    struct Waiting;

    void addStation(int number, const _RTCM3_message_t& record);
    void addSystemParameters(const _RTCM3_message_t& record);
    void addText(const _RTCM3_message_t& record);

    // Dating (ViewDating.cpp).
    void addEphemeris(int number, const _RTCM3_message_t& record);
    void epochCompleted(Gnss::ObservationEpoch& epoch, const RawTime& time);
    void handOnEpoch(Gnss::ObservationEpoch& epoch, const RawTime& time);
    void setReference(const GpsTime& t, bool exact);
    // Whether an ephemeris reference time sent ahead of (or behind) its week's own time dates
    // the stream; takes it as the reference where there is none.
    bool datesTheStream(const GpsTime& toe, bool toeAhead);
    int leapSeconds() const;
    std::optional<int32_t> fullWeek10(int week10) const;

    // The queue of what waits for a date. Everything leaves in the order it came.
    // Delivers now, or queues behind what already waits.
    void deliverInTurn(Waiting&& item);
    // Dates and hands on; false where no date can be given yet.
    bool deliver(Waiting& item);
    // Queues at the back, dropping the oldest past the bounds.
    void enqueue(std::unique_ptr<Waiting> item);
    // Delivers from the front what a new reference or era dates.
    void releaseWaiting();
    void reportDropped();

    GnssSink& mSink;
    std::unique_ptr<Parts> mParts;
    std::optional<GpsTime> mReference;
    std::optional<GpsTime> mClock;
    std::optional<int> mLeapFromStream;
    bool mLive = false;
    bool mStarted = false;
    std::deque<std::unique_ptr<Waiting>> mWaiting;
    std::size_t mWaitingBytes = 0;
    std::size_t mDropped = 0;
};

} // namespace Kvt::Nuvrix::View
