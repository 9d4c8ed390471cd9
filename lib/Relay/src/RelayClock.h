#pragma once
// The wall clock of file rotation, replaceable so that a run across an hour boundary can be
// checked without waiting for one.

#include "nuvrixrelay_global.h"

#include <QtCore/QDateTime>

class NUVRIXRELAY_EXPORT RelayClock
{
public:
    virtual ~RelayClock() = default;
    virtual QDateTime utcNow() const { return QDateTime::currentDateTimeUtc(); }
    static RelayClock *system();
};
