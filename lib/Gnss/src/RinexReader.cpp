#include "RinexReader.h"

#include <algorithm>
#include <cmath>
#include <cctype>
#include <cstdlib>

namespace Kvt::Gnss {

using Rinex::columns;
using Rinex::trimmed;

namespace {

// The RINEX 3 signal of a RINEX 2 type for a system, "" where it has none; `p2Listed`
// tells whether the file has P2 codes, whose tracking the band 2 phase then follows.
std::string version3Type(const std::string& type, System system, bool p2Listed)
{
    if (type.size() != 2 || std::string("CPLDS").find(type[0]) == std::string::npos)
        return {};
    const char kind = type[0] == 'P' ? 'C' : type[0];
    const char band = type[1];
    char attribute = 0;
    switch (system) {
    case System::Gps:
        if (band == '1')
            attribute = type[0] == 'P' ? 'W' : 'C';
        else if (band == '2')
            attribute = type[0] == 'P' || (type[0] != 'C' && p2Listed) ? 'W' : 'X';
        else if (band == '5')
            attribute = type[0] == 'P' ? 0 : 'X';
        break;
    case System::Glonass:
        if (band == '1')
            attribute = type[0] == 'P' ? 'P' : 'C';
        else if (band == '2')
            attribute = type[0] == 'P' || (type[0] != 'C' && p2Listed) ? 'P' : 'C';
        break;
    case System::Galileo:
        if (type[0] != 'P' && std::string("15678").find(band) != std::string::npos)
            attribute = 'X';
        break;
    case System::Sbas:
        if (type[0] != 'P' && (band == '1' || band == '5'))
            attribute = band == '1' ? 'C' : 'X';
        break;
    default:
        break;
    }
    if (!attribute)
        return {};
    return std::string{kind, band, attribute};
}

} // namespace

RinexError::RinexError(const std::string& file, int line, int column, const std::string& reason)
    : std::runtime_error(file + ":" + std::to_string(line) + ":" + std::to_string(column) + ": " + reason),
      mFile(file), mLine(line), mColumn(column), mReason(reason)
{
}

RinexObservationReader::RinexObservationReader(std::istream& in, std::string fileName)
    : mLines(in, std::move(fileName))
{
    readHeader();
}

void RinexObservationReader::readHeader()
{
    std::string line;
    if (!readLine(line))
        fail(1, "empty file");
    if (trimmed(columns(line, 61, 20)) != "RINEX VERSION / TYPE")
        fail(61, "the first line must be RINEX VERSION / TYPE");
    mHeader.version = number(line, 1, 9, "the format version");
    mVersion2 = mHeader.version >= 2.10 - 1e-6 && mHeader.version < 2.12 - 1e-6;
    if (!mVersion2 && (mHeader.version < 3.0 || mHeader.version >= 3.06))
        fail(1, "format version " + trimmed(columns(line, 1, 9)) + " is not read (2.10, 2.11 and 3.00 to 3.05 are)");
    if (columns(line, 21, 1) != "O")
        fail(21, "not an observation file");
    if (mVersion2) {
        const std::string system = columns(line, 41, 1);
        mFileSystem = system.empty() || system == " " || system == "M" ? 'G' : system[0];
        if (!systemFromLetter(mFileSystem))
            fail(41, "unknown system '" + system + "'");
    }
    while (readLine(line)) {
        const std::string label = trimmed(columns(line, 61, 20));
        if (label == "END OF HEADER") {
            if (mPendingTypes > 0)
                fail(1, "observation types announced but not listed");
            if (mVersion2 && mHeader.version2Types.empty())
                fail(1, "no # / TYPES OF OBSERV in the header");
            if (mVersion2) {
                const bool p2 = std::count(mHeader.version2Types.begin(), mHeader.version2Types.end(), "P2") > 0;
                for (const System system : {System::Gps, System::Glonass, System::Galileo, System::Sbas})
                    for (const std::string& type : mHeader.version2Types)
                        mHeader.types[system].push_back(version3Type(type, system, p2));
            }
            if (mHeader.types.empty())
                fail(1, "no SYS / # / OBS TYPES in the header");
            return;
        }
        headerLine(columns(line, 1, 60), label, line);
    }
    fail(1, "the header has no END OF HEADER");
}

void RinexObservationReader::headerLine(const std::string& content, const std::string& label, const std::string& line)
{
    if (label == "MARKER NAME") {
        mHeader.markerName = trimmed(content);
    } else if (label == "APPROX POSITION XYZ") {
        mHeader.approximatePosition =
            Ecef{number(line, 1, 14, "X"), number(line, 15, 14, "Y"), number(line, 29, 14, "Z")};
    } else if (label == "ANTENNA: DELTA H/E/N") {
        mHeader.antennaHeightM = number(line, 1, 14, "the antenna height");
    } else if (label == "ANT # / TYPE") {
        mHeader.antennaSerial = trimmed(columns(line, 1, 20));
        mHeader.antennaType = trimmed(columns(line, 21, 20));
    } else if (label == "REC # / TYPE / VERS") {
        mHeader.receiverSerial = trimmed(columns(line, 1, 20));
        mHeader.receiverType = trimmed(columns(line, 21, 20));
        mHeader.receiverVersion = trimmed(columns(line, 41, 20));
    } else if (label == "INTERVAL") {
        mHeader.intervalS = number(line, 1, 10, "the interval");
    } else if (label == "TIME OF FIRST OBS") {
        const std::string scale = trimmed(columns(line, 49, 3));
        if (!scale.empty() && scale != "GPS" && scale != "GAL")
            fail(49, "time system " + scale + " is not read (GPS time is)");
    } else if (label == "# / TYPES OF OBSERV" && mVersion2) {
        version2Types(line);
    } else if (label == "SYS / # / OBS TYPES" && !mVersion2) {
        if (mPendingTypes == 0) {
            mPendingTypesSystem = line.empty() ? ' ' : line[0];
            if (!systemFromLetter(mPendingTypesSystem))
                fail(1, std::string("unknown system '") + mPendingTypesSystem + "'");
            mPendingTypes = mLines.integer(line, 4, 3, "the number of observation types", 0, 999);
        } else if (line[0] != ' ') {
            fail(1, "observation types of the previous system are missing");
        }
        std::vector<std::string>& types = mHeader.types[*systemFromLetter(mPendingTypesSystem)];
        for (int k = 0; k < 13 && mPendingTypes > 0; ++k, --mPendingTypes) {
            const std::string code = trimmed(columns(line, 8 + 4 * k, 3));
            if (code.size() != 3 || std::string("CLDS").find(code[0]) == std::string::npos)
                fail(8 + 4 * k, "not an observation type: '" + code + "'");
            types.push_back(code);
        }
    } else if (label == "GLONASS SLOT / FRQ #") {
        for (int k = 0; k < 8; ++k) {
            const std::string slot = trimmed(columns(line, 5 + 7 * k, 3));
            if (slot.empty())
                continue;
            if (slot[0] != 'R')
                fail(5 + 7 * k, "not a GLONASS slot: '" + slot + "'");
            const int number = std::atoi(slot.c_str() + 1);
            mHeader.glonassChannels[number] = mLines.integer(line, 9 + 7 * k, 2, "a frequency channel", -9, 99);
        }
    }
}

void RinexObservationReader::version2Types(const std::string& line)
{
    if (mPendingTypes == 0) {
        if (!mHeader.version2Types.empty())
            fail(1, "observation types listed twice");
        mPendingTypes = mLines.integer(line, 1, 6, "the number of observation types", 1, 99);
    } else if (!trimmed(columns(line, 1, 6)).empty()) {
        fail(1, "observation types of the previous line are missing");
    }
    for (int k = 0; k < 9 && mPendingTypes > 0; ++k, --mPendingTypes) {
        const std::string type = trimmed(columns(line, 11 + 6 * k, 2));
        if (type.size() != 2 || std::string("CPLDS").find(type[0]) == std::string::npos || !std::isdigit(uint8_t(type[1])))
            fail(11 + 6 * k, "not an observation type: '" + type + "'");
        mHeader.version2Types.push_back(type);
    }
}

SatId RinexObservationReader::satellite(const std::string& line, int column) const
{
    const std::string text = columns(line, column, 3);
    const char letter = text.empty() || text[0] == ' ' ? mFileSystem : text[0];
    const std::optional<System> system = systemFromLetter(letter);
    if (!system || mHeader.types.find(*system) == mHeader.types.end())
        fail(column, "not a satellite of this file: '" + text + "'");
    return SatId{*system, uint8_t(mLines.integer(line, column + 1, 2, "the satellite number", 1, 99))};
}

bool RinexObservationReader::nextVersion2(ObservationEpoch& epoch)
{
    std::string line;
    while (readLine(line)) {
        if (trimmed(line).empty())
            continue;
        const int flag = trimmed(columns(line, 29, 1)).empty() ? 0 : mLines.integer(line, 29, 1, "the epoch flag", 0, 6);
        const int count = mLines.integer(line, 30, 3, "the number of satellites", 0, 999);
        if (flag >= 2 && flag <= 5) {
            // Events: their lines are header lines or nothing, never observations.
            for (int i = 0; i < count; ++i)
                if (!readLine(line))
                    fail(1, "the file ends inside an event record");
            continue;
        }
        DateTime t;
        const int yy = mLines.integer(line, 2, 2, "the year", 0, 99);
        t.year = yy < 80 ? 2000 + yy : 1900 + yy;
        t.month = mLines.integer(line, 5, 2, "the month", 1, 12);
        t.day = mLines.integer(line, 8, 2, "the day", 1, 31);
        t.hour = mLines.integer(line, 11, 2, "the hour", 0, 23);
        t.minute = mLines.integer(line, 14, 2, "the minute", 0, 59);
        t.second = number(line, 16, 11, "the second");
        if (t.second < 0 || t.second >= 61)
            fail(16, "not a second of a minute");
        // Twelve satellites on the epoch line, twelve more on each continuation line.
        std::vector<SatId> sats;
        for (int i = 0; i < count; ++i) {
            if (i > 0 && i % 12 == 0 && !readLine(line))
                fail(1, "the file ends inside an epoch's satellite list");
            sats.push_back(satellite(line, 33 + 3 * (i % 12)));
        }
        const std::size_t types = mHeader.version2Types.size();
        const GpsTime time = GpsTime::fromCalendar(t);
        epoch.time = time;
        epoch.satellites.clear();
        epoch.clockSteering = -1;
        for (const SatId& sat : sats) {
            SatelliteObservations s;
            s.sat = sat;
            const std::vector<std::string>& codes = mHeader.types[sat.system];
            for (std::size_t k = 0; k < types; ++k) {
                if (k % 5 == 0) {
                    if (!readLine(line))
                        fail(1, "the file ends inside an epoch");
                    if (line.size() > 80)
                        fail(81, "more than five values on a line");
                }
                if (!codes[k].empty())
                    addValue(codes[k], line, int(1 + 16 * (k % 5)), time, s);
            }
            std::sort(s.observations.begin(), s.observations.end(),
                      [](const Observation& a, const Observation& b) { return a.code < b.code; });
            if (!s.observations.empty() && flag != 6)
                epoch.satellites.push_back(std::move(s));
        }
        if (flag == 6)
            continue;  // cycle slips found afterwards: no epoch of its own
        std::sort(epoch.satellites.begin(), epoch.satellites.end(),
                  [](const SatelliteObservations& a, const SatelliteObservations& b) { return a.sat < b.sat; });
        mLastEpoch = epoch.time;
        return true;
    }
    return false;
}

bool RinexObservationReader::next(ObservationEpoch& epoch)
{
    if (mVersion2)
        return nextVersion2(epoch);
    std::string line;
    while (readLine(line)) {
        if (line.empty())
            continue;
        if (line[0] != '>')
            fail(1, "an epoch line must begin with '>'");
        const int flag = mLines.integer(line, 32, 1, "the epoch flag", 0, 9);
        const int count = mLines.integer(line, 33, 3, "the number of satellites", 0, 999);
        if (flag > 1) {
            // Events and cycle slip records: their lines carry no observations.
            for (int i = 0; i < count; ++i)
                if (!readLine(line))
                    fail(1, "the file ends inside an event record");
            continue;
        }
        DateTime t;
        t.year = mLines.integer(line, 3, 4, "the year", 1980, 2200);
        t.month = mLines.integer(line, 8, 2, "the month", 0, 99);
        t.day = mLines.integer(line, 11, 2, "the day", 0, 99);
        t.hour = mLines.integer(line, 14, 2, "the hour", 0, 99);
        t.minute = mLines.integer(line, 17, 2, "the minute", 0, 99);
        t.second = number(line, 19, 11, "the second");
        if (t.month < 1 || t.month > 12 || t.day < 1 || t.day > 31 || t.hour > 23 || t.minute > 59 || t.second < 0
            || t.second >= 61)
            fail(3, "not a date and time");
        epoch.time = GpsTime::fromCalendar(t);
        epoch.satellites.clear();
        epoch.clockSteering = -1;
        for (int i = 0; i < count; ++i) {
            if (!readLine(line))
                fail(1, "the file ends inside an epoch");
            SatelliteObservations s;
            readSatellite(line, epoch.time, s);
            if (!s.observations.empty())
                epoch.satellites.push_back(std::move(s));
        }
        std::sort(epoch.satellites.begin(), epoch.satellites.end(),
                  [](const SatelliteObservations& a, const SatelliteObservations& b) { return a.sat < b.sat; });
        mLastEpoch = epoch.time;
        return true;
    }
    return false;
}

void RinexObservationReader::readSatellite(const std::string& line, const GpsTime& time, SatelliteObservations& out)
{
    const std::optional<System> system = line.empty() ? std::nullopt : systemFromLetter(line[0]);
    if (!system)
        fail(1, "not a satellite: '" + columns(line, 1, 3) + "'");
    const auto types = mHeader.types.find(*system);
    if (types == mHeader.types.end())
        fail(1, std::string("system ") + line[0] + " has no observation types in the header");
    const int number = mLines.integer(line, 2, 2, "the satellite number", 1, 99);
    out.sat = SatId{*system, uint8_t(number)};
    if (*system == System::Glonass) {
        const auto ch = mHeader.glonassChannels.find(number);
        if (ch != mHeader.glonassChannels.end())
            out.glonassChannel = ch->second;
    }
    if (line.size() > 3 + 16 * types->second.size())
        fail(int(4 + 16 * types->second.size()), "more values than observation types");
    for (std::size_t k = 0; k < types->second.size(); ++k)
        addValue(types->second[k], line, int(4 + 16 * k), time, out);
    std::sort(out.observations.begin(), out.observations.end(),
              [](const Observation& a, const Observation& b) { return a.code < b.code; });
}

void RinexObservationReader::addValue(const std::string& type, const std::string& line, int column,
                                      const GpsTime& time, SatelliteObservations& out)
{
    const std::optional<double> value = optionalNumber(line, column, 14, "an observation");
    if (!value)
        return;
    const SignalCode code{type[1], type[2]};
    auto it = std::find_if(out.observations.begin(), out.observations.end(),
                           [&](const Observation& o) { return o.code == code; });
    if (it == out.observations.end()) {
        out.observations.push_back(Observation{code, {}, {}, {}, {}, {}, false});
        it = out.observations.end() - 1;
    }
    switch (type[0]) {
    case 'C': it->pseudorangeM = value; break;
    case 'D': it->dopplerHz = value; break;
    case 'S': it->cn0DbHz = value; break;
    case 'L': {
        it->phaseCycles = value;
        const std::string lli = columns(line, column + 14, 1);
        const int flags = lli.empty() || lli == " " ? 0 : lli[0] - '0';
        if (flags < 0 || flags > 7)
            fail(column + 14, "not a loss of lock indicator: '" + lli + "'");
        const auto key = std::make_pair(out.sat, type.substr(1));
        // Tracked since the last loss of lock, if it was there the epoch before.
        auto tracked = mTrackedSince.find(key);
        if (tracked == mTrackedSince.end() || (flags & 1) || !mLastEpoch || tracked->second.second != *mLastEpoch)
            tracked = mTrackedSince.insert_or_assign(key, std::make_pair(time, time)).first;
        tracked->second.second = time;
        it->lockTimeS = time - tracked->second.first;
        it->halfCycleAmbiguity = (flags & 2) != 0;
        break;
    }
    }
}

} // namespace Kvt::Gnss
