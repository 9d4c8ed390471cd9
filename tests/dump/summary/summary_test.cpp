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

std::string summary(const QByteArray &stream, bool lazy)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("summary"));
    {
        OutputDevice out(-1, path);
        EXPECT_TRUE(out.create(path));
        Stats stats(out, Stats::Style::Json);
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

TEST(LazySummary, EqualsTheWholeDecodeOnMutatedFrames)
{
    const QList<QByteArray> frames = streamframes::splitClean(streamframes::bundledSample()).frames;
    ASSERT_FALSE(frames.isEmpty());
    // Bytes cut or added; bits of the station, the epoch time, the flags, the three masks.
    for (const int change : {-1, -8, -200, 5, 23, 26, 40, 54, 80, 140, 170}) {
        QByteArray stream;
        for (qsizetype k = 0; k < frames.size(); ++k) {
            QByteArray frame = frames[k].chopped(3);
            if (change < 0)
                frame.chop(std::min<qsizetype>(-change, frame.size() - 5));
            else if (change < 8)
                frame += QByteArray(change, '\x5A');
            else if (change / 8 + 3 < frame.size())
                frame[change / 8 + 3] = char(frame[change / 8 + 3] ^ (0x80 >> (change % 8)));
            frame[1] = char((frame.size() - 3) >> 8);
            frame[2] = char(frame.size() - 3);
            const uint32_t crc = streamframes::crc24q(frame);
            stream += k % 3 == 1 ? frame + char(crc >> 16) + char(crc >> 8) + char(crc) : frames[k];
        }
        EXPECT_EQ(summary(stream, true), summary(stream, false)) << change;
    }
}

TEST(LazySummary, EqualsTheWholeDecodeOnEveryCapture)
{
    int captures = 0;
    for (QDirIterator it(QStringLiteral(NUVRIX_SAMPLES_DIR), QDir::Files, QDirIterator::Subdirectories); it.hasNext(); ++captures) {
        const QByteArray stream = streamframes::readFile(it.next());
        EXPECT_EQ(summary(stream, true), summary(stream, false)) << it.filePath().toStdString();
    }
    if (captures == 0)
        GTEST_SKIP() << "no captures at " << NUVRIX_SAMPLES_DIR;
}

} // namespace
