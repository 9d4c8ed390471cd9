#pragma once
// Converts an RTCM 3 stream between observation message kinds, frame by frame: MSM7 to
// MSM4 (any lower level), MSM to legacy 1004/1012, legacy to MSM; and keeps only the
// constellations asked for. Frames that carry no observations pass unchanged (those of a
// constellation not kept are dropped). What the target kind cannot carry is said once per
// reason through the limit report.
//
//     StreamConverter converter(ConversionTarget::msm(4));
//     for each frame: for (const Frame& out : converter.add(frame.data(), frame.size())) send(out);
//     for (const Frame& out : converter.finish()) send(out);

#include "ObservationProducer.h"

#include <bitset>
#include <memory>
#include <optional>
#include <string>

namespace Kvt::Nuvrix::Produce {

struct ConversionTarget {
    int msmLevel = 7;   // 1..7, or 0 for legacy 1004 and 1012
    static ConversionTarget msm(int level) { return {level}; }
    static ConversionTarget legacy() { return {0}; }
    // "msm4", "msm7", "legacy"; nothing for anything else.
    static std::optional<ConversionTarget> parse(const std::string& text);
};

class StreamConverter {
public:
    explicit StreamConverter(ConversionTarget target);
    ~StreamConverter();
    StreamConverter(const StreamConverter&) = delete;
    StreamConverter& operator=(const StreamConverter&) = delete;

    // Keep only these constellations, by RINEX letter ("GRE"); all when never called.
    // False for a letter that names none.
    bool setSystems(const std::string& letters);
    void setLimitReport(ObservationProducer::LimitReport report);
    // An instant near the data (GLONASS times need the leap seconds of the date); the
    // system clock when never given.
    void setTimeHint(const Gnss::GpsTime& nearData);

    // One complete frame in; the frames to send now out.
    std::vector<Frame> add(const uint8_t* frame, std::size_t size);
    // End of input: the epoch still being gathered.
    std::vector<Frame> finish();

private:
    struct Impl;
    std::unique_ptr<Impl> d;
};

} // namespace Kvt::Nuvrix::Produce
