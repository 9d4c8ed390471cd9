#include "GnssView.h"

#include "RTCM3_codec.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <utility>
#include <variant>

namespace Kvt::Nuvrix::View {

using namespace Gnss;

namespace {

constexpr double kPi = 3.1415926535898;  // the value the interface documents use for semicircles
constexpr double kMsToM = kSpeedOfLight / 1000.0;
constexpr int64_t kMsPerDay = int64_t(kSecondsPerDay) * 1000;
constexpr int64_t kMsPerWeek = int64_t(kSecondsPerWeek) * 1000;
constexpr int64_t kMoscowAheadOfUtcMs = 3 * 3600 * 1000;
// GPS time at MJD 44244, 1980-01-06.
constexpr int kMjdOfGpsEpoch = 44244;
// A GLONASS time may differ from the same instant in another scale by the leap seconds only.
constexpr int64_t kLeapToleranceMs = 30 * 1000;
// An ephemeris carries the week it was sent in. GPS and QZSS send reference times up to hours
// ahead, so one early in a week may belong to the next week; Galileo and BeiDou send them up
// to hours behind, so one late in a week may have been sent in the next. Such an ephemeris
// does not date the stream; the others do to within hours.
constexpr double kEphemerisMargin = 6 * 3600.0;
// Any week after the last leap second of the table.
constexpr int32_t kLatestWeek = 100000;

// Exact powers of two, folded by the compiler for the constant scales of the message tables.
constexpr double pow2(int e)
{
    double r = 1.0;
    for (; e < 0; ++e)
        r /= 2;
    for (; e > 0; --e)
        r *= 2;
    return r;
}

int64_t floorMod(int64_t a, int64_t m) { return ((a % m) + m) % m; }

// Brings a difference into [-period/2, period/2).
int64_t wrapHalf(int64_t d, int64_t period) { return floorMod(d + period / 2, period) - period / 2; }

int64_t msOf(const GpsTime& t) { return int64_t(t.week) * kMsPerWeek + std::llround(t.tow * 1000.0); }
GpsTime timeOfMs(int64_t ms)
{
    const int64_t week = ms >= 0 ? ms / kMsPerWeek : -((-ms + kMsPerWeek - 1) / kMsPerWeek);
    return GpsTime(int32_t(week), double(ms - week * kMsPerWeek) / 1000.0);
}

GpsTime fromMjd(int mjd, double secondOfDay)
{
    return GpsTime(0, double(mjd - kMjdOfGpsEpoch) * kSecondsPerDay + secondOfDay);
}

int glonassChannelOfField(int value) { return value - 7; }
bool validChannel(int channel) { return channel >= -7 && channel <= 6; }

template <typename T>
std::string rawString(const T* chars, std::size_t count, std::size_t capacity)
{
    return std::string(reinterpret_cast<const char*>(chars), std::min(count, capacity));
}

} // namespace

// A time as a message gives it, before the week (or day) is known.
struct RawTime {
    enum class Scale : uint8_t {
        Week,         // GPS milliseconds of week (BeiDou already moved by 14 s)
        GlonassWeek,  // Moscow milliseconds of the week from the day of week
        GlonassDay,   // Moscow milliseconds of day, the day unknown
    };
    Scale scale = Scale::Week;
    int64_t ms = 0;

    bool glonass() const { return scale != Scale::Week; }
    // GPS milliseconds of day, given GPS - UTC; for telling epochs apart before they are dated.
    int64_t gpsMsOfDay(int leap) const
    {
        return glonass() ? floorMod(ms - kMoscowAheadOfUtcMs + leap * 1000, kMsPerDay) : floorMod(ms, kMsPerDay);
    }
    // The instant nearest `near` that this time can be.
    GpsTime resolve(const GpsTime& near, int leap) const
    {
        const int64_t ref = msOf(near);
        const int64_t period = scale == Scale::GlonassDay ? kMsPerDay : kMsPerWeek;
        const int64_t gps = glonass() ? ms - kMoscowAheadOfUtcMs + leap * 1000 : ms;
        return timeOfMs(ref + wrapHalf(gps - floorMod(ref, period), period));
    }
};

namespace {

struct PendingSignal {
    SignalCode code;
    std::optional<double> pseudorangeM, phaseM, rangeRateMps, cn0DbHz, lockTimeS;
    bool halfCycle = false;
    // Of two messages on one signal of one epoch (1003 and 1004, 1004 and 1074) the one of
    // the higher rank gives the values, of equal ranks the later one.
    int rank = 0;
};

// Full MSMs over legacy messages with the range ambiguity, over MSM1-3, over legacy messages
// with ranges modulo a light-millisecond only.
int rankOfMsm(int level) { return level >= 4 ? 100 + level : 2 + level; }
int rankOfLegacy(int number) { return number % 2 == 0 ? 10 : 1; }

struct PendingSatellite {
    SatId sat;
    std::optional<int> channel;
    std::vector<PendingSignal> observations;
};

} // namespace

struct GnssView::Pending {
    bool active = false;
    uint16_t station = 0;
    std::optional<RawTime> weekTime, glonassTime;
    bool open = true;  // more messages of this epoch announced
    int clockSteering = -1;
    // Entries past `count` are kept from earlier epochs with their room for signals: epochs
    // follow each other without allocating.
    std::vector<PendingSatellite> satellites;
    std::size_t count = 0;

