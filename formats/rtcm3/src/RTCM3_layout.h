#pragma once
// The layout walker: one hand-written walk that decodes and encodes every record, and its
// life-cycle. The generated codec describes each record as one constant table of fields:
// what is on the wire, where it lives in the record, which codes it owns, and what it means
// (name, unit, scale, symbols). The walker, the JSON and text renderings and the host
// descriptions all read that one table; the rules of the frame live here once.

#include "RTCM3_physical.h"

#include <cstddef>
#include <cstdint>

namespace Kvt::Nuvrix::layout {

enum class Kind : uint8_t {
    Scalar,   // one wire field into one member
    String,   // count member earlier, then that many 8-bit characters, kept NUL-terminated
    Array,    // count elements of one width into a fixed-capacity member array
    Embed,    // a sub-record held by value
    Group,    // a heap array of sub-records sized by a count
    Derived,  // not on the wire; computed by the trigger field's derive hook, zeroed by init
};

// Type of the member (of one element for arrays and strings): Record for an embedded
// sub-record and for "no count member", Ptr for the element array of a group.
enum class CType : uint8_t { U8, U16, U32, U64, I8, I16, I32, I64, F32, F64, Char, Ptr, Record };

enum FieldFlags : uint8_t {
    Signed = 1,           // two's complement on the wire
    Reserved = 2,         // carries nothing: init clears it, the renderings leave it out
    CountInParent = 4,    // the count is a member of the containing record
    ContinueOnError = 8,  // a failing group element ends the group and decoding goes on
    CountIsMember = 16,   // the count is a member of this record (init clears it)
    Hex = 32,             // shown in hexadecimal: masks, and unsigned numbers not exact as a double
    HasInvalid = 64,      // `invalid` is the raw value that means "no value"
    Text = 128,           // an array of bytes that carries UTF-8 text, shown as a string
};

struct RecordLayout;

using PresenceFn = bool (*)(uint16_t messageNumber, const void* record);
using WidthFn = uint8_t (*)(uint16_t messageNumber);
using DeriveFn = void (*)(void* record, uint32_t elementsRead);
using ParentCheckFn = void (*)(const void* record);

struct Symbol {
    int64_t value;
    const char* text;
};

struct Field;

// The field's row in a message whose scale is not the default one of a shared sub-record.
struct MessageRow {
    uint16_t messageNumber;
    const Field* row;
};

// A rarer physical meaning: a raw value that means zero, a field packed of parts (both in
// the unit constant), a scale that depends on the message.
struct Extra {
    const units::Physical* physical;
    const MessageRow* rows;
    uint16_t rowCount;
};

// One row per field, two cache lines: what the walker reads comes first and fills the first,
// which the alignment keeps whole; what the field means follows, for the renderings and the
// host descriptions.
struct alignas(64) Field {
    Kind kind;
    CType ctype;          // member type (element type for arrays and strings)
    uint8_t width;        // wire width when widthFn is null (the widest where it is not)
    uint8_t flags;
    // Plain fields that follow each other (fixed width, always present, nothing derived)
    // form a run: when the whole run fits, it is read or written without a check per field.
    uint16_t runBits;     // of the run starting here
    uint8_t runLength;    // fields in that run, this one included
    CType countType;      // Record: fixedCount is the count
    WidthFn widthFn;
    PresenceFn present;   // null: always present
    uint32_t offset;      // of the member within the record
    int32_t extCode;      // does not fit the frame or buffer
    int32_t intCode;      // count above the member's capacity
    uint32_t countOffset; // of the count member (own record or parent)
    uint16_t fixedCount;  // count when there is no count member
    uint16_t capacity;
    // Meaning that fits where the walker's members leave room.
    uint16_t symbolCount;
    int8_t decimals;       // >= 0: the scale is scaleNumerator / 10^decimals, raw times
                           // scaleNumerator an exact integer, the value that integer with this
                           // many decimals; -1: the scale is scaleNumerator, a binary one
    int8_t resolution;     // with decimals -1, >= 0: the value is written with this many
                           // decimals, enough that it reads back to its raw value
    const RecordLayout* sub;  // element or embedded record
    DeriveFn derive;      // run once this field was read
    // End of what the walker reads.
    const char* name;      // the member name ("ECEF_X"): an identifier
    const char* key;       // its JSON name: the member name, with the unit where that is not SI ("CNR_dBHz")
    const char* display;   // "ECEF-X"
    const char* unit;      // of the physical value ("m", "dB-Hz"); null: none
    const Extra* extra;    // null for most fields
    double scaleNumerator; // physical value = raw times scale, see decimals; 0: the raw value
                           // is the value
    int64_t invalid;       // with HasInvalid: the raw value that carries no value
    const Symbol* symbols;
};

struct RecordLayout {
    int32_t enumerator;
    uint32_t size;
    const Field* fields;
    uint16_t fieldCount;
    int32_t internalCode;
    ParentCheckFn parentCheck;  // structural check of a sub-record's parent; may be null
    // Messages only.
    uint16_t messageNumber;     // 0 for a sub-record
    int32_t subtype;            // value of the first member for a sub-typed message, else -1
    int32_t crcExtCode;
    int32_t crcChecksumCode;
    int32_t disabledCode;
    uint32_t crcOffset;
    bool ownsArrays;            // some group at any depth: free has work to do
    bool hasInitWork;           // some member that init clears or sets up
    const char* name;           // "Message_Type_1005", "MSM_Satellite_Data"
    const char* display;        // "Message Type 1005"
    const char* text;           // "Stationary RTK Reference Station ARP"; null where the list has none
};

// The rows of a message's frame header come first; its members follow.
constexpr uint16_t kHeaderFields = 4;
inline uint16_t firstMember(const RecordLayout& layout) { return layout.messageNumber ? kHeaderFields : 0; }

// Offsets every record shares.
constexpr std::size_t kEnumeratorOffset = 0;
constexpr std::size_t kBitCountOffset = 4;
constexpr std::size_t kParentOffset = 8;
// Offsets every message record shares after them.
constexpr std::size_t kPreambleOffset = 16;
constexpr std::size_t kReservedOffset = 17;
constexpr std::size_t kMessageLengthOffset = 18;
constexpr std::size_t kMessageNumberOffset = 20;
constexpr std::size_t kFirstMemberOffset = 22;

constexpr uint8_t kPreamble = 0xD3;

// The enable set: the bit of enumerator e is in byte (e + 1) / 8 under 0x80 >> (e % 8).
inline bool isEnabled(const uint8_t* enableSet, int32_t e)
{
    return (enableSet[(e + 1) / 8] & (0x80u >> (e % 8))) != 0;
}
inline void setEnabled(uint8_t* enableSet, int32_t e, bool on)
{
    const uint8_t mask = static_cast<uint8_t>(0x80u >> (e % 8));
    if (on)
        enableSet[(e + 1) / 8] |= mask;
    else
        enableSet[(e + 1) / 8] &= static_cast<uint8_t>(~mask);
}

int32_t initRecord(const RecordLayout& layout, void* record);
// Releases the element arrays the record owns, at any depth, and nulls their pointers: a
// second call releases nothing.
void freeChildren(const RecordLayout& layout, void* record);
void* appendElement(const RecordLayout& owner, const Field& group, void* record);

// For a loop that decodes frame after frame into one scratch record: while one of these lives
// on a thread, freeing a record's children keeps its group arrays for the thread's next
// decodes, which take them (zeroed, grown when too small) instead of allocating. The values
// decoded are the same; a record kept past the loop owns ordinary heap arrays. The kept
// arrays are released when the last one on the thread ends.
class ArrayReuse
{
public:
    ArrayReuse();
    ~ArrayReuse();
    ArrayReuse(const ArrayReuse&) = delete;
    ArrayReuse& operator=(const ArrayReuse&) = delete;
};

struct Dispatch {
    const RecordLayout* const* byNumber;  // 4096 entries; null where no message is known
    const RecordLayout* const* subtyped;  // records sharing a sub-typed number, null-terminated
    uint16_t subtypedNumber;
    int32_t invalidMessageCode;
};

// How much of a record a decode fills: every member, or the scalars, strings and the arrays
// that counts derive from (other arrays keep what they held, groups are read but not kept:
// their pointers are null); the result is the same.
enum class Depth : uint8_t { Full, Scalars };

// Leaves the record's header set on every path (enumerator 0 when no message's walk began),
// so that freeChildren of whatever the header names is always safe afterwards.
int32_t decodeFrame(const Dispatch& dispatch, uint8_t* enableSet, uint16_t* unknownNumber,
                    const uint8_t* frame, uint16_t length, void* result, Depth depth = Depth::Full);
// Decodes a frame (of at least 5 bytes) with the given message layout, whatever its number.
int32_t decodeMessage(const RecordLayout& layout, const uint8_t* frame, uint16_t length, void* result,
                      Depth depth = Depth::Full);
int32_t encodeFrame(const RecordLayout& layout, uint8_t* buffer, uint16_t size, void* record);

template <typename T>
int32_t copyArray(T* destination, uint32_t capacity, const T* source, uint32_t count)
{
    const uint32_t n = count < capacity ? count : capacity;
    for (uint32_t i = 0; i < n; ++i)
        destination[i] = source[i];
    return 0;
}

template <typename Count>
int32_t copyString(char* destination, uint32_t capacity, Count* count, const char* source)
{
    uint32_t n = 0;
    while (n < capacity && source[n] != '\0') {
        destination[n] = source[n];
        ++n;
    }
    destination[n] = '\0';
    *count = static_cast<Count>(n);
    return 0;
}

} // namespace Kvt::Nuvrix::layout
