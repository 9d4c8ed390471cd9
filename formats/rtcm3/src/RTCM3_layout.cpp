#include "RTCM3_layout.h"

#include "kvtcg.h"

#include <cstdlib>
#include <cstring>

namespace Kvt::Nuvrix::layout {
namespace {

// ---- bit access -----------------------------------------------------------------------
// Callers have checked that [pos, pos + width) lies inside the buffer.

// The buffer's last eight bytes and fields wider than 56 bits take the careful way.
__attribute__((noinline)) uint64_t loadBitsNearEnd(const uint8_t* data, uint64_t pos, unsigned width)
{
    return kvtcg_detail::readBits(data, pos, width);
}

// One unaligned 8-byte load for all but the buffer's tail: this runs for every field.
__attribute__((always_inline)) inline uint64_t loadBits(const uint8_t* data, uint32_t sizeBytes, uint64_t pos, unsigned width)
{
    const uint64_t first = pos >> 3;
    const unsigned lead = static_cast<unsigned>(pos & 7u);
    if (__builtin_expect(width != 0 && first + 8 <= sizeBytes && lead + width <= 64, 1)) {
        uint64_t word;
        std::memcpy(&word, data + first, 8);
        return (__builtin_bswap64(word) << lead) >> (64 - width);
    }
    return width == 0 ? 0 : loadBitsNearEnd(data, pos, width);
}

inline void storeBits(uint8_t* data, uint64_t pos, unsigned width, uint64_t value)
{
    if (width != 0)
        kvtcg_detail::writeBits(data, pos, width, value);
}

inline int64_t signExtend(uint64_t raw, unsigned width)
{
    return width == 0 ? 0 : static_cast<int64_t>(kvtcg_detail::signExtend(raw, width));
}

// ---- member access --------------------------------------------------------------------

template <typename T>
inline T& at(void* record, std::size_t offset)
{
    return *reinterpret_cast<T*>(static_cast<uint8_t*>(record) + offset);
}
template <typename T>
inline const T& at(const void* record, std::size_t offset)
{
    return *reinterpret_cast<const T*>(static_cast<const uint8_t*>(record) + offset);
}

inline std::size_t ctypeSize(CType t)
{
    switch (t) {
    case CType::U8: case CType::I8: case CType::Char: return 1;
    case CType::U16: case CType::I16: return 2;
    case CType::U32: case CType::I32: case CType::F32: return 4;
    default: return 8;
    }
}

inline void storeValue(uint8_t* p, CType t, uint64_t v)
{
    switch (t) {
    case CType::U8: case CType::I8: case CType::Char: *p = static_cast<uint8_t>(v); break;
    case CType::U16: case CType::I16: { const uint16_t x = static_cast<uint16_t>(v); std::memcpy(p, &x, 2); break; }
    case CType::U32: case CType::I32: { const uint32_t x = static_cast<uint32_t>(v); std::memcpy(p, &x, 4); break; }
    default: std::memcpy(p, &v, 8); break;
    }
}

inline uint64_t loadValue(const uint8_t* p, CType t)
{
    switch (t) {
    case CType::U8: case CType::Char: return *p;
    case CType::I8: return static_cast<uint64_t>(static_cast<int64_t>(static_cast<int8_t>(*p)));
    case CType::U16: { uint16_t x; std::memcpy(&x, p, 2); return x; }
    case CType::I16: { int16_t x; std::memcpy(&x, p, 2); return static_cast<uint64_t>(static_cast<int64_t>(x)); }
    case CType::U32: { uint32_t x; std::memcpy(&x, p, 4); return x; }
    case CType::I32: { int32_t x; std::memcpy(&x, p, 4); return static_cast<uint64_t>(static_cast<int64_t>(x)); }
    default: { uint64_t x; std::memcpy(&x, p, 8); return x; }
    }
}

inline uint32_t& bitCount(void* record) { return at<uint32_t>(record, kBitCountOffset); }
inline void*& father(void* record) { return at<void*>(record, kFatherOffset); }
inline void* fatherOf(const void* record) { return at<void*>(record, kFatherOffset); }

inline void setHeader(void* record, int32_t enumerator, void* parent)
{
    at<int32_t>(record, kEnumeratorOffset) = enumerator;
    bitCount(record) = 0;
    father(record) = parent;
}

inline unsigned widthOf(const Field& f, uint16_t messageNumber)
{
    return f.widthFn ? f.widthFn(messageNumber) : f.width;
}

inline uint32_t countOf(const Field& f, const void* record)
{
    if (f.countType == CType::Record)
        return f.fixedCount;
    const void* holder = (f.flags & CountInFather) ? fatherOf(record) : record;
    if (!holder)
        return 0;
    return static_cast<uint32_t>(loadValue(static_cast<const uint8_t*>(holder) + f.countOffset, f.countType));
}

// Re-point the parent links of an element's own children at the element (after the element
// array moved, or when the element is set up).
void linkChildren(const RecordLayout& layout, void* element)
{
    for (uint16_t k = 0; k < layout.fieldCount; ++k) {
        const Field& f = layout.fields[k];
        if (f.kind == Kind::Embed) {
            void* sub = static_cast<uint8_t*>(element) + f.offset;
            father(sub) = element;
            linkChildren(*f.sub, sub);
        } else if (f.kind == Kind::Group) {
            uint8_t* array = at<uint8_t*>(element, f.offset);
            const uint32_t n = countOf(f, element);
            for (uint32_t i = 0; array && i < n; ++i)
                father(array + std::size_t(i) * f.sub->size) = element;
        }
    }
}

// Sets the headers of a record and of everything it embeds, as decode and append do.
void setupHeaders(const RecordLayout& layout, void* record, void* parent)
{
    setHeader(record, layout.enumerator, parent);
    for (uint16_t k = 0; k < layout.fieldCount; ++k) {
        const Field& f = layout.fields[k];
        if (f.kind == Kind::Embed)
            setupHeaders(*f.sub, static_cast<uint8_t*>(record) + f.offset, record);
    }
}

// ---- decode ---------------------------------------------------------------------------

struct Reader {
    const uint8_t* data;
    uint32_t sizeBytes;
    uint64_t sizeBits;
    uint64_t pos;
    uint16_t messageNumber;

