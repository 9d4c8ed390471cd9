// Our RINEX files of the shared captures against an independent peer, Debian's convbin
// (RINEX 3.04 and 2.11): every epoch, satellite and value the peer writes is ours, within
// 0.002 m, 0.002 cycles, 0.002 Hz and 0.26 dB-Hz, the slip flags of the phases agree, and every
// navigation record equals ours to the peer's print precision. Each file is converted as the
// program converts a file: two passes.
//
// Slip flags (LLI bit 0) may differ only where the messages show the peer wrong or leave the
// choice (checked by hand against the lock times):
//  - At an arc's start each side flags by its own rule (we always, where no phase before ties
//    the ambiguity), and the peer's arcs start later where it lost a message.
//  - After a signal sent without a phase: the receiver puts a zero lock time there and goes on
//    with the one of before (msm7.rtcm C02 7I: 671.744 s at 09:35:49, 0 without values at :50,
//    671.744 s at :51), which the peer takes for a loss; we compare with the last phase's.
//  - Streams with both legacy and MSM observations: the peer keeps one lock state per
//    satellite and band for both and compares their different indicators; not compared.
//  A zero lock time seen again a second later is a loss on both sides (the indicators' first
//  step is a second or less); a lock time that stays the same otherwise is none.
//
// Where we and the peer differ, the peer is wrong or the format leaves the choice (all checked
// by hand against the frames):
//  - Dates. We date each capture from its messages; convbin gets our first epoch as its -tr.
//    Given only the week's date it misdates across a week rollover: GMSD7_20121014.rtcm3 runs
//    from 23:59:44 on the last day of GPS week 1709 (the 1077 at 604784 s, the 1019 week 685)
//    into week 1710, and with -tr 2012/10/10 convbin writes all of it one week early
//    (2012-10-06 23:59:58 on). Our dates are right; the file is compared, not skipped.
//  - Data the peer loses and we write from CRC-valid frames: printed, not failed. It starts
//    with the second message of an instant (first epochs of msm.rtcm, msm7.rtcm, sept.rtcm,
//    rtcm3.2.log); writes only the SBAS satellites of missing-gps.rtcm and only the BeiDou ones
//    of GMSD7; drops 1077 frames of ublox-zed-f9t-rtcm3.log (08:13:50, 08:14:06); loses the
//    instants where switch-legacy-msm-legacy-msm.rtcm changes between MSM and legacy messages
//    (13:49:15, 13:49:27, 13:51:36, 13:51:37); the first 63 epochs of rtcm3-3.log; and an
//    instant whose end mark never came (navcom.rtcm 00:32:50: a 1004 announcing more, then
//    the next instant).
//  - An instant sent twice, MSM then legacy messages each with an end mark (hemi.rtcm,
//    ublox-f9p-rtcm.log): we write one epoch with the MSM values, the peer two; ours must be
//    one of its values. Where it lost the MSM, its value is the legacy one, counted apart.
//  - Navigation: GLONASS records dated by a time of day are matched by satellite and time of
//    day (the frame time must follow the record's day); a fit interval flag of 1 the peer
//    writes as 0 ("not known"), we as the hours of the IODC; fields the stream does not carry
//    (transmission time, spares) are not compared; the peer
//    reads message 63 of rtcm3.2.log (a draft number) as BeiDou orbits dated 2035.

#include "convbin_peer.h"
#include "rinex2_text.h"
#include "RinexConversion.h"

#include <cmath>
#include <map>
#include <set>

using namespace Kvt;
using namespace viewtest;
using namespace peertest;

