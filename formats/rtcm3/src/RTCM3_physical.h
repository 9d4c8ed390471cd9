#pragma once
// A member's physical meaning as the message list states it (scale, unit, the raw value that
// means "no value"), and the two conversions every reader and writer of records needs. The
// constants of every record are generated into RTCM3_units.h.

#include <cmath>
#include <cstdint>
#include <optional>
#include <type_traits>

namespace Kvt::Nuvrix::units {

// A sub-field of a field packed of several (GLONASS tk: hours, minutes, half-minutes).
struct SubField {
    int shift;      // of its lowest bit within the field
    int bits;
    double steps;   // its worth in steps of the field's scale; 0 for a part that is not a quantity
    constexpr uint64_t of(uint64_t raw) const { return raw >> shift & ((uint64_t(1) << bits) - 1); }
    constexpr uint64_t top() const { return (uint64_t(1) << bits) - 1; }
};

// The scale of a shared sub-record's member in a message whose scale is not the default.
struct ScaleIn {
    int messageNumber;
    double scale;
};

struct Physical {
    double scale;      // physical value = (raw - zero) times scale
    const char *unit;  // "m", "s", "rad", "dB-Hz"; null for a bare number
    bool hasInvalid;
    int64_t invalid;   // with hasInvalid: the raw value that carries no value
    int64_t lowest = 0, highest = 0;  // the raw values the member's widest field holds; 0, 0 where not an integer field
    int64_t zero = 0;                 // the raw value that means zero
    const SubField *parts = nullptr;  // a packed field: the value is the sum of its parts
    int partCount = 0;
    const ScaleIn *scales = nullptr;  // messages whose scale differs from the one above
    int scaleCount = 0;
};

// The meaning in the message of this number, where the scale depends on it.
constexpr Physical in(const Physical &p, int messageNumber)
{
    Physical q = p;
    for (int k = 0; k < p.scaleCount; ++k)
        if (p.scales[k].messageNumber == messageNumber)
            q.scale = p.scales[k].scale;
    q.scales = nullptr;
    q.scaleCount = 0;
    return q;
}

// The raw values that carry a value: the field's range less an invalid marker at one end.
constexpr int64_t lowestValid(const Physical &p) { return p.hasInvalid && p.invalid == p.lowest ? p.lowest + 1 : p.lowest; }
constexpr int64_t highestValid(const Physical &p) { return p.hasInvalid && p.invalid == p.highest ? p.highest - 1 : p.highest; }

// The physical value of a raw one; nothing for the invalid marker.
template <typename Raw>
constexpr std::optional<double> value(const Physical &p, Raw raw)
{
    if constexpr (std::is_integral_v<Raw>) {
        if (p.hasInvalid && int64_t(raw) == p.invalid)
            return std::nullopt;
        if (p.parts) {
            double sum = 0;
            for (int k = 0; k < p.partCount; ++k)
                sum += double(p.parts[k].of(uint64_t(raw))) * p.parts[k].steps;
            return sum * p.scale;
        }
        return double(int64_t(raw) - p.zero) * p.scale;
    }
    return double(raw) * p.scale;
}

// The raw value nearest a physical one (for encoders and generated records); a packed field
// takes each part whole from the most significant down, what is left below the last part
// dropped. The caller keeps the value inside the member's range.
template <typename Raw>
Raw rawOf(const Physical &p, double physical)
{
    if constexpr (std::is_integral_v<Raw>) {
        if (p.parts) {
            uint64_t raw = 0;
            double left = physical / p.scale;
            for (int k = 0; k < p.partCount; ++k) {
                const SubField &part = p.parts[k];
                const double whole = std::floor(left / part.steps);
                const uint64_t n = whole <= 0 ? 0 : whole >= double(part.top()) ? part.top() : uint64_t(whole);
                raw |= n << part.shift;
                left -= double(n) * part.steps;
            }
            return Raw(raw);
        }
        return Raw(std::llround(physical / p.scale) + p.zero);
    } else {
        return Raw(physical / p.scale);
    }
}

} // namespace Kvt::Nuvrix::units
