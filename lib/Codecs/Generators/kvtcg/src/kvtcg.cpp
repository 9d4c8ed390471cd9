// Assertion report, buffer helpers, and the floating-point and little-endian field primitives.
#include "kvtcg.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

void kvtcg_assertion_failed(const char* file, long line, const char* text)
{
    std::printf("%s:%ld: Assertion failed '%s'\n", file, line, text);
    std::fflush(stdout);
    std::exit(1);
}

namespace {

using kvtcg_detail::readBits;
using kvtcg_detail::signExtend;
using kvtcg_detail::writeBits;

void checkWidth16(const uint8_t*, uint16_t data_size, uint64_t offset, uint8_t bit_len)
{
    KVTCG_CHECK_FIELD_IN_BUFFER(offset, bit_len, data_size);
    KVTCG_ASSERT(bit_len > 8);
    KVTCG_ASSERT(bit_len <= 16);
}

void checkWidth32(const uint8_t*, uint16_t data_size, uint64_t offset, uint8_t bit_len)
{
    KVTCG_CHECK_FIELD_IN_BUFFER(offset, bit_len, data_size);
    KVTCG_ASSERT(bit_len > 16);
    KVTCG_ASSERT(bit_len <= 32);
}

void checkWidth64(const uint8_t*, uint16_t data_size, uint64_t offset, uint8_t bit_len)
{
    KVTCG_CHECK_FIELD_IN_BUFFER(offset, bit_len, data_size);
    KVTCG_ASSERT(bit_len > 32);
    KVTCG_ASSERT(bit_len <= 64);
}

void checkFloat(const uint8_t*, uint16_t data_size, uint64_t offset, uint8_t bit_len)
{
    KVTCG_CHECK_FIELD_IN_BUFFER(offset, bit_len, data_size);
    KVTCG_ASSERT(bit_len == 32);
}

void checkDouble(const uint8_t*, uint16_t data_size, uint64_t offset, uint8_t bit_len)
{
    KVTCG_CHECK_FIELD_IN_BUFFER(offset, bit_len, data_size);
    KVTCG_ASSERT(bit_len == 64);
}

// Byte groups from the least significant up; the last group carries the remaining top bits.
uint64_t readLittleEndian(const uint8_t* data, uint64_t offset, unsigned width)
{
    uint64_t value = 0;
    for (unsigned done = 0; done < width; done += 8)
        value |= readBits(data, offset + done, std::min(8u, width - done)) << done;
    return value;
}

void writeLittleEndian(uint8_t* data, uint64_t offset, unsigned width, uint64_t value)
{
    for (unsigned done = 0; done < width; done += 8)
        writeBits(data, offset + done, std::min(8u, width - done), value >> done);
}

template <typename To, typename From>
To bitCast(From from)
{
    static_assert(sizeof(To) == sizeof(From), "bit patterns of equal size only");
    To to;
    std::memcpy(&to, &from, sizeof to);
    return to;
}

} // namespace

// ---- Floating point: the IEEE 754 bit pattern as an integer field ------------------------------

void kvtcg_decode_float_bigendian(const uint8_t* data, uint16_t data_size, uint64_t offset, uint8_t bit_len,
                                  float* result)
{
    checkFloat(data, data_size, offset, bit_len);
    *result = bitCast<float>(static_cast<uint32_t>(readBits(data, offset, 32)));
}

void kvtcg_decode_double_bigendian(const uint8_t* data, uint16_t data_size, uint64_t offset, uint8_t bit_len,
                                   double* result)
{
    checkDouble(data, data_size, offset, bit_len);
    *result = bitCast<double>(readBits(data, offset, 64));
}

void kvtcg_encode_float_bigendian(uint8_t* data, uint16_t data_size, uint64_t offset, uint8_t bit_len, float value)
{
    checkFloat(data, data_size, offset, bit_len);
    writeBits(data, offset, 32, bitCast<uint32_t>(value));
}

void kvtcg_encode_double_bigendian(uint8_t* data, uint16_t data_size, uint64_t offset, uint8_t bit_len,
                                   double value)
{
    checkDouble(data, data_size, offset, bit_len);
    writeBits(data, offset, 64, bitCast<uint64_t>(value));
}

void kvtcg_decode_float_littleendian(const uint8_t* data, uint16_t data_size, uint64_t offset, uint8_t bit_len,
                                     float* result)
{
    checkFloat(data, data_size, offset, bit_len);
    *result = bitCast<float>(static_cast<uint32_t>(readLittleEndian(data, offset, 32)));
}

void kvtcg_decode_double_littleendian(const uint8_t* data, uint16_t data_size, uint64_t offset, uint8_t bit_len,
                                      double* result)
{
    checkDouble(data, data_size, offset, bit_len);
    *result = bitCast<double>(readLittleEndian(data, offset, 64));
}

void kvtcg_encode_float_littleendian(uint8_t* data, uint16_t data_size, uint64_t offset, uint8_t bit_len,
                                     float value)
{
    checkFloat(data, data_size, offset, bit_len);
    writeLittleEndian(data, offset, 32, bitCast<uint32_t>(value));
}

void kvtcg_encode_double_littleendian(uint8_t* data, uint16_t data_size, uint64_t offset, uint8_t bit_len,
                                      double value)
{
    checkDouble(data, data_size, offset, bit_len);
    writeLittleEndian(data, offset, 64, bitCast<uint64_t>(value));
}

// ---- Little-endian integers ----------------------------------------------------------------------

