#pragma once
// kvtcg: the bit codec runtime under every generated codec.
//
// Bit position p addresses bit 7 - (p mod 8) of byte p / 8. Big-endian fields hold the value
// most significant bit first; little-endian fields hold the value's bytes from the least
// significant upward, each group most significant bit first, the last group holding the
// w mod 8 (or 8) top bits. The primitives trust their caller: a call outside their
// preconditions is a programming error and ends the process through kvtcg_assertion_failed.

#include <array>
#include <cstdint>
#include <cstring>

// Prints "<file>:<line>: Assertion failed '<text>'" on standard output and exits with status 1.
[[noreturn]] void kvtcg_assertion_failed(const char* file, long line, const char* text);

#if defined(__GNUC__)
#define KVTCG_LIKELY(cond) __builtin_expect(!!(cond), 1)
#else
#define KVTCG_LIKELY(cond) (!!(cond))
#endif

// Reports `text` when `cond` is false. Use it where the checked expression cannot be spelled
// exactly as the report has to read.
#define KVTCG_CHECK(cond, text) \
    (KVTCG_LIKELY(cond) ? static_cast<void>(0) : ::kvtcg_assertion_failed(__FILE__, __LINE__, text))

// Reports the condition's own source text when it is false; always active, also in release builds.
#define KVTCG_ASSERT(...) KVTCG_CHECK((__VA_ARGS__), #__VA_ARGS__)

// The field [offset, offset + bit_len) lies in the buffer. The report keeps the text that
// people search logs for; the check itself is written so that a huge offset cannot wrap
// around and pass.
#define KVTCG_CHECK_FIELD_IN_BUFFER(offset, bit_len, data_size)                                   \
    KVTCG_CHECK((offset) <= uint64_t{data_size} * 8u && (bit_len) <= uint64_t{data_size} * 8u - (offset), \
                "(offset + bit_len) <= (UINT32)(data_size * 8)")

namespace kvtcg_detail {

constexpr uint64_t lowMask(unsigned width)
{
    return width >= 64 ? ~uint64_t{0} : (uint64_t{1} << width) - 1;
}

inline uint32_t load32(const uint8_t* bytes)
{
    return (uint32_t{bytes[0]} << 24) | (uint32_t{bytes[1]} << 16) | (uint32_t{bytes[2]} << 8) | bytes[3];
}

inline void store32(uint8_t* bytes, uint32_t value)
{
    bytes[0] = static_cast<uint8_t>(value >> 24);
    bytes[1] = static_cast<uint8_t>(value >> 16);
    bytes[2] = static_cast<uint8_t>(value >> 8);
    bytes[3] = static_cast<uint8_t>(value);
}

// The 1..8 bytes at `bytes` as a big-endian number, in at most two word accesses: for fewer
// than eight bytes the first and the last four overlap, and overlapping bytes agree. Nothing
// outside the span is read, so a field may end at the buffer's last byte.
inline uint64_t loadBigEndian(const uint8_t* bytes, unsigned count)
{
    if (count >= 4)
        return (uint64_t{load32(bytes)} << (8 * (count - 4))) | load32(bytes + count - 4);
    const unsigned middle = count / 2;
    return (uint64_t{bytes[0]} << (8 * (count - 1))) | (uint64_t{bytes[middle]} << (8 * (count - 1 - middle)))
        | bytes[count - 1];
}

inline void storeBigEndian(uint8_t* bytes, unsigned count, uint64_t value)
{
    if (count >= 4) {
        store32(bytes, static_cast<uint32_t>(value >> (8 * (count - 4))));
        store32(bytes + count - 4, static_cast<uint32_t>(value));
        return;
    }
    const unsigned middle = count / 2;
    bytes[0] = static_cast<uint8_t>(value >> (8 * (count - 1)));
    bytes[middle] = static_cast<uint8_t>(value >> (8 * (count - 1 - middle)));
    bytes[count - 1] = static_cast<uint8_t>(value);
}

// Reads a big-endian field of 1..64 bits. Only the bytes the field spans are read, so a field
// may end at the last bit of the buffer.
inline uint64_t readBits(const uint8_t* data, uint64_t offset, unsigned width)
{
    const uint8_t* first = data + (offset >> 3);
    const unsigned lead = static_cast<unsigned>(offset & 7u);
    const unsigned span = lead + width;
    if (span <= 64) {
        const unsigned count = (span + 7) >> 3;
        return (loadBigEndian(first, count) >> (count * 8 - span)) & lowMask(width);
    }
    // Nine bytes: the top `lead` bits of the first eight are not ours, the ninth holds the tail.
    const unsigned tail = span - 64;
    const uint64_t head = loadBigEndian(first, 8);
    return ((head << tail) | (first[8] >> (8 - tail))) & lowMask(width);
}

// Writes the low `width` (1..64) bits of value as a big-endian field, keeping every other bit.
inline void writeBits(uint8_t* data, uint64_t offset, unsigned width, uint64_t value)
{
    uint8_t* first = data + (offset >> 3);
    const unsigned lead = static_cast<unsigned>(offset & 7u);
    const unsigned span = lead + width;
    value &= lowMask(width);
    if (span <= 64) {
        const unsigned count = (span + 7) >> 3;
        const unsigned shift = count * 8 - span;
        const uint64_t fieldMask = lowMask(width) << shift;
        const uint64_t acc = loadBigEndian(first, count);
        storeBigEndian(first, count, (acc & ~fieldMask) | (value << shift));
        return;
    }
    const unsigned tail = span - 64;
    const unsigned headWidth = width - tail;
    const uint64_t head = loadBigEndian(first, 8);
    storeBigEndian(first, 8, (head & ~lowMask(headWidth)) | (value >> tail));
    const unsigned tailShift = 8 - tail;
    const uint8_t tailMask = static_cast<uint8_t>(lowMask(tail) << tailShift);
    first[8] = static_cast<uint8_t>((first[8] & ~tailMask) | ((value & lowMask(tail)) << tailShift));
}

constexpr uint64_t signExtend(uint64_t value, unsigned width)
{
    return (width < 64 && ((value >> (width - 1)) & 1u)) ? value | ~lowMask(width) : value;
}

} // namespace kvtcg_detail

