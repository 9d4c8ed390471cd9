#pragma once
// Conversion of physical quantities to the integers that message fields carry.

#include "RTCM3_families.h"

#include <cmath>
#include <cstdint>
#include <stdexcept>
#include <string>

namespace Kvt::Nuvrix::SampleGen {

// Anything that keeps the sample from being written: a value that its field cannot carry or a
// record that the encoder refused.
class SampleError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// value / scale rounded to the nearest integer. Throws where the field cannot carry it: the
// encoder keeps only the low bits, which would turn a wrong value into a plausible one.
int64_t toField(double value, double scale, const wire::Field& field, const char* what);

// value / the member's scale in the message list, rounded; throws where the member's field
// cannot carry it or would carry its invalid marker.
int64_t rawOf(double value, const units::Physical& unit, const char* what);

template <typename T>
void put(T& member, double value, const units::Physical& unit, const char* what)
{
    member = static_cast<T>(rawOf(value, unit, what));
}

// A sign bit and a magnitude at the magnitude member's scale.
template <typename S, typename M>
void putSignMagnitude(S& sign, M& magnitude, double value, const units::Physical& magnitudeUnit, const char* what)
{
    put(magnitude, std::abs(value), magnitudeUnit, what);
    // A magnitude that rounds to zero is sent as +0, never as -0.
    sign = static_cast<S>(value < 0 && magnitude != 0);
}

// A fixed, repeatable value in [-1, 1] for a seed: it spreads corrections and biases over the
// satellites the way noise would, without a random generator.
double wobble(double seed);

} // namespace Kvt::Nuvrix::SampleGen