    bool fits(unsigned width) const { return pos + width <= sizeBits; }
    // On the path of every field: keep it inline.
    __attribute__((always_inline)) uint64_t take(unsigned width)
    {
        const uint64_t v = loadBits(data, sizeBytes, pos, width);
        pos += width;
        return v;
    }
};

int32_t decodeFields(const RecordLayout& layout, void* record, Reader& in);

// Reads n elements of one width and type; the caller has checked they fit.
template <typename T, bool IsSigned>
void readElements(Reader& in, uint8_t* out, uint32_t n, unsigned width)
{
    for (uint32_t i = 0; i < n; ++i) {
        const uint64_t raw = in.take(width);
        const T value = static_cast<T>(IsSigned ? static_cast<uint64_t>(signExtend(raw, width)) : raw);
        std::memcpy(out + i * sizeof(T), &value, sizeof(T));
    }
}

void readElements(const Field& f, Reader& in, uint8_t* out, uint32_t n, unsigned width)
{
    const bool s = f.flags & Signed;
    switch (ctypeSize(f.ctype)) {
    case 1: s ? readElements<int8_t, true>(in, out, n, width) : readElements<uint8_t, false>(in, out, n, width); break;
    case 2: s ? readElements<int16_t, true>(in, out, n, width) : readElements<uint16_t, false>(in, out, n, width); break;
    case 4: s ? readElements<int32_t, true>(in, out, n, width) : readElements<uint32_t, false>(in, out, n, width); break;
    default: s ? readElements<int64_t, true>(in, out, n, width) : readElements<uint64_t, false>(in, out, n, width); break;
    }
}

// How many of n elements of the array can be handled before the capacity or the buffer
// ends it, and the code that ends it (element i is checked against the capacity first).
inline uint32_t arrayReach(uint32_t n, uint32_t capacity, uint64_t bitsLeft, unsigned width, const Field& f,
                           int32_t& code)
{
    const uint32_t limit = n < capacity ? n : capacity;
    const uint64_t fitting = width ? bitsLeft / width : limit;
    const uint32_t reach = fitting < limit ? static_cast<uint32_t>(fitting) : limit;
    code = reach < limit ? f.extCode : (n > capacity ? f.intCode : 0);
    return reach;
}

int32_t decodeArray(const Field& f, void* record, Reader& in)
{
    const unsigned width = widthOf(f, in.messageNumber);
    int32_t code = 0;
    const uint32_t n = arrayReach(countOf(f, record), f.capacity, in.sizeBits - in.pos, width, f, code);
    uint8_t* out = static_cast<uint8_t*>(record) + f.offset;
    readElements(f, in, out, n, width);
    bitCount(record) += n * width;
    if (f.kind == Kind::String)
        out[n] = 0;
    if (f.derive)
        f.derive(record, n);
    return code;
}

int32_t decodeGroup(const Field& f, void* record, Reader& in, int32_t pending)
{
    const uint32_t n = countOf(f, record);
    const std::size_t size = f.sub->size;
    // Zeroed, so that elements never reached own nothing when the record is freed.
    uint8_t* array = static_cast<uint8_t*>(std::calloc(n ? n : 1, size));
    at<uint8_t*>(record, f.offset) = array;
    if (pending != 0 || !array)
        return pending != 0 ? pending : f.sub->internalCode;
    for (uint32_t i = 0; i < n; ++i) {
        void* element = array + std::size_t(i) * size;
        setupHeaders(*f.sub, element, record);
        const uint64_t start = in.pos;
        const int32_t r = decodeFields(*f.sub, element, in);
        bitCount(record) += bitCount(element);
        if (r < 0)
            return r;
        if (in.pos < start)
            return f.sub->internalCode;
    }
    return 0;
}

int32_t decodeFields(const RecordLayout& layout, void* record, Reader& in)
{
    if (layout.fatherCheck)
        layout.fatherCheck(record);
    // Scalar widths add up here and reach the record's counter once, on every way out.
    struct Tally {
        void* record;
        uint32_t bits = 0;
        ~Tally() { bitCount(record) += bits; }
    } tally{record};
    int32_t pending = 0;
    for (uint16_t k = 0; k < layout.fieldCount; ++k) {
        const Field& f = layout.fields[k];
        if (f.present && !f.present(in.messageNumber, record))
            continue;
        switch (f.kind) {
        case Kind::Scalar: {
            if (f.runLength > 1 && in.fits(f.runBits)) {
                for (uint8_t j = 0; j < f.runLength; ++j) {
                    const Field& g = layout.fields[k + j];
                    const uint64_t raw = in.take(g.width);
                    storeValue(static_cast<uint8_t*>(record) + g.offset, g.ctype,
                               (g.flags & Signed) ? static_cast<uint64_t>(signExtend(raw, g.width)) : raw);
                }
                tally.bits += f.runBits;
                k = static_cast<uint16_t>(k + f.runLength - 1);
                break;
            }
            const unsigned width = widthOf(f, in.messageNumber);
            if (!in.fits(width)) {
                pending = f.extCode;
                break;
            }
            const uint64_t raw = in.take(width);
            storeValue(static_cast<uint8_t*>(record) + f.offset, f.ctype,
                       (f.flags & Signed) ? static_cast<uint64_t>(signExtend(raw, width)) : raw);
            tally.bits += width;
            if (f.derive)
                f.derive(record, 1);
            break;
        }
        case Kind::String:
        case Kind::Array:
            if (pending == 0)
                pending = decodeArray(f, record, in);
            break;
        case Kind::Embed: {
            if (pending != 0)
                return pending;
            void* sub = static_cast<uint8_t*>(record) + f.offset;
            setupHeaders(*f.sub, sub, record);
            const uint64_t start = in.pos;
            const int32_t r = decodeFields(*f.sub, sub, in);
            bitCount(record) += bitCount(sub);
            if (r < 0)
                return r;
            if (in.pos < start)
                return f.sub->internalCode;
            break;
        }
        case Kind::Group: {
            const int32_t r = decodeGroup(f, record, in, pending);
            if (r < 0) {
                if (!(f.flags & ContinueOnError))
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

// ---- encode ---------------------------------------------------------------------------

struct Writer {
    uint8_t* data;
    uint64_t sizeBits;
    uint64_t pos;
    uint16_t messageNumber;

    bool fits(unsigned width) const { return pos + width <= sizeBits; }
    void put(unsigned width, uint64_t value)
    {
        storeBits(data, pos, width, value);
        pos += width;
    }
};

int32_t encodeFields(const RecordLayout& layout, void* record, Writer& out);

int32_t encodeArray(const Field& f, void* record, Writer& out)
{
    const unsigned width = widthOf(f, out.messageNumber);
    int32_t code = 0;
    const uint32_t n = arrayReach(countOf(f, record), f.capacity, out.sizeBits - out.pos, width, f, code);
    const std::size_t step = ctypeSize(f.ctype);
    const uint8_t* values = static_cast<const uint8_t*>(record) + f.offset;
    for (uint32_t i = 0; i < n; ++i)
        out.put(width, loadValue(values + i * step, f.ctype));
    bitCount(record) += n * width;
    return code;
}

int32_t encodeSub(const RecordLayout& sub, void* element, void* record, Writer& out)
{
    const uint64_t start = out.pos;
    const int32_t r = encodeFields(sub, element, out);
    bitCount(record) += static_cast<uint32_t>(out.pos - start);
    if (r < 0)
        return r;
    return out.pos < start ? sub.internalCode : 0;
}

int32_t encodeGroup(const Field& f, void* record, Writer& out)
{
    const uint32_t n = countOf(f, record);
    uint8_t* array = at<uint8_t*>(record, f.offset);
    if (n > 0 && !array)
        return f.sub->internalCode;  // a count without elements: nothing to write from
    for (uint32_t i = 0; i < n; ++i) {
        const int32_t r = encodeSub(*f.sub, array + std::size_t(i) * f.sub->size, record, out);
        if (r < 0)
            return r;
    }
    return 0;
}

int32_t encodeFields(const RecordLayout& layout, void* record, Writer& out)
{
    if (layout.fatherCheck)
        layout.fatherCheck(record);
    int32_t pending = 0;
    for (uint16_t k = 0; k < layout.fieldCount; ++k) {
        const Field& f = layout.fields[k];
        if (f.present && !f.present(out.messageNumber, record))
            continue;
        switch (f.kind) {
        case Kind::Scalar: {
            if (f.runLength > 1 && out.fits(f.runBits)) {
                for (uint8_t j = 0; j < f.runLength; ++j) {
                    const Field& g = layout.fields[k + j];
                    out.put(g.width, loadValue(static_cast<const uint8_t*>(record) + g.offset, g.ctype));
                }
                bitCount(record) += f.runBits;
                k = static_cast<uint16_t>(k + f.runLength - 1);
                break;
            }
            const unsigned width = widthOf(f, out.messageNumber);
            if (!out.fits(width)) {
                pending = f.extCode;
                break;
            }
            out.put(width, loadValue(static_cast<const uint8_t*>(record) + f.offset, f.ctype));
            bitCount(record) += width;
            break;
        }
        case Kind::String:
        case Kind::Array:
            if (pending == 0)
                pending = encodeArray(f, record, out);
            break;
        case Kind::Embed: {
            if (pending != 0)
                return pending;
            const int32_t r = encodeSub(*f.sub, static_cast<uint8_t*>(record) + f.offset, record, out);
            if (r < 0)
                return r;
            break;
        }
        case Kind::Group: {
            if (pending != 0) {
                if (f.flags & ContinueOnError)
                    break;
                return pending;
            }
            const int32_t r = encodeGroup(f, record, out);
            if (r < 0) {
                if (!(f.flags & ContinueOnError))
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

} // namespace

// ---- life cycle -----------------------------------------------------------------------

static void initMembers(const RecordLayout& layout, void* record)
{
    if (!layout.hasInitWork)
        return;
    for (uint16_t k = 0; k < layout.fieldCount; ++k) {
        const Field& f = layout.fields[k];
        uint8_t* member = static_cast<uint8_t*>(record) + f.offset;
        if ((f.flags & CountIsMember) && f.countType != CType::Record)
            storeValue(static_cast<uint8_t*>(record) + f.countOffset, f.countType, 0);
        switch (f.kind) {
        case Kind::Scalar:
        case Kind::Derived:
            if (f.kind == Kind::Derived || (f.flags & Reserved))
                storeValue(member, f.ctype, 0);
            break;
        case Kind::String:
            member[0] = 0;
            break;
        case Kind::Array:
            break;
        case Kind::Embed:
            initMembers(*f.sub, member);
            setHeader(member, f.sub->enumerator, record);
            break;
        case Kind::Group:
            at<void*>(record, f.offset) = nullptr;
            break;
        }
    }
}

int32_t initRecord(const RecordLayout& layout, void* record)
{
    setHeader(record, layout.enumerator, nullptr);
    if (layout.messageNumber != 0) {
        at<uint8_t>(record, kPreambleOffset) = kPreamble;
        at<uint8_t>(record, kReservedOffset) = 0;
        at<uint16_t>(record, kMessageLengthOffset) = 0;
        at<uint16_t>(record, kMessageNumberOffset) = layout.messageNumber;
    }
    initMembers(layout, record);
    if (layout.subtype >= 0)
        at<uint16_t>(record, kFirstMemberOffset) = static_cast<uint16_t>(layout.subtype);
    return 0;
}

void freeChildren(const RecordLayout& layout, void* record)
{
    if (!layout.ownsArrays)
        return;
    for (uint16_t k = 0; k < layout.fieldCount; ++k) {
        const Field& f = layout.fields[k];
        if (f.kind == Kind::Embed) {
            freeChildren(*f.sub, static_cast<uint8_t*>(record) + f.offset);
        } else if (f.kind == Kind::Group) {
            uint8_t* array = at<uint8_t*>(record, f.offset);
            if (!array)
                continue;
            const uint32_t n = countOf(f, record);
            for (uint32_t i = 0; i < n; ++i)
                freeChildren(*f.sub, array + std::size_t(i) * f.sub->size);
            std::free(array);
        }
    }
}

void* appendElement(const RecordLayout& owner, const Field& group, void* record)
{
    (void)owner;
    const uint32_t n = countOf(group, record);
    const std::size_t size = group.sub->size;
    uint8_t* array = static_cast<uint8_t*>(std::realloc(at<uint8_t*>(record, group.offset), (std::size_t(n) + 1) * size));
    if (!array)
        return nullptr;  // the record keeps its array and count
    at<uint8_t*>(record, group.offset) = array;
    for (uint32_t i = 0; i < n; ++i)
        linkChildren(*group.sub, array + std::size_t(i) * size);
    void* element = array + std::size_t(n) * size;
    initRecord(*group.sub, element);
    father(element) = record;
    linkChildren(*group.sub, element);
    storeValue(static_cast<uint8_t*>(record) + group.countOffset, group.countType, uint64_t(n) + 1);
    return element;
}

// ---- frames ---------------------------------------------------------------------------
// A message's field table begins with the frame header (Preamble, Reserved, Message_Length,
// Message_Number); the zero pad and the CRC follow the fields.

static int32_t readCrc(const RecordLayout& layout, void* record, Reader& in)
{
    const unsigned pad = static_cast<unsigned>((8 - (in.pos & 7)) & 7);
    in.pos += pad;
    bitCount(record) += pad;
    uint8_t* crc = static_cast<uint8_t*>(record) + layout.crcOffset;
    for (int b = 0; b < 3; ++b) {
        if (!in.fits(8))
            return layout.crcExtCode;
        crc[b] = static_cast<uint8_t>(in.take(8));
        bitCount(record) += 8;
    }
    return static_cast<int32_t>(in.pos);
}

int32_t decodeFrame(const Dispatch& dispatch, uint8_t* enableSet, uint16_t* unknownNumber,
                    const uint8_t* frame, uint16_t length, void* result)
{
    uint16_t number = 0;
    const RecordLayout* layout = nullptr;
    if (length >= 5) {
        number = static_cast<uint16_t>(loadBits(frame, length, 24, 12));
        at<uint16_t>(result, kMessageNumberOffset) = number;
        layout = dispatch.byNumber[number];
        if (!layout && number == dispatch.subtypedNumber && length >= 7) {
            const uint16_t subtype = static_cast<uint16_t>(loadBits(frame, length, 36, 12));
            at<uint16_t>(result, kFirstMemberOffset) = subtype;
            for (const RecordLayout* const* s = dispatch.subtyped; *s && !layout; ++s)
                if ((*s)->subtype == subtype)
                    layout = *s;
        }
    }
    if (!layout) {
        if (unknownNumber)
            *unknownNumber = number;
        return dispatch.invalidMessageCode;
    }
    if (enableSet && !isEnabled(enableSet, layout->enumerator))
        return layout->disabledCode;
    initRecord(*layout, result);
    Reader in{frame, length, uint64_t(length) * 8, 0, layout->messageNumber};
    const int32_t r = decodeFields(*layout, result, in);
    if (r < 0)
        return r;
    return readCrc(*layout, result, in);
}

int32_t encodeFrame(const RecordLayout& layout, uint8_t* buffer, uint16_t size, void* record)
{
    Writer out{buffer, uint64_t(size) * 8, 0, at<uint16_t>(record, kMessageNumberOffset)};
    const int32_t r = encodeFields(layout, record, out);
    if (r < 0)
        return r;
    const unsigned pad = static_cast<unsigned>((8 - (out.pos & 7)) & 7);
    if (pad) {
        out.put(pad, 0);  // always fits: the buffer ends on a byte boundary
        bitCount(record) += pad;
    }
    const uint64_t crcPosition = out.pos;
    uint8_t* crc = static_cast<uint8_t*>(record) + layout.crcOffset;
    for (int b = 0; b < 3; ++b) {
        if (!out.fits(8))
            return layout.crcExtCode;
        out.put(8, crc[b]);
        bitCount(record) += 8;
    }
    // Payload length in bytes: everything from Message_Number up to the CRC, pad included.
    const uint32_t contentBits = static_cast<uint32_t>(crcPosition - 24);
    const uint16_t messageLength = static_cast<uint16_t>((contentBits + 7) / 8);
    at<uint16_t>(record, kMessageLengthOffset) = messageLength;
    storeBits(buffer, 14, 10, messageLength);
    if (!kvtcg_compute_CRC_24Q(buffer, size, 0, crcPosition, crc, 24))
        return layout.crcChecksumCode;
    storeBits(buffer, crcPosition, 24, (uint64_t(crc[0]) << 16) | (uint64_t(crc[1]) << 8) | crc[2]);
    return static_cast<int32_t>(crcPosition + 24);
}

} // namespace Kvt::Nuvrix::layout
