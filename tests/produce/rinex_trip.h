#pragma once
// The round trip through RINEX: a stream's epochs written as RINEX by the library's converter,
// read back by the RINEX reader, produced as MSM7, decoded again by the view: the same epochs,
// and values within what RINEX prints and MSM7 resolves.

#include "GnssView.h"
#include "ObservationProducer.h"
#include "RTCM3_codec.h"
#include "RinexConverter.h"
#include "RinexReader.h"
#include "RtcmSignals.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>

namespace rinextrip {

using namespace Kvt;
using Bytes = std::vector<uint8_t>;

struct Epochs : Nuvrix::View::GnssSink {
    std::vector<Gnss::ObservationEpoch> epochs;
    std::optional<Gnss::StationPosition> position;
    void epoch(const Gnss::ObservationEpoch& e) override { epochs.push_back(e); }
    void stationPosition(const Gnss::StationPosition& p) override { position = p; }
};

inline Epochs viewOf(const std::vector<Bytes>& frames, const Gnss::GpsTime& hint)
{
    Epochs sink;
    Nuvrix::View::GnssView view(sink);
    view.setTimeHint(hint);
    for (const Bytes& f : frames) {
        Nuvrix::_RTCM3_message_t r;
        if (Nuvrix::RTCM3_decode(nullptr, f.data(), uint16_t(f.size()), &r) > 0)
            view.add(r);
        Nuvrix::RTCM3_free_message_children(&r);
    }
    view.finish();
    return sink;
}

// Within `tolerance`, both absent, or the first absent (RINEX has no room for it).
inline void near(const std::optional<double>& a, const std::optional<double>& b, double tolerance, const std::string& what)
{
    if (a && b)
        EXPECT_NEAR(*a, *b, tolerance) << what;
    else
        EXPECT_EQ(a.has_value(), b.has_value()) << what;
}

// What RINEX and MSM7 can both hold of an epoch: signals with a value that MSM numbers,
// satellites with such a signal.
inline void valued(Gnss::ObservationEpoch& e)
{
    auto carried = [](const Gnss::SatId& sat, const Gnss::SignalCode& code) {
        bool any = false;
        for (int id = 1; id <= 32; ++id)
            any |= Nuvrix::View::msmSignal(sat.system, id) == code;
        return any;
    };
    for (auto& s : e.satellites)
        s.observations.erase(std::remove_if(s.observations.begin(), s.observations.end(),
                                            [&](const Gnss::Observation& o) {
                                                return (!o.pseudorangeM && !o.phaseCycles && !o.dopplerHz && !o.cn0DbHz)
                                                    || !carried(s.sat, o.code);
                                            }),
                             s.observations.end());
    e.satellites.erase(std::remove_if(e.satellites.begin(), e.satellites.end(),
                                      [](const Gnss::SatelliteObservations& s) { return s.observations.empty(); }),
                       e.satellites.end());
}

inline void trip(const std::vector<Bytes>& frames, const Gnss::GpsTime& hint, const std::string& directory)
{
    Epochs original = viewOf(frames, hint);
    // A stream may send one instant as two epochs (MSM, then legacy messages): RINEX has one.
    std::vector<Gnss::ObservationEpoch> merged;
    for (auto& e : original.epochs) {
        valued(e);
        if (merged.empty() || merged.back().time != e.time || merged.back().stationId != e.stationId) {
            merged.push_back(e);
            continue;
        }
        for (auto& s : e.satellites) {
            auto it = std::find_if(merged.back().satellites.begin(), merged.back().satellites.end(),
                                   [&](const Gnss::SatelliteObservations& m) { return m.sat == s.sat; });
            if (it == merged.back().satellites.end()) {
                merged.back().satellites.push_back(s);
                continue;
            }
            for (auto& o : s.observations)
                if (std::none_of(it->observations.begin(), it->observations.end(),
                                 [&](const Gnss::Observation& m) { return m.code == o.code; }))
                    it->observations.push_back(o);
            std::sort(it->observations.begin(), it->observations.end(),
                      [](const Gnss::Observation& x, const Gnss::Observation& y) { return x.code < y.code; });
        }
        std::sort(merged.back().satellites.begin(), merged.back().satellites.end(),
                  [](const Gnss::SatelliteObservations& x, const Gnss::SatelliteObservations& y) { return x.sat < y.sat; });
    }
    original.epochs.clear();
    // One station per RINEX file: the first one's.
    for (auto& e : merged)
        if (e.stationId == merged.front().stationId)
            original.epochs.push_back(std::move(e));
    original.epochs.erase(std::remove_if(original.epochs.begin(), original.epochs.end(),
                                         [](const Gnss::ObservationEpoch& e) { return e.satellites.empty(); }),
                          original.epochs.end());
    if (original.epochs.empty())
        return;
    std::filesystem::create_directories(directory);
    Gnss::RinexConverterOptions options;
    options.directory = directory;
    Gnss::RinexConverter converter(options);
    for (const auto& e : original.epochs)
        converter.survey(e);
    if (original.position)
        converter.setPosition(*original.position);
    for (const auto& e : original.epochs)
        converter.addEpoch(e);
    std::string file;
    for (const std::string& name : converter.finish())
        if (name.find("O.rnx") != std::string::npos)
            file = directory + "/" + name;
    ASSERT_FALSE(file.empty());

    std::ifstream in(file);
    Gnss::RinexObservationReader reader(in, file);
    Nuvrix::Produce::ObservationProducer producer;
    std::vector<Bytes> produced;
    Gnss::ObservationEpoch e;
    while (reader.next(e)) {
        e.stationId = original.epochs.front().stationId;
        for (Bytes& f : producer.produce(e))
            produced.push_back(std::move(f));
    }
    const Epochs again = viewOf(produced, hint);
    ASSERT_EQ(again.epochs.size(), original.epochs.size());
    for (std::size_t i = 0; i < again.epochs.size(); ++i) {
        const auto& a = original.epochs[i];
        const auto& b = again.epochs[i];
        ASSERT_EQ(a.time, b.time);
        auto sats = [](const Gnss::ObservationEpoch& x) {
            std::string c;
            for (const auto& so : x.satellites)
                c += so.sat.toString() + " ";
            return c;
        };
        ASSERT_EQ(sats(a), sats(b)) << a.time.toIso();
        for (std::size_t s = 0; s < a.satellites.size(); ++s) {
            const auto& sa = a.satellites[s];
            const auto& sb = b.satellites[s];
            ASSERT_EQ(sa.sat, sb.sat);
            auto codes = [](const Gnss::SatelliteObservations& so) {
                std::string c;
                for (const auto& o : so.observations)
                    c += o.code.toString() + (o.pseudorangeM ? "C" : "") + (o.phaseCycles ? "L" : "") + (o.dopplerHz ? "D" : "")
                        + (o.cn0DbHz ? "S" : "") + " ";
                return c;
            };
            ASSERT_EQ(codes(sa), codes(sb)) << a.time.toIso() << " " << sa.sat.toString();
            for (std::size_t k = 0; k < sa.observations.size(); ++k) {
                const auto& oa = sa.observations[k];
                const auto& ob = sb.observations[k];
                const std::string what = a.time.toIso() + " " + sa.sat.toString() + " " + oa.code.toString();
                ASSERT_EQ(oa.code, ob.code) << what;
                // RINEX prints three decimals; MSM7 resolves ranges to 0.6 mm, rates to 0.1 mm/s,
                // C/N0 to 1/16 dB-Hz.
                near(oa.pseudorangeM, ob.pseudorangeM, 0.0011, what + " pseudorange");
                near(oa.phaseCycles, ob.phaseCycles, 0.004, what + " phase");
                near(oa.dopplerHz, ob.dopplerHz, 0.002, what + " Doppler");
                near(oa.cn0DbHz, ob.cn0DbHz, 0.032, what + " C/N0");
                if (oa.phaseCycles) {  // RINEX flags a phase only
                    EXPECT_EQ(oa.halfCycleAmbiguity, ob.halfCycleAmbiguity) << what;
                }
            }
        }
    }
}

} // namespace rinextrip
