// RINEX 3.05 (and 2.11) writing, read back by the fixed-column reader of the tests: observation
// round trip with loss-of-lock and signal strength indicators, the header, file names, the
// signals that fill the 2.11 types, and the navigation records of every system.

#include "RinexConverter.h"
#include "RinexNames.h"
#include "RinexNavWriter.h"
#include "RinexObsWriter.h"

#include "../support/rinex2_text.h"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>

#include <unistd.h>

using namespace Kvt::Gnss;
using Opt = std::optional<double>;

namespace {

const GpsTime kStart(2143, 488648.0);  // 2021-02-05 15:44:08 GPST

SatId sat(const std::string& id)
{
    return SatId{*systemFromLetter(id[0]), uint8_t(std::stoi(id.substr(1)))};
}

// One signal of one satellite at one epoch and what the file must say about it.
struct Row {
    int epoch;
    const char* sat;
    const char* code;
    Opt c, l, d, s, lock;
    bool half;
    int lli, ssi;
};

// Epochs 0 and 1 make the header; epoch 2 brings E11 6C, which the header cannot list. Each
// arc's first phase has its loss-of-lock bit.
const Row kRows[] = {
    {0, "G05", "1C", 22489021.337, 118219883.102, -935.21, 45.0, 100.0, false, 1, 7},
    {0, "G05", "2W", 22489025.125, 92119883.5, {}, 30.2, 100.0, false, 1, 5},
    {0, "R07", "1C", 19230264.006, 102941126.006, 2493.573, 51.875, 50.0, false, 1, 8},
    {0, "E11", "1C", 23852258.946, 125344494.094, 2744.293, 12.0, 3.0, true, 3, 2},
    {0, "C19", "2I", 21234567.891, -12345678.9, -1.5, 60.0, 9.0, false, 1, 9},
    {0, "S23", "1C", 38000000.5, {}, {}, 5.0, {}, false, 0, 1},
    {0, "J02", "1C", 37000000.25, 194000000.125, {}, {}, 1.0, false, 1, 0},
    {0, "I05", "5A", 36000000.0, 189000000.0, 12.0, 40.0, 1.0, false, 1, 6},
    {1, "G05", "1C", 22489121.337, 118220383.102, -935.0, 45.0, 20.0, false, 1, 7},  // lock went down
    {1, "G05", "2W", 22489125.125, 92120283.5, {}, 31.0, 130.0, false, 0, 5},
    {1, "G02", "1C", 20000000.0006, 105000000.0, 100.0, 48.0, 1.0, false, 1, 8},    // rounded, not cut
    {1, "R07", "1C", 19230364.006, 102941626.006, 2493.0, 51.0, {}, false, 1, 8},    // lock no longer known
    {1, "E11", "1C", 23852358.946, 125344994.094, 2744.0, 13.0, 33.0, true, 2, 2},
    {2, "G05", "1C", 22489221.337, 118220883.102, -934.0, 44.0, 15.0, true, 3, 7},
    {2, "G05", "2W", 22489225.125, 92120683.5, {}, 31.0, 130.0, false, 0, 5},        // lock the same: no slip
    {2, "R07", "1C", 19230464.006, 102942126.006, 2492.0, 50.0, 5.0, false, 0, 8},    // unknown before: no slip shown
    {2, "E11", "1C", 23852458.946, 125345494.094, 2743.0, 14.0, 63.0, false, 0, 2},
    {2, "E11", "6C", 23852459.1, 101745494.5, {}, 40.0, 63.0, false, 0, 6},          // no column: dropped
};

std::vector<ObservationEpoch> epochsOf(const Row* rows, size_t n)
{
    std::vector<ObservationEpoch> epochs(3);
    for (int k = 0; k < 3; ++k) {
        epochs[size_t(k)].stationId = 2003;
        epochs[size_t(k)].time = kStart.plusSeconds(30.0 * k);
    }
    for (size_t i = 0; i < n; ++i) {
        const Row& r = rows[i];
        auto& sats = epochs[size_t(r.epoch)].satellites;
        if (sats.empty() || sats.back().sat != sat(r.sat))
            sats.push_back({sat(r.sat), r.sat[0] == 'R' ? std::optional<int>(5) : std::nullopt, {}});
        sats.back().observations.push_back(
            {SignalCode{r.code[0], r.code[1]}, r.c, r.l, r.d, r.s, r.lock, r.half});
    }
    return epochs;
}

RinexObsHeader stationHeader()
{
    RinexObsHeader h;
    h.creationDate = "20210205 160000 UTC";
    // Descriptors from a stream: a line feed, control and non-ASCII bytes, and too long.
    h.description = StationDescription{2003, "JAVRINGANT_DM   SCIS", 0, "00740", "SEPT\nPOLARX5\x01\xC3\xA9",
                                       "5.3.2", "3047 and far more than twenty characters"};
    h.position = StationPosition{2003, {2772556.5811, 1246719.2413, 5588449.2320}, 1.234, false};
    h.glonassBiases = GlonassBiases{2003, false, 1.5, std::nullopt, -2.25, 0.0};
    h.leapSeconds = 18;
    return h;
}

struct Written {
    rinexreader::ObsFile file;
    uint64_t dropped;
    std::map<std::string, uint64_t> droppedTypes;
};

Written writeRows()
{
    const std::vector<ObservationEpoch> epochs = epochsOf(kRows, std::size(kRows));
    std::ostringstream out;
    RinexObsWriter writer(out);
    writer.begin(stationHeader(), {epochs[0], epochs[1]});
    writer.write(epochs[2]);
    writer.write(epochs[1]);  // not later than the last: dropped
    EXPECT_EQ(writer.epochsWritten(), 3u);
    EXPECT_EQ(writer.epochsLate(), 1u);
    return {rinexreader::parseObs(out.str()), writer.observationsDropped(), writer.droppedTypes()};
}

} // namespace