// ---- 8-bit fields (0 to 8 bits; int8 decoding 1 to 8) ------------------------------------------

inline void kvtcg_decode_byte(const uint8_t* data, uint16_t data_size, uint64_t offset, uint8_t bit_len,
                              uint8_t* result)
{
    KVTCG_CHECK_FIELD_IN_BUFFER(offset, bit_len, data_size);
    KVTCG_ASSERT(bit_len <= 8);
    *result = bit_len == 0 ? 0 : static_cast<uint8_t>(kvtcg_detail::readBits(data, offset, bit_len));
}

inline void kvtcg_decode_uint8(const uint8_t* data, uint16_t data_size, uint64_t offset, uint8_t bit_len,
                               uint8_t* result)
{
    kvtcg_decode_byte(data, data_size, offset, bit_len, result);
}

inline void kvtcg_decode_int8(const uint8_t* data, uint16_t data_size, uint64_t offset, uint8_t bit_len,
                              int8_t* result)
{
    KVTCG_CHECK_FIELD_IN_BUFFER(offset, bit_len, data_size);
    KVTCG_ASSERT(bit_len > 0);
    KVTCG_ASSERT(bit_len <= 8);
    *result = static_cast<int8_t>(kvtcg_detail::signExtend(kvtcg_detail::readBits(data, offset, bit_len), bit_len));
}

// A character field is a signed 8-bit field, except that an empty one reads as 0.
inline void kvtcg_decode_char(const uint8_t* data, uint16_t data_size, uint64_t offset, uint8_t bit_len,
                              char* result)
{
    KVTCG_CHECK_FIELD_IN_BUFFER(offset, bit_len, data_size);
    KVTCG_ASSERT(bit_len <= 8);
    *result = bit_len == 0
        ? '\0'
        : static_cast<char>(kvtcg_detail::signExtend(kvtcg_detail::readBits(data, offset, bit_len), bit_len));
}

inline void kvtcg_encode_byte(uint8_t* data, uint16_t data_size, uint64_t offset, uint8_t bit_len, uint8_t value)
{
    KVTCG_CHECK_FIELD_IN_BUFFER(offset, bit_len, data_size);
    KVTCG_ASSERT(bit_len <= 8);
    if (bit_len > 0)
        kvtcg_detail::writeBits(data, offset, bit_len, value);
}

