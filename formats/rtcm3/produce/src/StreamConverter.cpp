#include "StreamConverter.h"

#include "GnssView.h"
#include "RTCM3_codec.h"
#include "RTCM3_families.h"
#include "kvtcg.h"

#include <chrono>

namespace Kvt::Nuvrix::Produce {

using namespace Gnss;

namespace {

// The constellation a frame belongs to, for those that belong to one.
std::optional<System> systemOfMessage(int number)
{
    if (const std::optional<System> s = View::msmSystem(number))
        return s;
    switch (number) {
    case 1001: case 1002: case 1003: case 1004: case 1019: return System::Gps;
    case 1009: case 1010: case 1011: case 1012: case 1020: case 1230: return System::Glonass;
    case 1041: return System::NavIC;
    case 1042: return System::BeiDou;
    case 1044: return System::Qzss;
    case 1045: case 1046: return System::Galileo;
    default: return std::nullopt;
    }
}

bool carriesObservations(int number) { return View::msmSystem(number) || (number >= 1001 && number <= 1004) || (number >= 1009 && number <= 1012); }

GpsTime systemClock()
{
    const double unix = std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
    // GPS time began 315964800 s after the Unix epoch; the leap seconds of now are added.
    const GpsTime utc(0, unix - 315964800.0);
    return utc.plusSeconds(leapSecondsAt(utc));
}

} // namespace

std::optional<ConversionTarget> ConversionTarget::parse(const std::string& text)
{
    if (text == "legacy")
        return legacy();
    if (text.size() == 4 && text.compare(0, 3, "msm") == 0 && text[3] >= '1' && text[3] <= '7')
        return msm(text[3] - '0');
    return std::nullopt;
}

struct StreamConverter::Impl : View::GnssSink {
    ObservationProducer producer;
    View::GnssView view{*this};
    std::bitset<kSystemCount> systems;
    std::vector<Frame> out;
    ObservationEpoch kept;

    void epoch(const ObservationEpoch& e) override
    {
        kept.stationId = e.stationId;
        kept.time = e.time;
        kept.clockSteering = e.clockSteering;
        kept.satellites.clear();
        for (const SatelliteObservations& s : e.satellites)
            if (systems.test(static_cast<std::size_t>(s.sat.system)))
                kept.satellites.push_back(s);
        for (Frame& f : producer.produce(kept))
            out.push_back(std::move(f));
    }
};

StreamConverter::StreamConverter(ConversionTarget target) : d(std::make_unique<Impl>())
{
    d->systems.set();
    if (target.msmLevel == 0)
        d->producer.setAllLegacy();
    else
        d->producer.setAllMsm(target.msmLevel);
    d->view.setTimeHint(systemClock());
}

StreamConverter::~StreamConverter() = default;

bool StreamConverter::setSystems(const std::string& letters)
{
    std::bitset<kSystemCount> s;
    for (char c : letters) {
        const std::optional<System> system = systemFromLetter(c);
        if (!system)
            return false;
        s.set(static_cast<std::size_t>(*system));
    }
    d->systems = s;
    return true;
}

void StreamConverter::setLimitReport(ObservationProducer::LimitReport report) { d->producer.setLimitReport(std::move(report)); }

void StreamConverter::setTimeHint(const GpsTime& nearData) { d->view.setTimeHint(nearData); }

std::vector<Frame> StreamConverter::add(const uint8_t* frame, std::size_t size)
{
    d->out.clear();
    using wire::Frame::Message_Number;
    constexpr std::size_t kSmallest = (Message_Number.offset + Message_Number.bits + wire::Frame::crcBits + 7) / 8;
    if (size < kSmallest || size > std::size_t(wire::Frame::maxBytes))
        return {};
    const int number = int(kvtcg_detail::readBits(frame, uint64_t(Message_Number.offset), unsigned(Message_Number.bits)));
    const std::optional<System> system = systemOfMessage(number);
    if (system && !d->systems.test(static_cast<std::size_t>(*system)))
        return {};
    if (!carriesObservations(number)) {
        d->out.emplace_back(frame, frame + size);
        return std::move(d->out);
    }
    _RTCM3_message_t record;
    const int32_t r = RTCM3_decode(nullptr, frame, uint16_t(size), &record);
    if (r > 0)
        d->view.add(record);
    RTCM3_free_message_children(&record);
    return std::move(d->out);
}

std::vector<Frame> StreamConverter::finish()
{
    d->out.clear();
    d->view.finish();
    return std::move(d->out);
}

} // namespace Kvt::Nuvrix::Produce
