// The producer's throughput: observation epochs of 40 satellites and 80 signals to MSM7 frames,
// and a RINEX observation file to RTCM 3 frames in MB of RINEX read per second.

#include "ObservationProducer.h"
#include "RinexConverter.h"
#include "RinexReader.h"

#include <benchmark/benchmark.h>

#include <filesystem>
#include <fstream>
#include <sstream>

using namespace Kvt;

namespace {

// Ten satellites each of GPS, GLONASS, Galileo and BeiDou, two signals each, all values set.
Gnss::ObservationEpoch epochAt(double tow)
{
    static const Gnss::System systems[] = {Gnss::System::Gps, Gnss::System::Glonass, Gnss::System::Galileo,
                                           Gnss::System::BeiDou};
    static const char* const codes[] = {"1C2W", "1C2C", "1C5Q", "2I7I"};
    Gnss::ObservationEpoch e;
    e.stationId = 1001;
    e.time = Gnss::GpsTime(2200, tow);
    for (int s = 0; s < 4; ++s)
        for (int n = 1; n <= 10; ++n) {
            Gnss::SatelliteObservations so;
            so.sat = {systems[s], uint8_t(n)};
            if (systems[s] == Gnss::System::Glonass)
                so.glonassChannel = n - 5;
            for (int k = 0; k < 2; ++k) {
                Gnss::Observation o;
                o.code = {codes[s][2 * k], codes[s][2 * k + 1]};
                const double range = 2.0e7 + 1.0e5 * n + 3.0 * k + 700.0 * tow;
                o.pseudorangeM = range;
                o.phaseCycles = range / (k ? 0.244 : 0.19);
                o.dopplerHz = -700.0 / (k ? 0.244 : 0.19);
                o.cn0DbHz = 40.0 + n;
                o.lockTimeS = 100.0 + tow;
                so.observations.push_back(o);
            }
            e.satellites.push_back(so);
        }
    return e;
}

void msm7Epochs(benchmark::State& state)
{
    const Gnss::ObservationEpoch e = epochAt(1000.0);
    Nuvrix::Produce::ObservationProducer producer;
    std::size_t frames = 0;
    for (auto _ : state) {
        const auto out = producer.produce(e);
        frames += out.size();
        benchmark::DoNotOptimize(out.data());
    }
    state.SetItemsProcessed(int64_t(state.iterations()));  // epochs
    state.counters["frames/epoch"] = double(frames) / double(state.iterations());
}
BENCHMARK(msm7Epochs);

// An hour of such epochs at 1 Hz as the library writes RINEX.
const std::string& rinexText()
{
    static const std::string text = [] {
        const std::string dir = (std::filesystem::temp_directory_path() / "bench_produce_rinex").string();
        std::filesystem::create_directories(dir);
        Gnss::RinexConverterOptions options;
        options.directory = dir;
        Gnss::RinexConverter converter(options);
        for (int t = 0; t < 3600; ++t)
            converter.survey(epochAt(t));
        for (int t = 0; t < 3600; ++t)
            converter.addEpoch(epochAt(t));
        std::string body;
        for (const std::string& name : converter.finish())
            if (name.find("O.rnx") != std::string::npos) {
                std::ifstream in(dir + "/" + name);
                std::stringstream s;
                s << in.rdbuf();
                body = s.str();
            }
        std::filesystem::remove_all(dir);
        return body;
    }();
    return text;
}

void rinexToRtcm(benchmark::State& state)
{
    const std::string& text = rinexText();
    for (auto _ : state) {
        std::istringstream in(text);
        Gnss::RinexObservationReader reader(in, "bench.rnx");
        Nuvrix::Produce::ObservationProducer producer;
        Gnss::ObservationEpoch e;
        std::size_t bytes = 0;
        while (reader.next(e))
            for (const auto& f : producer.produce(e))
                bytes += f.size();
        benchmark::DoNotOptimize(bytes);
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(text.size()));
}
BENCHMARK(rinexToRtcm)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
