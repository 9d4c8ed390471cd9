#include "RTCM3RecordWriter.h"

#include "RTCM3_reflect.h"
#include "RTCM3_reflect_walk.h"
#include "TextEscape.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>

namespace Kvt::Nuvrix::reflect {
namespace {

// The widest number written: a double in its shortest form takes at most 24 characters.
constexpr std::size_t kNumberRoom = 32;
// A member name (at most 64 characters, the generator makes sure) with quotes and colon.
constexpr std::size_t kKeyRoom = 64 + 3;

// Writes through a raw pointer into the caller's string, growing it in steps; the string is
// cut to what was written when the sink goes. Per-character appends cost most of the time.
class Sink
{
public:
    explicit Sink(std::string &out) : mOut(out), mUsed(out.size()) {}
    ~Sink() { mOut.resize(mUsed); }
    Sink(const Sink &) = delete;
    Sink &operator=(const Sink &) = delete;

    // Where to write at least n more characters.
    char *room(std::size_t n)
    {
        if (mUsed + n > mOut.size())
            mOut.resize(std::max(mOut.size() * 2, mUsed + n + 256));
        return mOut.data() + mUsed;
    }
    void wrote(char *end) { mUsed = std::size_t(end - mOut.data()); }
    void put(char c)
    {
        *room(1) = c;
        ++mUsed;
    }
    char &last() { return mOut[mUsed - 1]; }
    void dropLast() { --mUsed; }

private:
    std::string &mOut;
    std::size_t mUsed;
};

template <typename T>
char *writeInteger(char *at, T value, int base = 10)
{
    return std::to_chars(at, at + 24, value, base).ptr;  // 20 digits and a sign at most
}

// Shortest text that reads back to the same value; a float computed member keeps its own
// precision rather than showing the digits of its widening to double.
char *writeReal(char *at, double value, bool isFloat)
{
    return isFloat ? std::to_chars(at, at + kNumberRoom, float(value)).ptr : std::to_chars(at, at + kNumberRoom, value).ptr;
}

// value / 10^decimals as a decimal, without trailing zeros: 1230 with one decimal is "123",
// 5 with four "0.0005".
char *writeDecimal(char *at, uint64_t value, int decimals)
{
    char digits[24];
    const int count = int(writeInteger(digits, value) - digits);
    const int whole = count - decimals;  // digits before the point; none when <= 0
    const int first = whole > 0 ? whole : 0;
    if (whole > 0)
        at = std::copy(digits, digits + whole, at);
    else
        *at++ = '0';
    int last = count;
    while (last > first && digits[last - 1] == '0')
        --last;
    if (last > first) {
        *at++ = '.';
        for (int zero = whole; zero < 0; ++zero)
            *at++ = '0';
        at = std::copy(digits + first, digits + last, at);
    }
    return at;
}

char *writeHex(char *at, uint64_t value)
{
    *at++ = '0';
    *at++ = 'x';
    return writeInteger(at, value, 16);
}

char *writeText(char *at, const char *text)
{
    while (*text)
        *at++ = *text++;
    return at;
}

char *writeJsonString(char *at, std::string_view bytes) { return Text::writeJsonString(at, bytes); }

// Quoted; the quote itself is escaped as the delimiter it is.
char *writeTextString(char *at, std::string_view bytes)
{
    *at++ = '"';
    at = Text::writeEscaped(at, bytes, '"');
    *at++ = '"';
    return at;
}

// What a double prints as, and "null" where JSON has no number for it.
char *writeFinite(char *at, double value, bool isFloat)
{
    return std::isfinite(value) ? writeReal(at, value, isFloat) : writeText(at, "null");
}

// A scale that no decimal writes exactly (2^-24 light milliseconds) to the decimals its step
// needs: integer digits instead of the shortest form of a double, which costs several times more.
char *writeToResolution(char *at, const Field &f, Number n)
{
    static constexpr double kPowers[] = {1e0, 1e1, 1e2, 1e3, 1e4, 1e5, 1e6, 1e7, 1e8,
                                         1e9, 1e10, 1e11, 1e12, 1e13, 1e14, 1e15, 1e16, 1e17};
    const double shifted = timesScale(f, n) * kPowers[f.resolution];
    if (!(std::fabs(shifted) < 9e15))  // beyond the integers a double holds exactly
        return writeFinite(at, timesScale(f, n), false);
    const long long digits = std::llround(shifted);
    if (digits < 0)
        *at++ = '-';
    return writeDecimal(at, uint64_t(digits < 0 ? -digits : digits), f.resolution);
}

// Raw value times scale. A decimal scale gives the exact decimal (244 at 0.4 is "97.6", which
// reads back as the double nearest 97.6); a binary one the shortest form of the exact product.
char *writeScaled(char *at, const Field &f, Number n)
{
    if (f.extra) {
        if (isPacked(f))
            return writeFinite(at, scaled(f, n), false);
        n = fromZero(f, n);
    }
    if (n.kind != Number::Kind::Real && f.decimals < 0 && f.resolution >= 0)
        return writeToResolution(at, f, n);
    if (f.decimals < 0 || n.kind == Number::Kind::Real)
        return writeFinite(at, timesScale(f, n), false);
    const int64_t product = rawInteger(n) * int64_t(f.scaleNumerator);
    if (product < 0)
        *at++ = '-';
    return writeDecimal(at, product < 0 ? 0 - uint64_t(product) : uint64_t(product), f.decimals);
}

class JsonWriter final : public Visitor
{
public:
    explicit JsonWriter(Sink &out) : mOut(out) {}

