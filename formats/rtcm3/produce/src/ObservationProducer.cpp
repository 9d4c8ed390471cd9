#include "ObservationProducer.h"

#include "RTCM3_families.h"
#include "RtcmSignals.h"
#include "kvtcg.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <optional>

namespace Kvt::Nuvrix::Produce {

using namespace Gnss;
using View::msmSatellite;
using View::msmSignal;

namespace {

constexpr double kMsToM = kSpeedOfLight / 1000.0;
constexpr int64_t kMsPerDay = int64_t(kSecondsPerDay) * 1000;
constexpr int64_t kMsPerWeek = int64_t(kSecondsPerWeek) * 1000;
constexpr int64_t kMoscowAheadOfUtcMs = 3 * 3600 * 1000;
constexpr int kMaxPayloadBits = wire::Frame::maxPayloadBytes * 8;
constexpr int kMaxCells = wire::Msm::Cell_Mask.capacity;

// The mask of a field's bits, for values that wrap around in it.
constexpr int64_t wrapMask(const wire::Field& f) { return f.highest; }

int64_t floorMod(int64_t a, int64_t m) { return ((a % m) + m) % m; }

int64_t msOfWeek(const GpsTime& t) { return std::llround(t.tow * 1000.0) % kMsPerWeek; }

// Milliseconds of the GLONASS week (Moscow time) of a GPS instant.
int64_t glonassMsOfWeek(const GpsTime& t)
{
    const int64_t gps = int64_t(t.week) * kMsPerWeek + std::llround(t.tow * 1000.0);
    return floorMod(gps - int64_t(leapSecondsAt(t)) * 1000 + kMoscowAheadOfUtcMs, kMsPerWeek);
}

// round(value / scale) if it lies in [min, max], else nothing.
std::optional<int64_t> quantise(double value, double scale, int64_t min, int64_t max)
{
    const double q = std::round(value / scale);
    if (!(q >= double(min) && q <= double(max)))
        return std::nullopt;
    return int64_t(q);
}

// The nearest raw value of a member if it carries a value, else nothing.
std::optional<int64_t> quantise(double value, const units::Physical& unit)
{
    return quantise(value, unit.scale, units::lowestValid(unit), units::highestValid(unit));
}

namespace sat = units::MSM_Satellite_Data;
namespace sig = units::MSM_Signal_Data;

// MSM ranges travel in light milliseconds: the step of a range member in ms.
constexpr double msStep(const units::Physical& unit) { return unit.scale / kMsToM; }

// How far a fine range member reaches either way, in ms, at both of its resolutions.
double fineReachMs(const units::Physical& standard, const units::Physical& extended)
{
    return std::min(units::highestValid(standard) * msStep(standard), units::highestValid(extended) * msStep(extended));
}

int bitsOf(uint64_t v) { return __builtin_popcountll(v); }

// The bit of a satellite id (1 the first) in the satellite mask, of a signal id in the signal mask.
uint64_t satelliteBit(int id) { return uint64_t(1) << (wire::Msm::Satellite_Mask.bits - id); }
uint32_t signalBit(int id) { return uint32_t(1) << (wire::Msm::Signal_Mask.bits - id); }

// Clears the flag that says more frames of the epoch follow and seals the frame again.
void clearMoreFlag(Frame& frame)
{
    using wire::Frame::Message_Number;
    const int number = int(kvtcg_detail::readBits(frame.data(), uint64_t(Message_Number.offset), unsigned(Message_Number.bits)));
    int bit = wire::Msm::Multiple_Message_Flag.offset;
    family::visitLegacyObservablesType(number, [&](auto type) { bit = wire::Of<typename decltype(type)::type>::Sync_Flag.offset; });
    kvtcg_detail::writeBits(frame.data(), uint64_t(bit), 1, 0);
    const std::size_t body = frame.size() - wire::Frame::crcBits / 8;
    const uint32_t crc = CRC_compute24Q(frame.data(), int32_t(body));
    kvtcg_detail::writeBits(frame.data(), body * 8, wire::Frame::crcBits, crc);
}

int msmSatelliteId(const SatId& sat)
{
    for (int id = 1; id <= View::kMsmSatelliteIds; ++id)
        if (msmSatellite(sat.system, id) == sat)
            return id;
    return 0;
}

int msmSignalId(System system, const SignalCode& code)
{
    for (int id = 1; id <= View::kMsmSignalIds; ++id)
        if (msmSignal(system, id) == code)
            return id;
    return 0;
}

// The largest indicator in [0, last] whose minimum lock time is at most lockTimeS.
template <typename Table>
int lockIndicator(double lockTimeS, int last, Table minimum)
{
    if (!(lockTimeS > 0))
        return 0;
    int lo = 0, hi = last;
    while (lo < hi) {
        const int mid = (lo + hi + 1) / 2;
        if (*minimum(mid) <= lockTimeS)
            lo = mid;
        else
            hi = mid - 1;
    }
    return lo;
}

std::optional<double> rangeOfPhaseM(const SatId& sat, const Observation& o, std::optional<int> channel)
{
    const std::optional<double> f = carrierFrequencyHz(sat.system, o.code.band, channel);
    if (!f || !o.phaseCycles)
        return std::nullopt;
    return *o.phaseCycles * kSpeedOfLight / *f;
}

std::optional<double> rangeRateMps(const SatId& sat, const Observation& o, std::optional<int> channel)
{
    const std::optional<double> f = carrierFrequencyHz(sat.system, o.code.band, channel);
    if (!f || !o.dopplerHz)
        return std::nullopt;
    return -*o.dopplerHz * kSpeedOfLight / *f;
}

struct MsmCell {
    int signalId;
    const Observation* obs;
};

struct MsmSatellite {
    int id;
    const SatelliteObservations* sat;
    std::vector<MsmCell> cells;  // by signal id
    uint32_t signalMask;         // signalBit(id) per signal
};

} // namespace

int msmLockIndicator(double lockTimeS)
{
    return lockIndicator(lockTimeS, int(wire::Message_Type_1074::MSM_Signal_Data::PhaseRange_Lock_Time_Indicator.highest),
                         View::msmLockTimeS);
}
// The indicators above 704 are reserved.
int msmExtendedLockIndicator(double lockTimeS) { return lockIndicator(lockTimeS, 704, View::msmExtendedLockTimeS); }
int legacyLockIndicator(double lockTimeS)
{
    return lockIndicator(lockTimeS, int(wire::Message_Type_1001::L1_Basic::Refsig_Basic::Lock_Time_Indicator.highest),
                         View::legacyLockTimeS);
}

int msmMessageNumber(System system, int level) { return 1071 + 10 * static_cast<int>(system) + level - 1; }

// Fills one MSM record with a group of satellites of one system.
struct MsmBuilder {
    int level;
    System system;
    int number;
    _RTCM3_message_t record;

