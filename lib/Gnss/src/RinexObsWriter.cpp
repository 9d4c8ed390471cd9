#include "RinexObsWriter.h"

#include "RinexFormat.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
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

size_t RinexObsWriter::Columns::slot(SignalCode code, Kind kind)
{
    const int band = code.band - '0';
    const int attribute = code.attribute - 'A';
    if (band < 0 || band > 9 || attribute < 0 || attribute >= 26)
        return SIZE_MAX;
    return size_t((band * 26 + attribute) * KindCount + kind);
}

int RinexObsWriter::Columns::column(SignalCode code, Kind kind) const
{
    const size_t s = slot(code, kind);
    return s == SIZE_MAX ? -1 : index[s];
}

namespace {

constexpr char kBands2[] = "125678";     // the bands RINEX 2.11 names
constexpr char kSystems2[] = "GRES";

bool isSystem2(System system) { return std::strchr(kSystems2, systemLetter(system)) != nullptr; }

} // namespace

const char* RinexSignalPriority::defaultText()
{
    // L1 phase from the civil code, L2 phase from the encrypted one (tracked semi-codeless), as
    // RINEX 2 files have always held them; the codes fill C1, P1, C2 and P2 each on their own.
    return "G:1&CSLXPWYMN,G:2&PWYDCSLXMN,G:5&IQX,R:1&CP,R:2&PC,E:1&BCXZ,E:5&IQX,E:7&IQX,E:8&IQX,E:6&BCXZ,"
           "S:1&C,S:5&IQX";
}

RinexSignalPriority RinexSignalPriority::defaults()
{
    static const RinexSignalPriority d = *parse(defaultText(), nullptr);
    return d;
}

std::optional<RinexSignalPriority> RinexSignalPriority::parse(std::string_view text, std::string* error)
{
    const auto fail = [&](const std::string& why) {
        if (error)
            *error = why;
        return std::nullopt;
    };
    RinexSignalPriority p;
    size_t i = 0;
    while (i < text.size()) {
        if (text[i] == ',' || text[i] == ' ') {
            ++i;
            continue;
        }
        const size_t end = std::min(text.find_first_of(", ", i), text.size());
        const std::string_view entry = text.substr(i, end - i);
        i = end;
        const size_t amp = entry.find('&');
        if (entry.size() < 5 || entry[1] != ':' || amp == std::string_view::npos || amp == 2 || amp + 1 == entry.size())
            return fail("an entry is a system letter, band digits and attribute letters, e.g. G:12&CPWY");
        const std::optional<System> system = systemFromLetter(entry[0]);
        if (!system || !isSystem2(*system))
            return fail(std::string("RINEX 2.11 holds the systems G R E S, not ") + entry[0]);
        const std::string_view attributes = entry.substr(amp + 1);
        for (const char a : attributes)
            if (a < 'A' || a > 'Z')
                return fail(std::string("an attribute is a capital letter, not ") + a);
        for (const char band : entry.substr(2, amp - 2)) {
            if (!std::strchr(kBands2, band) || band == '\0')
                return fail(std::string("RINEX 2.11 names the bands 1 2 5 6 7 8, not ") + band);
            p.mAttributes[size_t(*system)][size_t(band - '0')] = std::string(attributes);
        }
    }
    return p;
}

const std::string& RinexSignalPriority::attributes(System system, char band) const
{
    static const std::string none;
    if (int(system) >= kSystemCount || band < '0' || band > '9')
        return none;
    return mAttributes[size_t(system)][size_t(band - '0')];
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
    mVersion = header.version;
    mPriority = header.priority;
    version2() ? buildColumns2(survey) : buildColumns(survey);
    mInterval = header.intervalS ? header.intervalS : survey.intervalS();
    version2() ? writeHeader2(header, survey) : writeHeader(header, survey);
    mBegan = true;
}

void RinexObsWriter::buildColumns(const RinexObsSurvey& survey)
{
    for (int sys = 0; sys < kSystemCount; ++sys) {
        Columns& c = mColumns[size_t(sys)];
        for (const auto& [code, kind] : survey.seen(System(sys))) {
            const size_t slot = Columns::slot(code, Kind(kind));
            if (slot == SIZE_MAX)
                continue;  // not a RINEX signal: no column could name it
            c.index[slot] = int16_t(c.types.size());
            c.types.push_back(std::string{kKindLetters[kind], code.band, code.attribute});
        }
        if (!c.types.empty())
            mTypes[systemLetter(System(sys))] = c.types;
    }
}

