// The parts of the relay that decide without a network: message filters with rate limits and
// file rotation, driven by an injected clock.

#include "RelayOutput.h"

#include "dump_runner.h"

#include <QtCore/QDir>
#include <QtCore/QTemporaryDir>

#include <gtest/gtest.h>

namespace {

Frame frameOf(int type, qint64 atMs)
{
    const QByteArray payload = QByteArray(1, char(type >> 4)) + char((type & 0xF) << 4) + QByteArray(6, '\x5A');
    return Frame{dumprunner::frame(payload), type, atMs * 1000000};
}

// Which of the frames (type, time in ms) the filter passes.
TEST(RelayFilter, PassesListedTypesAtMostOncePerInterval)
{
    const struct
    {
        const char *filter;
        std::vector<std::pair<int, qint64>> frames;
        std::vector<bool> passes;
    } cases[] = {
        {"", {{1074, 0}, {1005, 1}}, {true, true}},
        {"1074,1087", {{1074, 0}, {1005, 0}, {1087, 5}, {1074, 6}}, {true, false, true, true}},
        // 1005 at most every 10 s: at 0, not at 9.999 s, again at 10 s counted from the last pass.
        {"1005(10),1074", {{1005, 0}, {1005, 9999}, {1074, 9999}, {1005, 10000}, {1005, 19999}, {1005, 20000}},
         {true, false, true, true, false, true}},
        {"1230(0.5)", {{1230, 0}, {1230, 499}, {1230, 500}}, {true, false, true}},
    };
    for (const auto &c : cases) {
        QString error;
        MessageFilter filter = MessageFilter::parse(QString::fromLatin1(c.filter), &error);
        ASSERT_TRUE(error.isEmpty()) << c.filter;
        for (size_t i = 0; i < c.frames.size(); ++i)
            EXPECT_EQ(filter.accept(c.frames[i].first, c.frames[i].second), c.passes[i]) << c.filter << " frame " << i;
    }
    for (const char *bad : {"10x", "1005(", "1005(x)", "0", "4096", "1005(-1)"}) {
        QString error;
        MessageFilter::parse(QString::fromLatin1(bad), &error);
        EXPECT_FALSE(error.isEmpty()) << bad;
    }
}

class SteppedClock : public RelayClock
{
public:
    QDateTime utcNow() const override { return now; }
    QDateTime now;
};

// Frames written each second across 10:00 and 11:00 land in one file per hour, in order, none
// lost and none written twice.
TEST(RelayFile, RotatesOnTheHourWithoutLosingOrRepeatingAFrame)
{
    QTemporaryDir dir;
    SteppedClock clock;
    QString error;
    const RelayAddress address = RelayAddress::parse(dir.filePath(QStringLiteral("st_%Y%m%d_%h.rtcm3")), &error);
    const auto output = RelayOutput::create(address, &clock, &error);
    ASSERT_TRUE(output) << error.toStdString();
    QByteArray expected;
    const QDateTime start(QDate(2026, 12, 31), QTime(22, 59, 57), Qt::UTC);
    QMap<QString, QByteArray> byHour;
    for (int s = 0; s < 3610; ++s) {
        clock.now = start.addSecs(s);
        const Frame frame = frameOf(1074 + s % 3, s);
        output->offer(frame);
        byHour[clock.now.toString(QStringLiteral("yyyyMMdd_hh"))] += frame.bytes;
    }
    output->finish();
    const QStringList files = QDir(dir.path()).entryList(QDir::Files, QDir::Name);
    ASSERT_EQ(files.size(), byHour.size());
    for (const QString &file : files) {
        const QString hour = file.mid(3, 11);
        EXPECT_TRUE(streamframes::readFile(dir.filePath(file)) == byHour.value(hour)) << file.toStdString();
    }
    EXPECT_TRUE(files.contains(QStringLiteral("st_20270101_00.rtcm3")));
}

} // namespace