    MsmBuilder(System s, int lvl) : level(lvl), system(s), number(msmMessageNumber(s, lvl))
    {
        std::memset(&record, 0, sizeof record);  // init sets the header only
        edit([](auto& m) { family::init(&m); });
    }

    // Calls f with the record in the type of its message.
    template <typename F>
    void edit(F&& f)
    {
        family::visitMsm(number, record, f);
    }

    void header(const ObservationEpoch& e, int iods, bool more)
    {
        edit([&](auto& m) {
            m.Reference_Station_ID = uint16_t(e.stationId & wrapMask(wire::Msm::Reference_Station_ID));
            if (system == System::Glonass) {
                const int64_t ms = glonassMsOfWeek(e.time);
                m.Day_of_Week = uint8_t(ms / kMsPerDay);
                m.Epoch_Time = uint32_t(ms % kMsPerDay);
            } else if (system == System::BeiDou) {
                m.Epoch_Time = uint32_t(floorMod(msOfWeek(e.time) - kBdtSecondsBehindGps * 1000, kMsPerWeek));
            } else {
                m.Epoch_Time = uint32_t(msOfWeek(e.time));
            }
            m.Multiple_Message_Flag = more ? 1 : 0;
            m.IODS = uint8_t(iods);
            m.Clock_Steering_Indicator = e.clockSteering >= 0 ? uint8_t(e.clockSteering) : 2;
            m.External_Clock_Indicator = 3;  // unknown
        });
    }

    void satellites(const std::vector<const MsmSatellite*>& group)
    {
        edit([&](auto& m) { satellites(m, group); });
    }

