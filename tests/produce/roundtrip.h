#pragma once
// The round trip through the wire: a stream decoded by the view, produced again as the same
// message kinds, decoded again. What each frame carries is read straight from the records
// (not through the view or the producer) into keyed integers, so that both sides are compared
// on the message's own terms: an MSM range as the sum of its rough and fine parts in the
// finest unit, whichever way a producer split it.

#include "GnssView.h"
#include "ObservationProducer.h"
#include "RTCM3_families.h"
#include "RTCM3_reflect.h"
#include "RecordProducer.h"
#include "RtcmSignals.h"

#include <gtest/gtest.h>

#include <climits>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace roundtrip {

using namespace Kvt;
using namespace Kvt::Nuvrix;
using Bytes = std::vector<uint8_t>;
using Values = std::map<std::string, int64_t>;
constexpr int64_t kInvalid = INT64_MIN;

inline bool isLegacy(int n) { return (n >= 1001 && n <= 1004) || (n >= 1009 && n <= 1012); }
inline bool isObservation(int n) { return View::msmSystem(n) || isLegacy(n); }
// The view keeps, of two messages on one signal, the full MSMs over legacy messages with the
// ambiguity, over MSM1-3, over legacy messages without it.
inline int rank(int n) { return View::msmSystem(n) ? (View::msmLevel(n) >= 4 ? 100 : 2) + View::msmLevel(n) : n % 2 == 0 ? 10 : 1; }
inline Gnss::System systemOf(int n) { return View::msmSystem(n) ? *View::msmSystem(n) : n >= 1009 ? Gnss::System::Glonass : Gnss::System::Gps; }

// What the data model can hold of an epoch: whether the phase of a GLONASS satellite has a
// frequency (its channel known to the view).
using ChannelKnown = std::function<bool(int slot)>;

