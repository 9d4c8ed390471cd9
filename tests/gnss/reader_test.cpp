// The RINEX readers beyond what the round trip through RINEX covers: RINEX 2.11 navigation and
// observation files read as their 3.xx twins, and malformed files refused at the right place.

#include "RinexNavReader.h"
#include "RinexNavWriter.h"

#include <gtest/gtest.h>

#include <sstream>

using namespace Kvt::Gnss;

namespace {

KeplerEphemeris gpsEphemeris()
{
    KeplerEphemeris k;
    k.sat = {System::Gps, 15};
    k.messageNumber = 1019;
    k.toc = GpsTime(2143, 489600);
    k.toe = GpsTime(2143, 496800);  // two hours on: toc and toe are kept apart
    k.week = 2143;
    k.af0 = -3.5e-4, k.af1 = 1.9e-11, k.crs = -9.75, k.crc = 273.3, k.cuc = -6.2e-7, k.cis = -1.6e-7;
    k.deltaN = 5.9e-9, k.m0 = -3.09, k.omega0 = 1.89, k.i0 = 0.928, k.omega = 0.655, k.omegaDot = -8.5e-9;
    k.idot = -1.2e-10, k.e = 0.0101, k.sqrtA = 5153.6, k.iode = 42, k.iodc = 298, k.tgd1 = -1.07e-8;
    k.accuracyIndex = 3, k.codesOnL2 = 1, k.fitIntervalFlag = 1;
    k.transmissionTime = k.toc.plusSeconds(-30);
    return k;
}

std::string written(const RinexNavigationRecord& r)
{
    std::ostringstream out;
    RinexNavWriter w(out);
    RinexNavHeader h;
    h.creationDate = "20210205 160000 UTC";
    w.begin(h);
    std::visit([&w](const auto& e) { w.write(e); }, r);
    return out.str();
}

RinexNavigationRecord readOne(const std::string& text)
{
    std::istringstream in(text);
    RinexNavigationReader reader(in, "nav");
    RinexNavigationRecord r, more;
    EXPECT_TRUE(reader.next(r));
    EXPECT_FALSE(reader.next(more));
    return r;
}

// The first error reading `text` as `read` does, as (line, column); (0, 0) if none.
template <class Read>
std::pair<int, int> failure(const std::string& text, Read read)
{
    try {
        std::istringstream in(text);
        read(in);
    } catch (const RinexError& e) {
        EXPECT_EQ(e.file(), "bad.rnx");
        return {e.line(), e.column()};
    }
    return {0, 0};
}

} // namespace

TEST(RinexNavigationReader, ReadsVersionTwoLikeVersionThreeAndRefusesInPlace)
{
    const std::string three = written(gpsEphemeris());
    const std::size_t record = three.find("G15 ");
    // The same record as a 2.11 GPS file: a two-digit year, three blanks before orbit lines.
    std::istringstream lines(three.substr(record));
    std::string two = "     2.11           N: GPS NAV DATA                         RINEX VERSION / TYPE\n"
                      "                                                            END OF HEADER\n";
    std::string line;
    for (bool first = true; std::getline(lines, line); first = false)
        two += first ? "15 21  2  5 16  0  0.0" + line.substr(23) + "\n" : line.substr(1) + "\n";
    const auto a = std::get<KeplerEphemeris>(readOne(three));
    const auto b = std::get<KeplerEphemeris>(readOne(two));
    EXPECT_EQ(written(a), written(b));
    EXPECT_EQ(b.toc, GpsTime::fromCalendar({2021, 2, 5, 16, 0, 0}));

    struct Case { std::string text; int line, column; };
    std::string noIode = three, badNumber = three, badSat = three, badVersion = three, wrongType = three;
    noIode.replace(record + 81 + 4, 19, std::string(19, ' '));
    badNumber.replace(record + 23 + 5, 1, "x");
    badSat[record] = 'X';
    badVersion.replace(5, 4, "3.01");
    wrongType[20] = 'O';
    const Case cases[] = {
        {noIode, 5, 5}, {badNumber, 4, 24}, {badSat, 4, 1}, {badVersion, 1, 1}, {wrongType, 1, 21},
        {three.substr(0, three.size() - 60), 10, 1},                   // ends inside the record
        {three.substr(0, three.find("  END OF HEADER") - 58), 2, 1},  // no END OF HEADER
    };
    for (const Case& c : cases)
        EXPECT_EQ(failure(c.text, [](std::istream& in) { RinexNavigationReader::readAll(in, "bad.rnx"); }),
                  std::make_pair(c.line, c.column)) << c.text;
}