TEST(RinexObsTest, EpochsReadBackWithValuesIndicatorsAndOrder)
{
    const Written w = writeRows();
    ASSERT_TRUE(w.file.errors.empty()) << w.file.errors.front();
    ASSERT_EQ(w.file.epochs.size(), 3u);
    for (int k = 0; k < 3; ++k) {
        const rinexreader::ObsEpoch& e = w.file.epochs[size_t(k)];
        EXPECT_EQ(e.time.key() - w.file.epochs[0].time.key(), 30.0 * k);
        std::set<std::string> expectedSats;
        size_t expectedValues = 0;
        for (const Row& r : kRows)
            if (r.epoch == k && std::string(r.code) != "6C") {
                expectedSats.insert(r.sat);
                expectedValues += r.c.has_value() + r.l.has_value() + r.d.has_value() + r.s.has_value();
            }
        std::vector<std::string> sats;
        size_t values = 0;
        for (const auto& s : e.satellites) {
            sats.push_back(s.sat);
            for (const auto& v : s.values)
                values += v.value.has_value();
        }
        // std::set orders by letter; the file by system: G R E S J C I.
        std::vector<std::string> bySystem(expectedSats.begin(), expectedSats.end());
        std::sort(bySystem.begin(), bySystem.end(), [](const auto& a, const auto& b) { return sat(a) < sat(b); });
        EXPECT_EQ(sats, bySystem) << "epoch " << k;
        EXPECT_EQ(e.count, int(sats.size()));
        EXPECT_EQ(values, expectedValues) << "epoch " << k;
    }
    for (const Row& r : kRows) {
        if (std::string(r.code) == "6C")
            continue;
        const rinexreader::ObsEpoch& e = w.file.epochs[size_t(r.epoch)];
        const auto s = std::find_if(e.satellites.begin(), e.satellites.end(), [&](const auto& x) { return x.sat == r.sat; });
        ASSERT_NE(s, e.satellites.end()) << r.sat;
        const std::pair<char, Opt> kinds[] = {{'C', r.c}, {'L', r.l}, {'D', r.d}, {'S', r.s}};
        for (const auto& [kind, expected] : kinds) {
            if (!expected)
                continue;
            const rinexreader::ObsValue* v = w.file.value(*s, std::string{kind} + r.code);
            ASSERT_TRUE(v && v->value) << r.sat << ' ' << kind << r.code;
            EXPECT_NEAR(*v->value, *expected, 0.0005) << r.sat << ' ' << kind << r.code;
            EXPECT_EQ(v->lli, kind == 'L' ? r.lli : 0) << r.sat << ' ' << kind << r.code << " epoch " << r.epoch;
            EXPECT_EQ(v->ssi, kind == 'S' ? 0 : r.ssi) << r.sat << ' ' << kind << r.code;
        }
    }
    EXPECT_EQ(w.dropped, 3u);  // C6C, L6C, S6C of E11
    EXPECT_EQ(w.droppedTypes, (std::map<std::string, uint64_t>{{"E C6C", 1}, {"E L6C", 1}, {"E S6C", 1}}));
}

