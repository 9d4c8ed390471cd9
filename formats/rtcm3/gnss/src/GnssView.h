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
// The view dates every epoch from evidence, weighed by strength (Evidence): a date the user
// gives; the stream's 1013 and 1029 dates; the reference times of orbits with full weeks
// (1042, 1045, 1046); those with 10-bit weeks (1019, 1044, 1041) in the era a reference or
// the clock picks. An orbit dates the stream only where its reference time lies within hours
// of the epochs' own time of week, and only once orbits of two satellites agree (or at the
// end of input, where nothing contradicts the one there is): a stale orbit keeps its own date
// but dates nothing. Where evidence disagrees the stronger wins, and a notice says so. The
// clock dates live input only while the epochs' times of week agree with it, and no epoch of
// live input is dated ahead of it. Until the first date, epochs and the orbits that need one
// wait (at most kHoldLimit, kHoldBytes); once it comes, each waiting epoch is dated against
// the one after it, walking back from the newest, and all leave in the order they came.
// Then each epoch is dated against the one before, so that a time of week that starts again
// at zero falls in the next week.

#include "GnssSink.h"
#include "RtcmSignals.h"
#include "ViewTime.h"

#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace Kvt::Nuvrix {
union _RTCM3_message_t;
}

namespace Kvt::Nuvrix::View {

using Gnss::GpsTime;


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

    // How strongly a piece of evidence dates the stream, weakest first.
    enum class Evidence : uint8_t { None, Clock, TenBitWeek, FullWeek, StreamDate, User };

    // A reference the user knows: an instant near the data (within days). Nothing overrides it.
    void setTimeHint(const GpsTime& nearData);
    // The date of the data: its noon in GPST is the reference, so that GLONASS times of day
    // without a day of week fall on that date.
    void setDateHint(int year, int month, int day);
    // The system clock now; the view counts on from it. It picks the 1024-week era of 10-bit
    // weeks (the latest such week not after the clock), and dates live input only.
    void setClock(const GpsTime& now);
    // Live input: the clock may date epochs whose times of week agree with it.
    void setLiveInput(bool live);
    // The frequency channel (-7..+6) of a GLONASS slot, where the stream does not tell it.
    void setGlonassChannel(int slot, int channel);
    std::optional<int> glonassChannel(int slot) const;

    // One decoded record; records of no interest to the view are ignored.
    void add(const _RTCM3_message_t& record);
    // End of input: hands on the epoch being gathered and reports what could not be dated.
    void finish();

    // The current time reference, if any, and the strength of the evidence it rests on.
    std::optional<GpsTime> reference() const { return mReference; }
    Evidence evidence() const { return mEvidence; }
    // Seconds from an epoch to the clock now: only for live input within a day of the clock.
    std::optional<double> latencyS(const GpsTime& epochTime) const;

private:
    struct Parts;
    // Something waiting for a date: an epoch, or an ephemeris whose week or day is not sent.
    struct Waiting;

    void addStation(int number, const _RTCM3_message_t& record);
    void addSystemParameters(const _RTCM3_message_t& record);
    void addText(const _RTCM3_message_t& record);

    // Dating (ViewDating.cpp).
    // The reference time of one satellite's orbit.
    struct OrbitVote {
        int satellite = 0;      // system and number
        int32_t week = 0;       // full, or 10 bits
        bool tenBits = false;
        bool toeAhead = false;  // GPS-like: the reference time may run ahead of the week sent
        double toe = 0;         // s of week, GPS time
        int number = 0;
    };
    // What offers a date, for a notice; its text is built only when a notice is told.
    struct Origin {
        const char* before = "";
        int number = -1;  // none where negative
        const char* after = "";
        std::string text() const;
    };
    // A tally of the orbits that name one instant.
    struct Tally {
        int64_t ms;
        Evidence strength;
        int count;
    };
    void addEphemeris(int number, const _RTCM3_message_t& record);
    void epochCompleted(Gnss::ObservationEpoch& epoch, const RawTime& time);
    void handOnEpoch(Gnss::ObservationEpoch& epoch);
    // A date the stream or the user gives: taken, confirmed or outweighed.
    void offerDate(const GpsTime& t, Evidence strength, const Origin& what);
    // The reference time of an orbit: a vote while nothing dates the stream, else a check.
    void offerOrbit(const OrbitVote& vote);
    void countOrbitVotes(bool final);
    void tryClock();
    void adopt(const GpsTime& t, Evidence strength);
    // Counts a disagreement; true for the first of each run, which alone is told.
    bool countDisagreement();
    void tellDisagreement(const std::string& text);
    std::optional<GpsTime> clockNow() const;
    int leapSeconds() const;
    std::optional<int32_t> fullWeek10(int week10, const std::optional<GpsTime>& near) const;

    // The queue of what waits for a date. Everything leaves in the order it came.
    // Delivers now, or queues behind what already waits.
    void deliverInTurn(Waiting&& item);
    // Dates and hands on; false where no date can be given yet.
    bool deliver(Waiting& item);
    // Queues at the back, dropping the oldest past the bounds.
    void enqueue(std::unique_ptr<Waiting> item);
    // Items that left the queue keep their room (an epoch's satellites and signals) for the
    // next that must wait.
    std::unique_ptr<Waiting> spareItem();
    void recycle(std::unique_ptr<Waiting> item);
    // Dates what waits, walking back from the newest epoch, and hands it on.
    void releaseWaiting();
    void reportDropped();

    GnssSink& mSink;
    std::unique_ptr<Parts> mParts;
    std::optional<GpsTime> mReference;
    Evidence mEvidence = Evidence::None;
    std::optional<GpsTime> mClock;
    int64_t mClockSetAtNs = 0;  // steady time when the clock was set
    std::optional<RawTime> mLatestTime;  // of the newest epoch, as sent
    std::vector<OrbitVote> mVotes;       // while nothing dates the stream
    std::vector<Tally> mTallies;         // of the votes, kept for their room
    std::optional<std::pair<int64_t, int>> mDissent;  // the last orbit against the date: ms, satellite
    bool mClockContradicted = false;
    std::size_t mDisagreements = 0;
    std::size_t mAheadOfClock = 0;
    std::optional<int> mLeapFromStream;
    bool mLive = false;
    bool mStarted = false;
    std::deque<std::unique_ptr<Waiting>> mWaiting;
    std::size_t mWaitingBytes = 0;
    std::vector<std::unique_ptr<Waiting>> mSpare;
    std::size_t mDropped = 0;
};

} // namespace Kvt::Nuvrix::View
