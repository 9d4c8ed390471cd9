// A peer reads what we produce: convbin's RINEX of a capture's MSM7 converted by us (to MSM7
// again, and to MSM4) against convbin's RINEX of the capture itself.

#include "convbin_peer.h"

#include "StreamConverter.h"

#include <fstream>

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
        ASSERT_TRUE(runConvbin(capture, epochOf(kHint), dir + "/original.obs"));
        ASSERT_TRUE(runConvbin(dir + "/converted.rtcm3", epochOf(kHint), dir + "/converted.obs"));
        const rinexreader::ObsFile a = peerObs(dir + "/original.obs"), b = peerObs(dir + "/converted.obs");
        // Every epoch and satellite of the capture, found by time and name.
        std::map<std::pair<double, std::string>, const rinexreader::SatelliteRecord*> found;
        for (const auto& e : b.epochs)
            for (const auto& sat : e.satellites)
                found.emplace(std::make_pair(e.time.key(), sat.sat), &sat);
        for (const auto& e : a.epochs) {
            for (const auto& sa : e.satellites) {
                const auto it = found.find(std::make_pair(e.time.key(), sa.sat));
                ASSERT_TRUE(it != found.end()) << capture << " " << sa.sat;
                const auto& sb = *it->second;
                for (const std::string& type : a.obsTypes.at(sa.sat[0])) {
                    const rinexreader::ObsValue* va = a.value(sa, type);
                    const rinexreader::ObsValue* vb = b.value(sb, type);
                    const double tol = allowed(level, type[0]);
                    // MSM4 carries no GLONASS channel: a peer has no wavelength for the phase.
                    if (tol < 0 || !va || !va->value || (level == 4 && sa.sat[0] == 'R' && type[0] == 'L'))
                        continue;
                    ASSERT_TRUE(vb && vb->value) << capture << " " << sa.sat << " " << type;
                    EXPECT_NEAR(*va->value, *vb->value, tol) << capture << " " << sa.sat << " " << type;
                }
            }
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Levels, ConvertedPeer, ::testing::Values(7, 4));

} // namespace
