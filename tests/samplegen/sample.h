#pragma once
// The generated sample cut into frames and decoded, shared by the sample tests.

#include "RTCM3_codec.h"
#include "SampleStream.h"

#include <QByteArray>

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <functional>
#include <vector>

namespace samplegen_test {

using namespace Kvt::Nuvrix;

inline const QByteArray& sampleStream()
{
    static const QByteArray stream = SampleGen::buildSampleStream();
    return stream;
}

struct Frame {
    uint16_t number;
    QByteArray bytes;
};

// Frames in stream order, read with the header's own length, up to where the bytes stop
// looking like a frame.
inline std::vector<Frame> framesOf(const QByteArray& stream)
{
    std::vector<Frame> frames;
    qsizetype at = 0;
    while (at + 6 <= stream.size() && uint8_t(stream[at]) == 0xD3 && (uint8_t(stream[at + 1]) & 0xFC) == 0) {
        const qsizetype size = ((uint8_t(stream[at + 1]) & 3) << 8 | uint8_t(stream[at + 2])) + 6;
        if (at + size > stream.size())
            break;
        const uint16_t number = uint16_t(uint8_t(stream[at + 3]) << 4 | uint8_t(stream[at + 4]) >> 4);
        frames.push_back({number, stream.mid(at, size)});
        at += size;
    }
    return frames;
}

// Calls `visit` with every frame of the sample and its decoded record; every frame must decode
// to exactly its length.
inline void forEachDecoded(const std::function<void(const Frame&, const _RTCM3_message_t&, int32_t)>& visit)
{
    for (const Frame& frame : framesOf(sampleStream())) {
        _RTCM3_message_t message;
        std::memset(&message, 0, sizeof(message)); // a failed dispatch leaves nothing to release
        const int32_t bits = RTCM3_decode(nullptr, reinterpret_cast<const uint8_t*>(frame.bytes.constData()),
                                          uint16_t(frame.bytes.size()), &message);
        EXPECT_EQ(bits, 8 * frame.bytes.size())
            << "message " << frame.number << ": " << (bits < 0 ? RTCM3_error_to_string(bits) : "short");
        if (bits > 0)
            visit(frame, message, bits);
        RTCM3_free_message_children(&message);
    }
}

// One MSM4 or MSM7 message in physical units, whatever its record type.
struct MsmView {
    uint16_t number = 0;
    uint32_t epochTime = 0;
    uint8_t dayOfWeek = 0;
    bool moreFollow = false;
    uint64_t satelliteMask = 0;
    uint32_t signalMask = 0;
    std::vector<uint8_t> cells;     // Nsat x Nsig, satellite-major
    std::vector<int> satelliteIds;  // ascending, from the mask
    std::vector<int> extendedInfo;  // per satellite: GLONASS channel + 7, or 0 (MSM7 only)
    std::vector<double> roughMs;    // per satellite
    std::vector<double> roughRate;  // per satellite, m/s (MSM7 only)
    std::vector<double> pseudorangeMs, phaseRangeMs, rate, cnr; // per cell present
    std::vector<int> cellSatellite;                            // per cell present: satellite index
};

template <typename Rec>
MsmView viewOf(const Rec& r)
{
    const bool msm7 = r.Message_Number % 10 == 7;
    MsmView v;
    v.number = r.Message_Number;
    v.epochTime = r.Epoch_Time;
    v.dayOfWeek = r.Day_of_Week;
    v.moreFollow = r.Multiple_Message_Flag;
    v.satelliteMask = r.Satellite_Mask;
    v.signalMask = r.Signal_Mask;
    v.cells.assign(r.Cell_Mask, r.Cell_Mask + r.Cell_Mask_Length);
    const auto& sat = r.MSM_Satellite_Data;
    const auto& sig = r.MSM_Signal_Data;
    for (int id = 1; id <= 64; ++id) {
        if (r.Satellite_Mask >> (64 - id) & 1)
            v.satelliteIds.push_back(id);
    }
    int cell = 0;
    for (int i = 0; i < r.Nsat; ++i) {
        // GLONASS carries the frequency channel where the others carry extended information.
        const bool glonass = r.Message_Number / 10 == 108;
        v.extendedInfo.push_back(!msm7 ? -1
                                       : glonass ? sat.GLONASS_Satellite_Frequency_Channel_Number[i]
                                                 : sat.Extended_Satellite_Information[i]);
        const double rough = sat.Satellite_Rough_Range_Integer_ms[i] + sat.Satellite_Rough_Range_Mod_1ms[i] / 1024.0;
        v.roughMs.push_back(rough);
        v.roughRate.push_back(msm7 ? sat.Satellite_Rough_PhaseRangeRate[i] : 0);
        for (int k = 0; k < r.Nsig; ++k) {
            if (!r.Cell_Mask[i * r.Nsig + k])
                continue;
            v.cellSatellite.push_back(i);
            if (msm7) {
                v.pseudorangeMs.push_back(rough + std::ldexp(sig.Fine_PseudoRange_Extended_Resolution[cell], -29));
                v.phaseRangeMs.push_back(rough + std::ldexp(sig.Fine_PhaseRange_Extended_Resolution[cell], -31));
                v.rate.push_back(sat.Satellite_Rough_PhaseRangeRate[i] + 1e-4 * sig.Fine_PhaseRangeRate[cell]);
                v.cnr.push_back(sig.CNR_Extended_Resolution[cell] / 16.0);
            } else {
                v.pseudorangeMs.push_back(rough + std::ldexp(sig.Fine_PseudoRange[cell], -24));
                v.phaseRangeMs.push_back(rough + std::ldexp(sig.Fine_PhaseRange[cell], -29));
                v.cnr.push_back(sig.CNR[cell]);
            }
            ++cell;
        }
    }
    return v;
}

inline std::vector<MsmView> msmViews()
{
    std::vector<MsmView> views;
    forEachDecoded([&](const Frame& f, const _RTCM3_message_t& m, int32_t) {
        switch (f.number) {
        case 1074: views.push_back(viewOf(m.Message_Type_1074)); break;
        case 1077: views.push_back(viewOf(m.Message_Type_1077)); break;
        case 1084: views.push_back(viewOf(m.Message_Type_1084)); break;
        case 1087: views.push_back(viewOf(m.Message_Type_1087)); break;
        case 1094: views.push_back(viewOf(m.Message_Type_1094)); break;
        case 1097: views.push_back(viewOf(m.Message_Type_1097)); break;
        case 1124: views.push_back(viewOf(m.Message_Type_1124)); break;
        case 1127: views.push_back(viewOf(m.Message_Type_1127)); break;
        default: break;
        }
    });
    return views;
}

// Pseudorange of the first signal of a satellite, in ms; negative when the satellite is absent.
inline double firstPseudorangeMs(const MsmView& v, int satelliteId)
{
    for (size_t c = 0; c < v.cellSatellite.size(); ++c) {
        if (v.satelliteIds[size_t(v.cellSatellite[c])] == satelliteId)
            return v.pseudorangeMs[c];
    }
    return -1;
}

inline std::vector<MsmView> msmViews(uint16_t number)
{
    std::vector<MsmView> selected;
    for (const MsmView& v : msmViews()) {
        if (v.number == number)
            selected.push_back(v);
    }
    return selected;
}

} // namespace samplegen_test
