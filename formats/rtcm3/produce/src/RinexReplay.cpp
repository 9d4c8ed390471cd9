#include "RinexReplay.h"

#include "RTCM3_families.h"
#include "RecordProducer.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <map>
#include <type_traits>

namespace Kvt::Nuvrix::Produce {

bool ReplaySettings::set(const std::string& key, const std::string& value, std::string* error)
{
    char* end = nullptr;
    const double number = std::strtod(value.c_str(), &end);
    const bool isNumber = !value.empty() && *end == '\0';
    if (key == "msm") {
        if (value == "legacy")
            msmLevel = 0;
        else if (value.size() == 1 && value[0] >= '1' && value[0] <= '7')
            msmLevel = value[0] - '0';
        else
            *error = "msm must be 1..7 or legacy";
    } else if (key == "station") {
        constexpr int64_t kLast = wire::Message_Type_1005::Reference_Station_ID.highest;
        if (isNumber && number >= 0 && number <= double(kLast) && number == int(number))
            stationId = uint16_t(number);
        else
            *error = "station takes a number from 0 to " + std::to_string(kLast);
    } else if (key == "position") {
        if (isNumber && number >= 0)
            positionS = number;
        else
            *error = "position takes seconds";
    } else if (key == "orbits") {
        if (isNumber && number >= 0)
            orbitsS = number;
        else
            *error = "orbits takes seconds";
    } else if (key == "nav") {
        navigation = value;
        if (value.empty())
            *error = "nav takes a RINEX navigation file";
    } else if (key == "systems") {
        systems = value;
        for (char c : value)
            if (!Gnss::systemFromLetter(c))
                *error = "systems must be RINEX system letters (GRESJCI)";
    } else {
        *error = "unknown parameter " + key;
    }
    return error->empty();
}

RinexReplay::RinexReplay(std::istream& in, const std::string& fileName, const ReplaySettings& settings)
    : mReader(in, fileName)
    , mSettings(settings)
{
    mProducer.setLimitReport(settings.limitReport);
    if (settings.msmLevel == 0)
        mProducer.setAllLegacy();
    else
        mProducer.setAllMsm(settings.msmLevel);
    if (!settings.navigation.empty()) {
        std::ifstream nav(settings.navigation);
        if (!nav)
            throw Gnss::RinexError(settings.navigation, 0, 0, "cannot be read");
        mOrbits = Gnss::RinexNavigationReader::readAll(nav, settings.navigation);
    }
}

namespace {

// An orbit further than this from an epoch is not the one its satellites send.
constexpr double kOrbitReachS = 4 * 3600;

struct OrbitKey {
    Gnss::SatId sat;
    int message;
    bool operator<(const OrbitKey& o) const { return sat != o.sat ? sat < o.sat : message < o.message; }
};

OrbitKey keyOf(const Gnss::RinexNavigationRecord& r)
{
    if (const auto* k = std::get_if<Gnss::KeplerEphemeris>(&r))
        return {k->sat, k->messageNumber};
    return {std::get<Gnss::GlonassEphemeris>(r).sat, 1020};
}

Gnss::GpsTime referenceOf(const Gnss::RinexNavigationRecord& r)
{
    return std::visit([](const auto& e) { return e.toe; }, r);
}

} // namespace

bool RinexReplay::kept(Gnss::System system) const
{
    return mSettings.systems.empty() || mSettings.systems.find(Gnss::systemLetter(system)) != std::string::npos;
}

void RinexReplay::addStation(const Gnss::ObservationEpoch& epoch, std::vector<Frame>& frames) const
{
    const Gnss::RinexObservationHeader& h = mReader.header();
    Gnss::StationPosition p;
    p.stationId = epoch.stationId;
    p.ecef = *h.approximatePosition;
    p.antennaHeightM = h.antennaHeightM;
    if (auto f = stationPositionFrame(p))
        frames.push_back(*f);
    Gnss::StationDescription d;
    d.stationId = epoch.stationId;
    d.antennaDescriptor = h.antennaType;
    d.antennaSerialNumber = h.antennaSerial;
    d.receiverDescriptor = h.receiverType;
    d.receiverFirmwareVersion = h.receiverVersion;
    d.receiverSerialNumber = h.receiverSerial;
    if (auto f = stationDescriptionFrame(d, 1033))
        frames.push_back(*f);
}

void RinexReplay::addOrbits(const Gnss::GpsTime& time, std::vector<Frame>& frames)
{
    // Of each satellite (and Galileo message) the orbit whose reference time is nearest.
    std::map<OrbitKey, const Gnss::RinexNavigationRecord*> nearest;
    for (const Gnss::RinexNavigationRecord& r : mOrbits) {
        const OrbitKey key = keyOf(r);
        const double distance = std::fabs(referenceOf(r) - time);
        if (!kept(key.sat.system) || distance > kOrbitReachS)
            continue;
        const Gnss::RinexNavigationRecord*& best = nearest[key];
        if (!best || distance < std::fabs(referenceOf(*best) - time)
            || (distance == std::fabs(referenceOf(*best) - time) && referenceOf(*best) < referenceOf(r)))
            best = &r;
    }
    for (const auto& [key, record] : nearest) {
        std::string why;
        const std::optional<Frame> f = std::visit(
            [&why](const auto& e) {
                if constexpr (std::is_same_v<std::decay_t<decltype(e)>, Gnss::KeplerEphemeris>)
                    return keplerFrame(e, &why);
                else
                    return glonassFrame(e, &why);
            },
            *record);
        if (f)
            frames.push_back(*f);
        else if (mSettings.limitReport && mRefused.insert(key.sat.toString() + why).second)
            mSettings.limitReport("the orbit of " + key.sat.toString() + " is not sent: " + why);
    }
}

bool RinexReplay::next(std::vector<Frame>& frames)
{
    frames.clear();
    Gnss::ObservationEpoch epoch;
    if (!mReader.next(epoch))
        return false;
    epoch.stationId = mSettings.stationId;
    // Constellations left out are not asked for: nothing to say about them.
    epoch.satellites.erase(std::remove_if(epoch.satellites.begin(), epoch.satellites.end(),
                                          [this](const Gnss::SatelliteObservations& s) { return !kept(s.sat.system); }),
                           epoch.satellites.end());
    mEpochTime = epoch.time;
    // The observations first, as a receiver sends them: a decoder dates what follows by them.
    for (Frame& f : mProducer.produce(epoch))
        frames.push_back(std::move(f));
    if (mReader.header().approximatePosition
        && (!mLastPosition || epoch.time - *mLastPosition >= mSettings.positionS)) {
        mLastPosition = epoch.time;
        addStation(epoch, frames);
    }
    if (!mOrbits.empty() && (!mLastOrbits || epoch.time - *mLastOrbits >= mSettings.orbitsS)) {
        mLastOrbits = epoch.time;
        addOrbits(epoch.time, frames);
    }
    return true;
}

bool isRinexObservationHeader(const std::string& firstLine)
{
    // The label sits in columns 61-80; the file type letter in column 21.
    return firstLine.size() >= 80 && firstLine.compare(60, 20, "RINEX VERSION / TYPE") == 0 && firstLine[20] == 'O';
}

} // namespace Kvt::Nuvrix::Produce