    void value(const Field &f, Number n) override
    {
        char *at = key(mOut.room(kKeyRoom + kNumberRoom + 1), f);
        at = number(at, f, n);
        *at++ = ',';
        mOut.wrote(at);
    }
    void array(const Field &f, const void *elements, uint32_t count) override
    {
        char *at = key(mOut.room(kKeyRoom + 1 + std::size_t(count) * (kNumberRoom + 3)), f);
        *at++ = '[';
        // Observation arrays are plain integers: read them by their type, not one by one.
        const bool plain = !isScaled(f) && !(f.flags & (Hex | HasInvalid));
        switch (plain ? f.ctype : CType::Record) {
        case CType::U8: at = integers<uint8_t, uint32_t>(at, elements, count); break;
        case CType::U16: at = integers<uint16_t, uint32_t>(at, elements, count); break;
        case CType::U32: at = integers<uint32_t, uint32_t>(at, elements, count); break;
        case CType::I8: at = integers<int8_t, int32_t>(at, elements, count); break;
        case CType::I16: at = integers<int16_t, int32_t>(at, elements, count); break;
        case CType::I32: at = integers<int32_t, int32_t>(at, elements, count); break;
        default:
            for (uint32_t i = 0; i < count; ++i) {
                at = number(at, f, numberAt(f, elements, i));
                *at++ = ',';
            }
        }
        mOut.wrote(at);
        close(']');
    }
    void string(const Field &f, std::string_view bytes) override
    {
        char *at = key(mOut.room(kKeyRoom + Text::kEscapedRoomPerByte * bytes.size() + 3), f);
        at = writeJsonString(at, bytes);
        *at++ = ',';
        mOut.wrote(at);
    }
    void beginEmbed(const Field &f) override { open(f, '{'); }
    void endEmbed(const Field &) override { close('}'); }
    void beginGroup(const Field &f, uint32_t) override { open(f, '['); }
    void beginElement(const Field &, uint32_t) override { mOut.put('{'); }
    void endElement(const Field &, uint32_t) override { close('}'); }
    void endGroup(const Field &) override { close(']'); }

