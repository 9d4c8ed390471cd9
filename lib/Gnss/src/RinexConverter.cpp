#include "RinexConverter.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace Kvt::Gnss {

namespace {

constexpr size_t kMaxWaiting = 1024;
// Orbits held while no observation has started the files; beyond this the navigation file
// starts on its own (or, for a station's converter, the oldest are dropped and counted).
constexpr size_t kMaxPendingOrbits = 4096;

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

long long milliseconds(const GpsTime& t) { return std::llround(t.secondsSinceEpoch() * 1000.0); }

GpsTime fromMilliseconds(long long ms)
{
    const long long weekMs = (long long)kSecondsPerWeek * 1000;
    return GpsTime(int32_t(ms / weekMs), double(ms % weekMs) / 1000.0);
}

} // namespace

RinexConverter::RinexConverter(RinexConverterOptions options)
    : mOptions(std::move(options)), mSystems(mOptions.systems)
{
}

RinexConverter::~RinexConverter() { finish(); }

void RinexConverter::survey(const ObservationEpoch& epoch)
{
    mSurveyed = true;
    if (!wanted(epoch))
        return;
    if (mSystems == ~0u)
        return mSurvey.add(epoch);
    ObservationEpoch kept = epoch;
    kept.satellites.erase(std::remove_if(kept.satellites.begin(), kept.satellites.end(),
                                         [&](const SatelliteObservations& s) { return !wanted(s.sat.system); }),
                          kept.satellites.end());
    if (!kept.satellites.empty())
        mSurvey.add(kept);
}

bool RinexConverter::wanted(System system) const { return mSystems >> unsigned(system) & 1u; }

bool RinexConverter::wanted(const ObservationEpoch& epoch) const
{
    if ((mOptions.from && epoch.time < *mOptions.from) || (mOptions.until && *mOptions.until < epoch.time))
        return false;
    const long long step = std::llround(mOptions.intervalS * 1000.0);
    return step <= 0 || milliseconds(epoch.time) % step == 0;
}

void RinexConverter::addEpoch(const ObservationEpoch& epoch)
{
    if (mFinished || !mError.empty() || !wanted(epoch))
        return;
    if (mSystems != ~0u) {
        ObservationEpoch kept = epoch;
        kept.satellites.erase(std::remove_if(kept.satellites.begin(), kept.satellites.end(),
                                             [&](const SatelliteObservations& s) { return !wanted(s.sat.system); }),
                              kept.satellites.end());
        if (!kept.satellites.empty())
            queue(kept);
        return;
    }
    queue(epoch);
}

void RinexConverter::queue(const ObservationEpoch& epoch)
{
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
    if (epoch.satellites.empty()) {
        ++mDrops.emptyEpochs;
        return;
    }
    if (mOptions.periodS > 0) {
        const long long period = (long long)std::floor(epoch.time.secondsSinceEpoch() / mOptions.periodS);
        if (mPeriod && *mPeriod != period) {
            beginObservations();  // what the look-ahead holds belongs to the period that ended
            closeObservations();
        }
        mPeriod = period;
    }
    if (!mSurveyed)
        mSurvey.add(epoch);
    if (mObs) {
        const std::optional<GpsTime> last = mObs->lastEpoch();
        if (last && epoch.time == *last) {
            ++mDrops.lateEpochs;
            return;
        }
        // Earlier than the file (a concatenated capture), or with a type the header lacks.
        if ((last && epoch.time < *last) || !mObs->hasColumns(epoch))
            closeObservations();
    }
    if (mObs) {
        mObs->write(epoch);
        if (mOptions.flushEachEpoch)
            mObsFile.flush();
        check(mObsFile, "observation");
        return;
    }
    mHeld.push_back(epoch);
    if (mSurveyed || mEpochsWritten > 0 || mHeld.size() >= mOptions.lookAheadEpochs)
        beginObservations();
}

// Orbits wait for the navigation file, which takes its name from the first observation.
template <class Ephemeris>
void RinexConverter::addOrbit(const Ephemeris& ephemeris, std::vector<Ephemeris>& pending)
{
    if (mFinished || !mError.empty() || !wanted(ephemeris.sat.system))
        return;
    if (!mNavOpen && mObs)
        beginNavigation(fileStart(mObsStart));
    if (!mNavOpen) {
        pending.push_back(ephemeris);
        if (mPendingKepler.size() + mPendingGlonass.size() >= kMaxPendingOrbits) {
            if (mOptions.navigationAlone) {
                beginNavigation(earliestPendingOrbit());
            } else {
                mDrops.orbits += pending.size() / 2;
                pending.erase(pending.begin(), pending.begin() + long(pending.size() / 2));
            }
        }
        return;
    }
    writeOrbit(ephemeris);
}

