#pragma once
// Reading RINEX text line by line in fixed columns, with errors that name the file, the line,
// the column and the reason. Shared by the observation and navigation readers.

#include <istream>
#include <optional>
#include <string>

namespace Kvt::Gnss::Rinex {

std::string trimmed(const std::string& s);
// Columns [first, first + width) of a line (1-based first), cut short past its end.
std::string columns(const std::string& line, int first, int width);

class LineReader {
public:
    LineReader(std::istream& in, std::string fileName) : mIn(in), mFile(std::move(fileName)) {}
    // The next line without its line end; false at the end of the input.
    bool read(std::string& line);
    int line() const { return mLine; }
    const std::string& file() const { return mFile; }
    [[noreturn]] void fail(int column, const std::string& reason) const;
    // A number in columns [first, first + width) (Fortran D exponents read): nothing where blank.
    std::optional<double> optionalNumber(const std::string& line, int first, int width, const char* what) const;
    double number(const std::string& line, int first, int width, const char* what) const;
    // A whole number in range, or a failure naming `what`.
    int integer(const std::string& line, int first, int width, const char* what, int min, int max) const;

private:
    std::istream& mIn;
    std::string mFile;
    int mLine = 0;
};

} // namespace Kvt::Gnss::Rinex
