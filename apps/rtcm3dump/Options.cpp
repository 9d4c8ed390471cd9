#include "Options.h"

#include <QtCore/QCommandLineParser>
#include <QtCore/QCoreApplication>

#include "GnssFormat.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>

namespace {

int usageError(const QString &text)
{
    std::fprintf(stderr, "rtcm3dump: %s\n", qPrintable(text));
    return 2;
}

// Seconds as a positive number of at most a day; 0 when the text is not one.
double seconds(const QString &text)
{
    bool ok = false;
    const double value = text.toDouble(&ok);
    return ok && std::isfinite(value) && value > 0 && value <= 86400 ? value : 0;
}

// Shortest --every period: a summary needs some frames to count.
constexpr double kMinEverySeconds = 0.1;

// --help and --version: a full or closed standard output is an error like any other write.
int printed(const QString &text)
{
    const QByteArray bytes = text.toLocal8Bit();
    if (std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stdout) == size_t(bytes.size()) && std::fflush(stdout) == 0)
        return 0;
    std::fprintf(stderr, "rtcm3dump: writing standard output: %s\n", std::strerror(errno));
    return 1;
}

} // namespace

int Options::parse(const QCoreApplication &app)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Decodes an RTCM 3 stream and prints every frame: messages field by field in SI units,\n"
        "and frames that gave no message with their number, the reason and the payload in hex.\n"
        "INPUT is a file, - for standard input, host:port ([address]:port) for a TCP stream,\n"
        "ntrip://[user[:password]@]host[:port]/MOUNT for an NTRIP stream, or ntrip://host[:port]/\n"
        "for the caster's source table (every record and field; with --json, as JSON).\n"
        "Without INPUT, standard input is read when it is a pipe, a socket or a file; otherwise\n"
        "the bundled sample stream is decoded. SIGINT or SIGTERM ends the run cleanly."));
    const QCommandLineOption help = parser.addHelpOption();
    const QCommandLineOption version = parser.addVersionOption();
    parser.addPositionalArgument(QStringLiteral("INPUT"), QStringLiteral("file, -, host:port, or ntrip://..."), QStringLiteral("[INPUT]"));
    const QCommandLineOption json(QStringLiteral("json"),
        QStringLiteral("One JSON object per frame; with --stats, the summaries as JSON lines."));
    const QCommandLineOption raw(QStringLiteral("raw"), QStringLiteral("One raw text line per frame."));
    const QCommandLineOption stats(QStringLiteral("stats"),
        QStringLiteral("Only a summary: frames per message type, stations, CRC errors, dropped bytes, filtered, "
                       "empty and undecodable frames, unknown numbers."));
    const QCommandLineOption every(QStringLiteral("every"),
        QStringLiteral("With --stats: also a summary every S seconds (at least 0.1), with rates (Hz, bytes/s) per message type."),
        QStringLiteral("S"));
    const QCommandLineOption only(QStringLiteral("only"),
        QStringLiteral("Pass only these message numbers: numbers and ranges, e.g. 1005,1071-1077 (repeatable)."),
        QStringLiteral("LIST"));
    const QCommandLineOption skip(QStringLiteral("skip"),
        QStringLiteral("Leave out these message numbers: numbers and ranges (repeatable)."), QStringLiteral("LIST"));
    const QCommandLineOption save(QStringLiteral("save"),
        QStringLiteral("Also write every frame that passes --only/--skip, byte for byte, to FILE, not the input (time "
                       "keywords %Y %y %m %d %n %h %M take the UTC clock; see --period)."),
        QStringLiteral("FILE"));
    const QCommandLineOption timeout(QStringLiteral("timeout"),
        QStringLiteral("Network input: longest wait in seconds for the connection and for data (default 30)."),
        QStringLiteral("S"), QStringLiteral("30"));
    const QCommandLineOption reconnect(QStringLiteral("reconnect"),
        QStringLiteral("Network input: after the connection drops, reconnect (1 s doubling to 60 s) until interrupted."));
    const QCommandLineOption ntripVersion(QStringLiteral("ntrip-version"),
        QStringLiteral("NTRIP: speak version 1 or 2 (default: ask in 2, follow the caster's answer)."), QStringLiteral("1|2"));
    const QCommandLineOption gga(QStringLiteral("gga"),
        QStringLiteral("NTRIP: send this position as an NMEA GGA sentence on connect and every --gga-interval seconds."),
        QStringLiteral("LAT,LON,HEIGHT"));
    const QCommandLineOption ggaInterval(QStringLiteral("gga-interval"),
        QStringLiteral("NTRIP: seconds between GGA sentences (default 10)."), QStringLiteral("S"), QStringLiteral("10"));
    const QCommandLineOption obs(QStringLiteral("obs"),
        QStringLiteral("Observations: one block per epoch (GPST date and time, week, time of week), one line per "
                       "satellite and signal; stations in ECEF and latitude, longitude, height. With --json, one "
                       "JSON object per epoch, station and orbit."));
    const QCommandLineOption time(QStringLiteral("time"),
        QStringLiteral("A time reference for streams that carry no date: YYYY-MM-DD[THH:MM:SS] (GPST)."),
        QStringLiteral("DATE"));
    const QCommandLineOption channels(QStringLiteral("glonass-channels"),
        QStringLiteral("GLONASS frequency channels the stream does not tell: SLOT:CHANNEL,... e.g. 1:1,2:-4."),
        QStringLiteral("LIST"));
    const QCommandLineOption bdsSsrIod8(QStringLiteral("bds-ssr-iod8"),
        QStringLiteral("Read BeiDou SSR 1258/1261 frames that the standard layout does not fit with an 8-bit IOD\n"
                       "in place of the 24-bit IOD/CRC, as some producers send them."));
    const QCommandLineOption describeOption(QStringLiteral("describe"),
        QStringLiteral("Print the message and field descriptions (all, or of message N given as INPUT) and exit."));
    parser.addOptions({json, raw, stats, every, only, skip, save, timeout, reconnect, ntripVersion, gga, ggaInterval,
                       obs, time, channels, bdsSsrIod8, describeOption});
    parser.addOptions(RinexChoices::options());

    // Unknown options and missing values are usage errors like the others (status 2);
    // process() only handles --help and --version then.
    if (!parser.parse(QCoreApplication::arguments()))
        return usageError(parser.errorText());
    if (parser.isSet(help))
        return printed(parser.helpText());
    if (parser.isSet(version))
        return printed(QCoreApplication::applicationName() + QLatin1Char(' ') + QCoreApplication::applicationVersion() + QLatin1Char('\n'));
    parser.process(app);

    const QStringList args = parser.positionalArguments();
    if (args.size() > 1)
        return usageError(QStringLiteral("give at most one INPUT (see --help)"));
    input = args.value(0);
    if (parser.isSet(json) && parser.isSet(raw))
        return usageError(QStringLiteral("give one of --json and --raw (see --help)"));
    if (parser.isSet(raw) && parser.isSet(stats))
        return usageError(QStringLiteral("--raw and --stats do not go together (see --help)"));
    style = parser.isSet(json) ? Printer::Style::Json : parser.isSet(raw) ? Printer::Style::Raw : Printer::Style::Text;
    this->stats = parser.isSet(stats);
    this->obs = parser.isSet(obs);
    extension.bds_ssr_iod8 = parser.isSet(bdsSsrIod8);
    if (const QString problem = rinex.read(parser); !problem.isEmpty())
        return usageError(problem);
    const QString &rinexDir = rinex.directory;
    if ((this->obs || !rinexDir.isEmpty()) && (parser.isSet(raw) || this->stats))
        return usageError(QStringLiteral("--obs and --rinex do not go with --raw or --stats (see --help)"));
    if (this->obs && !rinexDir.isEmpty())
        return usageError(QStringLiteral("give one of --obs and --rinex (see --help)"));
    if (!rinexDir.isEmpty() && parser.isSet(json))
        return usageError(QStringLiteral("--rinex writes files, not JSON (see --help)"));
    for (const QString &pair : parser.value(channels).split(QLatin1Char(','), Qt::SkipEmptyParts)) {
        bool slotOk = false, channelOk = false;
        const int slot = pair.section(QLatin1Char(':'), 0, 0).toInt(&slotOk);
        const int channel = pair.section(QLatin1Char(':'), 1).toInt(&channelOk);
        if (!slotOk || !channelOk || slot < 1 || slot > 24 || channel < -7 || channel > 6)
            return usageError(QStringLiteral("--glonass-channels takes SLOT:CHANNEL pairs, slots 1-24, channels -7 to 6"));
        glonassChannels[slot] = channel;
    }
    if (parser.isSet(channels) && glonassChannels.empty())
        return usageError(QStringLiteral("--glonass-channels takes SLOT:CHANNEL pairs"));
    if (parser.isSet(time)) {
        timeHint = Kvt::Gnss::parseTimeHint(parser.value(time).toStdString());
        if (!timeHint)
            return usageError(QStringLiteral("--time takes YYYY-MM-DD or YYYY-MM-DDTHH:MM:SS"));
    }

    if (parser.isSet(every)) {
        everySeconds = seconds(parser.value(every));
        if (!this->stats || everySeconds < kMinEverySeconds)
            return usageError(QStringLiteral("--every takes a number of seconds, at least %1, and goes with --stats")
                                  .arg(kMinEverySeconds));
    }
    const double timeoutSeconds = seconds(parser.value(timeout));
    if (timeoutSeconds <= 0)
        return usageError(QStringLiteral("--timeout takes a number of seconds, e.g. 30"));
    network.timeoutMs = int(std::ceil(timeoutSeconds * 1000));
    network.reconnect = parser.isSet(reconnect);
    if (parser.isSet(ntripVersion)) {
        const QString v = parser.value(ntripVersion);
        if (v != QLatin1String("1") && v != QLatin1String("2"))
            return usageError(QStringLiteral("--ntrip-version takes 1 or 2"));
        network.version = v.toInt();
    }
    if (parser.isSet(gga)) {
        QString error;
        network.gga = GgaPosition::parse(parser.value(gga), &error);
        if (!error.isEmpty())
            return usageError(QStringLiteral("--gga: %1").arg(error));
    }
    const double ggaSeconds = seconds(parser.value(ggaInterval));
    if (ggaSeconds <= 0)
        return usageError(QStringLiteral("--gga-interval takes a number of seconds, e.g. 10"));
    network.ggaIntervalMs = int(std::ceil(ggaSeconds * 1000));

    QString error;
    if (!selection.addOnly(parser.values(only), &error))
        return usageError(QStringLiteral("--only: %1").arg(error));
    if (!selection.addSkip(parser.values(skip), &error))
        return usageError(QStringLiteral("--skip: %1").arg(error));
    saveFile = parser.value(save);
    if (parser.isSet(save) && saveFile.isEmpty())
        return usageError(QStringLiteral("--save takes a file name"));

    describe = parser.isSet(describeOption);
    if (describe && !input.isEmpty()) {
        bool ok = false;
        describeNumber = input.toInt(&ok);
        if (!ok || describeNumber < 0)
            return usageError(QStringLiteral("--describe takes a message number"));
    }
    return -1;
}
