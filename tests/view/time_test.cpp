// Dating epochs: week rollover, day boundary, GLONASS day of week, BeiDou time, held-back
// epochs, and how MSMs of one instant gather into one epoch. Records are built by hand, as
// the decoder leaves them.

#include "view_support.h"

#include "GnssFormat.h"
#include "RTCM3_units.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <optional>

using namespace Kvt;
using Gnss::GpsTime;
using Nuvrix::_RTCM3_message_t;
using Nuvrix::View::GnssView;
using Nuvrix::View::ViewNotice;

namespace {

// An MSM4 with satellite 1, signal 2.
_RTCM3_message_t msm(int number, uint32_t epochTime, bool more = false, int dayOfWeek = 0)
{
    _RTCM3_message_t r;
    std::memset(&r, 0, sizeof r);
    auto& m = r.Message_Type_1077;
    m.Message_Number = uint16_t(number);
    m.Reference_Station_ID = 7;
    m.Epoch_Time = epochTime;
    m.Day_of_Week = uint8_t(dayOfWeek);
    m.Multiple_Message_Flag = more;
    m.Satellite_Mask = 1ULL << 63;
    m.Signal_Mask = 1u << 30;
    m.Nsat = m.Nsig = m.Ncell = m.Cell_Mask_Length = 1;
    m.Cell_Mask[0] = 1;
    m.MSM_Satellite_Data.Satellite_Rough_Range_Integer_ms[0] = 70;
    m.MSM_Signal_Data.CNR[0] = 40;
    return r;
}

// A 1012 without satellites: only its time of day counts here.
_RTCM3_message_t glonassLegacy(uint32_t timeOfDayMs)
{
    _RTCM3_message_t r;
    std::memset(&r, 0, sizeof r);
    r.Message_Type_1012.Message_Number = 1012;
    r.Message_Type_1012.Epoch_Time = timeOfDayMs;
    return r;
}

_RTCM3_message_t systemParameters(int mjd, int secondOfDayUtc, int leap)
{
    _RTCM3_message_t r;
    std::memset(&r, 0, sizeof r);
    r.Message_Type_1013.Message_Number = 1013;
    r.Message_Type_1013.MJD_Number = uint16_t(mjd);
    r.Message_Type_1013.Seconds_of_Day = uint32_t(secondOfDayUtc);
    r.Message_Type_1013.Leap_Seconds = uint8_t(leap);
    return r;
}

class TimeTest : public ::testing::Test {
protected:
    viewtest::CollectSink sink;
    GnssView view{sink};