    void start(uint16_t stationId)
    {
        active = true;
        station = stationId;
        weekTime.reset();
        glonassTime.reset();
        open = true;
        clockSteering = -1;
        count = 0;
    }
    PendingSatellite& satellite(const SatId& sat)
    {
        for (std::size_t i = 0; i < count; ++i)
            if (satellites[i].sat == sat)
                return satellites[i];
        if (count == satellites.size())
            satellites.emplace_back();
        PendingSatellite& s = satellites[count++];
        s.sat = sat;
        s.channel.reset();
        s.observations.clear();
        return s;
    }
    void put(const SatId& sat, PendingSignal&& signal) { put(satellite(sat), std::move(signal)); }
    static void put(PendingSatellite& s, PendingSignal&& signal)
    {
        for (PendingSignal& old : s.observations)
            if (old.code == signal.code) {
                if (signal.rank >= old.rank)
                    old = std::move(signal);
                return;
            }
        s.observations.push_back(std::move(signal));
    }
};

// Something waiting for a date: an epoch, or an ephemeris whose week or day is not sent.
struct GnssView::Held {
    struct Epoch {
        ObservationEpoch epoch;
        RawTime time;
    };
    std::variant<Epoch, RTCM3_Message_Type_1019_s, RTCM3_Message_Type_1044_s,
                 RTCM3_Message_Type_1041_s, RTCM3_Message_Type_1020_s>
        item;
    std::size_t bytes = 0;

