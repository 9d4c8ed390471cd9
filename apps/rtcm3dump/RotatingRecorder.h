#pragma once
// --save with a period: the recording is cut into one file per period of the clock (UTC),
// each named from a pattern with time keywords, as recorders of caster streams do:
// %Y year, %y two-digit year, %m month, %d day, %n day of year, %h hour, %M minute.
// Without a period it is one file, named from the pattern at the start.

#include "Output.h"

#include <QtCore/QDateTime>
#include <QtCore/QTimeZone>

#include <cmath>
#include <cstdio>
#include <functional>

class RotatingRecorder : public FrameSink
{
public:
    // Seconds since 1970 (UTC); the system clock unless a test gives its own.
    using Clock = std::function<qint64()>;

    RotatingRecorder(OutputDevice &device, const QString &pattern, double periodS, Clock clock = {})
        : mDevice(device), mPattern(pattern), mPeriodS(std::llround(periodS)),
          mClock(clock ? std::move(clock) : Clock(&QDateTime::currentSecsSinceEpoch))
    {
    }

    static QString expand(QString pattern, const QDateTime &utc)
    {
        const QDate d = utc.date();
        const QTime t = utc.time();
        const auto two = [](int n) { return QStringLiteral("%1").arg(n, 2, 10, QLatin1Char('0')); };
        const std::pair<const char *, QString> keys[] = {
            {"%Y", QString::number(d.year())}, {"%y", two(d.year() % 100)}, {"%m", two(d.month())},
            {"%d", two(d.day())}, {"%n", QStringLiteral("%1").arg(d.dayOfYear(), 3, 10, QLatin1Char('0'))},
            {"%h", two(t.hour())}, {"%M", two(t.minute())}};
        for (const auto &[key, value] : keys)
            pattern.replace(QLatin1String(key), value);
        return pattern;
    }

    // The name of the first file.
    QString firstName() { return expand(mPattern, periodStart()); }

    void frame(const Frame &frame) override
    {
        if (mPeriodS > 0 && !mDevice.failed()) {
            const QDateTime start = periodStart();
            if (mStart.isValid() && start != mStart && !mDevice.create(expand(mPattern, start)))
                std::fprintf(stderr, "rtcm3dump: cannot write %s: %s\n", qPrintable(expand(mPattern, start)),
                             qPrintable(mDevice.error()));
            mStart = start;
        }
        mDevice.write(frame.bytes);
    }
    void flush() override { mDevice.flush(); }
    QString writeError() const override { return mDevice.failure(); }

private:
    QDateTime periodStart()
    {
        const qint64 now = mClock();
        const QDateTime start = QDateTime::fromSecsSinceEpoch(mPeriodS > 0 ? now - now % mPeriodS : now, QTimeZone::utc());
        if (!mStart.isValid())
            mStart = start;
        return start;
    }

    OutputDevice &mDevice;
    const QString mPattern;
    const qint64 mPeriodS;
    const Clock mClock;
    QDateTime mStart;
};
