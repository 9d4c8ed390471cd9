#pragma once
// Test helpers: cut a byte stream into CRC-checked frames without the synchronizer, so the
// codec can be tested on its own.

#include "kvtcg.h"

#include <cstdint>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace testframes {

using Bytes = std::vector<uint8_t>;

inline Bytes readFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline bool crcMatches(const uint8_t* frame, size_t size)
{
    const uint32_t crc = CRC_compute24Q(frame, static_cast<int32_t>(size - 3));
    return frame[size - 3] == ((crc >> 16) & 0xFF) && frame[size - 2] == ((crc >> 8) & 0xFF)
        && frame[size - 1] == (crc & 0xFF);
}

// Every frame whose CRC matches; a false 0xD3 costs one byte.
inline std::vector<Bytes> validFrames(const Bytes& stream)
{
    std::vector<Bytes> frames;
    size_t i = 0;
    while (i + 6 <= stream.size()) {
        if (stream[i] == 0xD3 && (stream[i + 1] & 0xFC) == 0) {
            const size_t length = ((stream[i + 1] & 0x03u) << 8) | stream[i + 2];
            const size_t size = length + 6;
            if (i + size <= stream.size() && crcMatches(&stream[i], size)) {
                frames.emplace_back(stream.begin() + i, stream.begin() + i + size);
                i += size;
                continue;
            }
        }
        ++i;
    }
    return frames;
}

inline void setCrc(Bytes& frame)
{
    const uint32_t crc = CRC_compute24Q(frame.data(), static_cast<int32_t>(frame.size() - 3));
    frame[frame.size() - 3] = static_cast<uint8_t>(crc >> 16);
    frame[frame.size() - 2] = static_cast<uint8_t>(crc >> 8);
    frame[frame.size() - 1] = static_cast<uint8_t>(crc);
}

} // namespace testframes