    template <typename Msm>
    void satellites(Msm& m, const std::vector<const MsmSatellite*>& group)
    {
        uint32_t signals = 0;
        for (const MsmSatellite* s : group) {
            m.Satellite_Mask |= satelliteBit(s->id);
            signals |= s->signalMask;
        }
        m.Signal_Mask = signals;
        int sigIds[wire::Msm::Signal_Mask.bits], nsig = 0;
        for (int id = 1; id <= wire::Msm::Signal_Mask.bits; ++id)
            if (signals & signalBit(id))
                sigIds[nsig++] = id;
        m.Nsat = uint8_t(group.size());
        m.Nsig = uint8_t(nsig);
        m.Cell_Mask_Length = uint8_t(group.size() * std::size_t(nsig));
        int cell = 0, ncell = 0;
        for (std::size_t i = 0; i < group.size(); ++i) {
            satellite(m.MSM_Satellite_Data, int(i), *group[i]);
            auto next = group[i]->cells.begin();
            for (int j = 0; j < nsig; ++j) {
                const bool here = next != group[i]->cells.end() && next->signalId == sigIds[j];
                m.Cell_Mask[cell++] = here;
                if (here)
                    signal(m.MSM_Signal_Data, ncell++, *group[i], *next++);
            }
        }
        m.Ncell = uint8_t(ncell);
    }

    // The reference of a satellite's fine values: its first pseudorange, else its first phase
    // range, rounded to the rough resolution; and its mean range rate rounded to 1 m/s.
    std::optional<double> roughMs;
    std::optional<double> roughRate;

    // A rough range that every fine value of the satellite can be given against: the middle
    // of the ranges each pseudorange and phase range allows, or, where they allow none in
    // common, the middle of the pseudoranges.
    std::optional<double> roughRangeMs(const MsmSatellite& s) const
    {
        const double prReach = fineReachMs(sig::Fine_PseudoRange, sig::Fine_PseudoRange_Extended_Resolution);
        const double phReach = fineReachMs(sig::Fine_PhaseRange, sig::Fine_PhaseRange_Extended_Resolution);
        double lo = -1e300, hi = 1e300, prMin = 1e300, prMax = -1e300;
        bool any = false;
        for (const MsmCell& c : s.cells) {
            if (c.obs->pseudorangeM) {
                const double v = *c.obs->pseudorangeM / kMsToM;
                lo = std::max(lo, v - prReach);
                hi = std::min(hi, v + prReach);
                prMin = std::min(prMin, v);
                prMax = std::max(prMax, v);
                any = true;
            }
            if (const std::optional<double> ph = rangeOfPhaseM(s.sat->sat, *c.obs, s.sat->glonassChannel)) {
                lo = std::max(lo, *ph / kMsToM - phReach);
                hi = std::min(hi, *ph / kMsToM + phReach);
                any = true;
            }
        }
        if (!any)
            return std::nullopt;
        // A rough value of the rough resolution inside [lo, hi], nearest its middle.
        const double step = msStep(sat::Satellite_Rough_Range_Mod_1ms);
        const double unitsLo = std::ceil(lo / step), unitsHi = std::floor(hi / step);
        if (unitsLo <= unitsHi)
            return std::clamp(std::round((lo + hi) / 2 / step), unitsLo, unitsHi) * step;
        return prMin <= prMax ? std::optional<double>((prMin + prMax) / 2) : std::nullopt;
    }

    void satellite(RTCM3_MSM_Satellite_Data_s& d, int i, const MsmSatellite& s)
    {
        const std::optional<int> channel = s.sat->glonassChannel;
        std::optional<double> rateSum;
        int rates = 0;
        for (const MsmCell& c : s.cells)
            if (const std::optional<double> r = rangeRateMps(s.sat->sat, *c.obs, channel)) {
                rateSum = rateSum.value_or(0.0) + *r;
                ++rates;
            }
        roughMs.reset();
        const units::Physical& whole = sat::Satellite_Rough_Range_Integer_ms;
        const units::Physical& part = sat::Satellite_Rough_Range_Mod_1ms;
        d.Satellite_Rough_Range_Integer_ms[i] = uint8_t(whole.invalid);
        d.Satellite_Rough_Range_Mod_1ms[i] = 0;
        if (const std::optional<double> rangeMs = roughRangeMs(s)) {
            // In steps of the fractional part: the integer milliseconds above it.
            const int64_t perMs = part.highest + 1;
            const std::optional<int64_t> q = quantise(*rangeMs, msStep(part), 0, units::highestValid(whole) * perMs + part.highest);
            if (q) {
                roughMs = double(*q) * msStep(part);
                d.Satellite_Rough_Range_Integer_ms[i] = uint8_t(*q / perMs);
                d.Satellite_Rough_Range_Mod_1ms[i] = uint16_t(*q % perMs);
            }
        }
        roughRate.reset();
        const units::Physical& rate = sat::Satellite_Rough_PhaseRangeRate;
        d.Satellite_Rough_PhaseRangeRate[i] = int16_t(rate.invalid);
        if (rates)
            if (const std::optional<int64_t> q = quantise(*rateSum / rates, rate)) {
                roughRate = double(*q) * rate.scale;
                d.Satellite_Rough_PhaseRangeRate[i] = int16_t(*q);
            }
        d.Extended_Satellite_Information[i] = 0;
        // The field's top value where no channel is known.
        using Glonass = wire::Message_Type_1085::MSM_Satellite_Data;
        d.GLONASS_Satellite_Frequency_Channel_Number[i] =
            channel ? units::rawOf<uint8_t>(sat::GLONASS_Satellite_Frequency_Channel_Number, *channel)
                    : uint8_t(Glonass::GLONASS_Satellite_Frequency_Channel_Number.highest);
        cellsOfSatellite = &s;
    }
    const MsmSatellite* cellsOfSatellite = nullptr;

