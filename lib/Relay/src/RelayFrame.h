#pragma once
// What travels through the relay: whole RTCM 3 frames as received, each an implicitly shared
// byte buffer, so that handing one to a thousand outputs copies no byte.

#include "nuvrixrelay_global.h"

#include <QtCore/QByteArray>
#include <QtCore/QList>
#include <QtCore/QStringList>

#include <memory>

class RTCM3Synchronizer;

struct Frame
{
    QByteArray bytes;      // preamble to CRC
    int type = 0;          // message number, 0 when the payload is too short to hold one
    qint64 arrivalNs = 0;  // monotonic clock, when the bytes that completed it arrived
};

// The message number of a frame (its first 12 payload bits), 0 when there is none.
NUVRIXRELAY_EXPORT int messageNumber(const QByteArray &frame);
// The epoch time in milliseconds of an MSM frame (GPS-like week time, or for GLONASS the
// time of day), -1 for any other frame. Systems count differently, so compare only values of
// the same msmSystem().
NUVRIXRELAY_EXPORT qint64 msmEpochMs(const QByteArray &frame);
// 0 for GPS MSM, 1 GLONASS, 2 Galileo, ... by the tens digit of 1071..1137; -1 when not MSM.
NUVRIXRELAY_EXPORT int msmSystem(int type);
// The same for MSM and legacy observation messages (1001-1004 GPS, 1009-1012 GLONASS).
NUVRIXRELAY_EXPORT int observationSystem(int type);
NUVRIXRELAY_EXPORT qint64 observationEpochMs(const QByteArray &frame);

// Cuts received bytes into frames; bytes outside frames are dropped and counted.
class NUVRIXRELAY_EXPORT FrameSplitter
{
public:
    FrameSplitter();
    ~FrameSplitter();
    FrameSplitter(const FrameSplitter &) = delete;
    FrameSplitter &operator=(const FrameSplitter &) = delete;

    // The frames the bytes complete, stamped with `nowNs`.
    QList<Frame> feed(const QByteArray &bytes, qint64 nowNs);
    // The input ended or broke off: a partial frame held is dropped.
    void reset();
    qint64 droppedBytes() const { return mDroppedBytes; }

private:
    std::unique_ptr<RTCM3Synchronizer> mSync;
    qint64 mInBytes = 0;
    qint64 mOutBytes = 0;
    qint64 mDroppedBytes = 0;
};

// A stage between an output's filter and its transport, where conversions of frames plug
// in (to MSM4, to legacy observations, to fewer systems). One frame may become none or
// several.
class NUVRIXRELAY_EXPORT FrameTransform
{
public:
    virtual ~FrameTransform() = default;
    virtual QList<Frame> apply(const Frame &frame) = 0;
    // The input ended: what the stage still holds.
    virtual QList<Frame> finish() { return {}; }
};

// Frames made rather than read (a RINEX observation file produced as a stream): a file input
// replays them as it replays a file's frames.
class NUVRIXRELAY_EXPORT FrameSource
{
public:
    virtual ~FrameSource() = default;
    // The next frames in order, empty at the end; *error says why when it cannot go on.
    virtual QList<Frame> next(QString *error) = 0;
    // The input parameters it reads, beside those of every input.
    virtual QStringList parameters() const = 0;
};

NUVRIXRELAY_EXPORT qint64 monotonicNs();
