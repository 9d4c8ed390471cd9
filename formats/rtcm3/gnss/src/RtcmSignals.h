#pragma once
// What the numbers of an RTCM 3 observation message stand for: the constellation and level of
// an MSM, satellites and signals of its masks in RINEX 3 names, and lock times in seconds.

#include "GnssIds.h"

#include <array>
#include <optional>

namespace Kvt::Nuvrix::View {

using Gnss::SatId;
using Gnss::SignalCode;
using Gnss::System;

constexpr int kMsmSignalIds = 32;    // signal mask bits, ids 1..32
constexpr int kMsmSatelliteIds = 64; // satellite mask bits, ids 1..64

// The constellation and level (1..7) of an MSM message number (1071..1137), or nothing.
std::optional<System> msmSystem(int messageNumber);
int msmLevel(int messageNumber);

// The RINEX 3 code of MSM signal id 1..32 of a constellation; nothing for a reserved id.
std::optional<SignalCode> msmSignal(System system, int signalId);

// The satellite of MSM satellite id 1..64: a PRN, offset for SBAS (120) and QZSS (193).
// Every satellite of every MSM asks: a table made once, before main.
extern const std::array<std::array<std::optional<SatId>, kMsmSatelliteIds>, Gnss::kSystemCount> kMsmSatellites;
inline std::optional<SatId> msmSatellite(System system, int satelliteId)
{
    const int index = static_cast<int>(system);
    if (satelliteId < 1 || satelliteId > kMsmSatelliteIds || index < 0 || index >= Gnss::kSystemCount)
        return std::nullopt;
    return kMsmSatellites[std::size_t(index)][std::size_t(satelliteId - 1)];
}

// Minimum lock time in seconds of a lock time indicator: the 4-bit indicator of MSM1-5,
// the 10-bit one of MSM6-7 and the 7-bit one of 1001-1004 and 1009-1012. Nothing for a
// reserved value.
std::optional<double> msmLockTimeS(int indicator);
std::optional<double> msmExtendedLockTimeS(int indicator);
std::optional<double> legacyLockTimeS(int indicator);

} // namespace Kvt::Nuvrix::View
