// rtcm3dump: decodes an RTCM 3 stream from a file, standard input or a TCP endpoint and
// prints every frame through the format's descriptions, or a summary of the stream.
//
// Shape: a ByteSource gives bytes with a bounded wait; the FramePipeline cuts and decodes
// them and hands every CRC-checked frame to its FrameSinks (a printer or the statistics, the
// recorder). More inputs are more ByteSources, more outputs more sinks.

#include "ByteSource.h"
#include "FramePipeline.h"
#include "GnssOutputs.h"
#include "Lifecycle.h"
#include "Options.h"
#include "Output.h"
#include "Printer.h"
#include "SourceTableListing.h"
#include "RotatingRecorder.h"
#include "Stats.h"

#include "NtripClient.h"
#include "RTCM3_FormatInfo.h"

#include <QtCore/QCoreApplication>
#include <QtCore/QDir>
#include <QtCore/QElapsedTimer>
#include <QtCore/QFile>
#include <QtCore/QFileInfo>
#include <QtCore/QScopeGuard>

#include <algorithm>
#include <cstdio>
#include <unistd.h>

namespace {

// Longest wait for input before the loop looks at the stop flag and its timers again.
constexpr int kPollMs = 200;

void complain(const QString &text)
{
    std::fprintf(stderr, "rtcm3dump: %s\n", qPrintable(text));
}

// Next to an installed program first, then where the build wrote it.
QString bundledSample()
{
    const QString installed = QCoreApplication::applicationDirPath()
        + QStringLiteral("/../share/nuvrixrtcm3/sample.rtcm3");
    return QFileInfo::exists(installed) ? QDir::cleanPath(installed) : QStringLiteral(NUVRIX_SAMPLE_STREAM);
}

class Progress
{
public:
    explicit Progress(qint64 total) : mTotal(total), mShow(total > 4 * 1024 * 1024 && isatty(2)) {}
    void advance(qint64 bytes)
    {
        mDone += bytes;
        if (mShow && mDone - mShown >= 1024 * 1024) {
            mShown = mDone;
            std::fprintf(stderr, "\r%6.1f of %.1f MB (%d%%)", mDone / 1048576.0, mTotal / 1048576.0,
                         int(100 * mDone / mTotal));
        }
    }
    ~Progress()
    {
        if (mShow && mShown)
            std::fprintf(stderr, "\r%40s\r", "");
    }

private:
    qint64 mTotal;
    qint64 mDone = 0;
    qint64 mShown = 0;
    bool mShow;
};

// The status once everything is written: a reader that went away took what it wanted, and
// the program ends quietly as filters do.
int outputStatus(OutputDevice &out)
{
    if (out.flush() || out.readerGone())
        return 0;
    complain(out.failure());
    return 1;
}

int describe(const Options &options, OutputDevice &out)
{
    QTextStream text(&out);
    const int shown = Printer::describe(text, RTCM3_FormatInfo::getInstance(), options.describeNumber);
    text.flush();
    if (shown == 0) {
        complain(QStringLiteral("no message %1 has a description").arg(options.describeNumber));
        return 2;
    }
    return outputStatus(out);
}

// Reads until the input ends, fails or a stop is requested; false when reading failed.
bool pump(ByteSource &source, FramePipeline &pipeline, Stats *stats, double everySeconds)
{
    const bool live = source.isLive();
    const qint64 periodMs = qint64(everySeconds * 1000);
    QElapsedTimer clock;
    clock.start();
    qint64 periodStart = 0;
    Progress progress(source.size());
    QByteArray chunk;
    while (!lifecycle::stopRequested()) {
        const qint64 untilReport = periodMs > 0 ? periodStart + periodMs - clock.elapsed() : kPollMs;
        const ByteSource::Status status = source.read(chunk, int(std::clamp<qint64>(untilReport, 0, kPollMs)));
        // A reconnected stream: what the old connection left unfinished is dropped.
        if (source.takeRestart())
            pipeline.endOfStream();
        if (status == ByteSource::Status::Data) {
            progress.advance(chunk.size());
            pipeline.append(chunk);
            if (live)
                pipeline.flush();
        }
        if (periodMs > 0 && clock.elapsed() >= periodStart + periodMs) {
            const qint64 now = clock.elapsed();
            stats->printPeriod((now - periodStart) / 1000.0);
            periodStart = now;
        }
        if (status == ByteSource::Status::End || status == ByteSource::Status::Failed || !pipeline.writeError().isEmpty())
            return status != ByteSource::Status::Failed;
    }
    return true;
}

// The input as messages name it: an NTRIP address without its password.
QString displayName(const QString &input)
{
    QString problem;
    return NtripEndpoint::isNtripUrl(input) ? NtripEndpoint::parse(input, &problem).display() : input;
}

// The first of the two passes over a file that RINEX takes: the header then lists everything
// the file holds.
bool surveyFile(const QString &input, const Options &options, RinexWriter &rinex)
{
    class Survey : public FrameSink
    {
    public:
        explicit Survey(RinexWriter &rinex) : mRinex(rinex) {}
        void frame(const Frame &frame) override { mRinex.survey(frame); }

    private:
        RinexWriter &mRinex;
    } survey(rinex);
    ByteSource::OpenError error;
    // Standard input that is a file is read twice: back to where it stood for the second pass.
    const off_t start = input == QLatin1String("-") ? ::lseek(STDIN_FILENO, 0, SEEK_CUR) : -1;
    const auto source = ByteSource::open(input, ByteSource::Settings{options.network}, &error);
    if (!source) {
        complain(error.text);
        return false;
    }
    const auto rewind = qScopeGuard([start] { if (start >= 0) ::lseek(STDIN_FILENO, start, SEEK_SET); });
    FramePipeline pipeline(options.selection, false);
    pipeline.addSink(&survey);
    QByteArray chunk;
    for (;;) {
        const ByteSource::Status status = source->read(chunk, kPollMs);
        if (status == ByteSource::Status::Data)
            pipeline.append(chunk);
        else if (status != ByteSource::Status::Idle || lifecycle::stopRequested())
            break;
    }
    pipeline.endOfStream();
    return true;
}

// ntrip://host[:port]/ : one line per record of the caster's source table.
int listSourceTable(const NtripEndpoint &caster, const Options &options, OutputDevice &out)
{
    QString error;
    const SourceTable table = fetchSourceTable(caster, options.network, &error, lifecycle::stopRequested);
    if (!error.isEmpty()) {
        complain(QStringLiteral("%1: %2").arg(caster.display(), error));
        return 1;
    }
    for (const QStringList &record : table.records)
        out.write(sourceTableLine(record, options.style == Printer::Style::Json));
    return outputStatus(out);
}

int dump(const Options &options, OutputDevice &out)
{
    QString input = options.input;
    if (input.isEmpty())
        input = ByteSource::standardInputHoldsData() ? QStringLiteral("-") : bundledSample();
    ByteSource::OpenError openError;
    if (NtripEndpoint::isNtripUrl(input)) {
        QString problem;
        const NtripEndpoint caster = NtripEndpoint::parse(input, &problem);
        if (problem.isEmpty() && caster.mountpoint.isEmpty())
            return listSourceTable(caster, options, out);
    }
    const auto source = ByteSource::open(input, ByteSource::Settings{options.network}, &openError);
    if (!source && !lifecycle::stopRequested()) {
        complain(openError.text);
        return openError.status;
    }

    // Checked before the file is opened for writing, which would empty it.
    OutputDevice saved(-1, options.saveFile);
    RotatingRecorder recorder(saved, options.saveFile, options.rinex.converter.periodS);
    if (!options.saveFile.isEmpty() && source && source->readsFrom(recorder.firstName())) {
        complain(QStringLiteral("--save %1 is the input: it would be overwritten").arg(recorder.firstName()));
        return 2;
    }
    if (!options.saveFile.isEmpty() && !saved.create(recorder.firstName())) {
        complain(QStringLiteral("cannot write %1: %2").arg(recorder.firstName(), saved.error()));
        return 1;
    }
    // Every output but the raw lines comes straight from the records; those read message
    // objects through their descriptions.
    const bool engineering = options.obs || !options.rinex.directory.isEmpty();
    FramePipeline pipeline(options.selection, !options.stats && options.style == Printer::Style::Raw && !engineering,
                           options.extension);
    const ViewSetup time{options.timeHint, source && source->isNetwork(), options.glonassChannels};
    std::unique_ptr<Stats> stats;
    std::unique_ptr<Printer> printer;
    std::unique_ptr<ObservationPrinter> observations;
    std::unique_ptr<RinexWriter> rinex;
    std::unique_ptr<EpochMonitor> monitor;
    if (options.obs) {
        observations = std::make_unique<ObservationPrinter>(out, options.style == Printer::Style::Json, time);
        pipeline.addSink(observations.get());
    } else if (engineering) {
        // Only the last folder is created: a mistyped path makes no tree.
        if (!QFileInfo(options.rinex.directory).isDir() && !QDir().mkdir(options.rinex.directory)) {
            complain(QStringLiteral("cannot create the folder %1 (its parent must exist)").arg(options.rinex.directory));
            return 1;
        }
        rinex = std::make_unique<RinexWriter>(options.rinex, source && source->isLive(), time);
        if (source && source->isRegularFile() && !surveyFile(input, options, *rinex))
            return 1;
        pipeline.addSink(rinex.get());
    } else if (options.stats) {
        stats = std::make_unique<Stats>(out, options.style == Printer::Style::Json ? Stats::Style::Json : Stats::Style::Text);
        pipeline.addSink(stats.get());
        monitor = std::make_unique<EpochMonitor>(*stats, source && source->isLive(), time);
        pipeline.addSink(monitor.get());
        pipeline.setScalarRecords(true);
    } else {
        printer = Printer::create(options.style, out);
        pipeline.addSink(printer.get());
    }
    if (!options.saveFile.isEmpty())
        pipeline.addSink(&recorder);

    // Interrupted while connecting: an empty run.
    const bool readAll = !source || pump(*source, pipeline, stats.get(), options.everySeconds);
    if (pipeline.writeError().isEmpty())
        pipeline.endOfStream();
    if (observations)
        observations->finish();
    if (monitor)
        monitor->finish();
    if (stats)
        stats->printTotal();
    if (QString error; rinex && !rinex->finish(out, &error)) {
        complain(QStringLiteral("writing RINEX into %1: %2").arg(options.rinex.directory, error));
        return 1;
    }
    pipeline.flush();
    saved.close();
    if (saved.failed()) {
        complain(saved.failure());
        return 1;
    }
    if (const QString error = pipeline.writeError(); !error.isEmpty() && !out.readerGone()) {
        complain(error);
        return 1;
    }
    if (!readAll && !lifecycle::stopRequested()) {
        complain(QStringLiteral("reading %1: %2").arg(displayName(input), source->error()));
        return 1;
    }
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    lifecycle::ensureStandardDescriptors();
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("rtcm3dump"));
    QCoreApplication::setApplicationVersion(QStringLiteral(NUVRIX_VERSION));
    Options options;
    if (const int status = options.parse(app); status >= 0)
        return status;
    lifecycle::installSignalHandlers();
    OutputDevice out(STDOUT_FILENO, QStringLiteral("standard output"));
    return options.describe ? describe(options, out) : dump(options, out);
}
