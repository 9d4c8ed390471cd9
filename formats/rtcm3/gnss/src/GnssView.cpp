#include "GnssView.h"

#include "ObservationAssembly.h"
#include "StationRecords.h"
#include "ViewParts.h"

#include "RTCM3_families.h"

namespace Kvt::Nuvrix::View {

using namespace Gnss;

GnssView::GnssView(GnssSink& sink) : mSink(sink), mParts(std::make_unique<Parts>(*this)) {}
GnssView::~GnssView() = default;

void GnssView::setDateHint(int year, int month, int day)
{
    setTimeHint(GpsTime::fromCalendar(DateTime{year, month, day, 12, 0, 0.0}));
}

void GnssView::setGlonassChannel(int slot, int channel)
{
    mParts->channels.set(slot, channel);
}

std::optional<int> GnssView::glonassChannel(int slot) const
{
    return mParts->channels.of(slot);
}

void GnssView::add(const _RTCM3_message_t& record)
{
    const int number = family::messageNumber(record);
    if (mParts->assembly.add(number, record))
        return;
    switch (number) {
    case 1005: case 1006: case 1007: case 1008: case 1033: case 1230:
        addStation(number, record);
        break;
    case 1013:
        addSystemParameters(record);
        break;
    case 1029:
        addText(record);
        break;
    case 1019: case 1020: case 1041: case 1042: case 1044: case 1045: case 1046:
        addEphemeris(number, record);
        break;
    default:
        break;
    }
}

void GnssView::finish()
{
    mParts->assembly.complete();
    countOrbitVotes(true);
    if (mDisagreements > 8)
        mSink.notice({ViewNotice::Kind::Disagreement, mDisagreements - 8,
                      std::to_string(mDisagreements - 8) + " more pieces of evidence disagreed with the date taken"});
    mDisagreements = 0;
    if (mAheadOfClock > 1)
        mSink.notice({ViewNotice::Kind::BadTime, mAheadOfClock - 1,
                      std::to_string(mAheadOfClock - 1) + " more epochs ahead of the clock were not handed on"});
    mAheadOfClock = 0;
    if (!mWaiting.empty()) {
        ViewNotice n{ViewNotice::Kind::Undated, mWaiting.size(), {}};
        n.text = std::to_string(mWaiting.size())
            + " epochs or ephemerides had no time reference and were not handed on; give a date";
        mWaiting.clear();
        mWaitingBytes = 0;
        mSink.notice(n);
    }
    reportDropped();
}

void GnssView::addStation(int number, const _RTCM3_message_t& record)
{
    if (const auto p = stationPosition(number, record))
        mSink.stationPosition(*p);
    else if (stationDescription(number, record, mParts->description))
        mSink.stationDescription(mParts->description);
    else if (number == 1230)
        mSink.glonassBiases(glonassBiases(record.Message_Type_1230));
}

void GnssView::addSystemParameters(const _RTCM3_message_t& record)
{
    const auto& r = record.Message_Type_1013;
    const std::optional<GpsTime> t = systemParametersTime(r);
    if (!t)
        return;
    if (const auto leap = units::value(units::Message_Type_1013::Leap_Seconds, r.Leap_Seconds))
        mLeapFromStream = int(*leap);
    offerDate(*t, Evidence::StreamDate, {"the 1013 of station ", int(r.Reference_Station_ID)});
}

void GnssView::addText(const _RTCM3_message_t& record)
{
    const auto& r = record.Message_Type_1029;
    StationText& t = mParts->text;
    stationText(r, mLeapFromStream, t);
    if (textIsDated(r))
        offerDate(t.time, Evidence::StreamDate, {"the 1029 of station ", int(r.Reference_Station_ID)});
    mSink.stationText(t);
}

} // namespace Kvt::Nuvrix::View
