#pragma once
// A reader of RINEX 3 observation and navigation files for the tests, written from the fixed
// column layout alone and independent of the library's writer: header lines with their labels,
// the observation types of each system, epochs with values, loss-of-lock and signal strength
// indicators, navigation records as numbers. It reads 3.04 (a peer's output) and 3.05 alike.
// Problems are collected in `errors` instead of thrown, so a test can show all of them.

#include <cmath>
#include <cstdlib>
#include <fstream>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

namespace rinexreader {

struct HeaderLine {
    std::string content;  // columns 1-60
    std::string label;    // columns 61-80, trailing blanks removed
    size_t width = 0;     // length of the line as written (without the line end)
};

// Calendar fields of an epoch as written, in the file's time scale.
struct EpochTime {
    int year = 0, month = 0, day = 0, hour = 0, minute = 0;
    double second = 0;

    // Seconds since 1970-01-01 in the file's scale; for ordering and differences only.
    double key() const
    {
        const int y = month <= 2 ? year - 1 : year;
        const int era = (y >= 0 ? y : y - 399) / 400;
        const int yoe = y - era * 400;
        const int doy = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
        const int doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
        const long days = long(era) * 146097 + doe - 719468;
        return double(days) * 86400.0 + hour * 3600.0 + minute * 60.0 + second;
    }
};

struct ObsValue {
    std::optional<double> value;  // blank field: absent
    int lli = 0;                  // blank reads as 0
    int ssi = 0;                  // blank reads as 0
    bool lliBlank = true;
    bool ssiBlank = true;
};

struct SatelliteRecord {
    std::string sat;              // "G05"
    std::vector<ObsValue> values; // one per observation type of the system, in header order
};

struct ObsEpoch {
    EpochTime time;
    int flag = 0;
    int count = 0;                // satellites (or special records) announced
    std::vector<SatelliteRecord> satellites;
};

// What observation and navigation files share.
struct File {
    double version = 0;
    char fileType = ' ';
    char system = ' ';
    std::vector<HeaderLine> header;
    std::vector<std::string> errors;

    const HeaderLine* find(const std::string& label) const
    {
        for (const HeaderLine& h : header)
            if (h.label == label)
                return &h;
        return nullptr;
    }
};

struct ObsFile : File {
    std::map<char, std::vector<std::string>> obsTypes;  // 'G' -> {"C1C", "L1C", ...}
    std::vector<ObsEpoch> epochs;

    // The value of one observation type of one satellite record, if the type is listed.
    const ObsValue* value(const SatelliteRecord& s, const std::string& type) const
    {
        const auto it = obsTypes.find(s.sat.empty() ? ' ' : s.sat[0]);
        if (it == obsTypes.end())
            return nullptr;
        for (size_t i = 0; i < it->second.size() && i < s.values.size(); ++i)
            if (it->second[i] == type)
                return &s.values[i];
        return nullptr;
    }
};

struct NavRecord {
    std::string sat;              // "R07"
    EpochTime time;               // toc, in the system's own scale
    std::vector<double> values;   // clock terms of the first line, then the orbit lines, 4 each;
                                  // NaN for a blank field
};

struct NavFile : File {
    std::vector<NavRecord> records;
};

namespace detail {

inline std::string field(const std::string& line, size_t start, size_t width)
{
    if (start >= line.size())
        return {};
    return line.substr(start, width);
}

inline std::string trim(const std::string& s)
{
    const size_t b = s.find_first_not_of(' ');
    if (b == std::string::npos)
        return {};
    const size_t e = s.find_last_not_of(' ');
    return s.substr(b, e - b + 1);
}

inline bool blank(const std::string& s) { return s.find_first_not_of(' ') == std::string::npos; }

// A Fortran real: F or E/D format, 'D' exponents accepted.
inline std::optional<double> real(std::string s)
{
    s = trim(s);
    if (s.empty())
        return std::nullopt;
    for (char& c : s)
        if (c == 'D' || c == 'd')
            c = 'E';
    char* end = nullptr;
    const double v = std::strtod(s.c_str(), &end);
    if (end == s.c_str() || *end != '\0')
        return std::nullopt;
    return v;
}

inline std::optional<int> integer(const std::string& s)
{
    const std::string t = trim(s);
    if (t.empty())
        return std::nullopt;
    char* end = nullptr;
    const long v = std::strtol(t.c_str(), &end, 10);
    if (*end != '\0')
        return std::nullopt;
    return int(v);
}

inline std::vector<std::string> lines(const std::string& text)
{
    std::vector<std::string> out;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        out.push_back(line);
    }
    return out;
}

// Header lines up to END OF HEADER; returns the index of the first line after it.
inline size_t readHeader(const std::vector<std::string>& ls, File& f)
{
    size_t i = 0;
    for (; i < ls.size(); ++i) {
        HeaderLine h;
        h.content = field(ls[i], 0, 60);
        h.label = trim(field(ls[i], 60, 20));
        h.width = ls[i].size();
        f.header.push_back(h);
        if (h.label == "RINEX VERSION / TYPE") {
            f.version = real(field(ls[i], 0, 9)).value_or(0);
            f.fileType = ls[i].size() > 20 ? ls[i][20] : ' ';
            f.system = ls[i].size() > 40 ? ls[i][40] : ' ';
        }
        if (h.label == "END OF HEADER")
            return i + 1;
    }
    f.errors.push_back("no END OF HEADER");
    return i;
}

inline EpochTime epochTime(const std::string& line, size_t at, std::vector<std::string>& errors)
{
    // I4 year, then five 1X,I2 fields (or F11.7 seconds in an observation epoch).
    EpochTime t;
    int* const parts[] = {&t.year, &t.month, &t.day, &t.hour, &t.minute};
    for (size_t k = 0; k < 5; ++k) {
        const auto v = integer(field(line, k == 0 ? at : at + 2 + 3 * k, k == 0 ? 4 : 2));
        if (!v) {
            errors.push_back("bad epoch: " + line);
            return EpochTime{};
        }
        *parts[k] = *v;
    }
    return t;
}

} // namespace detail

