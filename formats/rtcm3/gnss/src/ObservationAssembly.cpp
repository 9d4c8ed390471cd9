#include "ObservationAssembly.h"

#include "RTCM3_families.h"

#include <algorithm>
#include <limits>
#include <vector>

namespace Kvt::Nuvrix::View {

using namespace Gnss;

namespace {

// A GLONASS time may differ from the same instant in another scale by the leap seconds only.
constexpr int64_t kLeapToleranceMs = 30 * 1000;

// A value or none in eight bytes, half an optional's: a hundred signals an epoch are written
// and read again. NaN stands for none; no observable computes to it.
class Value {
public:
    Value() = default;
    Value(double v) : mValue(v) {}
    Value(const std::optional<double>& v) : mValue(v ? *v : kNone) {}
    explicit operator bool() const { return mValue == mValue; }
    double operator*() const { return mValue; }
    std::optional<double> optional() const { return *this ? std::optional<double>(mValue) : std::nullopt; }

private:
    static constexpr double kNone = std::numeric_limits<double>::quiet_NaN();
    double mValue = kNone;
};

struct PendingSignal {
    SignalCode code;
    Value pseudorangeM, phaseM, rangeRateMps, cn0DbHz, lockTimeS;
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
    // The first `count` are this epoch's; those past it keep their room for later epochs.
    std::vector<PendingSignal> observations;
    std::size_t count = 0;
    PendingSignal* begin() { return observations.data(); }
    PendingSignal* end() { return observations.data() + count; }
};

} // namespace

struct ObservationAssembly::Pending {
    bool active = false;
    uint16_t station = 0;
    std::optional<RawTime> weekTime, glonassTime;
    bool open = true;  // more messages of this epoch announced
    int clockSteering = -1;
    // Entries past `count` are kept from earlier epochs with their room for signals: epochs
    // follow each other without allocating.
    std::vector<PendingSatellite> satellites;
    std::size_t count = 0;
    // Where each satellite of the epoch is in `satellites`, by system and number; -1 where not.
    std::array<int16_t, kSystemCount * 256> index = unindexed();

    static constexpr std::array<int16_t, kSystemCount * 256> unindexed()
    {
        std::array<int16_t, kSystemCount * 256> a{};
        for (int16_t& i : a)
            i = -1;
        return a;
    }
    static std::size_t keyOf(const SatId& sat) { return std::size_t(sat.system) * 256 + sat.number; }

