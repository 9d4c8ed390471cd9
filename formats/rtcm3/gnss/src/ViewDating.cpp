// Dating: evidence for the date of the stream, the era of 10-bit weeks, the clock, and the
// queue of what waits for a date.

#include "OrbitConversion.h"
#include "RTCM3_families.h"
#include "ViewParts.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <utility>

namespace Kvt::Nuvrix::View {

using namespace Gnss;

namespace {

// An ephemeris carries the week it was sent in. GPS and QZSS send reference times up to hours
// ahead, so one early in a week may belong to the next week; Galileo and BeiDou send them up
// to hours behind, so one late in a week may have been sent in the next. Such an ephemeris
// does not date the stream.
constexpr double kEphemerisMargin = 6 * 3600.0;
// How near the epochs' own time of week the reference time of an orbit that dates them lies:
// a receiver sends the orbits it uses now.
constexpr double kOrbitWindow = 6 * 3600.0;
// Dates of the stream and the reference agree within this; a hint only within days.
constexpr double kDateTolerance = 3600.0;
constexpr double kHintTolerance = 3.5 * 86400.0;
// Live data: its epochs lie this near the clock (latency, a clock set roughly), and are
// never more than a few seconds ahead of it.
constexpr double kLiveWindow = 600.0;
constexpr double kAheadTolerance = 5.0;
// Orbits remembered while nothing dates the stream: one per satellite.
constexpr std::size_t kMaxVotes = 256;
// Any week after the last leap second of the table.
constexpr int32_t kLatestWeek = 100000;

int64_t steadyNs()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

const char* nameOf(GnssView::Evidence e)
{
    switch (e) {
    case GnssView::Evidence::None: return "nothing";
    case GnssView::Evidence::Clock: return "the clock";
    case GnssView::Evidence::TenBitWeek: return "orbits with 10-bit weeks";
    case GnssView::Evidence::FullWeek: return "orbits with full weeks";
    case GnssView::Evidence::StreamDate: return "the stream's dates";
    case GnssView::Evidence::User: return "the given time";
    }
    return "";
}

} // namespace

void GnssView::setTimeHint(const GpsTime& nearData)
{
    offerDate(nearData, Evidence::User, {"the given time"});
}

void GnssView::setClock(const GpsTime& now)
{
    mClock = now;
    mClockSetAtNs = steadyNs();
    releaseWaiting();  // ephemerides with 10-bit weeks at the front may have their era now
    if (!mReference && mLatestTime)
        countOrbitVotes(false);
}

void GnssView::setLiveInput(bool live) { mLive = live; }

std::optional<GpsTime> GnssView::clockNow() const
{
    if (!mClock)
        return std::nullopt;
    return mClock->plusSeconds(double(steadyNs() - mClockSetAtNs) * 1e-9);
}

std::optional<double> GnssView::latencyS(const GpsTime& epochTime) const
{
    const std::optional<GpsTime> now = clockNow();
    if (!mLive || !now)
        return std::nullopt;
    const double d = *now - epochTime;
    return std::fabs(d) <= kSecondsPerDay ? std::optional<double>(d) : std::nullopt;
}

int GnssView::leapSeconds() const
{
    if (mLeapFromStream)
        return *mLeapFromStream;
    if (mReference)
        return leapSecondsAt(*mReference);
    // Before any reference, the latest count: the one of any capture of recent years. Only
    // the gathering of epochs uses it then, and tolerates it being wrong.
    return leapSecondsAt(mClock.value_or(GpsTime(kLatestWeek, 0)));
}

std::optional<int32_t> GnssView::fullWeek10(int week10, const std::optional<GpsTime>& near) const
{
    constexpr int32_t kWeeks = int32_t(wire::Message_Type_1019::Week_Number.highest) + 1;
    if (near)
        return resolveWeek(week10, kWeeks, near->week);
    if (mClock)  // the latest week of that number not after the clock
        return mClock->week - int32_t(floorMod(mClock->week - week10, kWeeks));
    return std::nullopt;
}

void GnssView::adopt(const GpsTime& t, Evidence strength)
{
    mReference = t;
    mEvidence = strength;
    mVotes.clear();
    mDissent.reset();
    releaseWaiting();
}

std::string GnssView::Origin::text() const
{
    return before + (number >= 0 ? std::to_string(number) : std::string()) + after;
}

bool GnssView::countDisagreement()
{
    // A stream that repeats one would flood the reader.
    return mDisagreements++ < 8;
}

void GnssView::tellDisagreement(const std::string& text)
{
    mSink.notice({ViewNotice::Kind::Disagreement, 1, text});
}

void GnssView::offerDate(const GpsTime& t, Evidence strength, const Origin& what)
{
    if (!mReference) {
        adopt(t, strength);
        return;
    }
    const double tolerance = strength == Evidence::User || mEvidence == Evidence::User ? kHintTolerance : kDateTolerance;
    if (std::fabs(t - *mReference) <= tolerance) {
        // A date agreeing with the reference is the more exact of the two.
        mEvidence = std::max(mEvidence, strength);
        mReference = t;
        return;
    }
    if (strength > mEvidence) {
        if (countDisagreement())
            tellDisagreement(what.text() + " dates the stream " + t.toIso() + ", not " + mReference->toIso() + " as "
                             + nameOf(mEvidence) + " did: the stronger is taken");
        adopt(t, strength);
    } else if (countDisagreement()) {
        tellDisagreement(what.text() + " (" + t.toIso() + ") disagrees with " + nameOf(mEvidence) + " ("
                         + mReference->toIso() + ") and is ignored");
    }
}

void GnssView::offerOrbit(const OrbitVote& vote)
{
    if (!mReference) {
        auto same = std::find_if(mVotes.begin(), mVotes.end(),
                                 [&](const OrbitVote& v) { return v.satellite == vote.satellite; });
        if (same != mVotes.end())
            *same = vote;  // a satellite votes once: its latest orbit
        else if (mVotes.size() < kMaxVotes)
            mVotes.push_back(vote);
        countOrbitVotes(false);
        return;
    }
    if (!mLatestTime)
        return;
    const std::optional<int32_t> week = vote.tenBits ? fullWeek10(vote.week, mReference) : vote.week;
    const GpsTime toe(*week, vote.toe);
    if (vote.toeAhead ? vote.toe < kEphemerisMargin : vote.toe > kSecondsPerWeek - kEphemerisMargin)
        return;
    const GpsTime t = mLatestTime->resolve(toe, leapSeconds());
    if (std::fabs(t - toe) > kOrbitWindow)
        return;  // stale, or not yet valid: keeps its own date, dates nothing
    const Evidence strength = vote.tenBits ? Evidence::TenBitWeek : Evidence::FullWeek;
    if (std::fabs(t - *mReference) <= kDateTolerance) {
        mEvidence = std::max(mEvidence, strength);
        return;
    }
    // One orbit alone may be stale: a second satellite's must name the same instant.
    const bool seconded = mDissent && mDissent->first == msOf(t) && mDissent->second != vote.satellite;
    mDissent = std::pair{msOf(t), vote.satellite};
    if (seconded || strength <= mEvidence)
        offerDate(t, strength, {"the ", vote.number, " orbits of two satellites"});
}

void GnssView::countOrbitVotes(bool final)
{
    if (mReference || !mLatestTime || mVotes.empty())
        return;
    // Each orbit near the epochs' time of week names the instant of the newest epoch.
    std::vector<Tally>& tallies = mTallies;
    tallies.clear();
    const int leap = leapSeconds();
    for (const OrbitVote& v : mVotes) {
        const std::optional<int32_t> week = v.tenBits ? fullWeek10(v.week, std::nullopt) : v.week;
        if (!week || (v.toeAhead ? v.toe < kEphemerisMargin : v.toe > kSecondsPerWeek - kEphemerisMargin))
            continue;
        const GpsTime toe(*week, v.toe);
        const GpsTime t = mLatestTime->resolve(toe, leap);
        if (std::fabs(t - toe) > kOrbitWindow)
            continue;
        const Evidence strength = v.tenBits ? Evidence::TenBitWeek : Evidence::FullWeek;
        auto it = std::find_if(tallies.begin(), tallies.end(),
                               [&](const Tally& y) { return y.ms == msOf(t) && y.strength == strength; });
        if (it == tallies.end())
            tallies.push_back({msOf(t), strength, 1});
        else
            ++it->count;
    }
    // Orbits of two satellites confirm a date; at the end a single one does, if alone.
    const int needed = final ? 1 : 2;
    const Tally* best = nullptr;
    bool tied = false;
    for (const Tally& y : tallies) {
        if (y.count < needed)
            continue;
        if (!best || y.strength > best->strength || (y.strength == best->strength && y.count > best->count)) {
            best = &y;
            tied = false;
        } else if (y.strength == best->strength && y.count == best->count) {
            tied = true;
        }
    }
    if (!best || tied)
        return;
    if (tallies.size() > 1 && countDisagreement())
        tellDisagreement("orbits date the stream differently; " + timeOfMs(best->ms).toIso() + " is taken, from "
                         + std::to_string(best->count) + " of them, " + nameOf(best->strength));
    adopt(timeOfMs(best->ms), best->strength);
}

void GnssView::tryClock()
{
    const std::optional<GpsTime> now = clockNow();
    if (!mLive || !now || mClockContradicted || mReference || !mLatestTime)
        return;
    const GpsTime t = mLatestTime->resolve(*now, leapSeconds());
    if (std::fabs(t - *now) <= kLiveWindow && t - *now <= kAheadTolerance) {
        adopt(t, Evidence::Clock);
        return;
    }
    mClockContradicted = true;
    mSink.notice({ViewNotice::Kind::Disagreement, 1,
                  "the epochs' times are not the clock's (" + t.toIso() + " against " + now->toIso()
                      + "): the input is not live data, epochs wait for a date from the stream or --time"});
}

void GnssView::epochCompleted(ObservationEpoch& epoch, const RawTime& time)
{
    mLatestTime = time;
    if (!mReference) {
        tryClock();
        countOrbitVotes(false);
    }
    if (mWaiting.empty() && mReference) {
        epoch.time = time.resolve(*mReference, leapSeconds());
        handOnEpoch(epoch);
        return;
    }
    // A copy waits: the assembly keeps the room of its epoch for the next.
    std::unique_ptr<Waiting> item = spareItem();
    if (auto* e = std::get_if<Waiting::Epoch>(&item->item)) {
        e->epoch = epoch;
        e->time = time;
    } else {
        item->item = Waiting::Epoch{epoch, time};
    }
    enqueue(std::move(item));
}

void GnssView::handOnEpoch(ObservationEpoch& epoch)
{
    if (mLive) {
        const std::optional<GpsTime> now = clockNow();
        if (now && epoch.time - *now > kAheadTolerance) {
            if (mAheadOfClock++ == 0)
                mSink.notice({ViewNotice::Kind::BadTime, 1,
                              "an epoch dated " + epoch.time.toIso() + " is ahead of the clock: not handed on"});
            return;
        }
    }
    mReference = epoch.time;
    mSink.epoch(epoch);
}

void GnssView::addEphemeris(int number, const _RTCM3_message_t& r)
{
    switch (number) {
    case 1019: {
        const auto& m = r.Message_Type_1019;
        const double toe = *units::value(units::Of<RTCM3_Message_Type_1019_s>::t_oe, m.t_oe);
        offerOrbit({int(System::Gps) << 8 | m.Satellite_ID, m.Week_Number, true, true, toe, number});
        deliverInTurn(Waiting{m, {}, 0});
        break;
    }
    case 1044: {
        const auto& m = r.Message_Type_1044;
        const double toe = *units::value(units::Message_Type_1044::t_oe, m.t_oe);
        offerOrbit({int(System::Qzss) << 8 | m.Satellite_ID, m.Week_Number, true, true, toe, number});
        deliverInTurn(Waiting{m, {}, 0});
        break;
    }
    case 1041:
        deliverInTurn(Waiting{r.Message_Type_1041, {}, 0});
        break;
    case 1020:
        mParts->channels.set(r.Message_Type_1020.Satellite_ID,
                             units::value(units::Message_Type_1020::Channel_Number, r.Message_Type_1020.Channel_Number));
        deliverInTurn(Waiting{r.Message_Type_1020, {}, 0});
        break;
    case 1042: {
        const auto& m = r.Message_Type_1042;
        const GpsTime toe = beidouReferenceTime(m);
        offerOrbit({int(System::BeiDou) << 8 | m.Satellite_ID, toe.week, false, false, toe.tow, number});
        mSink.keplerEphemeris(beidouEphemeris(m, mReference));
        break;
    }
    default:
        family::visitGalileoOrbit(number, r, [&](const auto& g) {
            const auto m = family::GalileoOrbit::of(g);
            const GpsTime toe = galileoReferenceTime(m);
            offerOrbit({int(System::Galileo) << 8 | m.Satellite_ID, toe.week, false, false, toe.tow, number});
            mSink.keplerEphemeris(galileoEphemeris(g, mReference));
        });
        break;
    }
}

void GnssView::deliverInTurn(Waiting&& item)
{
    if (mWaiting.empty() && deliver(item))
        return;
    std::unique_ptr<Waiting> waiting = spareItem();
    waiting->item = std::move(item.item);
    enqueue(std::move(waiting));
}

bool GnssView::deliver(Waiting& waiting)
{
    const std::optional<GpsTime>& near = waiting.near ? waiting.near : mReference;
    if (auto* e = std::get_if<Waiting::Epoch>(&waiting.item)) {
        if (!near)
            return false;
        e->epoch.time = waiting.near ? *waiting.near : e->time.resolve(*mReference, leapSeconds());
        handOnEpoch(e->epoch);
        return true;
    }
    // A GPS-like reference time early in a week may belong to the week after the one sent:
    // only an instant of the data tells.
    auto ambiguous = [&](const auto& r) { return !near && *units::value(units::Of<std::decay_t<decltype(r)>>::t_oe, r.t_oe) < kEphemerisMargin; };
    if (auto* r = std::get_if<RTCM3_Message_Type_1019_s>(&waiting.item)) {
        if (ambiguous(*r))
            return false;
        const std::optional<int32_t> week = fullWeek10(r->Week_Number, near);
        if (week)
            mSink.keplerEphemeris(gpsEphemeris(*r, *week, near));
        return bool(week);
    }
    if (auto* r = std::get_if<RTCM3_Message_Type_1044_s>(&waiting.item)) {
        if (ambiguous(*r))
            return false;
        const std::optional<int32_t> week = fullWeek10(r->Week_Number, near);
        if (week)
            mSink.keplerEphemeris(qzssEphemeris(*r, *week, near));
        return bool(week);
    }
    if (auto* r = std::get_if<RTCM3_Message_Type_1041_s>(&waiting.item)) {
        if (ambiguous(*r))
            return false;
        const std::optional<int32_t> week = fullWeek10(r->Week_Number, near);
        if (week)
            mSink.keplerEphemeris(navicEphemeris(*r, *week, near));
        return bool(week);
    }
    if (auto* r = std::get_if<RTCM3_Message_Type_1020_s>(&waiting.item)) {
        if (near)
            mSink.glonassEphemeris(glonassEphemeris(*r, *near, leapSeconds()));
        return bool(near);
    }
    return true;
}

void GnssView::enqueue(std::unique_ptr<Waiting> item)
{
    if (mWaiting.empty() && !mStarted) {
        mStarted = true;
        mSink.notice({ViewNotice::Kind::HeldBack, 0,
                      "no time reference yet: epochs wait for one (a 1013, 1029 or ephemeris, or a date)"});
    }
    item->bytes = item->size();
    while (!mWaiting.empty() && (mWaiting.size() >= kHoldLimit || mWaitingBytes + item->bytes > kHoldBytes)) {
        mWaitingBytes -= mWaiting.front()->bytes;
        recycle(std::move(mWaiting.front()));
        mWaiting.pop_front();
        ++mDropped;
    }
    mWaitingBytes += item->bytes;
    mWaiting.push_back(std::move(item));
}

void GnssView::reportDropped()
{
    if (!mDropped)
        return;
    mSink.notice({ViewNotice::Kind::Dropped, mDropped,
                  std::to_string(mDropped) + " items waiting for a time reference were dropped"});
    mDropped = 0;
}

void GnssView::releaseWaiting()
{
    if (mWaiting.empty())
        return;
    if (mReference) {
        // The reference is the newest epoch's time, or near it: each epoch is dated against
        // the one after it, so that days of epochs never jump by a week.
        GpsTime next = *mReference;
        const int leap = leapSeconds();
        for (auto it = mWaiting.rbegin(); it != mWaiting.rend(); ++it) {
            if (auto* e = std::get_if<Waiting::Epoch>(&(*it)->item))
                next = e->time.resolve(next, leap);
            (*it)->near = next;
        }
    }
    std::deque<std::unique_ptr<Waiting>> waiting;
    waiting.swap(mWaiting);
    mWaitingBytes = 0;
    reportDropped();
    if (mReference)
        mSink.notice({ViewNotice::Kind::Released, waiting.size(),
                      std::to_string(waiting.size()) + " held items follow with their time"});
    while (!waiting.empty()) {
        std::unique_ptr<Waiting> item = std::move(waiting.front());
        waiting.pop_front();
        if (!mWaiting.empty() || !deliver(*item))
            enqueue(std::move(item));  // still waiting, or behind an earlier one that does
        else
            recycle(std::move(item));
    }
}

std::unique_ptr<GnssView::Waiting> GnssView::spareItem()
{
    if (mSpare.empty())
        return std::make_unique<Waiting>();
    std::unique_ptr<Waiting> item = std::move(mSpare.back());
    mSpare.pop_back();
    item->near.reset();
    item->bytes = 0;
    return item;
}

void GnssView::recycle(std::unique_ptr<Waiting> item)
{
    // Enough for a burst of held items; beyond, their memory goes back.
    constexpr std::size_t kSpareLimit = 1024;
    if (mSpare.size() < kSpareLimit)
        mSpare.push_back(std::move(item));
}

} // namespace Kvt::Nuvrix::View
