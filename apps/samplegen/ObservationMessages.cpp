// Multiple signal messages: MSM4 and MSM7 of GPS, GLONASS, Galileo and BeiDou.

#include "MessageBuilders.h"
#include "Record.h"
#include "SampleTime.h"
#include "Scaling.h"
#include "SkyModel.h"

#include <algorithm>
#include <cmath>
#include <string>

namespace Kvt::Nuvrix::SampleGen {

namespace {

constexpr int kMaxCells = wire::Msm::Cell_Mask.capacity;

// Ranges are sent as a coarse value per satellite (whole milliseconds and 1/1024 ms) plus a
// fine remainder per signal, all in light-milliseconds.
struct RoughRange {
    uint8_t wholeMs;
    uint16_t mod1ms;
    double metres;
};

namespace sat = units::MSM_Satellite_Data;
namespace sig = units::MSM_Signal_Data;

RoughRange roughRange(double pseudorange)
{
    const units::Physical& part = sat::Satellite_Rough_Range_Mod_1ms;
    const double perMs = double(part.highest + 1);
    const double steps = std::round(pseudorange / part.scale);
    const double wholeMs = std::floor(steps / perMs);
    RoughRange r{0, static_cast<uint16_t>(steps - wholeMs * perMs), steps * part.scale};
    put(r.wholeMs, wholeMs * sat::Satellite_Rough_Range_Integer_ms.scale, sat::Satellite_Rough_Range_Integer_ms, "rough range");
    return r;
}

// Lock time as the 4-bit indicator: the largest 2^(i+4) ms not above the time locked.
uint8_t lockIndicator(double seconds)
{
    const double ms = seconds * 1000.0;
    if (ms < 32)
        return 0;
    constexpr int kLast = int(wire::Message_Type_1074::MSM_Signal_Data::PhaseRange_Lock_Time_Indicator.highest);
    return static_cast<uint8_t>(std::min(kLast, int(std::floor(std::log2(ms))) - 4));
}

// Lock time as the 10-bit indicator: 1 ms steps up to 64 ms, then steps that double every 32
// indicator values.
uint16_t extendedLockIndicator(double seconds)
{
    const double ms = seconds * 1000.0;
    double atIndex = 0;
    for (int i = 0; i < 704; ++i) {
        const double step = i < 64 ? 1.0 : std::ldexp(1.0, (i - 64) / 32 + 1);
        if (atIndex + step > ms)
            return static_cast<uint16_t>(i);
        atIndex += step;
    }
    return 704;
}

uint64_t satelliteBit(int id)
{
    return uint64_t(1) << (wire::Msm::Satellite_Mask.bits - id);
}

uint32_t signalBit(int id)
{
    return uint32_t(1) << (wire::Msm::Signal_Mask.bits - id);
}

template <typename Rec>
void fillEpochTime(Rec& r, System system, double gpsTow)
{
    if (system == System::Glonass) {
        const GlonassTime glonass = glonassFromGps(gpsTow);
        r.Day_of_Week = static_cast<uint8_t>(glonass.dayOfWeek);
        put(r.Epoch_Time, glonass.secondOfDay, units::Msm::Epoch_Time, "epoch time");
    } else {
        const double tow = SkyModel::systemTow(system, gpsTow);
        put(r.Epoch_Time, tow, units::Msm::Epoch_Time, "epoch time");
    }
}

template <typename Rec>
void fillMasks(Rec& r, const EpochObservations& epoch)
{
    for (const SatelliteObservation& sat : epoch.satellites)
        r.Satellite_Mask |= satelliteBit(sat.satellite->id);
    for (int id : epoch.signalIds)
        r.Signal_Mask |= signalBit(id);
    r.Nsat = static_cast<uint8_t>(epoch.satellites.size());
    r.Nsig = static_cast<uint8_t>(epoch.signalIds.size());
    if (r.Nsat * r.Nsig > kMaxCells)
        throw SampleError("more cells than one observation message holds");
    r.Cell_Mask_Length = static_cast<uint8_t>(r.Nsat * r.Nsig);
    int cell = 0;
    for (const SatelliteObservation& sat : epoch.satellites) {
        // A satellite tracks a leading run of the measurements, so its cells are 1s then 0s.
        for (size_t k = 0; k < epoch.signalIds.size(); ++k)
            r.Cell_Mask[cell++] = k < sat.measurements.size();
        r.Ncell = static_cast<uint8_t>(r.Ncell + sat.measurements.size());
    }
}

template <typename Rec>
void fillHeader(Rec& r, const EpochObservations& epoch, bool moreFollow)
{
    r.Reference_Station_ID = kReferenceStationId;
    fillEpochTime(r, epoch.system, epoch.gpsTow);
    r.Multiple_Message_Flag = moreFollow;
    r.IODS = 0;
    r.Clock_Steering_Indicator = 1;
    r.External_Clock_Indicator = 0;
    r.Smoothing_Indicator = 0;
    r.Smoothing_Interval = 0;
    fillMasks(r, epoch);
}

template <typename Rec>
void fillSatelliteData(Rec& r, const EpochObservations& epoch, bool msm7)
{
    RTCM3_MSM_Satellite_Data_s& d = r.MSM_Satellite_Data;
    for (size_t i = 0; i < epoch.satellites.size(); ++i) {
        const SatelliteObservation& sat = epoch.satellites[i];
        const RoughRange rough = roughRange(sat.measurements.front().pseudorange);
        d.Satellite_Rough_Range_Integer_ms[i] = rough.wholeMs;
        d.Satellite_Rough_Range_Mod_1ms[i] = rough.mod1ms;
        if (!msm7)
            continue;
        // The 4-bit satellite field holds the GLONASS frequency channel as its own field does,
        // and is reserved (0) for the other systems.
        const uint8_t info = epoch.system == System::Glonass
            ? units::rawOf<uint8_t>(sat::GLONASS_Satellite_Frequency_Channel_Number, sat.satellite->glonassChannel) : 0;
        d.Extended_Satellite_Information[i] = info;
        d.GLONASS_Satellite_Frequency_Channel_Number[i] = info;
        put(d.Satellite_Rough_PhaseRangeRate[i], sat.measurements.front().phaseRangeRate,
            sat::Satellite_Rough_PhaseRangeRate, "rough phase range rate");
    }
}

void fillMsm4Cell(RTCM3_MSM_Signal_Data_s& d, int cell, const SignalObservation& s, double rough)
{
    put(d.Fine_PseudoRange[cell], s.pseudorange - rough, sig::Fine_PseudoRange, "fine pseudorange");
    put(d.Fine_PhaseRange[cell], s.phaseRange - rough, sig::Fine_PhaseRange, "fine phase range");
    d.PhaseRange_Lock_Time_Indicator[cell] = lockIndicator(s.lockTime);
    d.HalfCycle_Ambiguity_Indicator[cell] = 0;
    put(d.CNR[cell], s.cnr, sig::CNR, "CNR");
}

void fillMsm7Cell(RTCM3_MSM_Signal_Data_s& d, int cell, const SignalObservation& s, double rough,
                  double roughRate)
{
    put(d.Fine_PseudoRange_Extended_Resolution[cell], s.pseudorange - rough, sig::Fine_PseudoRange_Extended_Resolution,
        "fine pseudorange");
    put(d.Fine_PhaseRange_Extended_Resolution[cell], s.phaseRange - rough, sig::Fine_PhaseRange_Extended_Resolution,
        "fine phase range");
    d.PhaseRange_Lock_Time_Indicator_Extended_Resolution[cell] = extendedLockIndicator(s.lockTime);
    d.HalfCycle_Ambiguity_Indicator[cell] = 0;
    put(d.CNR_Extended_Resolution[cell], s.cnr, sig::CNR_Extended_Resolution, "CNR");
    put(d.Fine_PhaseRangeRate[cell], s.phaseRangeRate - roughRate, sig::Fine_PhaseRangeRate, "fine phase range rate");
}

template <typename Rec>
void fillSignalData(Rec& r, const EpochObservations& epoch, bool msm7)
{
    int cell = 0;
    for (const SatelliteObservation& sat : epoch.satellites) {
        const double rough = roughRange(sat.measurements.front().pseudorange).metres;
        const double roughRate = std::round(sat.measurements.front().phaseRangeRate);
        for (const SignalObservation& signal : sat.measurements) {
            if (msm7)
                fillMsm7Cell(r.MSM_Signal_Data, cell++, signal, rough, roughRate);
            else
                fillMsm4Cell(r.MSM_Signal_Data, cell++, signal, rough);
        }
    }
}

template <typename Rec>
QByteArray msm(const EpochContext& context, System system, bool msm7)
{
    const EpochObservations epoch = context.sky.observe(system, context.gpsTow);
    Record<Rec> record;
    fillHeader(*record, epoch, context.moreObservationsFollow);
    fillSatelliteData(*record, epoch, msm7);
    fillSignalData(*record, epoch, msm7);
    return record.frame();
}

} // namespace

QByteArray buildObservationMessage(uint16_t number, const EpochContext& context)
{
    switch (number) {
    case 1074: return msm<RTCM3_Message_Type_1074_s>(context, System::Gps, false);
    case 1077: return msm<RTCM3_Message_Type_1077_s>(context, System::Gps, true);
    case 1084: return msm<RTCM3_Message_Type_1084_s>(context, System::Glonass, false);
    case 1087: return msm<RTCM3_Message_Type_1087_s>(context, System::Glonass, true);
    case 1094: return msm<RTCM3_Message_Type_1094_s>(context, System::Galileo, false);
    case 1097: return msm<RTCM3_Message_Type_1097_s>(context, System::Galileo, true);
    case 1124: return msm<RTCM3_Message_Type_1124_s>(context, System::BeiDou, false);
    case 1127: return msm<RTCM3_Message_Type_1127_s>(context, System::BeiDou, true);
    default: throw SampleError("no observation builder for message " + std::to_string(number));
    }
}

} // namespace Kvt::Nuvrix::SampleGen