template <class Ephemeris>
void RinexConverter::writeOrbit(const Ephemeris& ephemeris)
{
    const System system = ephemeris.sat.system;
    if (mOptions.version == RinexVersion::V2_11 && system != System::Gps && system != System::Glonass) {
        mOrbitsNotHeld.insert({int(system), ephemeris.sat.number, milliseconds(ephemeris.toe)});
        return;
    }
    NavOutput* nav = navigationFor(system);
    if (!nav)
        return;
    if (nav->writer->write(ephemeris) && mOptions.flushEachEpoch)
        nav->file.flush();
    check(nav->file, "navigation");
}

RinexConverter::NavOutput* RinexConverter::navigationFor(System system)
{
    const bool version2 = mOptions.version == RinexVersion::V2_11;
    NavOutput& nav = mNavs[version2 && system == System::Glonass ? 1 : 0];
    if (nav.writer)
        return &nav;
    if (!mError.empty() || !nav.file.create(mOptions.directory, mOptions.gzip, &mError))
        return nullptr;
    nav.writer = std::make_unique<RinexNavWriter>(nav.file.stream());
    RinexNavHeader header;
    header.program = mOptions.program;
    header.runBy = mOptions.runBy;
    header.version = mOptions.version;
    header.system = version2 && system == System::Glonass ? System::Glonass : System::Gps;
    header.leapSeconds = mLeapSeconds ? mLeapSeconds : std::optional<int>(leapSecondsAt(mNavStart));
    nav.writer->begin(header);
    return &nav;
}

void RinexConverter::addEphemeris(const KeplerEphemeris& ephemeris)
{
    if (mOptions.periodS > 0)
        mLatestKepler[{int(ephemeris.sat.system), ephemeris.sat.number}] = ephemeris;
    addOrbit(ephemeris, mPendingKepler);
}

void RinexConverter::addEphemeris(const GlonassEphemeris& ephemeris)
{
    if (mOptions.periodS > 0)
        mLatestGlonass[ephemeris.sat.number] = ephemeris;
    addOrbit(ephemeris, mPendingGlonass);
}

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

RinexObsHeader RinexConverter::header(const GpsTime& first) const
{
    RinexObsHeader h = mHeader;
    h.program = mOptions.program;
    h.runBy = mOptions.runBy;
    h.markerName = mOptions.markerName;
    h.markerNumber = mOptions.markerNumber;
    h.markerType = mOptions.markerType;
    h.observer = mOptions.observer;
    h.agency = mOptions.agency;
    if (mOptions.position) {
        StationPosition p = h.position.value_or(StationPosition{});
        p.ecef = *mOptions.position;
        h.position = p;
    }
    const StationDescription& e = mOptions.equipment;
    if (!e.receiverDescriptor.empty() || !e.receiverSerialNumber.empty() || !e.receiverFirmwareVersion.empty()
        || !e.antennaDescriptor.empty() || !e.antennaSerialNumber.empty()) {
        StationDescription d = h.description.value_or(StationDescription{});
        for (auto [to, from] : {std::pair{&d.antennaDescriptor, &e.antennaDescriptor},
                                {&d.antennaSerialNumber, &e.antennaSerialNumber},
                                {&d.receiverDescriptor, &e.receiverDescriptor},
                                {&d.receiverFirmwareVersion, &e.receiverFirmwareVersion},
                                {&d.receiverSerialNumber, &e.receiverSerialNumber}})
            if (!from->empty())
                *to = *from;
        h.description = d;
    }
    h.antennaDeltaHen = mOptions.antennaDeltaHen;
    h.version = mOptions.version;
    h.priority = mOptions.priority;
    h.leapSeconds = mLeapSeconds ? mLeapSeconds : std::optional<int>(leapSecondsAt(first));
    if (mOptions.intervalS > 0)
        h.intervalS = mOptions.intervalS;
    else if (mSurvey.intervalS())
        h.intervalS = mSurvey.intervalS();
    return h;
}

GpsTime RinexConverter::fileStart(const GpsTime& first) const
{
    if (!(mOptions.periodS > 0))
        return first;
    const long long periodMs = std::llround(mOptions.periodS * 1000.0);
    const long long ms = milliseconds(first);
    return fromMilliseconds(ms - (ms % periodMs + periodMs) % periodMs);
}

double RinexConverter::fileSpan(const GpsTime& start, double intervalS) const
{
    if (mOptions.periodS > 0)
        return mOptions.periodS;
    if (!mSurvey.last())
        return 0.0;
    return (*mSurvey.last() - start) + intervalS;
}

void RinexConverter::check(RinexFile& file, const char* what)
{
    if (file.isOpen() && !file.stream() && mError.empty())
        mError = std::string("cannot write the ") + what + " file in " + mOptions.directory;
}

