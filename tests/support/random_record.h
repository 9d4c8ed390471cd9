#pragma once
// Random records of any message, filled within every field's width by walking the same
// layout tables as the codec, so a new list entry gets random records without new code.
// Shared by the round-trip tests and the fuzz seed generator.

#include "RTCM3_codec.h"
#include "RTCM3_extension.h"
#include "RTCM3_layout.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <random>
#include <vector>

namespace randomrecord {

using namespace Kvt::Nuvrix;
using layout::CType;
using layout::Field;
using layout::Kind;
using layout::RecordLayout;

constexpr int kFirstMsm = RTCM3_MESSAGE_TYPE_1071;
constexpr int kLastMsm = RTCM3_MESSAGE_TYPE_1137;

inline uint8_t* member(void* record, const Field& f) { return static_cast<uint8_t*>(record) + f.offset; }

inline size_t ctypeSize(CType t)
{
    switch (t) {
    case CType::U8: case CType::I8: case CType::Char: return 1;
    case CType::U16: case CType::I16: return 2;
    case CType::U32: case CType::I32: case CType::F32: return 4;
    default: return 8;
    }
}

inline void put(uint8_t* p, CType t, uint64_t v) { std::memcpy(p, &v, ctypeSize(t)); }  // little-endian host

inline uint64_t get(const uint8_t* p, CType t)
{
    uint64_t v = 0;
    std::memcpy(&v, p, ctypeSize(t));
    return v;
}

inline unsigned widthOf(const Field& f, uint16_t number) { return f.widthFn ? f.widthFn(number) : f.width; }

inline uint64_t randomValue(std::mt19937_64& rng, unsigned width, bool isSigned)
{
    uint64_t v = width >= 64 ? rng() : rng() & ((uint64_t(1) << width) - 1);
    if (isSigned && width < 64 && width > 0 && ((v >> (width - 1)) & 1))
        v |= ~((uint64_t(1) << width) - 1);
    return v;
}

inline bool isCountOfLaterField(const RecordLayout& l, uint16_t k)
{
    for (uint16_t j = k + 1; j < l.fieldCount; ++j)
        if ((l.fields[j].flags & layout::CountIsMember) && l.fields[j].countOffset == l.fields[k].offset)
            return true;
    return false;
}

inline uint32_t countOf(const Field& f, const void* record)
{
    if (f.countType == CType::Record)
        return f.fixedCount;
    const void* holder = (f.flags & layout::CountInParent) ? static_cast<const RTCM3_kvtcg_header_s*>(record)->kvtcg_father
                                                           : record;
    return static_cast<uint32_t>(get(static_cast<const uint8_t*>(holder) + f.countOffset, f.countType));
}

// The layout of a record of either list.
inline const RecordLayout* anyLayout(int e) { return RTCM3_layout(e) ? RTCM3_layout(e) : RTCM3_ext_layout(e); }

// How the extension finds an extension message; null for a core record.
inline const RTCM3_ext_selection_s* selectionOf(const RecordLayout& l)
{
    for (const RTCM3_ext_selection_s* s = RTCM3_ext_selections; s->layout; ++s)
        if (s->layout == &l)
            return s;
    return nullptr;
}

// Index of the field whose value selects the record among others of its number; -1 if none.
inline int selectorField(const RecordLayout& l)
{
    const RTCM3_ext_selection_s* s = selectionOf(l);
    uint32_t pos = 0;
    for (int k = 0; s && s->width && k < l.fieldCount; pos += l.fields[k].width, ++k)
        if (pos == s->position)
            return k;
    return -1;
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
        const int selector = l.messageNumber ? selectorField(l) : -1;
        for (uint16_t k = first; k < l.fieldCount; ++k) {
            const Field& f = l.fields[k];
            switch (f.kind) {
            case Kind::Scalar:
                if (k == selector)
                    put(member(record, f), f.ctype, uint64_t(selectionOf(l)->value));
                else if (isCountOfLaterField(l, k))
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
            // Counts computed from the values just drawn size the groups after them.
            if (f.kind == Kind::Scalar && f.derive && !isMsm)
                f.derive(record, 0);
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

// Enumerators of every message record (sub-records left out), in enumerator order.
inline std::vector<int> messageEnumerators()
{
    std::vector<int> out;
    for (int e = 1; RTCM3_layout(e); ++e)
        if (RTCM3_layout(e)->messageNumber)
            out.push_back(e);
    return out;
}

// The same for the extension list.
inline std::vector<int> extensionEnumerators()
{
    std::vector<int> out;
    for (int e = RTCM3_EXT_FIRST_ENUMERATOR; e <= RTCM3_EXT_LAST_ENUMERATOR; ++e)
        if (RTCM3_ext_layout(e)->messageNumber)
            out.push_back(e);
    return out;
}

// Decodes as the extended entry point does, except that a variant layout of a core message
// is applied directly (the entry point takes it only when it reads the frame to its end).
inline int32_t decodeAny(const RecordLayout& l, const uint8_t* frame, uint16_t length, _RTCM3_message_t* out)
{
    const RTCM3_ext_selection_s* s = selectionOf(l);
    if (s && s->variant && length >= 5 && ((frame[3] << 4) | (frame[4] >> 4)) == s->number)
        return layout::decodeMessage(l, frame, length, out);
    return RTCM3_decode_extended(nullptr, nullptr, frame, length, out);
}

struct Encoded {
    std::vector<uint8_t> frame;
    int32_t bits;
};

// A random record of message e, encoded; the record is released before returning.
inline Encoded randomFrame(int e, std::mt19937_64& rng, int groupSize)
{
    const RecordLayout& l = *anyLayout(e);
    _RTCM3_message_t record;
    std::memset(&record, 0, sizeof(record));
    layout::initRecord(l, &record);
    Filler{rng, l.messageNumber, groupSize}.fill(l, &record);
    std::vector<uint8_t> buffer(4096, 0);
    const int32_t bits = layout::encodeFrame(l, buffer.data(), static_cast<uint16_t>(buffer.size()), &record);
    RTCM3_free_any_children(&record);
    buffer.resize(bits > 0 ? bits / 8 : 0);
    return {buffer, bits};
}

} // namespace randomrecord
