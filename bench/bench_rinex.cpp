// RTCM 3 to RINEX on the real captures, in MB of input per second: bytes in 4 KiB chunks
// through synchronizer, codec, engineering view and RINEX writers into files, as the program
// converts a file (two passes) and a live stream (one pass with a look-ahead).

#include "RTCM3Synchronizer.h"
#include "RTCM3_codec.h"
#include "RinexConversion.h"

#include <benchmark/benchmark.h>

#include <QtCore/QByteArray>
#include <QtCore/QFile>

#include <filesystem>
#include <optional>
#include <string>

using namespace Kvt;
using namespace Kvt::Nuvrix;

namespace {

QByteArray capture(const char* name)
{
    QFile f(QString::fromUtf8(NUVRIX_SAMPLES_DIR) + "/" + name);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// One pass over the bytes: every frame decoded and handed to `use`.
template <typename Use>
void eachRecord(const QByteArray& stream, Use&& use)
{
    RTCM3Synchronizer sync;
    _RTCM3_message_t record;
    const auto drain = [&] {
        while (sync.hasBlock()) {
            const QByteArray frame = sync.getBlockBytes();
            const int32_t r = RTCM3_decode(nullptr, reinterpret_cast<const uint8_t*>(frame.constData()),
                                           uint16_t(frame.size()), &record);
            if (r >= 0)
                use(record);
            if (r != RTCM3_ERR_INVALID_MESSAGE)
                RTCM3_free_message_children(&record);
        }
    };
    for (qsizetype at = 0; at < stream.size(); at += 4096) {
        sync.appendBytes(QByteArray::fromRawData(stream.constData() + at, qMin<qsizetype>(4096, stream.size() - at)));
        drain();
    }
    sync.endOfStream();
    drain();
}

// Captures without a time reference of their own: the date their messages give by hand.
std::optional<Gnss::GpsTime> dateOf(const std::string& name)
{
    if (name.find("GMSD7") != std::string::npos)
        return Gnss::GpsTime::fromCalendar({2012, 10, 13, 23, 0, 0.0});
    return std::nullopt;
}

void toRinex(benchmark::State& state, const char* name, bool twoPasses)
{
    const QByteArray stream = capture(name);
    if (stream.isEmpty()) {
        state.SkipWithError("capture not found");
        return;
    }
    const std::filesystem::path dir = std::filesystem::temp_directory_path() / "nuvrix_bench_rinex";
    size_t written = 0;
    for (auto _ : state) {
        std::filesystem::remove_all(dir);
        Gnss::RinexConverterOptions options;
        options.directory = dir.string();
        View::RinexConversion conversion(options);
        if (const auto date = dateOf(name))
            conversion.setTimeHint(*date);
        if (twoPasses)
            eachRecord(stream, [&](const _RTCM3_message_t& r) { conversion.survey(r); });
        eachRecord(stream, [&](const _RTCM3_message_t& r) { conversion.add(r); });
        written = conversion.finish().size();
    }
    if (written == 0)
        state.SkipWithError("no file written");
    state.SetBytesProcessed(int64_t(state.iterations()) * stream.size());
    std::filesystem::remove_all(dir);
}

constexpr const char* kCaptures[] = {
    "gnss-converters/dropped-packets-STR24.rtcm3",     // MSM4 of five systems, orbits, 1.3 MB
    "gnss-converters/switch-legacy-msm-legacy-msm.rtcm",
    "rtklib/GMSD7_20121014.rtcm3",                     // MSM7 of four systems
    "gnss-converters/sept.rtcm",                       // MSM7 of five systems
    "gnss-converters/eph_wn.rtcm",                     // orbits only
};

const bool kRegistered = [] {
    for (const char* name : kCaptures) {
        const std::string base = std::filesystem::path(name).filename().string();
        benchmark::RegisterBenchmark(("File/" + base).c_str(), toRinex, name, true)->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark(("Live/" + base).c_str(), toRinex, name, false)->Unit(benchmark::kMillisecond);
    }
    return true;
}();

} // namespace

BENCHMARK_MAIN();