    void start(uint16_t stationId)
    {
        active = true;
        station = stationId;
        weekTime.reset();
        glonassTime.reset();
        open = true;
        clockSteering = -1;
        for (std::size_t i = 0; i < count; ++i)
            index[keyOf(satellites[i].sat)] = -1;
        count = 0;
    }
    PendingSatellite& satellite(const SatId& sat)
    {
        int16_t& at = index[keyOf(sat)];
        if (at >= 0)
            return satellites[std::size_t(at)];
        if (count == satellites.size())
            satellites.emplace_back();
        at = int16_t(count);
        PendingSatellite& s = satellites[count++];
        s.sat = sat;
        s.channel.reset();
        s.count = 0;
        return s;
    }
    void put(const SatId& sat, PendingSignal&& signal) { put(satellite(sat), std::move(signal)); }
    static void put(PendingSatellite& s, PendingSignal&& signal)
    {
        if (PendingSignal* to = slot(s, signal.code, signal.rank))
            *to = std::move(signal);
    }
    // Where a signal of this rank goes, emptied: its own entry or a new one; null where one
    // of a higher rank holds the signal.
    static PendingSignal* slot(PendingSatellite& s, const SignalCode& code, int rank)
    {
        for (PendingSignal& old : s)
            if (old.code == code) {
                if (rank < old.rank)
                    return nullptr;
                old = PendingSignal{};
                return &old;
            }
        if (s.count == s.observations.size())
            s.observations.emplace_back();
        PendingSignal& added = s.observations[s.count++];
        added = PendingSignal{};
        return &added;
    }
};


ObservationAssembly::ObservationAssembly(Output& output, GlonassChannels& channels)
    : mOutput(output), mChannels(channels), mPending(std::make_unique<Pending>())
{
}

ObservationAssembly::~ObservationAssembly() = default;

const std::array<double, 10>& ObservationAssembly::frequencies(System system, std::optional<int> channel)
{
    // GLONASS's depend on the channel; a channel out of range has none of them.
    std::size_t row = std::size_t(system);
    if (system == System::Glonass)
        row = channel && GlonassChannels::valid(*channel) ? std::size_t(Gnss::kSystemCount + *channel - GlonassChannels::kLowest)
            : std::size_t(Gnss::kSystemCount + GlonassChannels::kHighest - GlonassChannels::kLowest + (channel ? 2 : 1));
    else
        channel.reset();
    Frequencies& f = mFrequencies[row];
    if (!f.known) {
        for (std::size_t band = 0; band < f.hz.size(); ++band)
            f.hz[band] = carrierFrequencyHz(system, char('0' + band), channel).value_or(0.0);
        f.known = true;
    }
    return f.hz;
}

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

constexpr double kMsToM = kSpeedOfLight / 1000.0;

// MSM ranges travel in light milliseconds: the step of a range member in ms (a power of two).
constexpr double msStep(const units::Physical& unit) { return unit.scale / kMsToM; }

// The rough range plus a fine value of the member `Unit`, in m; nothing for an invalid one.
template <const units::Physical& Unit, typename Raw>
std::optional<double> rangeM(double roughMs, Raw fine)
{
    constexpr double step = msStep(Unit);
    if (fine == Unit.invalid)
        return std::nullopt;
    return (roughMs + fine * step) * kMsToM;
}

constexpr double kWholeStepMs = msStep(units::MSM_Satellite_Data::Satellite_Rough_Range_Integer_ms);
constexpr double kPartStepMs = msStep(units::MSM_Satellite_Data::Satellite_Rough_Range_Mod_1ms);

int popcount64(uint64_t v) { return __builtin_popcountll(v); }

// Every cell of every MSM6-7 asks: a table of all indicators the field can hold, negative for
// a reserved one, looked up once per message.
constexpr wire::Field kExtendedLock = wire::Message_Type_1077::MSM_Signal_Data::PhaseRange_Lock_Time_Indicator_Extended_Resolution;
using ExtendedLockTimes = std::array<double, kExtendedLock.highest + 1>;

const ExtendedLockTimes& extendedLockTimes()
{
    static const ExtendedLockTimes kSeconds = [] {
        ExtendedLockTimes t{};
        for (int i = 0; i < int(t.size()); ++i)
            t[std::size_t(i)] = msmExtendedLockTimeS(i).value_or(-1.0);
        return t;
    }();
    return kSeconds;
}

} // namespace

bool ObservationAssembly::add(int number, const _RTCM3_message_t& record)
{
    return family::visitMsm(number, record, [&](const auto& r) { addMsm(number, family::Msm::of(r)); })
        || family::visitLegacyObservables(number, record, [&](const auto& r) { addLegacy(r); });
}

