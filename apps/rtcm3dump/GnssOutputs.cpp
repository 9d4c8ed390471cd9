#include "GnssOutputs.h"

#include "Output.h"
#include "Stats.h"

#include "GnssFormat.h"
#include "RTCM3_families.h"

#include <QtCore/QCommandLineParser>
#include <QtCore/QDateTime>
#include <QtCore/QFile>
#include <QtCore/QProcess>
#include <QtCore/QRegularExpression>

#include <cmath>
#include <cstdio>
#include <optional>

using namespace Kvt;

namespace {

Gnss::GpsTime clockNow()
{
    const QDateTime now = QDateTime::currentDateTimeUtc();
    const QDate d = now.date();
    const QTime t = now.time();
    return Gnss::GpsTime::fromUtc({d.year(), d.month(), d.day(), t.hour(), t.minute(), t.second() + t.msec() / 1000.0});
}

void tell(const Nuvrix::View::ViewNotice &notice)
{
    std::fprintf(stderr, "rtcm3dump: %s\n", notice.text.c_str());
}

} // namespace

template <class View>
void ViewSetup::apply(View &view) const
{
    // The clock only picks the era of 10-bit weeks, unless the input is live from the network.
    view.setClock(clockNow());
    view.setLiveInput(liveNetwork);
    if (hint)
        view.setTimeHint(*hint);
    for (const auto &[slot, channel] : glonassChannels)
        view.setGlonassChannel(slot, channel);
}

ObservationPrinter::ObservationPrinter(OutputDevice &device, bool json, const ViewSetup &time)
    : mDevice(device), mJson(json), mView(*this)
{
    mLine.reserve(64 * 1024);
    time.apply(mView);
}

void ObservationPrinter::frame(const Frame &frame)
{
    if (frame.record)
        mView.add(*frame.record);
}

void ObservationPrinter::finish() { mView.finish(); }
void ObservationPrinter::flush() { mDevice.flush(); }
QString ObservationPrinter::writeError() const { return mDevice.failure(); }

void ObservationPrinter::write()
{
    mDevice.write(mLine.data(), qint64(mLine.size()));
    mLine.clear();
}

void ObservationPrinter::epoch(const Gnss::ObservationEpoch &epoch)
{
    mJson ? Gnss::appendEpochJson(mLine, epoch) : Gnss::appendEpochText(mLine, epoch);
    write();
}

void ObservationPrinter::stationPosition(const Gnss::StationPosition &position)
{
    mJson ? Gnss::appendStationPositionJson(mLine, position) : Gnss::appendStationPositionText(mLine, position);
    write();
}

void ObservationPrinter::stationDescription(const Gnss::StationDescription &description)
{
    mJson ? Gnss::appendStationDescriptionJson(mLine, description)
          : Gnss::appendStationDescriptionText(mLine, description);
    write();
}

void ObservationPrinter::stationText(const Gnss::StationText &text)
{
    mJson ? Gnss::appendStationTextJson(mLine, text) : Gnss::appendStationTextText(mLine, text);
    write();
}

// Orbits and biases have no text form: they are JSON lines only.
void ObservationPrinter::keplerEphemeris(const Gnss::KeplerEphemeris &ephemeris)
{
    if (mJson) {
        Gnss::appendKeplerJson(mLine, ephemeris);
        write();
    }
}

void ObservationPrinter::glonassEphemeris(const Gnss::GlonassEphemeris &ephemeris)
{
    if (mJson) {
        Gnss::appendGlonassJson(mLine, ephemeris);
        write();
    }
}

void ObservationPrinter::glonassBiases(const Gnss::GlonassBiases &biases)
{
    if (mJson) {
        Gnss::appendGlonassBiasesJson(mLine, biases);
        write();
    }
}

void ObservationPrinter::notice(const Nuvrix::View::ViewNotice &notice) { tell(notice); }

EpochMonitor::EpochMonitor(Stats &stats, bool live, const ViewSetup &time, bool headersOnly)
    : mStats(stats), mLive(live), mHeadersOnly(headersOnly), mView(*this)
{
    time.apply(mView);
}

void EpochMonitor::frame(const Frame &frame)
{
    if (frame.record)
        mView.add(mHeadersOnly ? mHeaders.of(*frame.record) : *frame.record);
}

