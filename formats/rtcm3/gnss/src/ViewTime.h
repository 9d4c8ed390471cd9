#pragma once
// Times as messages give them, before their week or day is known, and the arithmetic the
// parts of the view share to resolve them. Internal to the view.

#include "GnssTime.h"

#include <cmath>
#include <cstdint>

namespace Kvt::Nuvrix::View {

using Gnss::GpsTime;

constexpr int64_t kMsPerDay = int64_t(Gnss::kSecondsPerDay) * 1000;
constexpr int64_t kMsPerWeek = int64_t(Gnss::kSecondsPerWeek) * 1000;
constexpr int64_t kMoscowAheadOfUtcMs = 3 * 3600 * 1000;
// GPS time at MJD 44244, 1980-01-06.
constexpr int kMjdOfGpsEpoch = 44244;

inline int64_t floorMod(int64_t a, int64_t m) { return ((a % m) + m) % m; }

// Brings a difference into [-period/2, period/2).
inline int64_t wrapHalf(int64_t d, int64_t period) { return floorMod(d + period / 2, period) - period / 2; }

inline int64_t msOf(const GpsTime& t) { return int64_t(t.week) * kMsPerWeek + std::llround(t.tow * 1000.0); }

inline GpsTime timeOfMs(int64_t ms)
{
    const int64_t week = ms >= 0 ? ms / kMsPerWeek : -((-ms + kMsPerWeek - 1) / kMsPerWeek);
    return GpsTime(int32_t(week), double(ms - week * kMsPerWeek) / 1000.0);
}

inline GpsTime fromMjd(int mjd, double secondOfDay)
{
    return GpsTime(0, double(mjd - kMjdOfGpsEpoch) * Gnss::kSecondsPerDay + secondOfDay);
}

// A time as a message gives it, before the week (or day) is known.
struct RawTime {
    enum class Scale : uint8_t {
        Week,         // GPS milliseconds of week (BeiDou already moved by 14 s)
        GlonassWeek,  // Moscow milliseconds of the week from the day of week
        GlonassDay,   // Moscow milliseconds of day, the day unknown
    };
    Scale scale = Scale::Week;
    int64_t ms = 0;

    bool glonass() const { return scale != Scale::Week; }
    // GPS milliseconds of day, given GPS - UTC; for telling epochs apart before they are dated.
    int64_t gpsMsOfDay(int leap) const
    {
        return glonass() ? floorMod(ms - kMoscowAheadOfUtcMs + leap * 1000, kMsPerDay) : floorMod(ms, kMsPerDay);
    }
    // The instant nearest `near` that this time can be.
    GpsTime resolve(const GpsTime& near, int leap) const
    {
        const int64_t ref = msOf(near);
        const int64_t period = scale == Scale::GlonassDay ? kMsPerDay : kMsPerWeek;
        const int64_t gps = glonass() ? ms - kMoscowAheadOfUtcMs + leap * 1000 : ms;
        return timeOfMs(ref + wrapHalf(gps - floorMod(ref, period), period));
    }
};

} // namespace Kvt::Nuvrix::View
