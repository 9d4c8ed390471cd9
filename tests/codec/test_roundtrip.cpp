// Table-driven over every message: records filled at random within every field's width
// encode, decode back to the same values, and survive truncation at every length.
// The filler walks the same layout tables as the codec, so a new list entry is tested by
// adding it; the values it compares come from the wire, not from the tables.

#include "RTCM3_codec.h"
#include "RTCM3_layout.h"
#include "frames.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

using namespace Kvt::Nuvrix;
using layout::CType;
using layout::Field;
using layout::Kind;
using layout::RecordLayout;

namespace {

constexpr int kFirstMsm = RTCM3_MESSAGE_TYPE_1071;
constexpr int kLastMsm = RTCM3_MESSAGE_TYPE_1137;

uint8_t* member(void* record, const Field& f) { return static_cast<uint8_t*>(record) + f.offset; }

size_t ctypeSize(CType t)
{
    switch (t) {
    case CType::U8: case CType::I8: case CType::Char: return 1;
    case CType::U16: case CType::I16: return 2;
    case CType::U32: case CType::I32: case CType::F32: return 4;
    default: return 8;
    }
}

void put(uint8_t* p, CType t, uint64_t v) { std::memcpy(p, &v, ctypeSize(t)); }  // little-endian host

uint64_t get(const uint8_t* p, CType t)
{
    uint64_t v = 0;
    std::memcpy(&v, p, ctypeSize(t));
    return v;
}

unsigned widthOf(const Field& f, uint16_t number) { return f.widthFn ? f.widthFn(number) : f.width; }

uint64_t randomValue(std::mt19937_64& rng, unsigned width, bool isSigned)
{
    uint64_t v = width >= 64 ? rng() : rng() & ((uint64_t(1) << width) - 1);
    if (isSigned && width < 64 && width > 0 && ((v >> (width - 1)) & 1))
        v |= ~((uint64_t(1) << width) - 1);
    return v;
}

bool isCountOfLaterField(const RecordLayout& l, uint16_t k)
{
    for (uint16_t j = k + 1; j < l.fieldCount; ++j)
        if ((l.fields[j].flags & layout::CountIsMember) && l.fields[j].countOffset == l.fields[k].offset)
            return true;
    return false;
}

uint32_t countOf(const Field& f, const void* record)
{
    if (f.countType == CType::Record)
        return f.fixedCount;
    const void* holder = (f.flags & layout::CountInFather) ? static_cast<const RTCM3_kvtcg_header_s*>(record)->kvtcg_father
                                                           : record;
    return static_cast<uint32_t>(get(static_cast<const uint8_t*>(holder) + f.countOffset, f.countType));
}

struct Filler {
    std::mt19937_64& rng;
    uint16_t number;
    int groupSize;  // elements per group; strings get a length derived from it

    void fill(const RecordLayout& l, void* record)
    {
        const bool isMsm = l.enumerator >= kFirstMsm && l.enumerator <= kLastMsm;
        // Skip the frame header and the sub-type that selects the record.
        const uint16_t first = l.messageNumber ? (l.subtype >= 0 ? 5 : 4) : 0;
        for (uint16_t k = first; k < l.fieldCount; ++k) {
            const Field& f = l.fields[k];
            switch (f.kind) {
            case Kind::Scalar:
                if (isCountOfLaterField(l, k))
                    put(member(record, f), f.ctype, countFor(l, k));
                else
                    put(member(record, f), f.ctype, randomValue(rng, widthOf(f, number), f.flags & layout::Signed));
                break;
            case Kind::String:
            case Kind::Array: {
                const uint32_t n = std::min<uint32_t>(countOf(f, record), f.capacity);
                const unsigned width = widthOf(f, number);
                for (uint32_t i = 0; i < n; ++i)
                    put(member(record, f) + i * ctypeSize(f.ctype), f.ctype,
                        f.kind == Kind::String ? 'A' + rng() % 26 : randomValue(rng, width, f.flags & layout::Signed));
                break;
            }
            case Kind::Embed:
                static_cast<RTCM3_kvtcg_header_s*>(static_cast<void*>(member(record, f)))->kvtcg_father =
                    static_cast<RTCM3_kvtcg_header_s*>(record);
                fill(*f.sub, member(record, f));
                break;
            case Kind::Group: {
                const uint32_t n = countOf(f, record);
                auto* array = static_cast<uint8_t*>(std::calloc(n ? n : 1, f.sub->size));
                std::memcpy(member(record, f), &array, sizeof(array));
                for (uint32_t i = 0; i < n; ++i) {
                    void* element = array + size_t(i) * f.sub->size;
                    layout::initRecord(*f.sub, element);
                    static_cast<RTCM3_kvtcg_header_s*>(element)->kvtcg_father = static_cast<RTCM3_kvtcg_header_s*>(record);
                    fill(*f.sub, element);
                }
                break;
            }
            case Kind::Derived:
                break;
            }
            if (isMsm && f.kind == Kind::Scalar && widthOf(f, number) == 64)
                k = fillMsmMasks(l, record, k);
        }
    }