void RinexConverter::beginObservations()
{
    if (mObs || !mError.empty() || mHeld.empty())
        return;
    std::stable_sort(mHeld.begin(), mHeld.end(),
                     [](const ObservationEpoch& a, const ObservationEpoch& b) { return a.time < b.time; });
    RinexObsSurvey survey;
    for (const ObservationEpoch& e : mHeld)
        survey.add(e);
    survey.addTypesOf(mSurvey);
    if (!mStationId)
        mStationId = survey.stationId();
    mStation = fileStation(mStationId);
    if (!mObsFile.create(mOptions.directory, mOptions.gzip, &mError))
        return;
    mObsStart = mHeld.front().time;
    mObs = std::make_unique<RinexObsWriter>(mObsFile.stream());
    mObs->begin(header(mObsStart), survey);
    for (const ObservationEpoch& e : mHeld)
        mObs->write(e);
    mHeld.clear();
    mHeld.shrink_to_fit();
    if (mOptions.flushEachEpoch)
        mObsFile.flush();
    check(mObsFile, "observation");
    if (!mNavOpen && (!mPendingKepler.empty() || !mPendingGlonass.empty() || !mLatestKepler.empty()
                  || !mLatestGlonass.empty()))
        beginNavigation(fileStart(mObsStart));
}

void RinexConverter::closeObservations()
{
    if (!mObs)
        return;
    mDrops.lateEpochs += mObs->epochsLate();
    mDrops.emptyEpochs += mObs->epochsDropped();
    mDrops.observations += mObs->observationsDropped();
    mDrops.valuesBlanked += mObs->valuesBlanked();
    for (const auto& [type, count] : mObs->droppedTypes())
        mDroppedTypes[type] += count;
    mEpochsWritten += mObs->epochsWritten();
    if (mObs->epochsWritten() == 0) {
        // Epochs without a single value (ranges the messages give modulo a millisecond only):
        // no file rather than a header over nothing.
        mObsFile.discard();
    } else if (mError.empty()) {
        const double interval = mObs->intervalS().value_or(0.0);
        const GpsTime start = fileStart(*mObs->firstEpoch());
        const double span = mOptions.periodS > 0 ? mOptions.periodS
                                                 : (*mObs->lastEpoch() - *mObs->firstEpoch()) + interval;
        commit(mObsFile, observationName(start, span, interval));
    }
    mObs.reset();
    if (mOptions.periodS > 0)
        closeNavigation();
}

std::string RinexConverter::observationName(const GpsTime& start, double spanS, double intervalS) const
{
    if (mOptions.version == RinexVersion::V2_11)
        return RinexNames::shortName(mStation, start, mOptions.periodS, 'o');
    return RinexNames::observationFile(mStation, start, spanS, intervalS);
}

void RinexConverter::beginNavigation(const GpsTime& start)
{
    if (mNavOpen || !mError.empty())
        return;
    if (!mObs && !mStationId)
        mStation = fileStation(std::nullopt);
    mNavOpen = true;
    mNavStart = start;
    // A period's files open with the orbits in force when it starts.
    for (const auto& [sat, e] : mLatestKepler)
        writeOrbit(e);
    for (const auto& [slot, e] : mLatestGlonass)
        writeOrbit(e);
    for (const KeplerEphemeris& e : mPendingKepler)
        writeOrbit(e);
    for (const GlonassEphemeris& e : mPendingGlonass)
        writeOrbit(e);
    mPendingKepler.clear();
    mPendingGlonass.clear();
}

void RinexConverter::closeNavigation()
{
    if (!mNavOpen)
        return;
    mNavOpen = false;
    for (size_t i = 0; i < mNavs.size(); ++i) {
        NavOutput& nav = mNavs[i];
        if (!nav.writer)
            continue;
        if (nav.writer->recordsWritten() == 0) {
            nav.file.discard();
        } else if (mError.empty()) {
            double span = mOptions.periodS;
            if (!(span > 0) && mSurvey.last() && mNavStart < *mSurvey.last())
                span = fileSpan(mNavStart, mSurvey.intervalS().value_or(0.0));
            commit(nav.file, mOptions.version == RinexVersion::V2_11
                                 ? RinexNames::shortName(mStation, mNavStart, mOptions.periodS, i == 0 ? 'n' : 'g')
                                 : RinexNames::navigationFile(mStation, mNavStart, span));
        }
        nav.writer.reset();
    }
}

void RinexConverter::commit(RinexFile& file, const std::string& name)
{
    std::string error;
    const std::string written = file.commit(name, &error);
    if (written.empty()) {
        if (mError.empty())
            mError = error;
        return;
    }
    mNames.push_back(written);
    if (mOptions.onClose)
        mOptions.onClose(mOptions.directory + '/' + written);
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

RinexDrops RinexConverter::drops() const
{
    RinexDrops d = mDrops;
    d.orbitsNotHeld = mOrbitsNotHeld.size();
    if (mObs) {
        d.lateEpochs += mObs->epochsLate();
        d.emptyEpochs += mObs->epochsDropped();
        d.observations += mObs->observationsDropped();
        d.valuesBlanked += mObs->valuesBlanked();
    }
    return d;
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
    closeObservations();
    const bool orbitsWaiting = !mPendingKepler.empty() || !mPendingGlonass.empty();
    if (!mNavOpen && orbitsWaiting && (mOptions.navigationAlone || mEpochsWritten > 0))
        beginNavigation(mEpochsWritten > 0 ? fileStart(mObsStart) : earliestPendingOrbit());
    closeNavigation();
    mFinished = true;
    return mNames;
}

} // namespace Kvt::Gnss