    // A fine value of the member `Unit` relative to the rough range in its steps, or its
    // invalid value.
    template <const units::Physical& Unit>
    int32_t fine(std::optional<double> rangeM) const
    {
        constexpr double step = msStep(Unit);
        if (!rangeM || !roughMs)
            return int32_t(Unit.invalid);
        const double q = std::round((*rangeM / kMsToM - *roughMs) / step);
        return q >= double(units::lowestValid(Unit)) && q <= double(units::highestValid(Unit)) ? int32_t(q)
                                                                                              : int32_t(Unit.invalid);
    }

    void signal(RTCM3_MSM_Signal_Data_s& d, int c, const MsmSatellite& s, const MsmCell& cell)
    {
        const Observation& o = *cell.obs;
        const std::optional<double> phaseM = rangeOfPhaseM(s.sat->sat, o, s.sat->glonassChannel);
        // Without the integer milliseconds (MSM1-3) the rough range is known modulo one.
        d.Fine_PseudoRange[c] = int16_t(fine<sig::Fine_PseudoRange>(o.pseudorangeM));
        d.Fine_PhaseRange[c] = fine<sig::Fine_PhaseRange>(phaseM);
        d.Fine_PseudoRange_Extended_Resolution[c] = fine<sig::Fine_PseudoRange_Extended_Resolution>(o.pseudorangeM);
        d.Fine_PhaseRange_Extended_Resolution[c] = fine<sig::Fine_PhaseRange_Extended_Resolution>(phaseM);
        const double lock = o.lockTimeS.value_or(0.0);
        d.PhaseRange_Lock_Time_Indicator[c] = uint8_t(msmLockIndicator(lock));
        d.PhaseRange_Lock_Time_Indicator_Extended_Resolution[c] = uint16_t(msmExtendedLockIndicator(lock));
        d.HalfCycle_Ambiguity_Indicator[c] = o.halfCycleAmbiguity ? 1 : 0;
        d.CNR[c] = uint8_t(sig::CNR.invalid);
        d.CNR_Extended_Resolution[c] = uint16_t(sig::CNR_Extended_Resolution.invalid);
        if (o.cn0DbHz) {
            d.CNR[c] = uint8_t(quantise(*o.cn0DbHz, sig::CNR).value_or(sig::CNR.invalid));
            d.CNR_Extended_Resolution[c] = uint16_t(
                quantise(*o.cn0DbHz, sig::CNR_Extended_Resolution).value_or(sig::CNR_Extended_Resolution.invalid));
        }
        const units::Physical& fineRate = sig::Fine_PhaseRangeRate;
        d.Fine_PhaseRangeRate[c] = int16_t(fineRate.invalid);
        const std::optional<double> rate = rangeRateMps(s.sat->sat, o, s.sat->glonassChannel);
        if (rate && roughRate)
            d.Fine_PhaseRangeRate[c] = int16_t(quantise(*rate - *roughRate, fineRate).value_or(fineRate.invalid));
    }