std::string RinexObsWriter::type2(System system, SignalCode code, Kind kind, uint8_t* rank) const
{
    if (!isSystem2(system) || !code.band || !std::strchr(kBands2, code.band))
        return {};
    const std::string& attributes = mPriority.attributes(system, code.band);
    const size_t at = attributes.find(code.attribute);
    if (at == std::string::npos)
        return {};
    if (rank)
        *rank = uint8_t(std::min<size_t>(at, 255));
    char letter = kKindLetters[kind];
    // The encrypted codes (GPS P, W, Y and semi-codeless D; GLONASS P) are P1 and P2, beside the
    // civil C1 and C2.
    const bool encrypted = (system == System::Gps && std::strchr("PWYD", code.attribute))
                           || (system == System::Glonass && code.attribute == 'P');
    if (kind == RinexObsSurvey::Code && (code.band == '1' || code.band == '2') && encrypted)
        letter = 'P';
    return std::string{letter, code.band};
}

void RinexObsWriter::buildColumns2(const RinexObsSurvey& survey)
{
    // The types the epochs fill, in the order C P L D S of each band.
    std::set<std::string> seen;
    for (int sys = 0; sys < kSystemCount; ++sys)
        for (const auto& [code, kind] : survey.seen(System(sys)))
            if (const std::string t = type2(System(sys), code, Kind(kind), nullptr); !t.empty())
                seen.insert(t);
    for (const char* band = kBands2; *band; ++band)
        for (const char letter : {'C', 'P', 'L', 'D', 'S'})
            if (seen.count(std::string{letter, *band}))
                mTypes2.push_back(std::string{letter, *band});
    // Every signal the list names gets the column of its type, seen or not, so that a signal
    // appearing later fills its column rather than needing one.
    for (int sys = 0; sys < kSystemCount; ++sys) {
        Columns& c = mColumns[size_t(sys)];
        for (const char* band = kBands2; *band; ++band)
            for (const char attribute : mPriority.attributes(System(sys), *band))
                for (int kind = 0; kind < KindCount; ++kind) {
                    const SignalCode code{*band, attribute};
                    uint8_t rank = 0;
                    const auto it = std::find(mTypes2.begin(), mTypes2.end(), type2(System(sys), code, Kind(kind), &rank));
                    if (it == mTypes2.end())
                        continue;
                    c.index[Columns::slot(code, Kind(kind))] = int16_t(it - mTypes2.begin());
                    c.rank[Columns::slot(code, Kind(kind))] = rank;
                }
        if (!isSystem2(System(sys)))
            continue;
        c.types = mTypes2;  // a system that shows up later fills the same columns
        if (!survey.seen(System(sys)).empty())
            mTypes[systemLetter(System(sys))] = mTypes2;
    }
}

