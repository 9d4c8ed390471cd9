// The field primitives against a bit-at-a-time model of the bit order, over every type, width,
// alignment and endianness.
#include "kvtcg.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <type_traits>
#include <vector>

namespace {

uint64_t lowMask(unsigned width)
{
    return width >= 64 ? ~uint64_t{0} : (uint64_t{1} << width) - 1;
}

bool streamBit(const std::vector<uint8_t>& buffer, uint64_t position)
{
    return (buffer[position / 8] >> (7 - position % 8)) & 1;
}

// Which bit of the value the i-th bit of a w-bit field carries.
unsigned valueBitOf(unsigned i, unsigned width, bool littleEndian)
{
    if (!littleEndian)
        return width - 1 - i;
    const unsigned group = i / 8;
    const unsigned groupWidth = std::min(8u, width - 8 * group);
    return 8 * group + groupWidth - 1 - i % 8;
}

struct FieldCodec {
    const char* name;
    unsigned typeBits;
    unsigned minWidth;
    unsigned maxWidth;
    bool isSigned;
    bool littleEndian;
    uint64_t (*decode)(const uint8_t*, uint16_t, uint64_t, uint8_t);
    void (*encode)(uint8_t*, uint16_t, uint64_t, uint8_t, uint64_t);
};

uint64_t referenceDecode(const FieldCodec& codec, const std::vector<uint8_t>& buffer, uint64_t offset, unsigned width)
{
    uint64_t value = 0;
    for (unsigned i = 0; i < width; ++i)
        if (streamBit(buffer, offset + i))
            value |= uint64_t{1} << valueBitOf(i, width, codec.littleEndian);
    if (codec.isSigned && width > 0 && width < codec.typeBits && ((value >> (width - 1)) & 1))
        value |= ~lowMask(width);
    return value & lowMask(codec.typeBits);
}

void referenceEncode(const FieldCodec& codec, std::vector<uint8_t>& buffer, uint64_t offset, unsigned width,
                     uint64_t value)
{
    for (unsigned i = 0; i < width; ++i) {
        const uint64_t position = offset + i;
        const uint8_t mask = static_cast<uint8_t>(0x80u >> (position % 8));
        if ((value >> valueBitOf(i, width, codec.littleEndian)) & 1)
            buffer[position / 8] |= mask;
        else
            buffer[position / 8] &= static_cast<uint8_t>(~mask);
    }
}

// Values travel through the tests as their bit pattern, zero-extended to 64 bits.
template <typename T>
uint64_t patternOf(T value)
{
    if constexpr (std::is_floating_point_v<T>) {
        std::conditional_t<sizeof(T) == 4, uint32_t, uint64_t> bits;
        std::memcpy(&bits, &value, sizeof bits);
        return bits;
    } else {
        return static_cast<std::make_unsigned_t<T>>(value);
    }
}

template <typename T>
T fromPattern(uint64_t pattern)
{
    if constexpr (std::is_floating_point_v<T>) {
        const auto bits = static_cast<std::conditional_t<sizeof(T) == 4, uint32_t, uint64_t>>(pattern);
        T value;
        std::memcpy(&value, &bits, sizeof value);
        return value;
    } else {
        return static_cast<T>(pattern);
    }
}

template <typename T, void (*Decode)(const uint8_t*, uint16_t, uint64_t, uint8_t, T*)>
uint64_t decodeAs(const uint8_t* data, uint16_t size, uint64_t offset, uint8_t width)
{
    T value{};
    Decode(data, size, offset, width, &value);
    return patternOf(value);
}

template <typename T, void (*Encode)(uint8_t*, uint16_t, uint64_t, uint8_t, T)>
void encodeAs(uint8_t* data, uint16_t size, uint64_t offset, uint8_t width, uint64_t pattern)
{
    Encode(data, size, offset, width, fromPattern<T>(pattern));
}

#define CODEC(name, T, bits, lo, hi, isSigned, le) \
    FieldCodec { #name, bits, lo, hi, isSigned, le, decodeAs<T, kvtcg_decode_##name>, encodeAs<T, kvtcg_encode_##name> }

const FieldCodec kCodecs[] = {
    CODEC(byte, uint8_t, 8, 0, 8, false, false),
    CODEC(uint8, uint8_t, 8, 0, 8, false, false),
    CODEC(int8, int8_t, 8, 1, 8, true, false),
    CODEC(char, char, 8, 0, 8, std::is_signed_v<char>, false),
    CODEC(uint16_bigendian, uint16_t, 16, 9, 16, false, false),
    CODEC(int16_bigendian, int16_t, 16, 9, 16, true, false),
    CODEC(uint32_bigendian, uint32_t, 32, 17, 32, false, false),
    CODEC(int32_bigendian, int32_t, 32, 17, 32, true, false),
    CODEC(uint64_bigendian, uint64_t, 64, 33, 64, false, false),
    CODEC(int64_bigendian, int64_t, 64, 33, 64, true, false),
    CODEC(float_bigendian, float, 32, 32, 32, false, false),
    CODEC(double_bigendian, double, 64, 64, 64, false, false),
    CODEC(uint16_littleendian, uint16_t, 16, 9, 16, false, true),
    CODEC(int16_littleendian, int16_t, 16, 9, 16, true, true),
    CODEC(uint32_littleendian, uint32_t, 32, 17, 32, false, true),
    CODEC(int32_littleendian, int32_t, 32, 17, 32, true, true),
    CODEC(uint64_littleendian, uint64_t, 64, 33, 64, false, true),
    CODEC(int64_littleendian, int64_t, 64, 33, 64, true, true),
    CODEC(float_littleendian, float, 32, 32, 32, false, true),
    CODEC(double_littleendian, double, 64, 64, 64, false, true),
};

// A buffer holding exactly the bytes a field needs plus a few spare, so that fields ending at
// the last bit are read from an allocation of that size and any over-read shows under ASan.
struct Placement {
    std::vector<uint8_t> buffer;
    uint64_t offset;
};

Placement randomPlacement(std::mt19937_64& random, unsigned width, size_t spareBytes)
{
    const unsigned lead = random() % 8;
    Placement placement{std::vector<uint8_t>((lead + width + 7) / 8 + random() % (spareBytes + 1)), 0};
    for (uint8_t& byte : placement.buffer)
        byte = static_cast<uint8_t>(random());
    const uint64_t lastStart = placement.buffer.size() * 8 - width;
    switch (random() % 3) {
    case 0: placement.offset = lastStart; break; // ends at the very last bit
    case 1: placement.offset = lead; break;      // starts in the first byte
    default: placement.offset = random() % (lastStart + 1); break;
    }
    return placement;
}

void PrintTo(const FieldCodec& codec, std::ostream* out)
{
    *out << codec.name;
}

class FieldPrimitive : public testing::TestWithParam<FieldCodec> {};

TEST_P(FieldPrimitive, decodeAgreesWithBitOrderAndSignExtension)
{
    const FieldCodec& codec = GetParam();
    std::mt19937_64 random(1005);
    for (unsigned width = codec.minWidth; width <= codec.maxWidth; ++width) {
        for (int round = 0; round < 300; ++round) {
            const Placement at = randomPlacement(random, width, 3);
            const auto size = static_cast<uint16_t>(at.buffer.size());
            ASSERT_EQ(codec.decode(at.buffer.data(), size, at.offset, static_cast<uint8_t>(width)),
                      referenceDecode(codec, at.buffer, at.offset, width))
                << "width " << width << " offset " << at.offset << " size " << size;
        }
    }
}

TEST_P(FieldPrimitive, encodeChangesOnlyTheFieldBitsAndReadsBack)
{
    const FieldCodec& codec = GetParam();
    std::mt19937_64 random(1077);
    for (unsigned width = codec.minWidth; width <= codec.maxWidth; ++width) {
        for (int round = 0; round < 300; ++round) {
            Placement at = randomPlacement(random, width, 3);
            const auto size = static_cast<uint16_t>(at.buffer.size());
            const uint64_t value = random() & lowMask(codec.typeBits);
            std::vector<uint8_t> expected = at.buffer;
            referenceEncode(codec, expected, at.offset, width, value);
            codec.encode(at.buffer.data(), size, at.offset, static_cast<uint8_t>(width), value);
            ASSERT_EQ(at.buffer, expected) << "width " << width << " offset " << at.offset << " value " << value;
            ASSERT_EQ(codec.decode(at.buffer.data(), size, at.offset, static_cast<uint8_t>(width)),
                      referenceDecode(codec, expected, at.offset, width));
        }
    }
}

// Bit positions beyond 16 bits and the largest buffer size catch truncated position or size arithmetic.
TEST_P(FieldPrimitive, fieldsAtTheEndOfTheLargestBufferAreAddressedExactly)
{
    const FieldCodec& codec = GetParam();
    std::mt19937_64 random(4072);
    std::vector<uint8_t> buffer(UINT16_MAX);
    for (uint8_t& byte : buffer)
        byte = static_cast<uint8_t>(random());
    for (unsigned width = std::max(codec.minWidth, 1u); width <= codec.maxWidth; ++width) {
        const uint64_t offset = buffer.size() * 8 - width - random() % 9;
        EXPECT_EQ(codec.decode(buffer.data(), UINT16_MAX, offset, static_cast<uint8_t>(width)),
                  referenceDecode(codec, buffer, offset, width));
        std::vector<uint8_t> expected = buffer;
        const uint64_t value = random();
        referenceEncode(codec, expected, offset, width, value);
        codec.encode(buffer.data(), UINT16_MAX, offset, static_cast<uint8_t>(width), value);
        EXPECT_TRUE(buffer == expected) << "width " << width;
    }
}

INSTANTIATE_TEST_SUITE_P(AllTypes, FieldPrimitive, testing::ValuesIn(kCodecs),
                         [](const testing::TestParamInfo<FieldCodec>& info) { return std::string(info.param.name); });

TEST(FieldPrimitiveCases, emptyFieldReadsNothingAndGivesZero)
{
    uint8_t value = 0xAA;
    kvtcg_decode_byte(nullptr, 0, 0, 0, &value);
    EXPECT_EQ(value, 0);
    char character = 'x';
    kvtcg_decode_char(nullptr, 0, 0, 0, &character);
    EXPECT_EQ(character, '\0');
}

// The encoder pads a frame's last byte: only the bits behind the offset are cleared.
TEST(FieldPrimitiveCases, zeroPadClearsOnlyTheRestOfTheLastByte)
{
    struct Case {
        uint64_t offset;
        uint8_t first;
        uint8_t second;
    };
    for (const Case& c : {Case{12, 0xFF, 0xF0}, Case{9, 0xFF, 0x80}, Case{8, 0xFF, 0xFF}, Case{16, 0xFF, 0xFF},
                          Case{1, 0x80, 0xFF}}) {
        uint8_t buffer[2] = {0xFF, 0xFF};
        EXPECT_EQ(kvtcg_zero_pad(buffer, 2, c.offset), buffer);
        EXPECT_EQ(buffer[0], c.first) << "offset " << c.offset;
        EXPECT_EQ(buffer[1], c.second) << "offset " << c.offset;
    }
}

} // namespace
