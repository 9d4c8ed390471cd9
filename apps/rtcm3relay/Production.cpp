#include "Production.h"

#include "RinexReplay.h"
#include "StreamConverter.h"

#include <cstdio>
#include <filesystem>
#include <fstream>

using Kvt::Nuvrix::Produce::ConversionTarget;
using Kvt::Nuvrix::Produce::ObservationProducer;
using Kvt::Nuvrix::Produce::ReplaySettings;
using Kvt::Nuvrix::Produce::RinexReplay;
using Kvt::Nuvrix::Produce::StreamConverter;

namespace {

// Told once per reason by the producer.
ObservationProducer::LimitReport reportFor(const QString &name)
{
    return [name](const std::string &what) {
        std::fprintf(stderr, "rtcm3relay: %s: %s\n", qPrintable(name), what.c_str());
    };
}

Frame frameOf(const std::vector<uint8_t> &bytes)
{
    Frame f;
    f.bytes = QByteArray(reinterpret_cast<const char *>(bytes.data()), qsizetype(bytes.size()));
    f.type = messageNumber(f.bytes);
    f.arrivalNs = monotonicNs();
    return f;
}

// One converter per output: it gathers each epoch's frames before producing it again.
class Conversion : public FrameTransform
{
public:
    explicit Conversion(ConversionTarget target) : mConverter(target) {}
    StreamConverter &converter() { return mConverter; }

    QList<Frame> apply(const Frame &frame) override
    {
        return frames(mConverter.add(reinterpret_cast<const uint8_t *>(frame.bytes.constData()), std::size_t(frame.bytes.size())));
    }
    QList<Frame> finish() override { return frames(mConverter.finish()); }

private:
    static QList<Frame> frames(const std::vector<std::vector<uint8_t>> &made)
    {
        QList<Frame> out;
        for (const auto &bytes : made)
            out << frameOf(bytes);
        return out;
    }

    StreamConverter mConverter;
};

class RinexSource : public FrameSource
{
public:
    RinexSource(const RelayAddress &address, const ReplaySettings &settings)
        : mIn(address.path.toStdString())
        , mReplay(mIn, address.path.toStdString(), settings)
    {
    }

    QList<Frame> next(QString *error) override
    {
        QList<Frame> out;
        try {
            // An epoch of systems not kept makes no frame: read on to one that does.
            std::vector<std::vector<uint8_t>> made;
            while (out.isEmpty() && mReplay.next(made))
                for (const auto &bytes : made)
                    out << frameOf(bytes);
        } catch (const Kvt::Gnss::RinexError &e) {
            *error = QString::fromStdString(e.what());
        }
        return out;
    }
    QStringList parameters() const override { return {"msm", "station", "position", "orbits", "nav", "systems"}; }

private:
    std::ifstream mIn;
    RinexReplay mReplay;
};

} // namespace

std::unique_ptr<FrameTransform> makeConversion(const RelayAddress &address, QString *error)
{
    const std::optional<ConversionTarget> target = ConversionTarget::parse(address.value(QStringLiteral("convert"), QStringLiteral("msm7")).toStdString());
    if (!target) {
        *error = QStringLiteral("%1: convert is msm1..msm7 or legacy").arg(address.text);
        return nullptr;
    }
    auto conversion = std::make_unique<Conversion>(*target);
    if (address.query.contains(QStringLiteral("systems"))
        && !conversion->converter().setSystems(address.value(QStringLiteral("systems")).toStdString())) {
        *error = QStringLiteral("%1: systems are RINEX letters (GRESJCI)").arg(address.text);
        return nullptr;
    }
    conversion->converter().setLimitReport(reportFor(address.text));
    return conversion;
}

std::unique_ptr<FrameSource> makeRinexSource(const RelayAddress &address, QString *error)
{
    error->clear();
    // Only a regular file is looked into: a pipe would lose what was read.
    std::error_code failed;
    if (address.kind != RelayAddress::Kind::File || !std::filesystem::is_regular_file(address.path.toStdString(), failed))
        return nullptr;
    std::ifstream probe(address.path.toStdString(), std::ios::binary);
    std::string first(80, '\0');
    probe.read(first.data(), std::streamsize(first.size()));
    first.resize(std::size_t(probe.gcount()));
    if (!Kvt::Nuvrix::Produce::isRinexObservationHeader(first))
        return nullptr;
    ReplaySettings settings;
    settings.limitReport = reportFor(address.text);
    for (const QString &key : QStringList{"msm", "station", "position", "orbits", "nav", "systems"}) {
        std::string why;
        if (address.query.contains(key) && !settings.set(key.toStdString(), address.value(key).toStdString(), &why)) {
            *error = address.text + QStringLiteral(": ") + QString::fromStdString(why);
            return nullptr;
        }
    }
    try {
        return std::make_unique<RinexSource>(address, settings);
    } catch (const Kvt::Gnss::RinexError &e) {
        *error = QString::fromStdString(e.what());
        return nullptr;
    }
}
