#pragma once
// RINEX 2.11 text rewritten in the 3.x layout the reader knows, field for field: one list of
// types becomes each system's, an epoch's satellites move from its header to their records, and
// navigation records get their system letter and four-digit year.
// (For the tests: the 2.11 files of ours and of the peer read by the one reader.)

#include "rinex_reader.h"

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace rinex2text {

inline int fullYear(int yy) { return yy < 80 ? 2000 + yy : 1900 + yy; }

inline std::string asVersion3Obs(const std::string& text)
{
    const std::vector<std::string> ls = rinexreader::detail::lines(text);
    std::string out;
    std::vector<std::string> types;
    size_t i = 0;
    for (; i < ls.size(); ++i) {
        const std::string label = rinexreader::detail::trim(rinexreader::detail::field(ls[i], 60, 20));
        if (label == "# / TYPES OF OBSERV") {
            for (size_t k = 0; k < 9; ++k)
                if (const std::string t = rinexreader::detail::trim(rinexreader::detail::field(ls[i], 10 + 6 * k, 2)); !t.empty())
                    types.push_back(t);
            continue;
        }
        if (label == "END OF HEADER") {
            for (const char sys : {'G', 'R', 'E', 'S', 'J', 'C', 'I'}) {
                std::string line(1, sys);
                line += "  " + std::string(3 - std::to_string(types.size()).size(), ' ') + std::to_string(types.size());
                for (size_t k = 0; k < types.size(); ++k) {
                    if (k > 0 && k % 13 == 0) {
                        out += line + std::string(60 - line.size(), ' ') + "SYS / # / OBS TYPES\n";
                        line = std::string(6, ' ');
                    }
                    line += ' ' + types[k] + ' ';
                }
                out += line + std::string(60 - line.size(), ' ') + "SYS / # / OBS TYPES\n";
            }
        }
        out += ls[i] + '\n';
        if (label == "END OF HEADER")
            break;
    }
    const size_t valueLines = (types.size() + 4) / 5;
    for (++i; i < ls.size();) {
        const std::string e = ls[i++] + std::string(32, ' ');
        const int count = std::atoi(e.substr(29, 3).c_str());
        if (e[28] > '1') {  // an event (the peer's new station): lines of header, no observations
            i += size_t(count);
            continue;
        }
        out += "> " + std::to_string(fullYear(std::atoi(e.substr(1, 2).c_str()))) + e.substr(3, 29) + '\n';
        std::string ids = rinexreader::detail::trim(e.substr(32));
        while (int(ids.size()) < 3 * count && i < ls.size())
            ids += rinexreader::detail::trim(rinexreader::detail::field(ls[i++], 32, 36));
        for (int s = 0; s < count; ++s) {
            std::string record = ids.substr(size_t(3 * s), 3);
            for (size_t k = 0; k < valueLines && i < ls.size(); ++k) {
                std::string values = ls[i++];
                if (k + 1 < valueLines)
                    values.resize(80, ' ');
                record += values;
            }
            out += record.substr(0, record.find_last_not_of(' ') + 1) + '\n';
        }
    }
    return out;
}

inline std::string asVersion3Nav(const std::string& text, char system)
{
    std::string out;
    bool body = false;
    for (const std::string& line : rinexreader::detail::lines(text)) {
        if (!body) {
            body = line.find("END OF HEADER") != std::string::npos;
            out += line + '\n';
        } else if (line.compare(0, 3, "   ") == 0) {
            out += ' ' + line + '\n';
        } else if (line.size() > 22) {
            char start[40];
            std::snprintf(start, sizeof start, "%c%02d %04d%s %02d", system, std::atoi(line.substr(0, 2).c_str()),
                          fullYear(std::atoi(line.substr(3, 2).c_str())), line.substr(5, 12).c_str(),
                          std::atoi(line.substr(17, 3).c_str()));
            out += start + line.substr(22) + '\n';
        }
    }
    return out;
}

} // namespace rinex2text
