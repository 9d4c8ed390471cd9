// Decoded records as JSON lines and as text, beside decoding alone on the same frames: the
// bundled sample stream and the real captures. Frames and bytes per second count the input;
// heap allocations per frame are counted apart for the decode and for the lines.

#include "RTCM3RecordWriter.h"
#include "RTCM3_codec.h"
#include "RTCM3_layout.h"

#include "alloc_counter.h"
#include "captures.h"

#include <benchmark/benchmark.h>

#include <string>

using namespace Kvt::Nuvrix;

namespace {

std::vector<testframes::Bytes> sampleFrames() { return testframes::validFrames(testframes::readFile(NUVRIX_SAMPLE_STREAM)); }

enum class Output { None, Json, Text };

// Every frame decoded and, for JSON and text, written into one reused buffer as a program
// writing lines would.
void run(benchmark::State &state, const std::vector<testframes::Bytes> &frames, Output output)
{
    if (frames.empty()) {
        state.SkipWithError("no frames");
        return;
    }
    // Group arrays kept from frame to frame, as rtcm3dump does.
    const layout::ArrayReuse reuse;
    _RTCM3_message_t record;
    std::string line;
    line.reserve(1 << 16);
    std::size_t bytes = 0, written = 0;
    long decodeAllocations = 0, lineAllocations = 0;
    for (auto _ : state) {
        for (const testframes::Bytes &f : frames) {
            const long before = gAllocations;
            const int32_t r = RTCM3_decode(nullptr, f.data(), static_cast<uint16_t>(f.size()), &record);
            const long decoded = gAllocations;
            decodeAllocations += decoded - before;
            bytes += f.size();
            if (r == RTCM3_ERR_INVALID_MESSAGE)
                continue;
            if (r > 0 && output != Output::None) {
                line.clear();
                if (output == Output::Json)
                    reflect::appendJson(line, record);
                else
                    reflect::appendText(line, record);
                line += '\n';
                written += line.size();
                benchmark::DoNotOptimize(line.data());
            }
            lineAllocations += gAllocations - decoded;
            RTCM3_free_message_children(&record);
        }
    }
    state.SetBytesProcessed(static_cast<int64_t>(bytes));
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * frames.size()));
    const double frameCount = double(state.iterations() * frames.size());
    state.counters["out_bytes/frame"] = double(written) / frameCount;
    state.counters["allocs/frame"] = double(decodeAllocations + lineAllocations) / frameCount;
    state.counters["line_allocs/frame"] = double(lineAllocations) / frameCount;
}

} // namespace

BENCHMARK_CAPTURE(run, decode_sample_stream, sampleFrames(), Output::None);
BENCHMARK_CAPTURE(run, json_sample_stream, sampleFrames(), Output::Json);
BENCHMARK_CAPTURE(run, text_sample_stream, sampleFrames(), Output::Text);
BENCHMARK_CAPTURE(run, decode_real_captures, captureFrames(), Output::None);
BENCHMARK_CAPTURE(run, json_real_captures, captureFrames(), Output::Json);
BENCHMARK_CAPTURE(run, text_real_captures, captureFrames(), Output::Text);

BENCHMARK_MAIN();
