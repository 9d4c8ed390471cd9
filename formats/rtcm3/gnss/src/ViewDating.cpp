// Dating: the time reference, the era of 10-bit weeks, and the queue of what waits for a date.

#include "OrbitConversion.h"
#include "ViewParts.h"

#include <utility>

namespace Kvt::Nuvrix::View {

using namespace Gnss;

namespace {

// An ephemeris carries the week it was sent in. GPS and QZSS send reference times up to hours
// ahead, so one early in a week may belong to the next week; Galileo and BeiDou send them up
// to hours behind, so one late in a week may have been sent in the next. Such an ephemeris
// does not date the stream; the others do to within hours.
constexpr double kEphemerisMargin = 6 * 3600.0;
// Any week after the last leap second of the table.
constexpr int32_t kLatestWeek = 100000;

} // namespace

void GnssView::epochCompleted(ObservationEpoch& epoch, const RawTime& time)
{
    if (mWaiting.empty() && mReference) {
        handOnEpoch(epoch, time);
        return;
    }
    // A copy waits: the assembly keeps the room of its epoch for the next.
    enqueue(std::make_unique<Waiting>(Waiting{Waiting::Epoch{epoch, time}}));
}

void GnssView::handOnEpoch(ObservationEpoch& epoch, const RawTime& time)
{
    epoch.time = time.resolve(*mReference, leapSeconds());
    mReference = epoch.time;
    mSink.epoch(epoch);
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

std::optional<int32_t> GnssView::fullWeek10(int week10) const
{
    if (mReference)
        return resolveWeek(week10, 1024, mReference->week);
    if (mClock) {
        // The latest week of that number not after the clock.
        int32_t w = mClock->week - floorMod(mClock->week - week10, 1024);
        return w;
    }
    return std::nullopt;
}

void GnssView::setReference(const GpsTime& t, bool exact)
{
    if (!exact && mReference)
        return;
    mReference = t;
    releaseWaiting();
}

bool GnssView::datesTheStream(const GpsTime& toe, bool toeAhead)
{
    if (toeAhead ? toe.tow < kEphemerisMargin : toe.tow > kSecondsPerWeek - kEphemerisMargin)
        return false;
    if (!mReference)
        mReference = toe;
    return true;
}

void GnssView::addEphemeris(int number, const _RTCM3_message_t& r)
{
    // A reference time well inside its week dates the stream to within hours.
    // Dates what waits, where no reference did yet.
    auto offerReference = [&](const GpsTime& toe, bool toeAhead) {
        if (!mReference && datesTheStream(toe, toeAhead))
            releaseWaiting();
    };
    switch (number) {
    case 1019: {
        const auto& m = r.Message_Type_1019;
        if (const std::optional<int32_t> w = fullWeek10(m.Week_Number))
            offerReference(GpsTime(*w, m.t_oe * 16.0), true);
        deliverInTurn(Waiting{m});
        break;
    }
    case 1044: {
        const auto& m = r.Message_Type_1044;
        if (const std::optional<int32_t> w = fullWeek10(m.Week_Number))
            offerReference(GpsTime(*w, m.t_oe * 16.0), true);
        deliverInTurn(Waiting{m});
        break;
    }
    case 1041:
        deliverInTurn(Waiting{r.Message_Type_1041});
        break;
    case 1020:
        mParts->channels.setFromField(r.Message_Type_1020.Satellite_ID, r.Message_Type_1020.Channel_Number);
        deliverInTurn(Waiting{r.Message_Type_1020});
        break;
    case 1042:
        offerReference(beidouReferenceTime(r.Message_Type_1042), false);
        mSink.keplerEphemeris(beidouEphemeris(r.Message_Type_1042, mReference));
        break;
    case 1045:
    case 1046:
        offerReference(galileoReferenceTime(r.Message_Type_1046), false);
        mSink.keplerEphemeris(galileoEphemeris(number, r, mReference));
        break;
    }
}

void GnssView::deliverInTurn(Waiting&& item)
{
    if (mWaiting.empty() && deliver(item))
        return;
    enqueue(std::make_unique<Waiting>(std::move(item)));
}

bool GnssView::deliver(Waiting& waiting)
{
    if (auto* e = std::get_if<Waiting::Epoch>(&waiting.item)) {
        if (mReference)
            handOnEpoch(e->epoch, e->time);
        return bool(mReference);
    }
    if (auto* r = std::get_if<RTCM3_Message_Type_1019_s>(&waiting.item)) {
        const std::optional<int32_t> week = fullWeek10(r->Week_Number);
        if (week)
            mSink.keplerEphemeris(gpsEphemeris(*r, *week, mReference));
        return bool(week);
    }
    if (auto* r = std::get_if<RTCM3_Message_Type_1044_s>(&waiting.item)) {
        const std::optional<int32_t> week = fullWeek10(r->Week_Number);
        if (week)
            mSink.keplerEphemeris(qzssEphemeris(*r, *week, mReference));
        return bool(week);
    }
    if (auto* r = std::get_if<RTCM3_Message_Type_1041_s>(&waiting.item)) {
        const std::optional<int32_t> week = fullWeek10(r->Week_Number);
        if (week)
            mSink.keplerEphemeris(navicEphemeris(*r, *week, mReference));
        return bool(week);
    }
    if (auto* r = std::get_if<RTCM3_Message_Type_1020_s>(&waiting.item)) {
        if (mReference)
            mSink.glonassEphemeris(glonassEphemeris(*r, *mReference, leapSeconds()));
        return bool(mReference);
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
    // A 1019 or 1044 waiting for its era (which the clock has just given) dates the epochs
    // before it as well as those after.
    for (auto it = mWaiting.begin(); !mReference && it != mWaiting.end(); ++it) {
        std::optional<int32_t> week;
        double toe = 0;
        if (const auto* r = std::get_if<RTCM3_Message_Type_1019_s>(&(*it)->item)) {
            week = fullWeek10(r->Week_Number);
            toe = r->t_oe * 16.0;
        } else if (const auto* q = std::get_if<RTCM3_Message_Type_1044_s>(&(*it)->item)) {
            week = fullWeek10(q->Week_Number);
            toe = q->t_oe * 16.0;
        }
        if (week)
            datesTheStream(GpsTime(*week, toe), true);
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
    }
}

} // namespace Kvt::Nuvrix::View