    uint64_t countFor(const RecordLayout& l, uint16_t k)
    {
        for (uint16_t j = k + 1; j < l.fieldCount; ++j) {
            const Field& g = l.fields[j];
            if (!(g.flags & layout::CountIsMember) || g.countOffset != l.fields[k].offset)
                continue;
            if (g.kind == Kind::String)
                return groupSize == 0 ? 0 : std::min<uint64_t>(31, groupSize * 7 + rng() % 3);
            if (g.kind == Kind::Array)
                return groupSize == 0 ? 0 : std::min<uint64_t>(g.capacity, groupSize * 60 + rng() % 10);
            return groupSize;
        }
        return 0;
    }

    // Satellite and signal masks with as many cells as the record holds, the cell mask, and
    // the counts the encoder trusts. Returns the index of the last field it filled.
    uint16_t fillMsmMasks(const RecordLayout& l, void* record, uint16_t k)
    {
        auto* msm = static_cast<RTCM3_Message_Type_1071_s*>(record);  // every MSM record has this layout
        const unsigned nsat = groupSize == 0 ? 0 : 1 + rng() % std::min(20, groupSize * 6);
        const unsigned nsig = nsat == 0 ? 1 + rng() % 4 : 1 + rng() % std::min(32u, 64u / nsat);
        msm->Satellite_Mask = pickBits(64, nsat);
        msm->Signal_Mask = static_cast<uint32_t>(pickBits(32, nsig));
        msm->Nsat = static_cast<uint8_t>(nsat);
        msm->Nsig = static_cast<uint8_t>(nsig);
        msm->Cell_Mask_Length = static_cast<uint8_t>(nsat * nsig);
        msm->Ncell = 0;
        for (unsigned c = 0; c < nsat * nsig; ++c) {
            msm->Cell_Mask[c] = static_cast<uint8_t>(rng() % 4 != 0);
            msm->Ncell += msm->Cell_Mask[c];
        }
        // Skip to the field after Signal_Mask; the cell mask is filled above.
        uint16_t j = k + 1;
        while (j < l.fieldCount && l.fields[j].kind != Kind::Array)
            ++j;
        return j;
    }

