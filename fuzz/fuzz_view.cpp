// libFuzzer entry: hostile frames through the engineering view and everything that prints it:
// JSON and text of every object, RINEX observation and navigation records. The CRC of each
// frame is set right before decoding, so that mutations reach the records instead of dying at
// the checksum.
#include "GnssFormat.h"
#include "GnssView.h"
#include "RTCM3_codec.h"
#include "RinexNavWriter.h"
#include "RinexObsWriter.h"
#include "kvtcg.h"

#include <sstream>
#include <vector>

using namespace Kvt;

namespace {

class Printing : public Nuvrix::View::GnssSink
{
public:
    Printing() : mObs(mObsText), mNav(mNavText) { mNav.begin({}); }

    void epoch(const Gnss::ObservationEpoch& e) override
    {
        Gnss::appendEpochJson(mText, e);
        Gnss::appendEpochText(mText, e);
        if (!mObs.began())
            mObs.begin({}, std::vector<Gnss::ObservationEpoch>{e});
        else
            mObs.write(e);
    }
    void stationPosition(const Gnss::StationPosition& p) override
    {
        Gnss::appendStationPositionJson(mText, p);
        Gnss::appendStationPositionText(mText, p);
    }
    void stationDescription(const Gnss::StationDescription& d) override
    {
        Gnss::appendStationDescriptionJson(mText, d);
        Gnss::appendStationDescriptionText(mText, d);
    }
    void stationText(const Gnss::StationText& t) override
    {
        Gnss::appendStationTextJson(mText, t);
        Gnss::appendStationTextText(mText, t);
    }
    void keplerEphemeris(const Gnss::KeplerEphemeris& k) override
    {
        Gnss::appendKeplerJson(mText, k);
        mNav.write(k);
    }
    void glonassEphemeris(const Gnss::GlonassEphemeris& g) override
    {
        Gnss::appendGlonassJson(mText, g);
        mNav.write(g);
    }
    void glonassBiases(const Gnss::GlonassBiases& b) override { Gnss::appendGlonassBiasesJson(mText, b); }

private:
    std::string mText;
    std::ostringstream mObsText, mNavText;
    Gnss::RinexObsWriter mObs;
    Gnss::RinexNavWriter mNav;
};

void setCrc(std::vector<uint8_t>& frame)
{
    const uint32_t crc = CRC_compute24Q(frame.data(), int32_t(frame.size() - 3));
    frame[frame.size() - 3] = uint8_t(crc >> 16);
    frame[frame.size() - 2] = uint8_t(crc >> 8);
    frame[frame.size() - 1] = uint8_t(crc);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    Printing printing;
    Nuvrix::View::GnssView view(printing);
    Nuvrix::RTCM3_context_s context;
    Nuvrix::RTCM3_init_context(&context);
    Nuvrix::_RTCM3_message_t record;
    std::vector<uint8_t> frame;
    for (size_t at = 0; at + 6 <= size;) {
        const size_t length = size_t(data[at + 1] & 0x03) << 8 | data[at + 2];
        if (data[at] != 0xD3 || at + length + 6 > size) {
            ++at;
            continue;
        }
        frame.assign(data + at, data + at + length + 6);
        setCrc(frame);
        if (Nuvrix::RTCM3_decode(&context, frame.data(), uint16_t(frame.size()), &record) > 0)
            view.add(record);
        Nuvrix::RTCM3_free_message_children(&record);
        at += length + 6;
    }
    view.finish();
    return 0;
}
