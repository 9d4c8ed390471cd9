#pragma once
// Station positions, descriptions, GLONASS biases and texts of the RTCM 3 records in SI
// units. Internal to the view.

#include "GnssData.h"
#include "RTCM3_codec.h"

#include <optional>

namespace Kvt::Nuvrix::View {

// Of a 1005 or 1006; nothing for another message.
std::optional<Gnss::StationPosition> stationPosition(int number, const _RTCM3_message_t& record);
// Of a 1007, 1008 or 1033, written over `into` (its texts keep their room); false for another
// message.
bool stationDescription(int number, const _RTCM3_message_t& record, Gnss::StationDescription& into);
Gnss::GlonassBiases glonassBiases(const RTCM3_Message_Type_1230_s& r);
// A 1029, its UTC instant in GPS time given GPS - UTC where the stream told it, written over
// `into`.
void stationText(const RTCM3_Message_Type_1029_s& r, std::optional<int> leap, Gnss::StationText& into);
// Whether a 1029 carries a date that can be taken for one.
bool textIsDated(const RTCM3_Message_Type_1029_s& r);
// The GPS instant of a 1013 and GPS - UTC if it tells it; nothing for an impossible date.
std::optional<Gnss::GpsTime> systemParametersTime(const RTCM3_Message_Type_1013_s& r);

} // namespace Kvt::Nuvrix::View