// Captures may send a GLONASS day of week or a time of week that disagrees with the other
// systems' epoch, and come without the date that gives the leap seconds GLONASS times
// depend on: without strictDay only the time of day (GLONASS: the part of a second) is
// compared.
inline void msmValues(const _RTCM3_message_t& record, const ChannelKnown& channelKnown, bool strictDay, Values& v)
{
    const auto& m = record.Message_Type_1077;
    const int n = m.Message_Number, level = View::msmLevel(n);
    const Gnss::System system = *View::msmSystem(n);
    const std::string s(1, Gnss::systemLetter(system));
    const std::size_t before = v.size();
    const auto& sd = m.MSM_Satellite_Data;
    const auto& cd = m.MSM_Signal_Data;
    const bool extended = level >= 6, rate = level == 5 || level == 7;
    int sat = 0, cell = 0;
    for (int id = 1; id <= 64; ++id) {
        if (!(m.Satellite_Mask >> (64 - id) & 1))
            continue;
        const int i = sat++;
        const bool known = View::msmSatellite(system, id).has_value();
        const bool frequency = system != Gnss::System::Glonass || channelKnown(id);
        int sig = 0;
        for (int sid = 1; sid <= 32; ++sid) {
            if (!(m.Signal_Mask >> (32 - sid) & 1))
                continue;
            if (!m.Cell_Mask[i * m.Nsig + sig++])
                continue;
            const int c = cell++;
            if (!known || !View::msmSignal(system, sid))
                continue;  // no name in the data model
            const std::string k = s + std::to_string(id) + "/" + std::to_string(sid) + "/";
            v[k + "cell"] = 1;
            if (rate && system == Gnss::System::Glonass && sd.GLONASS_Satellite_Frequency_Channel_Number[i] <= 13)
                v[k + "channel"] = sd.GLONASS_Satellite_Frequency_Channel_Number[i];
            if (level >= 2) {
                // Indicators 705 and above are reserved: no lock time to hold.
                if (!extended || cd.PhaseRange_Lock_Time_Indicator_Extended_Resolution[c] <= 704)
                    v[k + "lock"] = extended ? cd.PhaseRange_Lock_Time_Indicator_Extended_Resolution[c]
                                             : cd.PhaseRange_Lock_Time_Indicator[c];
                v[k + "half"] = cd.HalfCycle_Ambiguity_Indicator[c];
            }
            if (level < 4)
                continue;
            v[k + "cnr"] = extended ? cd.CNR_Extended_Resolution[c] : cd.CNR[c];
            const bool rough = sd.Satellite_Rough_Range_Integer_ms[i] != 255;
            const int64_t roughUnits = int64_t(sd.Satellite_Rough_Range_Integer_ms[i]) * 1024 + sd.Satellite_Rough_Range_Mod_1ms[i];
            const int64_t pr = extended ? cd.Fine_PseudoRange_Extended_Resolution[c] : cd.Fine_PseudoRange[c];
            const int64_t ph = extended ? cd.Fine_PhaseRange_Extended_Resolution[c] : cd.Fine_PhaseRange[c];
            const bool prOk = pr != (extended ? -524288 : -16384), phOk = ph != (extended ? -8388608 : -2097152);
            // Rough units are 2^-10 ms; fine ones 2^-24 or 2^-29 (pseudorange), 2^-29 or 2^-31 (phase).
            v[k + "pr"] = rough && prOk ? (roughUnits << (extended ? 19 : 14)) + pr : kInvalid;
            v[k + "phase"] = rough && phOk && frequency ? (roughUnits << (extended ? 21 : 19)) + ph : kInvalid;
            if (rate) {
                const bool ok = sd.Satellite_Rough_PhaseRangeRate[i] != -8192 && cd.Fine_PhaseRangeRate[c] != -16384;
                v[k + "rate"] = ok && frequency ? int64_t(sd.Satellite_Rough_PhaseRangeRate[i]) * 10000 + cd.Fine_PhaseRangeRate[c] : kInvalid;
            }
        }
    }
    // A frame without a cell the data model can name leaves no epoch behind.
    if (v.size() == before)
        return;
    v[s + "station"] = m.Reference_Station_ID;
    v[s + "time"] = strictDay ? m.Epoch_Time : system == Gnss::System::Glonass ? m.Epoch_Time % 1000 : m.Epoch_Time % 86400000;
    if (system == Gnss::System::Glonass && m.Day_of_Week != 7 && strictDay)
        v[s + "day"] = m.Day_of_Week;
    if (m.Clock_Steering_Indicator <= 1)
        v[s + "steering"] = m.Clock_Steering_Indicator;
}

template <typename Element>
void legacyBlocks(int n, const Element* e, int count, Values& v)
{
    const bool glonass = n >= 1009, extended = n % 2 == 0;
    const std::string s = glonass ? "R" : "G";
    for (int i = 0; i < count && e; ++i) {
        const auto& l1 = e[i].Refsig_Basic;
        const int id = l1.Satellite_Id;
        if (id == 0 || (glonass ? id > 24 : (id > 32 && (id < 40 || id > 58))))
            continue;
        const std::string k = s + std::to_string(id) + "/";
        v[k + "code1"] = l1.Code_Indicator;
        v[k + "lock1"] = l1.Lock_Time_Indicator;
        if (glonass && l1.Frequency_Number <= 13)
            v[k + "channel"] = l1.Frequency_Number;
        // A range past one ambiguity unit is the same range as the data model holds it, but
        // split otherwise than a producer would split it.
        const units::Physical ambiguity = units::in(units::Refsig_Extended::Modulus_Ambiguity, n);
        const std::optional<double> modulo = units::value(units::Refsig_Basic::Pseudorange, l1.Pseudorange);
        const bool pr1 = extended && modulo && *modulo < ambiguity.scale;
        const bool sbas = !glonass && id >= 40;  // no second frequency
        if constexpr (std::is_same_v<Element, RTCM3_Extended_1_s> || std::is_same_v<Element, RTCM3_Extended_2_s>) {
            v[k + "cnr1"] = e[i].Refsig_Extended.CNR;
            if (pr1) {
                v[k + "pr1"] = std::llround((*units::value(ambiguity, e[i].Refsig_Extended.Modulus_Ambiguity) + *modulo) * 1000);
                v[k + "phase1"] = l1.Phaserange_Min_Pseudorange;
            }
        }
        if constexpr (std::is_same_v<Element, RTCM3_Basic_2_s> || std::is_same_v<Element, RTCM3_Extended_2_s>) {
            const auto& l2 = e[i].Deltasig_Basic;
            // SBAS has no second frequency: the view keeps nothing of its L2 block.
            if ((glonass && l2.Code_Indicator > 1) || sbas)
                continue;
            v[k + "code2"] = l2.Code_Indicator;
            v[k + "lock2"] = l2.Lock_Time_Indicator;
            if (pr1) {
                v[k + "pr2"] = l2.Pseudorange_Min_Pseudorange;
                v[k + "phase2"] = l2.Phaserange_Min_Pseudorange;
            }
            if constexpr (std::is_same_v<Element, RTCM3_Extended_2_s>)
                v[k + "cnr2"] = e[i].Deltasig_Extended.CNR;
        }
    }
}