    uint64_t pickBits(unsigned total, unsigned n)
    {
        uint64_t mask = 0;
        while (static_cast<unsigned>(__builtin_popcountll(mask)) < n)
            mask |= uint64_t(1) << (rng() % total);
        return mask;
    }
};

// Compares every member present on the wire, recursively; reports the first difference.
std::string compare(const RecordLayout& l, const void* a, const void* b, uint16_t number)
{
    for (uint16_t k = 0; k < l.fieldCount; ++k) {
        const Field& f = l.fields[k];
        if (f.present && !f.present(number, a))
            continue;
        const auto* pa = static_cast<const uint8_t*>(a) + f.offset;
        const auto* pb = static_cast<const uint8_t*>(b) + f.offset;
        const std::string where = std::string(RTCM3_message_enum_to_string(l.enumerator)) + " field " + std::to_string(k);
        switch (f.kind) {
        case Kind::Scalar:
        case Kind::Derived:
            if (f.kind == Kind::Scalar && get(pa, f.ctype) != get(pb, f.ctype))
                return where;
            break;
        case Kind::String:
        case Kind::Array: {
            const uint32_t n = std::min<uint32_t>(countOf(f, a), f.capacity);
            if (std::memcmp(pa, pb, n * ctypeSize(f.ctype)) != 0)
                return where;
            break;
        }
        case Kind::Embed: {
            const std::string r = compare(*f.sub, pa, pb, number);
            if (!r.empty())
                return r;
            break;
        }
        case Kind::Group: {
            const uint8_t* ea;
            const uint8_t* eb;
            std::memcpy(&ea, pa, sizeof(ea));
            std::memcpy(&eb, pb, sizeof(eb));
            for (uint32_t i = 0; i < countOf(f, a); ++i) {
                const std::string r = compare(*f.sub, ea + i * f.sub->size, eb + i * f.sub->size, number);
                if (!r.empty())
                    return r + " of element " + std::to_string(i);
            }
            break;
        }
        }
    }
    return {};
}

std::vector<int> messageEnumerators()
{
    std::vector<int> out;
    for (int e = 1; RTCM3_layout(e); ++e)
        if (RTCM3_layout(e)->messageNumber)
            out.push_back(e);
    return out;
}

struct Encoded {
    testframes::Bytes frame;
    int32_t bits;
};

// A random record of message e, encoded; the record is released before returning.
Encoded randomFrame(int e, std::mt19937_64& rng, int groupSize)
{
    const RecordLayout& l = *RTCM3_layout(e);
    _RTCM3_message_t record;
    std::memset(&record, 0, sizeof(record));
    layout::initRecord(l, &record);
    Filler{rng, l.messageNumber, groupSize}.fill(l, &record);
    testframes::Bytes buffer(4096, 0);
    const int32_t bits = RTCM3_encode_message(buffer.data(), static_cast<uint16_t>(buffer.size()), &record);
    RTCM3_free_message_children(&record);
    buffer.resize(bits > 0 ? bits / 8 : 0);
    return {buffer, bits};
}

class EveryMessage : public ::testing::TestWithParam<int> {};

} // namespace

TEST_P(EveryMessage, RandomRecordsSurviveEncodeAndDecode)
{
    const RecordLayout& l = *RTCM3_layout(GetParam());
    std::mt19937_64 rng(GetParam());
    for (int round = 0; round < 24; ++round) {
        const int groupSize = round % 4;  // 0 included: empty groups, strings and masks
        _RTCM3_message_t original;
        std::memset(&original, 0, sizeof(original));
        layout::initRecord(l, &original);
        Filler{rng, l.messageNumber, groupSize}.fill(l, &original);

        testframes::Bytes buffer(4096, 0);
        const int32_t bits = RTCM3_encode_message(buffer.data(), static_cast<uint16_t>(buffer.size()), &original);
        ASSERT_GT(bits, 0) << RTCM3_error_to_string(bits);
        ASSERT_EQ(bits % 8, 0);
        const size_t size = bits / 8;
        EXPECT_EQ(original.header.kvtcg_bits, static_cast<uint32_t>(bits)) << "bit counter of a fresh record";
        EXPECT_EQ(original.Message_Type_1005.Message_Length, size - 6);
        const testframes::Bytes frame(buffer.begin(), buffer.begin() + size);
        EXPECT_EQ(((frame[1] & 3) << 8) | frame[2], static_cast<int>(size - 6)) << "Message_Length on the wire";
        EXPECT_TRUE(testframes::crcMatches(frame.data(), frame.size()));

        // Decode from an exactly sized heap copy, so any read past the frame is caught.
        std::vector<uint8_t> exact(frame);
        _RTCM3_message_t decoded;
        ASSERT_EQ(RTCM3_decode(nullptr, exact.data(), static_cast<uint16_t>(exact.size()), &decoded), bits);
        EXPECT_EQ(decoded.header.kvtcg_message, GetParam());
        EXPECT_EQ(decoded.header.kvtcg_bits, static_cast<uint32_t>(bits));
        EXPECT_EQ(compare(l, &original, &decoded, l.messageNumber), "");
        const uint8_t* crc = reinterpret_cast<const uint8_t*>(&decoded) + l.crcOffset;
        EXPECT_EQ(std::memcmp(crc, &frame[size - 3], 3), 0) << "CRC bytes kept";

        // Encoding the same record again gives the same frame and doubles its bit counter.
        testframes::Bytes again(size, 0);
        EXPECT_EQ(RTCM3_encode_message(again.data(), static_cast<uint16_t>(size), &original), bits);
        EXPECT_EQ(again, frame);
        EXPECT_EQ(original.header.kvtcg_bits, 2u * bits);

        RTCM3_free_message_children(&original);
        RTCM3_free_message_children(&decoded);
    }
}

