#pragma once
// Broadcast orbits, stations and system messages to RTCM 3 frames. Each returns the frame,
// or nothing where a value does not fit its field (these messages have no invalid values;
// a frame with a wrapped value would be a forged orbit). `why`, where given, then names
// the field.

#include "GnssData.h"
#include "ObservationProducer.h"

#include <optional>
#include <string>
#include <vector>

namespace Kvt::Nuvrix {
union _RTCM3_message_t;
}

namespace Kvt::Nuvrix::Produce {

// What a frame of a record carries, field by field in wire order: numbers by field name,
// texts as "name=text" with the value 1; computed members and reserved fields left out.
using FieldValues = std::vector<std::pair<std::string, double>>;
FieldValues fieldValues(const _RTCM3_message_t& record);

// The message of a Kepler ephemeris: 1019 (GPS), 1044 (QZSS), 1041 (NavIC), 1042 (BeiDou),
// 1045 or 1046 (Galileo F/NAV or I/NAV, as its messageNumber says; I/NAV unless 1045).
std::optional<Frame> keplerFrame(const Gnss::KeplerEphemeris& k, std::string* why = nullptr);
std::optional<Frame> glonassFrame(const Gnss::GlonassEphemeris& g, std::string* why = nullptr);

struct StationSystems {
    bool gps = true, glonass = true, galileo = true;
};
// 1005, or 1006 where the antenna height is known.
std::optional<Frame> stationPositionFrame(const Gnss::StationPosition& p, StationSystems systems = {});
// 1007 (no serial number), 1008, or 1033 (where receiver details are known); `number`
// forces one of the three.
std::optional<Frame> stationDescriptionFrame(const Gnss::StationDescription& d, int number = 0);
std::optional<Frame> glonassBiasesFrame(const Gnss::GlonassBiases& b);

// 1013: the UTC date of a GPS instant, the leap seconds and the messages the station sends.
struct Announcement {
    int messageNumber = 0;
    bool synchronous = false;
    double intervalS = 0;
};
std::optional<Frame> systemParametersFrame(uint16_t stationId, const Gnss::GpsTime& time,
                                           const std::vector<Announcement>& announced = {});
// 1029 at the UTC instant of the text's time.
std::optional<Frame> textFrame(const Gnss::StationText& text);

} // namespace Kvt::Nuvrix::Produce
