#pragma once
// Observation epochs, stations and orbits as text for people and as JSON lines for programs.
// Every function appends to a string the caller reuses, so that a stream of epochs costs no
// allocation once the string has grown.

#include "GnssData.h"

#include <optional>
#include <string>
#include <string_view>

namespace Kvt::Gnss {

// A number rounded to the millimetre (or millicycle) in its shortest form, with at least one
// decimal: 22489021.337, -935.21, 45.0.
void appendJsonNumber(std::string& out, double value);
// A JSON string of bytes as sent, escaped as Text::appendJsonString does.
void appendJsonString(std::string& out, std::string_view bytes);

// One JSON line each, with the line end.
// {"station":0,"time":"2021-02-05T15:44:08.000","week":2143,"tow":488648.0,"sats":{"G05":
//  {"C1C":22489021.337,"L1C":118219883.102,"D1C":-935.21,"S1C":45.0,"lock1C":520.0},...}}
// Lock times follow the observations as "lock<code>"; a half-cycle ambiguity as
// "half<code>":true; a GLONASS frequency channel as "fcn".
void appendEpochJson(std::string& out, const ObservationEpoch& epoch);
// {"station":2003,"ecef":[x,y,z],"llh":[lat,lon,h],"height":1.5}
void appendStationPositionJson(std::string& out, const StationPosition& position);
void appendStationDescriptionJson(std::string& out, const StationDescription& description);
void appendStationTextJson(std::string& out, const StationText& text);
// Orbits and clocks with every term in SI units, times as ISO GPST; and GLONASS biases.
// {"sat":"G02","message":1019,"week":2305,"toc":"...","toe":"...","af0":...,...}
void appendKeplerJson(std::string& out, const KeplerEphemeris& ephemeris);
// {"sat":"R09","channel":-2,"toe":"...","tk":"...","tauN":...,"pos":[x,y,z],"vel":[...],"acc":[...],...}
void appendGlonassJson(std::string& out, const GlonassEphemeris& ephemeris);
void appendGlonassBiasesJson(std::string& out, const GlonassBiases& biases);

// A block: a header line with the GPST date and time, week, time of week and station, then
// one line per satellite and signal in aligned columns (blank where a value is absent).
void appendEpochText(std::string& out, const ObservationEpoch& epoch);
void appendStationPositionText(std::string& out, const StationPosition& position);
void appendStationDescriptionText(std::string& out, const StationDescription& description);
void appendStationTextText(std::string& out, const StationText& text);

} // namespace Kvt::Gnss
