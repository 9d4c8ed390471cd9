#pragma once
// What rtcm3dump saw: frames per message number, unknown numbers, decode errors by name,
// CRC errors and dropped bytes.

#include "HostObserver.h"

#include <QtCore/QByteArray>
#include <QtCore/QMap>
#include <QtCore/QString>
#include <QtCore/QTextStream>

class Stats : public HostObserver
{
public:
    void frameDecoded(const QByteArray &frame, int32_t result);
    void crcError(const AbstractSync *source, const FormatInfo *format) override;
    void droppedBytes(const AbstractSync *source, const FormatInfo *format, unsigned count) override;
    void print(QTextStream &out) const;

    qint64 frames() const { return mFrames; }
    qint64 crcErrors() const { return mCrcErrors; }
    qint64 droppedBytes() const { return mDropped; }

private:
    qint64 mFrames = 0;
    qint64 mCrcErrors = 0;
    qint64 mDropped = 0;
    QMap<int, qint64> mDecoded;    // by message number
    QMap<int, qint64> mUnknown;    // by message number
    QMap<QString, qint64> mErrors; // by code name
};
