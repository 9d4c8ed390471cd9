#include "RinexObsWriter.h"

#include "RinexFormat.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <set>

namespace Kvt::Gnss {

namespace {

constexpr char kKindLetters[] = {'C', 'L', 'D', 'S'};

uint32_t lockKey(const SatId& sat, SignalCode code)
{
    return uint32_t(sat.system) << 24 | uint32_t(sat.number) << 16 | uint32_t(uint8_t(code.band)) << 8
           | uint8_t(code.attribute);
}

// Signal strength 1 (weakest) to 9 from C/N0 in steps of 6 dB-Hz.
char strengthIndicator(const std::optional<double>& cn0)
{
    if (!cn0 || !std::isfinite(*cn0))
        return ' ';
    const int ssi = std::clamp(int(*cn0 / 6.0), 1, 9);
    return char('0' + ssi);
}

std::string obsTypeLines(char system, const std::vector<std::string>& types)
{
    std::string out;
    for (size_t i = 0; i < types.size(); i += 13) {
        std::string content;
        if (i == 0) {
            content += system;
            Rinex::putBlank(content, 2);
            Rinex::putI(content, (long long)types.size(), 3);
        } else {
            Rinex::putBlank(content, 6);
        }
        for (size_t k = i; k < types.size() && k < i + 13; ++k)
            content += ' ' + types[k];
        out += Rinex::headerLine(content, "SYS / # / OBS TYPES") + '\n';
    }
    return out;
}

std::string glonassSlotLines(const std::map<int, int>& channels)
{
    std::string out;
    std::vector<std::pair<int, int>> list(channels.begin(), channels.end());
    size_t i = 0;
    do {
        std::string content;
        if (i == 0)
            Rinex::putI(content, (long long)list.size(), 3);
        else
            Rinex::putBlank(content, 3);
        content += ' ';
        for (size_t k = i; k < list.size() && k < i + 8; ++k) {
            char entry[32];
            std::snprintf(entry, sizeof entry, "R%02d %2d ", list[k].first, list[k].second);
            content += entry;
        }
        out += Rinex::headerLine(content, "GLONASS SLOT / FRQ #") + '\n';
        i += 8;
    } while (i < list.size());
    return out;
}

std::string glonassBiasLine(const GlonassBiases& b)
{
    std::string content;
    const std::pair<const char*, const std::optional<double>*> codes[] = {
        {"C1C", &b.l1ca}, {"C1P", &b.l1p}, {"C2C", &b.l2ca}, {"C2P", &b.l2p}};
    for (const auto& [code, value] : codes) {
        content += ' ';
        content += code;
        content += ' ';
        Rinex::putF(content, value->value_or(0.0), 8, 3);  // zero where not told, as readers expect
    }
    return Rinex::headerLine(content, "GLONASS COD/PHS/BIS") + '\n';
}

} // namespace

int RinexObsWriter::Columns::column(SignalCode code, Kind kind) const
{
    const int band = code.band - '0';
    const int attribute = code.attribute - 'A';
    if (band < 0 || band > 9 || attribute < 0 || attribute >= 26)
        return -1;
    return index[size_t((band * 26 + attribute) * KindCount + kind)];
}

RinexObsWriter::RinexObsWriter(std::ostream& out) : mOut(out) {}

void RinexObsSurvey::add(const ObservationEpoch& epoch)
{
    for (const SatelliteObservations& s : epoch.satellites) {
        auto& seen = mSeen[size_t(s.sat.system)];
        for (const Observation& o : s.observations) {
            if (o.pseudorangeM) seen.insert({o.code, Code});
            if (o.phaseCycles) seen.insert({o.code, Phase});
            if (o.dopplerHz) seen.insert({o.code, Doppler});
            if (o.cn0DbHz) seen.insert({o.code, Strength});
        }
        if (s.sat.system == System::Glonass && s.glonassChannel)
            mChannels[s.sat.number] = *s.glonassChannel;
    }
    mWindowMs.insert(std::llround(epoch.time.secondsSinceEpoch() * 1000.0));
    countSteps(mWindowMs, mPreviousMs, mSteps, kStepWindow);
    if (!mFirst || epoch.time < *mFirst)
        mFirst = epoch.time;
    if (!mLast || *mLast < epoch.time)
        mLast = epoch.time;
    if (!mStationId)
        mStationId = epoch.stationId;
    ++mEpochs;
}

void RinexObsSurvey::addTypesOf(const RinexObsSurvey& other)
{
    for (size_t sys = 0; sys < mSeen.size(); ++sys)
        mSeen[sys].insert(other.mSeen[sys].begin(), other.mSeen[sys].end());
    for (const auto& [slot, channel] : other.mChannels)
        mChannels.try_emplace(slot, channel);
}

void RinexObsSurvey::countSteps(std::set<long long>& window, std::optional<long long>& previous,
                                std::map<long long, uint64_t>& steps, size_t keep) const
{
    while (window.size() > keep) {
        const long long t = *window.begin();
        window.erase(window.begin());
        if (previous && t > *previous)
            ++steps[t - *previous];
        previous = t;
    }
}

std::optional<double> RinexObsSurvey::intervalS() const
{
    std::set<long long> window = mWindowMs;
    std::optional<long long> previous = mPreviousMs;
    std::map<long long, uint64_t> steps = mSteps;
    countSteps(window, previous, steps, 0);
    if (steps.empty())
        return std::nullopt;
    const auto best = std::max_element(steps.begin(), steps.end(),
                                       [](const auto& a, const auto& b) { return a.second < b.second; });
    return double(best->first) / 1000.0;
}

double RinexObsSurvey::spanS() const
{
    if (!mFirst || !mLast)
        return 0.0;
    return (*mLast - *mFirst) + intervalS().value_or(0.0);
}

void RinexObsWriter::begin(const RinexObsHeader& header, const std::vector<ObservationEpoch>& firstEpochs)
{
    if (mBegan)
        return;
    RinexObsSurvey survey;
    for (const ObservationEpoch& e : firstEpochs)
        survey.add(e);
    begin(header, survey);
    for (const ObservationEpoch& e : firstEpochs)
        write(e);
}

void RinexObsWriter::begin(const RinexObsHeader& header, const RinexObsSurvey& survey)
{
    if (mBegan)
        return;
    for (int sys = 0; sys < kSystemCount; ++sys) {
        Columns& c = mColumns[size_t(sys)];
        for (const auto& [code, kind] : survey.seen(System(sys))) {
            const int band = code.band - '0';
            const int attribute = code.attribute - 'A';
            if (band < 0 || band > 9 || attribute < 0 || attribute >= 26)
                continue;  // not a RINEX signal: no column could name it
            c.index[size_t((band * 26 + attribute) * KindCount + kind)] = int16_t(c.types.size());
            c.types.push_back(std::string{kKindLetters[kind], code.band, code.attribute});
        }
        if (!c.types.empty())
            mTypes[systemLetter(System(sys))] = c.types;
    }
    mInterval = header.intervalS ? header.intervalS : survey.intervalS();
    writeHeader(header, survey);
    mBegan = true;
}

void RinexObsWriter::writeHeader(const RinexObsHeader& header, const RinexObsSurvey& survey)
{
    using Rinex::headerLine;
    std::string out;
    const auto add = [&out](const std::string& content, const char* label) {
        out += headerLine(content, label) + '\n';
    };
    out += Rinex::openingLines(header.version304 ? "     3.04           OBSERVATION DATA    M: Mixed"
                                                 : "     3.05           OBSERVATION DATA    M: Mixed",
                               header.program, header.runBy,
                               header.creationDate);
    for (const std::string& comment : header.comments)
        add(comment, "COMMENT");
    std::string marker = header.markerName;
    if (marker.empty() && survey.stationId()) {
        char id[16];
        std::snprintf(id, sizeof id, "%04u", unsigned(*survey.stationId()));
        marker = id;
    }
    add(marker, "MARKER NAME");
    if (!header.markerNumber.empty())
        add(header.markerNumber, "MARKER NUMBER");
    if (!header.markerType.empty())
        add(header.markerType, "MARKER TYPE");
    {
        std::string c;
        Rinex::putA(c, header.observer, 20);
        Rinex::putA(c, header.agency, 40);
        add(c, "OBSERVER / AGENCY");
    }
    const StationDescription d = header.description.value_or(StationDescription{});
    {
        std::string c;
        Rinex::putA(c, d.receiverSerialNumber, 20);
        Rinex::putA(c, d.receiverDescriptor, 20);
        Rinex::putA(c, d.receiverFirmwareVersion, 20);
        add(c, "REC # / TYPE / VERS");
        c.clear();
        Rinex::putA(c, d.antennaSerialNumber, 20);
        Rinex::putA(c, d.antennaDescriptor, 20);
        add(c, "ANT # / TYPE");
    }
    {
        // Readers expect the line: zeros where the stream told no position.
        const Ecef xyz = header.position ? header.position->ecef : Ecef{};
        std::string c;
        for (const double v : {xyz.x, xyz.y, xyz.z})
            Rinex::putF(c, v, 14, 4);
        add(c, "APPROX POSITION XYZ");
        const double height = header.position ? header.position->antennaHeightM.value_or(0.0) : 0.0;
        const std::array<double, 3> hen = header.antennaDeltaHen.value_or(std::array<double, 3>{height, 0.0, 0.0});
        c.clear();
        for (const double v : hen)
            Rinex::putF(c, v, 14, 4);
        add(c, "ANTENNA: DELTA H/E/N");
    }
    for (const auto& [system, types] : mTypes)
        out += obsTypeLines(system, types);
    add("DBHZ", "SIGNAL STRENGTH UNIT");
    if (mInterval) {
        std::string c;
        Rinex::putF(c, *mInterval, 10, 3);
        add(c, "INTERVAL");
    }
    if (survey.first()) {
        const Rinex::EpochFields f = Rinex::splitEpoch(*survey.first());
        char c[64];
        std::snprintf(c, sizeof c, "%6d%6d%6d%6d%6d%5lld.%07lld     GPS", f.year, f.month, f.day, f.hour,
                      f.minute, (long long)(f.secondE7 / 10000000), (long long)(f.secondE7 % 10000000));
        add(c, "TIME OF FIRST OBS");
    }
    // No phase shift corrections are applied: each phase type is named with a blank correction.
    for (const auto& [system, types] : mTypes)
        for (const std::string& type : types)
            if (type[0] == 'L')
                add(std::string{system, ' '} + type, "SYS / PHASE SHIFT");
    std::map<int, int> channels;
    for (const auto* source : {&header.glonassChannels, &survey.glonassChannels()})
        for (const auto& [slot, channel] : *source)
            if (slot >= 1 && slot <= 99 && channel >= -7 && channel <= 13)  // what the columns hold
                channels[slot] = channel;
    if (!channels.empty() || mTypes.count('R'))
        out += glonassSlotLines(channels);
    if (header.glonassBiases || mTypes.count('R'))
        out += glonassBiasLine(header.glonassBiases.value_or(GlonassBiases{}));
    if (header.leapSeconds) {
        std::string c;
        Rinex::putI(c, *header.leapSeconds, 6);
        add(c, "LEAP SECONDS");
    }
    add("", "END OF HEADER");
    mOut.write(out.data(), std::streamsize(out.size()));
}

void RinexObsWriter::write(const ObservationEpoch& epoch)
{
    if (!mBegan) {
        begin(RinexObsHeader{}, {epoch});
        return;
    }
    if (mLast && !(*mLast < epoch.time)) {
        ++mEpochsLate;
        return;
    }
    // Satellites in system and number order, whatever order the producer kept.
    std::vector<const SatelliteObservations*> sats;
    sats.reserve(epoch.satellites.size());
    for (const SatelliteObservations& s : epoch.satellites)
        sats.push_back(&s);
    if (!std::is_sorted(sats.begin(), sats.end(), [](auto a, auto b) { return a->sat < b->sat; }))
        std::stable_sort(sats.begin(), sats.end(), [](auto a, auto b) { return a->sat < b->sat; });

    mBuffer.assign(36, ' ');  // the epoch line, filled in once the satellites are counted
    int count = 0;
    for (const SatelliteObservations* s : sats) {
        const size_t before = mBuffer.size();
        appendSatellite(*s, epoch.time);
        if (mBuffer.size() > before)
            ++count;
    }
    if (count == 0) {
        ++mEpochsDropped;
        return;
    }
    const Rinex::EpochFields f = Rinex::splitEpoch(epoch.time);
    char line[96];
    std::snprintf(line, sizeof line, "> %04d %02d %02d %02d %02d%3lld.%07lld  0%3d", f.year, f.month, f.day,
                  f.hour, f.minute, (long long)(f.secondE7 / 10000000), (long long)(f.secondE7 % 10000000),
                  std::min(count, 999));
    mBuffer.replace(0, 35, line, 35);
    mBuffer[35] = '\n';
    mOut.write(mBuffer.data(), std::streamsize(mBuffer.size()));
    ++mEpochsWritten;
    mLast = epoch.time;
    if (!mFirst)
        mFirst = epoch.time;
}

bool RinexObsWriter::hasColumns(const ObservationEpoch& epoch) const
{
    for (const SatelliteObservations& s : epoch.satellites) {
        if (s.sat.number < 1 || s.sat.number > 99 || int(s.sat.system) >= kSystemCount)
            continue;
        const Columns& columns = mColumns[size_t(s.sat.system)];
        for (const Observation& o : s.observations) {
            if (o.code.band < '0' || o.code.band > '9' || o.code.attribute < 'A' || o.code.attribute > 'Z')
                continue;  // no RINEX name: no file could hold it
            const std::pair<const std::optional<double>*, Kind> values[] = {
                {&o.pseudorangeM, RinexObsSurvey::Code}, {&o.phaseCycles, RinexObsSurvey::Phase},
                {&o.dopplerHz, RinexObsSurvey::Doppler}, {&o.cn0DbHz, RinexObsSurvey::Strength}};
            for (const auto& [value, kind] : values)
                if (*value && columns.column(o.code, kind) < 0)
                    return false;
        }
    }
    return true;
}

void RinexObsWriter::appendSatellite(const SatelliteObservations& sat, const GpsTime& time)
{
    if (sat.sat.number < 1 || sat.sat.number > 99 || int(sat.sat.system) >= kSystemCount)
        return;  // no RINEX name
    const Columns& columns = mColumns[size_t(sat.sat.system)];
    mCells.assign(columns.types.size(), Cell{0.0, ' ', ' ', false});
    bool any = false;
    const auto put = [&](const std::optional<double>& value, Kind kind, SignalCode code, char lli, char ssi) {
        if (!value)
            return;
        const int col = columns.column(code, kind);
        if (col < 0) {
            drop(sat.sat, kKindLetters[kind], code);
            return;
        }
        mCells[size_t(col)] = Cell{*value, lli, ssi, true};
        any = true;
    };
    for (const Observation& o : sat.observations) {
        const char ssi = strengthIndicator(o.cn0DbHz);
        const char lli = lossOfLock(sat.sat, o, time);
        put(o.pseudorangeM, RinexObsSurvey::Code, o.code, ' ', ssi);
        put(o.phaseCycles, RinexObsSurvey::Phase, o.code, lli, ssi);
        put(o.dopplerHz, RinexObsSurvey::Doppler, o.code, ' ', ssi);
        put(o.cn0DbHz, RinexObsSurvey::Strength, o.code, ' ', ' ');
    }
    if (!any)
        return;
    const size_t start = mBuffer.size();
    mBuffer.resize(start + 3 + 16 * mCells.size(), ' ');
    char* p = mBuffer.data() + start;
    p[0] = systemLetter(sat.sat.system);
    p[1] = char('0' + sat.sat.number / 10 % 10);
    p[2] = char('0' + sat.sat.number % 10);
    p += 3;
    for (const Cell& c : mCells) {
        if (c.present) {
            if (Rinex::formatF14_3(c.value, p)) {
                p[14] = c.lli;
                p[15] = c.ssi;
            } else {
                ++mValuesBlanked;
            }
        }
        p += 16;
    }
    size_t end = mBuffer.size();
    while (end > start + 3 && mBuffer[end - 1] == ' ')
        --end;
    mBuffer.resize(end);
    mBuffer += '\n';
}

char RinexObsWriter::lossOfLock(const SatId& sat, const Observation& obs, const GpsTime& time)
{
    // An arc starts at the first sight of a signal, or where lock was lost since the previous
    // epoch: the lock time went down, or it was known and is no longer. A lock time that
    // merely stays the same (a coarse indicator) is no slip.
    const auto [it, first] = mLocks.try_emplace(lockKey(sat, obs.code));
    int bits = first ? 1 : 0;
    if (!first) {
        const std::optional<double>& before = it->second.lockTimeS;
        if (before && (!obs.lockTimeS || *obs.lockTimeS < *before))
            bits |= 1;
    }
    if (obs.halfCycleAmbiguity)
        bits |= 2;
    it->second = Lock{time, obs.lockTimeS};
    return bits ? char('0' + bits) : ' ';
}

void RinexObsWriter::drop(const SatId& sat, char kind, SignalCode code)
{
    ++mObservationsDropped;
    ++mDroppedTypes[std::string{systemLetter(sat.system), ' ', kind, code.band, code.attribute}];
}

} // namespace Kvt::Gnss