inline void kvtcg_encode_uint8(uint8_t* data, uint16_t data_size, uint64_t offset, uint8_t bit_len, uint8_t value)
{
    kvtcg_encode_byte(data, data_size, offset, bit_len, value);
}

inline void kvtcg_encode_int8(uint8_t* data, uint16_t data_size, uint64_t offset, uint8_t bit_len, int8_t value)
{
    kvtcg_encode_byte(data, data_size, offset, bit_len, static_cast<uint8_t>(value));
}

inline void kvtcg_encode_char(uint8_t* data, uint16_t data_size, uint64_t offset, uint8_t bit_len, char value)
{
    kvtcg_encode_byte(data, data_size, offset, bit_len, static_cast<uint8_t>(value));
}

// ---- Big-endian integer fields: the order of RTCM 3 ---------------------------------------------

inline void kvtcg_decode_uint16_bigendian(const uint8_t* data, uint16_t data_size, uint64_t offset, uint8_t bit_len,
                                          uint16_t* result)
{
    KVTCG_CHECK_FIELD_IN_BUFFER(offset, bit_len, data_size);
    KVTCG_ASSERT(bit_len > 8);
    KVTCG_ASSERT(bit_len <= 16);
    *result = static_cast<uint16_t>(kvtcg_detail::readBits(data, offset, bit_len));
}

inline void kvtcg_decode_int16_bigendian(const uint8_t* data, uint16_t data_size, uint64_t offset, uint8_t bit_len,
                                         int16_t* result)
{
    uint16_t raw;
    kvtcg_decode_uint16_bigendian(data, data_size, offset, bit_len, &raw);
    *result = static_cast<int16_t>(kvtcg_detail::signExtend(raw, bit_len));
}

inline void kvtcg_decode_uint32_bigendian(const uint8_t* data, uint16_t data_size, uint64_t offset, uint8_t bit_len,
                                          uint32_t* result)
{
    KVTCG_CHECK_FIELD_IN_BUFFER(offset, bit_len, data_size);
    KVTCG_ASSERT(bit_len > 16);
    KVTCG_ASSERT(bit_len <= 32);
    *result = static_cast<uint32_t>(kvtcg_detail::readBits(data, offset, bit_len));
}

inline void kvtcg_decode_int32_bigendian(const uint8_t* data, uint16_t data_size, uint64_t offset, uint8_t bit_len,
                                         int32_t* result)
{
    uint32_t raw;
    kvtcg_decode_uint32_bigendian(data, data_size, offset, bit_len, &raw);
    *result = static_cast<int32_t>(kvtcg_detail::signExtend(raw, bit_len));
}

inline void kvtcg_decode_uint64_bigendian(const uint8_t* data, uint16_t data_size, uint64_t offset, uint8_t bit_len,
                                          uint64_t* result)
{
    KVTCG_CHECK_FIELD_IN_BUFFER(offset, bit_len, data_size);
    KVTCG_ASSERT(bit_len > 32);
    KVTCG_ASSERT(bit_len <= 64);
    *result = kvtcg_detail::readBits(data, offset, bit_len);
}

inline void kvtcg_decode_int64_bigendian(const uint8_t* data, uint16_t data_size, uint64_t offset, uint8_t bit_len,
                                         int64_t* result)
{
    uint64_t raw;
    kvtcg_decode_uint64_bigendian(data, data_size, offset, bit_len, &raw);
    *result = static_cast<int64_t>(kvtcg_detail::signExtend(raw, bit_len));
}

inline void kvtcg_encode_uint16_bigendian(uint8_t* data, uint16_t data_size, uint64_t offset, uint8_t bit_len,
                                          uint16_t value)
{
    KVTCG_CHECK_FIELD_IN_BUFFER(offset, bit_len, data_size);
    KVTCG_ASSERT(bit_len > 8);
    KVTCG_ASSERT(bit_len <= 16);
    kvtcg_detail::writeBits(data, offset, bit_len, value);
}

inline void kvtcg_encode_int16_bigendian(uint8_t* data, uint16_t data_size, uint64_t offset, uint8_t bit_len,
                                         int16_t value)
{
    kvtcg_encode_uint16_bigendian(data, data_size, offset, bit_len, static_cast<uint16_t>(value));
}

