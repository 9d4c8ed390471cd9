#pragma once
// Bytes from outside (a station's descriptor, a caster's source table) as text that can be
// printed: as a JSON string that every reader parses, or as terminal text that neither moves
// the cursor, rings, nor forges a line or a field. Valid UTF-8 passes unchanged in both.

#include <cstddef>
#include <string>
#include <string_view>

namespace Kvt::Text {

// Number of bytes of the well-formed UTF-8 character at p (1 for ASCII), 0 when p starts none
// (stray continuation, overlong form, surrogate, above U+10FFFF, cut short). left > 0.
std::size_t utf8Length(const unsigned char *p, std::size_t left);

// Room a writer below needs per input byte, at most.
constexpr std::size_t kEscapedRoomPerByte = 6;

// A JSON string, quotes included: quote and backslash escaped, C0, DEL and C1 controls as
// \u00NN, a byte that is no part of valid UTF-8 as \u00NN of its value (its Latin-1 reading).
// Writes at most 6 characters per byte plus 2 and returns the end.
char *writeJsonString(char *at, std::string_view bytes);
void appendJsonString(std::string &out, std::string_view bytes);

// Terminal text, without quotes: C0 controls, DEL, bytes that are no part of valid UTF-8 and
// the delimiter (when not NUL) as \xNN, C1 controls as \u00NN, a backslash doubled.
// Writes at most 6 characters per byte and returns the end.
char *writeEscaped(char *at, std::string_view bytes, char delimiter = '\0');
void appendEscaped(std::string &out, std::string_view bytes, char delimiter = '\0');

} // namespace Kvt::Text
