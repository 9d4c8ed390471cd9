#include "RinexConverter.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <system_error>

namespace Kvt::Gnss {

namespace fs = std::filesystem;

namespace {

constexpr size_t kMaxWaiting = 1024;
// Orbits held while no observation has started the files; beyond this the navigation file
// starts on its own.
constexpr size_t kMaxPendingOrbits = 512;

// Adds what `more` tells of the same instant; a value both tell keeps the first one's.
void merge(ObservationEpoch& epoch, const ObservationEpoch& more)
{
    for (const SatelliteObservations& s : more.satellites) {
        auto sat = std::find_if(epoch.satellites.begin(), epoch.satellites.end(),
                                [&](const SatelliteObservations& x) { return x.sat == s.sat; });
        if (sat == epoch.satellites.end()) {
            epoch.satellites.push_back(s);
            continue;
        }
        if (!sat->glonassChannel)
            sat->glonassChannel = s.glonassChannel;
        for (const Observation& o : s.observations) {
            auto mine = std::find_if(sat->observations.begin(), sat->observations.end(),
                                     [&](const Observation& x) { return x.code == o.code; });
            if (mine == sat->observations.end()) {
                sat->observations.push_back(o);
                continue;
            }
            for (auto field : {&Observation::pseudorangeM, &Observation::phaseCycles, &Observation::dopplerHz,
                               &Observation::cn0DbHz, &Observation::lockTimeS})
                if (!((*mine).*field))
                    (*mine).*field = o.*field;
        }
    }
    std::sort(epoch.satellites.begin(), epoch.satellites.end(),
              [](const SatelliteObservations& a, const SatelliteObservations& b) { return a.sat < b.sat; });
}

} // namespace

RinexConverter::RinexConverter(RinexConverterOptions options) : mOptions(std::move(options))
{
    mHeader.program = mOptions.program;
    mHeader.runBy = mOptions.runBy;
    mHeader.markerName = mOptions.markerName;
}

RinexConverter::~RinexConverter() { finish(); }

void RinexConverter::survey(const ObservationEpoch& epoch)
{
    mSurveyed = true;
    mSurvey.add(epoch);
}

void RinexConverter::addEpoch(const ObservationEpoch& epoch)
{
    if (mFinished || !mError.empty())
        return;
    const auto [it, added] = mWaiting.try_emplace(epoch.time, epoch);
    if (!added)
        merge(it->second, epoch);
    const GpsTime newest = mWaiting.rbegin()->first;
    // A bound on memory too, for a stream whose times jump about.
    while (!mWaiting.empty() && mError.empty()
           && (newest - mWaiting.begin()->first > mOptions.reorderWindowS || mWaiting.size() > kMaxWaiting)) {
        pass(mWaiting.begin()->second);
        mWaiting.erase(mWaiting.begin());
    }
}

void RinexConverter::pass(const ObservationEpoch& epoch)
{
    if (mObs) {
        mObs->write(epoch);
        if (mOptions.flushEachEpoch)
            mObsFile.flush();
        check(mObsFile, mObsName);
        return;
    }
    mHeld.push_back(epoch);
    if (mSurveyed || mHeld.size() >= mOptions.lookAheadEpochs)
        beginObservations();
}

// Orbits wait for the navigation file, which takes its name from the first observation; a
// stream of orbits alone opens it once enough have come.
template <class Ephemeris>
void RinexConverter::addOrbit(const Ephemeris& ephemeris, std::vector<Ephemeris>& pending)
{
    if (mFinished || !mError.empty())
        return;
    if (!mNav && mObs)
        beginNavigation(mObsStart);
    if (!mNav) {
        pending.push_back(ephemeris);
        if (mPendingKepler.size() + mPendingGlonass.size() >= kMaxPendingOrbits)
            beginNavigation(earliestPendingOrbit());
        return;
    }
    if (mNav->write(ephemeris) && mOptions.flushEachEpoch)
        mNavFile.flush();
    check(mNavFile, mNavName);
}

void RinexConverter::addEphemeris(const KeplerEphemeris& ephemeris) { addOrbit(ephemeris, mPendingKepler); }
void RinexConverter::addEphemeris(const GlonassEphemeris& ephemeris) { addOrbit(ephemeris, mPendingGlonass); }

RinexFileStation RinexConverter::fileStation(std::optional<uint16_t> stationId) const
{
    RinexFileStation station = mOptions.station;
    if (station.marker.empty())
        station.marker = mOptions.markerName;
    if (station.marker.empty()) {
        char id[16];
        std::snprintf(id, sizeof id, "%04u", unsigned(stationId.value_or(0)));
        station.marker = id;
    }
    return station;
}

bool RinexConverter::open(std::ofstream& file, const std::string& name)
{
    std::error_code ec;
    fs::create_directories(mOptions.directory, ec);
    file.open(fs::path(mOptions.directory) / name, std::ios::binary | std::ios::trunc);
    if (!file)
        mError = "cannot create " + (fs::path(mOptions.directory) / name).string();
    return bool(file);
}

void RinexConverter::check(const std::ofstream& file, const std::string& name)
{
    if (!file && mError.empty())
        mError = "cannot write " + (fs::path(mOptions.directory) / name).string();
}

void RinexConverter::beginObservations()
{
    if (mObs || !mError.empty())
        return;
    RinexObsSurvey survey = mSurvey;
    if (!mSurveyed)
        for (const ObservationEpoch& e : mHeld)
            survey.add(e);
    if (!survey.first())
        return;
    mStation = fileStation(survey.stationId());
    // Live input does not know its span yet: finish() renames the file once it does.
    const double span = mSurveyed ? survey.spanS() : 0.0;
    mObsName = RinexNames::observationFile(mStation, *survey.first(), span, survey.intervalS().value_or(0.0));
    if (!open(mObsFile, mObsName))
        return;
    RinexObsHeader header = mHeader;
    header.leapSeconds = mLeapSeconds ? mLeapSeconds : std::optional<int>(leapSecondsAt(*survey.first()));
    mObs = std::make_unique<RinexObsWriter>(mObsFile);
    mObs->begin(header, survey);
    for (const ObservationEpoch& e : mHeld)
        mObs->write(e);
    mHeld.clear();
    mHeld.shrink_to_fit();
    if (mOptions.flushEachEpoch)
        mObsFile.flush();
    check(mObsFile, mObsName);
    mObsStart = *survey.first();
    if (!mPendingKepler.empty() || !mPendingGlonass.empty())
        beginNavigation(mObsStart);
}

void RinexConverter::beginNavigation(const GpsTime& start)
{
    if (mNav || !mError.empty())
        return;
    mNavStart = start;
    if (!mObs)
        mStation = fileStation(std::nullopt);
    mNavName = RinexNames::navigationFile(mStation, start, mSurveyed ? mSurvey.spanS() : 0.0);
    if (!open(mNavFile, mNavName))
        return;
    mNav = std::make_unique<RinexNavWriter>(mNavFile);
    RinexNavHeader header;
    header.program = mOptions.program;
    header.runBy = mOptions.runBy;
    header.leapSeconds = mLeapSeconds ? mLeapSeconds : std::optional<int>(leapSecondsAt(start));
    mNav->begin(header);
    for (const KeplerEphemeris& e : mPendingKepler)
        mNav->write(e);
    for (const GlonassEphemeris& e : mPendingGlonass)
        mNav->write(e);
    mPendingKepler.clear();
    mPendingGlonass.clear();
    check(mNavFile, mNavName);
}

// Orbits without observations: the file starts at the earliest reference time.
GpsTime RinexConverter::earliestPendingOrbit() const
{
    std::optional<GpsTime> start;
    for (const KeplerEphemeris& e : mPendingKepler)
        if (!start || e.toc < *start)
            start = e.toc;
    for (const GlonassEphemeris& e : mPendingGlonass)
        if (!start || e.toe < *start)
            start = e.toe;
    return start.value_or(GpsTime());
}

std::string RinexConverter::rename(const std::string& from, const std::string& to)
{
    if (from == to)
        return from;
    std::error_code ec;
    fs::rename(fs::path(mOptions.directory) / from, fs::path(mOptions.directory) / to, ec);
    if (ec) {
        if (mError.empty())
            mError = "cannot rename " + from + ": " + ec.message();
        return from;
    }
    return to;
}

std::vector<std::string> RinexConverter::finish()
{
    if (mFinished)
        return {};
    for (const auto& [time, epoch] : mWaiting)
        if (mError.empty())
            pass(epoch);
    mWaiting.clear();
    beginObservations();  // a stream shorter than the look-ahead
    if (!mNav && (!mPendingKepler.empty() || !mPendingGlonass.empty()))
        beginNavigation(earliestPendingOrbit());
    mFinished = true;
    std::vector<std::string> names;
    double span = 0.0;
    if (mObs && mObs->epochsWritten() == 0) {
        // Epochs without a single value (ranges the messages give modulo a millisecond only):
        // no file rather than a header over nothing.
        mObsFile.close();
        std::error_code ec;
        fs::remove(fs::path(mOptions.directory) / mObsName, ec);
        mObs.reset();
    }
    if (mObs) {
        mObsFile.close();
        check(mObsFile, mObsName);
        if (mObs->firstEpoch() && mObs->lastEpoch())
            span = (*mObs->lastEpoch() - *mObs->firstEpoch()) + mObs->intervalS().value_or(0.0);
        const GpsTime start = mObs->firstEpoch().value_or(mObsStart);
        names.push_back(rename(mObsName,
                               RinexNames::observationFile(mStation, start, span, mObs->intervalS().value_or(0.0))));
    }
    if (mNav) {
        mNavFile.close();
        check(mNavFile, mNavName);
        names.push_back(rename(mNavName, RinexNames::navigationFile(mStation, mNavStart, span)));
    }
    return names;
}

} // namespace Kvt::Gnss