    void add(const _RTCM3_message_t& r) { view.add(r); }
    std::vector<GpsTime> times() const
    {
        std::vector<GpsTime> t;
        for (const auto& e : sink.epochs)
            t.push_back(e.time);
        return t;
    }
    size_t notices(ViewNotice::Kind kind) const
    {
        size_t n = 0;
        for (const auto& v : sink.notices)
            if (v.kind == kind)
                n += v.count ? v.count : 1;
        return n;
    }
};

// Streams dated from a hint, across week, day and time scale boundaries.
TEST(Dating, TimesOfEpochsFromAHint)
{
    // Moscow is UTC + 3 h; GPS is UTC + 18 s in 2021.
    const int saturday = 6 * 86400;
    const double wednesday = 3 * 86400 + 21 * 3600 + 17;  // 23:59:59 Moscow on Wednesday
    struct Case { const char* name; GpsTime hint; std::vector<_RTCM3_message_t> records; std::vector<GpsTime> times; };
    const Case cases[] = {
        {"time of week starting again is the next week", {2143, 604000},
         {msm(1074, 604799000), msm(1074, 0), msm(1074, 1000)}, {{2143, 604799}, {2144, 0}, {2144, 1}}},
        {"BDT is 14 s behind, here into the next GPS week", {2143, 604000},
         {msm(1124, 604780000), msm(1124, 604790000)}, {{2143, 604794}, {2144, 4}}},
        // Saturday 23:59:59 and Sunday 00:00:00 Moscow are GPS week 2143; Sunday 02:59:42 starts 2144.
        {"GLONASS day of week wraps at Moscow midnight", {2143, 590000},
         {msm(1084, 86399000, false, 6), msm(1084, 0, false, 0), msm(1084, 10782000, false, 0)},
         {{2143, saturday + 20 * 3600 + 59 * 60 + 59 + 18.0}, {2143, saturday + 21 * 3600 + 18.0}, {2144, 0}}},
        // The hint is Thursday 00:00 GPST, three hours after the first epoch.
        {"GLONASS time of day without a day crosses midnight", {2143, 4 * 86400},
         {glonassLegacy(86399000), glonassLegacy(0), glonassLegacy(1000)},
         {{2143, wednesday}, {2143, wednesday + 1}, {2143, wednesday + 2}}},
    };
    for (const Case& c : cases) {
        viewtest::CollectSink sink;
        GnssView view(sink);
        view.setTimeHint(c.hint);
        for (const _RTCM3_message_t& r : c.records)
            view.add(r);
        std::vector<GpsTime> times;
        for (const auto& e : sink.epochs)
            times.push_back(e.time);
        EXPECT_EQ(times, c.times) << c.name;
    }
}

TEST_F(TimeTest, EpochsNeverDatedAreCountedNotHandedOn)
{
    add(msm(1077, 1000));
    add(msm(1077, 2000));
    view.finish();
    EXPECT_TRUE(sink.epochs.empty());
    EXPECT_EQ(notices(ViewNotice::Kind::Undated), 2u);
}

TEST_F(TimeTest, HoldingSpaceIsBoundedAndItsOverflowReported)
{
    const size_t extra = 3;
    for (size_t i = 0; i < GnssView::kHoldLimit + extra; ++i)
        add(msm(1074, uint32_t(i * 1000)));
    add(systemParameters(59245, 0, 18));  // Sunday 2021-01-31, the start of week 2143
    EXPECT_EQ(notices(ViewNotice::Kind::Dropped), extra);
    ASSERT_EQ(sink.epochs.size(), GnssView::kHoldLimit);
    EXPECT_EQ(sink.epochs.front().time, GpsTime(2143, double(extra)));  // the oldest went
}

_RTCM3_message_t gpsOrbit(int sat, int32_t week, double toe, double toc = -1)
{
    _RTCM3_message_t r;
    std::memset(&r, 0, sizeof r);
    r.Message_Type_1019.Message_Number = 1019;
    r.Message_Type_1019.Satellite_ID = uint8_t(sat);
    r.Message_Type_1019.Week_Number = uint16_t(week % 1024);
    r.Message_Type_1019.t_oe = uint16_t(toe / 16);
    r.Message_Type_1019.t_oc = uint16_t((toc < 0 ? toe : toc) / 16);
    return r;
}

_RTCM3_message_t galileoOrbit(int sat, int32_t gpsWeek, double toe)
{
    _RTCM3_message_t r;
    std::memset(&r, 0, sizeof r);
    r.Message_Type_1045.Message_Number = 1045;
    r.Message_Type_1045.Satellite_ID = uint8_t(sat);
    r.Message_Type_1045.Week_Number = uint16_t(gpsWeek - 1024);
    r.Message_Type_1045.t_oe = uint16_t(toe / 60);
    return r;
}

// The 1013 of a GPS instant, 18 leap seconds.
_RTCM3_message_t systemParametersAt(const GpsTime& t)
{
    const double s = t.secondsSinceEpoch() - 18;
    return systemParameters(44244 + int(s / 86400), int(std::fmod(s, 86400.0)), 18);
}

constexpr double kWeekTow = 300000;  // the epochs' time of week

// Which evidence dates the stream: the stronger wins, a lone orbit waits for another or the
// end, the clock dates only live epochs that agree with it.
TEST(Evidence, EpochsAreDatedByTheStrongestAgreeingEvidence)
{
    struct Case {
        const char* name;
        bool live;
        std::optional<GpsTime> clock, hint;
        std::vector<_RTCM3_message_t> records;
        std::vector<GpsTime> times;
        bool disagreementTold;
        std::vector<GpsTime> orbitTimes = {};  // each orbit keeps its own
    };
    const uint32_t ms = uint32_t(kWeekTow * 1000);
    const Case cases[] = {
        {"a stale GPS orbit sent first dates nothing; Galileo orbits do", false, GpsTime(2300, 100), {},
         {gpsOrbit(5, 2275, kWeekTow + 3600), msm(1074, ms), galileoOrbit(1, 2300, kWeekTow - 1800),
          galileoOrbit(2, 2300, kWeekTow - 1800), msm(1074, ms + 1000)},
         {{2300, kWeekTow}, {2300, kWeekTow + 1}}, true,
         {{2275, kWeekTow + 3600}, {2300, kWeekTow - 1800}, {2300, kWeekTow - 1800}}},
        {"a lone orbit with a 10-bit week in the clock's era dates at the end", false, GpsTime(2310, 100), {},
         {msm(1074, ms), gpsOrbit(3, 2300, kWeekTow + 3600)}, {{2300, kWeekTow}}, false},
        {"an orbit a day from the epochs' time of week dates nothing, even alone", false, GpsTime(2300, 100), {},
         {gpsOrbit(5, 2275, kWeekTow + 86400), msm(1074, ms)}, {}, false},
        {"a GPS orbit with its reference time early in the week after the one sent waits for a date", false,
         GpsTime(2301, 100000), {},
         {gpsOrbit(1, 2300, 7200), msm(1074, 600000000), galileoOrbit(1, 2300, 579960), galileoOrbit(2, 2300, 579960)},
         {{2300, 600000}}, false, {{2300, 579960}, {2301, 7200}, {2300, 579960}}},
        {"the clock dates live epochs that agree with it", true, GpsTime(2300, kWeekTow + 2), {},
         {msm(1074, ms), msm(1074, ms + 1000)}, {{2300, kWeekTow}, {2300, kWeekTow + 1}}, false},
        {"a stale orbit alone does not outweigh the clock on live input", true, GpsTime(2300, kWeekTow + 2), {},
         {msm(1074, ms), gpsOrbit(5, 2275, kWeekTow + 3600), msm(1074, ms + 1000)},
         {{2300, kWeekTow}, {2300, kWeekTow + 1}}, false},
        {"an old stream on live input waits for its 1013", true, GpsTime(2300, kWeekTow + 2), {},
         {msm(1074, 100000000), msm(1074, 100001000), systemParametersAt({1900, 100001})},
         {{1900, 100000}, {1900, 100001}}, true},
        {"the given time outweighs the clock and the stream", true, GpsTime(2300, kWeekTow + 2),
         GpsTime(1900, 100000),
         {msm(1074, 100000000), systemParametersAt({2300, 100000}), msm(1074, 100001000)},
         {{1900, 100000}, {1900, 100001}}, true},
        {"nothing is dated ahead of the clock on live input", true, GpsTime(2300, kWeekTow + 2), {},
         {msm(1074, ms), systemParametersAt({2301, kWeekTow}), msm(1074, ms + 1000)},
         {{2300, kWeekTow}}, true},
    };
    for (const Case& c : cases) {
        viewtest::CollectSink sink;
        GnssView view(sink);
        view.setLiveInput(c.live);
        if (c.clock)
            view.setClock(*c.clock);
        if (c.hint)
            view.setTimeHint(*c.hint);
        for (const _RTCM3_message_t& r : c.records)
            view.add(r);
        view.finish();
        std::vector<GpsTime> times;
        for (const auto& e : sink.epochs)
            times.push_back(e.time);
        EXPECT_EQ(times, c.times) << c.name;
        const bool told = std::any_of(sink.notices.begin(), sink.notices.end(), [](const ViewNotice& n) {
            return n.kind == ViewNotice::Kind::Disagreement;
        });
        EXPECT_EQ(told, c.disagreementTold) << c.name;
        std::vector<GpsTime> orbitTimes;
        for (const auto& k : sink.kepler)
            orbitTimes.push_back(k.toe);
        if (!c.orbitTimes.empty()) {
            EXPECT_EQ(orbitTimes, c.orbitTimes) << c.name;
        }
    }
}

// Five days of 60 s epochs without a date, then a 1013: each is dated against the one after.
TEST_F(TimeTest, DaysOfHeldEpochsAreDatedWalkingBack)
{
    const int count = 5 * 1440 + 5;
    for (int i = 0; i < count; ++i)
        add(msm(1074, uint32_t(i * 60000)));
    add(systemParametersAt({2300, (count - 1) * 60.0}));
    ASSERT_EQ(sink.epochs.size(), size_t(count));
    EXPECT_EQ(notices(ViewNotice::Kind::HeldBack), 1u);
    EXPECT_EQ(notices(ViewNotice::Kind::Released), size_t(count));
    for (int i = 0; i < count; i += 719)
        EXPECT_EQ(sink.epochs[size_t(i)].time, GpsTime(2300, i * 60.0)) << i;
}

// A GPS orbit sent late in one week with its reference time early in the next belongs to the
// next; a GLONASS orbit sent before Moscow midnight with tb after it, to the next day.
TEST_F(TimeTest, OrbitsAcrossAWeekAndAMoscowDay)
{
    view.setTimeHint(GpsTime(2300, 604000));
    add(gpsOrbit(1, 2300, 7200));
    ASSERT_EQ(sink.kepler.size(), 1u);
    EXPECT_EQ(sink.kepler[0].toe, GpsTime(2301, 7200));
    EXPECT_EQ(sink.kepler[0].toc, GpsTime(2301, 7200));

    // 23:50 Moscow is 20:50:18 GPST with 18 leap seconds; tb 1 is 00:15 Moscow.
    const double tuesday = 2 * 86400 + 20 * 3600 + 50 * 60 + 18;
    view.setTimeHint(GpsTime(2301, tuesday));
    _RTCM3_message_t g;
    std::memset(&g, 0, sizeof g);
    g.Message_Type_1020.Message_Number = 1020;
    g.Message_Type_1020.Satellite_ID = 3;
    g.Message_Type_1020.Channel_Number = 8;
    g.Message_Type_1020.tb = 1;
    add(g);
    ASSERT_EQ(sink.glonass.size(), 1u);
    EXPECT_EQ(sink.glonass[0].toe, GpsTime(2301, tuesday + 25 * 60));
}

TEST_F(TimeTest, LatencyOnlyForLiveInputWithinADayOfTheClock)
{
    view.setClock(GpsTime(2300, kWeekTow));
    EXPECT_FALSE(view.latencyS(GpsTime(2300, kWeekTow - 2)));
    view.setLiveInput(true);
    EXPECT_NEAR(*view.latencyS(GpsTime(2300, kWeekTow - 2)), 2.0, 1.0);
    EXPECT_FALSE(view.latencyS(GpsTime(2200, kWeekTow)));
}

// SBAS satellites have no L2: their empty L2 fields in a 1004 give no signal.
TEST_F(TimeTest, SbasInLegacyMessagesHasL1Only)
{
    view.setTimeHint(GpsTime(2300, kWeekTow));
    Nuvrix::RTCM3_Extended_2_s sats[2]{};
    sats[0].Refsig_Basic.Satellite_Id = 3;   // G03
    sats[1].Refsig_Basic.Satellite_Id = 44;  // PRN 124
    _RTCM3_message_t r;
    std::memset(&r, 0, sizeof r);
    auto& m = r.Message_Type_1004;
    m.Message_Number = 1004;
    m.Epoch_Time = uint32_t(kWeekTow * 1000);
    m.Nr_Of_Satellites = 2;
    m.L1_L2_Extended = sats;
    add(r);
    ASSERT_EQ(sink.epochs.size(), 1u);
    ASSERT_EQ(sink.epochs[0].satellites.size(), 2u);
    EXPECT_EQ(sink.epochs[0].satellites[0].observations.size(), 2u);  // G03 C1C, C2X
    EXPECT_EQ(sink.epochs[0].satellites[1].sat.toString(), "S24");
    EXPECT_EQ(sink.epochs[0].satellites[1].observations.size(), 1u);
}

TEST_F(TimeTest, MessagesOfOneInstantGatherIntoOneEpoch)
{
    view.setTimeHint(GpsTime(2143, 488000));
    add(msm(1074, 488648000, true));
    add(msm(1084, (18 * 3600 + 43 * 60 + 50) * 1000, true, 5));  // Friday 18:43:50 Moscow
    add(msm(1124, 488634000, false));                             // BDT
    add(msm(1074, 488649000, true));
    add(msm(1074, 488650000, true));  // a later instant closes the one before
    view.finish();
    ASSERT_EQ(sink.epochs.size(), 3u);
    ASSERT_EQ(sink.epochs[0].satellites.size(), 3u);
    EXPECT_EQ(sink.epochs[0].satellites[1].sat.toString(), "R01");
    EXPECT_EQ(sink.epochs[0].satellites[2].sat.toString(), "C01");
    EXPECT_EQ(times(), (std::vector<GpsTime>{{2143, 488648}, {2143, 488649}, {2143, 488650}}));
}

TEST_F(TimeTest, EpochTimeBeyondAWeekIsRejected)
{
    view.setTimeHint(GpsTime(2143, 0));
    add(msm(1074, 604800000));
    add(msm(1084, 86401000, false, 2));
    EXPECT_TRUE(sink.epochs.empty());
    EXPECT_EQ(notices(ViewNotice::Kind::BadTime), 2u);
}

// Records of any content (as a damaged or hostile stream may decode to) never make the view
// read outside a record, crash or hand on an epoch without a date.
TEST(HostileRecords, AnyFieldValuesAreSafe)
{
    const int numbers[] = {1071, 1074, 1077, 1081, 1084, 1085, 1087, 1097, 1107, 1117, 1127, 1137,
                           1005, 1006, 1007, 1008, 1013, 1019, 1020, 1029, 1033, 1041, 1042, 1044,
                           1045, 1046, 1230};
    uint32_t seed = 12345;
    auto next = [&] { return seed = seed * 1664525u + 1013904223u; };
    viewtest::CollectSink sink;
    GnssView view(sink);
    for (int round = 0; round < 3000; ++round) {
        _RTCM3_message_t r;
        auto* bytes = reinterpret_cast<uint8_t*>(&r);
        for (size_t i = 0; i < sizeof r; ++i)
            bytes[i] = uint8_t(next() >> 24);
        r.Message_Type_1005.Message_Number = uint16_t(numbers[next() % std::size(numbers)]);
        view.add(r);
        if (round % 500 == 0)
            view.setClock(GpsTime(int32_t(next() % 4000), 0));
    }
    view.finish();
    for (const auto& e : sink.epochs) {
        EXPECT_GE(e.time.tow, 0.0);
        EXPECT_LT(e.time.tow, 604800.0);
    }
    EXPECT_FALSE(sink.positions.empty());
}

// The view writes each epoch, description and text over the room the one before left: what
// a record gives after another must be what it gives alone.
TEST(ViewRoom, ARecordShowsNothingOfTheOneBefore)
{
    struct LastLine : Nuvrix::View::GnssSink {
        std::string line;
        void epoch(const Gnss::ObservationEpoch& e) override { line.clear(), Gnss::appendEpochJson(line, e); }
        void stationDescription(const Gnss::StationDescription& d) override
        {
            line.clear(), Gnss::appendStationDescriptionJson(line, d);
        }
        void stationText(const Gnss::StationText& t) override { line.clear(), Gnss::appendStationTextJson(line, t); }
    };
    // Two satellites with two signals each, then one satellite, one signal, no phase.
    _RTCM3_message_t wide = msm(1074, 400000000), narrow = msm(1074, 400001000);
    auto& w = wide.Message_Type_1077;
    w.Satellite_Mask = 3ULL << 62;
    w.Signal_Mask = 3u << 29;
    w.Nsat = w.Nsig = 2;
    w.Ncell = w.Cell_Mask_Length = 4;
    for (int c = 0; c < 4; ++c)
        w.Cell_Mask[c] = 1;
    w.MSM_Satellite_Data.Satellite_Rough_Range_Integer_ms[1] = 71;
    narrow.Message_Type_1077.MSM_Signal_Data.Fine_PhaseRange[0] = int32_t(Nuvrix::units::MSM_Signal_Data::Fine_PhaseRange.invalid);
    _RTCM3_message_t full{}, bare{}, longText{}, shortText{};
    auto& d = full.Message_Type_1033;
    d.Message_Number = 1033;
    d.N = d.M = d.I = d.J = d.K = 20;
    for (char* text : {d.Antenna_Descriptor, d.Antenna_Serial_Number, d.Receiver_Descriptor,
                       d.Receiver_Firmware_Version, d.Receiver_Serial_Number})
        std::memset(text, 'x', 20);
    bare.Message_Type_1007.Message_Number = 1007;
    bare.Message_Type_1007.N = 1;
    bare.Message_Type_1007.Antenna_Descriptor[0] = 'y';
    for (auto* t : {&longText.Message_Type_1029, &shortText.Message_Type_1029}) {
        t->Message_Number = 1029;
        t->MJD_Number = 59000;
    }
    longText.Message_Type_1029.Number_of_UTF_8_Code_Units = 40;
    std::memset(longText.Message_Type_1029.UTF_8_Character_Code_Units, 'z', 40);
    shortText.Message_Type_1029.Number_of_UTF_8_Code_Units = 2;
    std::memset(shortText.Message_Type_1029.UTF_8_Character_Code_Units, 'a', 2);

    const struct {
        const char* what;
        const _RTCM3_message_t &before, &after;
    } cases[] = {{"a smaller epoch", wide, narrow}, {"a 1007 after a 1033", full, bare},
                 {"a short text after a long one", longText, shortText}};
    for (const auto& c : cases) {
        LastLine used, fresh;
        GnssView reused(used), alone(fresh);
        for (GnssView* v : {&reused, &alone})
            v->setTimeHint(GpsTime(2143, 400000));
        reused.add(c.before);
        reused.add(c.after);
        alone.add(c.after);
        EXPECT_FALSE(fresh.line.empty()) << c.what;
        EXPECT_EQ(used.line, fresh.line) << c.what;
    }
}

} // namespace