void RinexObsWriter::writeHeader(const RinexObsHeader& header, const RinexObsSurvey& survey)
{
    using Rinex::headerLine;
    std::string out;
    const auto add = [&out](const std::string& content, const char* label) {
        out += headerLine(content, label) + '\n';
    };
    out += Rinex::openingLines(mVersion == RinexVersion::V3_04 ? "     3.04           OBSERVATION DATA    M: Mixed"
                                                               : "     3.05           OBSERVATION DATA    M: Mixed",
                               header.program, header.runBy,
                               header.creationDate);
    for (const std::string& comment : header.comments)
        add(comment, "COMMENT");
    out += markerLines(header, survey, true);
    out += stationLines(header);
    for (const auto& [system, types] : mTypes)
        out += obsTypeLines(system, types);
    add("DBHZ", "SIGNAL STRENGTH UNIT");
    out += timeLines(survey);
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

std::string RinexObsWriter::markerLines(const RinexObsHeader& header, const RinexObsSurvey& survey, bool markerType)
{
    std::string out;
    const auto add = [&out](const std::string& content, const char* label) {
        out += Rinex::headerLine(content, label) + '\n';
    };
    std::string marker = header.markerName;
    if (marker.empty() && survey.stationId()) {
        char id[16];
        std::snprintf(id, sizeof id, "%04u", unsigned(*survey.stationId()));
        marker = id;
    }
    add(marker, "MARKER NAME");
    if (!header.markerNumber.empty())
        add(header.markerNumber, "MARKER NUMBER");
    if (markerType && !header.markerType.empty())
        add(header.markerType, "MARKER TYPE");
    std::string c;
    Rinex::putA(c, header.observer, 20);
    Rinex::putA(c, header.agency, 40);
    add(c, "OBSERVER / AGENCY");
    return out;
}

std::string RinexObsWriter::stationLines(const RinexObsHeader& header)
{
    std::string out, c;
    const auto add = [&](const char* label) {
        out += Rinex::headerLine(c, label) + '\n';
        c.clear();
    };
    const StationDescription d = header.description.value_or(StationDescription{});
    Rinex::putA(c, d.receiverSerialNumber, 20);
    Rinex::putA(c, d.receiverDescriptor, 20);
    Rinex::putA(c, d.receiverFirmwareVersion, 20);
    add("REC # / TYPE / VERS");
    Rinex::putA(c, d.antennaSerialNumber, 20);
    Rinex::putA(c, d.antennaDescriptor, 20);
    add("ANT # / TYPE");
    // Readers expect the line: zeros where the stream told no position.
    const Ecef xyz = header.position ? header.position->ecef : Ecef{};
    for (const double v : {xyz.x, xyz.y, xyz.z})
        Rinex::putF(c, v, 14, 4);
    add("APPROX POSITION XYZ");
    const double height = header.position ? header.position->antennaHeightM.value_or(0.0) : 0.0;
    for (const double v : header.antennaDeltaHen.value_or(std::array<double, 3>{height, 0.0, 0.0}))
        Rinex::putF(c, v, 14, 4);
    add("ANTENNA: DELTA H/E/N");
    return out;
}

std::string RinexObsWriter::timeLines(const RinexObsSurvey& survey) const
{
    std::string out;
    if (mInterval) {
        std::string c;
        Rinex::putF(c, *mInterval, 10, 3);
        out += Rinex::headerLine(c, "INTERVAL") + '\n';
    }
    if (survey.first()) {
        const Rinex::EpochFields f = Rinex::splitEpoch(*survey.first());
        char c[64];
        std::snprintf(c, sizeof c, "%6d%6d%6d%6d%6d%5lld.%07lld     GPS", f.year, f.month, f.day, f.hour,
                      f.minute, (long long)(f.secondE7 / 10000000), (long long)(f.secondE7 % 10000000));
        out += Rinex::headerLine(c, "TIME OF FIRST OBS") + '\n';
    }
    return out;
}

void RinexObsWriter::writeHeader2(const RinexObsHeader& header, const RinexObsSurvey& survey)
{
    std::string out;
    const auto add = [&out](const std::string& content, const char* label) {
        out += Rinex::headerLine(content, label) + '\n';
    };
    const char system = mTypes.size() == 1 ? mTypes.begin()->first : 'M';
    const char* const names[] = {"G (GPS)", "R (GLONASS)", "E (GALILEO)", "S (GEO)"};
    const char* const systemName = system == 'M' ? "M (MIXED)" : names[std::strchr(kSystems2, system) - kSystems2];
    out += Rinex::openingLines(std::string("     2.11           OBSERVATION DATA    ") + systemName, header.program,
                               header.runBy, header.creationDate);
    for (const std::string& comment : header.comments)
        add(comment, "COMMENT");
    if (!header.markerType.empty())
        add("MARKER TYPE " + header.markerType, "COMMENT");  // no such line before RINEX 3
    out += markerLines(header, survey, false);
    out += stationLines(header);
    std::string c;
    add("     1     1", "WAVELENGTH FACT L1/2");
    for (size_t i = 0; i < mTypes2.size() || i == 0; i += 9) {
        c.clear();
        if (i == 0)
            Rinex::putI(c, (long long)mTypes2.size(), 6);
        else
            Rinex::putBlank(c, 6);
        for (size_t k = i; k < mTypes2.size() && k < i + 9; ++k)
            c += "    " + mTypes2[k];
        add(c, "# / TYPES OF OBSERV");
    }
    out += timeLines(survey);
    if (header.leapSeconds) {
        c.clear();
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

    if (version2())
        return writeEpoch2(epoch, sats);
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
                if (*value && columns.column(o.code, kind) < 0
                    && (!version2() || !type2(s.sat.system, o.code, kind, nullptr).empty()))
                    return false;  // (a signal RINEX 2.11 does not name has no column in any file)
        }
    }
    return true;
}

