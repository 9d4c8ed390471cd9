#pragma once
// A slow, literal reading of the decode rule, to check the codec against on cut frames:
// every field on its own, one bit at a time, no runs and no arithmetic on whole arrays.
//   - a scalar that does not fit records its code, and decoding goes on at the same place,
//     so a later narrower field may still be read;
//   - an array or string is read only while no code is recorded; it stops at the member's
//     capacity (INT code) or at the end of the frame (EXT code);
//   - a recorded code ends decoding before a sub-record, and before a group unless the group
//     goes on after a failed element (then the group keeps the code and decoding goes on);
//   - a group's elements are allocated before they are read, and a failing element ends it.
// It shares with the codec only the list's tables and their hooks (presence, widths,
// derived members), so a fault in the codec's own walk shows as a difference.

#include "RTCM3_codec.h"
#include "RTCM3_layout.h"
#include "../support/random_record.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace referencedecode {

using namespace Kvt::Nuvrix;
using randomrecord::countOf;
using randomrecord::member;
using randomrecord::put;
using randomrecord::widthOf;
using layout::Field;
using layout::Kind;
using layout::RecordLayout;

struct Bits {
    const uint8_t* data;
    uint64_t size;  // in bits
    uint64_t pos = 0;

    bool fits(unsigned width) const { return pos + width <= size; }
    uint64_t take(unsigned width)
    {
        uint64_t v = 0;
        for (unsigned i = 0; i < width; ++i, ++pos)
            v = (v << 1) | ((data[pos / 8] >> (7 - pos % 8)) & 1u);
        return v;
    }
};

inline uint64_t signExtended(uint64_t raw, unsigned width, bool isSigned)
{
    if (!isSigned || width == 0 || width >= 64 || !((raw >> (width - 1)) & 1))
        return raw;
    return raw | ~((uint64_t(1) << width) - 1);
}

inline RTCM3_kvtcg_header_s& header(void* record) { return *static_cast<RTCM3_kvtcg_header_s*>(record); }

inline void setHeader(void* record, int32_t enumerator, void* father)
{
    header(record).kvtcg_message = static_cast<_RTCM3_message_enum_t>(enumerator);
    header(record).kvtcg_bits = 0;
    header(record).kvtcg_father = static_cast<RTCM3_kvtcg_header_s*>(father);
}

inline int32_t decodeRecord(const RecordLayout& l, void* record, Bits& in, uint16_t number);

// Sub-record: headers first, then its fields; its bits count in its parent as well.
inline int32_t decodeSub(const RecordLayout& sub, void* element, void* parent, Bits& in, uint16_t number)
{
    setHeader(element, sub.enumerator, parent);
    for (uint16_t k = 0; k < sub.fieldCount; ++k)
        if (sub.fields[k].kind == Kind::Embed)
            setHeader(member(element, sub.fields[k]), sub.fields[k].sub->enumerator, element);
    const int32_t r = decodeRecord(sub, element, in, number);
    header(parent).kvtcg_bits += header(element).kvtcg_bits;
    return r;
}

inline int32_t decodeRecord(const RecordLayout& l, void* record, Bits& in, uint16_t number)
{
    int32_t pending = 0;
    for (uint16_t k = 0; k < l.fieldCount; ++k) {
        const Field& f = l.fields[k];
        if (f.present && !f.present(number, record))
            continue;
        const unsigned width = widthOf(f, number);
        const bool isSigned = f.flags & layout::Signed;
        switch (f.kind) {
        case Kind::Scalar:
            if (!in.fits(width)) {
                pending = f.extCode;
                continue;
            }
            put(member(record, f), f.ctype, signExtended(in.take(width), width, isSigned));
            header(record).kvtcg_bits += width;
            if (f.derive)
                f.derive(record, 1);
            break;
        case Kind::String:
        case Kind::Array: {
            if (pending != 0)
                continue;
            const uint32_t n = countOf(f, record);
            const size_t step = randomrecord::ctypeSize(f.ctype);
            uint32_t i = 0;
            for (; i < n; ++i) {
                if (i >= f.capacity) {
                    pending = f.intCode;
                    break;
                }
                if (!in.fits(width)) {
                    pending = f.extCode;
                    break;
                }
                put(member(record, f) + i * step, f.ctype, signExtended(in.take(width), width, isSigned));
                header(record).kvtcg_bits += width;
            }
            if (f.kind == Kind::String)
                member(record, f)[i] = 0;
            if (f.derive)
                f.derive(record, i);
            break;
        }
        case Kind::Embed: {
            if (pending != 0)
                return pending;
            const int32_t r = decodeSub(*f.sub, member(record, f), record, in, number);
            if (r < 0)
                return r;
            break;
        }
        case Kind::Group: {
            const uint32_t n = countOf(f, record);
            auto* array = static_cast<uint8_t*>(std::calloc(n ? n : 1, f.sub->size));
            std::memcpy(member(record, f), &array, sizeof(array));
            int32_t r = pending;
            for (uint32_t i = 0; r == 0 && i < n; ++i)
                r = decodeSub(*f.sub, array + size_t(i) * f.sub->size, record, in, number);
            if (r < 0) {
                if (!(f.flags & layout::ContinueOnError))
                    return r;
                pending = r;
            }
            break;
        }
        case Kind::Derived:
            break;
        }
    }
    return pending;
}

