#include "RtcmSignals.h"

#include "RTCM3_families.h"

#include <array>

namespace Kvt::Nuvrix::View {

namespace {

// MSM signal ids to RINEX 3 observation codes, one row per constellation, index = id - 1;
// "" marks a reserved id. From the MSM signal ID tables of RTCM 10403.3 with its amendments
// (one table per constellation in the MSM section: GPS, GLONASS, Galileo, SBAS, QZSS,
// BeiDou, NavIC), with the codes named as RINEX 3.05 names them (its observation code
// tables 4 to 10).
// clang-format off
constexpr const char* kSignals[Gnss::kSystemCount][kMsmSignalIds] = {
    // GPS: L1 C/A, P, Z-tracking; L2 C/A, P, Z; L2C M, L, M+L; L5 I, Q, I+Q; L1C D, P, D+P
    {"",   "1C", "1P", "1W", "",   "",   "",   "2C", "2P", "2W", "",   "",   "",   "",   "2S", "2L",
     "2X", "",   "",   "",   "",   "5I", "5Q", "5X", "",   "",   "",   "",   "",   "1S", "1L", "1X"},
    // GLONASS: G1 C/A, P; G2 C/A, P
    {"",   "1C", "1P", "",   "",   "",   "",   "2C", "2P", "",   "",   "",   "",   "",   "",   "",
     "",   "",   "",   "",   "",   "",   "",   "",   "",   "",   "",   "",   "",   "",   "",   ""},
    // Galileo: E1 C, A, B, B+C, A+B+C; E6 C, A, B, B+C, A+B+C; E5b I, Q, I+Q; E5 I, Q, I+Q;
    // E5a I, Q, I+Q
    {"",   "1C", "1A", "1B", "1X", "1Z", "",   "6C", "6A", "6B", "6X", "6Z", "",   "7I", "7Q", "7X",
     "",   "8I", "8Q", "8X", "",   "5I", "5Q", "5X", "",   "",   "",   "",   "",   "",   "",   ""},
    // SBAS: L1 C/A; L5 I, Q, I+Q
    {"",   "1C", "",   "",   "",   "",   "",   "",   "",   "",   "",   "",   "",   "",   "",   "",
     "",   "",   "",   "",   "",   "5I", "5Q", "5X", "",   "",   "",   "",   "",   "",   "",   ""},
    // QZSS: L1 C/A; L6 S, L, S+L; L2C M, L, M+L; L5 I, Q, I+Q; L1C D, P, D+P
    {"",   "1C", "",   "",   "",   "",   "",   "",   "6S", "6L", "6X", "",   "",   "",   "2S", "2L",
     "2X", "",   "",   "",   "",   "5I", "5Q", "5X", "",   "",   "",   "",   "",   "1S", "1L", "1X"},
    // BeiDou: B1I I, Q, I+Q; B3I I, Q, I+Q; B2I I, Q, I+Q; B2a D, P, D+P; B2b I; B1C D, P, D+P
    {"",   "2I", "2Q", "2X", "",   "",   "",   "6I", "6Q", "6X", "",   "",   "",   "7I", "7Q", "7X",
     "",   "",   "",   "",   "",   "5D", "5P", "5X", "7D", "",   "",   "",   "",   "1D", "1P", "1X"},
    // NavIC: S-band SPS; L5 SPS
    {"",   "",   "",   "",   "",   "",   "",   "9A", "",   "",   "",   "",   "",   "",   "",   "",
     "",   "",   "",   "",   "",   "5A", "",   "",   "",   "",   "",   "",   "",   "",   "",   ""},
};
// clang-format on

constexpr System kMsmSystems[] = {System::Gps,  System::Glonass, System::Galileo, System::Sbas,
                                  System::Qzss, System::BeiDou,  System::NavIC};

} // namespace

std::optional<System> msmSystem(int messageNumber)
{
    if (messageNumber < 1071 || messageNumber > 1137)
        return std::nullopt;
    const int offset = messageNumber - 1071;
    if (offset % 10 > 6)
        return std::nullopt;
    return kMsmSystems[offset / 10];
}

int msmLevel(int messageNumber) { return msmSystem(messageNumber) ? (messageNumber - 1071) % 10 + 1 : 0; }

std::optional<SignalCode> msmSignal(System system, int signalId)
{
    if (signalId < 1 || signalId > kMsmSignalIds)
        return std::nullopt;
    const char* code = kSignals[static_cast<int>(system)][signalId - 1];
    if (code[0] == '\0')
        return std::nullopt;
    return SignalCode{code[0], code[1]};
}

namespace {

std::optional<SatId> satelliteOfId(System system, int satelliteId)
{
    switch (system) {
    case System::Sbas: return Gnss::satelliteFromPrn(system, satelliteId + 119);
    case System::Qzss: return Gnss::satelliteFromPrn(system, satelliteId + 192);
    default: return Gnss::satelliteFromPrn(system, satelliteId);
    }
}

} // namespace

const std::array<std::array<std::optional<SatId>, kMsmSatelliteIds>, Gnss::kSystemCount> kMsmSatellites = [] {
    std::array<std::array<std::optional<SatId>, kMsmSatelliteIds>, Gnss::kSystemCount> t{};
    for (int s = 0; s < Gnss::kSystemCount; ++s)
        for (int id = 1; id <= kMsmSatelliteIds; ++id)
            t[std::size_t(s)][std::size_t(id - 1)] = satelliteOfId(System(s), id);
    return t;
}();

std::optional<double> msmLockTimeS(int indicator)
{
    // 0: under 32 ms; then 2^(i + 4) ms.
    if (indicator < 0 || indicator > wire::Message_Type_1074::MSM_Signal_Data::PhaseRange_Lock_Time_Indicator.highest)
        return std::nullopt;
    return indicator == 0 ? 0.0 : double(1 << (indicator + 4)) / 1000.0;
}

std::optional<double> msmExtendedLockTimeS(int indicator)
{
    // 0..63 in ms, then steps of 32 values each doubling the resolution: 2^k i - k 2^(k+5) ms
    // for k = 1..21; 705 and above are reserved. Every cell of every MSM6-7 asks: a table.
    static const auto kSeconds = [] {
        std::array<double, 705> s{};
        for (int i = 0; i < int(s.size()); ++i) {
            const int k = i < 64 ? 0 : (i - 64) / 32 + 1;
            s[std::size_t(i)] = double((1LL << k) * i - k * (1LL << (k + 5))) / 1000.0;
        }
        return s;
    }();
    if (indicator < 0 || indicator >= int(kSeconds.size()))
        return std::nullopt;
    return kSeconds[std::size_t(indicator)];
}

std::optional<double> legacyLockTimeS(int indicator)
{
    // Steps of 24 indicator values doubling the resolution; the top value stands for 937 s and more.
    constexpr int kTop = int(wire::Message_Type_1004::L1_L2_Extended::Refsig_Basic::Lock_Time_Indicator.highest);
    if (indicator < 0 || indicator > kTop)
        return std::nullopt;
    if (indicator == kTop)
        return 937.0;
    if (indicator < 24)
        return double(indicator);
    static constexpr int kOffsets[] = {0, 24, 120, 408, 1176, 3096};
    const int k = indicator / 24;
    return double((1 << k) * indicator - kOffsets[k]);
}

} // namespace Kvt::Nuvrix::View
