// Bit strings and hex dumps for looking at frames while debugging generated codecs.
#include "kvtcg.h"

#include <algorithm>
#include <cstdio>

namespace {

constexpr int kBytesPerLine = 16;
// Two hex digits per byte and a blank after every pair of bytes.
constexpr int kHexColumnWidth = kBytesPerLine * 2 + kBytesPerLine / 2;

bool isPrintable(uint8_t byte)
{
    return byte >= 0x20 && byte < 0x7F;
}

void printDumpLine(const uint8_t* line, int count, int offset)
{
    std::printf("%07x: ", static_cast<unsigned>(offset));
    int written = 0;
    for (int i = 0; i < count; ++i) {
        written += std::printf("%02x", line[i]);
        if (i % 2 == 1)
            written += std::printf(" ");
    }
    // Keep the character column aligned on a short last line.
    std::printf("%*s", kHexColumnWidth - written, "");
    for (int i = 0; i < count; ++i)
        std::putchar(isPrintable(line[i]) ? line[i] : '.');
    std::putchar('\n');
}

} // namespace

char* kvtcg_byte_to_bitstring(uint8_t value, char* text, uint16_t size)
{
    KVTCG_ASSERT(size >= 10);
    for (int bit = 0; bit < 8; ++bit)
        text[bit] = ((value >> (7 - bit)) & 1u) ? '1' : '0';
    text[8] = '\0';
    return text;
}

void kvtcg_print_byte_as_bitstring(uint8_t value)
{
    char text[10];
    std::printf("%s\n", kvtcg_byte_to_bitstring(value, text, sizeof text));
}

void kvtcg_print_byte_array(const uint8_t* data, uint16_t count)
{
    for (int offset = 0; offset < count; offset += kBytesPerLine)
        printDumpLine(data + offset, std::min(kBytesPerLine, count - offset), offset);
}

const char* kvtcg_indent(uint8_t level)
{
    static constexpr char kSpaces[] = "      ";
    constexpr uint8_t kDeepest = sizeof kSpaces - 1;
    return kSpaces + (kDeepest - std::min(level, kDeepest));
}
