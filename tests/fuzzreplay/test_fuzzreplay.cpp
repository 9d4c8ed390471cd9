// Replays every saved fuzz finding (fuzz/regressions/<target>/) and a few hostile built-in
// inputs through the same entry functions the fuzz targets call, each in a child process so
// a crash, sanitizer report or leak fails that input alone. Also pins down how the entry
// functions read their input, so seeds and saved findings keep meaning what they meant.

#include "../../fuzz/codec_targets.h"
#include "../support/random_record.h"
#include "stream_inputs.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <ostream>
#include <random>
#include <string>
#include <vector>

using namespace Kvt::Nuvrix;
using nuvrixfuzz::Bytes;
using nuvrixfuzz::Reencode;

namespace {

namespace fs = std::filesystem;

using Entry = void (*)(const Bytes&);

struct ReplayInput;
struct Target;
using BuiltIns = std::vector<ReplayInput> (*)(const Target&);

struct Target {
    const char* name;
    Entry run;
    BuiltIns builtIn;
};

struct ReplayInput {
    const Target* target;
    std::string name;
    Bytes bytes;
};

std::vector<ReplayInput> builtInInputs(const Target& t);
std::vector<ReplayInput> builtInStreamInputs(const Target& t);

const Target kTargets[] = {
    {"fuzz_codec_decode", [](const Bytes& in) { nuvrixfuzz::fuzzCodecDecode(in.data(), in.size()); },
     builtInInputs},
    {"fuzz_codec_reencode", [](const Bytes& in) { nuvrixfuzz::fuzzCodecReencode(in.data(), in.size()); },
     builtInInputs},
    {"fuzz_stream", [](const Bytes& in) { nuvrixfuzz::fuzzStream(in.data(), in.size()); }, builtInStreamInputs},
};

void PrintTo(const ReplayInput& input, std::ostream* out)
{
    *out << input.target->name << " " << input.name << " (" << input.bytes.size() << " bytes)";
}

Bytes readFile(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

Bytes frameOf(int enumerator, int groupSize)
{
    std::mt19937_64 rng(static_cast<uint64_t>(enumerator));
    return randomrecord::randomFrame(enumerator, rng, groupSize).frame;
}

Bytes concat(Bytes a, const Bytes& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

Bytes noise(size_t size)
{
    std::mt19937 rng(7);
    Bytes out(size);
    std::generate(out.begin(), out.end(), [&] { return static_cast<uint8_t>(rng()); });
    return out;
}

// Hostile inputs each target must survive even before anything was ever found: empty and
// truncated headers, a frame clipped out of an oversized input, groups cut short, noise.
std::vector<ReplayInput> builtInInputs(const Target& t)
{
    const Bytes msm = frameOf(RTCM3_MESSAGE_TYPE_1077, 3);
    const Bytes strings = frameOf(RTCM3_MESSAGE_TYPE_1033, 2);
    const Bytes header1005 = {0xD3, 0x00, 0x13, 0x3E, 0xD0};
    const Bytes allEnabled = nuvrixfuzz::decodeInputAllEnabled({});
    const Bytes cutGroup(msm.begin(), msm.begin() + static_cast<long>(msm.size() / 2));
    return {
        {&t, "Empty", {}},
        {&t, "LonePreamble", {0xD3}},
        {&t, "HeaderWithoutBody", header1005},
        {&t, "EnablePrefixWithoutFrame", allEnabled},
        {&t, "OversizedInputIsClipped", concat(concat(allEnabled, msm), Bytes(70000, 0xFF))},
        {&t, "GroupCutShort", concat(allEnabled, cutGroup)},
        {&t, "StringsWithSelectorMax", concat({0xFF, 0xFF}, strings)},
        {&t, "Noise", noise(1500)},
    };
}

std::vector<ReplayInput> builtInStreamInputs(const Target& t)
{
    std::vector<ReplayInput> out;
    for (const streaminputs::Named& input : streaminputs::hostileStreams())
        out.push_back({&t, input.name, input.bytes});
    return out;
}

std::string testName(const std::string& name)
{
    std::string out;
    for (const char c : name)
        out += std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
    return out;
}

// Built-in inputs first, then every saved finding; hidden files (.gitkeep) are not inputs.
std::vector<ReplayInput> replayInputs()
{
    std::vector<ReplayInput> out;
    for (const Target& t : kTargets) {
        const std::vector<ReplayInput> builtIn = t.builtIn(t);
        out.insert(out.end(), builtIn.begin(), builtIn.end());
        const fs::path folder = fs::path(NUVRIX_SOURCE_DIR) / "fuzz" / "regressions" / t.name;
        std::vector<fs::path> files;
        if (fs::is_directory(folder))
            for (const fs::directory_entry& entry : fs::directory_iterator(folder))
                if (entry.is_regular_file() && entry.path().filename().string()[0] != '.')
                    files.push_back(entry.path());
        std::sort(files.begin(), files.end());
        for (const fs::path& file : files)
            out.push_back({&t, "saved_" + file.filename().string(), readFile(file)});
    }
    return out;
}

class Replay : public ::testing::TestWithParam<ReplayInput> {};

class EveryMessage : public ::testing::TestWithParam<int> {};

} // namespace

TEST_P(Replay, InputRunsCleanWithoutCrashLeakOrAbort)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    const ReplayInput& input = GetParam();
    // Exiting through std::exit runs the leak check of a sanitizer build, as the fuzzer does.
    EXPECT_EXIT(
        {
            input.target->run(input.bytes);
            std::exit(0);
        },
        ::testing::ExitedWithCode(0), "");
}

INSTANTIATE_TEST_SUITE_P(Fuzz, Replay, ::testing::ValuesIn(replayInputs()),
                         [](const ::testing::TestParamInfo<ReplayInput>& info) {
                             return testName(std::string(info.param.target->name) + "_" + info.param.name);
                         });

// A mistaken prefix rule would let the fuzzer spend its time on frames the decoder rejects
// before looking at them.
TEST_P(EveryMessage, DecodeEntryReadsTheEnableSetPrefix)
{
    const int e = GetParam();
    const randomrecord::Encoded encoded = [&] {
        std::mt19937_64 rng(static_cast<uint64_t>(e));
        return randomrecord::randomFrame(e, rng, 2);
    }();
    ASSERT_GT(encoded.bits, 0);
    const Bytes& frame = encoded.frame;

    EXPECT_EQ(nuvrixfuzz::fuzzCodecDecode(nuvrixfuzz::decodeInputAllEnabled(frame).data(), frame.size() + 20),
              encoded.bits);
    EXPECT_EQ(nuvrixfuzz::fuzzCodecDecode(nuvrixfuzz::decodeInputWithoutContext(frame).data(), frame.size() + 20),
              encoded.bits);

    uint8_t allButThis[nuvrixfuzz::kEnablePrefix];
    std::memset(allButThis, 0xFF, sizeof allButThis);
    allButThis[0] &= static_cast<uint8_t>(~nuvrixfuzz::kNullContextFlag);
    layout::setEnabled(allButThis, e, false);
    EXPECT_EQ(nuvrixfuzz::fuzzCodecDecode(nuvrixfuzz::decodeInput(allButThis, frame).data(), frame.size() + 20),
              RTCM3_layout(e)->disabledCode);
}

// The re-encode target must reach its round-trip check when the buffer fits, and the
// refusal path when it is one byte short.
TEST_P(EveryMessage, ReencodeEntryRoundTripsWhenTheBufferFitsAndRefusesWhenShort)
{
    for (const int groupSize : {0, 2}) {
        const Bytes frame = frameOf(GetParam(), groupSize);
        ASSERT_FALSE(frame.empty());
        const size_t n = frame.size();
        const auto run = [&](size_t capacity) {
            const Bytes input = nuvrixfuzz::reencodeInput(nuvrixfuzz::selectorFor(n, capacity), frame);
            return nuvrixfuzz::fuzzCodecReencode(input.data(), input.size());
        };
        EXPECT_EQ(run(n), Reencode::RoundTripped) << "groups of " << groupSize;
        EXPECT_EQ(run(n + nuvrixfuzz::kBufferSlack), Reencode::RoundTripped) << "groups of " << groupSize;
        EXPECT_EQ(run(n - 1), Reencode::EncodeRefused) << "groups of " << groupSize;
        EXPECT_EQ(run(0), Reencode::EncodeRefused) << "groups of " << groupSize;
    }
}

INSTANTIATE_TEST_SUITE_P(Fuzz, EveryMessage, ::testing::ValuesIn(randomrecord::messageEnumerators()),
                         [](const ::testing::TestParamInfo<int>& info) {
                             return std::string(RTCM3_message_enum_to_string(info.param)).substr(6);
                         });

// Inputs shorter than the prefix are frames on their own, so the fuzzer also tries short
// frames without having to grow a prefix first.
TEST(FuzzEntry, InputShorterThanThePrefixIsAFrameDecodedWithoutContext)
{
    randomrecord::Encoded shortest{{}, 0};
    for (const int e : randomrecord::messageEnumerators()) {
        std::mt19937_64 rng(static_cast<uint64_t>(e));
        const randomrecord::Encoded encoded = randomrecord::randomFrame(e, rng, 0);
        if (encoded.bits > 0 && (shortest.bits <= 0 || encoded.frame.size() < shortest.frame.size()))
            shortest = encoded;
    }
    ASSERT_LT(shortest.frame.size(), nuvrixfuzz::kEnablePrefix) << "no message encodes that short";
    EXPECT_EQ(nuvrixfuzz::fuzzCodecDecode(shortest.frame.data(), shortest.frame.size()), shortest.bits);
}

// The dictionary is written once and committed: a message added to the list must be added there.
TEST(FuzzDictionary, NamesThePreambleAndEveryMessageNumberAsItStandsInTheFrame)
{
    std::ifstream in(fs::path(NUVRIX_SOURCE_DIR) / "fuzz" / "rtcm3.dict");
    const std::string dict((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    ASSERT_FALSE(dict.empty());
    EXPECT_NE(dict.find("\"\\xD3\""), std::string::npos);
    for (const int e : randomrecord::messageEnumerators()) {
        const unsigned n = RTCM3_layout(e)->messageNumber;
        char entry[16];
        std::snprintf(entry, sizeof entry, "\"\\x%02X\\x%02X\"", n >> 4, (n & 0xF) << 4);
        EXPECT_NE(dict.find(entry), std::string::npos) << "message " << n;
    }
}