namespace {

// Captures without a time reference of their own, dated by hand from their messages: the
// offset of GLONASS to GPS time gives the leap seconds and so the years, a 10-bit week of a
// 1019 then the week.
struct KnownDate {
    const char* file;
    Gnss::DateTime hint;
};
const KnownDate kKnownDates[] = {
    // 1004 at 515220 s of week, 1012 at 7605 s of the Moscow day: 15 leap seconds (2009-2012);
    // the 1019 week 538 is then GPS week 1562: Friday 2009-12-18, 23:07 GPST.
    {"testglo.rtcm3", {2009, 12, 18, 23, 0, 0.0}},
    // 1077 at 604784 s, 1087 at day 0 (Sunday in Moscow) 10768 s: the end of a week and 16
    // leap seconds; the 1019 week 685 is GPS week 1709, ending 2012-10-13 (Saturday).
    {"GMSD7_20121014.rtcm3", {2012, 10, 13, 23, 0, 0.0}},
};

const KnownDate* knownDate(const std::string& path)
{
    for (const KnownDate& k : kKnownDates)
        if (fs::path(path).filename() == k.file)
            return &k;
    return nullptr;
}

bool convertible(int n)
{
    return isObservation(n) || n == 1019 || n == 1020 || n == 1041 || n == 1042 || (n >= 1044 && n <= 1046);
}

// Both passes of a file through decoder, view and converter.
std::vector<std::string> convert(const std::vector<Bytes>& frames, const std::string& dir,
                                 std::optional<Gnss::GpsTime> hint, Gnss::RinexConverterOptions options = {})
{
    options.directory = dir;
    Nuvrix::View::RinexConversion conversion(options);
    if (hint)
        conversion.setTimeHint(*hint);
    Nuvrix::_RTCM3_message_t record;
    for (int pass = 0; pass < 2; ++pass)
        for (const Bytes& f : frames) {
            const int32_t r = Nuvrix::RTCM3_decode(nullptr, f.data(), uint16_t(f.size()), &record);
            if (r >= 0)
                pass == 0 ? conversion.survey(record) : conversion.add(record);
            if (r != Nuvrix::RTCM3_ERR_INVALID_MESSAGE)
                Nuvrix::RTCM3_free_message_children(&record);
        }
    std::vector<std::string> names = conversion.finish();
    EXPECT_TRUE(conversion.error().empty()) << conversion.error();
    return names;
}

std::string ending(const std::vector<std::string>& names, const std::string& end)
{
    for (const std::string& n : names)
        if (n.size() > end.size() && n.compare(n.size() - end.size(), end.size(), end) == 0)
            return n;
    return {};
}

// Our files of every station as one, as the peer writes them: epochs of one instant together,
// each system's types the union of the files'.
rinexreader::ObsFile merged(const std::vector<rinexreader::ObsFile>& files)
{
    rinexreader::ObsFile all;
    std::map<double, rinexreader::ObsEpoch> epochs;
    for (const rinexreader::ObsFile& f : files) {
        for (const auto& [sys, types] : f.obsTypes)
            for (const std::string& t : types)
                if (std::find(all.obsTypes[sys].begin(), all.obsTypes[sys].end(), t) == all.obsTypes[sys].end())
                    all.obsTypes[sys].push_back(t);
        all.header = f.header;
    }
    for (const rinexreader::ObsFile& f : files)
        for (const rinexreader::ObsEpoch& e : f.epochs) {
            rinexreader::ObsEpoch& to = epochs.try_emplace(e.time.key(), rinexreader::ObsEpoch{e.time, 0, 0, {}}).first->second;
            for (const rinexreader::SatelliteRecord& s : e.satellites) {
                const std::vector<std::string>& allTypes = all.obsTypes[s.sat[0]];
                auto r = std::find_if(to.satellites.begin(), to.satellites.end(), [&](const auto& x) { return x.sat == s.sat; });
                if (r == to.satellites.end()) {  // a satellite two stations see: one record, values of both
                    to.satellites.push_back({s.sat, std::vector<rinexreader::ObsValue>(allTypes.size())});
                    r = to.satellites.end() - 1;
                    ++to.count;
                }
                const std::vector<std::string>& types = f.obsTypes.at(s.sat[0]);
                for (size_t i = 0; i < types.size() && i < s.values.size(); ++i) {
                    rinexreader::ObsValue& v = r->values[size_t(std::find(allTypes.begin(), allTypes.end(), types[i]) - allTypes.begin())];
                    if (!v.value)
                        v = s.values[i];
                }
            }
        }
    for (auto& [key, e] : epochs)
        all.epochs.push_back(e);
    return all;
}

struct Tally {
    int epochs = 0, values = 0, ourOnly = 0, navRecords = 0, navValues = 0, fromOtherMessage = 0, navUnread = 0;
    std::set<std::string> ourSatellites;  // "time satellite" of ours without a value of the peer's
    std::set<std::string> ourEpochsInside;  // epochs of ours inside the peer's span that it lacks
    std::vector<std::string> problems;
    std::vector<std::string> slipsOnlyOurs, slipsOnlyPeer;  // accepted: see the file's comment
    void problem(const std::string& p) { problems.push_back(p); }
};

// The first instant each side has a value of each satellite and type: an arc's start.
std::map<std::string, double> arcStarts(const rinexreader::ObsFile& f)
{
    std::map<std::string, double> starts;
    for (const auto& e : f.epochs)
        for (const auto& s : e.satellites)
            for (size_t t = 0; t < s.values.size() && t < f.obsTypes.at(s.sat[0]).size(); ++t)
                if (s.values[t].value)
                    starts.try_emplace(s.sat + ' ' + f.obsTypes.at(s.sat[0])[t], e.time.key());
    return starts;
}

void compareObservations(const rinexreader::ObsFile& ours, const rinexreader::ObsFile& peer, Tally& tally,
                         bool compareSlips = false)
{
    const std::map<std::string, double> ourStarts = arcStarts(ours), peerStarts = arcStarts(peer);
    std::map<double, const rinexreader::ObsEpoch*> byTime;
    for (const auto& e : ours.epochs)
        if (!byTime.emplace(e.time.key(), &e).second)
            tally.problem("two epochs of ours at " + convbinTime(e.time));
    // The peer may write one instant as two epochs (MSM, then legacy messages, which measure
    // on their own): its values are gathered per instant, and ours must be one of them.
    std::map<double, std::map<std::string, std::map<std::string, std::vector<double>>>> peerValues;
    std::map<double, std::map<std::string, std::map<std::string, int>>> peerSlips;
    std::map<double, int> peerEpochsAt;                      // peer epochs per instant
    std::map<std::pair<double, std::string>, int> satEpochs;  // of those, the ones with the satellite
    for (const auto& pe : peer.epochs) {
        auto it = byTime.find(pe.time.key());
        // An epoch of GLONASS legacy messages alone has a time of day without its day: the
        // peer dates it by a rule of its own (switch-legacy-msm-legacy-msm.rtcm starts with a
        // 1012 at 13:46:59, which it puts a day early; the 1004 that follows dates it).
        const bool glonassOnly = std::all_of(pe.satellites.begin(), pe.satellites.end(),
                                             [](const auto& s) { return s.sat[0] == 'R'; });
        for (int day = -3; glonassOnly && it == byTime.end() && day <= 3; ++day)
            it = byTime.find(pe.time.key() + day * 86400.0);
        if (it == byTime.end()) {
            tally.problem("no epoch of ours at " + convbinTime(pe.time));
            continue;
        }
        auto& values = peerValues[it->first];
        ++peerEpochsAt[it->first];
        for (const auto& ps : pe.satellites) {
            const auto& types = peer.obsTypes.at(ps.sat[0]);
            bool any = false;
            for (size_t t = 0; t < types.size() && t < ps.values.size(); ++t)
                if (ps.values[t].value) {
                    values[ps.sat][types[t]].push_back(*ps.values[t].value);
                    peerSlips[it->first][ps.sat][types[t]] |= ps.values[t].lli & 1;
                    any = true;
                }
            satEpochs[{it->first, ps.sat}] += any;
        }
    }
    for (const auto& [time, sats] : peerValues) {
        const rinexreader::ObsEpoch& e = *byTime.at(time);
        ++tally.epochs;
        for (const auto& [sat, types] : sats) {
            const auto s = std::find_if(e.satellites.begin(), e.satellites.end(),
                                        [&](const auto& x) { return x.sat == sat; });
            for (const auto& [type, candidates] : types) {
                const std::string where = convbinTime(e.time) + ' ' + sat + ' ' + type;
                const rinexreader::ObsValue* v = s == e.satellites.end() ? nullptr : ours.value(*s, type);
                if (!v || !v->value) {
                    tally.problem(where + ": peer " + std::to_string(candidates.front()) + ", ours none");
                    continue;
                }
                const bool agrees = std::any_of(candidates.begin(), candidates.end(), [&](double c) {
                    return std::fabs(*v->value - c) <= tolerance(type[0]);
                });
                // An instant the peer split in two epochs (MSM, then legacy) where it has the
                // satellite in one only: it lost the other message, whose values we kept, and
                // a receiver's legacy and MSM values of one instant may differ (ublox-f9p-rtcm.log
                // at 23:41:00: the 1004 is up to 2 km off the 1077 the peer lost).
                if (!agrees && peerEpochsAt[time] > 1 && satEpochs[{time, sat}] < peerEpochsAt[time])
                    ++tally.fromOtherMessage;
                else if (!agrees)
                    tally.problem(where + ": ours " + std::to_string(*v->value) + " peer "
                                  + std::to_string(candidates.front()));
                // Where the flags differ, the side that set it must be at its arc's start.
                const std::string key = sat + ' ' + type;
                if (compareSlips && agrees && type[0] == 'L' && (v->lli & 1) != peerSlips[time][sat][type]) {
                    const bool ourStart = ourStarts.at(key) == time;
                    const bool peerStart = peerStarts.count(key) && std::fabs(peerStarts.at(key) - time) < 1e-6;
                    const auto before = byTime.find(time);
                    const rinexreader::ObsEpoch* previous = before == byTime.begin() ? nullptr : std::prev(before)->second;
                    const auto previousSat = previous ? std::find_if(previous->satellites.begin(), previous->satellites.end(),
                                                                     [&](const auto& x) { return x.sat == sat; })
                                                      : e.satellites.end();
                    const rinexreader::ObsValue* last = previous && previousSat != previous->satellites.end()
                                                            ? ours.value(*previousSat, type) : nullptr;
                    const bool afterGap = !last || !last->value;
                    if (v->lli & 1 ? !ourStart : !(peerStart || afterGap))
                        tally.problem(where + (v->lli & 1 ? ": slip flag ours only" : ": slip flag the peer's only"));
                    else
                        (v->lli & 1 ? tally.slipsOnlyOurs : tally.slipsOnlyPeer).push_back(where);
                }
                ++tally.values;
            }
        }
        for (const auto& s : e.satellites)
            if (!sats.count(s.sat))
                tally.ourSatellites.insert(convbinTime(e.time) + ' ' + s.sat);
    }
    // Our epochs the peer does not have: before its first or after its last it started late or
    // ended early; in between it lost them.
    for (const auto& [time, epoch] : byTime)
        if (!peerValues.count(time)) {
            ++tally.ourOnly;
            if (!peerValues.empty() && time > peerValues.begin()->first && time < peerValues.rbegin()->first)
                tally.ourEpochsInside.insert(convbinTime(epoch->time));
        }
}

// Navigation fields the stream does not carry, by system letter and index in the record.
bool comparable(char system, size_t index)
{
    switch (system) {
    case 'R': return true;
    case 'E': return index != 22 && index != 27 && index != 28;  // spares
    case 'C': return index != 20 && index != 22 && index != 27;  // spares
    case 'I': return index != 20 && index != 22 && index != 26 && index != 27;
    }
    return index != 27;  // the transmission time of the message
}

// The ephemeris messages of each system.
bool carriesEphemerisOf(const std::vector<Bytes>& frames, char system)
{
    const std::map<char, std::set<int>> numbers = {{'G', {1019}}, {'R', {1020}}, {'E', {1045, 1046}},
                                                  {'C', {1042}}, {'J', {1044}}, {'I', {1041}}};
    const auto it = numbers.find(system);
    return it != numbers.end() && std::any_of(frames.begin(), frames.end(), [&](const Bytes& f) {
        return it->second.count(messageNumber(f)) > 0;
    });
}

void compareNavigation(const rinexreader::NavFile& ours, const rinexreader::NavFile& peer,
                       const std::vector<Bytes>& frames, Tally& tally, double frameTimeModulo)
{
    for (const auto& pr : peer.records) {
        // The peer reads a draft message number as BeiDou orbits (63, in rtcm3.2.log) and
        // dates them in 2035; the stream has no 1042.
        if (!carriesEphemerisOf(frames, pr.sat[0])) {
            ++tally.navUnread;
            continue;
        }
        // GLONASS records are dated by the time of day only: matched by satellite and time of day.
        const auto match = [&](const rinexreader::NavRecord& r) {
            if (r.sat != pr.sat)
                return false;
            const double d = r.time.key() - pr.time.key();
            return pr.sat[0] == 'R' ? std::fmod(std::fabs(d), 86400.0) == 0.0 : d == 0.0;
        };
        std::vector<const rinexreader::NavRecord*> candidates;
        for (const auto& r : ours.records)
            if (match(r))
                candidates.push_back(&r);
        if (candidates.empty()) {
            tally.problem("no navigation record of ours for " + pr.sat + ' ' + convbinTime(pr.time));
            continue;
        }
        // Of several records at one time (I/NAV and F/NAV), the one that agrees.
        std::string firstMismatch;
        bool agreed = false;
        for (const rinexreader::NavRecord* r : candidates) {
            std::string mismatch;
            for (size_t i = 0; i < pr.values.size() && i < r->values.size() && mismatch.empty(); ++i) {
                const double a = r->values[i], b = pr.values[i];
                if (!comparable(pr.sat[0], i) || std::isnan(b))
                    continue;
                // The GLONASS frame time in seconds of the week moves with a record the peer
                // dates a day off (see above).
                if (pr.sat[0] == 'R' && i == 2) {
                    const double days = std::round((r->time.key() - pr.time.key()) / 86400.0);
                    if (std::fabs(std::fmod(a - b - days * 86400.0 + 7 * 86400.0, frameTimeModulo)) > 1e-6)
                        mismatch = pr.sat + ' ' + convbinTime(pr.time) + " frame time: ours " + std::to_string(a)
                                   + " peer " + std::to_string(b);
                    continue;
                }
                // For a fit interval of more than four hours the peer writes 0, "not known"; we
                // write the hours the IODC gives.
                if (pr.sat[0] == 'G' && i == 28 && b == 0.0)
                    continue;
                if (std::isnan(a) || std::fabs(a - b) > 1e-11 * std::max(std::fabs(a), std::fabs(b)) + 1e-300)
                    mismatch = pr.sat + ' ' + convbinTime(pr.time) + " value " + std::to_string(i) + ": ours "
                               + std::to_string(a) + " peer " + std::to_string(b);
            }
            if (mismatch.empty()) {
                agreed = true;
                break;
            }
            if (firstMismatch.empty())
                firstMismatch = mismatch;
        }
        if (!agreed)
            tally.problem(firstMismatch);
        ++tally.navRecords;
        tally.navValues += int(pr.values.size());
    }
}

// Either version's files of both sides, read in the 3.x layout.
struct Files {
    Gnss::RinexVersion version;
    const char* convbinVersion;
    const char* obsEnd;                  // the ends of our file names
    std::vector<const char*> navEnds;
    double readVersion;

