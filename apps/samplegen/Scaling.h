#pragma once
// Conversion of physical quantities to the integers that message fields carry.

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

// value / scale rounded to the nearest integer. Throws when the result needs more than `bits`
// bits: the encoder keeps only the low bits, which would turn a wrong value into a plausible one.
int64_t toSigned(double value, double scale, int bits, const char* what);
uint64_t toUnsigned(double value, double scale, int bits, const char* what);

// GLONASS sends some quantities as a sign bit and a magnitude.
struct SignMagnitude {
    uint8_t sign;
    uint32_t magnitude;
};
SignMagnitude toSignMagnitude(double value, double scale, int magnitudeBits, const char* what);

// Angles on the wire are in semicircles (units of pi radians).
double toSemicircles(double radians);

// A fixed, repeatable value in [-1, 1] for a seed: it spreads corrections and biases over the
// satellites the way noise would, without a random generator.
double wobble(double seed);

} // namespace Kvt::Nuvrix::SampleGen
