#pragma once
// Observation epochs to RTCM 3 frames: MSM1-7 of every constellation, or the legacy messages
// 1001-1004 (GPS) and 1009-1012 (GLONASS).
//
//     ObservationProducer producer;                   // MSM7 for every system
//     producer.setKind(System::Gps, ObservationKind::legacy(1004));
//     for (const Frame& f : producer.produce(epoch)) write(f);
//
// All frames of one epoch but the last say that more follow (the multiple-message flag of
// MSMs, the synchronous flag of legacy messages), across systems. A system whose satellites
// and signals do not fit one frame (the cell mask's cells, the largest payload) is split by satellites
// into several frames of the same epoch. A value outside the range of its field is sent as
// the field's invalid value, never wrapped; what a kind cannot carry at all (a signal
// without a number in it, a system legacy messages do not have) is left out and reported
// once per reason through the limit callback.

#include "GnssData.h"

#include <array>
#include <cstdint>
#include <functional>
#include <set>
#include <string>
#include <vector>

namespace Kvt::Nuvrix::Produce {

using Frame = std::vector<uint8_t>;
using Gnss::System;

// Which message a system's observations go out in.
struct ObservationKind {
    int msmLevel = 7;          // 1..7; 0 for legacy messages; -1: the system is not sent
    int legacyNumber = 0;      // 1001..1004 (GPS, also SBAS) or 1009..1012 (GLONASS)

    static ObservationKind msm(int level) { return {level, 0}; }
    static ObservationKind legacy(int number) { return {0, number}; }
    static ObservationKind none() { return {-1, 0}; }
    bool isLegacy() const { return msmLevel == 0; }
    bool sent() const { return msmLevel >= 0; }
};

// The MSM message number of a system and level (GPS MSM7: 1077).
int msmMessageNumber(System system, int level);

class ObservationProducer {
public:
    using LimitReport = std::function<void(const std::string&)>;

    ObservationProducer();

    void setKind(System system, const ObservationKind& kind);
    // The same kind for every system; legacy means 1004 for GPS and SBAS (in the same
    // messages) and 1012 for GLONASS (1003 and 1011 without `extended`, 1002 and 1010
    // without `dualFrequency`) and nothing else, which legacy messages cannot carry.
    void setAllMsm(int level);
    void setAllLegacy(bool extended = true, bool dualFrequency = true);
    ObservationKind kind(System system) const;
    void setIods(int iods) { mIods = iods & 7; }
    // Called once for each distinct thing the chosen kinds cannot carry.
    void setLimitReport(LimitReport report) { mReport = std::move(report); }

    // The frames of one epoch, in system order; empty if nothing of it can be sent.
    std::vector<Frame> produce(const Gnss::ObservationEpoch& epoch);

private:
    friend struct MsmBuilder;
    void report(const std::string& what);
    void msmFrames(const Gnss::ObservationEpoch& epoch, System system, int level, std::vector<Frame>& out);
    void legacyFrames(const Gnss::ObservationEpoch& epoch, System system, int number, std::vector<Frame>& out);

    std::array<ObservationKind, Gnss::kSystemCount> mKinds;
    int mIods = 0;
    LimitReport mReport;
    std::set<std::string> mReported;
};

// Lock time indicators from a lock time in seconds: the largest indicator whose minimum
// lock time does not exceed it (0 when unknown).
int msmLockIndicator(double lockTimeS);
int msmExtendedLockIndicator(double lockTimeS);
int legacyLockIndicator(double lockTimeS);

} // namespace Kvt::Nuvrix::Produce
