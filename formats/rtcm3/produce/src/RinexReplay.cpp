#include "RinexReplay.h"

#include "RecordProducer.h"

#include <algorithm>
#include <cstdlib>

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
        if (isNumber && number >= 0 && number <= 4095 && number == int(number))
            stationId = uint16_t(number);
        else
            *error = "station takes a number from 0 to 4095";
    } else if (key == "position") {
        if (isNumber && number >= 0)
            positionS = number;
        else
            *error = "position takes seconds";
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
}

bool RinexReplay::next(std::vector<Frame>& frames)
{
    frames.clear();
    Gnss::ObservationEpoch epoch;
    if (!mReader.next(epoch))
        return false;
    epoch.stationId = mSettings.stationId;
    // Constellations left out are not asked for: nothing to say about them.
    if (!mSettings.systems.empty())
        epoch.satellites.erase(std::remove_if(epoch.satellites.begin(), epoch.satellites.end(),
                                              [this](const Gnss::SatelliteObservations& s) {
                                                  return mSettings.systems.find(Gnss::systemLetter(s.sat.system)) == std::string::npos;
                                              }),
                               epoch.satellites.end());
    mEpochTime = epoch.time;
    const Gnss::RinexObservationHeader& h = mReader.header();
    if (h.approximatePosition && (!mLastPosition || epoch.time - *mLastPosition >= mSettings.positionS)) {
        mLastPosition = epoch.time;
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
    for (Frame& f : mProducer.produce(epoch))
        frames.push_back(std::move(f));
    return true;
}

bool isRinexObservationHeader(const std::string& firstLine)
{
    // The label sits in columns 61-80; the file type letter in column 21.
    return firstLine.size() >= 80 && firstLine.compare(60, 20, "RINEX VERSION / TYPE") == 0 && firstLine[20] == 'O';
}

} // namespace Kvt::Nuvrix::Produce
