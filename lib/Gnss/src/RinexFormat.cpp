#include "RinexFormat.h"

#include <cctype>
#include <cmath>
#include <cstdio>
#include <ctime>

namespace Kvt::Gnss::Rinex {

std::string headerLine(std::string_view content, std::string_view label)
{
    std::string line;
    line.reserve(80);
    putA(line, content, 60);
    putA(line, label, 20);
    return line;
}

void putA(std::string& line, std::string_view text, int width)
{
    // Text from a stream may hold line ends, control or non-ASCII bytes: any of them would
    // break the fixed columns, so each becomes a printable stand-in.
    const size_t w = size_t(width);
    const size_t n = text.size() < w ? text.size() : w;
    for (size_t i = 0; i < n; ++i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        line += c >= 0x20 && c < 0x7F ? char(c) : std::isspace(c) ? ' ' : '?';
    }
    line.append(w - n, ' ');
}

void putI(std::string& line, long long value, int width)
{
    char text[32];
    const int n = std::snprintf(text, sizeof text, "%*lld", width, value);
    if (n > 0 && n <= width)
        line.append(text, size_t(n));
    else
        line.append(size_t(width), ' ');  // a field that cannot hold the value stays blank
}

void putF(std::string& line, double value, int width, int decimals)
{
    char text[64];
    const int n = std::snprintf(text, sizeof text, "%*.*f", width, decimals, value);
    if (n > 0 && n <= width)
        line.append(text, size_t(n));
    else
        line.append(size_t(width), ' ');
}

void putBlank(std::string& line, int width) { line.append(size_t(width), ' '); }

bool formatF14_3(double value, char* p)
{
    // Ten integer digits for a positive value, nine behind a minus sign.
    const double scaled = value * 1000.0;
    if (!(scaled < 9999999999999.5 && scaled > -999999999999.5))
        return false;  // also NaN
    const long long m = std::llround(scaled);
    const bool negative = m < 0;
    const unsigned long long u = negative ? static_cast<unsigned long long>(-m) : static_cast<unsigned long long>(m);
    unsigned long long whole = u / 1000;
    unsigned fraction = unsigned(u % 1000);
    char* q = p + 14;
    *--q = char('0' + fraction % 10);
    *--q = char('0' + fraction / 10 % 10);
    *--q = char('0' + fraction / 100);
    *--q = '.';
    // Ranges and phases fit 32 bits, whose division is the cheaper one.
    if (whole <= 0xFFFFFFFFull) {
        uint32_t w = uint32_t(whole);
        do {
            *--q = char('0' + w % 10);
            w /= 10;
        } while (w);
    } else {
        do {
            *--q = char('0' + whole % 10);
            whole /= 10;
        } while (whole);
    }
    if (negative)
        *--q = '-';
    while (q > p)
        *--q = ' ';
    return true;
}

EpochFields splitEpoch(const GpsTime& t)
{
    constexpr int64_t kUnitsPerSecond = 10000000;
    constexpr int64_t kUnitsPerDay = int64_t(kSecondsPerDay) * kUnitsPerSecond;
    int64_t units = std::llround(t.tow * double(kUnitsPerSecond));
    int32_t week = t.week;
    if (units >= int64_t(kSecondsPerWeek) * kUnitsPerSecond) {
        units -= int64_t(kSecondsPerWeek) * kUnitsPerSecond;
        ++week;
    }
    const int64_t dayOfWeek = units / kUnitsPerDay;
    int64_t rest = units % kUnitsPerDay;
    const DateTime date = GpsTime(week, double(dayOfWeek) * kSecondsPerDay).toCalendar();
    EpochFields f;
    f.year = date.year;
    f.month = date.month;
    f.day = date.day;
    f.dayOfYear = date.dayOfYear();
    f.hour = int(rest / (3600 * kUnitsPerSecond));
    rest %= 3600 * kUnitsPerSecond;
    f.minute = int(rest / (60 * kUnitsPerSecond));
    f.secondE7 = rest % (60 * kUnitsPerSecond);
    return f;
}

std::string creationDateNow()
{
    const std::time_t now = std::time(nullptr);
    std::tm utc{};
    gmtime_r(&now, &utc);
    char text[32];
    std::strftime(text, sizeof text, "%Y%m%d %H%M%S UTC", &utc);
    return text;
}

std::string openingLines(std::string_view versionAndType, const std::string& program, const std::string& runBy,
                         const std::string& date)
{
    std::string c;
    putA(c, program, 20);
    putA(c, runBy, 20);
    putA(c, date.empty() ? creationDateNow() : date, 20);
    return headerLine(versionAndType, "RINEX VERSION / TYPE") + '\n' + headerLine(c, "PGM / RUN BY / DATE") + '\n';
}

} // namespace Kvt::Gnss::Rinex
