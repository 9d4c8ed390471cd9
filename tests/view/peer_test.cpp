// The observables of the shared captures against an independent peer: Debian's convbin turns
// each capture into RINEX 3 and every epoch it writes must be ours too, with the same
// satellites and codes and the same values to the millimetre, millicycle, milli-hertz and a
// quarter dB-Hz.
//
// Where we and the peer differ in what exists, for reasons of the format:
//  - MSM1-3 and 1001/1003/1009/1011 send ranges modulo one light-millisecond only; we give no
//    pseudorange or phase for them rather than a number off by an unknown whole millisecond.
//  - A GLONASS phase or Doppler needs the satellite's frequency channel: where the stream has
//    not told it yet we give none.
// Dates: each capture is dated from its own messages where it has a reference (1013, 1029,
// ephemerides); convbin is given our first epoch as its -tr hint. Without one, both get the
// same hint.

#include "convbin_peer.h"

#include <cmath>
#include <map>

using namespace Kvt;
using namespace viewtest;
using namespace peertest;

namespace {

// Captures without a 1013 or 1029, dated by hand from their messages. The offset between
// GPS and GLONASS times of one epoch gives the leap seconds of the time and so its years; the
// 10-bit week of a 1019 then gives the week.
struct KnownDate {
    const char* file;
    Gnss::DateTime hint;
    // Weeks to add to the peer's dates: it misdates epochs after a week rollover.
    int peerWeekShift;
};
const KnownDate kKnownDates[] = {
    // 1004 at 515220 s of week, 1012 at 7605 s of the Moscow day: 15 leap seconds
    // (2009-2012); the 1019 week 538 is then GPS week 1562.
    {"testglo.rtcm3", {2009, 12, 16, 12, 0, 0.0}, 0},
    // 1077 at 604784 s, 1087 at day 0 (Sunday in Moscow) 10768 s: the end of a week and 16
    // leap seconds; the 1019 week 685 is GPS week 1709, ending 2012-10-13. The peer writes
    // its BeiDou epochs, 14 s after, one week early.
    {"GMSD7_20121014.rtcm3", {2012, 10, 10, 12, 0, 0.0}, 1},
};

const KnownDate* knownDate(const std::string& path)
{
    for (const KnownDate& k : kKnownDates)
        if (std::filesystem::path(path).filename() == k.file)
            return &k;
    return nullptr;
}

// The calendar keys count from a Thursday, 1970-01-01; weeks start on Sundays.
constexpr double kFirstSunday = 3 * 86400.0;

double keyOf(const Gnss::GpsTime& t) { return epochOf(t).key(); }

std::optional<double> ourValue(const Gnss::Observation& o, char type)
{
    switch (type) {
    case 'C': return o.pseudorangeM;
    case 'L': return o.phaseCycles;
    case 'D': return o.dopplerHz;
    case 'S': return o.cn0DbHz;
    }
    return std::nullopt;
}

// The peer's RINEX of a capture, dated from `hint`; nothing where it writes no observations.
std::optional<rinexreader::ObsFile> peerObservations(const std::string& path, const Gnss::GpsTime& hint)
{
    // ctest runs the captures in parallel: one output file each.
    std::string name = ::testing::UnitTest::GetInstance()->current_test_info()->name();
    std::replace(name.begin(), name.end(), '/', '_');
    const std::string out = testing::TempDir() + "peer_" + name + ".obs";
    std::remove(out.c_str());
    if (!runConvbin(path, epochOf(hint), out) || !std::filesystem::exists(out))
        return std::nullopt;
    rinexreader::ObsFile peer = peerObs(out);
    std::remove(out.c_str());
    return peer;
}

struct Comparison {
    int compared = 0, unknownChannel = 0, glonassDayMoved = 0;
    std::vector<std::string> problems;
};

void compareEpoch(const rinexreader::ObsFile& peer, const rinexreader::ObsEpoch& pe,
                  const Gnss::ObservationEpoch& e, Comparison& c)
{
    for (const rinexreader::SatelliteRecord& ps : pe.satellites) {
        const Gnss::SatelliteObservations* s = nullptr;
        for (const auto& candidate : e.satellites)
            if (candidate.sat.toString() == ps.sat)
                s = &candidate;
        const auto& types = peer.obsTypes.at(ps.sat[0]);
        for (size_t t = 0; t < types.size() && t < ps.values.size(); ++t) {
            if (!ps.values[t].value)
                continue;
            const std::string& type = types[t];
            std::optional<double> mine;
            for (const auto& o : s ? s->observations : std::vector<Gnss::Observation>{})
                if (o.code.toString() == type.substr(1))
                    mine = ourValue(o, type[0]);
            const std::string where = e.time.toIso() + ' ' + ps.sat + ' ' + type;
            // No frequency channel known yet: the peer has it from a later 1020 (it reads the
            // whole file once before converting).
            if (!mine && s && !s->glonassChannel && ps.sat[0] == 'R' && (type[0] == 'L' || type[0] == 'D')) {
                ++c.unknownChannel;
                continue;
            }
            ++c.compared;
            if (!mine)
                c.problems.push_back(where + ": peer has " + std::to_string(*ps.values[t].value) + ", we nothing");
            else if (std::fabs(*mine - *ps.values[t].value) > tolerance(type[0]))
                c.problems.push_back(where + ": ours " + std::to_string(*mine) + " peer "
                                     + std::to_string(*ps.values[t].value));
        }
    }
}

class PeerTest : public ::testing::TestWithParam<std::string> {};

TEST_P(PeerTest, EveryPeerEpochIsOursWithTheSameValues)
{
    if (!std::filesystem::exists(kConvbin))
        GTEST_SKIP() << "convbin is not installed";
    const std::string path = GetParam();
    const std::string file = std::filesystem::path(path).filename().string();
    const KnownDate* known = knownDate(path);
    CollectSink ours = runCapture(path);
    Gnss::GpsTime hint = known ? Gnss::GpsTime::fromCalendar(known->hint) : kHint;
    // Without a reference of its own the capture's week is the hint's choice on both sides,
    // by rules of their own: such captures are matched by time of week.
    const bool dated = !ours.epochs.empty() || known;
    if (ours.epochs.empty())
        ours = runCapture(path, hint);
    else
        hint = ours.epochs.front().time;
    ASSERT_FALSE(ours.epochs.empty()) << path;
    const std::optional<rinexreader::ObsFile> peer = peerObservations(path, hint);
    if (!peer) {
        std::printf("[ peer     ] %s: the peer wrote no observations\n", file.c_str());
        return;
    }
    ASSERT_TRUE(peer->errors.empty()) << peer->errors.front();

    const double peerShift = known ? known->peerWeekShift * double(Gnss::kSecondsPerWeek) : 0.0;
    auto key = [&](double seconds) { return dated ? seconds : std::fmod(seconds - kFirstSunday, 604800.0); };
    // A stream may end an epoch and send more of the same instant (1004 then 1074): both
    // sides then write two epochs of that time, matched here in order.
    std::multimap<double, const Gnss::ObservationEpoch*> byTime;
    for (const Gnss::ObservationEpoch& e : ours.epochs)
        byTime.emplace(key(keyOf(e.time)), &e);

    Comparison c;
    for (const rinexreader::ObsEpoch& pe : peer->epochs) {
        auto it = byTime.find(key(pe.time.key() + peerShift));
        // GLONASS legacy messages carry a time of day without the day. The peer dates an epoch
        // of them alone by a rule of its own (switch-legacy-msm-legacy-msm.rtcm starts with a
        // 1012 at 13:46:59, which it puts two days early); the next epoch, a 1004 at 308820 s
        // of GPS week 2002, is 13:47:00 on 2018-05-23, and so ours. Such an epoch is matched
        // by its time of day.
        const bool glonassOnly = std::all_of(pe.satellites.begin(), pe.satellites.end(),
                                             [](const auto& s) { return s.sat[0] == 'R'; });
        for (int day = -3; glonassOnly && it == byTime.end() && day <= 3; ++day)
            if (day != 0 && (it = byTime.find(key(pe.time.key() + peerShift + day * 86400.0))) != byTime.end())
                ++c.glonassDayMoved;
        if (it == byTime.end()) {
            char text[64];
            std::snprintf(text, sizeof text, "no epoch of ours at %04d-%02d-%02d %02d:%02d:%06.3f", pe.time.year,
                          pe.time.month, pe.time.day, pe.time.hour, pe.time.minute, pe.time.second);
            c.problems.push_back(text);
            continue;
        }
        compareEpoch(*peer, pe, *it->second, c);
        byTime.erase(it);
    }
    std::printf("[ peer     ] %s: %zu peer epochs, %zu ours, %d values compared, %d GLONASS values "
                "before the channel was known, %d GLONASS epochs on another day, %zu problems\n",
                file.c_str(), peer->epochs.size(), ours.epochs.size(), c.compared, c.unknownChannel,
                c.glonassDayMoved, c.problems.size());
    std::ostringstream first;
    for (size_t i = 0; i < c.problems.size() && i < 20; ++i)
        first << c.problems[i] << '\n';
    EXPECT_TRUE(c.problems.empty()) << c.problems.size() << " problems, first:\n" << first.str();
}

const std::vector<std::string> kCaptures = captures(isObservation);
INSTANTIATE_TEST_SUITE_P(Captures, PeerTest, ::testing::ValuesIn(kCaptures), captureName);
GTEST_ALLOW_UNINSTANTIATED_PARAMETERIZED_TEST(PeerTest);

TEST(PeerAvailable, ConvbinAndSamples) { expectRunnable(kCaptures); }

} // namespace
