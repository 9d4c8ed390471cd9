// rtcm3produce: a RINEX observation file replayed as an RTCM 3 stream, or an RTCM 3 stream
// converted to other observation messages. The parameters are those of a relay input.

#include "ObservationProducer.h"
#include "RecordProducer.h"
#include "RinexReplay.h"
#include "RTCM3FrameSplitter.h"
#include "StreamConverter.h"

#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <map>
#include <string>
#include <thread>

using namespace Kvt;
using namespace Kvt::Nuvrix::Produce;

namespace {

const char* const kUsage =
    "usage: rtcm3produce OBS.rnx[?nav=NAV.rnx&msm=4..7|legacy&station=ID&pace=R&position=S&orbits=S&systems=GRE]\n"
    "                    [--out FILE|-]\n"
    "       rtcm3produce IN.rtcm[?convert=msm1..7|legacy&systems=GRE] [--out FILE|-]\n"
    "\n"
    "A RINEX observation file (3.00-3.05, 2.10, 2.11) is replayed as an RTCM 3 stream: observations as\n"
    "MSM of the level given (msm, default 7) or as legacy 1004/1012 (msm=legacy), the station\n"
    "position (1005/1006) and description (1033) every `position` seconds (default 10).\n"
    "With nav=NAV.rnx (RINEX 3.02-3.05 or 2.11 navigation) the orbits of its satellites whose\n"
    "reference time is nearest each epoch (1019, 1020, 1041, 1042, 1044, 1045/1046) are sent\n"
    "every `orbits` seconds (default 60).\n"
    "An RTCM 3 file (or - for standard input) is converted instead when `convert` is given:\n"
    "observation messages become the kind asked for, other messages pass unchanged.\n"
    "\n"
    "  station=ID   reference station id of the frames (default 0)\n"
    "  nav=FILE     a RINEX navigation file whose orbits go into the stream\n"
    "  orbits=S     seconds of data between two sendings of the orbits (default 60)\n"
    "  position=S   seconds of data between two sendings of the station (default 10)\n"
    "  pace=R       replay at R times the rate of the epochs (default 0: as fast as possible)\n"
    "  systems=GRE  keep only these constellations (RINEX letters G R E S J C I)\n"
    "  --out FILE   write the stream there; - or no --out: standard output\n"
    "  --help       this text\n"
    "\n"
    "What the chosen messages cannot carry is said once on standard error.\n";

struct Arguments {
    std::string input;
    std::map<std::string, std::string> params;
    std::string out = "-";
};

int usage(const std::string& message)
{
    std::fprintf(stderr, "rtcm3produce: %s\n%s", message.c_str(), kUsage);
    return 2;
}

bool parse(int argc, char** argv, Arguments& a, std::string& error)
{
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--out") {
            if (++i >= argc) {
                error = "--out needs a file";
                return false;
            }
            a.out = argv[i];
        } else if (!arg.empty() && arg[0] == '-' && arg != "-") {
            error = "unknown option " + arg;
            return false;
        } else if (a.input.empty()) {
            const auto q = arg.find('?');
            a.input = arg.substr(0, q);
            std::string rest = q == std::string::npos ? "" : arg.substr(q + 1);
            while (!rest.empty()) {
                const auto amp = rest.find('&');
                const std::string kv = rest.substr(0, amp);
                const auto eq = kv.find('=');
                if (eq == std::string::npos) {
                    error = "parameter without a value: " + kv;
                    return false;
                }
                a.params[kv.substr(0, eq)] = kv.substr(eq + 1);
                rest = amp == std::string::npos ? "" : rest.substr(amp + 1);
            }
        } else {
            error = "more than one input";
            return false;
        }
    }
    if (a.input.empty()) {
        error = "no input";
        return false;
    }
    return true;
}

class Writer {
public:
    explicit Writer(const std::string& path)
        : mFile(path == "-" ? stdout : std::fopen(path.c_str(), "wb")) {}
    ~Writer()
    {
        if (mFile && mFile != stdout)
            std::fclose(mFile);
    }
    bool ok() const { return mFile != nullptr; }
    bool write(const Frame& f) { return std::fwrite(f.data(), 1, f.size(), mFile) == f.size(); }
    bool flush() { return std::fflush(mFile) == 0; }

private:
    std::FILE* mFile;
};

void say(const std::string& what) { std::fprintf(stderr, "rtcm3produce: %s\n", what.c_str()); }

