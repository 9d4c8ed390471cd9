// Round trip through the wire, over the stream the build generates and that stream converted
// to every observation kind (always), and over every shared capture (label samples).

#include "rinex_trip.h"
#include "roundtrip.h"

#include "StreamConverter.h"
#include "../view/view_support.h"

#include <filesystem>

namespace {

using namespace roundtrip;

using rinextrip::ownDate;

// Undated streams get any date: only GLONASS times (through the leap seconds) depend on it.
Gnss::GpsTime dateOf(const std::vector<Bytes>& frames) { return ownDate(frames).value_or(Gnss::GpsTime(2200, 0)); }

std::vector<Bytes> converted(const std::vector<Bytes>& frames, Produce::ConversionTarget target)
{
    Produce::StreamConverter converter(target);
    converter.setTimeHint(dateOf(frames));
    std::vector<Bytes> out;
    for (const Bytes& f : frames)
        for (Bytes& g : converter.add(f.data(), f.size()))
            out.push_back(std::move(g));
    for (Bytes& g : converter.finish())
        out.push_back(std::move(g));
    return out;
}

std::vector<Bytes> generated() { return viewtest::framesOf(viewtest::readFile(NUVRIX_SAMPLE_STREAM)); }

class WireRoundTrip : public ::testing::TestWithParam<std::string> {};

// Catches: a scale, range split, lock table, time scale or flag of the producer that differs
// from what the messages carry; a conversion that loses a satellite or signal.
TEST_P(WireRoundTrip, ProducesTheSameIntegers)
{
    const std::string kind = GetParam();
    const std::vector<Bytes> sample = generated();
    ASSERT_FALSE(sample.empty());
    std::vector<Bytes> frames = sample;
    if (kind != "generated")
        frames = converted(sample, *Produce::ConversionTarget::parse(kind));
    Trip trip(dateOf(frames), true);
    trip.run(frames);
    EXPECT_GE(trip.epochs, 10u);
    if (kind == "generated") {
        EXPECT_GT(trip.records, 10u);
    }
}

// Catches: a reader column, unit or flag that differs from what the writer writes; a producer
// that loses values RINEX holds.
TEST(RinexRoundTrip, KeepsEpochsAndValues)
{
    const std::vector<Bytes> sample = generated();
    rinextrip::trip(sample, dateOf(sample), ::testing::TempDir() + "/produce_rinex_generated");
}

INSTANTIATE_TEST_SUITE_P(Kinds, WireRoundTrip,
                         ::testing::Values("generated", "msm1", "msm2", "msm3", "msm4", "msm5", "msm6", "msm7", "legacy"));

// Catches: a target kind that drops satellites or signals it can carry, or reports a limit twice.
TEST(Conversion, KeepsWhatTheTargetCarries)
{
    const std::vector<Bytes> sample = generated();
    auto cells = [](const std::vector<Bytes>& frames, bool legacyOnly) {
        std::set<std::string> keys;  // "2024-06-04T09:15:00.000 G02 1C"
        for (const auto& c : rinextrip::flatten(rinextrip::viewOf(frames, dateOf(frames)).epochs, -1))
            if (!legacyOnly || (c.first[24] == 'G' && (c.first.substr(28) == "1C" || c.first.substr(28) == "2W"))
                || (c.first[24] == 'R' && (c.first[28] == '1' || c.first[28] == '2')))
                keys.insert(c.first);
        return keys;
    };
    ASSERT_FALSE(cells(sample, false).empty());
    EXPECT_EQ(cells(converted(sample, Produce::ConversionTarget::msm(4)), false), cells(sample, false));
    EXPECT_EQ(cells(converted(sample, Produce::ConversionTarget::legacy()), false), cells(sample, true));
    std::set<std::string> reported;
    Produce::StreamConverter converter(Produce::ConversionTarget::legacy());
    converter.setLimitReport([&](const std::string& what) { EXPECT_TRUE(reported.insert(what).second) << what; });
    for (const Bytes& f : sample)
        converter.add(f.data(), f.size());
    EXPECT_FALSE(reported.empty());
}

class CaptureRoundTrip : public ::testing::TestWithParam<std::string> {};

TEST_P(CaptureRoundTrip, ProducesTheSameIntegers)
{
    if (!viewtest::haveSamples())
        GTEST_SKIP() << "no captures";
    const std::vector<Bytes> frames = viewtest::framesOf(viewtest::readFile(GetParam()));
    Trip trip(dateOf(frames), false);
    trip.run(frames);
}

TEST_P(CaptureRoundTrip, ThroughRinex)
{
    if (!viewtest::haveSamples())
        GTEST_SKIP() << "no captures";
    const std::vector<Bytes> frames = viewtest::framesOf(viewtest::readFile(GetParam()));
    // RINEX holds one epoch per instant: without its own date, a capture's GLONASS and GPS
    // epochs may stand apart by the leap seconds of another year.
    if (const std::optional<Gnss::GpsTime> date = ownDate(frames))
        rinextrip::trip(frames, *date, ::testing::TempDir() + "/produce_rinex_" + std::to_string(std::hash<std::string>()(GetParam())));
}

std::vector<std::string> captures()
{
    std::vector<std::string> files;
    if (viewtest::haveSamples())
        for (const auto& e : std::filesystem::recursive_directory_iterator(viewtest::samplesDir()))
            if (e.is_regular_file() && e.path().extension() != ".md" && e.path().extension() != ".txt"
                && e.path().extension() != ".chk" && e.path().extension() != ".dcd")
                files.push_back(e.path().string());
    std::sort(files.begin(), files.end());
    if (files.empty())
        files.push_back("none");
    return files;
}

INSTANTIATE_TEST_SUITE_P(Captures, CaptureRoundTrip, ::testing::ValuesIn(captures()),
                         [](const ::testing::TestParamInfo<std::string>& i) {
                             std::string n = std::filesystem::path(i.param).filename().string();
                             for (char& c : n)
                                 if (!isalnum(static_cast<unsigned char>(c)))
                                     c = '_';
                             return n + "_" + std::to_string(i.index);
                         });

} // namespace
