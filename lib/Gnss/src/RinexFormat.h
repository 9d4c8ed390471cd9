#pragma once
// Fixed-column pieces shared by the RINEX writers: header lines, integer and real fields,
// epochs split into calendar fields without a second of 60. Internal to the library.

#include "GnssTime.h"

#include <cstdint>
#include <string>
#include <string_view>

namespace Kvt::Gnss::Rinex {

// One header line: the content cut or padded to columns 1-60, the label to columns 61-80.
std::string headerLine(std::string_view content, std::string_view label);

// Fortran-style fields appended to a line under construction.
// Left-justified, cut to width; bytes outside printable ASCII become '?' (blanks for white space).
void putA(std::string& line, std::string_view text, int width);
void putI(std::string& line, long long value, int width);         // right-justified
void putF(std::string& line, double value, int width, int decimals);
void putBlank(std::string& line, int width);

// F14.3 written into p[0..13]; false (and p untouched) where the value does not fit the field.
bool formatF14_3(double value, char* p);

// An instant of some time scale as calendar fields, rounded to 1e-7 s first so that a
// second never reads 60.
struct EpochFields {
    int year = 0, month = 0, day = 0, hour = 0, minute = 0;
    int64_t secondE7 = 0;  // seconds of the minute times 10^7
    int dayOfYear = 0;
};
// `t` is a GpsTime whose week and time of week are read in the scale wanted (shift it first
// for BDT or UTC).
EpochFields splitEpoch(const GpsTime& t);

// "yyyymmdd hhmmss UTC" of now.
std::string creationDateNow();

// The first two header lines of a file: version and type, then program, run by and date
// (now where `date` is empty), each with its line end.
std::string openingLines(std::string_view versionAndType, const std::string& program, const std::string& runBy,
                         const std::string& date);

} // namespace Kvt::Gnss::Rinex