void ObservationAssembly::addMsm(int number, const family::Msm& m)
{
    const System system = *msmSystem(number);
    const int level = msmLevel(number);
    const MsmContent content = contentOf(level);

    RawTime time;
    if (system == System::Glonass) {
        if (m.Epoch_Time >= kMsPerDay + 1000 || m.Day_of_Week > 7) {
            mOutput.notice({ViewNotice::Kind::BadTime, 1, "GLONASS epoch time out of range in " + std::to_string(number)});
            return;
        }
        if (m.Day_of_Week == 7) {
            time = {RawTime::Scale::GlonassDay, int64_t(m.Epoch_Time)};
        } else {
            time = {RawTime::Scale::GlonassWeek, int64_t(m.Day_of_Week) * kMsPerDay + m.Epoch_Time};
        }
    } else {
        if (m.Epoch_Time >= kMsPerWeek) {
            mOutput.notice({ViewNotice::Kind::BadTime, 1, "epoch time out of range in " + std::to_string(number)});
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
    // Id 1 is the highest bit: set bits from the top.
    int k = 0;
    for (uint64_t mask = m.Satellite_Mask; mask; mask &= ~(uint64_t(1) << (63 - __builtin_clzll(mask))))
        satIds[k++] = __builtin_clzll(mask) + 1;
    k = 0;
    for (uint32_t mask = m.Signal_Mask; mask; mask &= ~(uint32_t(1) << (31 - __builtin_clz(mask))))
        sigIds[k++] = __builtin_clz(mask) + 1;
    std::optional<SignalCode> codes[32];
    for (int j = 0; j < nsig; ++j)
        codes[j] = msmSignal(system, sigIds[j]);

    Pending& pending = pendingFor(m.Reference_Station_ID, time);
    if (m.Clock_Steering_Indicator <= 1)
        pending.clockSteering = m.Clock_Steering_Indicator;

    const auto& sd = m.MSM_Satellite_Data;
    const auto& cd = m.MSM_Signal_Data;
    namespace sat = units::MSM_Satellite_Data;
    namespace sig = units::MSM_Signal_Data;
    const ExtendedLockTimes& extendedLock = extendedLockTimes();
    const int rank = rankOfMsm(level);
    int cell = 0;
    for (int i = 0; i < nsat; ++i) {
        const std::optional<SatId> sat = msmSatellite(system, satIds[i]);
        std::optional<int> channel;
        if (system == System::Glonass) {
            if (content.rate)
                mChannels.set(satIds[i], units::value(sat::GLONASS_Satellite_Frequency_Channel_Number,
                                                      sd.GLONASS_Satellite_Frequency_Channel_Number[i]));
            channel = mChannels.of(satIds[i]);
        }
        // The integer milliseconds of the rough range only MSM4 and above send. Ranges are
        // summed in ms, their unit on the wire, and turned into metres once.
        std::optional<double> roughMs;
        const units::Physical& whole = sat::Satellite_Rough_Range_Integer_ms;
        if (content.integerMs && sd.Satellite_Rough_Range_Integer_ms[i] != whole.invalid)
            roughMs = sd.Satellite_Rough_Range_Integer_ms[i] * kWholeStepMs + sd.Satellite_Rough_Range_Mod_1ms[i] * kPartStepMs;
        std::optional<double> roughRate;
        if (content.rate)
            roughRate = units::value(sat::Satellite_Rough_PhaseRangeRate, sd.Satellite_Rough_PhaseRangeRate[i]);
        PendingSatellite* entry = nullptr;

        for (int j = 0; j < nsig; ++j) {
            if (!m.Cell_Mask[i * nsig + j])
                continue;
            const int c = cell++;
            const std::optional<SignalCode>& code = codes[j];
            if (!sat || !code)
                continue;
            if (!entry) {
                entry = &pending.satellite(*sat);
                if (channel)
                    entry->channel = channel;
            }
            // Written in place: a signal is a tenth of a kilobyte, and an epoch has a hundred.
            PendingSignal* s = Pending::slot(*entry, *code, rank);
            if (!s)
                continue;
            s->code = *code;
            s->rank = rank;
            if (roughMs && content.finePseudorange)
                s->pseudorangeM = content.extended
                    ? rangeM<sig::Fine_PseudoRange_Extended_Resolution>(*roughMs, cd.Fine_PseudoRange_Extended_Resolution[c])
                    : rangeM<sig::Fine_PseudoRange>(*roughMs, cd.Fine_PseudoRange[c]);
            if (roughMs && content.finePhase)
                s->phaseM = content.extended
                    ? rangeM<sig::Fine_PhaseRange_Extended_Resolution>(*roughMs, cd.Fine_PhaseRange_Extended_Resolution[c])
                    : rangeM<sig::Fine_PhaseRange>(*roughMs, cd.Fine_PhaseRange[c]);
            if (roughRate)
                if (const auto fine = units::value(sig::Fine_PhaseRangeRate, cd.Fine_PhaseRangeRate[c]))
                    s->rangeRateMps = *roughRate + *fine;
            if (content.cnr)
                s->cn0DbHz = content.extended ? units::value(sig::CNR_Extended_Resolution, cd.CNR_Extended_Resolution[c])
                                              : units::value(sig::CNR, cd.CNR[c]);
            if (content.lock) {
                if (content.extended) {
                    const double lock = extendedLock[cd.PhaseRange_Lock_Time_Indicator_Extended_Resolution[c] & kExtendedLock.highest];
                    if (lock >= 0)
                        s->lockTimeS = lock;
                } else {
                    s->lockTimeS = msmLockTimeS(cd.PhaseRange_Lock_Time_Indicator[c]);
                }
                s->halfCycle = cd.HalfCycle_Ambiguity_Indicator[c] != 0;
            }
        }
    }
    pending.open = m.Multiple_Message_Flag != 0;
    if (!pending.open)
        complete();
}

namespace {

} // namespace

// The L1 (and L2) block of a legacy message in one shape.
struct ObservationAssembly::LegacyBlock {
    const RTCM3_Refsig_Basic_s* l1 = nullptr;
    const RTCM3_Refsig_Extended_s* l1x = nullptr;
    const RTCM3_Deltasig_Basic_s* l2 = nullptr;
    const RTCM3_Deltasig_Extended_s* l2x = nullptr;
};

namespace {

template <typename Element>
ObservationAssembly::LegacyBlock legacyBlock(const Element& e)
{
    ObservationAssembly::LegacyBlock b;
    b.l1 = &e.Refsig_Basic;
    if constexpr (std::is_same_v<Element, RTCM3_Extended_1_s> || std::is_same_v<Element, RTCM3_Extended_2_s>)
        b.l1x = &e.Refsig_Extended;
    if constexpr (std::is_same_v<Element, RTCM3_Basic_2_s> || std::is_same_v<Element, RTCM3_Extended_2_s>)
        b.l2 = &e.Deltasig_Basic;
    if constexpr (std::is_same_v<Element, RTCM3_Extended_2_s>)
        b.l2x = &e.Deltasig_Extended;
    return b;
}

template <typename Element>
void legacyBlocks(std::vector<ObservationAssembly::LegacyBlock>& blocks, const Element* group, int count)
{
    blocks.clear();
    for (int i = 0; group && i < count; ++i)
        blocks.push_back(legacyBlock(group[i]));
}

template <typename Record>
auto* groupOf(const Record& r)
{
    if constexpr (std::is_same_v<Record, RTCM3_Message_Type_1001_s> || std::is_same_v<Record, RTCM3_Message_Type_1009_s>)
        return r.L1_Basic;
    else if constexpr (std::is_same_v<Record, RTCM3_Message_Type_1002_s> || std::is_same_v<Record, RTCM3_Message_Type_1010_s>)
        return r.L1_Extended;
    else if constexpr (std::is_same_v<Record, RTCM3_Message_Type_1003_s> || std::is_same_v<Record, RTCM3_Message_Type_1011_s>)
        return r.L1_L2_Basic;
    else
        return r.L1_L2_Extended;
}

} // namespace

template <typename Record>
void ObservationAssembly::addLegacy(const Record& r)
{
    legacyBlocks(mBlocks, groupOf(r), r.Nr_Of_Satellites);
    addLegacy(r.Message_Number, family::LegacyObservables::of(r), mBlocks);
}

void ObservationAssembly::addLegacy(int number, const family::LegacyObservables& h, const std::vector<LegacyBlock>& blocks)
{
    const bool glonass = number >= 1009;
    RawTime time;
    if (glonass) {
        if (h.Epoch_Time >= kMsPerDay + 1000) {
            mOutput.notice({ViewNotice::Kind::BadTime, 1, "GLONASS epoch time out of range in " + std::to_string(number)});
            return;
        }
        time = {RawTime::Scale::GlonassDay, int64_t(h.Epoch_Time)};
    } else {
        if (h.Epoch_Time >= kMsPerWeek) {
            mOutput.notice({ViewNotice::Kind::BadTime, 1, "epoch time out of range in " + std::to_string(number)});
            return;
        }
        time = {RawTime::Scale::Week, int64_t(h.Epoch_Time)};
    }
    Pending& pending = pendingFor(h.Reference_Station_ID, time);

    const units::Physical ambiguity = units::in(units::Refsig_Extended::Modulus_Ambiguity, number);
    namespace l1u = units::Refsig_Basic;
    namespace l2u = units::Deltasig_Basic;
    for (const LegacyBlock& b : blocks) {
        const int id = b.l1->Satellite_Id;
        std::optional<SatId> sat;
        std::optional<int> channel;
        if (glonass) {
            sat = satelliteFromPrn(System::Glonass, id <= 24 ? id : 0);
            mChannels.set(id, units::value(l1u::Frequency_Number, b.l1->Frequency_Number));
            channel = mChannels.of(id);
        } else {
            // Ids 40 to 58 are the SBAS satellites of PRN 120 to 138.
            sat = id <= 32 ? satelliteFromPrn(System::Gps, id)
                : (id >= 40 && id <= 58 ? satelliteFromPrn(System::Sbas, id + 80) : std::nullopt);
        }
        if (!sat)
            continue;
        // Without the ambiguity (1001, 1003, 1009, 1011) the range is known modulo it only.
        std::optional<double> pr1;
        if (b.l1x)
            if (const auto modulo = units::value(l1u::Pseudorange, b.l1->Pseudorange))
                pr1 = *units::value(ambiguity, b.l1x->Modulus_Ambiguity) + *modulo;

        PendingSignal l1;
        l1.code = glonass ? SignalCode{'1', b.l1->Code_Indicator ? 'P' : 'C'}
                          : SignalCode{'1', b.l1->Code_Indicator ? 'P' : 'C'};
        l1.pseudorangeM = pr1;
        if (const auto phase = units::value(l1u::Phaserange_Min_Pseudorange, b.l1->Phaserange_Min_Pseudorange); pr1 && phase)
            l1.phaseM = *pr1 + *phase;
        l1.rank = rankOfLegacy(number);
        l1.lockTimeS = legacyLockTimeS(b.l1->Lock_Time_Indicator);
        if (b.l1x)
            l1.cn0DbHz = units::value(units::Refsig_Extended::CNR, b.l1x->CNR);
        PendingSatellite& ps = pending.satellite(*sat);
        if (channel)
            ps.channel = channel;
        pending.put(*sat, std::move(l1));

        if (!b.l2 || sat->system == System::Sbas)
            continue;  // SBAS satellites send L1 only: their L2 fields are empty
        // L2 codes: C/A or L2C, P(Y) direct, P(Y) cross-correlated, correlated P/Y.
        static constexpr char kGpsL2[] = {'X', 'P', 'D', 'W'};
        if (glonass && b.l2->Code_Indicator > 1)
            continue;  // reserved
        PendingSignal l2;
        l2.code = glonass ? SignalCode{'2', b.l2->Code_Indicator ? 'P' : 'C'}
                          : SignalCode{'2', kGpsL2[b.l2->Code_Indicator & 3]};
        if (const auto d = units::value(l2u::Pseudorange_Min_Pseudorange, b.l2->Pseudorange_Min_Pseudorange); pr1 && d)
            l2.pseudorangeM = *pr1 + *d;
        if (const auto d = units::value(l2u::Phaserange_Min_Pseudorange, b.l2->Phaserange_Min_Pseudorange); pr1 && d)
            l2.phaseM = *pr1 + *d;
        l2.rank = rankOfLegacy(number);
        l2.lockTimeS = legacyLockTimeS(b.l2->Lock_Time_Indicator);
        if (b.l2x)
            l2.cn0DbHz = units::value(units::Deltasig_Extended::CNR, b.l2x->CNR);
        pending.put(*sat, std::move(l2));
    }
    pending.open = h.Sync_Flag != 0;
    if (!pending.open)
        complete();
}

ObservationAssembly::Pending& ObservationAssembly::pendingFor(uint16_t station, const RawTime& time)
{
    if (mPending->active && !(mPending->open && mPending->station == station && sameInstant(*mPending, time)))
        complete();
    if (!mPending->active)
        mPending->start(station);
    (time.glonass() ? mPending->glonassTime : mPending->weekTime) = time;
    return *mPending;
}

bool ObservationAssembly::sameInstant(const Pending& pending, const RawTime& time) const
{
    const int leap = mOutput.leapSeconds();
    const RawTime& known = pending.weekTime ? *pending.weekTime : *pending.glonassTime;
    const int64_t d = wrapHalf(time.gpsMsOfDay(leap) - known.gpsMsOfDay(leap), kMsPerDay);
    if (d == 0)
        return true;
    // Between GLONASS and another scale, leap seconds not yet known may stand between them.
    return known.glonass() != time.glonass() && d % 1000 == 0 && std::llabs(d) <= kLeapToleranceMs;
}

void ObservationAssembly::complete()
{
    Pending& p = *mPending;
    if (!p.active)
        return;
    p.active = false;
    Gnss::ObservationEpoch& e = mEpoch;
    e.stationId = p.station;
    e.clockSteering = p.clockSteering;
    const RawTime time = p.weekTime ? *p.weekTime : *p.glonassTime;
    // Masks list satellites and signals in order, and receivers send systems in order: sort
    // only where they came otherwise.
    const auto satellites = p.satellites.begin();
    auto bySatellite = [](const PendingSatellite& a, const PendingSatellite& b) { return a.sat < b.sat; };
    if (!std::is_sorted(satellites, satellites + long(p.count), bySatellite)) {
        std::sort(satellites, satellites + long(p.count), bySatellite);
        for (std::size_t i = 0; i < p.count; ++i)
            p.index[Pending::keyOf(p.satellites[i].sat)] = int16_t(i);
    }
    std::size_t n = 0;
    for (std::size_t i = 0; i < p.count; ++i) {
        PendingSatellite& ps = p.satellites[i];
        if (ps.count == 0)
            continue;
        if (n == e.satellites.size()) {
            if (mSpareSatellites.empty()) {
                e.satellites.emplace_back();
            } else {
                e.satellites.push_back(std::move(mSpareSatellites.back()));
                mSpareSatellites.pop_back();
            }
        }
        SatelliteObservations& so = e.satellites[n++];
        so.sat = ps.sat;
        so.glonassChannel.reset();
        if (ps.sat.system == System::Glonass)
            so.glonassChannel = ps.channel ? ps.channel : mChannels.of(ps.sat.number);
        auto bySignal = [](const PendingSignal& a, const PendingSignal& b) { return a.code < b.code; };
        if (!std::is_sorted(ps.begin(), ps.end(), bySignal))
            std::sort(ps.begin(), ps.end(), bySignal);
        // Every member is written: the observations of an earlier epoch are overwritten.
        so.observations.resize(ps.count);
        const std::array<double, 10>& bands = frequencies(ps.sat.system, so.glonassChannel);
        Observation* o = so.observations.data();
        for (const PendingSignal& s : ps) {
            o->code = s.code;
            o->pseudorangeM = s.pseudorangeM.optional();
            o->cn0DbHz = s.cn0DbHz.optional();
            o->lockTimeS = s.lockTimeS.optional();
            o->halfCycleAmbiguity = s.halfCycle;
            const double f = s.code.band >= '0' && s.code.band <= '9'
                ? bands[std::size_t(s.code.band - '0')]
                : carrierFrequencyHz(ps.sat.system, s.code.band, so.glonassChannel).value_or(0.0);
            o->phaseCycles.reset();
            o->dopplerHz.reset();
            if (f > 0 && s.phaseM)
                o->phaseCycles = *s.phaseM * f / kSpeedOfLight;
            if (f > 0 && s.rangeRateMps)
                o->dopplerHz = -*s.rangeRateMps * f / kSpeedOfLight;
            ++o;
        }
    }
    while (e.satellites.size() > n) {
        mSpareSatellites.push_back(std::move(e.satellites.back()));
        e.satellites.pop_back();
    }
    mOutput.completed(e, time);
}

} // namespace Kvt::Nuvrix::View
