// The RINEX navigation reader: what the writer prints comes back as the same orbit, RINEX 2.11
// records read as their 3.xx twins, and malformed files are refused at the right place.

#include "RinexNavReader.h"
#include "RinexNavWriter.h"

#include <gtest/gtest.h>

#include <sstream>

using namespace Kvt::Gnss;

namespace {

KeplerEphemeris keplerOf(System system, int number, int messageNumber)
{
    KeplerEphemeris k;
    k.sat = {system, uint8_t(number)};
    k.messageNumber = messageNumber;
    k.toc = GpsTime(2143, 489600);
    k.toe = GpsTime(2143, 496800);  // two hours on: toc and toe are kept apart
    k.week = system == System::BeiDou ? 2143 - kBdtWeekOffset
           : system == System::Galileo || system == System::NavIC ? 2143 - kGstWeekOffset : 2143;
    k.af0 = -3.5e-4, k.af1 = 1.9e-11, k.af2 = 1e-18;
    k.crs = -9.75, k.crc = 273.3, k.cuc = -6.2e-7, k.cus = 4.6e-6, k.cic = -7.1e-8, k.cis = -1.6e-7;
    k.deltaN = 5.9e-9, k.m0 = -3.09, k.omega0 = 1.89, k.i0 = 0.928, k.omega = 0.655;
    k.omegaDot = -8.5e-9, k.idot = -1.2e-10, k.e = 0.0101, k.sqrtA = 5153.6;
    k.iode = 42, k.tgd1 = -1.07e-8;
    k.accuracyIndex = system == System::Galileo ? 107 : 3;
    if (system == System::Gps || system == System::Qzss || system == System::BeiDou)
        k.iodc = system == System::BeiDou ? 7 : 298;
    if (system == System::Gps || system == System::Qzss)
        k.codesOnL2 = 1, k.fitIntervalFlag = 1, k.health = 0;
    if (system == System::Gps)
        k.l2pDataFlag = 1;
    if (system == System::Galileo || system == System::BeiDou)
        k.tgd2 = messageNumber == 1045 ? 0 : 2.8e-9, k.health = messageNumber == 1045 ? 0x30 : 0x183;
    if (system == System::Galileo)
        k.dataSources = messageNumber == 1045 ? 0x102 : 0x205;
    k.transmissionTime = k.toc.plusSeconds(-30);
    return k;
}

std::string written(const RinexNavigationRecord& r, bool version304)
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
    RinexNavigationRecord r;
    EXPECT_TRUE(reader.next(r));
    RinexNavigationRecord more;
    EXPECT_FALSE(reader.next(more));
    return r;
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
    g.tauN = 2.6e-5, g.gammaN = -9.1e-13;
    g.positionM = {8839984.375, 6809951.66, -22910064.45};
    g.velocityMps = {-2375.8, 2059.1, -307.3};
    g.accelerationMps2 = {-9.3e-7, 0, 2.8e-6};
    g.health = 1, g.ageDays = 5;
    g.deltaTauNS = -2.8e-9, g.accuracyIndexFt = 2;
    g.flags = GlonassEphemeris::Flags{3, 2, 1, 0, 1, 1, 1, 1, true};

