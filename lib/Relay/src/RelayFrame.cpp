#include "RelayFrame.h"

#include "RTCM3Synchronizer.h"

#include <ctime>

namespace {

// Bits [start, start + count) of the payload behind the 3-byte header, big-endian.
quint64 payloadBits(const QByteArray &frame, int start, int count)
{
    quint64 value = 0;
    for (int i = 0; i < count; ++i) {
        const int bit = start + i;
        const uchar byte = uchar(frame.at(3 + bit / 8));
        value = (value << 1) | ((byte >> (7 - bit % 8)) & 1u);
    }
    return value;
}

bool holdsBits(const QByteArray &frame, int bits)
{
    return frame.size() >= 3 + (bits + 7) / 8 + 3;
}

} // namespace

qint64 monotonicNs()
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return qint64(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

int messageNumber(const QByteArray &frame)
{
    return holdsBits(frame, 12) ? int(payloadBits(frame, 0, 12)) : 0;
}

int msmSystem(int type)
{
    if (type < 1071 || type > 1137 || type % 10 == 0 || type % 10 > 7)
        return -1;
    return (type - 1070) / 10;
}

qint64 msmEpochMs(const QByteArray &frame)
{
    const int system = msmSystem(messageNumber(frame));
    if (system < 0 || !holdsBits(frame, 54))
        return -1;
    // GLONASS counts the day in 3 bits above 27 bits of milliseconds of the day.
    if (system == 1)
        return qint64(payloadBits(frame, 27, 27));
    return qint64(payloadBits(frame, 24, 30));
}

int observationSystem(int type)
{
    if (type >= 1001 && type <= 1004)
        return 0;
    if (type >= 1009 && type <= 1012)
        return 1;
    return msmSystem(type);
}

qint64 observationEpochMs(const QByteArray &frame)
{
    const int type = messageNumber(frame);
    if (msmSystem(type) >= 0)
        return msmEpochMs(frame);
    const int system = observationSystem(type);
    if (system < 0 || !holdsBits(frame, 54))
        return -1;
    // Legacy GPS: 30 bits of milliseconds of the week; GLONASS: 27 bits of the day.
    return qint64(payloadBits(frame, 24, system == 1 ? 27 : 30));
}

FrameSplitter::FrameSplitter()
    : mSync(std::make_unique<RTCM3Synchronizer>())
{
}

FrameSplitter::~FrameSplitter() = default;

QList<Frame> FrameSplitter::feed(const QByteArray &bytes, qint64 nowNs)
{
    QList<Frame> frames;
    mInBytes += bytes.size();
    mSync->appendBytes(bytes);
    while (mSync->hasBlock()) {
        Frame frame;
        frame.bytes = mSync->getBlockBytes();
        frame.type = messageNumber(frame.bytes);
        frame.arrivalNs = nowNs;
        mOutBytes += frame.bytes.size();
        frames << std::move(frame);
    }
    mDroppedBytes = mInBytes - mOutBytes - mSync->getNumberOfBytesLeft();
    return frames;
}

void FrameSplitter::reset()
{
    mSync = std::make_unique<RTCM3Synchronizer>();
    mDroppedBytes = mInBytes - mOutBytes;
}
