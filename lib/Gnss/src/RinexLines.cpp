#include "RinexLines.h"

#include "RinexReader.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace Kvt::Gnss::Rinex {

std::string trimmed(const std::string& s)
{
    const auto b = s.find_first_not_of(' ');
    if (b == std::string::npos)
        return {};
    return s.substr(b, s.find_last_not_of(' ') - b + 1);
}

std::string columns(const std::string& line, int first, int width)
{
    const std::size_t from = std::size_t(first - 1);
    if (from >= line.size())
        return {};
    return line.substr(from, std::size_t(width));
}

bool LineReader::read(std::string& line)
{
    if (!std::getline(mIn, line))
        return false;
    ++mLine;
    if (!line.empty() && line.back() == '\r')
        line.pop_back();
    return true;
}

void LineReader::fail(int column, const std::string& reason) const
{
    throw RinexError(mFile, mLine, column, reason);
}

std::optional<double> LineReader::optionalNumber(const std::string& line, int first, int width, const char* what) const
{
    const std::string field = trimmed(columns(line, first, width));
    if (field.empty())
        return std::nullopt;
    std::string text = field;
    std::replace(text.begin(), text.end(), 'D', 'E');  // Fortran exponents
    std::replace(text.begin(), text.end(), 'd', 'e');
    char* end = nullptr;
    const double v = std::strtod(text.c_str(), &end);
    if (end != text.c_str() + text.size() || !std::isfinite(v))
        fail(first, std::string("not a number for ") + what + ": '" + field + "'");
    return v;
}

double LineReader::number(const std::string& line, int first, int width, const char* what) const
{
    const std::optional<double> v = optionalNumber(line, first, width, what);
    if (!v)
        fail(first, std::string("missing ") + what);
    return *v;
}

int LineReader::integer(const std::string& line, int first, int width, const char* what, int min, int max) const
{
    const double v = number(line, first, width, what);
    if (v != std::floor(v) || v < min || v > max)
        fail(first, std::string(what) + " must be a whole number from " + std::to_string(min) + " to "
                        + std::to_string(max) + ": '" + trimmed(columns(line, first, width)) + "'");
    return int(v);
}

} // namespace Kvt::Gnss::Rinex
