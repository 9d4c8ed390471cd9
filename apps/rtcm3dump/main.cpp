// rtcm3dump: decodes an RTCM 3 stream from a file, standard input or a TCP endpoint and
// prints every message through the format's descriptions.

#include "ByteSource.h"
#include "Printer.h"
#include "Stats.h"

#include "RTCM3Decoder.h"
#include "RTCM3Synchronizer.h"
#include "RTCM3_FormatInfo.h"
#include "RTCM3_codec.h"
#include "RTCM3_layout.h"
#include "Message.h"

#include <QtCore/QCommandLineParser>
#include <QtCore/QCoreApplication>
#include <QtCore/QTextStream>

#include <cstdio>
#include <unistd.h>

namespace {

// Prints and counts every message the decoder hands over.
class Output : public Stats
{
public:
    Output(Printer *printer) : mPrinter(printer) {}
    void message(const MessageSource *, const Message *message) override
    {
        if (mPrinter)
            mPrinter->print(message);
    }

private:
    Printer *mPrinter;
};

// Enumerators of a message number (4089 stands for both of its sub-types).
QList<int> enumeratorsOf(int number)
{
    QList<int> out;
    for (int e = 1; const auto *layout = Kvt::Nuvrix::RTCM3_layout(e); ++e)
        if (layout->messageNumber == number)
            out << e;
    return out;
}

bool parseNumbers(const QString &text, QList<int> *numbers)
{
    for (const QString &part : text.split(QLatin1Char(','), Qt::SkipEmptyParts)) {
        bool ok = false;
        const int n = part.trimmed().toInt(&ok);
        if (!ok || enumeratorsOf(n).isEmpty())
            return false;
        *numbers << n;
    }
    return true;
}

class Progress
{
public:
    Progress(qint64 total) : mTotal(total), mShow(total > 4 * 1024 * 1024 && isatty(2)) {}
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

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("rtcm3dump"));
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Decodes an RTCM 3 stream and prints every message.\n"
        "INPUT is a file, - for standard input, or host:port for a TCP stream;\n"
        "without INPUT the bundled sample stream is decoded."));
    parser.addHelpOption();
    parser.addPositionalArgument(QStringLiteral("INPUT"), QStringLiteral("file, -, or host:port"), QStringLiteral("[INPUT]"));
    const QCommandLineOption json(QStringLiteral("json"), QStringLiteral("One JSON object per message: field names, raw values, units."));
    const QCommandLineOption raw(QStringLiteral("raw"), QStringLiteral("One raw text line per message."));
    const QCommandLineOption stats(QStringLiteral("stats"), QStringLiteral("Only a summary: frames per message type, CRC errors, dropped bytes, unknown numbers, decode errors."));
    const QCommandLineOption only(QStringLiteral("only"), QStringLiteral("Decode only these message numbers (comma-separated)."), QStringLiteral("LIST"));
    const QCommandLineOption skip(QStringLiteral("skip"), QStringLiteral("Do not decode these message numbers (comma-separated)."), QStringLiteral("LIST"));
    const QCommandLineOption describe(QStringLiteral("describe"), QStringLiteral("Print the message and field descriptions (all, or of message N given as INPUT) and exit."));
    parser.addOptions({json, raw, stats, only, skip, describe});
    // Unknown options and missing values are usage errors like the others (status 2);
    // process() only handles --help then.
    if (!parser.parse(QCoreApplication::arguments())) {
        std::fprintf(stderr, "rtcm3dump: %s\n", qPrintable(parser.errorText()));
        return 2;
    }
    parser.process(app);

    QTextStream out(stdout);
    QTextStream err(stderr);
    const QStringList args = parser.positionalArguments();
    if (args.size() > 1 || (parser.isSet(json) + parser.isSet(raw) + parser.isSet(stats)) > 1) {
        err << "rtcm3dump: give at most one INPUT and one of --json, --raw, --stats (see --help)\n";
        return 2;
    }
    const FormatInfo *format = RTCM3_FormatInfo::getInstance();

    if (parser.isSet(describe)) {
        bool ok = true;
        const int number = args.isEmpty() ? -1 : args.first().toInt(&ok);
        if (!ok || (number >= 0 && enumeratorsOf(number).isEmpty())) {
            err << "rtcm3dump: --describe takes a known message number\n";
            return 2;
        }
        Printer::describe(out, format, number);
        return 0;
    }

    RTCM3Decoder decoder(nullptr);
    QList<int> numbers;
    if (parser.isSet(only)) {
        if (!parseNumbers(parser.value(only), &numbers)) {
            err << "rtcm3dump: --only takes known message numbers, e.g. 1005,1077\n";
            return 2;
        }
        decoder.disableAllMessages();
        for (int n : numbers)
            for (int e : enumeratorsOf(n))
                decoder.enableMessageEnum(e);
    }
    if (parser.isSet(skip)) {
        numbers.clear();
        if (!parseNumbers(parser.value(skip), &numbers)) {
            err << "rtcm3dump: --skip takes known message numbers, e.g. 1019,1020\n";
            return 2;
        }
        for (int n : numbers)
            for (int e : enumeratorsOf(n))
                decoder.disableMessageEnum(e);
    }

    const QString input = args.isEmpty() ? QStringLiteral(NUVRIX_SAMPLE_STREAM) : args.first();
    QString error;
    const auto source = ByteSource::open(input, &error);
    if (!source) {
        err << "rtcm3dump: " << error << '\n';
        return 1;
    }

    const Printer::Style style = parser.isSet(json) ? Printer::Style::Json
                               : parser.isSet(raw)  ? Printer::Style::Raw
                                                    : Printer::Style::Text;
    Printer printer(out, style);
    Output output(parser.isSet(stats) ? nullptr : &printer);
    RTCM3Synchronizer sync;
    sync.setObserver(&output);
    decoder.setObserver(&output);

    const auto deliver = [&] {
        while (sync.hasBlock()) {
            const QByteArray frame = sync.getBlockBytes();
            output.frameDecoded(frame, decoder.decodeMessage(reinterpret_cast<const uint8_t *>(frame.constData()),
                                                             uint(frame.size())));
        }
    };
    {
        Progress progress(source->size());
        for (QByteArray chunk = source->read(); !chunk.isEmpty(); chunk = source->read()) {
            progress.advance(chunk.size());
            sync.appendBytes(chunk);
            deliver();
        }
    }
    // Frames behind a false preamble whose claimed length ran past the end.
    sync.endOfStream();
    deliver();
    out.flush();

    if (parser.isSet(stats))
        output.print(out);
    if (!source->error().isEmpty()) {
        err << "rtcm3dump: reading " << input << ": " << source->error() << '\n';
        return 1;
    }
    return 0;
}