TEST(RinexObsTest, HeaderListsWhatTheEpochsCarryInEightyColumns)
{
    const rinexreader::ObsFile f = writeRows().file;
    ASSERT_GE(f.header.size(), 3u);
    EXPECT_EQ(f.header.front().label, "RINEX VERSION / TYPE");
    EXPECT_EQ(f.header[1].label, "PGM / RUN BY / DATE");
    EXPECT_EQ(f.header.back().label, "END OF HEADER");
    for (const auto& h : f.header) {
        EXPECT_EQ(h.width, 80u) << h.label;
        for (const char c : h.content)
            EXPECT_TRUE(c >= 0x20 && c < 0x7F) << h.label;
    }
    EXPECT_EQ(f.version, 3.05);
    EXPECT_EQ(f.fileType, 'O');
    EXPECT_EQ(f.system, 'M');

    // Exactly the types that hold a value in the held epochs, each once.
    std::map<char, std::set<std::string>> expected;
    for (const Row& r : kRows)
        if (r.epoch < 2)
            for (const auto& [kind, v] : {std::pair{'C', r.c}, {'L', r.l}, {'D', r.d}, {'S', r.s}})
                if (v)
                    expected[r.sat[0]].insert(std::string{kind} + r.code);
    std::map<char, std::set<std::string>> listed;
    for (const auto& [sys, types] : f.obsTypes) {
        listed[sys] = std::set<std::string>(types.begin(), types.end());
        EXPECT_EQ(listed[sys].size(), types.size()) << sys << " lists a type twice";
    }
    EXPECT_EQ(listed, expected);

    const auto content = [&](const char* label) { return f.find(label) ? f.find(label)->content : std::string("<missing>"); };
    EXPECT_EQ(content("MARKER NAME").substr(0, 4), "2003");
    EXPECT_EQ(content("REC # / TYPE / VERS"), std::string("3047 and far more thSEPT POLARX5???     5.3.2               "));
    EXPECT_EQ(content("ANT # / TYPE").substr(0, 40), "00740               JAVRINGANT_DM   SCIS");
    EXPECT_EQ(content("APPROX POSITION XYZ").substr(0, 42), "  2772556.5811  1246719.2413  5588449.2320");
    EXPECT_EQ(content("ANTENNA: DELTA H/E/N").substr(0, 14), "        1.2340");
    EXPECT_EQ(content("INTERVAL").substr(0, 10), "    30.000");
    EXPECT_EQ(content("TIME OF FIRST OBS").substr(0, 51), "  2021     2     5    15    44    8.0000000     GPS");
    EXPECT_EQ(content("GLONASS SLOT / FRQ #").substr(0, 11), "  1 R07  5 ");
    EXPECT_EQ(content("GLONASS COD/PHS/BIS").substr(0, 52), " C1C    1.500 C1P    0.000 C2C   -2.250 C2P    0.000");
    EXPECT_EQ(content("LEAP SECONDS").substr(0, 6), "    18");
    int shifts = 0;
    for (const auto& h : f.header)
        shifts += h.label == "SYS / PHASE SHIFT";
    int phases = 0;
    for (const auto& [sys, types] : listed)
        for (const auto& t : types)
            phases += t[0] == 'L';
    EXPECT_EQ(shifts, phases);
}

