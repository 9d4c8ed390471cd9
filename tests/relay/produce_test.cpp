// rtcm3relay with the producer: conversions on an output and a RINEX file as an input, read
// back through the view and compared with what went in.

#include "RelayFrame.h"
#include "relay_harness.h"
#include "../produce/rinex_trip.h"

#include <QtCore/QTemporaryDir>

namespace {

using namespace rinextrip;

const Gnss::GpsTime kHint(2200, 0);

std::vector<Bytes> framesOf(const QString &path)
{
    QFile file(path);
    file.open(QIODevice::ReadOnly);
    FrameSplitter splitter;
    std::vector<Bytes> frames;
    for (const ::Frame &f : splitter.feed(file.readAll(), 0))
        frames.emplace_back(f.bytes.begin(), f.bytes.end());
    return frames;
}

// Runs the relay to the end of its input; the frames of each file output, one per query.
std::vector<std::vector<Bytes>> relayed(const QString &input, const QStringList &queries, const QString &dir)
{
    QStringList arguments{input};
    for (qsizetype i = 0; i < queries.size(); ++i)
        arguments << "--to" << dir + QStringLiteral("/out%1.rtcm3").arg(i) + queries[i];
    const dumprunner::Run run = dumprunner::run(arguments, {}, QStringLiteral(RTCM3RELAY));
    EXPECT_TRUE(run.finished && run.exitCode == 0) << run.err.constData();
    std::vector<std::vector<Bytes>> outputs;
    for (qsizetype i = 0; i < queries.size(); ++i)
        outputs.push_back(framesOf(dir + QStringLiteral("/out%1.rtcm3").arg(i)));
    return outputs;
}

struct Tolerance {
    // dopplerHz < 0: the output carries no rates and no GLONASS channels, so no GLONASS
    // phase in cycles either.
    double rangeM, phaseCycles, cn0DbHz, dopplerHz;
};

// The same satellites and signals (of `systems` only, when given), values within `t`.
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
        near(i->second.pseudorangeM, j->second.pseudorangeM, t.rangeM, i->first + " pseudorange");
        if (t.dopplerHz >= 0 || i->first[i->first.find(' ') + 1] != 'R' || j->second.phaseCycles)
            near(i->second.phaseCycles, j->second.phaseCycles, t.phaseCycles, i->first + " phase");
        near(i->second.cn0DbHz, j->second.cn0DbHz, t.cn0DbHz, i->first + " C/N0");
        if (t.dopplerHz >= 0)
            near(i->second.dopplerHz, j->second.dopplerHz, t.dopplerHz, i->first + " Doppler");
        else
            EXPECT_FALSE(j->second.dopplerHz) << i->first;
    }
}

// Catches: an output parameter not reaching the converter (level, systems), a converter shared
// between outputs or not handed the frames.
TEST(RelayProduce, ConvertsPerOutput)
{
    QTemporaryDir dir;
    const Flat in = flatten(viewOf(framesOf(NUVRIX_SAMPLE_STREAM), kHint).epochs, -1);
    // Half a step of MSM4 (ranges 2^-24 ms, phases 2^-29 ms at the shortest wavelength,
    // C/N0 1 dB-Hz) beside MSM7's.
    const struct {
        const char *query;
        std::string systems;
        Tolerance tolerance;
    } cases[] = {
        {"?convert=msm4", "", {0.0090, 0.0016, 0.5, -1}},
        {"?systems=G", "G", {1e-6, 1e-6, 1e-6, 1e-6}},
    };
    QStringList queries;
    for (const auto &c : cases)
        queries << c.query;
    // Both outputs of one run: each converts on its own.
    const auto outputs = relayed(NUVRIX_SAMPLE_STREAM, queries, dir.path());
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        SCOPED_TRACE(cases[i].query);
        expectSame(in, flatten(viewOf(outputs[i], kHint).epochs, -1), cases[i].systems, cases[i].tolerance);
    }
}

// Catches: a RINEX file not known by its first line, epochs lost or altered on the way.
TEST(RelayProduce, ReplaysRinexObservations)
{
    QTemporaryDir dir;
    const Epochs original = viewOf(framesOf(NUVRIX_SAMPLE_STREAM), kHint);
    Gnss::RinexConverterOptions options;
    options.directory = dir.path().toStdString();
    Gnss::RinexConverter converter(options);
    const uint16_t station = original.epochs.front().stationId;
    for (int pass = 0; pass < 2; ++pass)
        for (const auto &e : original.epochs)
            if (e.stationId == station)
                pass ? converter.addEpoch(e) : converter.survey(e);
    std::string file;
    for (const std::string &name : converter.finish())
        if (name.find("O.rnx") != std::string::npos)
            file = options.directory + "/" + name;
    // Named as no RINEX file is: known by its content.
    const QString renamed = dir.path() + QStringLiteral("/observations.dat");
    ASSERT_TRUE(QFile::rename(QString::fromStdString(file), renamed));

    std::ifstream stream(renamed.toStdString());
    Gnss::RinexObservationReader reader(stream, file);
    std::vector<Gnss::ObservationEpoch> epochs;
    for (Gnss::ObservationEpoch e; reader.next(e);)
        epochs.push_back(e);
    const auto out = viewOf(relayed(renamed + QStringLiteral("?msm=7&station=1001"), {""}, dir.path()).front(), kHint).epochs;
    ASSERT_FALSE(out.empty());
    EXPECT_EQ(out.front().stationId, 1001);
    // MSM7 resolves ranges to 0.6 mm, rates to 0.1 mm/s, C/N0 to 1/16 dB-Hz.
    expectSame(flatten(epochs, -1), flatten(out, -1), "", {0.0011, 0.004, 0.032, 0.002});
}

} // namespace
