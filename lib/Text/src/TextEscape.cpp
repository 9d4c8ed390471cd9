#include "TextEscape.h"

#include <algorithm>

namespace Kvt::Text {
namespace {

const char kHexDigits[] = "0123456789abcdef";

char *writeHex(char *at, const char *prefix, unsigned byte)
{
    while (*prefix)
        *at++ = *prefix++;
    *at++ = kHexDigits[(byte >> 4) & 15];
    *at++ = kHexDigits[byte & 15];
    return at;
}

bool isControl(unsigned char b) { return b < 0x20 || b == 0x7F; }

// C1 controls (U+0080 to U+009F) are valid UTF-8 yet terminals act on them (CSI is U+009B).
bool isC1(const unsigned char *p, std::size_t length) { return length == 2 && p[0] == 0xC2 && p[1] < 0xA0; }

// Calls plain(p, length) for what may pass as it is and special(p, length) for the rest;
// length is 0 for a byte that starts no valid UTF-8 character.
template <typename Plain, typename Special>
char *walk(char *at, std::string_view bytes, Plain plain, Special special)
{
    const auto *p = reinterpret_cast<const unsigned char *>(bytes.data());
    const std::size_t n = bytes.size();
    for (std::size_t i = 0; i < n;) {
        const std::size_t length = utf8Length(p + i, n - i);
        if (length && !isC1(p + i, length) && plain(p[i]))
            at = std::copy(p + i, p + i + length, at);
        else
            at = special(at, p + i, length);
        i += length ? length : 1;
    }
    return at;
}

} // namespace

std::size_t utf8Length(const unsigned char *p, std::size_t left)
{
    const unsigned char b = p[0];
    if (b < 0x80)
        return 1;
    std::size_t length = 0;
    unsigned char low = 0x80, high = 0xBF;
    if (b >= 0xC2 && b <= 0xDF) {
        length = 2;
    } else if (b >= 0xE0 && b <= 0xEF) {
        length = 3;
        low = b == 0xE0 ? 0xA0 : low;    // no overlong forms
        high = b == 0xED ? 0x9F : high;  // no surrogates
    } else if (b >= 0xF0 && b <= 0xF4) {
        length = 4;
        low = b == 0xF0 ? 0x90 : low;
        high = b == 0xF4 ? 0x8F : high;  // nothing above U+10FFFF
    }
    if (length == 0 || left < length || p[1] < low || p[1] > high)
        return 0;
    for (std::size_t k = 2; k < length; ++k)
        if (p[k] < 0x80 || p[k] > 0xBF)
            return 0;
    return length;
}

char *writeJsonString(char *at, std::string_view bytes)
{
    *at++ = '"';
    at = walk(
        at, bytes, [](unsigned char b) { return !isControl(b) && b != '"' && b != '\\'; },
        [](char *to, const unsigned char *from, std::size_t length) {
            if (*from == '"' || *from == '\\') {
                *to++ = '\\';
                *to++ = char(*from);
                return to;
            }
            return writeHex(to, "\\u00", length ? from[length - 1] : from[0]);
        });
    *at++ = '"';
    return at;
}

void appendJsonString(std::string &out, std::string_view bytes)
{
    const std::size_t used = out.size();
    out.resize(used + kEscapedRoomPerByte * bytes.size() + 2);
    out.resize(std::size_t(writeJsonString(out.data() + used, bytes) - out.data()));
}

char *writeEscaped(char *at, std::string_view bytes, char delimiter)
{
    const auto stop = static_cast<unsigned char>(delimiter);
    return walk(
        at, bytes, [stop](unsigned char b) { return !isControl(b) && b != '\\' && (stop == 0 || b != stop); },
        [](char *to, const unsigned char *from, std::size_t length) {
            if (*from == '\\') {
                *to++ = '\\';
                *to++ = '\\';
                return to;
            }
            return length == 2 ? writeHex(to, "\\u00", from[1]) : writeHex(to, "\\x", from[0]);
        });
}

void appendEscaped(std::string &out, std::string_view bytes, char delimiter)
{
    const std::size_t used = out.size();
    out.resize(used + kEscapedRoomPerByte * bytes.size());
    out.resize(std::size_t(writeEscaped(out.data() + used, bytes, delimiter) - out.data()));
}

} // namespace Kvt::Text