void EpochMonitor::epoch(const Gnss::ObservationEpoch &epoch)
{
    // Latency means something only for live data near the clock: an old stream through a pipe
    // would otherwise report years.
    if (mLive)
        if (const std::optional<double> latency = mView.latencyS(epoch.time))
            mStats.datedEpoch(epoch.stationId, *latency);
    const auto [it, first] = mCadence.try_emplace(epoch.stationId, Cadence{epoch.time, 0});
    if (first)
        return;
    Cadence &c = it->second;
    const double step = epoch.time - c.last;
    if (step <= 0)
        return;  // a second epoch of the same instant (MSM after legacy), or out of order
    const Gnss::GpsTime previous = c.last;
    c.last = epoch.time;
    if (c.intervalS <= 0 || step < c.intervalS)
        c.intervalS = step;
    const auto skipped = std::llround(step / c.intervalS) - 1;
    if (skipped > 0)
        mStats.missingEpochs(epoch.stationId, skipped,
                             QString::fromStdString(previous.plusSeconds(c.intervalS).toIso()),
                             QString::fromStdString(epoch.time.plusSeconds(-c.intervalS).toIso()));
}

namespace {

// The command is the user's own; the file's path goes to it as "$1", never through the shell's
// parsing.
void runOnClose(const QString &command, const std::string &path)
{
    const int status = QProcess::execute(QStringLiteral("/bin/sh"),
                                         {QStringLiteral("-c"), command + QStringLiteral(" \"$1\""),
                                          QStringLiteral("sh"), QFile::decodeName(path.c_str())});
    if (status != 0)
        std::fprintf(stderr, "rtcm3dump: --on-close ended with status %d for %s\n", status, path.c_str());
}

Gnss::RinexConverterOptions rinexOptions(const RinexChoices &choices, bool live)
{
    Gnss::RinexConverterOptions options = choices.converter;
    options.directory = QFile::encodeName(choices.directory).toStdString();
    options.program = "rtcm3dump";
    options.flushEachEpoch = live;
    if (!choices.onClose.isEmpty())
        options.onClose = [command = choices.onClose](const std::string &path) { runOnClose(command, path); };
    return options;
}

} // namespace

RinexWriter::RinexWriter(const RinexChoices &choices, bool live, const ViewSetup &time)
    : mConversion(rinexOptions(choices, live))
{
    time.apply(mConversion);
    mConversion.setNoticeHandler(tell);
    if (choices.station)
        mConversion.chooseStation(*choices.station);
}

void RinexWriter::survey(const Frame &frame)
{
    if (frame.record)
        mConversion.survey(*frame.record);
}

void RinexWriter::frame(const Frame &frame)
{
    if (frame.record)
        mConversion.add(*frame.record);
}

bool RinexWriter::finish(OutputDevice &device, QString *error)
{
    const std::vector<std::string> names = mConversion.finish();
    for (const std::string &line : mConversion.drops())
        std::fprintf(stderr, "rtcm3dump: %s\n", line.c_str());
    for (const std::string &name : names) {
        device.write(name.data(), qint64(name.size()));
        device.write("\n", 1);
    }
    if (!device.flush()) {
        *error = device.failure();
        return false;
    }
    if (!mConversion.error().empty() || names.empty()) {
        *error = QString::fromStdString(names.empty() ? mConversion.whyNothing() : mConversion.error());
        return false;
    }
    return true;
}

// The RINEX options.

namespace {

QCommandLineOption option(const char *name, const char *help, const char *value = nullptr)
{
    return value ? QCommandLineOption(QLatin1String(name), QLatin1String(help), QLatin1String(value))
                 : QCommandLineOption(QLatin1String(name), QLatin1String(help));
}

// "1.5,2,-3": exactly `count` finite numbers.
std::optional<std::vector<double>> numbers(const QString &text, int count)
{
    const QStringList parts = text.split(QLatin1Char(','));
    if (parts.size() != count)
        return std::nullopt;
    std::vector<double> values;
    for (const QString &part : parts) {
        bool ok = false;
        const double v = part.trimmed().toDouble(&ok);
        if (!ok || !std::isfinite(v))
            return std::nullopt;
        values.push_back(v);
    }
    return values;
}

// "15m", "1h", "1d", or seconds.
double periodSeconds(const QString &text)
{
    static const std::pair<QChar, double> units[] = {{QLatin1Char('s'), 1}, {QLatin1Char('m'), 60},
                                                     {QLatin1Char('h'), 3600}, {QLatin1Char('d'), 86400}};
    double unit = 1;
    QString number = text;
    for (const auto &[letter, seconds] : units)
        if (text.endsWith(letter, Qt::CaseInsensitive)) {
            unit = seconds;
            number.chop(1);
        }
    bool ok = false;
    const double value = number.toDouble(&ok) * unit;
    // Whole seconds that divide a day, so that every period starts at the same time of day.
    return ok && value >= 60 && value <= 86400 && std::fmod(86400, value) == 0 ? value : 0;
}

// "TLSE00FRA": the nine characters of a long file name's station: name, monument, receiver, country.
bool splitNineCharacterMarker(const QString &marker, Gnss::RinexFileStation &station)
{
    static const QRegularExpression form(QStringLiteral("^([A-Za-z0-9]{4})([0-9])([0-9])([A-Za-z]{3})$"));
    const QRegularExpressionMatch m = form.match(marker);
    if (!m.hasMatch())
        return false;
    station.marker = m.captured(1).toStdString();
    station.monument = m.captured(2).toInt();
    station.receiver = m.captured(3).toInt();
    station.country = m.captured(4).toUpper().toStdString();
    return true;
}

} // namespace

