// Frame checksums and bit counts. The tables are built at compile time from their polynomials.
#include "kvtcg.h"

#include <cstring>
#include <numeric>

namespace {

// Register after shifting byte i through it most significant bit first.
template <typename Word, unsigned RegisterBits, uint32_t Polynomial>
constexpr std::array<Word, 256> makeMsbFirstTable()
{
    constexpr uint32_t topBit = uint32_t{1} << RegisterBits;
    constexpr uint32_t registerMask = topBit - 1;
    std::array<Word, 256> table{};
    for (uint32_t i = 0; i < 256; ++i) {
        uint32_t crc = i << (RegisterBits - 8);
        for (int bit = 0; bit < 8; ++bit) {
            crc <<= 1;
            if (crc & topBit)
                crc ^= topBit | Polynomial;
        }
        table[i] = static_cast<Word>(crc & registerMask);
    }
    return table;
}

// Register after shifting byte i through it least significant bit first.
constexpr std::array<uint16_t, 256> makeLsbFirstTable(uint16_t reflectedPolynomial)
{
    std::array<uint16_t, 256> table{};
    for (uint32_t i = 0; i < 256; ++i) {
        uint32_t crc = i;
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 1u) ? (crc >> 1) ^ reflectedPolynomial : crc >> 1;
        table[i] = static_cast<uint16_t>(crc);
    }
    return table;
}

constexpr std::array<uint8_t, 256> makeHammingWeightTable()
{
    std::array<uint8_t, 256> table{};
    for (unsigned i = 1; i < 256; ++i)
        table[i] = static_cast<uint8_t>((i & 1u) + table[i >> 1]);
    return table;
}

// The covered range must be whole bytes, non-empty and inside the buffer.
bool isByteRangeInBuffer(uint16_t data_size, uint64_t first_bit, uint64_t end_bit)
{
    return first_bit < end_bit && end_bit <= uint64_t{data_size} * 8u && (first_bit & 7u) == 0
        && (end_bit & 7u) == 0;
}

uint8_t byteSum(const uint8_t* data, uint64_t first_bit, uint64_t end_bit)
{
    // Wraps modulo 256 by the type of the accumulator.
    return std::accumulate(data + first_bit / 8, data + end_bit / 8, uint8_t{0},
                           [](uint8_t sum, uint8_t byte) { return static_cast<uint8_t>(sum + byte); });
}

uint32_t popcount64(uint64_t x)
{
    x -= (x >> 1) & 0x5555555555555555u;
    x = (x & 0x3333333333333333u) + ((x >> 2) & 0x3333333333333333u);
    x = (x + (x >> 4)) & 0x0F0F0F0F0F0F0F0Fu;
    return static_cast<uint32_t>((x * 0x0101010101010101u) >> 56);
}

int32_t byteCount(uint64_t first_bit, uint64_t end_bit)
{
    return static_cast<int32_t>((end_bit - first_bit) / 8);
}

} // namespace

constexpr std::array<uint32_t, 256> kvtcg_crc24q_table = makeMsbFirstTable<uint32_t, 24, 0x864CFB>();
constexpr std::array<uint16_t, 256> kvtcg_crc16ccitt_table = makeMsbFirstTable<uint16_t, 16, 0x1021>();
constexpr std::array<uint16_t, 256> kvtcg_crc16sbg_table = makeLsbFirstTable(0x8408);
constexpr std::array<uint8_t, 256> kvtcg_hammingweight_table = makeHammingWeightTable();

// Eight bytes at a time: the register is held in the top 24 bits of a 32-bit word and each
// table k gives the effect of a byte followed by k zero bytes, so the eight lookups of a step
// are independent of each other. It runs on every received byte.
constexpr int kSlices = 8;
using SliceTables = std::array<std::array<uint32_t, 256>, kSlices>;

constexpr SliceTables makeCrc24qSlices()
{
    SliceTables t{};
    for (uint32_t i = 0; i < 256; ++i)
        t[0][i] = kvtcg_crc24q_table[i] << 8;
    for (int k = 1; k < kSlices; ++k)
        for (uint32_t i = 0; i < 256; ++i)
            t[k][i] = (t[k - 1][i] << 8) ^ t[0][t[k - 1][i] >> 24];
    return t;
}

constexpr SliceTables kCrc24qSlices = makeCrc24qSlices();

namespace {

uint32_t loadBigEndian32(const uint8_t* p)
{
    return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | p[3];
}

} // namespace

uint32_t CRC_compute24Q(const uint8_t* data, int32_t count)
{
    const auto& t = kCrc24qSlices;
    uint32_t crc = 0;  // CRC-24Q in bits 31..8
    int32_t i = 0;
    for (; i + kSlices <= count; i += kSlices) {
        const uint32_t high = crc ^ loadBigEndian32(data + i);
        const uint32_t low = loadBigEndian32(data + i + 4);
        crc = t[7][high >> 24] ^ t[6][(high >> 16) & 0xFFu] ^ t[5][(high >> 8) & 0xFFu] ^ t[4][high & 0xFFu]
            ^ t[3][low >> 24] ^ t[2][(low >> 16) & 0xFFu] ^ t[1][(low >> 8) & 0xFFu] ^ t[0][low & 0xFFu];
    }
    for (; i < count; ++i)
        crc = (crc << 8) ^ t[0][(crc >> 24) ^ data[i]];
    return crc >> 8;
}

