#pragma once
// Shared by the comparisons with Debian's convbin (view and RINEX): the captures that take
// part, the peer's run and what of its output holds no observations.

#include "../view/view_support.h"
#include "rinex_reader.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <sstream>

namespace peertest {

using viewtest::Bytes;
namespace fs = std::filesystem;

inline const char* const kConvbin = "/usr/bin/convbin";
// For captures without a time reference of their own: the middle of a week, where the nearest
// week (ours) and the hint's own week (the peer's) are the same.
inline const Kvt::Gnss::GpsTime kHint = Kvt::Gnss::GpsTime::fromCalendar({2021, 2, 3, 12, 0, 0.0});

inline int messageNumber(const Bytes& f) { return f.size() > 5 ? (f[3] << 4 | f[4] >> 4) : 0; }

inline bool isObservation(int n)
{
    // MSM1-7 of GPS, GLONASS, Galileo, SBAS, QZSS, BeiDou and NavIC: 1071-1077 ... 1131-1137.
    const bool msm = n >= 1071 && n <= 1137 && n % 10 >= 1 && n % 10 <= 7;
    return (n >= 1001 && n <= 1004) || (n >= 1009 && n <= 1012) || msm;
}

// The message numbers of a capture's CRC-correct frames, by a walker of its own: the list of
// captures must not depend on the decoder under test, or a fault could quietly empty it.
inline std::vector<int> messageNumbersOf(const Bytes& bytes)
{
    const auto crc24q = [&](size_t from, size_t n) {
        uint32_t crc = 0;
        for (size_t i = from; i < from + n; ++i) {
            crc ^= uint32_t(bytes[i]) << 16;
            for (int k = 0; k < 8; ++k)
                crc = (crc << 1) ^ ((crc & 0x800000) ? 0x864CFB : 0);
        }
        return crc & 0xFFFFFF;
    };
    std::vector<int> numbers;
    for (size_t i = 0; i + 6 <= bytes.size();) {
        const size_t length = size_t(bytes[i + 1] & 3) << 8 | bytes[i + 2];
        if (bytes[i] != 0xD3 || i + 6 + length > bytes.size() || length < 2
            || crc24q(i, 3 + length) != (uint32_t(bytes[i + 3 + length]) << 16 | uint32_t(bytes[i + 4 + length]) << 8 | bytes[i + 5 + length])) {
            ++i;
            continue;
        }
        numbers.push_back(bytes[i + 3] << 4 | bytes[i + 4] >> 4);
        i += 6 + length;
    }
    return numbers;
}

// The shared captures with a message `wanted` accepts. rtcm-rs and go-gnss-rtcm hold single
// generated messages (fields all zero, at their maximum or random), not a receiver's epochs.
inline std::vector<std::string> captures(bool (*wanted)(int))
{
    std::vector<std::string> out;
    if (!viewtest::haveSamples())
        return out;
    for (const auto& e : fs::recursive_directory_iterator(viewtest::samplesDir())) {
        const std::string ext = e.path().extension().string();
        const std::string folder = e.path().parent_path().filename().string();
        if (!e.is_regular_file() || ext == ".md" || ext == ".txt" || ext == ".chk" || ext == ".dcd"
            || folder == "rtcm-rs" || folder == "go-gnss-rtcm")
            continue;
        const std::vector<int> numbers = messageNumbersOf(viewtest::readFile(e.path().string()));
        if (std::any_of(numbers.begin(), numbers.end(), wanted))
            out.push_back(e.path().string());
    }
    std::sort(out.begin(), out.end());
    return out;
}

// How far a value of ours may be from the peer's: its print precision, and a quarter dB-Hz.
inline double tolerance(char type) { return type == 'S' ? 0.26 : 0.002; }

inline rinexreader::EpochTime epochOf(const Kvt::Gnss::GpsTime& t)
{
    const Kvt::Gnss::DateTime d = t.toCalendar();
    return {d.year, d.month, d.day, d.hour, d.minute, d.second};
}

inline std::string convbinTime(const rinexreader::EpochTime& t)
{
    char text[32];
    std::snprintf(text, sizeof text, "%04d/%02d/%02d %02d:%02d:%02d", t.year, t.month, t.day, t.hour, t.minute,
                  int(t.second));
    return text;
}

// convbin's RINEX 3.04 (or `version`) of a capture dated from `hint`, observations to `obs`,
// navigation to `nav` where given (`more`: further output options, e.g. "-g file"); false where
// it fails. The version goes first: -tr takes the argument after its date as the time of day.
inline bool runConvbin(const std::string& path, const rinexreader::EpochTime& hint, const std::string& obs,
                       const std::string& nav = {}, const char* version = "3.04", const std::string& more = {})
{
    const std::string cmd = std::string(kConvbin) + " -v " + version + " -r rtcm3 -tr \"" + convbinTime(hint)
        + "\" -v 3.04 -od -os -o " + obs + (nav.empty() ? "" : " -n " + nav) + " " + more + " '" + path
        + "' >/dev/null 2>&1";
    return std::system(cmd.c_str()) == 0;
}

// The peer's observation file without the event records (no '>') and new station's header
// lines it writes at a change of station: they hold no observations.
inline rinexreader::ObsFile peerObs(const std::string& path)
{
    std::istringstream in(rinexreader::readText(path));
    std::string line, out;
    while (std::getline(in, line)) {
        if (line.size() >= 35 && line[0] != '>' && line.find_first_not_of(' ') == 31) {
            for (int skip = std::atoi(line.c_str() + 32); skip > 0 && std::getline(in, line); --skip) {
            }
            continue;
        }
        out += line + '\n';
    }
    return rinexreader::parseObs(out);
}

inline std::string captureName(const ::testing::TestParamInfo<std::string>& info)
{
    std::string n = fs::path(info.param).parent_path().filename().string() + "_" + fs::path(info.param).filename().string();
    for (char& c : n)
        if (!std::isalnum(static_cast<unsigned char>(c)))
            c = c == '.' ? 'x' : '_';
    return n;
}

// Says why a comparison does not run, or that it has captures to run on.
inline void expectRunnable(const std::vector<std::string>& captures)
{
    if (!fs::exists(kConvbin))
        GTEST_SKIP() << "convbin is not installed: the peer comparison does not run";
    if (!viewtest::haveSamples())
        GTEST_SKIP() << "no samples folder at " << viewtest::samplesDir() << ": the peer comparison does not run";
    EXPECT_FALSE(captures.empty());
}

} // namespace peertest