    Frame encode()
    {
        Frame frame(wire::Frame::maxBytes);
        const int32_t bits = RTCM3_encode_message(frame.data(), uint16_t(frame.size()), &record);
        if (bits <= 0)
            return {};
        frame.resize(std::size_t(bits) / 8);
        return frame;
    }
};

ObservationProducer::ObservationProducer() { setAllMsm(7); }

void ObservationProducer::setKind(System system, const ObservationKind& kind)
{
    mKinds[static_cast<std::size_t>(system)] = kind;
}

void ObservationProducer::setAllMsm(int level)
{
    mKinds.fill(ObservationKind::msm(level));
}

void ObservationProducer::setAllLegacy(bool extended, bool dualFrequency)
{
    const int offset = (dualFrequency ? 2 : 0) + (extended ? 1 : 0);
    mKinds.fill(ObservationKind::none());
    setKind(System::Gps, ObservationKind::legacy(1001 + offset));
    setKind(System::Sbas, ObservationKind::legacy(1001 + offset));
    setKind(System::Glonass, ObservationKind::legacy(1009 + offset));
}

ObservationKind ObservationProducer::kind(System system) const
{
    return mKinds[static_cast<std::size_t>(system)];
}

void ObservationProducer::report(const std::string& what)
{
    if (mReport && mReported.insert(what).second)
        mReport(what);
}

std::vector<Frame> ObservationProducer::produce(const ObservationEpoch& epoch)
{
    std::vector<Frame> frames;
    for (int s = 0; s < kSystemCount; ++s) {
        const System system = static_cast<System>(s);
        const ObservationKind k = kind(system);
        // Legacy GPS messages carry SBAS satellites as well.
        const bool sbasWithGps = k.isLegacy() && kind(System::Sbas).isLegacy() && kind(System::Gps).isLegacy();
        if (system == System::Sbas && sbasWithGps)
            continue;
        const bool present = std::any_of(epoch.satellites.begin(), epoch.satellites.end(), [&](const SatelliteObservations& so) {
            return so.sat.system == system || (system == System::Gps && sbasWithGps && so.sat.system == System::Sbas);
        });
        if (!present)
            continue;
        if (!k.sent()) {
            report(std::string(systemName(system)) + " observations: not sent in the chosen messages");
            continue;
        }
        if (k.isLegacy())
            legacyFrames(epoch, system, k.legacyNumber, frames);
        else
            msmFrames(epoch, system, std::clamp(k.msmLevel, 1, 7), frames);
    }
    // The last frame of the epoch closes it.
    if (!frames.empty())
        clearMoreFlag(frames.back());
    return frames;
}

void ObservationProducer::msmFrames(const ObservationEpoch& epoch, System system, int level, std::vector<Frame>& out)
{
    std::vector<MsmSatellite> sats;
    for (const SatelliteObservations& so : epoch.satellites) {
        if (so.sat.system != system)
            continue;
        MsmSatellite s{msmSatelliteId(so.sat), &so, {}, 0};
        if (!s.id) {
            report("satellite " + so.sat.toString() + ": no MSM satellite number");
            continue;
        }
        for (const Observation& o : so.observations) {
            const int id = msmSignalId(system, o.code);
            if (!id) {
                report(std::string(systemName(system)) + " signal " + o.code.toString() + ": no MSM signal number");
                continue;
            }
            if (s.signalMask & signalBit(id))
                continue;  // one value per signal
            s.signalMask |= signalBit(id);
            s.cells.push_back({id, &o});
        }
        std::sort(s.cells.begin(), s.cells.end(), [](const MsmCell& a, const MsmCell& b) { return a.signalId < b.signalId; });
        if (!s.cells.empty())
            sats.push_back(std::move(s));
    }
    std::sort(sats.begin(), sats.end(), [](const MsmSatellite& a, const MsmSatellite& b) { return a.id < b.id; });

    // Satellites in groups that each fit a frame.
    int fixedBits = 0, satelliteBits = 0, maskBits = 0, cellBits = 0;
    family::visitMsmType(msmMessageNumber(system, level), [&](auto type) {
        using Bits = wire::Bits<typename decltype(type)::type>;
        fixedBits = Bits::fixed;
        satelliteBits = Bits::Nsat;
        maskBits = Bits::Cell_Mask_Length;
        cellBits = Bits::Ncell;
    });
    std::vector<std::vector<const MsmSatellite*>> groups;
    uint32_t signals = 0;
    int cells = 0;
    for (const MsmSatellite& s : sats) {
        auto fits = [&](uint32_t sig, std::size_t nsat, int ncell) {
            const int nsig = bitsOf(sig);
            const int bits = fixedBits + int(nsat) * nsig * maskBits + int(nsat) * satelliteBits + ncell * cellBits;
            return int(nsat) * nsig <= kMaxCells && bits <= kMaxPayloadBits;
        };
        if (groups.empty() || !fits(signals | s.signalMask, groups.back().size() + 1, cells + int(s.cells.size()))) {
            groups.emplace_back();
            signals = 0;
            cells = 0;
        }
        groups.back().push_back(&s);
        signals |= s.signalMask;
        cells += int(s.cells.size());
    }
    for (const auto& group : groups) {
        MsmBuilder b(system, level);
        b.header(epoch, mIods, true);
        b.satellites(group);
        Frame f = b.encode();
        if (!f.empty())
            out.push_back(std::move(f));
    }
}

namespace {

// The codes legacy messages tell apart: GPS L1 C/A or P, L2 C/A (or L2C), P, cross-correlated
// and correlated P(Y); GLONASS C/A or P on both bands. Lower rank is preferred.
struct LegacyCode {
    char attribute;
    int indicator;
};
constexpr LegacyCode kGpsL1[] = {{'C', 0}, {'P', 1}, {'W', 1}};
constexpr LegacyCode kGpsL2[] = {{'W', 3}, {'P', 1}, {'D', 2}, {'X', 0}, {'L', 0}, {'S', 0}, {'C', 0}};
constexpr LegacyCode kGlonassL1[] = {{'C', 0}, {'P', 1}};
constexpr LegacyCode kGlonassL2[] = {{'C', 0}, {'P', 1}};

template <std::size_t N>
const Observation* pickLegacy(const SatelliteObservations& so, char band, const LegacyCode (&codes)[N], int& indicator)
{
    for (const LegacyCode& c : codes)
        for (const Observation& o : so.observations)
            if (o.code.band == band && o.code.attribute == c.attribute) {
                indicator = c.indicator;
                return &o;
            }
    return nullptr;
}

int legacySatelliteId(const SatId& sat)
{
    switch (sat.system) {
    case System::Gps: return sat.number <= 32 ? sat.number : 0;
    case System::Glonass: return sat.number <= 24 ? sat.number : 0;
    case System::Sbas: {
        // SBAS PRN 120 to 138 as ids 40 to 58.
        const int prn = sat.number + 100;
        return prn >= 120 && prn <= 138 ? prn - 80 : 0;
    }
    default: return 0;
    }
}

// The data members of the observable blocks, leaving each element's header and parent link.
void put(RTCM3_Refsig_Basic_s& d, const RTCM3_Refsig_Basic_s& s)
{
    d.Satellite_Id = s.Satellite_Id;
    d.Code_Indicator = s.Code_Indicator;
    d.Frequency_Number = s.Frequency_Number;
    d.Pseudorange = s.Pseudorange;
    d.Phaserange_Min_Pseudorange = s.Phaserange_Min_Pseudorange;
    d.Lock_Time_Indicator = s.Lock_Time_Indicator;
}
void put(RTCM3_Refsig_Extended_s& d, const RTCM3_Refsig_Extended_s& s)
{
    d.Modulus_Ambiguity = s.Modulus_Ambiguity;
    d.CNR = s.CNR;
}
void put(RTCM3_Deltasig_Basic_s& d, const RTCM3_Deltasig_Basic_s& s)
{
    d.Code_Indicator = s.Code_Indicator;
    d.Pseudorange_Min_Pseudorange = s.Pseudorange_Min_Pseudorange;
    d.Phaserange_Min_Pseudorange = s.Phaserange_Min_Pseudorange;
    d.Lock_Time_Indicator = s.Lock_Time_Indicator;
}
void put(RTCM3_Deltasig_Extended_s& d, const RTCM3_Deltasig_Extended_s& s) { d.CNR = s.CNR; }

struct LegacyValues {
    RTCM3_Refsig_Basic_s l1{};
    RTCM3_Refsig_Extended_s l1x{};
    RTCM3_Deltasig_Basic_s l2{};
    RTCM3_Deltasig_Extended_s l2x{};
};

// One satellite's block of each of the four levels.
void putBlock(RTCM3_Basic_1_s& e, const LegacyValues& v) { put(e.Refsig_Basic, v.l1); }
void putBlock(RTCM3_Extended_1_s& e, const LegacyValues& v)
{
    put(e.Refsig_Basic, v.l1);
    put(e.Refsig_Extended, v.l1x);
}
void putBlock(RTCM3_Basic_2_s& e, const LegacyValues& v)
{
    put(e.Refsig_Basic, v.l1);
    put(e.Deltasig_Basic, v.l2);
}
void putBlock(RTCM3_Extended_2_s& e, const LegacyValues& v)
{
    put(e.Refsig_Basic, v.l1);
    put(e.Refsig_Extended, v.l1x);
    put(e.Deltasig_Basic, v.l2);
    put(e.Deltasig_Extended, v.l2x);
}

LegacyValues legacyValues(const SatelliteObservations& so, int id, int number, bool glonass, int& signals)
{
    LegacyValues v;
    v.l1.Satellite_Id = uint8_t(id);
    namespace l1u = units::Refsig_Basic;
    namespace l2u = units::Deltasig_Basic;
    v.l1.Pseudorange = uint32_t(l1u::Pseudorange.invalid);
    v.l1.Phaserange_Min_Pseudorange = int32_t(l1u::Phaserange_Min_Pseudorange.invalid);
    v.l2.Pseudorange_Min_Pseudorange = int16_t(l2u::Pseudorange_Min_Pseudorange.invalid);
    v.l2.Phaserange_Min_Pseudorange = int32_t(l2u::Phaserange_Min_Pseudorange.invalid);
    // The field's top value where no channel is known.
    using Glonass = wire::Message_Type_1009::L1_Basic::Refsig_Basic;
    v.l1.Frequency_Number = so.glonassChannel ? units::rawOf<uint8_t>(l1u::Frequency_Number, *so.glonassChannel)
                                              : uint8_t(Glonass::Frequency_Number.highest);
    int i1 = 0, i2 = 0;
    const Observation* o1 = glonass ? pickLegacy(so, '1', kGlonassL1, i1) : pickLegacy(so, '1', kGpsL1, i1);
    const Observation* o2 = glonass ? pickLegacy(so, '2', kGlonassL2, i2) : pickLegacy(so, '2', kGpsL2, i2);
    signals = (o1 ? 1 : 0) + (o2 ? 1 : 0);
    v.l1.Code_Indicator = uint8_t(i1);
    v.l2.Code_Indicator = uint8_t(i2);
    // The range is sent modulo the ambiguity's step, which the extended message (the even
    // number after an odd one) states, also where it sends no ambiguity.
    const double ambiguityM = units::in(units::Refsig_Extended::Modulus_Ambiguity, number + number % 2).scale;
    using gps = wire::Message_Type_1004::L1_L2_Extended;
    using glo = wire::Message_Type_1012::L1_L2_Extended;
    const int64_t rangeMax = glonass ? glo::Refsig_Basic::Pseudorange.highest : gps::Refsig_Basic::Pseudorange.highest;
    const int64_t ambiguityMax = glonass ? glo::Refsig_Extended::Modulus_Ambiguity.highest
                                         : gps::Refsig_Extended::Modulus_Ambiguity.highest;
    std::optional<double> pr1;
    if (o1 && o1->pseudorangeM && *o1->pseudorangeM >= 0) {
        const double amb = std::floor(*o1->pseudorangeM / ambiguityM);
        const std::optional<int64_t> q =
            quantise(*o1->pseudorangeM - amb * ambiguityM, l1u::Pseudorange.scale, 0, rangeMax);
        if (q && *q != l1u::Pseudorange.invalid && amb <= double(ambiguityMax)) {
            v.l1.Pseudorange = uint32_t(*q);
            v.l1x.Modulus_Ambiguity = uint8_t(amb);
            pr1 = amb * ambiguityM + double(*q) * l1u::Pseudorange.scale;
        }
    }
    auto phaseDiff = [&](const Observation* o) -> int32_t {
        const int64_t invalid = l1u::Phaserange_Min_Pseudorange.invalid;
        const std::optional<double> phaseM = o ? rangeOfPhaseM(so.sat, *o, so.glonassChannel) : std::nullopt;
        if (!phaseM || !pr1)
            return int32_t(invalid);
        return int32_t(quantise(*phaseM - *pr1, l1u::Phaserange_Min_Pseudorange).value_or(invalid));
    };
    auto cnr = [](const Observation* o) {
        const units::Physical& unit = units::Refsig_Extended::CNR;
        return o && o->cn0DbHz ? uint8_t(quantise(*o->cn0DbHz, unit).value_or(unit.invalid)) : uint8_t(unit.invalid);
    };
    v.l1.Phaserange_Min_Pseudorange = phaseDiff(o1);
    v.l1.Lock_Time_Indicator = uint8_t(o1 ? legacyLockIndicator(o1->lockTimeS.value_or(0.0)) : 0);
    v.l1x.CNR = cnr(o1);
    if (o2) {
        if (o2->pseudorangeM && pr1)
            v.l2.Pseudorange_Min_Pseudorange = int16_t(quantise(*o2->pseudorangeM - *pr1, l2u::Pseudorange_Min_Pseudorange)
                                                           .value_or(l2u::Pseudorange_Min_Pseudorange.invalid));
        v.l2.Phaserange_Min_Pseudorange = phaseDiff(o2);
        v.l2.Lock_Time_Indicator = uint8_t(legacyLockIndicator(o2->lockTimeS.value_or(0.0)));
        v.l2x.CNR = cnr(o2);
    }
    return v;
}

} // namespace

void ObservationProducer::legacyFrames(const ObservationEpoch& epoch, System system, int number, std::vector<Frame>& out)
{
    const bool glonass = system == System::Glonass;
    if (system != System::Gps && system != System::Sbas && !glonass) {
        report(std::string(systemName(system)) + " observations: legacy messages carry GPS, SBAS and GLONASS only");
        return;
    }
    if (glonass != (number >= 1009)) {
        report(std::string(systemName(system)) + " observations: not in message " + std::to_string(number));
        return;
    }
    const int level = (number - 1) % 4;  // 0: 1001, 3: 1004
    const bool dual = level >= 2;
    int fixedBits = 0, satelliteBits = 0, countLimit = 0;
    family::visitLegacyObservablesType(number, [&](auto type) {
        using Record = typename decltype(type)::type;
        fixedBits = wire::Bits<Record>::fixed;
        satelliteBits = wire::Bits<Record>::Nr_Of_Satellites;
        countLimit = int(wire::Of<Record>::Nr_Of_Satellites.highest);
    });
    std::vector<LegacyValues> values;
    const bool withSbas = system == System::Gps && kind(System::Sbas).isLegacy();
    for (const SatelliteObservations& so : epoch.satellites) {
        if (so.sat.system != system && !(withSbas && so.sat.system == System::Sbas))
            continue;
        const int id = legacySatelliteId(so.sat);
        if (!id) {
            report("satellite " + so.sat.toString() + ": no number in legacy messages");
            continue;
        }
        int signals = 0;
        LegacyValues v = legacyValues(so, id, number, glonass, signals);
        for (const Observation& o : so.observations) {
            int unused = 0;
            const bool l1 = o.code.band == '1', l2 = o.code.band == '2' && dual;
            const bool known = glonass ? (l1 && pickLegacy(so, '1', kGlonassL1, unused) == &o)
                    || (l2 && pickLegacy(so, '2', kGlonassL2, unused) == &o)
                                       : (l1 && pickLegacy(so, '1', kGpsL1, unused) == &o)
                    || (l2 && pickLegacy(so, '2', kGpsL2, unused) == &o);
            if (!known)
                report(std::string(systemName(system)) + " signal " + o.code.toString() + ": not carried by "
                       + std::to_string(number));
        }
        if (signals == 0)
            continue;
        values.push_back(v);
    }
    const std::size_t perFrame = std::size_t((kMaxPayloadBits - fixedBits) / satelliteBits);
    const std::size_t limit = std::min<std::size_t>(perFrame, std::size_t(countLimit));
    for (std::size_t first = 0; first < values.size(); first += limit) {
        const std::size_t count = std::min(limit, values.size() - first);
        _RTCM3_message_t record;
    std::memset(&record, 0, sizeof record);  // init sets the header only
        family::visitLegacyObservables(number, record, [&](auto& r) {
            family::init(&r);
            r.Reference_Station_ID = uint16_t(epoch.stationId & wrapMask(wire::LegacyObservables::Reference_Station_ID));
            r.Epoch_Time = glonass ? uint32_t(glonassMsOfWeek(epoch.time) % kMsPerDay) : uint32_t(msOfWeek(epoch.time));
            r.Sync_Flag = 1;
            for (std::size_t i = first; i < first + count; ++i)
                putBlock(*family::append(&r), values[i]);
        });
        Frame frame(wire::Frame::maxBytes);
        const int32_t bits = RTCM3_encode_message(frame.data(), uint16_t(frame.size()), &record);
        RTCM3_free_message_children(&record);
        if (bits > 0) {
            frame.resize(std::size_t(bits) / 8);
            out.push_back(std::move(frame));
        }
    }
}

} // namespace Kvt::Nuvrix::Produce