uint16_t CRC_compute16CCITT(const uint8_t* data, int32_t count)
{
    uint32_t crc = 0;
    for (int32_t i = 0; i < count; ++i)
        crc = (crc << 8) ^ kvtcg_crc16ccitt_table[((crc >> 8) ^ data[i]) & 0xFFu];
    return static_cast<uint16_t>(crc);
}

uint16_t CRC_compute16_SBG(const uint8_t* data, int32_t count)
{
    uint32_t crc = 0;
    for (int32_t i = 0; i < count; ++i)
        crc = (crc >> 8) ^ kvtcg_crc16sbg_table[(crc ^ data[i]) & 0xFFu];
    return static_cast<uint16_t>(crc);
}

bool kvtcg_compute_CRC_24Q(const uint8_t* data, uint16_t data_size, uint64_t first_bit, uint64_t end_bit,
                           void* destination, uint16_t destination_bits)
{
    auto* out = static_cast<uint8_t*>(destination);
    out[0] = 0;
    if (destination_bits != 24 || !isByteRangeInBuffer(data_size, first_bit, end_bit))
        return false;
    const uint32_t crc = CRC_compute24Q(data + first_bit / 8, byteCount(first_bit, end_bit));
    out[0] = static_cast<uint8_t>(crc >> 16);
    out[1] = static_cast<uint8_t>(crc >> 8);
    out[2] = static_cast<uint8_t>(crc);
    return true;
}

bool kvtcg_compute_CRC_16CCITT(const uint8_t* data, uint16_t data_size, uint64_t first_bit, uint64_t end_bit,
                               void* destination, uint16_t destination_bits)
{
    static_cast<uint8_t*>(destination)[0] = 0;
    if (destination_bits != 16 || !isByteRangeInBuffer(data_size, first_bit, end_bit))
        return false;
    const uint16_t crc = CRC_compute16CCITT(data + first_bit / 8, byteCount(first_bit, end_bit));
    std::memcpy(destination, &crc, sizeof crc);
    return true;
}

bool kvtcg_compute_CRC_16SBG(const uint8_t* data, uint16_t data_size, uint64_t first_bit, uint64_t end_bit,
                             void* destination, uint16_t destination_bits)
{
    static_cast<uint8_t*>(destination)[0] = 0;
    if (destination_bits != 16 || !isByteRangeInBuffer(data_size, first_bit, end_bit))
        return false;
    const uint16_t crc = CRC_compute16_SBG(data + first_bit / 8, byteCount(first_bit, end_bit));
    std::memcpy(destination, &crc, sizeof crc);
    return true;
}

bool kvtcg_compute_MOD256(const uint8_t* data, uint16_t data_size, uint64_t first_bit, uint64_t end_bit,
                          void* destination, uint16_t destination_bits)
{
    auto* out = static_cast<uint8_t*>(destination);
    out[0] = 0;
    if (destination_bits != 8 || !isByteRangeInBuffer(data_size, first_bit, end_bit))
        return false;
    out[0] = byteSum(data, first_bit, end_bit);
    return true;
}

bool kvtcg_compute_COMPLEMENT(const uint8_t* data, uint16_t data_size, uint64_t first_bit, uint64_t end_bit,
                              void* destination, uint16_t destination_bits)
{
    auto* out = static_cast<uint8_t*>(destination);
    out[0] = 0;
    if (destination_bits != 8 || !isByteRangeInBuffer(data_size, first_bit, end_bit))
        return false;
    out[0] = static_cast<uint8_t>(0x100u - byteSum(data, first_bit, end_bit));
    return true;
}

int32_t kvtcg_get_hammingweight_byte(uint8_t value)
{
    return kvtcg_hammingweight_table[value];
}

int32_t kvtcg_get_hammingweight_uint32(uint32_t value)
{
    return kvtcg_get_hammingweight_uint64(value);
}

// Bits counted in parallel within the word (no table look-ups, no popcount instruction needed).
int32_t kvtcg_get_hammingweight_uint64(uint64_t value)
{
    return static_cast<int32_t>(popcount64(value));
}

int32_t kvtcg_get_hammingweight_byte_array(const uint8_t* data, uint16_t count)
{
    // The sum is kept modulo 256 like the counters it sizes: summing eight bytes at a time
    // and cutting at the end gives the same value.
    uint32_t weight = 0;
    uint16_t i = 0;
    for (; i + 8 <= count; i += 8) {
        uint64_t word;
        std::memcpy(&word, data + i, 8);
        weight += popcount64(word);
    }
    for (; i < count; ++i)
        weight += kvtcg_hammingweight_table[data[i]];
    return static_cast<uint8_t>(weight);
}
