#include "GnssTime.h"

#include <array>
#include <cmath>
#include <iterator>
#include <cstdio>

namespace Kvt::Gnss {

namespace {

// Days from 1970-01-01 of a proleptic Gregorian date, and back (H. Hinnant's civil algorithms).
int64_t daysFromCivil(int64_t y, unsigned m, unsigned d)
{
    y -= m <= 2;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

void civilFromDays(int64_t z, int* y, int* m, int* d)
{
    z += 719468;
    const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const unsigned doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    *d = int(doy - (153 * mp + 2) / 5 + 1);
    *m = int(mp < 10 ? mp + 3 : mp - 9);
    *y = int(yoe + era * 400 + (*m <= 2));
}

const int64_t kGpsEpochDays = daysFromCivil(1980, 1, 6);

// Seconds since the GPS epoch of a calendar date in the same scale.
double secondsOf(const DateTime& t)
{
    const int64_t days = daysFromCivil(t.year, unsigned(t.month), unsigned(t.day)) - kGpsEpochDays;
    return double(days) * kSecondsPerDay + t.hour * 3600.0 + t.minute * 60.0 + t.second;
}

DateTime dateOf(int32_t week, double tow)
{
    const int dayOfWeek = int(tow / kSecondsPerDay);
    const double secondOfDay = tow - double(dayOfWeek) * kSecondsPerDay;
    DateTime out;
    civilFromDays(kGpsEpochDays + int64_t(week) * 7 + dayOfWeek, &out.year, &out.month, &out.day);
    out.hour = int(secondOfDay / 3600);
    out.minute = int((secondOfDay - out.hour * 3600.0) / 60);
    out.second = secondOfDay - out.hour * 3600.0 - out.minute * 60.0;
    return out;
}

// UTC dates at which GPS - UTC became one more second.
struct LeapStep { int year, month, day; };
constexpr LeapStep kLeapSteps[] = {
    {1981, 7, 1}, {1982, 7, 1}, {1983, 7, 1}, {1985, 7, 1}, {1988, 1, 1}, {1990, 1, 1},
    {1991, 1, 1}, {1992, 7, 1}, {1993, 7, 1}, {1994, 7, 1}, {1996, 1, 1}, {1997, 7, 1},
    {1999, 1, 1}, {2006, 1, 1}, {2009, 1, 1}, {2012, 7, 1}, {2015, 7, 1}, {2017, 1, 1},
};

} // namespace

int DateTime::dayOfYear() const
{
    return int(daysFromCivil(year, unsigned(month), unsigned(day)) - daysFromCivil(year, 1, 1)) + 1;
}

void GpsTime::normalise()
{
    if (tow >= 0 && tow < kSecondsPerWeek)
        return;
    const double weeks = std::floor(tow / kSecondsPerWeek);
    week += int32_t(weeks);
    tow -= weeks * kSecondsPerWeek;
    if (tow >= kSecondsPerWeek) {  // rounding of a value just below a week
        tow -= kSecondsPerWeek;
        ++week;
    }
}

GpsTime GpsTime::fromCalendar(const DateTime& gpst) { return GpsTime(0, secondsOf(gpst)); }

DateTime GpsTime::toCalendar() const { return dateOf(week, tow); }

std::string GpsTime::toIso() const { return isoText().data(); }

std::array<char, 40> GpsTime::isoText() const
{
    // Round to the millisecond before splitting, so that 59.9996 s becomes the next minute.
    const double ms = std::round(tow * 1000.0);
    const GpsTime rounded(week, ms / 1000.0);
    const DateTime d = rounded.toCalendar();
    const int millis = int(std::llround(d.second * 1000.0));
    std::array<char, 40> text{};
    std::snprintf(text.data(), text.size(), "%04d-%02d-%02dT%02d:%02d:%02d.%03d", d.year, d.month, d.day,
                  d.hour, d.minute, millis / 1000, millis % 1000);
    return text;
}

int leapSecondsAt(const GpsTime& t)
{
    // The GPS instants at which each step takes effect, worked out once.
    static const auto kStepAt = [] {
        std::array<double, std::size(kLeapSteps)> at{};
        for (std::size_t i = 0; i < at.size(); ++i)
            at[i] = secondsOf(DateTime{kLeapSteps[i].year, kLeapSteps[i].month, kLeapSteps[i].day, 0, 0, 0.0})
                + double(i + 1);
        return at;
    }();
    const double s = t.secondsSinceEpoch();
    int leap = 0;
    while (leap < int(kStepAt.size()) && s >= kStepAt[std::size_t(leap)])
        ++leap;
    return leap;
}

GpsTime GpsTime::fromUtc(const DateTime& utc)
{
    const GpsTime guess(0, secondsOf(utc));
    // The count of the instant itself: one more try settles a date next to a step.
    const GpsTime first = guess.plusSeconds(leapSecondsAt(guess));
    return guess.plusSeconds(leapSecondsAt(first));
}

DateTime GpsTime::toUtc() const
{
    const GpsTime utc = plusSeconds(-leapSecondsAt(*this));
    return dateOf(utc.week, utc.tow);
}

GpsTime GpsTime::fromBdt(int32_t bdtWeek, double bdtSow)
{
    return GpsTime(bdtWeek + kBdtWeekOffset, bdtSow + kBdtSecondsBehindGps);
}

int32_t GpsTime::bdtWeek() const { return plusSeconds(-kBdtSecondsBehindGps).week - kBdtWeekOffset; }
double GpsTime::bdtSow() const { return plusSeconds(-kBdtSecondsBehindGps).tow; }

int32_t resolveWeek(int32_t weekModulo, int32_t modulus, int32_t referenceWeek)
{
    int32_t week = referenceWeek - ((referenceWeek % modulus) + modulus) % modulus + weekModulo;
    if (week - referenceWeek > modulus / 2)
        week -= modulus;
    else if (referenceWeek - week > modulus / 2)
        week += modulus;
    return week;
}

} // namespace Kvt::Gnss
