#include "AbstractSync.h"

#include "HostObserver.h"

AbstractSync::AbstractSync(QObject *parent)
    : QObject(parent)
{
}

AbstractSync::~AbstractSync() = default;

HostObserver *AbstractSync::observer() const
{
    return mObserver ? mObserver : HostObserver::global();
}

void AbstractSync::reportCRCError(const FormatInfo *format)
{
    ++mCRCErrors;
    if (HostObserver *target = observer())
        target->crcError(this, format);
}

void AbstractSync::reportDroppedBytes(const FormatInfo *format, unsigned int count)
{
    mDroppedBytes += count;
    if (HostObserver *target = observer())
        target->droppedBytes(this, format, count);
}
