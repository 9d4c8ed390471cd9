#include "RinexReader.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace Kvt::Gnss {

namespace {

std::string trimmed(const std::string& s)
{
    const auto b = s.find_first_not_of(' ');
    if (b == std::string::npos)
        return {};
    return s.substr(b, s.find_last_not_of(' ') - b + 1);
}

// Columns [first, first + width) of a line (1-based first), blank past its end.
std::string columns(const std::string& line, int first, int width)
{
    const std::size_t from = std::size_t(first - 1);
    if (from >= line.size())
        return {};
    return line.substr(from, std::size_t(width));
}

} // namespace

RinexError::RinexError(const std::string& file, int line, int column, const std::string& reason)
    : std::runtime_error(file + ":" + std::to_string(line) + ":" + std::to_string(column) + ": " + reason),
      mFile(file), mLine(line), mColumn(column), mReason(reason)
{
}

RinexObservationReader::RinexObservationReader(std::istream& in, std::string fileName)
    : mIn(in), mFile(std::move(fileName))
{
    readHeader();
}

bool RinexObservationReader::readLine(std::string& line)
{
    if (!std::getline(mIn, line))
        return false;
    ++mLine;
    if (!line.empty() && line.back() == '\r')
        line.pop_back();
    return true;
}

void RinexObservationReader::fail(int column, const std::string& reason) const
{
    throw RinexError(mFile, mLine, column, reason);
}

std::optional<double> RinexObservationReader::optionalNumber(const std::string& line, int first, int width,
                                                             const char* what) const
{
    const std::string field = trimmed(columns(line, first, width));
    if (field.empty())
        return std::nullopt;
    std::string text = field;
    std::replace(text.begin(), text.end(), 'D', 'E');  // Fortran exponents
    char* end = nullptr;
    const double v = std::strtod(text.c_str(), &end);
    if (end != text.c_str() + text.size() || !std::isfinite(v))
        fail(first, std::string("not a number for ") + what + ": '" + field + "'");
    return v;
}

double RinexObservationReader::number(const std::string& line, int first, int width, const char* what) const
{
    const std::optional<double> v = optionalNumber(line, first, width, what);
    if (!v)
        fail(first, std::string("missing ") + what);
    return *v;
}

void RinexObservationReader::readHeader()
{
    std::string line;
    if (!readLine(line))
        fail(1, "empty file");
    if (trimmed(columns(line, 61, 20)) != "RINEX VERSION / TYPE")
        fail(61, "the first line must be RINEX VERSION / TYPE");
    mHeader.version = number(line, 1, 9, "the format version");
    if (mHeader.version < 3.0 || mHeader.version >= 3.06)
        fail(1, "format version " + trimmed(columns(line, 1, 9)) + " is not read (3.00 to 3.05 are)");
    if (columns(line, 21, 1) != "O")
        fail(21, "not an observation file");
    while (readLine(line)) {
        const std::string label = trimmed(columns(line, 61, 20));
        if (label == "END OF HEADER") {
            if (mPendingTypes > 0)
                fail(1, "observation types announced but not listed");
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
    } else if (label == "SYS / # / OBS TYPES") {
        if (mPendingTypes == 0) {
            mPendingTypesSystem = line.empty() ? ' ' : line[0];
            if (!systemFromLetter(mPendingTypesSystem))
                fail(1, std::string("unknown system '") + mPendingTypesSystem + "'");
            mPendingTypes = int(number(line, 4, 3, "the number of observation types"));
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
            mHeader.glonassChannels[number] = int(this->number(line, 9 + 7 * k, 2, "a frequency channel"));
        }
    }
}

bool RinexObservationReader::next(ObservationEpoch& epoch)
{
    std::string line;
    while (readLine(line)) {
        if (line.empty())
            continue;
        if (line[0] != '>')
            fail(1, "an epoch line must begin with '>'");
        const int flag = int(number(line, 32, 1, "the epoch flag"));
        const int count = int(number(line, 33, 3, "the number of satellites"));
        if (flag > 1) {
            // Events and cycle slip records: their lines carry no observations.
            for (int i = 0; i < count; ++i)
                if (!readLine(line))
                    fail(1, "the file ends inside an event record");
            continue;
        }
        DateTime t;
        t.year = int(number(line, 3, 4, "the year"));
        t.month = int(number(line, 8, 2, "the month"));
        t.day = int(number(line, 11, 2, "the day"));
        t.hour = int(number(line, 14, 2, "the hour"));
        t.minute = int(number(line, 17, 2, "the minute"));
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
    const int number = int(this->number(line, 2, 2, "the satellite number"));
    out.sat = SatId{*system, uint8_t(number)};
    if (*system == System::Glonass) {
        const auto ch = mHeader.glonassChannels.find(number);
        if (ch != mHeader.glonassChannels.end())
            out.glonassChannel = ch->second;
    }
    if (line.size() > 3 + 16 * types->second.size())
        fail(int(4 + 16 * types->second.size()), "more values than observation types");
    for (std::size_t k = 0; k < types->second.size(); ++k) {
        const int column = int(4 + 16 * k);
        const std::optional<double> value = optionalNumber(line, column, 14, "an observation");
        if (!value)
            continue;
        const std::string& type = types->second[k];
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
    std::sort(out.observations.begin(), out.observations.end(),
              [](const Observation& a, const Observation& b) { return a.code < b.code; });
}

} // namespace Kvt::Gnss
