#include "RTCM3_layout.h"

#include "kvtcg.h"

#include <cstdlib>
#include <cstring>
#include <malloc.h>
#include <memory>
#include <new>
#include <vector>

namespace Kvt::Nuvrix::layout {
namespace {

// Frames up to this size are decoded from a zero-padded copy on the stack.
constexpr uint32_t kPaddedFrameBytes = 1032;

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

__attribute__((noinline)) void storeBitsNearEnd(uint8_t* data, uint64_t pos, unsigned width, uint64_t value)
{
    kvtcg_detail::writeBits(data, pos, width, value);
}

// The same 8-byte window for writing: the bits around the field are written back unchanged.
__attribute__((always_inline)) inline void storeBits(uint8_t* data, uint64_t sizeBytes, uint64_t pos, unsigned width,
                                                     uint64_t value)
{
    const uint64_t first = pos >> 3;
    const unsigned lead = static_cast<unsigned>(pos & 7u);
    if (__builtin_expect(width != 0 && first + 8 <= sizeBytes && lead + width <= 64, 1)) {
        const unsigned shift = 64 - lead - width;
        const uint64_t mask = (~uint64_t(0) >> (64 - width)) << shift;
        uint64_t word;
        std::memcpy(&word, data + first, 8);
        word = __builtin_bswap64((__builtin_bswap64(word) & ~mask) | ((value << shift) & mask));
        std::memcpy(data + first, &word, 8);
    } else if (width != 0) {
        storeBitsNearEnd(data, pos, width, value);
    }
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
inline void*& parentLink(void* record) { return at<void*>(record, kParentOffset); }
inline void* parentLinkOf(const void* record) { return at<void*>(record, kParentOffset); }

inline void setHeader(void* record, int32_t enumerator, void* parent)
{
    at<int32_t>(record, kEnumeratorOffset) = enumerator;
    bitCount(record) = 0;
    parentLink(record) = parent;
}

inline unsigned widthOf(const Field& f, uint16_t messageNumber)
{
    return f.widthFn ? f.widthFn(messageNumber) : f.width;
}

inline uint32_t countOf(const Field& f, const void* record)
{
    if (f.countType == CType::Record)
        return f.fixedCount;
    const void* holder = (f.flags & CountInParent) ? parentLinkOf(record) : record;
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
            parentLink(sub) = element;
            linkChildren(*f.sub, sub);
        } else if (f.kind == Kind::Group) {
            uint8_t* array = at<uint8_t*>(element, f.offset);
            const uint32_t n = countOf(f, element);
            for (uint32_t i = 0; array && i < n; ++i)
                parentLink(array + std::size_t(i) * f.sub->size) = element;
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

// ---- the walk -------------------------------------------------------------------------
// One walk over a record's field rows serves decode and encode. The port it is given moves
// the bits: the Reader from the frame into the record, the Writer from the record into the
// buffer; it also does what only one direction needs (the Reader sets up sub-record headers,
// allocates group elements, terminates strings and runs the derive hooks).
//
// The per-field rule, the same both ways:
//   - a field whose presence rule is false is skipped;
//   - a field is moved only if it fits what is left of the frame or buffer; one that does
//     not fit records its EXT_BUFFER_OVERFLOW code, and the walk goes on at the same bit
//     position, so a later narrower field may still fit (a later failure replaces the code);
//   - an array or string is moved only while no code is recorded; it stops at the member's
//     capacity (INT_BUFFER_OVERFLOW code) or where the frame or buffer ends, and the
//     elements moved until then are kept;
//   - an embedded sub-record is entered only while no code is recorded (else the code is
//     returned); a group likewise, except that a group that goes on after a failure
//     (ContinueOnError) is then skipped and the code kept;
//   - a failing sub-record or group element returns its code at once; a ContinueOnError
//     group records it instead and the walk goes on;
//   - after the last field the recorded code is returned, so a last field that does not
//     fit returns its own code;
//   - then the zero pad to the next byte and the three CRC bytes, each of which returns the
//     message's CRC code at once when it does not fit.
// A sub-record ending before its start returns its INTERNAL code; bits moved count in the
// record that owns them and in every record around it.

// Group arrays kept on a thread while an ArrayReuse lives there: freeing a record's children
// hands its arrays here, and the next decodes take them back instead of allocating. Every
// array stays an ordinary heap block, so a record that leaves the loop is freed as usual.
class ArrayPool
{
public:
    ~ArrayPool() { clear(); }
    bool active() const { return mScopes != 0; }
    void open() { ++mScopes; }
    void close()
    {
        if (--mScopes == 0)
            clear();
    }
    void give(uint8_t* data)
    {
        if (mCount == kSlots) {
            std::free(data);
            return;
        }
        mSlots[mCount++] = Slot{data, malloc_usable_size(data)};
    }
    // A zeroed block of at least `bytes`, as calloc would give: the most recent one that is
    // large enough, else a new one.
    uint8_t* take(std::size_t bytes)
    {
        for (unsigned i = mCount; i-- > 0;) {
            if (mSlots[i].capacity >= bytes) {
                uint8_t* data = mSlots[i].data;
                mSlots[i] = mSlots[--mCount];
                std::memset(data, 0, bytes);
                return data;
            }
        }
        return static_cast<uint8_t*>(std::calloc(1, bytes));
    }

private:
    void clear()
    {
        while (mCount > 0)
            std::free(mSlots[--mCount].data);
    }
    static constexpr unsigned kSlots = 256;
    struct Slot {
        uint8_t* data;
        std::size_t capacity;
    };
    Slot mSlots[kSlots];
    unsigned mCount = 0;
    unsigned mScopes = 0;
};

thread_local ArrayPool tArrays;

struct Reader {
    const uint8_t* data;
    uint32_t sizeBytes;
    uint64_t sizeBits;
    uint64_t pos;
    uint16_t messageNumber;
    ArrayPool* pool;  // where group arrays come from; null: the heap

    bool fits(uint64_t width) const { return pos + width <= sizeBits; }
    // On the path of every field: keep it inline.
    __attribute__((always_inline)) uint64_t take(unsigned width)
    {
        const uint64_t v = loadBits(data, sizeBytes, pos, width);
        pos += width;
        return v;
    }
    __attribute__((always_inline)) void value(uint8_t* member, CType t, unsigned width, bool isSigned)
    {
        const uint64_t raw = take(width);
        storeValue(member, t, isSigned ? static_cast<uint64_t>(signExtend(raw, width)) : raw);
    }
    void elements(const Field& f, uint8_t* member, uint32_t n, unsigned width);
    // A run of plain fields that fits the frame. The position and the buffer stay in locals:
    // stores into the record could otherwise alias them and force a reload per field.
    __attribute__((always_inline)) void run(const Field* g, unsigned count, unsigned bits, uint8_t* base)
    {
        const Field* const end = g + count;
        if (((pos + bits) >> 3) + 8 > sizeBytes) {
            for (; g != end; ++g)
                value(base + g->offset, g->ctype, g->width, g->flags & Signed);
            return;
        }
        const uint8_t* const d = data;
        uint64_t p = pos;
        for (; g != end; ++g) {
            const unsigned w = g->width;
            uint64_t v;
            if (__builtin_expect(w - 1u < 57u, 1)) {
                uint64_t word;
                std::memcpy(&word, d + (p >> 3), 8);
                const uint64_t aligned = __builtin_bswap64(word) << (p & 7u);
                v = (g->flags & Signed) ? static_cast<uint64_t>(static_cast<int64_t>(aligned) >> (64 - w))
                                        : aligned >> (64 - w);
            } else {
                const uint64_t raw = loadBits(d, sizeBytes, p, w);
                v = (g->flags & Signed) ? static_cast<uint64_t>(signExtend(raw, w)) : raw;
            }
            p += w;
            storeValue(base + g->offset, g->ctype, v);
        }
        pos = p;
    }
    static void derive(const Field& f, void* record, uint32_t n)
    {
        if (f.derive)
            f.derive(record, n);
    }
    // A group element sets up the headers of what it embeds at once (deep); an embedded
    // sub-record, whose header its holder set up already, only its own.
    static void enter(const RecordLayout& sub, void* element, void* parent, bool deep)
    {
        if (deep)
            setupHeaders(sub, element, parent);
        else
            setHeader(element, sub.enumerator, parent);
    }
    // Zeroed, so that elements never reached own nothing when the record is freed; the
    // array is the record's even when the group is not read.
    bool elementArray(const Field& f, void* record, uint32_t n, uint8_t*& array) const
    {
        const std::size_t bytes = std::size_t(n ? n : 1) * f.sub->size;
        array = pool ? pool->take(bytes) : static_cast<uint8_t*>(std::calloc(1, bytes));
        at<uint8_t*>(record, f.offset) = array;
        return array != nullptr;
    }
    void pad(unsigned bits) { pos += bits; }
    static uint8_t* element(uint8_t* array, uint32_t i, const RecordLayout& sub) { return array + std::size_t(i) * sub.size; }
};

// Reads n elements of one width and type; the caller has checked they fit.
template <typename T, bool IsSigned>
void readElements(Reader& in, uint8_t* out, uint32_t n, unsigned width)
{
    // When the last element's 8-byte window lies inside the readable bytes (always, for a
    // frame read from its padded copy), every element is one load, a shift and a store.
    const uint64_t lastStart = in.pos + uint64_t(n - 1) * width;
    if (n != 0 && width != 0 && width <= 57 && (lastStart >> 3) + 8 <= in.sizeBytes) {
        const uint8_t* const d = in.data;
        uint64_t p = in.pos;
        for (uint32_t i = 0; i < n; ++i, p += width) {
            uint64_t word;
            std::memcpy(&word, d + (p >> 3), 8);
            const uint64_t aligned = __builtin_bswap64(word) << (p & 7u);
            const T value = IsSigned ? static_cast<T>(static_cast<int64_t>(aligned) >> (64 - width))
                                     : static_cast<T>(aligned >> (64 - width));
            std::memcpy(out + i * sizeof(T), &value, sizeof(T));
        }
        in.pos = p;
        return;
    }
    for (uint32_t i = 0; i < n; ++i) {
        const uint64_t raw = in.take(width);
        const T value = static_cast<T>(IsSigned ? static_cast<uint64_t>(signExtend(raw, width)) : raw);
        std::memcpy(out + i * sizeof(T), &value, sizeof(T));
    }
}

void Reader::elements(const Field& f, uint8_t* out, uint32_t n, unsigned width)
{
    const bool s = f.flags & Signed;
    switch (ctypeSize(f.ctype)) {
    case 1: s ? readElements<int8_t, true>(*this, out, n, width) : readElements<uint8_t, false>(*this, out, n, width); break;
    case 2: s ? readElements<int16_t, true>(*this, out, n, width) : readElements<uint16_t, false>(*this, out, n, width); break;
    case 4: s ? readElements<int32_t, true>(*this, out, n, width) : readElements<uint32_t, false>(*this, out, n, width); break;
    default: s ? readElements<int64_t, true>(*this, out, n, width) : readElements<uint64_t, false>(*this, out, n, width); break;
    }
    if (f.kind == Kind::String)
        out[n] = 0;
}

// Where the Skimmer reads group elements: one place per group, in blocks kept from frame to
// frame, so that a decode allocates nothing once the blocks have grown to the stream's groups.
class ScratchArena
{
public:
    void reset()
    {
        mBlock = 0;
        mUsed = 0;
    }
    uint8_t* take(std::size_t bytes)
    {
        bytes = (bytes + 15) & ~std::size_t(15);
        while (mBlock < mBlocks.size() && mUsed + bytes > mBlocks[mBlock].size) {
            ++mBlock;
            mUsed = 0;
        }
        if (mBlock == mBlocks.size()) {
            const std::size_t size = bytes > kBlockBytes ? bytes : kBlockBytes;
            uint8_t* data = new (std::nothrow) uint8_t[size];
            if (!data)
                return nullptr;
            mBlocks.push_back(Block{std::unique_ptr<uint8_t[]>(data), size});
            mUsed = 0;
        }
        uint8_t* at = mBlocks[mBlock].data.get() + mUsed;
        mUsed += bytes;
        return at;
    }

private:
    static constexpr std::size_t kBlockBytes = 64 * 1024;
    struct Block {
        std::unique_ptr<uint8_t[]> data;
        std::size_t size;
    };
    std::vector<Block> mBlocks;
    std::size_t mBlock = 0;
    std::size_t mUsed = 0;
};

thread_local ScratchArena tScratch;

// The Reader for a consumer of scalars only: numeric arrays are stepped over without being
// read, unless a derive hook counts their elements, and the elements of a group are read one
// over the other and not kept (the record's pointer stays null). Positions, counts and codes
// stay those of the full read: neither arrays nor elements decide a later presence or width
// of the record that holds them.
struct Skimmer : Reader {
    void elements(const Field& f, uint8_t* out, uint32_t n, unsigned width)
    {
        if (f.derive || f.kind == Kind::String)
            Reader::elements(f, out, n, width);
        else
            pos += uint64_t(n) * width;
    }
    static bool elementArray(const Field& f, void* record, uint32_t, uint8_t*& array)
    {
        at<uint8_t*>(record, f.offset) = nullptr;
        array = tScratch.take(f.sub->size);
        return array != nullptr;
    }
    static uint8_t* element(uint8_t* array, uint32_t, const RecordLayout& sub)
    {
        std::memset(array, 0, sub.size);
        return array;
    }
};

struct Writer {
    uint8_t* data;
    uint32_t sizeBytes;
    uint64_t sizeBits;
    uint64_t pos;
    uint16_t messageNumber;

    bool fits(uint64_t width) const { return pos + width <= sizeBits; }
    __attribute__((always_inline)) void put(unsigned width, uint64_t value)
    {
        storeBits(data, sizeBytes, pos, width, value);
        pos += width;
    }
    __attribute__((always_inline)) void value(const uint8_t* member, CType t, unsigned width, bool)
    {
        put(width, loadValue(member, t));
    }
    void run(const Field* g, unsigned count, unsigned, const uint8_t* base)
    {
        for (const Field* const end = g + count; g != end; ++g)
            value(base + g->offset, g->ctype, g->width, false);
    }
    void elements(const Field& f, const uint8_t* member, uint32_t n, unsigned width)
    {
        const std::size_t step = ctypeSize(f.ctype);
        for (uint32_t i = 0; i < n; ++i)
            put(width, loadValue(member + i * step, f.ctype));
    }
    static void derive(const Field&, void*, uint32_t) {}
    static void enter(const RecordLayout&, void*, void*, bool) {}
    // A count without elements leaves nothing to write from.
    static bool elementArray(const Field& f, void* record, uint32_t n, uint8_t*& array)
    {
        array = at<uint8_t*>(record, f.offset);
        return array || n == 0;
    }
    void pad(unsigned bits) { put(bits, 0); }  // always fits: the buffer ends on a byte boundary
    static uint8_t* element(uint8_t* array, uint32_t i, const RecordLayout& sub) { return array + std::size_t(i) * sub.size; }
};

// How many of n elements of the array can be moved before the capacity or the end of the
// frame or buffer stops it, and the code that stops it (element i is checked against the
// capacity first).
inline uint32_t arrayReach(uint32_t n, uint32_t capacity, uint64_t bitsLeft, unsigned width, const Field& f,
                           int32_t& code)
{
    const uint32_t limit = n < capacity ? n : capacity;
    // Nearly always the whole array fits: no division then.
    const uint64_t fitting = uint64_t(limit) * width <= bitsLeft ? limit : bitsLeft / width;
    const uint32_t reach = fitting < limit ? static_cast<uint32_t>(fitting) : limit;
    code = reach < limit ? f.extCode : (n > capacity ? f.intCode : 0);
    return reach;
}

template <class Port>
int32_t walkFields(const RecordLayout& layout, void* record, Port& port);

inline bool hasEmbeds(const RecordLayout& layout)
{
    for (uint16_t k = 0; k < layout.fieldCount; ++k)
        if (layout.fields[k].kind == Kind::Embed)
            return true;
    return false;
}

// A record whose fields are all one run of plain fields.
inline bool isOneRun(const RecordLayout& layout)
{
    const Field& first = layout.fields[0];
    return layout.fieldCount > 1 && first.kind == Kind::Scalar && !first.present && first.runLength == layout.fieldCount;
}

// A sub-record at the port's position; its bits count in its parent as well.
template <class Port>
__attribute__((always_inline)) inline int32_t walkSub(const RecordLayout& sub, void* element, void* parent,
                                                     uint32_t& parentBits, Port& port, bool deep)
{
    port.enter(sub, element, parent, deep);
    const uint64_t start = port.pos;
    const int32_t r = walkFields(sub, element, port);
    parentBits += static_cast<uint32_t>(port.pos - start);
    if (r < 0)
        return r;
    return port.pos < start ? sub.internalCode : 0;
}

template <class Port>
int32_t walkFields(const RecordLayout& layout, void* record, Port& port)
{
    if (layout.parentCheck)
        layout.parentCheck(record);
    // Widths add up here and reach the record's counter once, on every way out.
    struct Tally {
        void* record;
        uint32_t bits = 0;
        ~Tally() { bitCount(record) += bits; }
    } tally{record};
    uint8_t* const base = static_cast<uint8_t*>(record);
    int32_t pending = 0;
    for (uint16_t k = 0; k < layout.fieldCount; ++k) {
        const Field& f = layout.fields[k];
        if (f.present && !f.present(port.messageNumber, record))
            continue;
        switch (f.kind) {
        case Kind::Scalar: {
            if (f.runLength > 1 && port.fits(f.runBits)) {
                port.run(&f, f.runLength, f.runBits, base);
                tally.bits += f.runBits;
                k = static_cast<uint16_t>(k + f.runLength - 1);
                break;
            }
            const unsigned width = widthOf(f, port.messageNumber);
            if (!port.fits(width)) {
                pending = f.extCode;
                break;
            }
            port.value(base + f.offset, f.ctype, width, f.flags & Signed);
            tally.bits += width;
            port.derive(f, record, 1);
            break;
        }
        case Kind::String:
        case Kind::Array: {
            if (pending != 0)
                break;
            const unsigned width = widthOf(f, port.messageNumber);
            const uint32_t n = arrayReach(countOf(f, record), f.capacity, port.sizeBits - port.pos, width, f, pending);
            port.elements(f, base + f.offset, n, width);
            tally.bits += n * width;
            port.derive(f, record, n);
            break;
        }
        case Kind::Embed: {
            if (pending != 0)
                return pending;
            const int32_t r = walkSub(*f.sub, base + f.offset, record, tally.bits, port, false);
            if (r < 0)
                return r;
            break;
        }
        case Kind::Group: {
            const uint32_t n = countOf(f, record);
            uint8_t* array = nullptr;
            int32_t r = pending;
            if (!port.elementArray(f, record, n, array) && r == 0)
                r = f.sub->internalCode;
            const RecordLayout& sub = *f.sub;
            const bool deep = r == 0 && n != 0 && hasEmbeds(sub);
            // Elements that are one run of plain fields (bias entries) are read here, without
            // a walk of their own, whenever the whole element fits.
            const unsigned flatBits = isOneRun(sub) ? sub.fields[0].runBits : 0;
            for (uint32_t i = 0; r == 0 && i < n; ++i) {
                uint8_t* element = port.element(array, i, sub);
                if (flatBits != 0 && port.fits(flatBits)) {
                    port.enter(sub, element, record, false);
                    if (sub.parentCheck)
                        sub.parentCheck(element);
                    port.run(sub.fields, sub.fieldCount, flatBits, element);
                    bitCount(element) += flatBits;
                    tally.bits += flatBits;
                    continue;
                }
                r = walkSub(sub, element, record, tally.bits, port, deep);
            }
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

// The fields of a message, the zero pad and the three CRC bytes.
template <class Port>
int32_t walkFrame(const RecordLayout& layout, void* record, Port& port)
{
    const int32_t r = walkFields(layout, record, port);
    if (r < 0)
        return r;
    const unsigned pad = static_cast<unsigned>((8 - (port.pos & 7)) & 7);
    port.pad(pad);
    bitCount(record) += pad;
    uint8_t* crc = static_cast<uint8_t*>(record) + layout.crcOffset;
    for (int b = 0; b < 3; ++b) {
        if (!port.fits(8))
            return layout.crcExtCode;
        port.value(crc + b, CType::U8, 8, false);
        bitCount(record) += 8;
    }
    return 0;
}

} // namespace

// ---- life cycle -----------------------------------------------------------------------

static void initMembers(const RecordLayout& layout, void* record)
{
    if (!layout.hasInitWork)
        return;
    for (uint16_t k = 0; k < layout.fieldCount; ++k) {
        const Field& f = layout.fields[k];
        // Most rows are plain fields that init leaves alone.
        if (f.kind == Kind::Scalar && !(f.flags & (Reserved | CountIsMember)))
            continue;
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

static void releaseChildren(const RecordLayout& layout, void* record, ArrayPool* pool)
{
    if (!layout.ownsArrays)
        return;
    for (uint16_t k = 0; k < layout.fieldCount; ++k) {
        const Field& f = layout.fields[k];
        if (f.kind == Kind::Embed) {
            releaseChildren(*f.sub, static_cast<uint8_t*>(record) + f.offset, pool);
        } else if (f.kind == Kind::Group) {
            uint8_t* array = at<uint8_t*>(record, f.offset);
            if (!array)
                continue;
            const uint32_t n = countOf(f, record);
            for (uint32_t i = 0; i < n; ++i)
                releaseChildren(*f.sub, array + std::size_t(i) * f.sub->size, pool);
            if (pool)
                pool->give(array);
            else
                std::free(array);
            // Released is empty: a second call, or a decode that fails early into this
            // record, leaves nothing to free twice.
            at<uint8_t*>(record, f.offset) = nullptr;
        }
    }
}

void freeChildren(const RecordLayout& layout, void* record)
{
    if (layout.ownsArrays)
        releaseChildren(layout, record, tArrays.active() ? &tArrays : nullptr);
}

ArrayReuse::ArrayReuse() { tArrays.open(); }
ArrayReuse::~ArrayReuse() { tArrays.close(); }

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
    parentLink(element) = record;
    linkChildren(*group.sub, element);
    storeValue(static_cast<uint8_t*>(record) + group.countOffset, group.countType, uint64_t(n) + 1);
    return element;
}

// ---- frames ---------------------------------------------------------------------------
// A message's field table begins with the frame header (Preamble, Reserved, Message_Length,
// Message_Number); the zero pad and the CRC follow the fields.

int32_t decodeFrame(const Dispatch& dispatch, uint8_t* enableSet, uint16_t* unknownNumber,
                    const uint8_t* frame, uint16_t length, void* result, Depth depth)
{
    // Whatever comes of the decode, the record's header says what it holds: nothing at all
    // until a message's walk begins, so that freeing its children is always safe.
    setHeader(result, 0, nullptr);
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
    return decodeMessage(*layout, frame, length, result, depth);
}

int32_t decodeMessage(const RecordLayout& layout, const uint8_t* frame, uint16_t length, void* result, Depth depth)
{
    initRecord(layout, result);
    // Every frame the synchronizer passes (at most 1029 bytes) is read from a copy with eight
    // zero bytes behind it, so that a field near the end is one 8-byte load like any other;
    // the fields still end where the frame ends.
    alignas(8) uint8_t padded[kPaddedFrameBytes + 8];
    uint32_t readable = length;
    if (length <= kPaddedFrameBytes) {
        std::memcpy(padded, frame, length);
        std::memset(padded + length, 0, 8);
        frame = padded;
        readable = uint32_t(length) + 8;
    }
    if (depth == Depth::Scalars) {
        tScratch.reset();
        Skimmer in{{frame, readable, uint64_t(length) * 8, 0, layout.messageNumber, nullptr}};
        const int32_t r = walkFrame(layout, result, in);
        return r < 0 ? r : static_cast<int32_t>(in.pos);
    }
    Reader in{frame, readable, uint64_t(length) * 8, 0, layout.messageNumber,
              layout.ownsArrays && tArrays.active() ? &tArrays : nullptr};
    const int32_t r = walkFrame(layout, result, in);
    return r < 0 ? r : static_cast<int32_t>(in.pos);
}

int32_t encodeFrame(const RecordLayout& layout, uint8_t* buffer, uint16_t size, void* record)
{
    Writer out{buffer, size, uint64_t(size) * 8, 0, at<uint16_t>(record, kMessageNumberOffset)};
    const int32_t r = walkFrame(layout, record, out);
    if (r < 0)
        return r;
    const uint64_t crcPosition = out.pos - 24;
    // Payload length in bytes: everything from Message_Number up to the CRC, pad included.
    const uint32_t contentBits = static_cast<uint32_t>(crcPosition - 24);
    const uint16_t messageLength = static_cast<uint16_t>((contentBits + 7) / 8);
    at<uint16_t>(record, kMessageLengthOffset) = messageLength;
    storeBits(buffer, size, 14, 10, messageLength);
    uint8_t* crc = static_cast<uint8_t*>(record) + layout.crcOffset;
    if (!kvtcg_compute_CRC_24Q(buffer, size, 0, crcPosition, crc, 24))
        return layout.crcChecksumCode;
    storeBits(buffer, size, crcPosition, 24, (uint64_t(crc[0]) << 16) | (uint64_t(crc[1]) << 8) | crc[2]);
    return static_cast<int32_t>(out.pos);
}

} // namespace Kvt::Nuvrix::layout