// Decodes one frame of message `l` as the codec would: the frame's fields, the pad to the
// next byte, the three CRC bytes. Returns the bits read or the code. The record must be
// initialised; free it with RTCM3_free_message_children.
inline int32_t decodeFrame(const RecordLayout& l, const uint8_t* frame, size_t size, void* record)
{
    Bits in{frame, uint64_t(size) * 8};
    const int32_t r = decodeRecord(l, record, in, l.messageNumber);
    if (r < 0)
        return r;
    const unsigned pad = static_cast<unsigned>((8 - in.pos % 8) % 8);
    in.pos += pad;
    header(record).kvtcg_bits += pad;
    auto* crc = static_cast<uint8_t*>(record) + l.crcOffset;
    for (int b = 0; b < 3; ++b) {
        if (!in.fits(8))
            return l.crcExtCode;
        crc[b] = static_cast<uint8_t>(in.take(8));
        header(record).kvtcg_bits += 8;
    }
    return static_cast<int32_t>(in.pos);
}

// Compares every member present on the wire, recursively; reports the first difference.
inline std::string firstDifference(const RecordLayout& l, const void* a, const void* b, uint16_t number)
{
    for (uint16_t k = 0; k < l.fieldCount; ++k) {
        const Field& f = l.fields[k];
        if (f.present && !f.present(number, a))
            continue;
        const auto* pa = static_cast<const uint8_t*>(a) + f.offset;
        const auto* pb = static_cast<const uint8_t*>(b) + f.offset;
        const std::string where = std::string(RTCM3_any_enum_to_string(l.enumerator)) + " field " + std::to_string(k);
        switch (f.kind) {
        case Kind::Scalar:
        case Kind::Derived:
            if (f.kind == Kind::Scalar && randomrecord::get(pa, f.ctype) != randomrecord::get(pb, f.ctype))
                return where;
            break;
        case Kind::String:
        case Kind::Array: {
            const uint32_t n = std::min<uint32_t>(countOf(f, a), f.capacity);
            if (std::memcmp(pa, pb, n * randomrecord::ctypeSize(f.ctype)) != 0)
                return where;
            break;
        }
        case Kind::Embed: {
            const std::string r = firstDifference(*f.sub, pa, pb, number);
            if (!r.empty())
                return r;
            break;
        }
        case Kind::Group: {
            const uint8_t* ea;
            const uint8_t* eb;
            std::memcpy(&ea, pa, sizeof(ea));
            std::memcpy(&eb, pb, sizeof(eb));
            if (!ea || !eb) {  // a group after one whose element failed is never allocated
                if (ea != eb)
                    return where + " allocated in one record only";
                break;
            }
            for (uint32_t i = 0; i < countOf(f, a); ++i) {
                const std::string r = firstDifference(*f.sub, ea + i * f.sub->size, eb + i * f.sub->size, number);
                if (!r.empty())
                    return r + " of element " + std::to_string(i);
            }
            break;
        }
        }
    }
    return {};
}

// Decodes every cut of a valid frame with the codec and with the reading above; describes
// the first cut where code, members or bit counter differ, or gives "".
inline std::string cutMismatch(const RecordLayout& l, const std::vector<uint8_t>& frame)
{
    const RTCM3_ext_selection_s* s = randomrecord::selectionOf(l);
    // What dispatch needs to see.
    const size_t headerBytes = s && s->width ? (s->position + s->width + 7u) / 8 : l.subtype >= 0 ? 7 : 5;
    bool whole = false;  // the whole frame decodes: a cut inside its CRC gives the CRC's code
    {
        _RTCM3_message_t full;
        std::memset(&full, 0, sizeof(full));
        layout::initRecord(l, &full);
        whole = decodeFrame(l, frame.data(), frame.size(), &full) > 0;
        RTCM3_free_any_children(&full);
    }
    for (size_t cut = 0; cut <= frame.size(); ++cut) {
        const std::vector<uint8_t> prefix(frame.begin(), frame.begin() + cut);  // exact: ASan sees overreads
        const std::string at = " at cut " + std::to_string(cut) + " of " + std::to_string(frame.size());
        _RTCM3_message_t record;
        std::memset(&record, 0, sizeof(record));
        const int32_t r = randomrecord::decodeAny(l, prefix.data(), static_cast<uint16_t>(cut), &record);
        if (cut < headerBytes) {
            if (r != RTCM3_ERR_INVALID_MESSAGE)
                return std::string("no dispatch expected, got ") + RTCM3_any_error_to_string(r) + at;
            continue;
        }
        _RTCM3_message_t expected;
        std::memset(&expected, 0, sizeof(expected));
        layout::initRecord(l, &expected);
        const int32_t want = decodeFrame(l, prefix.data(), cut, &expected);
        std::string mismatch;
        if (r != want)
            mismatch = std::string(r < 0 ? RTCM3_any_error_to_string(r) : "success") + " instead of "
                + (want < 0 ? RTCM3_any_error_to_string(want) : "success");
        else if (whole && cut + 3 > frame.size() && cut < frame.size() && r != l.crcExtCode)
            mismatch = std::string("not the CRC's code inside the CRC: ") + RTCM3_any_error_to_string(r);
        else if (const std::string d = firstDifference(l, &expected, &record, l.messageNumber); !d.empty())
            mismatch = "members differ: " + d;
        else if (record.header.kvtcg_bits != expected.header.kvtcg_bits)
            mismatch = "bit counters differ: " + std::to_string(record.header.kvtcg_bits) + " instead of "
                + std::to_string(expected.header.kvtcg_bits);
        RTCM3_free_any_children(&record);
        RTCM3_free_any_children(&expected);
        if (!mismatch.empty())
            return mismatch + at;
    }
    return {};
}

} // namespace referencedecode