inline void legacyValues(const _RTCM3_message_t& r, bool strictDay, Values& v)
{
    const auto& h = r.Message_Type_1001;
    const std::string s = h.Message_Number >= 1009 ? "R" : "G";
    const std::size_t before = v.size();
    switch (h.Message_Number) {
    case 1001: legacyBlocks(1001, r.Message_Type_1001.L1_Basic, h.Nr_Of_Satellites, v); break;
    case 1002: legacyBlocks(1002, r.Message_Type_1002.L1_Extended, h.Nr_Of_Satellites, v); break;
    case 1003: legacyBlocks(1003, r.Message_Type_1003.L1_L2_Basic, h.Nr_Of_Satellites, v); break;
    case 1004: legacyBlocks(1004, r.Message_Type_1004.L1_L2_Extended, h.Nr_Of_Satellites, v); break;
    case 1009: legacyBlocks(1009, r.Message_Type_1009.L1_Basic, h.Nr_Of_Satellites, v); break;
    case 1010: legacyBlocks(1010, r.Message_Type_1010.L1_Extended, h.Nr_Of_Satellites, v); break;
    case 1011: legacyBlocks(1011, r.Message_Type_1011.L1_L2_Basic, h.Nr_Of_Satellites, v); break;
    case 1012: legacyBlocks(1012, r.Message_Type_1012.L1_L2_Extended, h.Nr_Of_Satellites, v); break;
    }
    if (v.size() == before)
        return;
    v[s + "station"] = h.Reference_Station_ID;
    v[s + "time"] = strictDay ? h.Epoch_Time : s == "R" ? h.Epoch_Time % 1000 : h.Epoch_Time % 86400000;
}

inline void observationValues(const _RTCM3_message_t& r, const ChannelKnown& known, bool strictDay, Values& v)
{
    if (View::msmSystem(r.Message_Type_1005.Message_Number))
        msmValues(r, known, strictDay, v);
    else
        legacyValues(r, strictDay, v);
}

// The list's scale of a field of a message.
inline double listScale(int number, std::string_view field)
{
    for (int32_t e = 1; const reflect::RecordLayout* info = reflect::recordInfo(e); ++e)
        for (uint16_t i = 0; info->messageNumber == number && i < info->fieldCount; ++i)
            if (std::string_view(info->fields[i].name) == field)
                return info->fields[i].scaleNumerator / reflect::scaleDivisor(info->fields[i]);
    return 0.0;
}