    const std::vector<RinexNavigationRecord> cases = {
        keplerOf(System::Gps, 15, 1019),     keplerOf(System::Qzss, 1, 1044),
        keplerOf(System::Galileo, 3, 1046),  keplerOf(System::Galileo, 3, 1045),
        keplerOf(System::BeiDou, 11, 1042),  keplerOf(System::NavIC, 5, 1041),
        g,
    };
    for (const bool v304 : {false, true})
        for (const RinexNavigationRecord& c : cases) {
            const std::string text = written(c, v304);
            const RinexNavigationRecord back = readOne(text);
            ASSERT_EQ(back.index(), c.index());
            // Every printed value the same, and what the print leaves implicit.
            EXPECT_EQ(written(back, v304), text);
            if (const auto* k = std::get_if<KeplerEphemeris>(&c)) {
                const auto& b = std::get<KeplerEphemeris>(back);
                EXPECT_EQ(b.messageNumber, k->messageNumber) << text;
                EXPECT_EQ(b.week, k->week) << text;
                EXPECT_EQ(b.toc, k->toc) << text;
                EXPECT_EQ(b.toe, k->toe) << text;
                EXPECT_EQ(b.accuracyIndex, k->accuracyIndex) << text;
                EXPECT_EQ(b.fitIntervalFlag, k->fitIntervalFlag) << text;
                EXPECT_EQ(b.transmissionTime, k->transmissionTime) << text;
            } else {
                const auto& b = std::get<GlonassEphemeris>(back);
                EXPECT_EQ(b.tbIndex, g.tbIndex);
                EXPECT_EQ(b.toe, g.toe);
                EXPECT_EQ(b.frameTime, g.frameTime);
                EXPECT_EQ(b.flags.has_value(), !v304);
                EXPECT_EQ(b.accuracyIndexFt.has_value(), !v304);
            }
        }
}

TEST(RinexNavigationReader, ReadsVersionTwoLikeVersionThree)
{
    const std::string gps3 = written(keplerOf(System::Gps, 15, 1019), false);
    // The same record as a 2.11 GPS file: a two-digit year, three blanks before orbit lines.
    std::istringstream lines(gps3.substr(gps3.find("G15 ")));
    std::string two = "     2.11           N: GPS NAV DATA                         RINEX VERSION / TYPE\n"
                      "                                                            END OF HEADER\n";
    std::string line;
    for (bool first = true; std::getline(lines, line); first = false)
        two += first ? "15 21  2  5 16  0  0.0" + line.substr(23) + "\n" : line.substr(1) + "\n";
    const auto a = std::get<KeplerEphemeris>(readOne(gps3));
    const auto b = std::get<KeplerEphemeris>(readOne(two));
    EXPECT_EQ(written(a, false), written(b, false));
    EXPECT_EQ(b.toc, GpsTime::fromCalendar({2021, 2, 5, 16, 0, 0}));
}

TEST(RinexNavigationReader, NamesTheLineAndColumnOfWhatItRefuses)
{
    const std::string good = written(keplerOf(System::Gps, 15, 1019), false);
    const std::size_t record = good.find("G15 ");
    const int recordLine = 4;  // after the three header lines
    struct Case { std::string text; int line, column; };
    std::string noIode = good, badNumber = good, badSat = good, badVersion = good, wrongType = good;
    noIode.replace(record + 81 + 4, 19, std::string(19, ' '));
    badNumber.replace(record + 23 + 5, 1, "x");
    badSat[record] = 'X';
    badVersion.replace(5, 4, "3.01");
    wrongType[20] = 'O';
    const Case cases[] = {
        {noIode, recordLine + 1, 5},
        {badNumber, recordLine, 24},
        {badSat, recordLine, 1},
        {badVersion, 1, 1},
        {wrongType, 1, 21},
        {good.substr(0, good.size() - 60), recordLine + 6, 1},  // ends inside the record
        {good.substr(0, good.find("  END OF HEADER") - 58), 2, 1},  // no END OF HEADER
    };
    for (const Case& c : cases) {
        try {
            std::istringstream in(c.text);
            RinexNavigationReader reader(in, "bad.rnx");
            RinexNavigationRecord r;
            while (reader.next(r)) {
            }
            ADD_FAILURE() << "read: " << c.text;
        } catch (const RinexError& e) {
            EXPECT_EQ(e.file(), "bad.rnx");
            EXPECT_EQ(std::make_pair(e.line(), e.column()), std::make_pair(c.line, c.column)) << e.what();
        }
    }
}

