// State-space corrections for GPS and GLONASS: orbit, clock, code biases, combined orbit and
// clock, user range accuracy and high-rate clock, as a correction service sends them.

#include "MessageBuilders.h"
#include "Record.h"
#include "SampleTime.h"
#include "Scaling.h"
#include "SkyModel.h"

#include <cmath>
#include <iterator>
#include <string>

namespace Kvt::Nuvrix::SampleGen {

namespace {

constexpr uint16_t kProviderId = 3405;
constexpr uint8_t kSolutionId = 1;
constexpr uint8_t kIodSsr = 3;

// Update intervals as the 4-bit code: 1, 2, 5, 10, ... seconds.
uint8_t updateIntervalCode(int seconds)
{
    static const int kSeconds[] = {1, 2, 5, 10, 15, 30, 60, 120, 240, 300, 600, 900, 1800, 3600, 7200, 10800};
    for (std::size_t code = 0; code < std::size(kSeconds); ++code) {
        if (kSeconds[code] == seconds)
            return static_cast<uint8_t>(code);
    }
    throw SampleError("no update interval code for " + std::to_string(seconds) + " s");
}

double seedOf(const Satellite& s)
{
    return 100.0 * int(s.system) + s.id + 60;
}

// Corrections refer to the broadcast ephemeris in force: IODE for GPS, tb for GLONASS.
uint8_t issueOfData(const Satellite& s)
{
    if (s.system != System::Glonass)
        return static_cast<uint8_t>(s.issueOfData);
    return static_cast<uint8_t>(std::lround(glonassFromGps(SkyModel::glonassReferenceTow()).secondOfDay) / 900);
}

template <typename Rec>
void fillHeader(Rec& r, const EpochContext& c, System system)
{
    const double epoch = system == System::Glonass ? glonassFromGps(c.gpsTow).secondOfDay : c.gpsTow;
    r.Epoch_Time = static_cast<uint32_t>(
        toField(std::floor(epoch), 1, wire::Of<Rec>::Epoch_Time, "SSR epoch time"));
    r.SSR_Update_Interval = updateIntervalCode(c.intervalSeconds);
    r.Multiple_Message_Indicator = 0;
    r.Satellite_Reference_Datum = 0; // ITRF
    r.IOD_SSR = kIodSsr;
    r.SSR_Provider_ID = kProviderId;
    r.SSR_Solution_ID = kSolutionId;
}

template <typename Entry>
void fillOrbit(Entry& e, const Satellite& s)
{
    using U = units::Of<Entry>;
    const double seed = seedOf(s);
    e.IOD = issueOfData(s);
    put(e.Delta_Radial, 0.08 * wobble(seed), U::Delta_Radial, "radial");
    put(e.Delta_Along_Track, 0.25 * wobble(seed + 1), U::Delta_Along_Track, "along-track");
    put(e.Delta_Cross_Track, 0.15 * wobble(seed + 2), U::Delta_Cross_Track, "cross-track");
    put(e.Dot_Delta_Radial, 4e-4 * wobble(seed + 3), U::Dot_Delta_Radial, "radial rate");
    put(e.Dot_Delta_Along_Track, 1e-3 * wobble(seed + 4), U::Dot_Delta_Along_Track, "along-track rate");
    put(e.Dot_Delta_Cross_Track, 6e-4 * wobble(seed + 5), U::Dot_Delta_Cross_Track, "cross-track rate");
}

template <typename Entry>
void fillClock(Entry& e, const Satellite& s, double gpsTow)
{
    using U = units::Of<Entry>;
    const double seed = seedOf(s);
    const double drift = 2e-4 * wobble(seed + 7); // m/s
    const double offset = 0.3 * wobble(seed + 6) + drift * (gpsTow - kFirstEpochTow);
    put(e.Delta_Clock_C0, offset, U::Delta_Clock_C0, "clock C0");
    put(e.Delta_Clock_C1, drift, U::Delta_Clock_C1, "clock C1");
    put(e.Delta_Clock_C2, 1e-6 * wobble(seed + 8), U::Delta_Clock_C2, "clock C2");
}

void fillCodeBiases(RTCM3_SSR_Code_Bias_s& e, const Satellite& s)
{
    // GPS: L1 C/A (0) and L2 Z-tracking (11); GLONASS: G1 C/A (0) and G2 C/A (2).
    const uint8_t second = s.system == System::Glonass ? 2 : 11;
    const uint8_t indicators[] = {0, second};
    for (size_t k = 0; k < 2; ++k) {
        RTCM3_Code_Bias_s* bias = RTCM3_append_SSR_Code_Bias_Code_Bias(&e);
        bias->Signal_and_Tracking_Mode_Indicator = indicators[k];
        put(bias->Bias, 1.6 * wobble(seedOf(s) + 10 + k), units::Of<RTCM3_Code_Bias_s>::Bias, "code bias");
    }
}

// URA class and value, packed as the decoder splits them.
uint8_t userRangeAccuracy(const Satellite& s)
{
    namespace part = units::SSR_URA;
    return static_cast<uint8_t>((2 + s.id % 2) << part::URA_CLASS.shift | (s.id % 6) << part::URA_VALUE.shift);
}

void fillEntry(RTCM3_SSR_Orbit_Correction_s& e, const Satellite& s, const EpochContext&)
{
    fillOrbit(e, s);
}

void fillEntry(RTCM3_SSR_Clock_Correction_s& e, const Satellite& s, const EpochContext& c)
{
    fillClock(e, s, c.gpsTow);
}

void fillEntry(RTCM3_SSR_Combined_Orbit_and_Clock_Corrections_s& e, const Satellite& s, const EpochContext& c)
{
    fillOrbit(e, s);
    fillClock(e, s, c.gpsTow);
}

void fillEntry(RTCM3_SSR_Code_Bias_s& e, const Satellite& s, const EpochContext&)
{
    fillCodeBiases(e, s);
}

void fillEntry(RTCM3_SSR_URA_s& e, const Satellite& s, const EpochContext&)
{
    e.URA = userRangeAccuracy(s);
}

void fillEntry(RTCM3_SSR_High_Rate_Clock_Correction_s& e, const Satellite& s, const EpochContext& c)
{
    put(e.High_Rate_Clock_Correction, 0.012 * wobble(seedOf(s) + c.gpsTow),
        units::Of<RTCM3_SSR_High_Rate_Clock_Correction_s>::High_Rate_Clock_Correction, "high-rate clock");
}

// One entry per satellite in view; the entry type decides what the entry carries.
template <typename Rec>
QByteArray correctionMessage(const EpochContext& c, System system)
{
    Record<Rec> r;
    fillHeader(*r, c, system);
    for (const Satellite* s : c.sky.visibleSatellites(system, c.gpsTow)) {
        auto* entry = codec::append(r.get());
        entry->Satellite_ID = static_cast<uint8_t>(s->id);
        fillEntry(*entry, *s, c);
    }
    return r.frame();
}

} // namespace

QByteArray buildCorrectionMessage(uint16_t number, const EpochContext& c)
{
    switch (number) {
    case 1057: return correctionMessage<RTCM3_Message_Type_1057_s>(c, System::Gps);
    case 1058: return correctionMessage<RTCM3_Message_Type_1058_s>(c, System::Gps);
    case 1059: return correctionMessage<RTCM3_Message_Type_1059_s>(c, System::Gps);
    case 1060: return correctionMessage<RTCM3_Message_Type_1060_s>(c, System::Gps);
    case 1061: return correctionMessage<RTCM3_Message_Type_1061_s>(c, System::Gps);
    case 1062: return correctionMessage<RTCM3_Message_Type_1062_s>(c, System::Gps);
    case 1063: return correctionMessage<RTCM3_Message_Type_1063_s>(c, System::Glonass);
    case 1064: return correctionMessage<RTCM3_Message_Type_1064_s>(c, System::Glonass);
    case 1065: return correctionMessage<RTCM3_Message_Type_1065_s>(c, System::Glonass);
    case 1066: return correctionMessage<RTCM3_Message_Type_1066_s>(c, System::Glonass);
    case 1067: return correctionMessage<RTCM3_Message_Type_1067_s>(c, System::Glonass);
    case 1068: return correctionMessage<RTCM3_Message_Type_1068_s>(c, System::Glonass);
    default: throw SampleError("no correction builder for message " + std::to_string(number));
    }
}

} // namespace Kvt::Nuvrix::SampleGen
