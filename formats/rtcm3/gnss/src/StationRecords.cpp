#include "StationRecords.h"

#include "ViewTime.h"

#include "RTCM3_families.h"

#include <algorithm>
#include <string>

namespace Kvt::Nuvrix::View {

using namespace Gnss;

namespace {

template <typename T>
void assignRaw(std::string& to, const T* chars, std::size_t count, std::size_t capacity)
{
    to.assign(reinterpret_cast<const char*>(chars), std::min(count, capacity));
}

} // namespace

namespace {

template <typename Record>
void addHeight(StationPosition& p, const Record& r)
{
    if constexpr (std::is_same_v<Record, RTCM3_Message_Type_1006_s>)
        p.antennaHeightM = units::value(units::Message_Type_1006::Height, r.Height);
}

template <typename Record>
void addSerialNumbers(StationDescription& d, const Record& r)
{
    if constexpr (!std::is_same_v<Record, RTCM3_Message_Type_1007_s>)
        assignRaw(d.antennaSerialNumber, r.Antenna_Serial_Number, r.M, sizeof r.Antenna_Serial_Number);
    if constexpr (std::is_same_v<Record, RTCM3_Message_Type_1033_s>) {
        assignRaw(d.receiverDescriptor, r.Receiver_Descriptor, r.I, sizeof r.Receiver_Descriptor);
        assignRaw(d.receiverFirmwareVersion, r.Receiver_Firmware_Version, r.J, sizeof r.Receiver_Firmware_Version);
        assignRaw(d.receiverSerialNumber, r.Receiver_Serial_Number, r.K, sizeof r.Receiver_Serial_Number);
    }
}

double coordinate(const units::Physical& unit, int64_t raw) { return *units::value(unit, raw); }

} // namespace

std::optional<StationPosition> stationPosition(int number, const _RTCM3_message_t& record)
{
    std::optional<StationPosition> position;
    family::visitStationPosition(number, record, [&](const auto& r) {
        const auto m = family::StationPosition::of(r);
        StationPosition& p = position.emplace();
        p.stationId = m.Reference_Station_ID;
        namespace u = units::StationPosition;
        p.ecef = {coordinate(u::ECEF_X, m.ECEF_X), coordinate(u::ECEF_Y, m.ECEF_Y), coordinate(u::ECEF_Z, m.ECEF_Z)};
        addHeight(p, r);
        p.virtualStation = m.Reference_Station_Indicator != 0;
    });
    return position;
}

bool stationDescription(int number, const _RTCM3_message_t& record, StationDescription& d)
{
    return family::visitAntennaDescriptors(number, record, [&](const auto& r) {
        const auto a = family::AntennaDescriptors::of(r);
        d.stationId = a.Reference_Station_ID;
        assignRaw(d.antennaDescriptor, a.Antenna_Descriptor, a.N, sizeof a.Antenna_Descriptor);
        d.antennaSetupId = a.Antenna_Setup_ID;
        // What this message does not carry is empty, as in a description of its own.
        d.antennaSerialNumber.clear();
        d.receiverDescriptor.clear();
        d.receiverFirmwareVersion.clear();
        d.receiverSerialNumber.clear();
        addSerialNumbers(d, r);
    });
}

GlonassBiases glonassBiases(const RTCM3_Message_Type_1230_s& m)
{
    GlonassBiases b;
    b.stationId = m.Reference_Station_ID;
    b.aligned = m.GLONASS_Code_Phase_bias_indicator != 0;
    const uint64_t mask = m.GLONASS_FDMA_Signals_Mask;
    namespace u = units::Message_Type_1230;
    using w = wire::Message_Type_1230;
    auto bias = [&](const wire::Field& field, const units::Physical& unit, int16_t v) {
        return (mask & field.whenBit) ? units::value(unit, v) : std::nullopt;
    };
    b.l1ca = bias(w::GLONASS_L1_C_A_Code_Phase_Bias, u::GLONASS_L1_C_A_Code_Phase_Bias, m.GLONASS_L1_C_A_Code_Phase_Bias);
    b.l1p = bias(w::GLONASS_L1_P_Code_Phase_Bias, u::GLONASS_L1_P_Code_Phase_Bias, m.GLONASS_L1_P_Code_Phase_Bias);
    b.l2ca = bias(w::GLONASS_L2_C_A_Code_Phase_Bias, u::GLONASS_L2_C_A_Code_Phase_Bias, m.GLONASS_L2_C_A_Code_Phase_Bias);
    b.l2p = bias(w::GLONASS_L2_P_Code_Phase_Bias, u::GLONASS_L2_P_Code_Phase_Bias, m.GLONASS_L2_P_Code_Phase_Bias);
    return b;
}

void stationText(const RTCM3_Message_Type_1029_s& r, std::optional<int> leap, StationText& t)
{
    t.stationId = r.Reference_Station_ID;
    const GpsTime utc = fromMjd(r.MJD_Number, r.Seconds_of_Day);
    t.time = utc.plusSeconds(leap ? *leap : leapSecondsAt(utc));
    assignRaw(t.text, r.UTF_8_Character_Code_Units, r.Number_of_UTF_8_Code_Units, sizeof r.UTF_8_Character_Code_Units);
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
    return utc.plusSeconds(units::value(units::Message_Type_1013::Leap_Seconds, r.Leap_Seconds).value_or(leapSecondsAt(utc)));
}

} // namespace Kvt::Nuvrix::View
