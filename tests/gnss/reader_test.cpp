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