namespace {

// One observation file in both versions: thirteen satellites (a continuation of the RINEX 2
// satellite list), two values lines per satellite, a loss of lock and a half cycle on L2.
std::pair<std::string, std::string> observationFiles()
{
    const auto label = [](std::string content, const char* name) { return content.append(60 - content.size(), ' ') + name + "\n"; };
    std::string two = label("     2.11           OBSERVATION DATA    M", "RINEX VERSION / TYPE")
                    + label("     6    C1    P2    L1    L2    S1    D2", "# / TYPES OF OBSERV") + label("", "END OF HEADER");
    std::string three = label("     3.04           OBSERVATION DATA    M", "RINEX VERSION / TYPE")
                      + label("G    6 C1C C2W L1C L2W S1C D2W", "SYS / # / OBS TYPES")
                      + label("R    6 C1C C2P L1C L2P S1C D2P", "SYS / # / OBS TYPES") + label("", "END OF HEADER");
    char text[100];
    for (int epoch = 0; epoch < 2; ++epoch) {
        std::snprintf(text, sizeof text, " 21 02 05 16 00 %02d.0000000  0 13", epoch);
        two += text;
        std::snprintf(text, sizeof text, "> 2021 02 05 16 00 %02d.0000000  0 13\n", epoch);
        three += text;
        std::string values;
        for (int s = 0; s < 13; ++s) {
            std::snprintf(text, sizeof text, "%c%02d", s < 10 ? 'G' : 'R', s < 10 ? s + 1 : s - 9);
            two += (s == 12 ? "\n" + std::string(32, ' ') : "") + text;
            three += text;
            const double base = 2.0e7 + s * 1000.0 + epoch;
            const char lli = s == 3 && epoch == 1 ? '1' : s == 4 ? '2' : ' ';
            std::snprintf(text, sizeof text, "%14.3f  %14.3f  %14.3f  %14.3f%c %14.3f  ", base, base + 2.5, base * 5.25,
                          base * 4.09, lli, 40.0 + s);
            values += text + std::string("\n");
            three += text;
            std::snprintf(text, sizeof text, "%14.3f  ", -700.0 + s);
            values += text + std::string("\n");
            three += text + std::string("\n");
        }
        two += "\n" + values;
    }
    return {two, three};
}

std::vector<ObservationEpoch> epochsOf(const std::string& text)
{
    std::istringstream in(text);
    RinexObservationReader reader(in, "obs");
    std::vector<ObservationEpoch> epochs;
    for (ObservationEpoch e; reader.next(e);)
        epochs.push_back(e);
    return epochs;
}

// Each signal of each epoch as a line of its values, -1 where absent.
std::vector<std::string> describe(const std::vector<ObservationEpoch>& epochs)
{
    std::vector<std::string> out;
    for (const auto& e : epochs)
        for (const auto& s : e.satellites)
            for (const auto& o : s.observations) {
                std::ostringstream t;
                t.precision(15);
                t << e.time.toIso() << ' ' << s.sat.toString() << ' ' << o.code.toString() << ' ' << o.pseudorangeM.value_or(-1)
                  << ' ' << o.phaseCycles.value_or(-1) << ' ' << o.dopplerHz.value_or(-1) << ' ' << o.cn0DbHz.value_or(-1)
                  << ' ' << o.lockTimeS.value_or(-1) << ' ' << o.halfCycleAmbiguity;
                out.push_back(t.str());
            }
    return out;
}

} // namespace

TEST(RinexObservationReader, ReadsVersionTwoAsTheSignalsOfVersionThree)
{
    const auto [two, three] = observationFiles();
    const std::vector<ObservationEpoch> a = epochsOf(two);
    EXPECT_EQ(describe(a).size(), 2u * 13 * 2);  // two epochs, thirteen satellites, two signals
    EXPECT_EQ(describe(a), describe(epochsOf(three)));
    // A satellite of a system the file has no types for, an unreadable value: refused in place.
    std::string alien = two, bad = two;
    alien.replace(alien.find("G02"), 1, "J");
    bad.replace(bad.rfind("40.000"), 1, "x");
    const auto read = [](std::istream& in) {
        RinexObservationReader reader(in, "bad.rnx");
        for (ObservationEpoch e; reader.next(e);) {
        }
    };
    EXPECT_EQ(failure(alien, read), std::make_pair(4, 36));
    EXPECT_EQ(failure(bad, read), std::make_pair(34, 65));
}
