#include "Scaling.h"

#include <cmath>

namespace Kvt::Nuvrix::SampleGen {

namespace {

} // namespace

int64_t rawOf(double value, const units::Physical& unit, const char* what)
{
    const double raw = std::round(value / unit.scale) + double(unit.zero);
    if (!(raw >= double(units::lowestValid(unit)) && raw <= double(units::highestValid(unit))))
        throw SampleError(std::string(what) + " = " + std::to_string(value) + " does not fit its field");
    return static_cast<int64_t>(raw);
}

int64_t toField(double value, double scale, const wire::Field& field, const char* what)
{
    const double raw = std::round(value / scale);
    if (!(raw >= double(field.lowest) && raw <= double(field.highest)))
        throw SampleError(std::string(what) + " = " + std::to_string(value) + " does not fit in "
                          + std::to_string(field.bits) + " bits");
    return static_cast<int64_t>(raw);
}

double wobble(double seed)
{
    // The golden angle keeps consecutive seeds far apart on the circle.
    return std::sin(seed * 2.399963229728653);
}

} // namespace Kvt::Nuvrix::SampleGen
