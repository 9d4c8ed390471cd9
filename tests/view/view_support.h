#pragma once
// Shared by the view tests: the frames of a capture, a sink that keeps everything, and a run
// of a whole capture through decoder and view.

#include "GnssView.h"
#include "RTCM3_codec.h"
#include "kvtcg.h"

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace viewtest {

using Bytes = std::vector<uint8_t>;

// CRC-24Q bit by bit, apart from the library's, so that a fault there cannot empty the
// lists of captures the tests run on.
inline uint32_t crc24q(const uint8_t* p, size_t n)
{
    uint32_t crc = 0;
    for (size_t i = 0; i < n; ++i) {
        crc ^= uint32_t(p[i]) << 16;
        for (int b = 0; b < 8; ++b)
            crc = (crc << 1) ^ ((crc & 0x800000) ? 0x1864CFBu : 0u);
    }
    return crc & 0xFFFFFF;
}

// The CRC-valid frames of a byte stream, skipping whatever lies between them.
inline std::vector<Bytes> framesOf(const Bytes& s)
{
    std::vector<Bytes> frames;
    for (size_t i = 0; i + 6 <= s.size();) {
        const size_t size = (((s[i + 1] & 3u) << 8) | s[i + 2]) + 6;
        if (s[i] == 0xD3 && (s[i + 1] & 0xFC) == 0 && i + size <= s.size()) {
            const uint32_t crc = crc24q(&s[i], size - 3);
            if (crc == ((uint32_t(s[i + size - 3]) << 16) | (uint32_t(s[i + size - 2]) << 8) | s[i + size - 1])) {
                frames.emplace_back(s.begin() + long(i), s.begin() + long(i + size));
                i += size;
                continue;
            }
        }
        ++i;
    }
    return frames;
}

inline Bytes readFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return Bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

inline std::string samplesDir() { return NUVRIX_SAMPLES_DIR; }
inline bool haveSamples() { return std::filesystem::exists(samplesDir()); }

struct CollectSink : Kvt::Nuvrix::View::GnssSink {
    std::vector<Kvt::Gnss::ObservationEpoch> epochs;
    std::vector<Kvt::Gnss::StationPosition> positions;
    std::vector<Kvt::Gnss::StationDescription> descriptions;
    std::vector<Kvt::Gnss::StationText> texts;
    std::vector<Kvt::Gnss::KeplerEphemeris> kepler;
    std::vector<Kvt::Gnss::GlonassEphemeris> glonass;
    std::vector<Kvt::Gnss::GlonassBiases> biases;
    std::vector<Kvt::Nuvrix::View::ViewNotice> notices;

    void epoch(const Kvt::Gnss::ObservationEpoch& e) override { epochs.push_back(e); }
    void stationPosition(const Kvt::Gnss::StationPosition& p) override { positions.push_back(p); }
    void stationDescription(const Kvt::Gnss::StationDescription& d) override { descriptions.push_back(d); }
    void stationText(const Kvt::Gnss::StationText& t) override { texts.push_back(t); }
    void keplerEphemeris(const Kvt::Gnss::KeplerEphemeris& k) override { kepler.push_back(k); }
    void glonassEphemeris(const Kvt::Gnss::GlonassEphemeris& g) override { glonass.push_back(g); }
    void glonassBiases(const Kvt::Gnss::GlonassBiases& b) override { biases.push_back(b); }
    void notice(const Kvt::Nuvrix::View::ViewNotice& n) override { notices.push_back(n); }
};

// Decodes every frame and hands each record to the view.
inline void feed(Kvt::Nuvrix::View::GnssView& view, const std::vector<Bytes>& frames)
{
    using namespace Kvt::Nuvrix;
    _RTCM3_message_t record;
    for (const Bytes& f : frames) {
        const int32_t r = RTCM3_decode(nullptr, f.data(), static_cast<uint16_t>(f.size()), &record);
        if (r >= 0)
            view.add(record);
        if (r != RTCM3_ERR_INVALID_MESSAGE)
            RTCM3_free_message_children(&record);
    }
}

inline CollectSink runCapture(const std::string& path,
                              std::optional<Kvt::Gnss::GpsTime> hint = std::nullopt)
{
    CollectSink sink;
    Kvt::Nuvrix::View::GnssView view(sink);
    if (hint)
        view.setTimeHint(*hint);
    feed(view, framesOf(readFile(path)));
    view.finish();
    return sink;
}

} // namespace viewtest