inline void kvtcg_encode_uint32_bigendian(uint8_t* data, uint16_t data_size, uint64_t offset, uint8_t bit_len,
                                          uint32_t value)
{
    KVTCG_CHECK_FIELD_IN_BUFFER(offset, bit_len, data_size);
    KVTCG_ASSERT(bit_len > 16);
    KVTCG_ASSERT(bit_len <= 32);
    kvtcg_detail::writeBits(data, offset, bit_len, value);
}

inline void kvtcg_encode_int32_bigendian(uint8_t* data, uint16_t data_size, uint64_t offset, uint8_t bit_len,
                                         int32_t value)
{
    kvtcg_encode_uint32_bigendian(data, data_size, offset, bit_len, static_cast<uint32_t>(value));
}

inline void kvtcg_encode_uint64_bigendian(uint8_t* data, uint16_t data_size, uint64_t offset, uint8_t bit_len,
                                          uint64_t value)
{
    KVTCG_CHECK_FIELD_IN_BUFFER(offset, bit_len, data_size);
    KVTCG_ASSERT(bit_len > 32);
    KVTCG_ASSERT(bit_len <= 64);
    kvtcg_detail::writeBits(data, offset, bit_len, value);
}

inline void kvtcg_encode_int64_bigendian(uint8_t* data, uint16_t data_size, uint64_t offset, uint8_t bit_len,
                                         int64_t value)
{
    kvtcg_encode_uint64_bigendian(data, data_size, offset, bit_len, static_cast<uint64_t>(value));
}

// ---- Floating-point and little-endian fields (other generated formats) ---------------------------

void kvtcg_decode_float_bigendian(const uint8_t* data, uint16_t data_size, uint64_t offset, uint8_t bit_len,
                                  float* result);
void kvtcg_decode_double_bigendian(const uint8_t* data, uint16_t data_size, uint64_t offset, uint8_t bit_len,
                                   double* result);
void kvtcg_encode_float_bigendian(uint8_t* data, uint16_t data_size, uint64_t offset, uint8_t bit_len, float value);
void kvtcg_encode_double_bigendian(uint8_t* data, uint16_t data_size, uint64_t offset, uint8_t bit_len,
                                   double value);

void kvtcg_decode_uint16_littleendian(const uint8_t* data, uint16_t data_size, uint64_t offset, uint8_t bit_len,
                                      uint16_t* result);
void kvtcg_decode_int16_littleendian(const uint8_t* data, uint16_t data_size, uint64_t offset, uint8_t bit_len,
                                     int16_t* result);
void kvtcg_decode_uint32_littleendian(const uint8_t* data, uint16_t data_size, uint64_t offset, uint8_t bit_len,
                                      uint32_t* result);
void kvtcg_decode_int32_littleendian(const uint8_t* data, uint16_t data_size, uint64_t offset, uint8_t bit_len,
                                     int32_t* result);
void kvtcg_decode_uint64_littleendian(const uint8_t* data, uint16_t data_size, uint64_t offset, uint8_t bit_len,
                                      uint64_t* result);
void kvtcg_decode_int64_littleendian(const uint8_t* data, uint16_t data_size, uint64_t offset, uint8_t bit_len,
                                     int64_t* result);
void kvtcg_decode_float_littleendian(const uint8_t* data, uint16_t data_size, uint64_t offset, uint8_t bit_len,
                                     float* result);
void kvtcg_decode_double_littleendian(const uint8_t* data, uint16_t data_size, uint64_t offset, uint8_t bit_len,
                                      double* result);

void kvtcg_encode_uint16_littleendian(uint8_t* data, uint16_t data_size, uint64_t offset, uint8_t bit_len,
                                      uint16_t value);
void kvtcg_encode_int16_littleendian(uint8_t* data, uint16_t data_size, uint64_t offset, uint8_t bit_len,
                                     int16_t value);
void kvtcg_encode_uint32_littleendian(uint8_t* data, uint16_t data_size, uint64_t offset, uint8_t bit_len,
                                      uint32_t value);
void kvtcg_encode_int32_littleendian(uint8_t* data, uint16_t data_size, uint64_t offset, uint8_t bit_len,
                                     int32_t value);
void kvtcg_encode_uint64_littleendian(uint8_t* data, uint16_t data_size, uint64_t offset, uint8_t bit_len,
                                      uint64_t value);
