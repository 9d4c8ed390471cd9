// rtcm3relay with the producer: conversions on outputs and a RINEX file as an input, read back
// through the view and compared with what went in.

#include "RelayFrame.h"
#include "relay_harness.h"
#include "../produce/rinex_trip.h"

#include <QtCore/QTemporaryDir>

namespace {

using namespace rinextrip;

const Gnss::GpsTime kHint(2200, 0);

std::vector<Gnss::ObservationEpoch> epochsOf(const QString &path)
{
    QFile file(path);
    file.open(QIODevice::ReadOnly);
    FrameSplitter splitter;
    std::vector<Bytes> frames;
    for (const ::Frame &f : splitter.feed(file.readAll(), 0))
        frames.emplace_back(f.bytes.begin(), f.bytes.end());
    return viewOf(frames, kHint).epochs;
}

// Runs the relay to the end of its input with one file output per query; what each holds of
// `station` (-1: of any).
std::vector<Flat> relayed(const QString &input, const QStringList &queries, const QString &dir, int station = -1)
{
    QStringList arguments{input};
    for (qsizetype i = 0; i < queries.size(); ++i)
        arguments << "--to" << dir + QStringLiteral("/out%1").arg(i) + queries[i];
    const dumprunner::Run run = dumprunner::run(arguments, {}, QStringLiteral(RTCM3RELAY));
    EXPECT_TRUE(run.finished && run.exitCode == 0) << run.err.constData();
    std::vector<Flat> outputs;
    for (qsizetype i = 0; i < queries.size(); ++i)
        outputs.push_back(flatten(epochsOf(dir + QStringLiteral("/out%1").arg(i)), station));
    return outputs;
}

// Tolerances; dopplerHz < 0: the output carries no rates and no GLONASS channels, so no
// GLONASS phase in cycles either.
struct Tolerance {
    double rangeM, phaseCycles, cn0DbHz, dopplerHz;
};

// The same signals (of `systems` only, when given) with values within `t`.
void expectSame(const Flat &in, const Flat &out, const std::string &systems, const Tolerance &t)
{
    Flat expected;
    for (const auto &[key, o] : in)
        if (systems.empty() || systems.find(key[key.find(' ') + 1]) != std::string::npos)
            expected.emplace(key, o);
    ASSERT_FALSE(expected.empty());
    ASSERT_EQ(expected.size(), out.size());
    for (auto i = expected.cbegin(), j = out.cbegin(); i != expected.end(); ++i, ++j) {
        ASSERT_EQ(i->first, j->first);
        const Gnss::Observation &a = i->second, &b = j->second;
        near(a.pseudorangeM, b.pseudorangeM, t.rangeM, i->first + " pseudorange");
        if (t.dopplerHz >= 0 || i->first[i->first.find(' ') + 1] != 'R' || b.phaseCycles)
            near(a.phaseCycles, b.phaseCycles, t.phaseCycles, i->first + " phase");
        near(a.cn0DbHz, b.cn0DbHz, t.cn0DbHz, i->first + " C/N0");
        near(t.dopplerHz < 0 ? std::nullopt : a.dopplerHz, b.dopplerHz, t.dopplerHz, i->first + " Doppler");
    }
}

// Catches: an output parameter not reaching the converter (level, systems), one converter
// shared by two outputs.
TEST(RelayProduce, ConvertsPerOutput)
{
    QTemporaryDir dir;
    // Half a step of MSM4 (ranges 2^-24 ms, phases 2^-29 ms at the shortest wavelength, C/N0
    // 1 dB-Hz); MSM7 again gives the same values.
    const struct {
        QString query;
        std::string systems;
        Tolerance tolerance;
    } cases[] = {{"?convert=msm4", "", {0.0090, 0.0016, 0.5, -1}}, {"?systems=G", "G", {1e-6, 1e-6, 1e-6, 1e-6}}};
    const std::vector<Flat> outputs = relayed(NUVRIX_SAMPLE_STREAM, {cases[0].query, cases[1].query}, dir.path());
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        SCOPED_TRACE(cases[i].query.toStdString());
        expectSame(flatten(epochsOf(NUVRIX_SAMPLE_STREAM), -1), outputs[i], cases[i].systems, cases[i].tolerance);
    }
}

// Catches: a RINEX file not known by its first line, epochs lost or altered, parameters lost.
TEST(RelayProduce, ReplaysRinexObservations)
{
    QTemporaryDir dir;
    Gnss::RinexConverterOptions options;
    options.directory = dir.path().toStdString();
    Gnss::RinexConverter converter(options);
    const auto original = epochsOf(NUVRIX_SAMPLE_STREAM);
    for (int pass = 0; pass < 2; ++pass)
        for (const auto &e : original)
            if (e.stationId == original.front().stationId)
                pass ? converter.addEpoch(e) : converter.survey(e);
    // Named as no RINEX file is: known by its content.
    const QString file = dir.path() + QStringLiteral("/observations.dat");
    for (const std::string &name : converter.finish())
        if (name.find("O.rnx") != std::string::npos) {
            ASSERT_TRUE(QFile::rename(dir.path() + "/" + QString::fromStdString(name), file));
        }

    std::ifstream stream(file.toStdString());
    Gnss::RinexObservationReader reader(stream, "observations.dat");
    std::vector<Gnss::ObservationEpoch> epochs;
    for (Gnss::ObservationEpoch e; reader.next(e);)
        epochs.push_back(e);
    const Flat out = relayed(file + QStringLiteral("?msm=7&station=1001"), {""}, dir.path(), 1001).front();
    // MSM7 resolves ranges to 0.6 mm, rates to 0.1 mm/s, C/N0 to 1/16 dB-Hz.
    expectSame(flatten(epochs, -1), out, "", {0.0011, 0.004, 0.032, 0.002});
}

} // namespace
