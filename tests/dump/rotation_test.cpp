// --save with a period over a stream that crosses an hour, a day and a year: every frame in
// exactly one recording, the one named for its period, in the order it came.

#include "RotatingRecorder.h"

#include "../support/dump_runner.h"

#include <QtCore/QDir>
#include <QtCore/QTemporaryDir>

#include <gtest/gtest.h>

namespace {

TEST(SaveRotation, AStreamAcrossAnHourAndADayLosesAndRepeatsNothing)
{
    const struct {
        double periodS;
        int stepS;  // between frames
    } cases[] = {{3600, 7}, {900, 61}, {86400, 600}};
    const qint64 start = QDateTime(QDate(2024, 12, 31), QTime(22, 58, 30), QTimeZone::utc()).toSecsSinceEpoch();
    for (const auto &c : cases) {
        SCOPED_TRACE(c.periodS);
        QTemporaryDir dir;
        const QString pattern = dir.filePath(QStringLiteral("s_%Y%m%d_%n_%h%M.rtcm3"));
        qint64 now = start;
        OutputDevice device(-1, pattern);
        RotatingRecorder recorder(device, pattern, c.periodS, [&now] { return now; });
        ASSERT_TRUE(device.create(recorder.firstName()));
        QMap<QString, QByteArray> expected;
        for (int k = 0; now < start + 2 * 86400; ++k, now += c.stepS) {
            Frame frame;
            frame.bytes = dumprunner::frame(QByteArray::number(k));
            recorder.frame(frame);
            const qint64 periodStart = now - now % qint64(c.periodS);
            expected[RotatingRecorder::expand(pattern, QDateTime::fromSecsSinceEpoch(periodStart, QTimeZone::utc()))] += frame.bytes;
        }
        ASSERT_TRUE(device.flush());
        device.close();
        EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files).size(), expected.size());
        for (auto it = expected.cbegin(); it != expected.cend(); ++it)
            EXPECT_EQ(streamframes::readFile(it.key()), it.value()) << it.key().toStdString();
        EXPECT_TRUE(expected.contains(dir.filePath(QStringLiteral("s_20250101_001_0000.rtcm3"))));
    }
}

} // namespace
