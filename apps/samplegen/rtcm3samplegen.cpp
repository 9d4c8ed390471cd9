// rtcm3samplegen: writes the project's sample RTCM 3 stream to a file or to standard output.

#include "SampleStream.h"
#include "Scaling.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>
#include <QSaveFile>

#include <cstdio>

using namespace Kvt::Nuvrix::SampleGen;

namespace {

int fail(const QString& message)
{
    std::fprintf(stderr, "rtcm3samplegen: %s\n", qUtf8Printable(message));
    return 1;
}

// A file is written whole or not at all, so that a failed run leaves no truncated sample behind.
int writeFile(const QString& path, const QByteArray& stream)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(stream) != stream.size() || !file.commit())
        return fail(QStringLiteral("cannot write %1: %2").arg(path, file.errorString()));
    return 0;
}

int writeStandardOutput(const QByteArray& stream)
{
    QFile out;
    if (!out.open(stdout, QIODevice::WriteOnly) || out.write(stream) != stream.size() || !out.flush())
        return fail(QStringLiteral("cannot write to standard output: %1").arg(out.errorString()));
    return 0;
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("rtcm3samplegen"));
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Writes ten seconds of a simulated RTCM 3 reference station stream."));
    parser.addHelpOption();
    parser.addPositionalArgument(QStringLiteral("output"), QStringLiteral("File to write (default: standard output)."),
                                 QStringLiteral("[output]"));
    parser.process(app);
    const QStringList arguments = parser.positionalArguments();
    if (arguments.size() > 1)
        return fail(QStringLiteral("expected at most one output file"));

    QByteArray stream;
    try {
        stream = buildSampleStream();
    } catch (const SampleError& error) {
        return fail(QString::fromUtf8(error.what()));
    }
    return arguments.isEmpty() ? writeStandardOutput(stream) : writeFile(arguments.first(), stream);
}
