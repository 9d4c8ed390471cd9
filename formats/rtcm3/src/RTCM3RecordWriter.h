#pragma once
// Decoded records as JSON and as text, straight from the record through its reflection table:
// no host objects, no document objects, appended to a buffer the caller reuses.

#include "RTCM3_codec.h"

#include <string>
#include <string_view>

namespace Kvt::Nuvrix::reflect {

// One JSON object, without a line end:
//   {"number":1005,"name":"Stationary RTK Reference Station ARP","Reference_Station_ID":2003,...}
// "number" and "name" (the list's text of the message, else its display name) come first,
// then every present field by member name in member order. A scaled field is its physical
// value (raw times scale, shortest form that reads back exactly); other numbers stay raw;
// unsigned fields wider than 53 bits are hexadecimal strings ("0x..."); arrays are arrays,
// embedded sub-records objects, groups arrays of objects; computed members are included,
// reserved ones left out. False, with nothing appended, when the header names no message.
bool appendJson(std::string &out, const _RTCM3_message_t &message);

// The message as indented "Display Name: value unit" lines, each ending in a line end: first
// the message's display name with the list's text of it ("Message Type 1087 (GLONASS MSM7)"),
// then its fields: the values JSON gives (physical values in SI, the same digits) with their
// units, scientific notation below 1e-3 and from 1e12, symbol texts for the values the list
// names ("none" for a "no value" marker it gives no text), masks in hexadecimal, no group
// separators, strings quoted and escaped as Text::writeEscaped does, nested records and group
// elements under a line with their name (and index). False, with nothing appended, when the
// header names no message.
bool appendText(std::string &out, const _RTCM3_message_t &message);

} // namespace Kvt::Nuvrix::reflect
