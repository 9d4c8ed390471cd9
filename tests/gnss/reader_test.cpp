// The RINEX readers beyond what the round trip through RINEX covers: QZSS, NavIC and the
// fourth GLONASS orbit line, RINEX 2.11 navigation and observation files read as their 3.xx
// twins, and malformed files refused at the right place.

#include "RinexNavReader.h"
#include "RinexNavWriter.h"

#include <gtest/gtest.h>

#include <sstream>

using namespace Kvt::Gnss;

namespace {

KeplerEphemeris keplerOf(System system, int number)
{
    KeplerEphemeris k;
    k.sat = {system, uint8_t(number)};
    k.messageNumber = system == System::Qzss ? 1044 : system == System::NavIC ? 1041 : 1019;
    k.toc = GpsTime(2143, 489600);
    k.toe = GpsTime(2143, 496800);  // two hours on: toc and toe are kept apart
    k.week = system == System::NavIC ? 2143 - kGstWeekOffset : 2143;
    k.af0 = -3.5e-4, k.af1 = 1.9e-11, k.crs = -9.75, k.crc = 273.3, k.cuc = -6.2e-7, k.cis = -1.6e-7;
    k.deltaN = 5.9e-9, k.m0 = -3.09, k.omega0 = 1.89, k.i0 = 0.928, k.omega = 0.655, k.omegaDot = -8.5e-9;
    k.idot = -1.2e-10, k.e = 0.0101, k.sqrtA = 5153.6, k.iode = 42, k.tgd1 = -1.07e-8, k.accuracyIndex = 3;
    k.iodc = system == System::NavIC ? 0 : 298;
    k.codesOnL2 = system == System::NavIC ? 0 : 1;
    k.fitIntervalFlag = system == System::NavIC ? 0 : 1;
    k.transmissionTime = k.toc.plusSeconds(-30);
    return k;
}

std::string written(const RinexNavigationRecord& r, bool version304 = false)
{
    std::ostringstream out;
    RinexNavWriter w(out);
    RinexNavHeader h;
    h.creationDate = "20210205 160000 UTC";
    h.version304 = version304;
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

TEST(RinexNavigationReader, ReadsWhatTheWriterPrints)
{
    GlonassEphemeris g;
    g.sat = {System::Glonass, 7};
    g.frequencyChannel = 5;
    g.toe = GpsTime::fromUtc({2021, 2, 5, 23, 45, 0});  // 02:45 in Moscow: tb 11, the next day
    g.tbIndex = 11;
    g.frameTime = g.toe.plusSeconds(-900);
    g.tauN = 2.6e-5, g.gammaN = -9.1e-13, g.health = 1, g.ageDays = 5;
    g.positionM = {8839984.375, 6809951.66, -22910064.45};
    g.velocityMps = {-2375.8, 2059.1, -307.3};
    g.deltaTauNS = -2.8e-9, g.accuracyIndexFt = 2;
    g.flags = GlonassEphemeris::Flags{3, 2, 1, 0, 1, 1, 1, 1, true};
    for (const bool v304 : {false, true})
        for (const RinexNavigationRecord& c : {RinexNavigationRecord(keplerOf(System::Qzss, 1)),
                                               RinexNavigationRecord(keplerOf(System::NavIC, 5)),
                                               RinexNavigationRecord(g)}) {
            const std::string text = written(c, v304);
            const RinexNavigationRecord back = readOne(text);
            ASSERT_EQ(back.index(), c.index());
            EXPECT_EQ(written(back, v304), text);  // every printed value, and what it implies:
            if (const auto* k = std::get_if<KeplerEphemeris>(&c)) {
                const auto& b = std::get<KeplerEphemeris>(back);
                EXPECT_EQ(std::make_tuple(b.messageNumber, b.week, b.toc, b.toe, b.fitIntervalFlag, b.transmissionTime),
                          std::make_tuple(k->messageNumber, k->week, k->toc, k->toe, k->fitIntervalFlag, k->transmissionTime));
            } else {
                const auto& b = std::get<GlonassEphemeris>(back);
                EXPECT_EQ(std::make_tuple(b.tbIndex, b.toe, b.frameTime), std::make_tuple(g.tbIndex, g.toe, g.frameTime));
                EXPECT_EQ(b.flags.has_value() && b.accuracyIndexFt.has_value(), !v304);
            }
        }
}

TEST(RinexNavigationReader, ReadsVersionTwoLikeVersionThreeAndRefusesInPlace)
{
    const std::string three = written(keplerOf(System::Gps, 15));
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

} // namespace

TEST(RinexObservationReader, ReadsVersionTwoAsTheSignalsOfVersionThree)
{
    const auto [two, three] = observationFiles();
    const std::vector<ObservationEpoch> a = epochsOf(two), b = epochsOf(three);
    ASSERT_EQ(a.size(), 2u);
    ASSERT_EQ(a.size(), b.size());
    for (std::size_t e = 0; e < a.size(); ++e) {
        EXPECT_EQ(a[e].time, b[e].time);
        ASSERT_EQ(a[e].satellites.size(), 13u);
        for (std::size_t s = 0; s < a[e].satellites.size(); ++s) {
            const SatelliteObservations &x = a[e].satellites[s], &y = b[e].satellites.at(s);
            EXPECT_EQ(x.sat, y.sat);
            ASSERT_EQ(x.observations.size(), y.observations.size()) << x.sat.toString();
            for (std::size_t o = 0; o < x.observations.size(); ++o) {
                const Observation &p = x.observations[o], &q = y.observations[o];
                EXPECT_EQ(std::make_tuple(p.code, p.pseudorangeM, p.phaseCycles, p.dopplerHz, p.cn0DbHz, p.lockTimeS, p.halfCycleAmbiguity),
                          std::make_tuple(q.code, q.pseudorangeM, q.phaseCycles, q.dopplerHz, q.cn0DbHz, q.lockTimeS, q.halfCycleAmbiguity))
                    << x.sat.toString() << " " << p.code.toString();
            }
        }
    }
    // G04 lost lock on L2 at the second epoch; G05 has a half-cycle ambiguity there.
    EXPECT_EQ(a[1].satellites[3].observations.back().lockTimeS, 0.0);
    EXPECT_EQ(a[1].satellites[2].observations.back().lockTimeS, 1.0);
    EXPECT_TRUE(a[1].satellites[4].observations.back().halfCycleAmbiguity);
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