namespace {

// One observation file in both versions: thirteen satellites (a continuation of the RINEX 2
// satellite list), two values lines per satellite, a loss of lock and a half cycle on L2.
std::pair<std::string, std::string> observationFiles()
{
    const auto label = [](std::string content, const char* name) {
        content.resize(60, ' ');
        return content + name + "\n";
    };
    std::string two = label("     2.11           OBSERVATION DATA    M", "RINEX VERSION / TYPE")
                    + label("     6    C1    P2    L1    L2    S1    D2", "# / TYPES OF OBSERV")
                    + label("", "END OF HEADER");
    std::string three = label("     3.04           OBSERVATION DATA    M", "RINEX VERSION / TYPE")
                      + label("G    6 C1C C2W L1C L2W S1C D2W", "SYS / # / OBS TYPES")
                      + label("R    6 C1C C2P L1C L2P S1C D2P", "SYS / # / OBS TYPES")
                      + label("", "END OF HEADER");
    for (int epoch = 0; epoch < 2; ++epoch) {
        char line[100];
        std::snprintf(line, sizeof line, " 21 02 05 16 00 %02d.0000000  0 13", epoch);
        two += line;
        std::snprintf(line, sizeof line, "> 2021 02 05 16 00 %02d.0000000  0 13\n", epoch);
        three += line;
        for (int s = 0; s < 13; ++s) {
            std::snprintf(line, sizeof line, "%c%02d", s < 10 ? 'G' : 'R', s < 10 ? s + 1 : s - 9);
            two += (s == 12 ? "\n" + std::string(32, ' ') : "") + line;
        }
        two += "\n";
        for (int s = 0; s < 13; ++s) {
            const double base = 2.0e7 + s * 1000.0 + epoch;
            const char* lli = s == 3 && epoch == 1 ? "1" : s == 4 ? "2" : " ";
            char v[6][17];
            std::snprintf(v[0], 17, "%14.3f  ", base);
            std::snprintf(v[1], 17, "%14.3f  ", base + 2.5);
            std::snprintf(v[2], 17, "%14.3f  ", base * 5.25);
            std::snprintf(v[3], 17, "%14.3f%s ", base * 4.09, lli);
            std::snprintf(v[4], 17, "%14.3f  ", 40.0 + s);
            std::snprintf(v[5], 17, "%14.3f  ", -700.0 + s);
            std::snprintf(line, sizeof line, "%c%02d", s < 10 ? 'G' : 'R', s < 10 ? s + 1 : s - 9);
            three += line + std::string(v[0]) + v[1] + v[2] + v[3] + v[4] + v[5] + "\n";
            two += std::string(v[0]) + v[1] + v[2] + v[3] + v[4] + "\n" + v[5] + "\n";
        }
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
        ASSERT_EQ(a[e].satellites.size(), b[e].satellites.size());
        for (std::size_t s = 0; s < a[e].satellites.size(); ++s) {
            const SatelliteObservations &x = a[e].satellites[s], &y = b[e].satellites[s];
            EXPECT_EQ(x.sat, y.sat);
            ASSERT_EQ(x.observations.size(), y.observations.size()) << x.sat.toString();
            for (std::size_t o = 0; o < x.observations.size(); ++o) {
                const Observation &p = x.observations[o], &q = y.observations[o];
                const std::string what = x.sat.toString() + " " + p.code.toString();
                EXPECT_EQ(p.code, q.code) << what;
                EXPECT_EQ(p.pseudorangeM, q.pseudorangeM) << what;
                EXPECT_EQ(p.phaseCycles, q.phaseCycles) << what;
                EXPECT_EQ(p.dopplerHz, q.dopplerHz) << what;
                EXPECT_EQ(p.cn0DbHz, q.cn0DbHz) << what;
                EXPECT_EQ(p.lockTimeS, q.lockTimeS) << what;
                EXPECT_EQ(p.halfCycleAmbiguity, q.halfCycleAmbiguity) << what;
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
    for (const auto& [text, column] : {std::make_pair(alien, 36), std::make_pair(bad, 65)}) {
        try {
            epochsOf(text);
            ADD_FAILURE() << "read";
        } catch (const RinexError& e) {
            EXPECT_EQ(e.column(), column) << e.what();
        }
    }
}