void kvtcg_encode_int64_littleendian(uint8_t* data, uint16_t data_size, uint64_t offset, uint8_t bit_len,
                                     int64_t value);
void kvtcg_encode_float_littleendian(uint8_t* data, uint16_t data_size, uint64_t offset, uint8_t bit_len,
                                     float value);
void kvtcg_encode_double_littleendian(uint8_t* data, uint16_t data_size, uint64_t offset, uint8_t bit_len,
                                      double value);

// ---- Buffer helpers ----------------------------------------------------------------------------

void kvtcg_memcpy(void* destination, const void* source, uint16_t count);
void kvtcg_memset(void* destination, uint8_t value, uint16_t count);
// -1, 0 or 1 at the first differing byte, compared as unsigned values.
int32_t kvtcg_memcmp(const void* left, const void* right, uint16_t count);
uint32_t kvtcg_strlen(const char* text);
// Clears the rest of the byte that holds bit `offset`, so a frame ends in zero pad bits.
uint8_t* kvtcg_zero_pad(uint8_t* data, uint16_t data_size, uint64_t offset);
// One '0' or '1' per bit of the field, in stream order, then a NUL.
char* kvtcg_extract_bitstring(const uint8_t* data, uint16_t data_size, uint64_t offset, uint8_t bit_len,
                              char* result, uint16_t result_size);

// ---- Checksums, CRCs and bit counts ------------------------------------------------------------

extern const std::array<uint32_t, 256> kvtcg_crc24q_table;     // polynomial 0x864CFB, MSB first
extern const std::array<uint16_t, 256> kvtcg_crc16ccitt_table; // polynomial 0x1021, MSB first
extern const std::array<uint16_t, 256> kvtcg_crc16sbg_table;   // polynomial 0x8408, LSB first
extern const std::array<uint8_t, 256> kvtcg_hammingweight_table;

// Initial value 0, no final exclusive-or; a count of 0 or less gives 0.
uint32_t CRC_compute24Q(const uint8_t* data, int32_t count);
uint16_t CRC_compute16CCITT(const uint8_t* data, int32_t count);
uint16_t CRC_compute16_SBG(const uint8_t* data, int32_t count);

// Checksum over the bytes [first_bit / 8, end_bit / 8) into `destination`. False, with the
// destination's first byte cleared, for a misaligned, empty or out-of-buffer range or a
// destination width other than the checksum's own.
bool kvtcg_compute_CRC_24Q(const uint8_t* data, uint16_t data_size, uint64_t first_bit, uint64_t end_bit,
                           void* destination, uint16_t destination_bits);
bool kvtcg_compute_CRC_16CCITT(const uint8_t* data, uint16_t data_size, uint64_t first_bit, uint64_t end_bit,
                               void* destination, uint16_t destination_bits);
bool kvtcg_compute_CRC_16SBG(const uint8_t* data, uint16_t data_size, uint64_t first_bit, uint64_t end_bit,
                             void* destination, uint16_t destination_bits);
bool kvtcg_compute_MOD256(const uint8_t* data, uint16_t data_size, uint64_t first_bit, uint64_t end_bit,
                          void* destination, uint16_t destination_bits);
bool kvtcg_compute_COMPLEMENT(const uint8_t* data, uint16_t data_size, uint64_t first_bit, uint64_t end_bit,
                              void* destination, uint16_t destination_bits);

int32_t kvtcg_get_hammingweight_byte(uint8_t value);
int32_t kvtcg_get_hammingweight_uint32(uint32_t value);
int32_t kvtcg_get_hammingweight_uint64(uint64_t value);
// Kept modulo 256, like the 8-bit counters that size repeated blocks.
int32_t kvtcg_get_hammingweight_byte_array(const uint8_t* data, uint16_t count);

// ---- Bit strings for debugging generated codecs ------------------------------------------------

// Writes the 8 bits, most significant first, and a NUL; `size` must be at least 10.
char* kvtcg_byte_to_bitstring(uint8_t value, char* text, uint16_t size);
void kvtcg_print_byte_as_bitstring(uint8_t value);
// Hex dump on standard output, 16 bytes a line: offset, hex pairs, printable characters.
void kvtcg_print_byte_array(const uint8_t* data, uint16_t count);
// Spaces for a nesting level: one per level, at most six.
const char* kvtcg_indent(uint8_t level);
