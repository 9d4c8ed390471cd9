#pragma once
// The resolutions the producer writes values at. Where the message list states a field's
// scale, it is read from there (listScale); the fields the list does not scale yet (the
// observation and station messages) have theirs here, named, and nowhere else.

#include <cstdint>

namespace Kvt::Nuvrix::Produce {

// The scale of a field of a message as the message list states it; 0 where it states none.
double listScale(int messageNumber, const char* field);

// The same, but a field the producer relies on must have one: a missing scale is a defect
// of the list, reported by a failed assertion at the first use.
double requiredListScale(int messageNumber, const char* field);

namespace scales {

// MSM rough and fine ranges, in milliseconds of light travel.
constexpr double kRoughRangeMs = 1.0 / 1024;              // Satellite_Rough_Range_Mod_1ms
constexpr int kFinePseudorangeBits = 24;                  // Fine_PseudoRange: 2^-24 ms
constexpr int kFinePhaseBits = 29;                        // Fine_PhaseRange: 2^-29 ms
constexpr int kFinePseudorangeExtendedBits = 29;          // Fine_PseudoRange_Extended_Resolution
constexpr int kFinePhaseExtendedBits = 31;                // Fine_PhaseRange_Extended_Resolution
constexpr double kRoughRateMps = 1.0;                     // Satellite_Rough_PhaseRangeRate
constexpr double kFineRateMps = 0.0001;                   // Fine_PhaseRangeRate
constexpr double kCnrDbHz = 1.0;                          // CNR
constexpr double kCnrExtendedDbHz = 1.0 / 16;             // CNR_Extended_Resolution

// Legacy observables 1001-1004 and 1009-1012.
constexpr double kLegacyPseudorangeM = 0.02;              // Pseudorange, L2 - L1 pseudorange
constexpr double kLegacyPhaseM = 0.0005;                  // phase range - L1 pseudorange
constexpr double kLegacyCnrDbHz = 0.25;                   // CNR
constexpr double kGpsAmbiguityM = 299792.458;             // one light millisecond
constexpr double kGlonassAmbiguityM = 599584.916;         // two light milliseconds

// Stations and biases.
constexpr double kEcefM = 0.0001;                         // ECEF_X/Y/Z, Height
constexpr double kGlonassBiasM = 0.02;                    // 1230 code-phase biases
constexpr double kAnnouncementIntervalS = 0.1;            // 1013 transmission interval

} // namespace scales
} // namespace Kvt::Nuvrix::Produce
