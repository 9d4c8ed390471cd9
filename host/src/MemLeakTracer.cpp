#include "MemLeakTracer.h"

#include <QtCore/QMutexLocker>
#include <QtCore/QStringList>

#include <algorithm>

MemLeakTracer *MemLeakTracer::getInstance()
{
    // Built by the first object that announces itself, hence destroyed only
    // after every static object that announced itself in its constructor.
    static MemLeakTracer instance;
    return &instance;
}

void MemLeakTracer::doAllocateObject(const char *className)
{
    const QMutexLocker locker(&mMutex);
    ++countOf(className);
    ++mTotal;
}

void MemLeakTracer::doDeallocateObject(const char *className)
{
    const QMutexLocker locker(&mMutex);
    --countOf(className);
    --mTotal;
}

int &MemLeakTracer::countOf(const char *className)
{
    // Objects come and go with every message: look the name up without copying it, and
    // copy it only the first time it is seen.
    const auto it = mCounts.find(QByteArray::fromRawData(className, qsizetype(qstrlen(className))));
    return it != mCounts.end() ? it.value() : mCounts[QByteArray(className)];
}

int MemLeakTracer::liveCount(const char *className) const
{
    const QMutexLocker locker(&mMutex);
    return mCounts.value(QByteArray(className), 0);
}

qint64 MemLeakTracer::totalLive() const
{
    const QMutexLocker locker(&mMutex);
    return mTotal;
}

QHash<QByteArray, int> MemLeakTracer::liveCounts() const
{
    const QMutexLocker locker(&mMutex);
    QHash<QByteArray, int> live;
    for (auto it = mCounts.constBegin(); it != mCounts.constEnd(); ++it) {
        if (it.value() != 0)
            live.insert(it.key(), it.value());
    }
    return live;
}

QString MemLeakTracer::report() const
{
    const QHash<QByteArray, int> live = liveCounts();
    QList<QByteArray> names = live.keys();
    std::sort(names.begin(), names.end());
    QStringList lines;
    for (const QByteArray &name : names)
        lines << QStringLiteral("%1: %2").arg(QString::fromLatin1(name)).arg(live.value(name));
    return lines.join(QLatin1Char('\n'));
}

void MemLeakTracer::reset()
{
    const QMutexLocker locker(&mMutex);
    mCounts.clear();
    mTotal = 0;
}