TEST(RinexObsTest, ValuesOutsideTheFieldAreBlankAndSecondsNeverReachSixty)
{
    ObservationEpoch e;
    e.time = GpsTime(2143, 59.99999999);  // rounds to the next minute
    e.satellites.push_back({sat("G01"), std::nullopt,
                            {{SignalCode{'1', 'C'}, 12345678901.0, -1234567890.0, -999999999.0, 4999999999.5, {}, false}}});
    std::ostringstream out;
    RinexObsWriter writer(out);
    writer.begin(RinexObsHeader{}, {e});
    EXPECT_EQ(out.str().find('*'), std::string::npos);
    EXPECT_EQ(writer.valuesBlanked(), 2u);
    const rinexreader::ObsFile f = rinexreader::parseObs(out.str());
    ASSERT_TRUE(f.errors.empty());
    ASSERT_EQ(f.epochs.size(), 1u);
    EXPECT_EQ(f.epochs[0].time.minute, 1);
    EXPECT_EQ(f.epochs[0].time.second, 0.0);
    const auto& v = f.epochs[0].satellites.at(0).values;
    EXPECT_FALSE(v.at(0).value);
    EXPECT_FALSE(v.at(1).value);
    EXPECT_EQ(v.at(2).value, -999999999.0);
    EXPECT_EQ(v.at(3).value, 4999999999.5);  // past 32 bits of millimetres
}