inline ObsFile parseObs(const std::string& text)
{
    using namespace detail;
    ObsFile f;
    const std::vector<std::string> ls = lines(text);
    size_t i = readHeader(ls, f);

    // SYS / # / OBS TYPES: A1,2X,I3,13(1X,A3), continued on lines of 6X,13(1X,A3).
    char current = ' ';
    size_t expected = 0;
    for (const HeaderLine& h : f.header) {
        if (h.label != "SYS / # / OBS TYPES")
            continue;
        const std::string sys = field(h.content, 0, 1);
        if (!blank(sys)) {
            current = sys[0];
            expected = size_t(integer(field(h.content, 3, 3)).value_or(0));
            if (f.obsTypes.count(current))
                f.errors.push_back(std::string("system listed twice: ") + current);
            f.obsTypes[current];
        }
        for (size_t k = 0; k < 13 && f.obsTypes[current].size() < expected; ++k) {
            const std::string type = trim(field(h.content, 7 + 4 * k, 3));
            if (type.empty())
                break;
            f.obsTypes[current].push_back(type);
        }
    }

    while (i < ls.size()) {
        const std::string& line = ls[i++];
        if (line.empty())
            continue;
        if (line[0] != '>') {
            f.errors.push_back("expected an epoch record: " + line);
            continue;
        }
        // A1,1X,I4,4(1X,I2.2),F11.7,2X,I1,I3
        ObsEpoch e;
        e.time = epochTime(line, 2, f.errors);
        e.time.second = real(field(line, 18, 11)).value_or(0);
        e.flag = integer(field(line, 31, 1)).value_or(0);
        e.count = integer(field(line, 32, 3)).value_or(0);
        if (e.flag > 1) {  // event records: the count gives lines of header or nothing
            i += size_t(e.count);
            f.epochs.push_back(e);
            continue;
        }
        for (int k = 0; k < e.count && i < ls.size(); ++k) {
            const std::string& s = ls[i++];
            SatelliteRecord r;
            r.sat = field(s, 0, 3);
            if (r.sat.size() == 3 && r.sat[1] == ' ')
                r.sat[1] = '0';
            const auto types = f.obsTypes.find(r.sat.empty() ? ' ' : r.sat[0]);
            if (types == f.obsTypes.end()) {
                f.errors.push_back("satellite of a system without types: " + s);
                continue;
            }
            const size_t n = types->second.size();
            if (s.size() > 3 + 16 * n)
                f.errors.push_back("line longer than its types: " + s);
            for (size_t t = 0; t < n; ++t) {
                // F14.3,I1,I1
                ObsValue v;
                const std::string num = field(s, 3 + 16 * t, 14);
                if (num.find('*') != std::string::npos)
                    f.errors.push_back("overflowed field: " + s);
                v.value = real(num);
                if (!blank(num) && !v.value)
                    f.errors.push_back("unreadable value: " + s);
                const std::string lli = field(s, 17 + 16 * t, 1);
                const std::string ssi = field(s, 18 + 16 * t, 1);
                v.lliBlank = blank(lli);
                v.ssiBlank = blank(ssi);
                v.lli = integer(lli).value_or(0);
                v.ssi = integer(ssi).value_or(0);
                r.values.push_back(v);
            }
            e.satellites.push_back(r);
        }
        f.epochs.push_back(e);
    }
    return f;
}

inline NavFile parseNav(const std::string& text)
{
    using namespace detail;
    NavFile f;
    const std::vector<std::string> ls = lines(text);
    size_t i = readHeader(ls, f);
    auto numbers = [](const std::string& line, size_t at, size_t count, std::vector<double>& out) {
        for (size_t k = 0; k < count; ++k)
            out.push_back(real(field(line, at + 19 * k, 19)).value_or(std::nan("")));
    };
    while (i < ls.size()) {
        const std::string& line = ls[i++];
        if (blank(line))
            continue;
        // A1,I2.2,1X,I4,5(1X,I2.2),3D19.12, then lines of 4X,4D19.12
        NavRecord r;
        r.sat = field(line, 0, 3);
        if (r.sat.size() == 3 && r.sat[1] == ' ')
            r.sat[1] = '0';
        r.time = epochTime(line, 4, f.errors);
        r.time.second = integer(field(line, 21, 2)).value_or(0);
        numbers(line, 23, 3, r.values);
        while (i < ls.size() && ls[i].size() > 4 && ls[i].compare(0, 4, "    ") == 0)
            numbers(ls[i++], 4, 4, r.values);
        f.records.push_back(r);
    }
    return f;
}

inline std::string readText(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

inline ObsFile readObs(const std::string& path) { return parseObs(readText(path)); }
inline NavFile readNav(const std::string& path) { return parseNav(readText(path)); }

} // namespace rinexreader
