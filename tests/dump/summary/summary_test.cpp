// The summary from records decoded as far as their scalars, with the view fed observation
// headers only, is the summary from records decoded whole and fed whole: over the bundled
// stream with frames cut, lengthened and with header bits flipped, and over every capture.

#include "stream_frames.h"

#include "EpochHeaders.h"
#include "FramePipeline.h"
#include "GnssOutputs.h"
#include "Output.h"
#include "Stats.h"

#include <QtCore/QDir>
#include <QtCore/QDirIterator>
#include <QtCore/QTemporaryDir>

#include <gtest/gtest.h>

#include <functional>

namespace {

QString summary(const QByteArray &stream, bool lazy, Stats::Style style)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("summary"));
    {
        OutputDevice out(-1, path);
        if (!out.create(path))
            return QStringLiteral("cannot write ") + path;
        Stats stats(out, style);
        // No hint: the stream's own evidence dates it, as in a plain run.
        const ViewSetup time;
        EpochMonitor monitor(stats, false, time, lazy);
        FramePipeline pipeline(Selection(), false);
        pipeline.setScalarRecords(lazy);
        pipeline.addSink(&stats);
        pipeline.addSink(&monitor);
        pipeline.append(stream);
        pipeline.endOfStream();
        monitor.finish();
        stats.printTotal();
    }
    return QString::fromUtf8(streamframes::readFile(path));
}

void expectSameSummaries(const QByteArray &stream, const QString &what)
{
    for (const Stats::Style style : {Stats::Style::Text, Stats::Style::Json}) {
        const QString whole = summary(stream, false, style);
        ASSERT_FALSE(whole.isEmpty()) << what.toStdString();
        EXPECT_EQ(summary(stream, true, style).toStdString(), whole.toStdString()) << what.toStdString();
    }
}

QByteArray reframed(const QByteArray &payload)
{
    QByteArray bytes = QByteArray("\xD3") + char(payload.size() >> 8) + char(payload.size() & 0xFF) + payload;
    const uint32_t crc = streamframes::crc24q(bytes);
    return bytes + char(crc >> 16) + char(crc >> 8) + char(crc);
}

QByteArray flipped(QByteArray payload, int bit)
{
    if (bit / 8 < payload.size())
        payload[bit / 8] = char(payload[bit / 8] ^ (0x80 >> (bit % 8)));
    return payload;
}

struct Mutation
{
    const char *name;
    std::function<QByteArray(const QByteArray &payload)> apply;
};

TEST(LazySummary, EqualsTheWholeDecodeOnMutatedFrames)
{
    const QByteArray sample = streamframes::bundledSample();
    const QList<QByteArray> frames = streamframes::splitClean(sample).frames;
    ASSERT_FALSE(frames.isEmpty());
    // Bits from the message number on: station, times, flags, masks, the first cells.
    const Mutation mutations[] = {
        {"unchanged", [](const QByteArray &p) { return p; }},
        {"last byte cut", [](const QByteArray &p) { return p.left(p.size() - 1); }},
        {"half cut", [](const QByteArray &p) { return p.left(p.size() / 2); }},
        {"header only", [](const QByteArray &p) { return p.left(21); }},
        {"bytes added", [](const QByteArray &p) { return p + QByteArray(5, '\x5A'); }},
        {"station bit", [](const QByteArray &p) { return flipped(p, 23); }},
        {"epoch bit", [](const QByteArray &p) { return flipped(p, 40); }},
        {"day or time bit", [](const QByteArray &p) { return flipped(p, 26); }},
        {"more-messages flag", [](const QByteArray &p) { return flipped(p, 54); }},
        {"satellite mask bit", [](const QByteArray &p) { return flipped(p, 80); }},
        {"signal mask bit", [](const QByteArray &p) { return flipped(p, 140); }},
        {"cell mask bit", [](const QByteArray &p) { return flipped(p, 170); }},
        {"legacy satellite count", [](const QByteArray &p) { return flipped(p, 60); }},
    };
    for (const Mutation &mutation : mutations) {
        QByteArray stream;
        for (qsizetype k = 0; k < frames.size(); ++k) {
            const QByteArray payload = frames[k].mid(3, frames[k].size() - 6);
            // Every third frame mutated, so that epochs around it stay whole.
            stream += k % 3 == 1 ? reframed(mutation.apply(payload)) : frames[k];
        }
        expectSameSummaries(stream, QString::fromLatin1(mutation.name));
    }
}

TEST(CapturesLazySummary, EqualsTheWholeDecodeOnEveryCapture)
{
    const QString folder = QStringLiteral(NUVRIX_SAMPLES_DIR);
    if (folder.isEmpty() || !QDir(folder).exists())
        GTEST_SKIP() << "no samples folder: the captures are not summarised";
    int captures = 0;
    for (QDirIterator it(folder, QDir::Files, QDirIterator::Subdirectories); it.hasNext();) {
        const QString path = it.next();
        if (path.endsWith(QLatin1String(".md")) || path.endsWith(QLatin1String(".txt")))
            continue;
        expectSameSummaries(streamframes::readFile(path), path);
        ++captures;
    }
    EXPECT_GT(captures, 0);
}

} // namespace