// Every field of an orbit or station record, by name, leaving those the data model does not
// hold: unknown GLONASS terms, the systems and oscillator flags of a station.
inline Values recordValues(const _RTCM3_message_t& r)
{
    static const std::set<std::string> kNotHeld = {
        "Cn", "Cn_Available", "P1", "P2", "P3", "P4", "P", "l", "dtau_SB", "dtau_mag", "F_T", "N_T", "M",
        "Additional_Data_Available", "N_A", "tau_C_SB", "tau_C_mag", "N_4", "tau_GPS_SB", "tau_GPS_mag", "l_n",
        "GPS_Indicator", "GLONASS_Indicator", "Galileo_Indicator", "Single_Receiver_Oscillator_Indicator",
        "Quarter_Cycle_Indicator", "Number_of_Characters_to_Follow"};
    const int number = family::messageNumber(r);
    Values v;
    for (const auto& [name, value] : Produce::fieldValues(r)) {
        if (kNotHeld.count(name) || name.rfind("Reserved", 0) == 0 || name.rfind("Spare", 0) == 0)
            continue;
        int64_t x = int64_t(value);
        // Times of week as instants: a value past the week's end is the next week's.
        if (name == "t_oc" || name == "t_oe")
            x = int64_t(value * listScale(number, name)) % Gnss::kSecondsPerWeek;
        // tK with an hour or minute that does not exist names no instant.
        if (name == "tK" && ((x >> 7) > 23 || ((x >> 1) & 63) > 59))
            continue;
        if (name == "Seconds_of_Day")
            v["MJD_Number"] = v["MJD_Number"] * Gnss::kSecondsPerDay + x;
        else
            v[name] = x;
    }
    return v;
}

inline bool decode(const Bytes& f, _RTCM3_message_t& r)
{
    const bool ok = RTCM3_decode(nullptr, f.data(), uint16_t(f.size()), &r) > 0;
    if (!ok)
        RTCM3_free_message_children(&r);
    return ok;
}

// Runs a stream through the view and back, and counts what was compared. Mismatches are
// reported as test failures naming the message.
class Trip : public View::GnssSink {
public:
    std::size_t epochs = 0, records = 0;

    Trip(const Gnss::GpsTime& hint, bool strictDay) : mView(*this), mStrictDay(strictDay) { mView.setTimeHint(hint); }

    void run(const std::vector<Bytes>& frames)
    {
        for (const Bytes& f : frames) {
            _RTCM3_message_t r;
            if (!decode(f, r))
                continue;
            mFrame = f;
            const int n = r.Message_Type_1005.Message_Number;
            mLastRecord = isObservation(n) ? 0 : n;
            if (mLastRecord)
                mOriginal = recordValues(r);
            // An observation frame with the flag clear closes the epoch it belongs to; the view
            // hands on that epoch (after any earlier one the frame ends) while adding it.
            const bool closes = isObservation(n)
                && !(View::msmSystem(n) ? r.Message_Type_1077.Multiple_Message_Flag : r.Message_Type_1004.Sync_Flag);
            mView.add(r);
            RTCM3_free_message_children(&r);
            for (std::size_t i = 0; i < mEpochs.size(); ++i) {
                if (closes && i + 1 == mEpochs.size())
                    gather(n);
                check(mEpochs[i]);
            }
            if (isObservation(n) && !(closes && !mEpochs.empty()))
                gather(n);
            mEpochs.clear();
        }
        mView.finish();
        for (const auto& e : mEpochs)
            check(e);
    }

private:
    // The observation records of the epoch being gathered, the highest ranked kind per system.
    struct Group {
        int number = 0;
        std::vector<Bytes> frames;
    };

    void gather(int n)
    {
        Group& g = mGroups[int(systemOf(n))];
        if (g.number && g.number != n)
            mMixed.insert(Gnss::systemLetter(systemOf(n)));
        if (g.number && rank(g.number) > rank(n))
            return;
        if (g.number != n)
            g = Group{n, {}};
        g.frames.emplace_back(mFrame);
    }

public:
    void epoch(const Gnss::ObservationEpoch& e) override { mEpochs.push_back(e); }