QList<QCommandLineOption> RinexChoices::options()
{
    return {
        option("rinex", "Write RINEX 3.05 (3.04, 2.11) observation and navigation files into DIR (one set per station) and "
                        "print their names. DIR's parent must exist.", "DIR"),
        option("station", "With --rinex: only the station with this ID.", "ID"),
        option("marker", "With --rinex: the marker name (default: the station ID); nine characters such as "
                         "TLSE00FRA also give the monument, receiver and country of the file names.", "NAME"),
        option("marker-number", "With --rinex: the MARKER NUMBER line.", "TEXT"),
        option("marker-type", "With --rinex: the MARKER TYPE line, e.g. GEODETIC.", "TEXT"),
        option("observer", "With --rinex: the observer.", "TEXT"),
        option("agency", "With --rinex: the agency.", "TEXT"),
        option("receiver", "With --rinex: the receiver type, instead of the stream's.", "TEXT"),
        option("receiver-serial", "With --rinex: the receiver serial number.", "TEXT"),
        option("receiver-firmware", "With --rinex: the receiver firmware version.", "TEXT"),
        option("antenna", "With --rinex: the antenna type, instead of the stream's.", "TEXT"),
        option("antenna-serial", "With --rinex: the antenna serial number.", "TEXT"),
        option("antenna-delta", "With --rinex: antenna height, east and north offsets in metres.", "H,E,N"),
        option("position", "With --rinex: the approximate position (ECEF, metres), instead of the stream's.",
               "X,Y,Z"),
        option("from", "With --rinex: leave out epochs before this GPS time, YYYY-MM-DD[THH:MM:SS].", "TIME"),
        option("until", "With --rinex: leave out epochs after this GPS time, YYYY-MM-DD[THH:MM:SS].", "TIME"),
        option("interval", "With --rinex: only epochs on multiples of S seconds of GPS time, e.g. 30.", "S"),
        option("systems", "With --rinex: only these systems, by RINEX letter, e.g. GRE (G R E S J C I).",
               "LETTERS"),
        option("period", "With --rinex: one file set per period of the GPS clock: 15m, 1h, 1d (or seconds "
                         "dividing a day), named for it, e.g. ..._01H_01S_MO.rnx. With --save: one recording per "
                         "period of the clock (UTC), its name from time keywords %Y %y %m %d %n %h %M.", "P"),
        option("gzip", "With --rinex: write the files gzip-compressed (.rnx.gz)."),
        option("rinex-version", "With --rinex: 3.05 (the default), 3.04 or 2.11 (observation files with GPS, "
                                "GLONASS, Galileo and SBAS; GPS and GLONASS navigation files; short names).", "V"),
        option("rinex-priority",
               (QByteArray("With --rinex-version 2.11: the signals that fill each two-letter type, by system, bands "
                           "and attributes in order of preference (default ")
                + Gnss::RinexSignalPriority::defaultText() + ").")
                   .constData(),
               "LIST"),
        option("on-close", "With --rinex: run CMD with each file's path as its last argument once the file is "
                           "complete.", "CMD"),
    };
}

