#pragma once
// A member's physical meaning as the message list states it (scale, unit, the raw value that
// means "no value"), and the two conversions every reader and writer of records needs. The
// constants of every record are generated into RTCM3_units.h.

#include <cmath>
#include <cstdint>
#include <optional>
#include <type_traits>

namespace Kvt::Nuvrix::units {

struct Physical {
    double scale;      // physical value = raw times scale
    const char *unit;  // "m", "s", "rad", "dB-Hz"; null for a bare number
    bool hasInvalid;
    int64_t invalid;   // with hasInvalid: the raw value that carries no value
    int64_t lowest = 0, highest = 0;  // the raw values the member's widest field holds; 0, 0 where not an integer field
};

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
    }
    return double(raw) * p.scale;
}

// The raw value nearest a physical one (for encoders and generated records). The caller
// keeps the value inside the member's range.
template <typename Raw>
Raw rawOf(const Physical &p, double physical)
{
    if constexpr (std::is_integral_v<Raw>)
        return Raw(std::llround(physical / p.scale));
    else
        return Raw(physical / p.scale);
}

} // namespace Kvt::Nuvrix::units
