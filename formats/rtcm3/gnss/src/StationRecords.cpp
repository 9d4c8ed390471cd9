#include "StationRecords.h"

#include "ViewTime.h"

#include <algorithm>
#include <string>

namespace Kvt::Nuvrix::View {

using namespace Gnss;

namespace {

template <typename T>
std::string rawString(const T* chars, std::size_t count, std::size_t capacity)
{
    return std::string(reinterpret_cast<const char*>(chars), std::min(count, capacity));
}

} // namespace

StationPosition stationPosition(int number, const _RTCM3_message_t& record)
{
    const auto& m = record.Message_Type_1006;  // 1005 is 1006 without the height
    StationPosition p;
    p.stationId = m.Reference_Station_ID;
    p.ecef = {m.ECEF_X * 0.0001, m.ECEF_Y * 0.0001, m.ECEF_Z * 0.0001};
    if (number == 1006)
        p.antennaHeightM = m.Height * 0.0001;
    p.virtualStation = m.Reference_Station_Indicator != 0;
    return p;
}

StationDescription stationDescription(int number, const _RTCM3_message_t& record)
{
    StationDescription d;
    const auto& a = record.Message_Type_1008;  // 1007 is its head
    d.stationId = a.Reference_Station_ID;
    d.antennaDescriptor = rawString(a.Antenna_Descriptor, a.N, sizeof a.Antenna_Descriptor);
    d.antennaSetupId = a.Antenna_Setup_ID;
    if (number == 1008)
        d.antennaSerialNumber = rawString(a.Antenna_Serial_Number, a.M, sizeof a.Antenna_Serial_Number);
    if (number == 1033) {
        const auto& f = record.Message_Type_1033;
        d.antennaSerialNumber = rawString(f.Antenna_Serial_Number, f.M, sizeof f.Antenna_Serial_Number);
        d.receiverDescriptor = rawString(f.Receiver_Descriptor, f.I, sizeof f.Receiver_Descriptor);
        d.receiverFirmwareVersion = rawString(f.Receiver_Firmware_Version, f.J, sizeof f.Receiver_Firmware_Version);
        d.receiverSerialNumber = rawString(f.Receiver_Serial_Number, f.K, sizeof f.Receiver_Serial_Number);
    }
    return d;
}

GlonassBiases glonassBiases(const RTCM3_Message_Type_1230_s& m)
{
    GlonassBiases b;
    b.stationId = m.Reference_Station_ID;
    b.aligned = m.GLONASS_Code_Phase_bias_indicator != 0;
    const int mask = m.GLONASS_FDMA_Signals_Mask;
    auto bias = [&](int bit, int16_t v) {
        return (mask & bit) && v != -32768 ? std::optional<double>(v * 0.02) : std::nullopt;
    };
    b.l1ca = bias(8, m.GLONASS_L1_C_A_Code_Phase_Bias);
    b.l1p = bias(4, m.GLONASS_L1_P_Code_Phase_Bias);
    b.l2ca = bias(2, m.GLONASS_L2_C_A_Code_Phase_Bias);
    b.l2p = bias(1, m.GLONASS_L2_P_Code_Phase_Bias);
    return b;
}

StationText stationText(const RTCM3_Message_Type_1029_s& r, std::optional<int> leap)
{
    StationText t;
    t.stationId = r.Reference_Station_ID;
    const GpsTime utc = fromMjd(r.MJD_Number, r.Seconds_of_Day);
    t.time = utc.plusSeconds(leap ? *leap : leapSecondsAt(utc));
    t.text = rawString(r.UTF_8_Character_Code_Units, r.Number_of_UTF_8_Code_Units,
                       sizeof r.UTF_8_Character_Code_Units);
    return t;
}

bool textIsDated(const RTCM3_Message_Type_1029_s& r)
{
    return r.MJD_Number >= kMjdOfGpsEpoch && r.Seconds_of_Day <= uint32_t(kSecondsPerDay);
}

std::optional<GpsTime> systemParametersTime(const RTCM3_Message_Type_1013_s& r)
{
    if (r.Seconds_of_Day >= uint32_t(kSecondsPerDay) + 1 || r.MJD_Number < kMjdOfGpsEpoch)
        return std::nullopt;
    const GpsTime utc = fromMjd(r.MJD_Number, r.Seconds_of_Day);
    return utc.plusSeconds(r.Leap_Seconds != 255 ? r.Leap_Seconds : leapSecondsAt(utc));
}

} // namespace Kvt::Nuvrix::View
