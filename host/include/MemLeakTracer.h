#pragma once

#include "nuvrixhost_global.h"

#include <QtCore/QByteArray>
#include <QtCore/QHash>
#include <QtCore/QMutex>
#include <QtCore/QString>

// Counts the live objects of every class that announces itself, so that a
// host (or a test) can prove that what was built was also released.
// Thread-safe: objects come and go on any thread.
class NUVRIXHOST_EXPORT MemLeakTracer
{
public:
    static MemLeakTracer *getInstance();

    void doAllocateObject(const char *className);
    // A release without an allocation drives the count negative rather than
    // being ignored: a double release is a fault worth seeing.
    void doDeallocateObject(const char *className);

    int liveCount(const char *className) const;
    // Sum over all classes; negative counts are included as they stand.
    qint64 totalLive() const;
    // Classes whose count is not zero, with their counts.
    QHash<QByteArray, int> liveCounts() const;
    // One line "<class>: <count>" per class whose count is not zero, sorted.
    QString report() const;
    void reset();

    MemLeakTracer(const MemLeakTracer &) = delete;
    MemLeakTracer &operator=(const MemLeakTracer &) = delete;

private:
    MemLeakTracer() = default;
    int &countOf(const char *className);

    mutable QMutex mMutex;
    QHash<QByteArray, int> mCounts;
    qint64 mTotal = 0;
};