TEST_P(EveryMessage, TruncatedFramesFailWithACodeOfTheirOwnRecords)
{
    std::mt19937_64 rng(1000 + GetParam());
    const Encoded e = randomFrame(GetParam(), rng, 2);
    ASSERT_GT(e.bits, 0);
    const RecordLayout& l = *RTCM3_layout(GetParam());
    for (size_t cut = 0; cut < e.frame.size(); ++cut) {
        std::vector<uint8_t> prefix(e.frame.begin(), e.frame.begin() + cut);
        _RTCM3_message_t record;
        std::memset(&record, 0, sizeof(record));
        const int32_t r = RTCM3_decode(nullptr, prefix.data(), static_cast<uint16_t>(cut), &record);
        ASSERT_LT(r, 0) << "cut at " << cut;
        if (cut < 5 || (l.subtype >= 0 && cut < 7)) {
            EXPECT_EQ(r, RTCM3_ERR_INVALID_MESSAGE);
            continue;
        }
        const std::string name = RTCM3_error_to_string(r);
        EXPECT_TRUE(name.find("_EXT_BUFFER_OVERFLOW") != std::string::npos) << name << " at " << cut;
        if (cut + 3 >= e.frame.size()) {
            EXPECT_EQ(r, l.crcExtCode) << "cut inside the CRC at " << cut;
        }
        RTCM3_free_message_children(&record);
    }
}

TEST_P(EveryMessage, EncodingIntoShortBuffersNeverWritesOutside)
{
    std::mt19937_64 rng(2000 + GetParam());
    const RecordLayout& l = *RTCM3_layout(GetParam());
    _RTCM3_message_t record;
    std::memset(&record, 0, sizeof(record));
    layout::initRecord(l, &record);
    Filler{rng, l.messageNumber, 2}.fill(l, &record);
    testframes::Bytes full(4096, 0);
    const int32_t bits = RTCM3_encode_message(full.data(), 4096, &record);
    ASSERT_GT(bits, 0);
    for (int size = 0; size < bits / 8; ++size) {
        std::vector<uint8_t> buffer(size);  // exact size: ASan sees any write past it
        const int32_t r = RTCM3_encode_message(buffer.data(), static_cast<uint16_t>(size), &record);
        ASSERT_LT(r, 0) << "size " << size;
        if (size == bits / 8 - 1) {
            EXPECT_EQ(r, l.crcExtCode);
        }
    }
    RTCM3_free_message_children(&record);
}

INSTANTIATE_TEST_SUITE_P(Codec, EveryMessage, ::testing::ValuesIn(messageEnumerators()),
                         [](const ::testing::TestParamInfo<int>& info) {
                             return std::string(RTCM3_message_enum_to_string(info.param)).substr(6);
                         });

TEST(EveryMessageList, HasAllMessageTypes)
{
    EXPECT_EQ(messageEnumerators().size(), 123u);
}
