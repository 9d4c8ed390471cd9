#pragma once
// The round trip through RINEX: a stream's epochs and orbits written as RINEX by the library's
// converter, replayed from the observation and navigation files as MSM7 and orbit messages,
// decoded again by the view: the same epochs, values within what RINEX prints and MSM7
// resolves, and each orbit as it was.

#include "GnssView.h"
#include "ObservationProducer.h"
#include "RTCM3_codec.h"
#include "RinexConverter.h"
#include "RinexNavWriter.h"
#include "RinexReader.h"
#include "RinexReplay.h"
#include "RtcmSignals.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>

namespace rinextrip {

using namespace Kvt;
using Bytes = std::vector<uint8_t>;

struct Epochs : Nuvrix::View::GnssSink {
    std::vector<Gnss::ObservationEpoch> epochs;
    std::optional<Gnss::StationPosition> position;
    std::vector<Gnss::KeplerEphemeris> kepler;
    std::vector<Gnss::GlonassEphemeris> glonass;
    // Orbits by satellite, message and reference time: the reference time and the record as
    // the navigation file prints it (the first, as the file keeps it).
    std::map<std::string, std::pair<Gnss::GpsTime, std::string>> orbits;
    void epoch(const Gnss::ObservationEpoch& e) override { epochs.push_back(e); }
    void stationPosition(const Gnss::StationPosition& p) override { position = p; }
    void keplerEphemeris(const Gnss::KeplerEphemeris& k) override { kepler.push_back(k), remember(k, k.messageNumber); }
    void glonassEphemeris(const Gnss::GlonassEphemeris& g) override { glonass.push_back(g), remember(g, 1020); }
    template <class Ephemeris>
    void remember(const Ephemeris& e, int message)
    {
        std::ostringstream out;
        Gnss::RinexNavWriter w(out);
        Gnss::RinexNavHeader h;
        h.creationDate = "20000101 000000 UTC";
        w.begin(h);
        w.write(e);
        orbits.emplace(e.sat.toString() + " " + std::to_string(message) + " " + e.toe.toIso(), std::make_pair(e.toe, out.str()));
    }
};

inline Epochs viewOf(const std::vector<Bytes>& frames, const std::optional<Gnss::GpsTime>& hint)
{
    Epochs sink;
    Nuvrix::View::GnssView view(sink);
    if (hint)
        view.setTimeHint(*hint);
    for (const Bytes& f : frames) {
        Nuvrix::_RTCM3_message_t r;
        if (Nuvrix::RTCM3_decode(nullptr, f.data(), uint16_t(f.size()), &r) > 0)
            view.add(r);
        Nuvrix::RTCM3_free_message_children(&r);
    }
    view.finish();
    return sink;
}

// The first epoch's time where a stream dates itself (its ephemerides or 1013).
inline std::optional<Gnss::GpsTime> ownDate(const std::vector<Bytes>& frames)
{
    const Epochs undated = viewOf(frames, std::nullopt);
    return undated.epochs.empty() ? std::nullopt : std::optional<Gnss::GpsTime>(undated.epochs.front().time);
}

// The signals of one station's epochs by instant, satellite and code, as far as RINEX and MSM7
// both hold them: with a value, and a number in MSM. One instant sent twice (MSM, then legacy
// messages) is one record in RINEX: the first value stays.
using Flat = std::map<std::string, Gnss::Observation>;
inline Flat flatten(const std::vector<Gnss::ObservationEpoch>& epochs, int station)  // -1: any
{
    Flat flat;
    for (const auto& e : epochs)
        for (const auto& s : e.satellites)
            for (const auto& o : s.observations) {
                bool carried = false;
                for (int id = 1; id <= 32; ++id)
                    carried |= Nuvrix::View::msmSignal(s.sat.system, id) == o.code;
                if ((station < 0 || e.stationId == station) && carried && (o.pseudorangeM || o.phaseCycles || o.dopplerHz || o.cn0DbHz))
                    flat.emplace(e.time.toIso() + " " + s.sat.toString() + " " + o.code.toString(), o);
            }
    return flat;
}

// Within `tolerance`, or both absent.
inline void near(const std::optional<double>& a, const std::optional<double>& b, double tolerance, const std::string& what)
{
    if (a && b)
        EXPECT_NEAR(*a, *b, tolerance) << what;
    else
        EXPECT_EQ(a.has_value(), b.has_value()) << what;
}

// The epochs and orbits of a stream's first station written as RINEX into `directory`, then
// replayed from the observation file (station, MSM7) and the navigation file (orbits).
inline std::vector<Bytes> replayedThroughRinex(const Epochs& original, const std::string& directory,
                                               std::string* observationFile = nullptr)
{
    const uint16_t station = original.epochs.front().stationId;  // one station per file
    std::filesystem::create_directories(directory);
    Gnss::RinexConverterOptions options;
    options.directory = directory;
    Gnss::RinexConverter converter(options);
    for (const auto& k : original.kepler)
        converter.addEphemeris(k);
    for (const auto& g : original.glonass)
        converter.addEphemeris(g);
    for (int pass = 0; pass < 2; ++pass)
        for (const auto& e : original.epochs)
            if (e.stationId == station)
                pass ? converter.addEpoch(e) : converter.survey(e);
    std::string file;
    Nuvrix::Produce::ReplaySettings settings;
    settings.stationId = station;
    for (const std::string& name : converter.finish())
        if (name.find("O.rnx") != std::string::npos)
            file = directory + "/" + name;
        else if (name.find("N.rnx") != std::string::npos)
            settings.navigation = directory + "/" + name;
    EXPECT_FALSE(file.empty());
    if (observationFile)
        *observationFile = file;
    std::ifstream in(file);
    Nuvrix::Produce::RinexReplay replay(in, file, settings);
    std::vector<Bytes> produced, made;
    while (replay.next(made))
        produced.insert(produced.end(), made.begin(), made.end());
    return produced;
}

inline void trip(const std::vector<Bytes>& frames, const Gnss::GpsTime& hint, const std::string& directory)
{
    const Epochs original = viewOf(frames, hint);
    if (original.epochs.empty())
        return;
    const uint16_t station = original.epochs.front().stationId;
    const std::vector<Bytes> produced = replayedThroughRinex(original, directory);
    const Epochs back = viewOf(produced, hint);
    // Every orbit sent is one of the stream's, as printed; every satellite whose orbit was in
    // force at the first epoch has one sent.
    std::set<std::string> expected, sent;
    for (const auto& [key, o] : original.orbits)
        if (std::fabs(o.first - original.epochs.front().time) < 3.5 * 3600)
            expected.insert(key.substr(0, key.rfind(' ')));
    for (const auto& [key, o] : back.orbits) {
        sent.insert(key.substr(0, key.rfind(' ')));
        const auto was = original.orbits.find(key);
        ASSERT_TRUE(was != original.orbits.end()) << key;
        EXPECT_EQ(o.second, was->second.second) << key;
    }
    for (const std::string& s : expected)
        EXPECT_TRUE(sent.count(s)) << s << " has no orbit back";
    const Flat a = flatten(original.epochs, station), b = flatten(back.epochs, station);
    for (auto i = a.begin(), j = b.begin(); i != a.end() || j != b.end(); ++i, ++j) {
        ASSERT_TRUE(i != a.end() && j != b.end() && i->first == j->first)
            << (i == a.end() ? "nothing" : i->first) << " came back as " << (j == b.end() ? "nothing" : j->first);
        const Gnss::Observation& oa = i->second;
        const Gnss::Observation& ob = j->second;
        // RINEX prints three decimals; MSM7 resolves ranges to 0.6 mm, rates to 0.1 mm/s,
        // C/N0 to 1/16 dB-Hz.
        near(oa.pseudorangeM, ob.pseudorangeM, 0.0011, i->first + " pseudorange");
        near(oa.phaseCycles, ob.phaseCycles, 0.004, i->first + " phase");
        near(oa.dopplerHz, ob.dopplerHz, 0.002, i->first + " Doppler");
        near(oa.cn0DbHz, ob.cn0DbHz, 0.032, i->first + " C/N0");
        if (oa.phaseCycles) {  // RINEX flags a phase only
            EXPECT_EQ(oa.halfCycleAmbiguity, ob.halfCycleAmbiguity) << i->first;
        }
    }
}

} // namespace rinextrip