    // Every value is followed by a comma; closing a bracket takes the last one back.
    void close(char bracket)
    {
        if (mOut.last() == ',')
            mOut.last() = bracket;
        else
            mOut.put(bracket);
        mOut.put(',');
    }

private:
    template <typename T, typename Wide>
    static char *integers(char *at, const void *elements, uint32_t count)
    {
        const auto *p = static_cast<const uint8_t *>(elements);
        for (uint32_t i = 0; i < count; ++i) {
            T v;
            std::memcpy(&v, p + std::size_t(i) * sizeof(T), sizeof(T));
            at = writeInteger(at, Wide(v));
            *at++ = ',';
        }
        return at;
    }
    static char *key(char *at, const Field &f)
    {
        *at++ = '"';
        for (const char *c = f.key; *c; ++c)  // an identifier: nothing to escape
            *at++ = *c;
        *at++ = '"';
        *at++ = ':';
        return at;
    }
    void open(const Field &f, char bracket)
    {
        char *at = key(mOut.room(kKeyRoom + 1), f);
        *at++ = bracket;
        mOut.wrote(at);
    }
    static char *number(char *at, const Field &f, Number n)
    {
        if (isInvalid(f, n))
            return writeText(at, "null");
        if (isScaled(f))
            return writeScaled(at, f, n);
        switch (n.kind) {
        case Number::Kind::Real:
            return writeFinite(at, n.d, f.ctype == CType::F32);
        case Number::Kind::Signed:
            return writeInteger(at, n.i);
        case Number::Kind::Unsigned:
            break;
        }
        if (!(f.flags & Hex))
            return writeInteger(at, n.u);
        *at++ = '"';
        at = writeHex(at, n.u);
        *at++ = '"';
        return at;
    }
    Sink &mOut;
};

// Numbers whose fixed form would hide their digits behind zeros, or run long, are written as
// mantissa and exponent: an ephemeris rate reads 1.2345e-10, not 0.00000000012345.
bool wantsExponent(double value)
{
    const double magnitude = std::fabs(value);
    return magnitude != 0 && (magnitude < 1e-3 || magnitude >= 1e12);
}

// The same value in scientific notation, shortest form: the digits given stay the digits shown.
char *toExponent(char *begin, char *end, bool isFloat)
{
    double value = 0;
    if (std::from_chars(begin, end, value).ec != std::errc() || !wantsExponent(value))
        return end;
    return isFloat ? std::to_chars(begin, begin + kNumberRoom, float(value), std::chars_format::scientific).ptr
                   : std::to_chars(begin, begin + kNumberRoom, value, std::chars_format::scientific).ptr;
}

// "  Display Name: value unit" lines, nested records two blanks deeper under a line naming
// them. Values as the JSON writer gives them (physical values, the same digits), with the
// symbol texts the list names, masks in hexadecimal and no group separators.
class TextWriter final : public Visitor
{
public:
    explicit TextWriter(std::string &out) : mOut(out) {}