void kvtcg_decode_uint16_littleendian(const uint8_t* data, uint16_t data_size, uint64_t offset, uint8_t bit_len,
                                      uint16_t* result)
{
    checkWidth16(data, data_size, offset, bit_len);
    *result = static_cast<uint16_t>(readLittleEndian(data, offset, bit_len));
}

void kvtcg_decode_int16_littleendian(const uint8_t* data, uint16_t data_size, uint64_t offset, uint8_t bit_len,
                                     int16_t* result)
{
    checkWidth16(data, data_size, offset, bit_len);
    *result = static_cast<int16_t>(signExtend(readLittleEndian(data, offset, bit_len), bit_len));
}

void kvtcg_decode_uint32_littleendian(const uint8_t* data, uint16_t data_size, uint64_t offset, uint8_t bit_len,
                                      uint32_t* result)
{
    checkWidth32(data, data_size, offset, bit_len);
    *result = static_cast<uint32_t>(readLittleEndian(data, offset, bit_len));
}

void kvtcg_decode_int32_littleendian(const uint8_t* data, uint16_t data_size, uint64_t offset, uint8_t bit_len,
                                     int32_t* result)
{
    checkWidth32(data, data_size, offset, bit_len);
    *result = static_cast<int32_t>(signExtend(readLittleEndian(data, offset, bit_len), bit_len));
}

void kvtcg_decode_uint64_littleendian(const uint8_t* data, uint16_t data_size, uint64_t offset, uint8_t bit_len,
                                      uint64_t* result)
{
    checkWidth64(data, data_size, offset, bit_len);
    *result = readLittleEndian(data, offset, bit_len);
}

void kvtcg_decode_int64_littleendian(const uint8_t* data, uint16_t data_size, uint64_t offset, uint8_t bit_len,
                                     int64_t* result)
{
    checkWidth64(data, data_size, offset, bit_len);
    *result = static_cast<int64_t>(signExtend(readLittleEndian(data, offset, bit_len), bit_len));
}

void kvtcg_encode_uint16_littleendian(uint8_t* data, uint16_t data_size, uint64_t offset, uint8_t bit_len,
                                      uint16_t value)
{
    checkWidth16(data, data_size, offset, bit_len);
    writeLittleEndian(data, offset, bit_len, value);
}

void kvtcg_encode_int16_littleendian(uint8_t* data, uint16_t data_size, uint64_t offset, uint8_t bit_len,
                                     int16_t value)
{
    kvtcg_encode_uint16_littleendian(data, data_size, offset, bit_len, static_cast<uint16_t>(value));
}

void kvtcg_encode_uint32_littleendian(uint8_t* data, uint16_t data_size, uint64_t offset, uint8_t bit_len,
                                      uint32_t value)
{
    checkWidth32(data, data_size, offset, bit_len);
    writeLittleEndian(data, offset, bit_len, value);
}

void kvtcg_encode_int32_littleendian(uint8_t* data, uint16_t data_size, uint64_t offset, uint8_t bit_len,
                                     int32_t value)
{
    kvtcg_encode_uint32_littleendian(data, data_size, offset, bit_len, static_cast<uint32_t>(value));
}

void kvtcg_encode_uint64_littleendian(uint8_t* data, uint16_t data_size, uint64_t offset, uint8_t bit_len,
                                      uint64_t value)
{
    checkWidth64(data, data_size, offset, bit_len);
    writeLittleEndian(data, offset, bit_len, value);
}

void kvtcg_encode_int64_littleendian(uint8_t* data, uint16_t data_size, uint64_t offset, uint8_t bit_len,
                                     int64_t value)
{
    kvtcg_encode_uint64_littleendian(data, data_size, offset, bit_len, static_cast<uint64_t>(value));
}

// ---- Buffer helpers ----------------------------------------------------------------------------

void kvtcg_memcpy(void* destination, const void* source, uint16_t count)
{
    if (count > 0)
        std::memcpy(destination, source, count);
}

void kvtcg_memset(void* destination, uint8_t value, uint16_t count)
{
    if (count > 0)
        std::memset(destination, value, count);
}

int32_t kvtcg_memcmp(const void* left, const void* right, uint16_t count)
{
    if (count == 0)
        return 0;
    const int order = std::memcmp(left, right, count);
    return (order > 0) - (order < 0);
}

uint32_t kvtcg_strlen(const char* text)
{
    return static_cast<uint32_t>(std::strlen(text));
}

uint8_t* kvtcg_zero_pad(uint8_t* data, uint16_t data_size, uint64_t offset)
{
    KVTCG_CHECK(offset <= uint64_t{data_size} * 8u, "offset <= (UINT32)(data_size * 8)");
    const unsigned used = static_cast<unsigned>(offset & 7u);
    if (used != 0)
        data[offset >> 3] &= static_cast<uint8_t>(0xFFu << (8 - used));
    return data;
}

char* kvtcg_extract_bitstring(const uint8_t* data, uint16_t data_size, uint64_t offset, uint8_t bit_len,
                              char* result, uint16_t result_size)
{
    for (int idx = 0; idx < bit_len; ++idx) {
        const uint64_t position = offset + static_cast<uint64_t>(idx);
        // Split so that an offset near the top of the range cannot wrap into the buffer.
        const uint64_t byteIndex = (offset >> 3) + (((offset & 7u) + static_cast<uint64_t>(idx)) >> 3);
        KVTCG_CHECK(byteIndex < data_size, "IDX(i) < data_size");
        KVTCG_CHECK(idx < result_size - 3, "idx < result_size - 3");
        result[idx] = ((data[byteIndex] >> (7 - (position & 7u))) & 1u) ? '1' : '0';
    }
    if (result_size > 0)
        result[bit_len] = '\0';
    return result;
}
