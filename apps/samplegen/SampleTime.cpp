#include "SampleTime.h"

#include <cmath>

namespace Kvt::Nuvrix::SampleGen {

namespace {

constexpr int kGpsEpochMjd = 44244;      // 1980-01-06, a Sunday
constexpr int kGlonassEpochMjd = 50083;  // 1996-01-01, start of the first four-year interval
constexpr int kDaysPerFourYears = 1461;

double gpsSeconds(double gpsTow)
{
    return double(kGpsWeek) * kSecondsPerWeek + gpsTow;
}

} // namespace

UtcTime utcFromGps(double gpsTow)
{
    const double utc = gpsSeconds(gpsTow) - kLeapSeconds;
    const double day = std::floor(utc / kSecondsPerDay);
    return {kGpsEpochMjd + int(day), int(utc - day * kSecondsPerDay)};
}

GlonassTime glonassFromGps(double gpsTow)
{
    const double moscow = gpsSeconds(gpsTow) - kLeapSeconds + kMoscowOffsetSeconds;
    const double day = std::floor(moscow / kSecondsPerDay);
    return {int(day) % 7, moscow - day * kSecondsPerDay, kGpsEpochMjd + int(day)};
}

int glonassFourYearInterval(int mjd)
{
    return (mjd - kGlonassEpochMjd) / kDaysPerFourYears + 1;
}

int glonassDayInInterval(int mjd)
{
    return (mjd - kGlonassEpochMjd) % kDaysPerFourYears + 1;
}

double gpsTowFromGlonass(const GlonassTime& day, double glonassSecondOfDay)
{
    const double moscow = double(day.mjd - kGpsEpochMjd) * kSecondsPerDay + glonassSecondOfDay;
    return moscow - kMoscowOffsetSeconds + kLeapSeconds - double(kGpsWeek) * kSecondsPerWeek;
}

} // namespace Kvt::Nuvrix::SampleGen
