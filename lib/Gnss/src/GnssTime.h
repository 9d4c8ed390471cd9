#pragma once
// GNSS time: one type for an instant (GPS week and time of week), converted to and from the
// calendar, UTC and the other constellations' scales in one place.

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace Kvt::Gnss {

constexpr int kSecondsPerDay = 86400;
constexpr int kSecondsPerWeek = 7 * kSecondsPerDay;
// BeiDou time began 2006-01-01 00:00:00 UTC, 14 s behind GPS time, in GPS week 1356.
constexpr int kBdtWeekOffset = 1356;
constexpr int kBdtSecondsBehindGps = 14;
// Galileo system time counts weeks from 1999-08-22, GPS week 1024.
constexpr int kGstWeekOffset = 1024;

// A calendar date and time of day in some time scale (which one is the caller's to know).
struct DateTime {
    int year = 1980;
    int month = 1;
    int day = 6;
    int hour = 0;
    int minute = 0;
    double second = 0.0;

    int dayOfYear() const;  // 1 for January 1st
};

// An instant in GPS time: full week since 1980-01-06 and seconds into it, always normalised
// to 0 <= tow < 604800.
struct GpsTime {
    int32_t week = 0;
    double tow = 0.0;

    GpsTime() = default;
    GpsTime(int32_t w, double t) : week(w), tow(t) { normalise(); }

    static GpsTime fromCalendar(const DateTime& gpst);  // a GPST calendar date
    DateTime toCalendar() const;                         // GPST calendar date
    // "2021-02-05T15:44:08.000": GPST, milliseconds, never a second of 60.
    std::string toIso() const;
    // The same text, NUL-terminated, in a buffer of its own: no allocation, for outputs that
    // write it for every epoch.
    std::array<char, 40> isoText() const;

    // From and to UTC with the leap seconds of the date.
    static GpsTime fromUtc(const DateTime& utc);
    DateTime toUtc() const;

    // BeiDou time: BDT week and seconds of week.
    static GpsTime fromBdt(int32_t bdtWeek, double bdtSow);
    int32_t bdtWeek() const;
    double bdtSow() const;

    double secondsSinceEpoch() const { return double(week) * kSecondsPerWeek + tow; }
    GpsTime plusSeconds(double s) const { return GpsTime(week, tow + s); }
    double operator-(const GpsTime& o) const
    {
        return double(week - o.week) * kSecondsPerWeek + (tow - o.tow);
    }
    bool operator<(const GpsTime& o) const { return week != o.week ? week < o.week : tow < o.tow; }
    bool operator==(const GpsTime& o) const { return week == o.week && tow == o.tow; }
    bool operator!=(const GpsTime& o) const { return !(*this == o); }

private:
    void normalise();
};

// GPS - UTC in seconds at a GPS instant (0 before 1981-07-01; the table ends at the last leap
// second announced, 2017-01-01, 18 s).
int leapSecondsAt(const GpsTime& t);

// The week of `ref`'s era (1024 weeks) nearest to `ref` whose low bits are `weekModulo`
// (a 10-bit broadcast week, say): the full week a truncated week number stands for.
int32_t resolveWeek(int32_t weekModulo, int32_t modulus, int32_t referenceWeek);

// "YYYY-MM-DD" or "YYYY-MM-DDTHH:MM:SS" (GPST) as an instant; a date alone stands for its noon,
// so that times of day without a day fall on that date. Nothing for any other text. Here rather
// than beside the formatting, so that a consumer of the view that is given a date finds it.
std::optional<GpsTime> parseTimeHint(std::string_view text);

} // namespace Kvt::Gnss
