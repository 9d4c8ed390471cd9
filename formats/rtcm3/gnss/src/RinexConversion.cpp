#include "RinexConversion.h"

#include <algorithm>
#include <cmath>
#include <set>
#include <tuple>

namespace Kvt::Nuvrix::View {

using namespace Gnss;

namespace {

// Distinct orbits kept for stations that appear later in the stream.
constexpr size_t kKeptOrbits = 8192;
// Stations with files of their own; a stream naming more (a hostile one) would otherwise take
// a file and a copy of every orbit per station ID.
constexpr size_t kMaxStations = 32;

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

// Orbits are broadcast again and again: each is kept once.
using OrbitKey = std::tuple<int, int, long long, long long, int, int, int, int>;

OrbitKey keyOf(const KeplerEphemeris& e)
{
    return {int(e.sat.system), e.sat.number, std::llround(e.toe.secondsSinceEpoch()),
            std::llround(e.toc.secondsSinceEpoch()), e.iode, e.iodc, e.messageNumber, e.dataSources};
}

OrbitKey keyOf(const GlonassEphemeris& e)
{
    return {int(System::Glonass), e.sat.number, std::llround(e.toe.secondsSinceEpoch()), 0, 0, 0, 0, 0};
}

template <class T>
void keep(std::vector<T>& kept, std::set<OrbitKey>& keys, const T& item)
{
    if (!keys.insert(keyOf(item)).second)
        return;
    if (kept.size() >= kKeptOrbits) {
        for (auto it = kept.begin(); it != kept.begin() + long(kKeptOrbits / 4); ++it)
            keys.erase(keyOf(*it));
        kept.erase(kept.begin(), kept.begin() + long(kKeptOrbits / 4));
    }
    kept.push_back(item);
}

} // namespace

// The first pass: what the headers need, from the whole file.
class RinexConversion::SurveySink : public GnssSink {
public:
    explicit SurveySink(RinexConversion& conversion) : mConversion(conversion) {}
    void epoch(const ObservationEpoch& e) override
    {
        RinexConverter* converter = mConversion.station(e.stationId);
        if (!converter)
            return;
        converter->survey(e);
        for (const SatelliteObservations& s : e.satellites) {
            if (s.sat.system != System::Glonass)
                continue;
            if (s.glonassChannel)
                channels[s.sat.number] = *s.glonassChannel;
            else  // no phase without the channel, but the writing pass may know it
                for (const Observation& o : s.observations)
                    if (o.pseudorangeM)
                        withoutChannel[{e.stationId, s.sat.number}].insert(o.code);
        }
    }
    void stationPosition(const StationPosition& p) override { mConversion.position(p); }
    void stationDescription(const StationDescription& d) override { mConversion.description(d.stationId, d); }
    void glonassBiases(const GlonassBiases& b) override { mConversion.biases(b); }
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
    std::map<std::pair<uint16_t, int>, std::set<SignalCode>> withoutChannel;  // station, slot -> signals

private:
    RinexConversion& mConversion;
};

// The writing pass, or the only pass of a live stream.
class RinexConversion::WriteSink : public GnssSink {
public:
    WriteSink(RinexConversion& conversion, bool surveyed) : mConversion(conversion), mSurveyed(surveyed) {}
    void epoch(const ObservationEpoch& e) override
    {
        if (RinexConverter* converter = mConversion.station(e.stationId))
            converter->addEpoch(e);
    }
    void keplerEphemeris(const KeplerEphemeris& k) override { mConversion.orbit(k); }
    void glonassEphemeris(const GlonassEphemeris& g) override
    {
        mConversion.orbit(g);
        if (!mSurveyed && g.frequencyChannel >= -7 && g.frequencyChannel <= 6)
            mConversion.setGlonassChannel(g.sat.number, g.frequencyChannel);
    }
    // The survey has set the station facts of the headers already.
    void stationPosition(const StationPosition& p) override
    {
        if (!mSurveyed)
            mConversion.position(p);
    }
    void stationDescription(const StationDescription& d) override
    {
        if (!mSurveyed)
            mConversion.description(d.stationId, d);
    }
    void glonassBiases(const GlonassBiases& b) override
    {
        if (!mSurveyed)
            mConversion.biases(b);
    }
    void notice(const ViewNotice& n) override
    {
        if (n.kind == ViewNotice::Kind::Undated || n.kind == ViewNotice::Kind::Dropped)
            mConversion.mUndated += n.count;
        if (mConversion.mNotice)
            mConversion.mNotice(n);
    }

private:
    RinexConversion& mConversion;
    const bool mSurveyed;
};

RinexConversion::RinexConversion(RinexConverterOptions options) : mOptions(std::move(options))
{
    mOptions.navigationAlone = false;  // a station's files are those of its observations
}

RinexConversion::~RinexConversion() { finish(); }

void RinexConversion::setTimeHint(const GpsTime& nearData) { mTimeHint = nearData; }
void RinexConversion::setDateHint(int year, int month, int day) { mDateHint = std::array<int, 3>{year, month, day}; }
void RinexConversion::setClock(const GpsTime& now) { mClock = now; }
void RinexConversion::setLiveInput(bool live) { mLive = live; }
void RinexConversion::setNoticeHandler(std::function<void(const ViewNotice&)> handler) { mNotice = std::move(handler); }

void RinexConversion::setGlonassChannel(int slot, int channel)
{
    mChannels[slot] = channel;
    for (auto& [id, s] : mStations)
        s.converter->setGlonassChannel(slot, channel);
}

RinexConversion::Station* RinexConversion::stationEntry(uint16_t id)
{
    if (mChosen && *mChosen != id)
        return nullptr;
    auto it = mStations.find(id);
    if (it != mStations.end())
        return &it->second;
    if (mStations.size() >= kMaxStations) {
        ++mRefused;
        return nullptr;
    }
    RinexConverterOptions options = mOptions;
    // The marker the user gave names one station: the one chosen, or the first seen. Others
    // keep their IDs, so that no two stations share a file name.
    if (!mStations.empty() && !mChosen && (!options.markerName.empty() || !options.station.marker.empty())) {
        options.markerName.clear();
        options.station.marker.clear();
        mRenamed.insert(id);
    }
    Station& s = mStations[id];
    s.converter = std::make_unique<RinexConverter>(options);
    for (const auto& [slot, channel] : mChannels)
        s.converter->setGlonassChannel(slot, channel);
    for (const KeplerEphemeris& k : mKepler)
        s.converter->addEphemeris(k);
    for (const GlonassEphemeris& g : mGlonass)
        s.converter->addEphemeris(g);
    return &s;
}

RinexConverter* RinexConversion::station(uint16_t id)
{
    Station* s = stationEntry(id);
    return s ? s->converter.get() : nullptr;
}

void RinexConversion::orbit(const KeplerEphemeris& ephemeris)
{
    keep(mKepler, mOrbitKeys, ephemeris);
    for (auto& [id, s] : mStations)
        s.converter->addEphemeris(ephemeris);
}

void RinexConversion::orbit(const GlonassEphemeris& ephemeris)
{
    keep(mGlonass, mOrbitKeys, ephemeris);
    for (auto& [id, s] : mStations)
        s.converter->addEphemeris(ephemeris);
}

void RinexConversion::description(uint16_t id, const StationDescription& d)
{
    if (Station* s = stationEntry(id)) {
        s->description = merged(s->description, d);
        s->converter->setDescription(s->description);
    }
}

// The header tells where the file begins: the first position and biases of each station.
void RinexConversion::position(const StationPosition& p)
{
    Station* s = stationEntry(p.stationId);
    if (s && !s->positioned)
        s->converter->setPosition(p);
    if (s)
        s->positioned = true;
}

void RinexConversion::biases(const GlonassBiases& b)
{
    Station* s = stationEntry(b.stationId);
    if (s && !s->biased)
        s->converter->setGlonassBiases(b);
    if (s)
        s->biased = true;
}

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
        mSurveySink = std::make_unique<SurveySink>(*this);
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
            for (const auto& [slot, channel] : mSurveySink->channels)
                if (!mChannels.count(slot))
                    setGlonassChannel(slot, channel);
            for (const auto& [key, codes] : mSurveySink->withoutChannel)
                if (mChannels.count(key.second))
                    if (RinexConverter* converter = station(key.first))
                        for (const SignalCode& code : codes)
                            converter->surveyType(System::Glonass, code, RinexObsSurvey::Phase);
        }
        mWriteSink = std::make_unique<WriteSink>(*this, surveyed);
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
    std::vector<std::string> names;
    for (auto& [id, s] : mStations) {
        for (std::string& name : s.converter->finish())
            names.push_back(std::move(name));
        mEpochs += s.converter->epochsWritten();
        if (mError.empty())
            mError = s.converter->error();
    }
    // Orbits without an observation written (alone, or with epochs holding no value): one
    // navigation file.
    if (mEpochs == 0 && !mChosen && mError.empty() && (!mKepler.empty() || !mGlonass.empty())) {
        RinexConverterOptions options = mOptions;
        options.navigationAlone = true;
        RinexConverter converter(options);
        for (const KeplerEphemeris& k : mKepler)
            converter.addEphemeris(k);
        for (const GlonassEphemeris& g : mGlonass)
            converter.addEphemeris(g);
        for (std::string& name : converter.finish())
            names.push_back(std::move(name));
        mError = converter.error();
    }
    return names;
}

