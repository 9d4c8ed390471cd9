#include "RinexConversion.h"

#include <algorithm>
#include <set>

namespace Kvt::Nuvrix::View {

using namespace Gnss;

namespace {

// A later description may tell what an earlier one did not (1033 after 1007): keep every
// field anything told.
StationDescription merged(StationDescription old, const StationDescription& d)
{
    old.stationId = d.stationId;
    for (auto [to, from] : {std::pair{&old.antennaDescriptor, &d.antennaDescriptor},
                            {&old.antennaSerialNumber, &d.antennaSerialNumber},
                            {&old.receiverDescriptor, &d.receiverDescriptor},
                            {&old.receiverFirmwareVersion, &d.receiverFirmwareVersion},
                            {&old.receiverSerialNumber, &d.receiverSerialNumber}})
        if (!from->empty())
            *to = *from;
    old.antennaSetupId = d.antennaSetupId;
    return old;
}

} // namespace

// The first pass: what the header needs, from the whole file.
class RinexConversion::SurveySink : public GnssSink {
public:
    explicit SurveySink(RinexConverter& converter) : mConverter(converter) {}
    void epoch(const ObservationEpoch& e) override
    {
        mConverter.survey(e);
        for (const SatelliteObservations& s : e.satellites) {
            if (s.sat.system != System::Glonass)
                continue;
            if (s.glonassChannel)
                channels[s.sat.number] = *s.glonassChannel;
            else  // no phase without the channel, but the writing pass may know it
                for (const Observation& o : s.observations)
                    if (o.pseudorangeM)
                        withoutChannel[s.sat.number].insert(o.code);
        }
    }
    void stationPosition(const StationPosition& p) override
    {
        if (!mPositioned)  // the header tells where the file begins
            mConverter.setPosition(p);
        mPositioned = true;
    }
    void stationDescription(const StationDescription& d) override
    {
        description = merged(description, d);
        mConverter.setDescription(description);
    }
    void glonassBiases(const GlonassBiases& b) override
    {
        if (!mBiased)
            mConverter.setGlonassBiases(b);
        mBiased = true;
    }
    void glonassEphemeris(const GlonassEphemeris& g) override
    {
        if (g.frequencyChannel >= -7 && g.frequencyChannel <= 6)
            channels[g.sat.number] = g.frequencyChannel;
    }
    // Galileo and BeiDou orbits carry their full week: dated even where the view takes none of
    // them for a reference (near a week's end the week may be the one before or after).
    void keplerEphemeris(const KeplerEphemeris& k) override { datedTimes.push_back(k.toe); }
    void notice(const ViewNotice& n) override
    {
        if (n.kind == ViewNotice::Kind::Undated)
            undated += n.count;
    }

