// The summary from records decoded as far as their scalars, the view fed observation headers
// only, equals the summary from whole records: on the bundled stream with every third frame
// cut, lengthened or with a header bit flipped, and on every capture.

#include "stream_frames.h"

#include "FramePipeline.h"
#include "GnssOutputs.h"
#include "Output.h"
#include "Stats.h"

#include <QtCore/QDirIterator>
#include <QtCore/QTemporaryDir>

#include <gtest/gtest.h>

namespace {

std::string summary(const QByteArray &stream, bool lazy, Stats::Style style)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("summary"));
    {
        OutputDevice out(-1, path);
        EXPECT_TRUE(out.create(path));
        Stats stats(out, style);
        EpochMonitor monitor(stats, false, ViewSetup(), lazy);
        FramePipeline pipeline(Selection(), false);
        pipeline.setScalarRecords(lazy);
        pipeline.addSink(&stats);
        pipeline.addSink(&monitor);
        pipeline.append(stream);
        pipeline.endOfStream();
        monitor.finish();
        stats.printTotal();
    }
    return streamframes::readFile(path).toStdString();
}

QByteArray frameOf(const QByteArray &payload)
{
    const QByteArray bytes = QByteArray("\xD3") + char(payload.size() >> 8) + char(payload.size() & 0xFF) + payload;
    const uint32_t crc = streamframes::crc24q(bytes);
    return bytes + char(crc >> 16) + char(crc >> 8) + char(crc);
}

void expectSameSummaries(const QByteArray &stream, const QString &what)
{
    for (const Stats::Style style : {Stats::Style::Text, Stats::Style::Json})
        EXPECT_EQ(summary(stream, true, style), summary(stream, false, style)) << what.toStdString();
}

TEST(LazySummary, EqualsTheWholeDecodeOnMutatedFrames)
{
    const QList<QByteArray> frames = streamframes::splitClean(streamframes::bundledSample()).frames;
    ASSERT_FALSE(frames.isEmpty());
    // Bytes cut or added; bits of the station, the epoch time, the flags, the three masks.
    for (const int change : {-1, -8, -200, 5, 23, 26, 40, 54, 80, 140, 170}) {
        QByteArray stream;
        for (qsizetype k = 0; k < frames.size(); ++k) {
            QByteArray payload = frames[k].mid(3, frames[k].size() - 6);
            if (change < 0)
                payload.chop(std::min<qsizetype>(-change, payload.size() - 2));
            else if (change < 8)
                payload += QByteArray(change, '\x5A');
            else if (change / 8 < payload.size())
                payload[change / 8] = char(payload[change / 8] ^ (0x80 >> (change % 8)));
            stream += k % 3 == 1 ? frameOf(payload) : frames[k];
        }
        expectSameSummaries(stream, QString::number(change));
    }
}

TEST(LazySummary, EqualsTheWholeDecodeOnEveryCapture)
{
    int captures = 0;
    for (QDirIterator it(QStringLiteral(NUVRIX_SAMPLES_DIR), QDir::Files, QDirIterator::Subdirectories); it.hasNext(); ++captures) {
        const QString path = it.next();
        expectSameSummaries(streamframes::readFile(path), path);
    }
    if (captures == 0)
        GTEST_SKIP() << "no captures at " << NUVRIX_SAMPLES_DIR;
}

} // namespace
