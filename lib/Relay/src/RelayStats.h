#pragma once
// Counters of one input or output, for status lines and the closing summary.

#include "nuvrixrelay_global.h"

#include <QtCore/QDateTime>
#include <QtCore/QString>

struct NUVRIXRELAY_EXPORT EndpointStats
{
    QString role;  // input, output, mount
    QString name;
    qint64 bytes = 0;
    qint64 frames = 0;
    qint64 clients = 0;     // connected now
    qint64 clientsEver = 0; // accepted since the start
    qint64 drops = 0;       // frames or clients dropped because a consumer fell behind
    qint64 reconnects = 0;
    QString state;

    QString text(const QDateTime &utc) const;
    QByteArray json(const QDateTime &utc) const;  // one line, no line feed
};