TEST(RinexNamesTest, LongNamesFromMarkerStartSpanAndInterval)
{
    struct Case { RinexFileStation station; double span, interval; const char* obs; const char* nav; };
    const Case cases[] = {
        {{"abcd"}, 86400, 30, "ABCD00XXX_S_20210361544_01D_30S_MO.rnx", "ABCD00XXX_S_20210361544_01D_MN.rnx"},
        {{"2003", 1, 2, "deu", 'R'}, 3600, 1, "200312DEU_R_20210361544_01H_01S_MO.rnx", "200312DEU_R_20210361544_01H_MN.rnx"},
        {{"5"}, 900, 0.2, "000500XXX_S_20210361544_15M_05Z_MO.rnx", "000500XXX_S_20210361544_15M_MN.rnx"},
        {{"ab-cdef"}, 36, 0.01, "AB0C00XXX_S_20210361544_01M_01C_MO.rnx", "AB0C00XXX_S_20210361544_01M_MN.rnx"},
        {{"x"}, 0, 0, "X00000XXX_S_20210361544_00U_00U_MO.rnx", "X00000XXX_S_20210361544_00U_MN.rnx"},
        {{"WTZR"}, 7200 + 1, 300, "WTZR00XXX_S_20210361544_03H_05M_MO.rnx", "WTZR00XXX_S_20210361544_03H_MN.rnx"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(RinexNames::observationFile(c.station, kStart, c.span, c.interval), c.obs);
        EXPECT_EQ(RinexNames::navigationFile(c.station, kStart, c.span), c.nav);
    }
    // Short names: the session is the day's '0', the hour's letter, or the letter and minute.
    struct Short { const char* marker; double period; char type; const char* name; };
    const Short shorts[] = {{"WTZR", 0, 'o', "wtzr0360.21o"}, {"wtzr", 86400, 'n', "wtzr0360.21n"},
                            {"TLSE00FRA", 3600, 'g', "tlse036p.21g"}, {"7", 900, 'o', "0007036p44.21o"}};
    for (const Short& c : shorts)
        EXPECT_EQ(RinexNames::shortName({c.marker}, kStart, c.period, c.type), c.name);
}

// Which signal fills each 2.11 type, satellite by satellite, and what no type can hold.
TEST(RinexObsTest, Version211TypesTakeTheFirstSignalOnTheList)
{
    struct Signal { const char* sat; const char* code; double c, l; };
    const Signal signals[] = {{"G05", "1C", 2.1e7, 1.1e8}, {"G05", "1W", 2.1e7 + 1, 1.1e8 + 1}, {"G05", "2X", 2.1e7 + 2, 0.8e8 + 2},
                              {"G05", "2W", 0, 0.8e8 + 3}, {"G05", "5Q", 2.1e7 + 5, 0.7e8}, {"G07", "1W", 2.2e7 + 1, 1.2e8 + 1},
                              {"G07", "2X", 2.2e7 + 2, 0.9e8 + 2}, {"R07", "1C", 1.9e7, 1.0e8}, {"R07", "1P", 1.9e7 + 1, 1.0e8 + 1},
                              {"C19", "2I", 2.3e7, 1.3e8}};
    ObservationEpoch epoch;
    epoch.time = kStart;
    for (const Signal& s : signals) {
        if (epoch.satellites.empty() || epoch.satellites.back().sat != sat(s.sat))
            epoch.satellites.push_back({sat(s.sat), std::nullopt, {}});
        epoch.satellites.back().observations.push_back(
            {SignalCode{s.code[0], s.code[1]}, s.c ? Opt(s.c) : Opt(), s.l, {}, {}, {}, false});
    }
    RinexObsHeader header;
    header.version = RinexVersion::V2_11;
    header.priority = *RinexSignalPriority::parse("G:1&CW G:2&WX,R:1&PC", nullptr);
    std::ostringstream out;
    RinexObsWriter writer(out);
    writer.begin(header, {epoch});
    const rinexreader::ObsFile f = rinexreader::parseObs(rinex2text::asVersion3Obs(out.str()));
    ASSERT_TRUE(f.errors.empty()) << f.errors.front();
    EXPECT_EQ(f.version, 2.11);
    EXPECT_EQ(f.obsTypes.at('G'), (std::vector<std::string>{"C1", "P1", "L1", "C2", "L2"}));
    struct Want { size_t sat; const char* type; double value; };
    const Want wants[] = {{0, "C1", 2.1e7}, {0, "P1", 2.1e7 + 1}, {0, "L1", 1.1e8}, {0, "C2", 2.1e7 + 2}, {0, "L2", 0.8e8 + 3},
                          {1, "P1", 2.2e7 + 1}, {1, "L1", 1.2e8 + 1}, {1, "L2", 0.9e8 + 2}, {2, "C1", 1.9e7},
                          {2, "P1", 1.9e7 + 1}, {2, "L1", 1.0e8 + 1}};
    ASSERT_EQ(f.epochs.size(), 1u);
    ASSERT_EQ(f.epochs[0].satellites.size(), 3u);  // no BeiDou in 2.11
    for (const Want& w : wants) {
        const rinexreader::ObsValue* v = f.value(f.epochs[0].satellites[w.sat], w.type);
        ASSERT_TRUE(v && v->value) << w.sat << ' ' << w.type;
        EXPECT_DOUBLE_EQ(*v->value, w.value) << w.sat << ' ' << w.type;
    }
    EXPECT_EQ(writer.droppedTypes(), (std::map<std::string, uint64_t>{{"C C2I", 1}, {"C L2I", 1}, {"G C5Q", 1}, {"G L5Q", 1}}));
    // What a list must look like.
    for (const char* bad : {"X:1&C", "G:3&C", "G12&C", "G:1&c", "G:1&", "J:1&C"}) {
        std::string why;
        EXPECT_FALSE(RinexSignalPriority::parse(bad, &why)) << bad;
        EXPECT_FALSE(why.empty()) << bad;
    }
}

namespace {

KeplerEphemeris kepler(const char* id, int message, GpsTime toe)
{
    KeplerEphemeris e;
    e.sat = sat(id);
    e.messageNumber = message;
    e.toc = e.toe = toe;
    e.af0 = -3.57402022928e-04; e.af1 = 1.9554136088e-11; e.af2 = 0;
    e.iode = 42; e.iodc = 298; e.crs = -9.75; e.deltaN = 5.92631828352e-09; e.m0 = -3.09308085935;
    e.cuc = -6.22123479843e-07; e.e = 1.00964752492e-02; e.cus = 4.67151403427e-06; e.sqrtA = 5153.65561295;
    e.cic = -7.07805156708e-08; e.omega0 = 1.89308078868; e.cis = -1.63912773132e-07;
    e.i0 = 0.9280354703; e.crc = 273.34375; e.omega = 0.655348002606; e.omegaDot = -8.50785438628e-09;
    e.idot = -1.17504894551e-10; e.codesOnL2 = 1; e.accuracyIndex = 3; e.health = 0;
    e.tgd1 = -1.07102096081e-08; e.tgd2 = 2.5e-09; e.fitIntervalFlag = 0;
    return e;
}

} // namespace

TEST(RinexNavTest, RecordsOfEverySystemReadBackInTheirOwnScale)
{
    const GpsTime toe(2143, 489600.0);  // 2021-02-05 16:00:00 GPST
    GlonassEphemeris glo;
    glo.sat = sat("R07");
    glo.frequencyChannel = 5;
    glo.toe = GpsTime(2143, 490518.0);  // 16:15:00 UTC
    glo.frameTime = GpsTime(2143, 490488.0);
    glo.tauN = 2.64337286353e-05;
    glo.gammaN = -9.09494701773e-13;
    glo.positionM = {8839984.375, 6809951.66016, -22910064.4531};
    glo.velocityMps = {-2375.82969666, 2059.11350250, -307.349205017};
    glo.accelerationMps2 = {-9.31322574615e-07, -9.31322574615e-07, 2.79396772385e-06};
    glo.health = 0;
    glo.ageDays = 2;

    std::ostringstream out;
    RinexNavWriter writer(out);
    RinexNavHeader header;
    header.leapSeconds = 18;
    writer.begin(header);
    EXPECT_TRUE(writer.write(kepler("G15", 1019, toe)));
    EXPECT_FALSE(writer.write(kepler("G15", 1019, toe)));  // once only
    EXPECT_TRUE(writer.write(kepler("E03", 1046, toe)));
    EXPECT_TRUE(writer.write(kepler("E03", 1045, toe)));   // F/NAV is a record of its own
    EXPECT_TRUE(writer.write(kepler("C19", 1042, toe)));
    EXPECT_TRUE(writer.write(kepler("J02", 1044, toe)));
    EXPECT_TRUE(writer.write(kepler("I05", 1041, toe)));
    EXPECT_TRUE(writer.write(glo));
    EXPECT_EQ(writer.duplicates(), 1u);

    const rinexreader::NavFile f = rinexreader::parseNav(out.str());
    ASSERT_TRUE(f.errors.empty()) << f.errors.front();
    EXPECT_EQ(f.fileType, 'N');
    EXPECT_EQ(f.system, 'M');
    ASSERT_TRUE(f.find("LEAP SECONDS"));
    for (const auto& h : f.header)
        EXPECT_EQ(h.width, 80u);
    ASSERT_EQ(f.records.size(), 7u);

    const KeplerEphemeris k = kepler("G15", 1019, toe);
    const std::vector<std::pair<int, double>> common = {
        {0, k.af0}, {1, k.af1}, {3, 42}, {4, k.crs}, {5, k.deltaN}, {6, k.m0}, {7, k.cuc}, {8, k.e},
        {9, k.cus}, {10, k.sqrtA}, {12, k.cic}, {13, k.omega0}, {14, k.cis}, {15, k.i0}, {16, k.crc},
        {17, k.omega}, {18, k.omegaDot}, {19, k.idot}, {25, k.tgd1}};
    struct Expect { const char* sat; rinexreader::EpochTime time; std::vector<std::pair<int, double>> values; };
    const Expect expected[] = {
        {"G15", {2021, 2, 5, 16, 0, 0}, {{11, 489600}, {20, 1}, {21, 2143}, {23, 5.7}, {26, 298}, {27, 0.999999999999e9}, {28, 4}}},
        {"E03", {2021, 2, 5, 16, 0, 0}, {{11, 489600}, {20, 517}, {21, 2143}, {23, 0.03}, {26, 2.5e-09}}},
        {"E03", {2021, 2, 5, 16, 0, 0}, {{11, 489600}, {20, 258}, {21, 2143}}},
        {"C19", {2021, 2, 5, 15, 59, 46}, {{11, 489586}, {21, 787}, {23, 5.7}, {26, 2.5e-09}, {28, 298}}},
        {"J02", {2021, 2, 5, 16, 0, 0}, {{11, 489600}, {21, 2143}, {22, 1}, {26, 298}, {28, 0}}},
        {"I05", {2021, 2, 5, 16, 0, 0}, {{11, 489600}, {21, 2143}, {23, 5.7}}},
    };
    for (size_t i = 0; i < std::size(expected); ++i) {
        const rinexreader::NavRecord& r = f.records[i];
        const Expect& x = expected[i];
        EXPECT_EQ(r.sat, x.sat);
        EXPECT_EQ(r.time.key(), x.time.key()) << x.sat;
        ASSERT_GE(r.values.size(), 27u) << x.sat;
        std::vector<std::pair<int, double>> all = common;
        all.insert(all.end(), x.values.begin(), x.values.end());
        for (const auto& [index, value] : all)
            EXPECT_NEAR(r.values[size_t(index)], value, std::abs(value) * 1e-11) << x.sat << " value " << index;
    }
    // GLONASS: epoch and frame time in UTC, clock bias as -TauN, kilometres.
    const rinexreader::NavRecord& r = f.records.back();
    EXPECT_EQ(r.sat, "R07");
    EXPECT_EQ(r.time.key(), (rinexreader::EpochTime{2021, 2, 5, 16, 15, 0}.key()));
    const std::vector<std::pair<int, double>> gloValues = {
        {0, -glo.tauN}, {1, glo.gammaN}, {2, 490470}, {3, 8839.984375}, {4, -2.37582969666}, {5, -9.31322574615e-10},
        {6, 0}, {7, 6809.95166016}, {10, 5}, {11, -22910.0644531}, {13, 2.79396772385e-09}, {14, 2},
        {16, 0.999999999999e9}, {17, 15}};
    ASSERT_GE(r.values.size(), 18u);
    for (const auto& [index, value] : gloValues)
        EXPECT_NEAR(r.values[size_t(index)], value, std::abs(value) * 1e-11) << "R07 value " << index;
}

namespace {

struct Folder {
    const std::filesystem::path path = std::filesystem::temp_directory_path()
                                       / ("rinex_converter_" + std::to_string(::getpid()));
    Folder() { std::filesystem::remove_all(path), std::filesystem::create_directory(path); }
    ~Folder() { std::filesystem::remove_all(path); }
};

ObservationEpoch oneSignal(const GpsTime& t, const char* id, double range)
{
    ObservationEpoch e;
    e.stationId = 7;
    e.time = t;
    e.satellites.push_back({sat(id), std::nullopt, {{SignalCode{'1', 'C'}, range, {}, {}, 40.0, {}, false}}});
    return e;
}

} // namespace

TEST(RinexConverterTest, LiveStreamIsOrderedMergedAndANewTypeStartsANewFile)
{
    const Folder dir;
    RinexConverterOptions options;
    options.directory = dir.path.string();
    options.markerName = "wtzr";
    options.lookAheadEpochs = 2;
    options.reorderWindowS = 45.0;
    options.flushEachEpoch = true;
    std::vector<std::string> names;
    {
        RinexConverter converter(options);
        converter.addEphemeris(kepler("G15", 1019, kStart));  // before any epoch: held
        // Instant 2 comes before 1 and in two parts; instant 3 brings a type after the header.
        for (const auto& [k, id] : {std::pair{0, "G05"}, {2, "G05"}, {1, "G05"}, {2, "G07"}, {3, "G05"}, {4, "G05"}}) {
            ObservationEpoch e = oneSignal(kStart.plusSeconds(30.0 * k), id, 2.2e7 + k);
            if (k == 3)
                e.satellites.back().observations.push_back({SignalCode{'5', 'Q'}, 2.2e7, {}, {}, {}, {}, false});
            converter.addEpoch(e);
        }
        names = converter.finish();
        EXPECT_TRUE(converter.error().empty()) << converter.error();
        EXPECT_EQ(converter.drops().total(), 0u);
    }
    ASSERT_EQ(names, (std::vector<std::string>{"WTZR00XXX_S_20210361544_02M_30S_MO.rnx",
                                               "WTZR00XXX_S_20210361545_01M_30S_MO.rnx",
                                               "WTZR00XXX_S_20210361544_03M_MN.rnx"}));
    const rinexreader::ObsFile first = rinexreader::readObs((dir.path / names[0]).string());
    const rinexreader::ObsFile second = rinexreader::readObs((dir.path / names[1]).string());
    EXPECT_TRUE(first.errors.empty() && second.errors.empty());
    ASSERT_EQ(first.epochs.size(), 3u);
    for (size_t k = 0; k < 3; ++k)
        EXPECT_EQ(first.epochs[k].time.key() - first.epochs[0].time.key(), 30.0 * double(k));  // in order, once each
    EXPECT_EQ(first.epochs[2].satellites.size(), 2u);  // both parts of the instant
    ASSERT_EQ(second.epochs.size(), 2u);
    EXPECT_EQ(second.obsTypes.at('G'), (std::vector<std::string>{"C1C", "S1C", "C5Q"}));
    EXPECT_EQ(first.find("MARKER NAME")->content.substr(0, 4), "wtzr");
    EXPECT_EQ(rinexreader::readNav((dir.path / names[2]).string()).records.size(), 1u);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path), {}), 3);  // nothing left under a provisional name
}

