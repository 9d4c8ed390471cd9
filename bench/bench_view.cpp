// The engineering view's throughput: MSM7 epochs per second through decode and view beside
// decode alone, and the real captures in bytes per second, with and without JSON lines. Heap
// allocations are counted apart: the decode's per frame, the view's (and lines') per epoch.

#include "GnssFormat.h"
#include "GnssView.h"
#include "RTCM3_codec.h"
#include "RTCM3_layout.h"
#include "kvtcg.h"

#include "alloc_counter.h"
#include "captures.h"

#include <benchmark/benchmark.h>

#include <cstring>
#include <vector>

using namespace Kvt;
using namespace Kvt::Nuvrix;
using Bytes = std::vector<uint8_t>;

namespace {

// One epoch as a four-constellation receiver sends it: MSM7 of GPS, GLONASS, Galileo and
// BeiDou, 10 satellites with 2 signals each.
std::vector<Bytes> msm7Epoch()
{
    std::vector<Bytes> frames;
    const int numbers[] = {1077, 1087, 1097, 1127};
    for (int k = 0; k < 4; ++k) {
        _RTCM3_message_t m;
        std::memset(&m, 0, sizeof m);
        auto& r = m.Message_Type_1077;
        RTCM3_init_Message_Type_1077(&r);
        r.Message_Number = uint16_t(numbers[k]);
        // Friday 15:44:08 GPST: 18:43:50 in Moscow, 15:43:54 BDT.
        r.Epoch_Time = numbers[k] == 1087 ? (18 * 3600 + 43 * 60 + 50) * 1000u
                     : numbers[k] == 1127 ? 488634000u : 488648000u;
        r.Day_of_Week = 5;
        r.Multiple_Message_Flag = k < 3;
        r.Satellite_Mask = 0xFFC0000000000000ULL;  // satellites 1-10
        r.Signal_Mask = numbers[k] == 1127 ? 0x40020000u : 0x40800000u;  // two signals
        r.Nsat = 10;
        r.Nsig = 2;
        r.Cell_Mask_Length = r.Ncell = 20;
        for (int c = 0; c < 20; ++c) {
            r.Cell_Mask[c] = 1;
            r.MSM_Signal_Data.Fine_PseudoRange_Extended_Resolution[c] = -1000 * c;
            r.MSM_Signal_Data.Fine_PhaseRange_Extended_Resolution[c] = 3000 * c;
            r.MSM_Signal_Data.PhaseRange_Lock_Time_Indicator_Extended_Resolution[c] = uint16_t(600 + c);
            r.MSM_Signal_Data.CNR_Extended_Resolution[c] = uint16_t(600 + c);
            r.MSM_Signal_Data.Fine_PhaseRangeRate[c] = int16_t(10 * c);
        }
        for (int s = 0; s < 10; ++s) {
            r.MSM_Satellite_Data.Satellite_Rough_Range_Integer_ms[s] = uint8_t(70 + s);
            r.MSM_Satellite_Data.Satellite_Rough_Range_Mod_1ms[s] = uint16_t(100 * s);
            r.MSM_Satellite_Data.Satellite_Rough_PhaseRangeRate[s] = int16_t(-300 * s);
            r.MSM_Satellite_Data.GLONASS_Satellite_Frequency_Channel_Number[s] = uint8_t(s);
        }
        Bytes buffer(1100);
        const int32_t bits = RTCM3_encode_message(buffer.data(), uint16_t(buffer.size()), &m);
        buffer.resize(bits > 0 ? size_t(bits) / 8 : 0);
        frames.push_back(buffer);
    }
    return frames;
}

struct CountingSink : View::GnssSink {
    long epochs = 0;
    bool json = false;
    std::string line;
    void epoch(const Gnss::ObservationEpoch& e) override
    {
        ++epochs;
        if (json) {
            line.clear();
            Gnss::appendEpochJson(line, e);
            benchmark::DoNotOptimize(line.data());
        }
    }
};

enum class Road { DecodeOnly, View, ViewAndJson };

void run(benchmark::State& state, const std::vector<Bytes>& frames, Road road)
{
    if (frames.empty()) {
        state.SkipWithError("no frames");
        return;
    }
    CountingSink sink;
    sink.json = road == Road::ViewAndJson;
    View::GnssView view(sink);
    view.setTimeHint(Gnss::GpsTime(2143, 400000));
    // Group arrays kept from frame to frame, as rtcm3dump does.
    const layout::ArrayReuse reuse;
    _RTCM3_message_t record;
    size_t bytes = 0;
    long decodeAllocations = 0, viewAllocations = 0;
    for (auto _ : state) {
        for (const Bytes& f : frames) {
            const long before = gAllocations;
            const int32_t r = RTCM3_decode(nullptr, f.data(), uint16_t(f.size()), &record);
            const long decoded = gAllocations;
            if (r >= 0 && road != Road::DecodeOnly)
                view.add(record);
            if (r != RTCM3_ERR_INVALID_MESSAGE)
                RTCM3_free_message_children(&record);
            decodeAllocations += decoded - before;
            viewAllocations += gAllocations - decoded;
            bytes += f.size();
        }
    }
    view.finish();
    const double frameCount = double(frames.size() * state.iterations());
    state.counters["allocs/frame"] = double(decodeAllocations + viewAllocations) / frameCount;
    state.counters["decode_allocs/frame"] = double(decodeAllocations) / frameCount;
    if (sink.epochs > 0)
        state.counters["view_allocs/epoch"] = double(viewAllocations) / double(sink.epochs);
    state.SetBytesProcessed(int64_t(bytes));
    state.counters["epochs/s"] = benchmark::Counter(double(sink.epochs), benchmark::Counter::kIsRate);
    state.counters["frames/s"] = benchmark::Counter(double(frames.size() * state.iterations()),
                                                     benchmark::Counter::kIsRate);
}

} // namespace

BENCHMARK_CAPTURE(run, msm7_epoch_decode_only, msm7Epoch(), Road::DecodeOnly);
BENCHMARK_CAPTURE(run, msm7_epoch_view, msm7Epoch(), Road::View);
BENCHMARK_CAPTURE(run, msm7_epoch_view_json, msm7Epoch(), Road::ViewAndJson);
BENCHMARK_CAPTURE(run, captures_decode_only, captureFrames(), Road::DecodeOnly);
BENCHMARK_CAPTURE(run, captures_view, captureFrames(), Road::View);
BENCHMARK_CAPTURE(run, captures_view_json, captureFrames(), Road::ViewAndJson);

BENCHMARK_MAIN();