    std::map<int, int> channels;
    std::vector<GpsTime> datedTimes;
    size_t undated = 0;
    std::map<int, std::set<SignalCode>> withoutChannel;  // slot -> signals seen without a phase
    StationDescription description;

private:
    RinexConverter& mConverter;
    bool mPositioned = false, mBiased = false;
};

// The writing pass, or the only pass of a live stream.
class RinexConversion::WriteSink : public GnssSink {
public:
    WriteSink(RinexConverter& converter, bool surveyed, std::function<void(const ViewNotice&)>& notice)
        : mConverter(converter), mSurveyed(surveyed), mNotice(notice)
    {
    }
    void epoch(const ObservationEpoch& e) override { mConverter.addEpoch(e); }
    void keplerEphemeris(const KeplerEphemeris& k) override { mConverter.addEphemeris(k); }
    void glonassEphemeris(const GlonassEphemeris& g) override
    {
        mConverter.addEphemeris(g);
        if (!mSurveyed && g.frequencyChannel >= -7 && g.frequencyChannel <= 6)
            mConverter.setGlonassChannel(g.sat.number, g.frequencyChannel);
    }
    // The survey has set the station facts of the header already.
    void stationPosition(const StationPosition& p) override
    {
        if (!mSurveyed && !mPositioned)
            mConverter.setPosition(p);
        mPositioned = true;
    }
    void stationDescription(const StationDescription& d) override
    {
        if (mSurveyed)
            return;
        mDescription = merged(mDescription, d);
        mConverter.setDescription(mDescription);
    }
    void glonassBiases(const GlonassBiases& b) override
    {
        if (!mSurveyed && !mBiased)
            mConverter.setGlonassBiases(b);
        mBiased = true;
    }
    void notice(const ViewNotice& n) override
    {
        if (mNotice)
            mNotice(n);
    }

private:
    RinexConverter& mConverter;
    const bool mSurveyed;
    std::function<void(const ViewNotice&)>& mNotice;
    StationDescription mDescription;
    bool mPositioned = false, mBiased = false;
};

RinexConversion::RinexConversion(RinexConverterOptions options) : mConverter(std::move(options)) {}

RinexConversion::~RinexConversion() { finish(); }

void RinexConversion::setTimeHint(const GpsTime& nearData) { mTimeHint = nearData; }
void RinexConversion::setDateHint(int year, int month, int day) { mDateHint = std::array<int, 3>{year, month, day}; }
void RinexConversion::setClock(const GpsTime& now) { mClock = now; }
void RinexConversion::setLiveInput(bool live) { mLive = live; }
void RinexConversion::setGlonassChannel(int slot, int channel) { mChannels[slot] = channel; }
void RinexConversion::setNoticeHandler(std::function<void(const ViewNotice&)> handler) { mNotice = std::move(handler); }

void RinexConversion::prepare(GnssView& view) const
{
    if (mTimeHint)
        view.setTimeHint(*mTimeHint);
    if (mDateHint)
        view.setDateHint((*mDateHint)[0], (*mDateHint)[1], (*mDateHint)[2]);
    if (mClock)
        view.setClock(*mClock);
    view.setLiveInput(mLive);
    for (const auto& [slot, channel] : mChannels)
        view.setGlonassChannel(slot, channel);
}

void RinexConversion::survey(const _RTCM3_message_t& record)
{
    if (mWriteView || mFinished)
        return;  // the first pass is over
    if (!mSurveyView) {
        mSurveySink = std::make_unique<SurveySink>(mConverter);
        mSurveyView = std::make_unique<GnssView>(*mSurveySink);
        prepare(*mSurveyView);
    }
    mSurveyView->add(record);
}

GnssView& RinexConversion::writingView()
{
    if (!mWriteView) {
        const bool surveyed = bool(mSurveyView);
        if (surveyed) {
            mSurveyView->finish();
            // What the first pass could not date, the second dates by the file's own orbits:
            // the median of their reference times is within days of the data.
            auto& times = mSurveySink->datedTimes;
            if (mSurveySink->undated && !mTimeHint && !mDateHint && !times.empty()) {
                std::nth_element(times.begin(), times.begin() + long(times.size() / 2), times.end());
                mTimeHint = times[times.size() / 2];
            }
            // Channels told anywhere in the file give GLONASS phases from the first epoch.
            for (const auto& [slot, channel] : mSurveySink->channels) {
                mChannels.try_emplace(slot, channel);
                mConverter.setGlonassChannel(slot, channel);
            }
            for (const auto& [slot, codes] : mSurveySink->withoutChannel)
                if (mChannels.count(slot))
                    for (const SignalCode& code : codes)
                        mConverter.surveyType(System::Glonass, code, RinexObsSurvey::Phase);
        }
        mWriteSink = std::make_unique<WriteSink>(mConverter, surveyed, mNotice);
        mWriteView = std::make_unique<GnssView>(*mWriteSink);
        prepare(*mWriteView);
    }
    return *mWriteView;
}

void RinexConversion::add(const _RTCM3_message_t& record)
{
    if (!mFinished)
        writingView().add(record);
}

std::vector<std::string> RinexConversion::finish()
{
    if (mFinished)
        return {};
    writingView().finish();
    mFinished = true;
    return mConverter.finish();
}

} // namespace Kvt::Nuvrix::View
