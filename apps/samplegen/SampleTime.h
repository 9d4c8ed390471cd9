#pragma once
// The time scales of the sample: every epoch is held as GPS seconds of the week, and the
// messages of the other systems convert from it.

#include <cstdint>

namespace Kvt::Nuvrix::SampleGen {

constexpr int kGpsWeek = 2317;                // 2024-06-02 to 2024-06-08
constexpr double kFirstEpochTow = 206100.0;   // Tuesday 09:15:00 GPS time
constexpr int kEpochCount = 10;               // one per second
constexpr int kLeapSeconds = 18;              // GPS minus UTC
constexpr int kBeiDouLagSeconds = 14;         // GPS minus BeiDou time
constexpr int kGalileoWeekOffset = 1024;      // GPS week minus Galileo week
constexpr int kBeiDouWeekOffset = 1356;       // GPS week minus BeiDou week
constexpr int kMoscowOffsetSeconds = 3 * 3600; // GLONASS time minus UTC
constexpr int kSecondsPerDay = 86400;
constexpr int kSecondsPerWeek = 7 * kSecondsPerDay;

struct UtcTime {
    int mjd;
    int secondOfDay;
};

// Calendar day and second of day of UTC at a GPS time of the sample week.
UtcTime utcFromGps(double gpsTow);

// GLONASS time (Moscow): day of week (0 = Sunday) and seconds of that day.
struct GlonassTime {
    int dayOfWeek;
    double secondOfDay;
    int mjd;
};
GlonassTime glonassFromGps(double gpsTow);

// GLONASS day numbers: the four-year interval since 1996 (1 for 1996 to 1999) and the day in it.
int glonassFourYearInterval(int mjd);
int glonassDayInInterval(int mjd);

// GPS seconds of the week at which a GLONASS time of the same day falls.
double gpsTowFromGlonass(const GlonassTime& day, double glonassSecondOfDay);

} // namespace Kvt::Nuvrix::SampleGen