    void value(const Field &f, Number n) override
    {
        label(f.display);
        if (number(f, n))
            unit(f);
        mOut += '\n';
    }
    void array(const Field &f, const void *elements, uint32_t count) override
    {
        label(f.display);
        bool numbers = false;
        for (uint32_t i = 0; i < count; ++i) {
            if (i)
                mOut += ", ";
            numbers = number(f, numberAt(f, elements, i)) || numbers;
        }
        if (numbers)
            unit(f);
        mOut += '\n';
    }
    void string(const Field &f, std::string_view bytes) override
    {
        label(f.display);
        Sink sink(mOut);
        sink.wrote(writeTextString(sink.room(Text::kEscapedRoomPerByte * bytes.size() + 2), bytes));
        sink.put('\n');
    }
    void beginEmbed(const Field &f) override { open(f.display, nullptr); }
    void endEmbed(const Field &) override { mIndent -= 2; }
    void beginGroup(const Field &, uint32_t) override {}
    void beginElement(const Field &f, uint32_t index) override { open(f.display, &index); }
    void endElement(const Field &, uint32_t) override { mIndent -= 2; }
    void endGroup(const Field &) override {}

private:
    // One append per label: most lines are short, and three appends cost more than the line.
    void label(const char *display)
    {
        char line[128];
        const std::size_t length = std::strlen(display), indent = std::size_t(mIndent);
        if (indent + length + 2 > sizeof line) {
            mOut.append(indent, ' ');
            mOut += display;
            mOut += ": ";
            return;
        }
        std::memset(line, ' ', indent);
        std::memcpy(line + indent, display, length);
        line[indent + length] = ':';
        line[indent + length + 1] = ' ';
        mOut.append(line, indent + length + 2);
    }
    void open(const char *display, const uint32_t *index)
    {
        mOut.append(std::size_t(mIndent), ' ');
        mOut += display;
        if (index) {
            char digits[24];
            mOut += " [";
            mOut.append(digits, writeInteger(digits, *index));
            mOut += ']';
        }
        mOut += ":\n";
        mIndent += 2;
    }
    // A symbol text where the list names the value (or its "no value" marker; "none" where it
    // names no text for it), else the number; true for a number, which takes the unit.
    bool number(const Field &f, Number n)
    {
        const bool invalid = isInvalid(f, n);
        if (const char *symbol = !isScaled(f) || invalid ? symbolOf(f, n) : nullptr) {
            mOut += symbol;
            return false;
        }
        if (invalid) {
            mOut += "none";
            return false;
        }
        char buffer[kNumberRoom];
        char *end = buffer;
        if (isScaled(f)) {
            end = writeScaled(buffer, f, n);
            if (wantsExponent(scaled(f, n)))
                end = toExponent(buffer, end, false);
        } else if (n.kind == Number::Kind::Real) {
            const bool isFloat = f.ctype == CType::F32;
            end = wantsExponent(n.d) ? toExponent(buffer, writeReal(buffer, n.d, isFloat), isFloat)
                                     : writeReal(buffer, n.d, isFloat);
        } else if (n.kind == Number::Kind::Signed) {
            end = writeInteger(buffer, n.i);
        } else {
            end = (f.flags & Hex) ? writeHex(buffer, n.u) : writeInteger(buffer, n.u);
        }
        mOut.append(buffer, end);
        return true;
    }
    void unit(const Field &f)
    {
        if (f.unit) {
            mOut += ' ';
            mOut += f.unit;
        }
    }

    std::string &mOut;
    int mIndent = 2;
};

const RecordLayout *messageInfo(const _RTCM3_message_t &message)
{
    const RecordLayout *info = recordInfo(message.header.kvtcg_message);
    return info && info->messageNumber ? info : nullptr;
}

} // namespace

bool appendJson(std::string &out, const _RTCM3_message_t &message)
{
    const RecordLayout *info = messageInfo(message);
    if (!info)
        return false;
    const char *name = info->text ? info->text : info->display;
    Sink sink(out);
    char *at = writeText(sink.room(std::char_traits<char>::length(name) * 6 + kNumberRoom + 24), "{\"number\":");
    at = writeInteger(at, info->messageNumber);
    at = writeText(at, ",\"name\":");
    at = writeJsonString(at, name);
    *at++ = ',';
    sink.wrote(at);
    JsonWriter writer(sink);
    detail::walkFields(*info, &message, nullptr, info->messageNumber, writer);
    writer.close('}');
    sink.dropLast();  // the comma after the object
    return true;
}

bool appendText(std::string &out, const _RTCM3_message_t &message)
{
    const RecordLayout *info = messageInfo(message);
    if (!info)
        return false;
    out += info->display;
    if (info->text) {
        out += " (";
        out += info->text;
        out += ')';
    }
    out += '\n';
    TextWriter writer(out);
    detail::walkFields(*info, &message, nullptr, info->messageNumber, writer);
    return true;
}

} // namespace Kvt::Nuvrix::reflect
