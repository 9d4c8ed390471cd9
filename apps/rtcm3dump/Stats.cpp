#include "Stats.h"

#include "RTCM3_codec.h"

void Stats::frameDecoded(const QByteArray &frame, int32_t result)
{
    ++mFrames;
    const int number = frame.size() >= 5 ? ((uint8_t(frame[3]) << 4) | (uint8_t(frame[4]) >> 4)) : -1;
    if (result > 0)
        ++mDecoded[number];
    else if (result == Kvt::Nuvrix::RTCM3_ERR_INVALID_MESSAGE)
        ++mUnknown[number];
    else
        ++mErrors[QString::fromLatin1(Kvt::Nuvrix::RTCM3_error_to_string(result))];
}

void Stats::crcError(const AbstractSync *, const FormatInfo *)
{
    ++mCrcErrors;
}

void Stats::droppedBytes(const AbstractSync *, const FormatInfo *, unsigned count)
{
    mDropped += count;
}

void Stats::print(QTextStream &out) const
{
    out << "frames: " << mFrames << '\n';
    out << "CRC errors: " << mCrcErrors << '\n';
    out << "dropped bytes: " << mDropped << '\n';
    out << "decoded by message type:\n";
    for (auto it = mDecoded.cbegin(); it != mDecoded.cend(); ++it)
        out << "  " << it.key() << ": " << it.value() << '\n';
    out << "unknown message numbers:" << (mUnknown.isEmpty() ? " none" : "") << '\n';
    for (auto it = mUnknown.cbegin(); it != mUnknown.cend(); ++it)
        out << "  " << it.key() << ": " << it.value() << '\n';
    out << "decode errors:" << (mErrors.isEmpty() ? " none" : "") << '\n';
    for (auto it = mErrors.cbegin(); it != mErrors.cend(); ++it)
        out << "  " << it.key() << ": " << it.value() << '\n';
}
