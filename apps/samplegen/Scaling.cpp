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

double wobble(double seed)
{
    // The golden angle keeps consecutive seeds far apart on the circle.
    return std::sin(seed * 2.399963229728653);
}

} // namespace Kvt::Nuvrix::SampleGen