double numberParam(const Arguments& a, const char* key, double fallback, bool& bad)
{
    const auto it = a.params.find(key);
    if (it == a.params.end())
        return fallback;
    char* end = nullptr;
    const double v = std::strtod(it->second.c_str(), &end);
    if (it->second.empty() || *end || v < 0)
        bad = true;
    return v;
}

int convert(const Arguments& a, Writer& out)
{
    const std::optional<ConversionTarget> target = ConversionTarget::parse(a.params.at("convert"));
    if (!target)
        return usage("convert must be msm1..msm7 or legacy");
    StreamConverter converter(*target);
    converter.setLimitReport(say);
    if (a.params.count("systems") && !converter.setSystems(a.params.at("systems")))
        return usage("systems must be RINEX system letters (GRESJCI)");
    std::FILE* in = a.input == "-" ? stdin : std::fopen(a.input.c_str(), "rb");
    if (!in) {
        say("cannot read " + a.input + ": " + std::strerror(errno));
        return 1;
    }
    // Frames found by their preamble, length and CRC as the codec cuts them; bytes between them are skipped.
    std::vector<uint8_t> buffer;
    uint8_t chunk[65536];
    bool failed = false;
    auto send = [&](const std::vector<Frame>& frames) {
        for (const Frame& f : frames)
            failed |= !out.write(f);
        if (!frames.empty())
            failed |= !out.flush();
    };
    std::size_t n;
    while (!failed && (n = std::fread(chunk, 1, sizeof chunk, in)) > 0) {
        buffer.insert(buffer.end(), chunk, chunk + n);
        std::size_t i = 0;
        while (i < buffer.size()) {
            const Nuvrix::RTCM3Cut cut = Nuvrix::RTCM3_cut_frame(&buffer[i], buffer.size() - i, false);
            if (cut.kind == Nuvrix::RTCM3Cut::Kind::Wait)
                break;
            if (cut.kind == Nuvrix::RTCM3Cut::Kind::Frame)
                send(converter.add(&buffer[i], cut.size));
            i += cut.size;
        }
        buffer.erase(buffer.begin(), buffer.begin() + long(i));
    }
    send(converter.finish());
    if (in != stdin)
        std::fclose(in);
    if (failed) {
        say("cannot write the output");
        return 1;
    }
    return 0;
}

int replay(const Arguments& a, Writer& out)
{
    bool bad = false;
    const double pace = numberParam(a, "pace", 0, bad);
    if (bad)
        return usage("pace takes a number");
    ReplaySettings settings;
    settings.limitReport = say;
    for (const auto& [key, value] : a.params) {
        std::string error;
        if (key != "pace" && !settings.set(key, value, &error))
            return usage(error);
    }
    std::ifstream in(a.input);
    if (!in) {
        say("cannot read " + a.input);
        return 1;
    }
    try {
        RinexReplay replay(in, a.input, settings);
        std::vector<Frame> frames;
        const auto start = std::chrono::steady_clock::now();
        std::optional<Gnss::GpsTime> first;
        while (replay.next(frames)) {
            const Gnss::GpsTime& time = replay.epochTime();
            if (pace > 0 && first)
                std::this_thread::sleep_until(start + std::chrono::duration<double>((time - *first) / pace));
            first = first.value_or(time);
            for (const Frame& f : frames)
                if (!out.write(f)) {
                    say("cannot write the output");
                    return 1;
                }
            if (!out.flush()) {
                say("cannot write the output");
                return 1;
            }
        }
    } catch (const Gnss::RinexError& e) {
        say(e.what());
        return 1;
    }
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    for (int i = 1; i < argc; ++i)
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            std::fputs(kUsage, stdout);
            return 0;
        }
    Arguments a;
    std::string error;
    if (!parse(argc, argv, a, error))
        return usage(error);
    Writer out(a.out);
    if (!out.ok()) {
        say("cannot write " + a.out + ": " + std::strerror(errno));
        return 1;
    }
    const bool converting = a.params.count("convert") > 0;
    for (const auto& [key, value] : a.params) {
        const bool known = converting ? key == "convert" || key == "systems"
                                      : key == "msm" || key == "station" || key == "pace" || key == "position"
                || key == "orbits" || key == "systems" || key == "nav";
        if (!known)
            return usage("unknown parameter " + key + (converting ? " for a conversion" : " for a RINEX replay"));
    }
    if (converting)
        return convert(a, out);
    return replay(a, out);
}
