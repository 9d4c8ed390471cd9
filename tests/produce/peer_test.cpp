// A peer reads what we produce: convbin's RINEX of a capture's MSM7 converted by us (to MSM7
// again, and to MSM4) against convbin's RINEX of the capture itself; convbin's RINEX of a
// stream replayed from our RINEX of a capture against that RINEX.

#include "convbin_peer.h"
#include "rinex_trip.h"

#include "StreamConverter.h"

#include <fstream>
#include <functional>
#include <set>

namespace {

using namespace peertest;

bool isMsm7(int n) { return Kvt::Nuvrix::View::msmLevel(n) == 7; }
bool isLegacy(int n) { return isObservation(n) && !Kvt::Nuvrix::View::msmSystem(n); }
// Captures with MSM7 and no legacy observations, which the view merges with MSMs of the instant.
std::vector<std::string> msm7Only()
{
    std::vector<std::string> out = captures(isMsm7);
    const std::vector<std::string> legacy = captures(isLegacy);
    out.erase(std::remove_if(out.begin(), out.end(),
                             [&](const std::string& c) { return std::count(legacy.begin(), legacy.end(), c) > 0; }),
              out.end());
    return out;
}
const std::vector<std::string> kCaptures = msm7Only();

// A capture without a date of its own is dated by the hint: the peer may place it a week
// apart from us. Times within the week find each other.
double inWeek(const rinexreader::EpochTime& t) { return std::fmod(t.key(), 604800.0); }

bool isOrbit(int n) { return n == 1019 || n == 1020 || (n >= 1041 && n <= 1046 && n != 1043); }

// Every navigation record of `b` is one of `a` (by satellite and time) with the same values
// within print precision, the time the message was received aside (the peer takes it from
// the stream); with `all`, every record of `a` is in `b` too.
void expectSameNavigation(const std::string& a, const std::string& b, bool all, const std::string& what)
{
    const rinexreader::NavFile na = rinexreader::readNav(a), nb = rinexreader::readNav(b);
    std::map<std::pair<std::string, double>, const rinexreader::NavRecord*> byKey;
    for (const auto& r : na.records)
        byKey.emplace(std::make_pair(r.sat, inWeek(r.time)), &r);
    EXPECT_EQ(na.records.empty(), nb.records.empty()) << what;
    std::set<std::pair<std::string, double>> seen;
    for (const auto& r : nb.records) {
        const auto it = byKey.find(std::make_pair(r.sat, inWeek(r.time)));
        ASSERT_TRUE(it != byKey.end()) << what << " " << r.sat;
        seen.insert(it->first);
        ASSERT_EQ(r.values.size(), it->second->values.size()) << what << " " << r.sat;
        for (size_t k = 0; k < r.values.size(); ++k) {
            const double x = it->second->values[k], y = r.values[k];
            if ((r.sat[0] != 'R' && k == 27) || (std::isnan(x) && std::isnan(y)))
                continue;
            EXPECT_NEAR(x, y, 1e-11 * std::max(std::fabs(x), std::fabs(y))) << what << " " << r.sat << " value " << k;
        }
    }
    if (all) {
        EXPECT_EQ(seen.size(), byKey.size()) << what;
    }
}

// Each value of `a` in `b` (by time within the week, satellite and type), within what
// `allowed` gives for the satellite and type (below zero: not compared); how many compared.
size_t expectSameObservations(const rinexreader::ObsFile& a, const rinexreader::ObsFile& b,
                              const std::function<double(const std::string&, const std::string&)>& allowed,
                              const std::string& what)
{
    std::map<std::pair<double, std::string>, const rinexreader::SatelliteRecord*> found;
    for (const auto& e : b.epochs)
        for (const auto& sat : e.satellites)
            found.emplace(std::make_pair(inWeek(e.time), sat.sat), &sat);
    size_t compared = 0;
    for (const auto& e : a.epochs)
        for (const auto& sa : e.satellites) {
            const auto it = found.find(std::make_pair(inWeek(e.time), sa.sat));
            EXPECT_TRUE(it != found.end()) << what << " " << sa.sat;
            for (const std::string& type : it == found.end() ? std::vector<std::string>{} : a.obsTypes.at(sa.sat[0])) {
                const rinexreader::ObsValue* va = a.value(sa, type);
                const rinexreader::ObsValue* vb = b.value(*it->second, type);
                const double tol = allowed(sa.sat, type);
                if (tol < 0 || !va || !va->value)
                    continue;
                EXPECT_TRUE(vb && vb->value) << what << " " << sa.sat << " " << type;
                if (vb && vb->value) {
                    EXPECT_NEAR(*va->value, *vb->value, tol) << what << " " << sa.sat << " " << type;
                }
                ++compared;
            }
        }
    return compared;
}

// What a value may move: print precision, and for MSM4 its coarser ranges (2^-24 ms, 18 mm;
// phase 2^-29 ms, 0.6 mm), whole dB-Hz and no Doppler.
double allowed(int level, char type)
{
    if (level == 7)
        return tolerance(type);
    return type == 'C' ? 0.012 : type == 'L' ? 0.005 : type == 'S' ? 0.76 : -1;
}

class ConvertedPeer : public ::testing::TestWithParam<int> {};

// Catches: frames a decoder other than ours reads otherwise (flags, times, scales, masks), and
// a conversion that loses or moves values beyond the target's resolution.
TEST_P(ConvertedPeer, ReadsTheCapturesValues)
{
    expectRunnable(kCaptures);
    const int level = GetParam();
    const std::string dir = ::testing::TempDir() + "/produce_peer_msm" + std::to_string(level);  // tests run in parallel
    fs::create_directories(dir);
    for (const std::string& capture : kCaptures) {
        Kvt::Nuvrix::Produce::StreamConverter converter(Kvt::Nuvrix::Produce::ConversionTarget::msm(level));
        converter.setTimeHint(kHint);
        std::ofstream out(dir + "/converted.rtcm3", std::ios::binary);
        for (const Bytes& f : viewtest::framesOf(viewtest::readFile(capture)))
            for (const Bytes& g : converter.add(f.data(), f.size()))
                out.write(reinterpret_cast<const char*>(g.data()), std::streamsize(g.size()));
        for (const Bytes& g : converter.finish())
            out.write(reinterpret_cast<const char*>(g.data()), std::streamsize(g.size()));
        out.close();
        ASSERT_TRUE(runConvbin(capture, epochOf(kHint), dir + "/original.obs", dir + "/original.nav"));
        ASSERT_TRUE(runConvbin(dir + "/converted.rtcm3", epochOf(kHint), dir + "/converted.obs", dir + "/converted.nav"));
        expectSameNavigation(dir + "/original.nav", dir + "/converted.nav", true, capture);
        // MSM4 carries no GLONASS channel: a peer has no wavelength for the phase.
        expectSameObservations(peerObs(dir + "/original.obs"), peerObs(dir + "/converted.obs"),
                               [level](const std::string& sat, const std::string& type) {
                                   return level == 4 && sat[0] == 'R' && type[0] == 'L' ? -1 : allowed(level, type[0]);
                               },
                               capture);
    }
}

INSTANTIATE_TEST_SUITE_P(Levels, ConvertedPeer, ::testing::Values(7, 4));

// Catches: a reader field, scale or time scale that moves what RINEX holds, and orbits a
// replay sends otherwise than the file has them.
TEST(ReplayedPeer, ReadsTheRinexItWasMadeOf)
{
    std::vector<std::string> chosen;
    for (const std::string& c : kCaptures) {
        const std::vector<int> numbers = messageNumbersOf(viewtest::readFile(c));
        if (std::any_of(numbers.begin(), numbers.end(), isOrbit))
            chosen.push_back(c);
    }
    expectRunnable(chosen);
    const std::string dir = ::testing::TempDir() + "/produce_peer_replay";
    size_t orbits = 0;
    for (const std::string& capture : chosen) {
        fs::remove_all(dir);
        // Only a stream that dates itself dates its orbits and epochs alike.
        const std::vector<Bytes> frames = viewtest::framesOf(viewtest::readFile(capture));
        const std::optional<Kvt::Gnss::GpsTime> date = rinextrip::ownDate(frames);
        if (!date)
            continue;
        const rinextrip::Epochs original = rinextrip::viewOf(frames, date);
        std::string ours;
        const std::vector<Bytes> replayed = rinextrip::replayedThroughRinex(original, dir + "/rinex", &ours);
        std::ofstream out(dir + "/replayed.rtcm3", std::ios::binary);
        for (const Bytes& f : replayed)
            out.write(reinterpret_cast<const char*>(f.data()), std::streamsize(f.size()));
        out.close();
        ASSERT_TRUE(runConvbin(capture, epochOf(*date), dir + "/original.obs", dir + "/original.nav"));
        ASSERT_TRUE(runConvbin(dir + "/replayed.rtcm3", epochOf(*date), dir + "/replayed.obs", dir + "/replayed.nav"));
        expectSameNavigation(dir + "/original.nav", dir + "/replayed.nav", false, capture);
        orbits += rinexreader::readNav(dir + "/replayed.nav").records.size();
        // Each value of our file where the peer has it from the replay, within print precision
        // and MSM7's resolution (signals the peer does not know aside).
        const rinexreader::ObsFile b = peerObs(dir + "/replayed.obs");
        const auto allowed = [&b](const std::string& sat, const std::string& type) {
            const std::vector<std::string>& known = b.obsTypes.at(sat[0]);
            return std::find(known.begin(), known.end(), type) == known.end() ? -1 : tolerance(type[0]);
        };
        EXPECT_GT(expectSameObservations(rinexreader::readObs(ours), b, allowed, capture), 0u) << capture;
    }
    EXPECT_GT(orbits, 0u);
}

} // namespace
