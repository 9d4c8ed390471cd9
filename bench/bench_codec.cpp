// Codec throughput: frames/s and bytes/s of decode and encode for typical messages and for
// the real captures, and heap allocations per decoded frame.

#include "RTCM3_codec.h"
#include "RTCM3_layout.h"
#include "kvtcg.h"

#include "alloc_counter.h"
#include "captures.h"

#include <benchmark/benchmark.h>

#include <cstring>
#include <vector>

using namespace Kvt::Nuvrix;
using Bytes = std::vector<uint8_t>;

namespace {

Bytes encoded(_RTCM3_message_t& record)
{
    Bytes buffer(1100);
    const int32_t bits = RTCM3_encode_message(buffer.data(), static_cast<uint16_t>(buffer.size()), &record);
    buffer.resize(bits > 0 ? bits / 8 : 0);
    return buffer;
}

_RTCM3_message_t msm7Record()
{
    _RTCM3_message_t m;
    auto& r = m.Message_Type_1077;
    RTCM3_init_Message_Type_1077(&r);
    r.Satellite_Mask = 0xFFFFF;  // 20 satellites
    r.Signal_Mask = 0x3;         // 2 signals
    r.Nsat = 20;
    r.Nsig = 2;
    r.Cell_Mask_Length = 40;
    r.Ncell = 40;
    for (int c = 0; c < 40; ++c) {
        r.Cell_Mask[c] = 1;
        r.MSM_Signal_Data.Fine_PseudoRange_Extended_Resolution[c] = -1000 * c;
        r.MSM_Signal_Data.CNR_Extended_Resolution[c] = static_cast<uint16_t>(600 + c);
    }
    for (int s = 0; s < 20; ++s)
        r.MSM_Satellite_Data.Satellite_Rough_Range_Integer_ms[s] = static_cast<uint8_t>(70 + s);
    return m;
}

_RTCM3_message_t ssrRecord()
{
    _RTCM3_message_t m;
    auto& r = m.Message_Type_1060;
    RTCM3_init_Message_Type_1060(&r);
    for (int s = 0; s < 20; ++s) {
        auto* e = RTCM3_append_Message_Type_1060_Corrections(&r);
        std::memset(reinterpret_cast<uint8_t*>(e) + sizeof(RTCM3_kvtcg_header_s), 0,
                    sizeof(*e) - sizeof(RTCM3_kvtcg_header_s));
        e->Satellite_ID = static_cast<uint8_t>(s + 1);
        e->Delta_Radial = -1234 * s;
    }
    return m;
}

_RTCM3_message_t record1019()
{
    _RTCM3_message_t m;
    std::memset(&m, 0, sizeof(m));
    RTCM3_init_Message_Type_1019(&m.Message_Type_1019);
    m.Message_Type_1019.Satellite_ID = 12;
    m.Message_Type_1019.SQRT_A = 0xA10DABCD;
    return m;
}

_RTCM3_message_t record1005()
{
    _RTCM3_message_t m;
    std::memset(&m, 0, sizeof(m));
    RTCM3_init_Message_Type_1005(&m.Message_Type_1005);
    m.Message_Type_1005.ECEF_X = 39700001234;
    m.Message_Type_1005.ECEF_Y = -1234567;
    return m;
}

// Frame after frame into one scratch record whose group arrays are kept from frame to frame,
// as rtcm3dump decodes.
void decodeFrames(benchmark::State& state, const std::vector<Bytes>& frames)
{
    if (frames.empty()) {
        state.SkipWithError("no frames");
        return;
    }
    const layout::ArrayReuse reuse;
    _RTCM3_message_t record;
    size_t bytes = 0;
    long decodedFrames = 0;
    const long before = gAllocations;
    for (auto _ : state) {
        for (const Bytes& f : frames) {
            const int32_t r = RTCM3_decode(nullptr, f.data(), static_cast<uint16_t>(f.size()), &record);
            RTCM3_free_message_children(&record);
            benchmark::DoNotOptimize(r);
            bytes += f.size();
        }
        decodedFrames += static_cast<long>(frames.size());
    }
    state.SetBytesProcessed(static_cast<int64_t>(bytes));
    state.SetItemsProcessed(decodedFrames);
    state.counters["allocs/frame"] = double(gAllocations - before) / double(decodedFrames);
}

void encodeRecord(benchmark::State& state, _RTCM3_message_t record)
{
    Bytes buffer(1100);
    size_t bytes = 0;
    for (auto _ : state) {
        const int32_t bits = RTCM3_encode_message(buffer.data(), static_cast<uint16_t>(buffer.size()), &record);
        benchmark::DoNotOptimize(buffer.data());
        bytes += static_cast<size_t>(bits / 8);
    }
    state.SetBytesProcessed(static_cast<int64_t>(bytes));
    state.SetItemsProcessed(state.iterations());
    RTCM3_free_message_children(&record);
}

void decodeRecord(benchmark::State& state, _RTCM3_message_t record)
{
    const std::vector<Bytes> frames{encoded(record)};
    RTCM3_free_message_children(&record);
    decodeFrames(state, frames);
}

// The captured frames whose message number lies in [first, last]: where the mix spends its time.
std::vector<Bytes> captureFamily(int first, int last)
{
    std::vector<Bytes> picked;
    for (Bytes& f : captureFrames()) {
        const int number = f.size() >= 5 ? (f[3] << 4) | (f[4] >> 4) : -1;
        if (number >= first && number <= last)
            picked.push_back(std::move(f));
    }
    return picked;
}

} // namespace

BENCHMARK_CAPTURE(decodeRecord, msm7_20sat_2sig, msm7Record());
BENCHMARK_CAPTURE(decodeRecord, eph_1019, record1019());
BENCHMARK_CAPTURE(decodeRecord, station_1005, record1005());
BENCHMARK_CAPTURE(decodeRecord, ssr_1060_20sat, ssrRecord());
BENCHMARK_CAPTURE(encodeRecord, msm7_20sat_2sig, msm7Record());
BENCHMARK_CAPTURE(encodeRecord, eph_1019, record1019());
BENCHMARK_CAPTURE(encodeRecord, station_1005, record1005());
BENCHMARK_CAPTURE(encodeRecord, ssr_1060_20sat, ssrRecord());
BENCHMARK_CAPTURE(decodeFrames, real_captures, captureFrames());
BENCHMARK_CAPTURE(decodeFrames, real_captures_legacy_obs, captureFamily(1001, 1012));
BENCHMARK_CAPTURE(decodeFrames, real_captures_station_eph, captureFamily(1013, 1056));
BENCHMARK_CAPTURE(decodeFrames, real_captures_ssr, captureFamily(1057, 1068));
BENCHMARK_CAPTURE(decodeFrames, real_captures_msm, captureFamily(1071, 1137));
BENCHMARK_CAPTURE(decodeFrames, real_captures_ssr_new, captureFamily(1240, 1270));

BENCHMARK_MAIN();
