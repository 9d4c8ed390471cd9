// Station description: antenna reference point, equipment, system parameters, a text message and
// the GLONASS code-phase biases.

#include "MessageBuilders.h"
#include "Record.h"
#include "SampleTime.h"
#include "Scaling.h"
#include "Schedule.h"
#include "SkyModel.h"

#include <QList>
#include <QString>

#include <string>

namespace Kvt::Nuvrix::SampleGen {

namespace {

constexpr double kAntennaHeight = 1.2340; // m, marker to antenna reference point
const char* const kStationText = "Station Zürich – Grüße";

QByteArray stationArp(const EpochContext& c)
{
    const Vec3& arp = c.sky.stationEcef();
    Record<RTCM3_Message_Type_1006_s> r;
    r->Reference_Station_ID = kReferenceStationId;
    r->GPS_Indicator = 1;
    r->GLONASS_Indicator = 1;
    r->Galileo_Indicator = 1;
    r->Reference_Station_Indicator = 0;
    using U = units::Of<RTCM3_Message_Type_1006_s>;
    put(r->ECEF_X, arp.x, U::ECEF_X, "ECEF-X");
    r->Single_Receiver_Oscillator_Indicator = 1;
    put(r->ECEF_Y, arp.y, U::ECEF_Y, "ECEF-Y");
    r->Quarter_Cycle_Indicator = 0;
    put(r->ECEF_Z, arp.z, U::ECEF_Z, "ECEF-Z");
    put(r->Height, kAntennaHeight, U::Height, "antenna height");
    return r.frame();
}

QByteArray descriptors()
{
    Record<RTCM3_Message_Type_1033_s> r;
    r->Reference_Station_ID = kReferenceStationId;
    RTCM3_strcpy_Message_Type_1033_Antenna_Descriptor(r.get(), "NVXCR3.25       NONE");
    r->Antenna_Setup_ID = 0;
    RTCM3_strcpy_Message_Type_1033_Antenna_Serial_Number(r.get(), "24071138");
    RTCM3_strcpy_Message_Type_1033_Receiver_Descriptor(r.get(), "NUVRIX REFSTATION 5");
    RTCM3_strcpy_Message_Type_1033_Receiver_Firmware_Version(r.get(), "5.42.1");
    RTCM3_strcpy_Message_Type_1033_Receiver_Serial_Number(r.get(), "NR5-3309217");
    return r.frame();
}

// The transmission interval is counted in tenths of a second.
QByteArray systemParameters(const EpochContext& c)
{
    const UtcTime utc = utcFromGps(c.gpsTow);
    Record<RTCM3_Message_Type_1013_s> r;
    r->Reference_Station_ID = kReferenceStationId;
    r->MJD_Number = static_cast<uint16_t>(utc.mjd);
    r->Seconds_of_Day = static_cast<uint32_t>(utc.secondOfDay);
    r->Leap_Seconds = kLeapSeconds;
    for (const ScheduledMessage& m : sampleSchedule()) {
        RTCM3_Announcement_s* a = codec::append(r.get());
        a->Message_ID = m.number;
        a->Sync_Flag = m.synchronous;
        put(a->Transmission_Interval, m.intervalSeconds, units::Announcement::Transmission_Interval, "transmission interval");
    }
    if (r->No_of_Announcements > wire::Message_Type_1013::No_of_Announcements.highest)
        throw SampleError("more messages than one announcement list holds");
    return r.frame();
}

QByteArray textMessage(const EpochContext& c)
{
    const QByteArray utf8(kStationText);
    const UtcTime utc = utcFromGps(c.gpsTow);
    Record<RTCM3_Message_Type_1029_s> r;
    r->Reference_Station_ID = kReferenceStationId;
    r->MJD_Number = static_cast<uint16_t>(utc.mjd);
    r->Seconds_of_Day = static_cast<uint32_t>(utc.secondOfDay);
    // Characters and code units differ as soon as the text leaves ASCII.
    r->Number_of_Characters_to_Follow = static_cast<uint8_t>(
        toField(QString::fromUtf8(utf8).toUcs4().size(), 1, wire::Message_Type_1029::Number_of_Characters_to_Follow, "characters"));
    r->Number_of_UTF_8_Code_Units = static_cast<uint8_t>(
        toField(utf8.size(), 1, wire::Message_Type_1029::Number_of_UTF_8_Code_Units, "code units"));
    RTCM3_memcpy_Message_Type_1029_UTF_8_Character_Code_Units(
        r.get(), reinterpret_cast<const uint8_t*>(utf8.constData()), uint32_t(utf8.size()));
    return r.frame();
}

// Code-phase biases of the station's receiver, in units of 2 cm.
QByteArray glonassBiases()
{
    Record<RTCM3_Message_Type_1230_s> r;
    r->Reference_Station_ID = kReferenceStationId;
    r->GLONASS_Code_Phase_bias_indicator = 0;
    r->GLONASS_FDMA_Signals_Mask = 0xF;
    using U = units::Of<RTCM3_Message_Type_1230_s>;
    put(r->GLONASS_L1_C_A_Code_Phase_Bias, 1.46, U::GLONASS_L1_C_A_Code_Phase_Bias, "L1 C/A bias");
    put(r->GLONASS_L1_P_Code_Phase_Bias, 1.32, U::GLONASS_L1_P_Code_Phase_Bias, "L1 P bias");
    put(r->GLONASS_L2_C_A_Code_Phase_Bias, -2.24, U::GLONASS_L2_C_A_Code_Phase_Bias, "L2 C/A bias");
    put(r->GLONASS_L2_P_Code_Phase_Bias, -2.08, U::GLONASS_L2_P_Code_Phase_Bias, "L2 P bias");
    return r.frame();
}

} // namespace

QByteArray buildStationMessage(uint16_t number, const EpochContext& context)
{
    switch (number) {
    case 1006: return stationArp(context);
    case 1013: return systemParameters(context);
    case 1029: return textMessage(context);
    case 1033: return descriptors();
    case 1230: return glonassBiases();
    default: throw SampleError("no station builder for message " + std::to_string(number));
    }
}

} // namespace Kvt::Nuvrix::SampleGen