QString RinexChoices::read(const QCommandLineParser &parser)
{
    directory = parser.value(QStringLiteral("rinex"));
    if (parser.isSet(QStringLiteral("rinex")) && directory.isEmpty())
        return QStringLiteral("--rinex takes a folder");
    for (const QCommandLineOption &o : options()) {
        const QString name = o.names().first();
        const bool withSave = name == QLatin1String("period") && parser.isSet(QStringLiteral("save"));
        if (name != QLatin1String("rinex") && parser.isSet(o) && directory.isEmpty() && !withSave)
            return QStringLiteral("--%1 goes with --rinex").arg(name);
    }
    Gnss::RinexConverterOptions &c = converter;
    const auto text = [&](const char *name) { return parser.value(QLatin1String(name)).toStdString(); };
    const QString marker = parser.value(QStringLiteral("marker"));
    c.markerName = marker.toStdString();
    splitNineCharacterMarker(marker, c.station);
    c.markerNumber = text("marker-number");
    c.markerType = text("marker-type");
    c.observer = text("observer");
    c.agency = text("agency");
    c.equipment.receiverDescriptor = text("receiver");
    c.equipment.receiverSerialNumber = text("receiver-serial");
    c.equipment.receiverFirmwareVersion = text("receiver-firmware");
    c.equipment.antennaDescriptor = text("antenna");
    c.equipment.antennaSerialNumber = text("antenna-serial");
    if (parser.isSet(QStringLiteral("station"))) {
        bool ok = false;
        const uint value = parser.value(QStringLiteral("station")).toUInt(&ok);
        constexpr uint kLastStation = uint(Kvt::Nuvrix::wire::Message_Type_1005::Reference_Station_ID.highest);
        if (!ok || value > kLastStation)
            return QStringLiteral("--station takes a station ID, 0 to %1").arg(kLastStation);
        station = uint16_t(value);
    }
    if (parser.isSet(QStringLiteral("antenna-delta"))) {
        const auto v = numbers(parser.value(QStringLiteral("antenna-delta")), 3);
        if (!v)
            return QStringLiteral("--antenna-delta takes H,E,N in metres");
        c.antennaDeltaHen = std::array<double, 3>{(*v)[0], (*v)[1], (*v)[2]};
    }
    if (parser.isSet(QStringLiteral("position"))) {
        const auto v = numbers(parser.value(QStringLiteral("position")), 3);
        if (!v)
            return QStringLiteral("--position takes X,Y,Z in metres");
        c.position = Gnss::Ecef{(*v)[0], (*v)[1], (*v)[2]};
    }
    for (const char *name : {"from", "until"}) {
        if (!parser.isSet(QLatin1String(name)))
            continue;
        const auto t = Gnss::parseTimeHint(text(name));
        if (!t)
            return QStringLiteral("--%1 takes YYYY-MM-DD or YYYY-MM-DDTHH:MM:SS").arg(QLatin1String(name));
        (name[0] == 'f' ? c.from : c.until) = *t;
    }
    if (c.from && c.until && *c.until < *c.from)
        return QStringLiteral("--until comes before --from");
    if (parser.isSet(QStringLiteral("interval"))) {
        bool ok = false;
        c.intervalS = parser.value(QStringLiteral("interval")).toDouble(&ok);
        if (!ok || !(c.intervalS >= 0.001 && c.intervalS <= 86400))
            return QStringLiteral("--interval takes seconds, e.g. 30");
    }
    if (parser.isSet(QStringLiteral("systems"))) {
        c.systems = 0;
        for (const QChar letter : parser.value(QStringLiteral("systems"))) {
            const auto system = Gnss::systemFromLetter(char(letter.toUpper().toLatin1()));
            if (!system)
                return QStringLiteral("--systems takes RINEX letters: G R E S J C I");
            c.systems |= 1u << unsigned(*system);
        }
        if (c.systems == 0)
            return QStringLiteral("--systems takes RINEX letters: G R E S J C I");
    }
    if (parser.isSet(QStringLiteral("period"))) {
        c.periodS = periodSeconds(parser.value(QStringLiteral("period")));
        if (c.periodS <= 0)
            return QStringLiteral("--period takes 15m, 1h, 1d, or seconds that divide a day");
    }
    c.gzip = parser.isSet(QStringLiteral("gzip"));
    if (parser.isSet(QStringLiteral("rinex-version"))) {
        const QString v = parser.value(QStringLiteral("rinex-version"));
        if (v == QLatin1String("3.04"))
            c.version = Gnss::RinexVersion::V3_04;
        else if (v == QLatin1String("2.11"))
            c.version = Gnss::RinexVersion::V2_11;
        else if (v != QLatin1String("3.05"))
            return QStringLiteral("--rinex-version takes 3.05, 3.04 or 2.11");
    }
    if (parser.isSet(QStringLiteral("rinex-priority"))) {
        if (c.version != Gnss::RinexVersion::V2_11)
            return QStringLiteral("--rinex-priority goes with --rinex-version 2.11");
        std::string why;
        const auto priority = Gnss::RinexSignalPriority::parse(text("rinex-priority"), &why);
        if (!priority)
            return QStringLiteral("--rinex-priority: %1").arg(QString::fromStdString(why));
        c.priority = *priority;
    }
    onClose = parser.value(QStringLiteral("on-close"));
    return {};
}