std::vector<std::string> RinexConversion::drops() const
{
    std::vector<std::string> lines;
    for (const auto& [id, s] : mStations) {
        const RinexDrops d = s.converter->drops();
        const std::string who = "station " + std::to_string(id) + ": ";
        if (mRenamed.count(id))
            lines.push_back(who + "files named by the station ID: the marker given names the first station");
        if (d.lateEpochs)
            lines.push_back(who + std::to_string(d.lateEpochs) + " epochs repeated after their file moved on, not written");
        if (d.emptyEpochs)
            lines.push_back(who + std::to_string(d.emptyEpochs) + " epochs without a value RINEX can hold, not written");
        if (d.observations) {
            std::string types;
            for (const auto& [type, count] : s.converter->droppedTypes())
                types += ' ' + type + " (" + std::to_string(count) + ")";
            lines.push_back(who + std::to_string(d.observations) + " values of signals RINEX cannot name, not written:"
                            + types);
        }
        if (d.valuesBlanked)
            lines.push_back(who + std::to_string(d.valuesBlanked) + " values too large for their field, written blank");
        if (d.orbits)
            lines.push_back(who + std::to_string(d.orbits) + " orbits sent long before any observation, not written");
        if (d.orbitsNotHeld)
            lines.push_back(who + std::to_string(d.orbitsNotHeld) + " orbits of systems RINEX 2.11 has no file for, not written");
    }
    if (mRefused)
        lines.push_back(std::to_string(mRefused) + " records of stations beyond the first "
                        + std::to_string(kMaxStations) + " were not written (choose one with --station)");
    if (mUndated)
        lines.push_back(std::to_string(mUndated) + " epochs or orbits could not be dated and were not written "
                        "(give the date with --time YYYY-MM-DD)");
    return lines;
}

std::string RinexConversion::whyNothing() const
{
    if (!mError.empty())
        return mError;
    if (mChosen && mStations.empty())
        return "station " + std::to_string(*mChosen) + " is not in the input";
    if (mUndated)
        return "no epoch could be dated: give the date of the data with --time YYYY-MM-DD";
    if (!mStations.empty())
        return "no observation or orbit to write (none within the times and systems asked for)";
    return "the input holds no observations or orbits";
}

} // namespace Kvt::Nuvrix::View