bool RinexObsWriter::fillCells(const SatelliteObservations& sat, const GpsTime& time)
{
    if (sat.sat.number < 1 || sat.sat.number > 99 || int(sat.sat.system) >= kSystemCount)
        return false;  // no RINEX name
    const Columns& columns = mColumns[size_t(sat.sat.system)];
    mCells.assign(columns.types.size(), Cell{0.0, ' ', ' ', false, 0});
    bool any = false;
    const auto put = [&](const std::optional<double>& value, Kind kind, SignalCode code, char lli, char ssi) {
        if (!value)
            return;
        const int col = columns.column(code, kind);
        if (col < 0) {
            drop(sat.sat, kKindLetters[kind], code);
            return;
        }
        Cell& cell = mCells[size_t(col)];
        const uint8_t rank = columns.rank[Columns::slot(code, kind)];
        if (cell.present && cell.rank <= rank)
            return;  // a signal earlier on the list fills the column
        cell = Cell{*value, lli, ssi, true, rank};
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
    return any;
}

void RinexObsWriter::appendSatellite(const SatelliteObservations& sat, const GpsTime& time)
{
    if (!fillCells(sat, time))
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

void RinexObsWriter::writeEpoch2(const ObservationEpoch& epoch, const std::vector<const SatelliteObservations*>& sats)
{
    // The satellites' lines first, as the epoch line lists only those with a value.
    std::string ids;
    mBuffer.clear();
    for (const SatelliteObservations* s : sats) {
        if (!fillCells(*s, epoch.time))
            continue;
        ids += systemLetter(s->sat.system);
        ids += char('0' + s->sat.number / 10 % 10);
        ids += char('0' + s->sat.number % 10);
        for (size_t i = 0; i < mCells.size(); i += 5) {
            const size_t start = mBuffer.size();
            for (size_t k = i; k < i + 5 && k < mCells.size(); ++k) {
                const Cell& c = mCells[k];
                mBuffer.append(16, ' ');
                char* p = mBuffer.data() + mBuffer.size() - 16;
                if (c.present && Rinex::formatF14_3(c.value, p)) {
                    p[14] = c.lli;
                    p[15] = c.ssi;
                } else if (c.present) {
                    ++mValuesBlanked;
                }
            }
            size_t end = mBuffer.size();
            while (end > start && mBuffer[end - 1] == ' ')
                --end;
            mBuffer.resize(end);
            mBuffer += '\n';
        }
    }
    const size_t count = ids.size() / 3;
    if (count == 0) {
        ++mEpochsDropped;
        return;
    }
    const Rinex::EpochFields f = Rinex::splitEpoch(epoch.time);
    char line[64];
    std::snprintf(line, sizeof line, " %02d %2d %2d %2d %2d%3lld.%07lld  0%3d", f.year % 100, f.month, f.day, f.hour,
                  f.minute, (long long)(f.secondE7 / 10000000), (long long)(f.secondE7 % 10000000),
                  int(std::min<size_t>(count, 999)));
    // Twelve satellites on the epoch line, twelve more on each line after it.
    std::string head = line;
    for (size_t i = 0; i < count; i += 12) {
        if (i > 0)
            head += '\n' + std::string(32, ' ');
        head.append(ids, i * 3, 36);
    }
    head += '\n';
    mOut.write(head.data(), std::streamsize(head.size()));
    mOut.write(mBuffer.data(), std::streamsize(mBuffer.size()));
    ++mEpochsWritten;
    mLast = epoch.time;
    if (!mFirst)
        mFirst = epoch.time;
}

char RinexObsWriter::lossOfLock(const SatId& sat, const Observation& obs, const GpsTime& time)
{
    // A signal sent without a phase tells nothing of its lock: receivers put a zero lock time
    // there and go on with the lock time of before. The next phase is compared with the last
    // one's lock time.
    if (!obs.phaseCycles)
        return ' ';
    // An arc starts at the first sight of a signal's phase, or where lock was lost since the
    // previous one: the lock time went down, or it was known and is no longer. A lock time
    // that merely stays the same (a coarse indicator) is no slip, except zero seen again a
    // second or more later: the first step of every lock time indicator is a second or less,
    // so lock was lost and taken again in between.
    const auto [it, first] = mLocks.try_emplace(lockKey(sat, obs.code));
    int bits = first ? 1 : 0;
    if (!first) {
        const std::optional<double>& before = it->second.lockTimeS;
        if (before && (!obs.lockTimeS || *obs.lockTimeS < *before))
            bits |= 1;
        else if (before && *before == 0.0 && *obs.lockTimeS == 0.0 && time - it->second.time >= 1.0)
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