// Hourly files over 22:59 to 00:01 of the next day, epochs every 20 s sent partly out of order
// and once far beyond the reorder window: every epoch in exactly one file, of its hour.
TEST(RinexConverterTest, PeriodsCrossingAnHourAndADayLoseAndRepeatNothing)
{
    const Folder dir;
    RinexConverterOptions options;
    options.directory = dir.path.string();
    options.periodS = 3600;
    options.lookAheadEpochs = 3;
    std::vector<std::string> names;
    const GpsTime start(2143, 6 * 86400.0 - 3600.0 + 60.0 * 59);  // Saturday 22:59 GPST, the week's end
    std::vector<int> order;
    for (int k = 0; k < 3 * 60 + 10; ++k)
        order.push_back(k);
    std::swap(order[5], order[6]);
    std::rotate(order.begin() + 100, order.begin() + 101, order.begin() + 103);  // k=100 comes 40 s late
    std::swap(order[150], order[170]);  // 400 s late: a file of its own
    {
        RinexConverter converter(options);
        for (const int k : order)
            converter.addEpoch(oneSignal(start.plusSeconds(20.0 * k), "G05", 2.2e7 + k));
        names = converter.finish();
        EXPECT_TRUE(converter.error().empty()) << converter.error();
        EXPECT_EQ(converter.drops().total(), 0u);
    }
    std::multiset<double> seen;
    for (const std::string& name : names) {
        const rinexreader::ObsFile f = rinexreader::readObs((dir.path / name).string());
        const std::string hour = name.substr(12, 11);
        for (const auto& e : f.epochs) {
            EXPECT_EQ(hour, (std::to_string(e.time.year) + "0" + std::to_string(31 + e.time.day)
                             + (e.time.hour < 10 ? "0" : "") + std::to_string(e.time.hour) + "00"))
                << name;
            seen.insert(e.time.key());
        }
        EXPECT_NE(name.find("_01H_20S_MO"), std::string::npos) << name;  // a late epoch's file has a suffix
    }
    EXPECT_EQ(seen.size(), order.size());
    EXPECT_EQ(std::set<double>(seen.begin(), seen.end()).size(), order.size());
}

TEST(RinexConverterTest, APlantedLinkIsReplacedNotFollowed)
{
    const Folder dir;
    const auto victim = dir.path / "victim";
    { std::ofstream(victim) << "keep"; }
    const std::string name = "0007" "00XXX_S_20210361544_01M_30S_MO.rnx";
    std::filesystem::create_symlink(victim, dir.path / name);
    RinexConverterOptions options;
    options.directory = dir.path.string();
    {
        RinexConverter converter(options);
        converter.survey(oneSignal(kStart, "G05", 2.2e7));
        converter.survey(oneSignal(kStart.plusSeconds(30), "G05", 2.2e7));
        converter.addEpoch(oneSignal(kStart, "G05", 2.2e7));
        converter.addEpoch(oneSignal(kStart.plusSeconds(30), "G05", 2.2e7));
        EXPECT_EQ(converter.finish(), std::vector<std::string>{name});
    }
    std::ifstream in(victim);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "keep");
    EXPECT_FALSE(std::filesystem::is_symlink(dir.path / name));
}