    bool version2() const { return version == Gnss::RinexVersion::V2_11; }
    rinexreader::ObsFile obs(const std::string& path) const
    {
        return version2() ? rinexreader::parseObs(rinex2text::asVersion3Obs(rinexreader::readText(path))) : rinexreader::readObs(path);
    }
    rinexreader::NavFile nav(const std::string& path) const
    {
        const std::string text = rinexreader::readText(path);
        const bool glonass = path.back() == 'g' || ending({path}, ".gnav") == path;
        return version2() ? rinexreader::parseNav(rinex2text::asVersion3Nav(text, glonass ? 'R' : 'G'))
                          : rinexreader::parseNav(text);
    }
};
const Files kVersion304{Gnss::RinexVersion::V3_04, "3.04", "_MO.rnx", {"_MN.rnx"}, 3.04};
const Files kVersion211{Gnss::RinexVersion::V2_11, "2.11", "o", {"n", "g"}, 2.11};

void agreesWithPeer(const std::string& path, const Files& files)
{
    if (!fs::exists(kConvbin))
        GTEST_SKIP() << "convbin is not installed";
    const std::vector<Bytes> frames = framesOf(readFile(path));
    const KnownDate* known = knownDate(path);
    const std::string dir = testing::TempDir() + "rinexpeer_" + files.convbinVersion + fs::path(path).stem().string();
    fs::remove_all(dir);
    fs::create_directories(dir);

    Gnss::RinexConverterOptions options;
    options.version = files.version;
    std::vector<std::string> names = convert(frames, dir + "/ours", known ? std::optional(Gnss::GpsTime::fromCalendar(known->hint)) : std::nullopt, options);
    if (names.empty())  // no time reference of its own: both sides get the same hint
        names = convert(frames, dir + "/ours", kHint, options);
    const std::string obsPath = dir + "/peer.obs", navPath = dir + "/peer.nav", gnavPath = dir + "/peer.gnav";
    const auto runPeer = [&](const rinexreader::EpochTime& hint) {
        ASSERT_TRUE(runConvbin(path, hint, obsPath, navPath, files.convbinVersion,
                               files.version2() ? "-g " + gnavPath : std::string())) << path;
    };
    if (names.empty()) {
        // Epochs without a value we can stand by (MSM1-3 give ranges modulo a millisecond):
        // neither side writes a file.
        runPeer(epochOf(kHint));
        EXPECT_FALSE(fs::exists(obsPath) && !rinexreader::readObs(obsPath).epochs.empty()) << path;
        std::printf("[ peer     ] %s: no observations on either side\n", fs::path(path).filename().c_str());
        fs::remove_all(dir);
        return;
    }
    const std::string obsName = ending(names, files.obsEnd);
    std::vector<rinexreader::ObsFile> stations;
    for (const std::string& name : names)
        if (ending({name}, files.obsEnd) == name) {
            stations.push_back(files.obs(dir + "/ours/" + name));
            ASSERT_TRUE(stations.back().errors.empty()) << stations.back().errors.front();
            ASSERT_FALSE(stations.back().epochs.empty());
        }
    const rinexreader::ObsFile ours = merged(stations);
    rinexreader::NavFile ourNav;
    rinexreader::EpochTime first;
    if (!obsName.empty())
        first = ours.epochs.front().time;
    for (const char* end : files.navEnds) {
        if (const std::string navName = ending(names, end); !navName.empty()) {
            const rinexreader::NavFile nav = files.nav(dir + "/ours/" + navName);
            ASSERT_TRUE(nav.errors.empty()) << nav.errors.front();
            EXPECT_EQ(nav.version, files.readVersion);
            ourNav.records.insert(ourNav.records.end(), nav.records.begin(), nav.records.end());
        }
    }
    if (obsName.empty() && !ourNav.records.empty())
        first = ourNav.records.front().time;

    runPeer(first);

    Tally tally;
    if (fs::exists(obsPath)) {
        rinexreader::ObsFile peer = files.version2() ? files.obs(obsPath) : peerObs(obsPath);
        ASSERT_TRUE(peer.errors.empty()) << peer.errors.front();
        // SBAS has no L2, but the peer's 2.11 files give it C2 and L2 from the legacy messages'
        // L2 fields (all zero, so L1's values): not compared.
        for (rinexreader::ObsEpoch& e : peer.epochs)
            for (rinexreader::SatelliteRecord& r : e.satellites)
                for (size_t t = 0; r.sat[0] == 'S' && t < r.values.size(); ++t)
                    if (peer.obsTypes['S'].at(t)[1] == '2')
                        r.values[t].value.reset();
        // The peer keeps one lock state per satellite and band for legacy and MSM messages and
        // compares their different indicators: slip flags are compared where a stream has one kind.
        const std::vector<int> numbers = messageNumbersOf(readFile(path));
        const bool legacy = std::any_of(numbers.begin(), numbers.end(), [](int n) { return isObservation(n) && n < 1071; });
        const bool msm = std::any_of(numbers.begin(), numbers.end(), [](int n) { return isObservation(n) && n >= 1071; });
        compareObservations(ours, peer, tally, !(legacy && msm));
    }
    for (const std::string& nav : {navPath, gnavPath})
        if (fs::exists(nav))
            compareNavigation(ourNav, files.nav(nav), frames, tally, files.version2() ? 86400.0 : 7 * 86400.0);

    std::ostringstream report;
    for (size_t i = 0; i < tally.problems.size() && i < 20; ++i)
        report << tally.problems[i] << '\n';
    std::printf("[ peer     ] %s: %d epochs and %d values agree, %d epochs only ours; %d navigation records "
                "(%d values), %d from messages we do not read; %d values from another message of a split "
                "instant; %zu problems; %zu satellites only ours%s%s\n",
                fs::path(path).filename().c_str(), tally.epochs, tally.values, tally.ourOnly, tally.navRecords,
                tally.navValues, tally.navUnread, tally.fromOtherMessage, tally.problems.size(), tally.ourSatellites.size(),
                tally.ourSatellites.empty() ? "" : ", first ", tally.ourSatellites.empty() ? "" : tally.ourSatellites.begin()->c_str());
    std::printf("[ peer     ]   slip flags at an arc's start or after a gap: %zu only ours, %zu only the peer's\n",
                tally.slipsOnlyOurs.size(), tally.slipsOnlyPeer.size());
    for (const auto& e : tally.ourEpochsInside)
        std::printf("[ peer     ]   epoch only ours inside the peer's span: %s\n", e.c_str());
    EXPECT_TRUE(tally.problems.empty()) << tally.problems.size() << " problems, first:\n" << report.str();
    fs::remove_all(dir);
}

class RinexPeerTest : public ::testing::TestWithParam<std::string> {};

TEST_P(RinexPeerTest, OurFilesAgreeWithThePeers) { agreesWithPeer(GetParam(), kVersion304); }
TEST_P(RinexPeerTest, OurVersion211FilesAgreeWithThePeers) { agreesWithPeer(GetParam(), kVersion211); }

// Every 30 s from 2 to 10 minutes into a 1 Hz capture: exactly the peer's epochs of that window,
// with its values, in either version.
class RinexPeerWindow : public ::testing::TestWithParam<const Files*> {};

TEST_P(RinexPeerWindow, DecimatedAndWindowedFilesHoldThePeersEpochs)
{
    const Files& files = *GetParam();
    const std::string path = viewtest::samplesDir() + "/gnss-converters/dropped-packets-STR24.rtcm3";
    if (!fs::exists(kConvbin) || !fs::exists(path))
        GTEST_SKIP() << "needs convbin and the shared captures";
    const std::vector<Bytes> frames = framesOf(readFile(path));
    const std::string dir = testing::TempDir() + "rinexpeer_window" + files.convbinVersion;
    fs::remove_all(dir);
    fs::create_directories(dir);
    Gnss::RinexConverterOptions options;
    options.version = files.version;
    const std::vector<std::string> whole = convert(frames, dir + "/whole", std::nullopt, options);
    ASSERT_FALSE(whole.empty());
    const rinexreader::EpochTime start = files.obs(dir + "/whole/" + ending(whole, files.obsEnd)).epochs.at(0).time;
    const Gnss::GpsTime first = Gnss::GpsTime::fromCalendar({start.year, start.month, start.day, start.hour, start.minute, start.second});
    options.from = first.plusSeconds(120);
    options.until = first.plusSeconds(600);
    options.intervalS = 30;
    const std::vector<std::string> names = convert(frames, dir + "/ours", std::nullopt, options);
    const rinexreader::ObsFile ours = files.obs(dir + "/ours/" + ending(names, files.obsEnd));
    const std::string cmd = std::string(kConvbin) + " -v " + files.convbinVersion + " -r rtcm3 -tr \"" + convbinTime(start)
        + "\" -ts " + convbinTime(epochOf(*options.from)) + " -te " + convbinTime(epochOf(*options.until))
        + " -ti 30 -od -os -o " + dir + "/peer.obs '" + path + "' >/dev/null 2>&1";
    ASSERT_EQ(std::system(cmd.c_str()), 0);
    // The peer ends at -te but may start before -ts: its epochs inside the window are the oracle.
    rinexreader::ObsFile peer = files.version2() ? files.obs(dir + "/peer.obs") : peerObs(dir + "/peer.obs");
    const double from = epochOf(*options.from).key(), until = epochOf(*options.until).key();
    peer.epochs.erase(std::remove_if(peer.epochs.begin(), peer.epochs.end(),
                                     [&](const auto& e) { return e.time.key() < from || e.time.key() > until; }),
                      peer.epochs.end());
    Tally tally;
    compareObservations(ours, peer, tally);
    EXPECT_TRUE(tally.problems.empty()) << tally.problems.front();
    EXPECT_EQ(ours.epochs.size(), peer.epochs.size());
    EXPECT_GE(peer.epochs.size(), 15u);
    EXPECT_EQ(tally.ourOnly, 0);
    EXPECT_EQ(ours.find("INTERVAL")->content.substr(0, 10), "    30.000");
    fs::remove_all(dir);
}

INSTANTIATE_TEST_SUITE_P(Versions, RinexPeerWindow, ::testing::Values(&kVersion304, &kVersion211),
                         [](const auto& info) { return std::string("v") + (info.param->version2() ? "211" : "304"); });

const std::vector<std::string> kCaptures = captures(convertible);
INSTANTIATE_TEST_SUITE_P(Captures, RinexPeerTest, ::testing::ValuesIn(kCaptures), captureName);
GTEST_ALLOW_UNINSTANTIATED_PARAMETERIZED_TEST(RinexPeerTest);

TEST(RinexPeerAvailable, ConvbinAndSamples) { expectRunnable(kCaptures); }

} // namespace
