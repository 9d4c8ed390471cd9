#include "Scaling.h"

#include <cmath>

namespace Kvt::Nuvrix::SampleGen {

namespace {

[[noreturn]] void refuse(const char* what, double value, int bits)
{
    throw SampleError(std::string(what) + " = " + std::to_string(value) + " does not fit in "
                      + std::to_string(bits) + " bits");
}

} // namespace

int64_t rawOf(double value, const units::Physical& unit, const char* what)
{
    const double raw = std::round(value / unit.scale);
    if (!(raw >= double(units::lowestValid(unit)) && raw <= double(units::highestValid(unit))))
        throw SampleError(std::string(what) + " = " + std::to_string(value) + " does not fit its field");
    return static_cast<int64_t>(raw);
}

int64_t toSigned(double value, double scale, int bits, const char* what)
{
    const double raw = std::round(value / scale);
    const double limit = std::ldexp(1.0, bits - 1);
    if (!(raw >= -limit && raw < limit))
        refuse(what, value, bits);
    return static_cast<int64_t>(raw);
}

uint64_t toUnsigned(double value, double scale, int bits, const char* what)
{
    const double raw = std::round(value / scale);
    if (!(raw >= 0 && raw < std::ldexp(1.0, bits)))
        refuse(what, value, bits);
    return static_cast<uint64_t>(raw);
}

SignMagnitude toSignMagnitude(double value, double scale, int magnitudeBits, const char* what)
{
    const uint64_t magnitude = toUnsigned(std::fabs(value), scale, magnitudeBits, what);
    // A magnitude that rounds to zero is sent as +0, never as -0.
    return {static_cast<uint8_t>(value < 0 && magnitude != 0), static_cast<uint32_t>(magnitude)};
}

double toSemicircles(double radians)
{
    return radians / M_PI;
}

double wobble(double seed)
{
    // The golden angle keeps consecutive seeds far apart on the circle.
    return std::sin(seed * 2.399963229728653);
}

} // namespace Kvt::Nuvrix::SampleGen