    void check(const Gnss::ObservationEpoch& e)
    {
        auto known = [&](int slot) {
            for (const auto& s : e.satellites)
                if (s.sat.system == Gnss::System::Glonass && s.sat.number == slot)
                    return s.glonassChannel.has_value();
            return false;
        };
        Produce::ObservationProducer producer;
        for (int s = 0; s < Gnss::kSystemCount; ++s) {
            const Group& g = mGroups[s];
            producer.setKind(Gnss::System(s), !g.number ? Produce::ObservationKind::none()
                                 : isLegacy(g.number) ? Produce::ObservationKind::legacy(g.number)
                                                      : Produce::ObservationKind::msm(View::msmLevel(g.number)));
        }
        // SBAS satellites of legacy GPS messages go back the same way.
        const Group& gps = mGroups[int(Gnss::System::Gps)];
        if (!mGroups[int(Gnss::System::Sbas)].number && gps.number && isLegacy(gps.number))
            producer.setKind(Gnss::System::Sbas, Produce::ObservationKind::legacy(gps.number));
        Values before, after;
        for (const Group& g : mGroups)
            for (const Bytes& f : g.frames) {
                _RTCM3_message_t r;
                if (decode(f, r))
                    observationValues(r, known, mStrictDay, before);
                RTCM3_free_message_children(&r);
            }
        const std::vector<Produce::Frame> produced = producer.produce(e);
        for (std::size_t i = 0; i < produced.size(); ++i) {
            _RTCM3_message_t r;
            ASSERT_TRUE(decode(produced[i], r));
            observationValues(r, known, mStrictDay, after);
            // Only the last frame of the epoch says that none follows.
            const bool more = View::msmSystem(r.Message_Type_1005.Message_Number) ? r.Message_Type_1077.Multiple_Message_Flag
                                                                                     : r.Message_Type_1004.Sync_Flag;
            EXPECT_EQ(more, i + 1 < produced.size());
            RTCM3_free_message_children(&r);
        }
        compare(before, after, "epoch at " + e.time.toIso(), mMixed);
        for (Group& g : mGroups)
            g = Group{};
        mMixed.clear();
        ++epochs;
    }

    void keplerEphemeris(const Gnss::KeplerEphemeris& k) override
    {
        if (k.sat.number)  // else a satellite the data model cannot name
            produced(Produce::keplerFrame(k));
    }
    void glonassEphemeris(const Gnss::GlonassEphemeris& g) override { produced(Produce::glonassFrame(g)); }
    void stationPosition(const Gnss::StationPosition& p) override { produced(Produce::stationPositionFrame(p)); }
    void stationDescription(const Gnss::StationDescription& d) override
    {
        produced(Produce::stationDescriptionFrame(d, mLastRecord));
    }
    void glonassBiases(const Gnss::GlonassBiases& b) override { produced(Produce::glonassBiasesFrame(b)); }
    void stationText(const Gnss::StationText& t) override { produced(Produce::textFrame(t)); }

private:
    void produced(const std::optional<Produce::Frame>& f)
    {
        ASSERT_TRUE(f.has_value()) << "message " << mLastRecord;
        _RTCM3_message_t r;
        ASSERT_TRUE(decode(*f, r));
        compare(mOriginal, recordValues(r), "message " + std::to_string(mLastRecord));
        RTCM3_free_message_children(&r);
        ++records;
    }

    // Produced values the original lacks are faults where they are cells of a system sent in
    // one kind only: elsewhere the data model may know more than the frame (a channel from
    // another message, the signals of a lower kind).
    static void compare(const Values& a, const Values& b, const std::string& what, const std::set<char>& mixed = {})
    {
        if (a == b)
            return;
        for (const auto& [k, v] : a) {
            const auto it = b.find(k);
            if (it == b.end() || it->second != v) {
                ADD_FAILURE() << what << ": " << k << " was " << v << ", produced "
                              << (it == b.end() ? std::string("nothing") : std::to_string(it->second));
                return;
            }
        }
        for (const auto& [k, v] : b)
            if (!a.count(k) && k.size() > 5 && k.compare(k.size() - 5, 5, "/cell") == 0 && !mixed.count(k[0])) {
                ADD_FAILURE() << what << ": produced " << k << " = " << v << " as well";
                return;
            }
    }

    View::GnssView mView;
    Group mGroups[Gnss::kSystemCount];
    Values mOriginal;
    int mLastRecord = 0;
    Bytes mFrame;
    bool mStrictDay = true;
    std::set<char> mMixed;
    std::vector<Gnss::ObservationEpoch> mEpochs;
};

} // namespace roundtrip