    // The memory it holds, near enough to bound what waits.
    std::size_t size() const
    {
        std::size_t n = sizeof(Held);
        if (const auto* e = std::get_if<Epoch>(&item)) {
            n += e->epoch.satellites.capacity() * sizeof(SatelliteObservations);
            for (const SatelliteObservations& s : e->epoch.satellites)
                n += s.observations.capacity() * sizeof(Observation);
        }
        return n;
    }
};

GnssView::GnssView(GnssSink& sink) : mSink(sink), mPending(std::make_unique<Pending>()) {}
GnssView::~GnssView() = default;

void GnssView::setTimeHint(const GpsTime& nearData)
{
    setReference(nearData, true);
}

void GnssView::setDateHint(int year, int month, int day)
{
    setTimeHint(GpsTime::fromCalendar(DateTime{year, month, day, 12, 0, 0.0}));
}

void GnssView::setClock(const GpsTime& now)
{
    mClock = now;
    if (mLive)
        setReference(now, true);
    else
        releaseHeld();  // ephemerides with 10-bit weeks can be dated now
}

void GnssView::setLiveInput(bool live)
{
    mLive = live;
    if (live && mClock)
        setReference(*mClock, true);
}

void GnssView::setGlonassChannel(int slot, int channel)
{
    if (validChannel(channel))
        mGlonassChannels[slot] = channel;
}

std::optional<int> GnssView::glonassChannel(int slot) const
{
    const auto it = mGlonassChannels.find(slot);
    return it == mGlonassChannels.end() ? std::nullopt : std::optional<int>(it->second);
}

void GnssView::add(const _RTCM3_message_t& record)
{
    const int number = record.Message_Type_1005.Message_Number;
    if (msmSystem(number)) {
        addMsm(number, &record);
        return;
    }
    switch (number) {
    case 1001: case 1002: case 1003: case 1004:
    case 1009: case 1010: case 1011: case 1012:
        addLegacy(number, &record);
        break;
    case 1005: case 1006: case 1007: case 1008: case 1033: case 1230:
        addStation(number, &record);
        break;
    case 1013:
        addSystemParameters(&record);
        break;
    case 1029:
        addText(&record);
        break;
    case 1019: case 1020: case 1041: case 1042: case 1044: case 1045: case 1046:
        addEphemeris(number, &record);
        break;
    default:
        break;
    }
}

void GnssView::finish()
{
    completePending();
    if (!mHeld.empty()) {
        ViewNotice n{ViewNotice::Kind::Undated, mHeld.size(), {}};
        n.text = std::to_string(mHeld.size())
            + " epochs or ephemerides had no time reference and were not handed on; give a date";
        mHeld.clear();
        mHeldBytes = 0;
        mSink.notice(n);
    }
    if (mDropped) {
        mSink.notice({ViewNotice::Kind::Dropped, mDropped,
                      std::to_string(mDropped) + " items waiting for a time reference were dropped"});
        mDropped = 0;
    }
}

// ---------------------------------------------------------------------------------------
// Observations

namespace {

// What an MSM of a level carries.
struct MsmContent {
    bool integerMs, finePseudorange, finePhase, extended, rate, cnr, lock;
};

MsmContent contentOf(int level)
{
    MsmContent c{};
    c.integerMs = level >= 4;
    c.extended = level >= 6;
    c.finePseudorange = level == 1 || level == 3 || level >= 4;
    c.finePhase = level == 2 || level == 3 || level >= 4;
    c.rate = level == 5 || level == 7;
    c.cnr = level >= 4;
    c.lock = level >= 2;
    return c;
}

int popcount64(uint64_t v) { return __builtin_popcountll(v); }

} // namespace

void GnssView::addMsm(int number, const void* record)
{
    const auto& m = static_cast<const _RTCM3_message_t*>(record)->Message_Type_1077;
    const System system = *msmSystem(number);
    const int level = msmLevel(number);
    const MsmContent content = contentOf(level);

    RawTime time;
    if (system == System::Glonass) {
        if (m.Epoch_Time >= kMsPerDay + 1000 || m.Day_of_Week > 7) {
            mSink.notice({ViewNotice::Kind::BadTime, 1, "GLONASS epoch time out of range in " + std::to_string(number)});
            return;
        }
        if (m.Day_of_Week == 7) {
            time = {RawTime::Scale::GlonassDay, int64_t(m.Epoch_Time)};
        } else {
            time = {RawTime::Scale::GlonassWeek, int64_t(m.Day_of_Week) * kMsPerDay + m.Epoch_Time};
        }
    } else {
        if (m.Epoch_Time >= kMsPerWeek) {
            mSink.notice({ViewNotice::Kind::BadTime, 1, "epoch time out of range in " + std::to_string(number)});
            return;
        }
        const int64_t bdt = system == System::BeiDou ? kBdtSecondsBehindGps * 1000 : 0;
        time = {RawTime::Scale::Week, floorMod(int64_t(m.Epoch_Time) + bdt, kMsPerWeek)};
    }

    const int nsat = popcount64(m.Satellite_Mask);
    const int nsig = popcount64(m.Signal_Mask);
    if (nsat * nsig > 64)
        return;  // no frame holds such a cell mask

    // Which satellite and signal each index of the masks stands for.
    int satIds[64], sigIds[32];
    for (int id = 1, k = 0; id <= 64; ++id)
        if (m.Satellite_Mask >> (64 - id) & 1)
            satIds[k++] = id;
    for (int id = 1, k = 0; id <= 32; ++id)
        if (m.Signal_Mask >> (32 - id) & 1)
            sigIds[k++] = id;

    Pending& pending = pendingFor(m.Reference_Station_ID, time);
    if (m.Clock_Steering_Indicator <= 1)
        pending.clockSteering = m.Clock_Steering_Indicator;

    const auto& sd = m.MSM_Satellite_Data;
    const auto& cd = m.MSM_Signal_Data;
    int cell = 0;
    for (int i = 0; i < nsat; ++i) {
        const std::optional<SatId> sat = msmSatellite(system, satIds[i]);
        std::optional<int> channel;
        if (system == System::Glonass) {
            if (content.rate && validChannel(glonassChannelOfField(sd.GLONASS_Satellite_Frequency_Channel_Number[i])))
                mGlonassChannels[satIds[i]] = glonassChannelOfField(sd.GLONASS_Satellite_Frequency_Channel_Number[i]);
            channel = glonassChannel(satIds[i]);
        }
        // Rough range in ms: the integer part only MSM4 and above send.
        std::optional<double> roughMs;
        if (content.integerMs && sd.Satellite_Rough_Range_Integer_ms[i] != 255)
            roughMs = sd.Satellite_Rough_Range_Integer_ms[i] + sd.Satellite_Rough_Range_Mod_1ms[i] / 1024.0;
        std::optional<double> roughRate;
        if (content.rate && sd.Satellite_Rough_PhaseRangeRate[i] != -8192)
            roughRate = sd.Satellite_Rough_PhaseRangeRate[i];
        PendingSatellite* entry = nullptr;

        for (int j = 0; j < nsig; ++j) {
            if (!m.Cell_Mask[i * nsig + j])
                continue;
            const int c = cell++;
            const std::optional<SignalCode> code = msmSignal(system, sigIds[j]);
            if (!sat || !code)
                continue;
            PendingSignal s;
            s.code = *code;
            s.rank = rankOfMsm(level);
            if (roughMs && content.finePseudorange) {
                if (content.extended && cd.Fine_PseudoRange_Extended_Resolution[c] != -524288)
                    s.pseudorangeM = (*roughMs + cd.Fine_PseudoRange_Extended_Resolution[c] * pow2(-29)) * kMsToM;
                else if (!content.extended && cd.Fine_PseudoRange[c] != -16384)
                    s.pseudorangeM = (*roughMs + cd.Fine_PseudoRange[c] * pow2(-24)) * kMsToM;
            }
            if (roughMs && content.finePhase) {
                if (content.extended && cd.Fine_PhaseRange_Extended_Resolution[c] != -8388608)
                    s.phaseM = (*roughMs + cd.Fine_PhaseRange_Extended_Resolution[c] * pow2(-31)) * kMsToM;
                else if (!content.extended && cd.Fine_PhaseRange[c] != -2097152)
                    s.phaseM = (*roughMs + cd.Fine_PhaseRange[c] * pow2(-29)) * kMsToM;
            }
            if (roughRate && cd.Fine_PhaseRangeRate[c] != -16384)
                s.rangeRateMps = *roughRate + cd.Fine_PhaseRangeRate[c] * 0.0001;
            if (content.cnr) {
                if (content.extended && cd.CNR_Extended_Resolution[c] != 0)
                    s.cn0DbHz = cd.CNR_Extended_Resolution[c] * pow2(-4);
                else if (!content.extended && cd.CNR[c] != 0)
                    s.cn0DbHz = cd.CNR[c];
            }
            if (content.lock) {
                s.lockTimeS = content.extended ? msmExtendedLockTimeS(cd.PhaseRange_Lock_Time_Indicator_Extended_Resolution[c])
                                               : msmLockTimeS(cd.PhaseRange_Lock_Time_Indicator[c]);
                s.halfCycle = cd.HalfCycle_Ambiguity_Indicator[c] != 0;
            }
            if (!entry) {
                entry = &pending.satellite(*sat);
                if (channel)
                    entry->channel = channel;
            }
            Pending::put(*entry, std::move(s));
        }
    }
    pending.open = m.Multiple_Message_Flag != 0;
    if (!pending.open)
        completePending();
}

namespace {

// The L1 (and L2) block of a legacy message in one shape.
struct LegacyBlock {
    const RTCM3_Refsig_Basic_s* l1 = nullptr;
    const RTCM3_Refsig_Extended_s* l1x = nullptr;
    const RTCM3_Deltasig_Basic_s* l2 = nullptr;
    const RTCM3_Deltasig_Extended_s* l2x = nullptr;
};

template <typename Message, typename Element>
std::vector<LegacyBlock> legacyBlocks(const Message& m, Element* const& group)
{
    std::vector<LegacyBlock> blocks;
    if (!group)
        return blocks;
    for (int i = 0; i < m.Nr_Of_Satellites; ++i) {
        const Element& e = group[i];
        LegacyBlock b;
        b.l1 = &e.Refsig_Basic;
        if constexpr (std::is_same_v<Element, RTCM3_Extended_1_s> || std::is_same_v<Element, RTCM3_Extended_2_s>)
            b.l1x = &e.Refsig_Extended;
        if constexpr (std::is_same_v<Element, RTCM3_Basic_2_s> || std::is_same_v<Element, RTCM3_Extended_2_s>)
            b.l2 = &e.Deltasig_Basic;
        if constexpr (std::is_same_v<Element, RTCM3_Extended_2_s>)
            b.l2x = &e.Deltasig_Extended;
        blocks.push_back(b);
    }
    return blocks;
}

} // namespace

void GnssView::addLegacy(int number, const void* record)
{
    const auto& r = *static_cast<const _RTCM3_message_t*>(record);
    const bool glonass = number >= 1009;
    // The header is the same in all eight.
    const auto& h = r.Message_Type_1001;
    std::vector<LegacyBlock> blocks;
    switch (number) {
    case 1001: blocks = legacyBlocks(r.Message_Type_1001, r.Message_Type_1001.L1_Basic); break;
    case 1002: blocks = legacyBlocks(r.Message_Type_1002, r.Message_Type_1002.L1_Extended); break;
    case 1003: blocks = legacyBlocks(r.Message_Type_1003, r.Message_Type_1003.L1_L2_Basic); break;
    case 1004: blocks = legacyBlocks(r.Message_Type_1004, r.Message_Type_1004.L1_L2_Extended); break;
    case 1009: blocks = legacyBlocks(r.Message_Type_1009, r.Message_Type_1009.L1_Basic); break;
    case 1010: blocks = legacyBlocks(r.Message_Type_1010, r.Message_Type_1010.L1_Extended); break;
    case 1011: blocks = legacyBlocks(r.Message_Type_1011, r.Message_Type_1011.L1_L2_Basic); break;
    case 1012: blocks = legacyBlocks(r.Message_Type_1012, r.Message_Type_1012.L1_L2_Extended); break;
    }

    RawTime time;
    if (glonass) {
        if (h.Epoch_Time >= kMsPerDay + 1000) {
            mSink.notice({ViewNotice::Kind::BadTime, 1, "GLONASS epoch time out of range in " + std::to_string(number)});
            return;
        }
        time = {RawTime::Scale::GlonassDay, int64_t(h.Epoch_Time)};
    } else {
        if (h.Epoch_Time >= kMsPerWeek) {
            mSink.notice({ViewNotice::Kind::BadTime, 1, "epoch time out of range in " + std::to_string(number)});
            return;
        }
        time = {RawTime::Scale::Week, int64_t(h.Epoch_Time)};
    }
    Pending& pending = pendingFor(h.Reference_Station_ID, time);

    // One light millisecond, and the GLONASS unit of the ambiguity: two of them.
    const double ambiguityM = glonass ? 599584.916 : kMsToM;
    for (const LegacyBlock& b : blocks) {
        const int id = b.l1->Satellite_Id;
        std::optional<SatId> sat;
        std::optional<int> channel;
        if (glonass) {
            sat = satelliteFromPrn(System::Glonass, id <= 24 ? id : 0);
            if (validChannel(glonassChannelOfField(b.l1->Frequency_Number)))
                mGlonassChannels[id] = glonassChannelOfField(b.l1->Frequency_Number);
            channel = glonassChannel(id);
        } else {
            // Ids 40 to 58 are the SBAS satellites of PRN 120 to 138.
            sat = id <= 32 ? satelliteFromPrn(System::Gps, id)
                : (id >= 40 && id <= 58 ? satelliteFromPrn(System::Sbas, id + 80) : std::nullopt);
        }
        if (!sat)
            continue;
        // Without the ambiguity (1001, 1003, 1009, 1011) the range is known modulo it only.
        std::optional<double> pr1;
        if (b.l1x && b.l1->Pseudorange != 524288)
            pr1 = b.l1x->Modulus_Ambiguity * ambiguityM + b.l1->Pseudorange * 0.02;

        PendingSignal l1;
        l1.code = glonass ? SignalCode{'1', b.l1->Code_Indicator ? 'P' : 'C'}
                          : SignalCode{'1', b.l1->Code_Indicator ? 'P' : 'C'};
        l1.pseudorangeM = pr1;
        if (pr1 && b.l1->Phaserange_Min_Pseudorange != -524288)
            l1.phaseM = *pr1 + b.l1->Phaserange_Min_Pseudorange * 0.0005;
        l1.rank = rankOfLegacy(number);
        l1.lockTimeS = legacyLockTimeS(b.l1->Lock_Time_Indicator);
        if (b.l1x && b.l1x->CNR != 0)
            l1.cn0DbHz = b.l1x->CNR * 0.25;
        PendingSatellite& ps = pending.satellite(*sat);
        if (channel)
            ps.channel = channel;
        pending.put(*sat, std::move(l1));

        if (!b.l2)
            continue;
        // L2 codes: C/A or L2C, P(Y) direct, P(Y) cross-correlated, correlated P/Y.
        static constexpr char kGpsL2[] = {'X', 'P', 'D', 'W'};
        if (glonass && b.l2->Code_Indicator > 1)
            continue;  // reserved
        PendingSignal l2;
        l2.code = glonass ? SignalCode{'2', b.l2->Code_Indicator ? 'P' : 'C'}
                          : SignalCode{'2', kGpsL2[b.l2->Code_Indicator & 3]};
        if (pr1 && b.l2->Pseudorange_Min_Pseudorange != -8192)
            l2.pseudorangeM = *pr1 + b.l2->Pseudorange_Min_Pseudorange * 0.02;
        if (pr1 && b.l2->Phaserange_Min_Pseudorange != -524288)
            l2.phaseM = *pr1 + b.l2->Phaserange_Min_Pseudorange * 0.0005;
        l2.rank = rankOfLegacy(number);
        l2.lockTimeS = legacyLockTimeS(b.l2->Lock_Time_Indicator);
        if (b.l2x && b.l2x->CNR != 0)
            l2.cn0DbHz = b.l2x->CNR * 0.25;
        pending.put(*sat, std::move(l2));
    }
    pending.open = h.Sync_Flag != 0;
    if (!pending.open)
        completePending();
}

GnssView::Pending& GnssView::pendingFor(uint16_t station, const RawTime& time)
{
    if (mPending->active && !(mPending->open && mPending->station == station && sameInstant(*mPending, time)))
        completePending();
    if (!mPending->active)
        mPending->start(station);
    (time.glonass() ? mPending->glonassTime : mPending->weekTime) = time;
    return *mPending;
}

bool GnssView::sameInstant(const Pending& pending, const RawTime& time) const
{
    const int leap = leapSeconds();
    const RawTime& known = pending.weekTime ? *pending.weekTime : *pending.glonassTime;
    const int64_t d = wrapHalf(time.gpsMsOfDay(leap) - known.gpsMsOfDay(leap), kMsPerDay);
    if (d == 0)
        return true;
    // Between GLONASS and another scale, leap seconds not yet known may stand between them.
    return known.glonass() != time.glonass() && d % 1000 == 0 && std::llabs(d) <= kLeapToleranceMs;
}

void GnssView::completePending()
{
    Pending& p = *mPending;
    if (!p.active)
        return;
    p.active = false;
    Gnss::ObservationEpoch& e = mEpoch;
    e.stationId = p.station;
    e.clockSteering = p.clockSteering;
    const RawTime time = p.weekTime ? *p.weekTime : *p.glonassTime;
    const auto satellites = p.satellites.begin();
    std::sort(satellites, satellites + long(p.count),
              [](const PendingSatellite& a, const PendingSatellite& b) { return a.sat < b.sat; });
    std::size_t n = 0;
    for (std::size_t i = 0; i < p.count; ++i) {
        PendingSatellite& ps = p.satellites[i];
        if (ps.observations.empty())
            continue;
        if (n == e.satellites.size())
            e.satellites.emplace_back();
        SatelliteObservations& so = e.satellites[n++];
        so.sat = ps.sat;
        so.glonassChannel.reset();
        if (ps.sat.system == System::Glonass)
            so.glonassChannel = ps.channel ? ps.channel : glonassChannel(ps.sat.number);
        std::sort(ps.observations.begin(), ps.observations.end(),
                  [](const PendingSignal& a, const PendingSignal& b) { return a.code < b.code; });
        so.observations.clear();
        for (const PendingSignal& s : ps.observations) {
            Observation& o = so.observations.emplace_back();
            o.code = s.code;
            o.pseudorangeM = s.pseudorangeM;
            o.cn0DbHz = s.cn0DbHz;
            o.lockTimeS = s.lockTimeS;
            o.halfCycleAmbiguity = s.halfCycle;
            const std::optional<double> f = carrierFrequencyHz(ps.sat.system, s.code.band, so.glonassChannel);
            if (f && s.phaseM)
                o.phaseCycles = *s.phaseM * *f / kSpeedOfLight;
            if (f && s.rangeRateMps)
                o.dopplerHz = -*s.rangeRateMps * *f / kSpeedOfLight;
        }
    }
    e.satellites.resize(n);
    if (mHeld.empty() && mReference) {
        dateAndHandOn(e, time);
        return;
    }
    hold(Held{Held::Epoch{e, time}});
}

void GnssView::dateAndHandOn(Gnss::ObservationEpoch& epoch, const RawTime& time)
{
    epoch.time = time.resolve(*mReference, leapSeconds());
    mReference = epoch.time;
    mSink.epoch(epoch);
}

// ---------------------------------------------------------------------------------------
// Time

int GnssView::leapSeconds() const
{
    if (mLeapFromStream)
        return *mLeapFromStream;
    if (mReference)
        return leapSecondsAt(*mReference);
    // Before any reference, the latest count: the one of any capture of recent years. Only
    // the gathering of epochs uses it then, and tolerates it being wrong.
    return leapSecondsAt(mClock.value_or(GpsTime(kLatestWeek, 0)));
}

std::optional<int32_t> GnssView::fullWeek10(int week10) const
{
    if (mReference)
        return resolveWeek(week10, 1024, mReference->week);
    if (mClock) {
        // The latest week of that number not after the clock.
        int32_t w = mClock->week - floorMod(mClock->week - week10, 1024);
        return w;
    }
    return std::nullopt;
}

void GnssView::setReference(const GpsTime& t, bool exact)
{
    if (!exact && mReference)
        return;
    mReference = t;
    releaseHeld();
}

void GnssView::handOn(Held&& item)
{
    // Behind items still waiting, so that everything leaves in the order it came.
    if (mHeld.empty())
        dispatch(item);
    else
        hold(std::move(item));
}

void GnssView::hold(Held&& item)
{
    if (mHeld.empty() && !mStarted) {
        mStarted = true;
        mSink.notice({ViewNotice::Kind::HeldBack, 0,
                      "no time reference yet: epochs wait for one (a 1013, 1029 or ephemeris, or a date)"});
    }
    auto held = std::make_unique<Held>(std::move(item));
    held->bytes = held->size();
    while (!mHeld.empty() && (mHeld.size() >= kHoldLimit || mHeldBytes + held->bytes > kHoldBytes)) {
        mHeldBytes -= mHeld.front()->bytes;
        mHeld.pop_front();
        ++mDropped;
    }
    keep(std::move(held));
}

void GnssView::keep(std::unique_ptr<Held> held)
{
    mHeldBytes += held->bytes;
    mHeld.push_back(std::move(held));
}

void GnssView::releaseHeld()
{
    if (mHeld.empty())
        return;
    // A 1019 or 1044 waiting for its era (which the clock has just given) dates the epochs
    // before it as well as those after.
    for (auto it = mHeld.begin(); !mReference && it != mHeld.end(); ++it) {
        std::optional<int32_t> week;
        double toe = 0;
        if (const auto* r = std::get_if<RTCM3_Message_Type_1019_s>(&(*it)->item)) {
            week = fullWeek10(r->Week_Number);
            toe = r->t_oe * 16.0;
        } else if (const auto* q = std::get_if<RTCM3_Message_Type_1044_s>(&(*it)->item)) {
            week = fullWeek10(q->Week_Number);
            toe = q->t_oe * 16.0;
        }
        if (week)
            datesTheStream(GpsTime(*week, toe), true);
    }
    std::deque<std::unique_ptr<Held>> held;
    held.swap(mHeld);
    mHeldBytes = 0;
    if (mDropped) {
        mSink.notice({ViewNotice::Kind::Dropped, mDropped,
                      std::to_string(mDropped) + " items waiting for a time reference were dropped"});
        mDropped = 0;
    }
    if (mReference)
        mSink.notice({ViewNotice::Kind::Released, held.size(),
                      std::to_string(held.size()) + " held items follow with their time"});
    while (!held.empty()) {
        std::unique_ptr<Held> item = std::move(held.front());
        held.pop_front();
        if (!mHeld.empty())
            keep(std::move(item));  // still waiting behind an earlier one
        else
            dispatch(*item);
    }
}

bool GnssView::datesTheStream(const GpsTime& toe, bool toeAhead)
{
    if (toeAhead ? toe.tow < kEphemerisMargin : toe.tow > kSecondsPerWeek - kEphemerisMargin)
        return false;
    if (!mReference)
        mReference = toe;
    return true;
}

namespace {

KeplerEphemeris commonKepler(System system, int prn)
{
    KeplerEphemeris k;
    k.sat = satelliteFromPrn(system, prn).value_or(SatId{system, 0});
    return k;
}

// A time of week near a reference instant: a reference time sent at the end of one week may
// belong to the next.
GpsTime nearWeekTime(int32_t week, double tow, const std::optional<GpsTime>& near)
{
    GpsTime t(week, tow);
    if (near) {
        if (t - *near > kSecondsPerWeek / 2)
            t = GpsTime(week - 1, tow);
        else if (*near - t > kSecondsPerWeek / 2)
            t = GpsTime(week + 1, tow);
    }
    return t;
}

template <typename R>
void fillOrbit(KeplerEphemeris& k, const R& r, int crScale, int cScale)
{
    k.crs = r.C_rs * pow2(crScale);
    k.crc = r.C_rc * pow2(crScale);
    k.cuc = r.C_uc * pow2(cScale);
    k.cus = r.C_us * pow2(cScale);
    k.cic = r.C_ic * pow2(cScale);
    k.cis = r.C_is * pow2(cScale);
    k.m0 = r.M_0 * pow2(-31) * kPi;
    k.e = r.e * pow2(-33);
    k.sqrtA = r.SQRT_A * pow2(-19);
    k.omega0 = r.OMEGA_0 * pow2(-31) * kPi;
    k.i0 = r.i_0 * pow2(-31) * kPi;
    k.omega = r.omega * pow2(-31) * kPi;
}

// GPS (1019) and QZSS (1044) send the same ephemeris; only a few member names differ.
template <typename R>
KeplerEphemeris gpsLikeKepler(System system, int prn, int number, int32_t week, const R& r,
                              const std::optional<GpsTime>& near, double idot, int accuracy)
{
    KeplerEphemeris k = commonKepler(system, prn);
    k.messageNumber = number;
    k.week = week;
    k.toc = nearWeekTime(week, r.t_oc * 16.0, near);
    k.toe = nearWeekTime(week, r.t_oe * 16.0, near);
    k.af0 = r.a_f0 * pow2(-31);
    k.af1 = r.a_f1 * pow2(-43);
    k.af2 = r.a_f2 * pow2(-55);
    fillOrbit(k, r, -5, -29);
    k.deltaN = r.Delta_n * pow2(-43) * kPi;
    k.omegaDot = r.OMEGADOT * pow2(-43) * kPi;
    k.idot = idot * pow2(-43) * kPi;
    k.iode = r.IODE;
    k.iodc = r.IODC;
    k.tgd1 = r.T_gd * pow2(-31);
    k.health = r.SV_Health;
    k.accuracyIndex = accuracy;
    k.codesOnL2 = r.Code_On_L2;
    k.fitIntervalFlag = r.Fit_Interval;
    return k;
}

} // namespace

void GnssView::dispatch(Held& held)
{
    // Needs a week era or a reference; without, the item goes back to waiting.
    auto wait = [&] { hold(std::move(held)); };

    if (auto* e = std::get_if<Held::Epoch>(&held.item)) {
        if (!mReference)
            return wait();
        dateAndHandOn(e->epoch, e->time);
        return;
    }
    if (auto* r = std::get_if<RTCM3_Message_Type_1019_s>(&held.item)) {
        const std::optional<int32_t> week = fullWeek10(r->Week_Number);
        if (!week)
            return wait();
        KeplerEphemeris k = gpsLikeKepler(System::Gps, r->Satellite_ID, 1019, *week, *r, mReference, r->IDOT,
                                          r->SV_Accuracy);
        k.l2pDataFlag = r->L2P_Data_Flag;
        mSink.keplerEphemeris(k);
        return;
    }
    if (auto* r = std::get_if<RTCM3_Message_Type_1044_s>(&held.item)) {
        const std::optional<int32_t> week = fullWeek10(r->Week_Number);
        if (!week)
            return wait();
        mSink.keplerEphemeris(gpsLikeKepler(System::Qzss, r->Satellite_ID + 192, 1044, *week, *r, mReference,
                                            r->i_0_DOT, r->URA));
        return;
    }
    if (auto* r = std::get_if<RTCM3_Message_Type_1041_s>(&held.item)) {
        const std::optional<int32_t> week = fullWeek10(r->Week_Number);
        if (!week)
            return wait();
        KeplerEphemeris k = commonKepler(System::NavIC, r->Satellite_ID);
        k.messageNumber = 1041;
        // NavIC counts its weeks from the Galileo origin, 1024 GPS weeks on.
        k.week = *week - kGstWeekOffset;
        k.toc = nearWeekTime(*week, r->t_oc * 16.0, mReference);
        k.toe = nearWeekTime(*week, r->t_oe * 16.0, mReference);
        k.af0 = r->a_f0 * pow2(-31);
        k.af1 = r->a_f1 * pow2(-43);
        k.af2 = r->a_f2 * pow2(-55);
        fillOrbit(k, *r, -4, -28);
        k.deltaN = r->Delta_n * pow2(-41) * kPi;
        k.omegaDot = r->OMEGADOT * pow2(-41) * kPi;
        k.idot = r->IDOT * pow2(-43) * kPi;
        k.iode = r->IODEC;
        k.tgd1 = r->T_GD * pow2(-31);
        k.health = r->L5_Flag << 1 | r->S_Flag;
        k.accuracyIndex = r->URA;
        mSink.keplerEphemeris(k);
        return;
    }
    if (auto* r = std::get_if<RTCM3_Message_Type_1020_s>(&held.item)) {
        if (!mReference)
            return wait();
        const int leap = leapSeconds();
        // tb and tk are Moscow times of day: the day is the reference's.
        auto moscowTimeOfDay = [&](double seconds) {
            const double moscowNow = mReference->secondsSinceEpoch() + 10800.0 - leap;
            const double dayStart = std::floor(moscowNow / kSecondsPerDay) * kSecondsPerDay;
            GpsTime t(0, dayStart + seconds - 10800.0 + leap);
            if (t - *mReference > kSecondsPerDay / 2)
                t = t.plusSeconds(-kSecondsPerDay);
            else if (*mReference - t > kSecondsPerDay / 2)
                t = t.plusSeconds(kSecondsPerDay);
            return t;
        };
        auto value = [](int sign, double magnitude, int exponent) {
            return (sign ? -1.0 : 1.0) * magnitude * pow2(exponent);
        };
        GlonassEphemeris g;
        g.sat = satelliteFromPrn(System::Glonass, r->Satellite_ID).value_or(SatId{System::Glonass, 0});
        g.frequencyChannel = glonassChannelOfField(r->Channel_Number);
        g.tbIndex = r->tb;
        g.toe = moscowTimeOfDay(r->tb * 900.0);
        const int tk = r->tK;
        g.frameTime = moscowTimeOfDay((tk >> 7) * 3600.0 + ((tk >> 1) & 63) * 60.0 + (tk & 1) * 30.0);
        g.positionM = {value(r->x_SB, r->x_mag, -11) * 1000, value(r->y_SB, r->y_mag, -11) * 1000,
                       value(r->z_SB, r->z_mag, -11) * 1000};
        g.velocityMps = {value(r->dx_SB, r->dx_mag, -20) * 1000, value(r->dy_SB, r->dy_mag, -20) * 1000,
                         value(r->dz_SB, r->dz_mag, -20) * 1000};
        g.accelerationMps2 = {value(r->ddx_SB, r->ddx_mag, -30) * 1000, value(r->ddy_SB, r->ddy_mag, -30) * 1000,
                              value(r->ddz_SB, r->ddz_mag, -30) * 1000};
        g.gammaN = value(r->gamma_SB, r->gamma_mag, -40);
        g.tauN = value(r->tau_SB, r->tau_mag, -30);
        g.health = r->B_MSB;
        g.ageDays = r->E;
        mSink.glonassEphemeris(g);
        return;
    }
}

void GnssView::addSystemParameters(const void* record)
{
    const auto& r = static_cast<const _RTCM3_message_t*>(record)->Message_Type_1013;
    if (r.Seconds_of_Day >= uint32_t(kSecondsPerDay) + 1 || r.MJD_Number < kMjdOfGpsEpoch)
        return;
    const GpsTime utc = fromMjd(r.MJD_Number, r.Seconds_of_Day);
    if (r.Leap_Seconds != 255)
        mLeapFromStream = r.Leap_Seconds;
    setReference(utc.plusSeconds(r.Leap_Seconds != 255 ? r.Leap_Seconds : leapSecondsAt(utc)), true);
}

void GnssView::addText(const void* record)
{
    const auto& r = static_cast<const _RTCM3_message_t*>(record)->Message_Type_1029;
    StationText t;
    t.stationId = r.Reference_Station_ID;
    const GpsTime utc = fromMjd(r.MJD_Number, r.Seconds_of_Day);
    t.time = utc.plusSeconds(mLeapFromStream ? *mLeapFromStream : leapSecondsAt(utc));
    t.text = rawString(r.UTF_8_Character_Code_Units, r.Number_of_UTF_8_Code_Units,
                       sizeof r.UTF_8_Character_Code_Units);
    if (r.MJD_Number >= kMjdOfGpsEpoch && r.Seconds_of_Day <= uint32_t(kSecondsPerDay))
        setReference(t.time, true);
    mSink.stationText(t);
}

void GnssView::addStation(int number, const void* record)
{
    const auto& r = *static_cast<const _RTCM3_message_t*>(record);
    switch (number) {
    case 1005:
    case 1006: {
        const auto& m = r.Message_Type_1006;  // 1005 is 1006 without the height
        StationPosition p;
        p.stationId = m.Reference_Station_ID;
        p.ecef = {m.ECEF_X * 0.0001, m.ECEF_Y * 0.0001, m.ECEF_Z * 0.0001};
        if (number == 1006)
            p.antennaHeightM = m.Height * 0.0001;
        p.virtualStation = m.Reference_Station_Indicator != 0;
        mSink.stationPosition(p);
        break;
    }
    case 1007:
    case 1008:
    case 1033: {
        StationDescription d;
        const auto& a = r.Message_Type_1008;  // 1007 is its head
        d.stationId = a.Reference_Station_ID;
        d.antennaDescriptor = rawString(a.Antenna_Descriptor, a.N, sizeof a.Antenna_Descriptor);
        d.antennaSetupId = a.Antenna_Setup_ID;
        if (number == 1008)
            d.antennaSerialNumber = rawString(a.Antenna_Serial_Number, a.M, sizeof a.Antenna_Serial_Number);
        if (number == 1033) {
            const auto& f = r.Message_Type_1033;
            d.antennaSerialNumber = rawString(f.Antenna_Serial_Number, f.M, sizeof f.Antenna_Serial_Number);
            d.receiverDescriptor = rawString(f.Receiver_Descriptor, f.I, sizeof f.Receiver_Descriptor);
            d.receiverFirmwareVersion = rawString(f.Receiver_Firmware_Version, f.J, sizeof f.Receiver_Firmware_Version);
            d.receiverSerialNumber = rawString(f.Receiver_Serial_Number, f.K, sizeof f.Receiver_Serial_Number);
        }
        mSink.stationDescription(d);
        break;
    }
    case 1230: {
        const auto& m = r.Message_Type_1230;
        GlonassBiases b;
        b.stationId = m.Reference_Station_ID;
        b.aligned = m.GLONASS_Code_Phase_bias_indicator != 0;
        const int mask = m.GLONASS_FDMA_Signals_Mask;
        auto bias = [&](int bit, int16_t v) {
            return (mask & bit) && v != -32768 ? std::optional<double>(v * 0.02) : std::nullopt;
        };
        b.l1ca = bias(8, m.GLONASS_L1_C_A_Code_Phase_Bias);
        b.l1p = bias(4, m.GLONASS_L1_P_Code_Phase_Bias);
        b.l2ca = bias(2, m.GLONASS_L2_C_A_Code_Phase_Bias);
        b.l2p = bias(1, m.GLONASS_L2_P_Code_Phase_Bias);
        mSink.glonassBiases(b);
        break;
    }
    }
}

void GnssView::addEphemeris(int number, const void* record)
{
    const auto& r = *static_cast<const _RTCM3_message_t*>(record);
    // A reference time well inside its week dates the stream to within hours.
    // Dates what waits, where no reference did yet.
    auto offerReference = [&](const GpsTime& toe, bool toeAhead) {
        if (!mReference && datesTheStream(toe, toeAhead))
            releaseHeld();
    };
    switch (number) {
    case 1019: {
        const auto& m = r.Message_Type_1019;
        if (const std::optional<int32_t> w = fullWeek10(m.Week_Number))
            offerReference(GpsTime(*w, m.t_oe * 16.0), true);
        handOn(Held{m});
        break;
    }
    case 1044: {
        const auto& m = r.Message_Type_1044;
        if (const std::optional<int32_t> w = fullWeek10(m.Week_Number))
            offerReference(GpsTime(*w, m.t_oe * 16.0), true);
        handOn(Held{m});
        break;
    }
    case 1041: {
        handOn(Held{r.Message_Type_1041});
        break;
    }
    case 1020: {
        const auto& m = r.Message_Type_1020;
        if (validChannel(glonassChannelOfField(m.Channel_Number)))
            mGlonassChannels[m.Satellite_ID] = glonassChannelOfField(m.Channel_Number);
        handOn(Held{m});
        break;
    }
    case 1042: {
        const auto& m = r.Message_Type_1042;
        KeplerEphemeris k = commonKepler(System::BeiDou, m.Satellite_ID);
        k.messageNumber = 1042;
        k.week = m.Week_Number;
        k.toe = GpsTime::fromBdt(m.Week_Number, m.t_oe * 8.0);
        offerReference(k.toe, false);
        k.toe = nearWeekTime(k.toe.week, k.toe.tow, mReference);
        const GpsTime toc = GpsTime::fromBdt(m.Week_Number, m.t_oc * 8.0);
        k.toc = nearWeekTime(toc.week, toc.tow, mReference);
        k.af0 = m.a_0 * pow2(-33);
        k.af1 = m.a_1 * pow2(-50);
        k.af2 = m.a_2 * pow2(-66);
        fillOrbit(k, m, -6, -31);
        k.deltaN = m.Delta_n * pow2(-43) * kPi;
        k.omegaDot = m.OMEGADOT * pow2(-43) * kPi;
        k.idot = m.IDOT * pow2(-43) * kPi;
        k.iode = m.AODE;
        k.iodc = m.AODC;
        k.tgd1 = m.T_GD1 * 1e-10;
        k.tgd2 = m.T_GD2 * 1e-10;
        k.health = m.SV_Health;
        k.accuracyIndex = m.SV_URAI;
        mSink.keplerEphemeris(k);
        break;
    }
    case 1045:
    case 1046: {
        const auto& m = r.Message_Type_1046;  // 1045 shares the orbit and clock
        KeplerEphemeris k = commonKepler(System::Galileo, m.Satellite_ID);
        k.messageNumber = number;
        k.week = m.Week_Number;
        const int32_t gpsWeek = m.Week_Number + kGstWeekOffset;
        offerReference(GpsTime(gpsWeek, m.t_oe * 60.0), false);
        k.toe = nearWeekTime(gpsWeek, m.t_oe * 60.0, mReference);
        k.toc = nearWeekTime(gpsWeek, m.t_oc * 60.0, mReference);
        k.af0 = m.a_f0 * pow2(-34);
        k.af1 = m.a_f1 * pow2(-46);
        k.af2 = m.a_f2 * pow2(-59);
        fillOrbit(k, m, -5, -29);
        k.deltaN = m.Delta_n * pow2(-43) * kPi;
        k.omegaDot = m.OMEGADOT * pow2(-43) * kPi;
        k.idot = m.IDOT * pow2(-43) * kPi;
        k.iode = m.IODnav;
        k.accuracyIndex = m.SV_SISA;
        k.tgd1 = m.BGD_E1_E5a * pow2(-32);
        if (number == 1045) {
            const auto& f = r.Message_Type_1045;
            // Health bits as RINEX lays them out: E5a status at bits 4-5, validity at 3.
            k.health = f.E5a_HS << 4 | f.E5a_DVS << 3;
            k.dataSources = 0x102;  // F/NAV, clock for E5a and E1
        } else {
            k.tgd2 = m.BGD_E1_E5b * pow2(-32);
            k.health = m.E5b_HS << 7 | m.E5b_DVS << 6 | m.E1_B_HS << 1 | m.E1_B_DVS;
            k.dataSources = 0x205;  // I/NAV on E1-B and E5b-I, clock for E5b and E1
        }
        mSink.keplerEphemeris(k);
        break;
    }
    }
}

} // namespace Kvt::Nuvrix::View
