#pragma once
// The frames of a clean stream (frames back to back, as our sample generator writes them),
// found without the library: the header word gives the length and a bit-by-bit CRC-24Q
// checks each frame, so that tests of the library's own framing have an independent count.

#include <QtCore/QByteArray>
#include <QtCore/QFile>
#include <QtCore/QList>
#include <QtCore/QMap>
#include <QtCore/QString>

#include <cstdint>

namespace streamframes {

// Polynomial 0x864CFB, initial value 0, most significant bit first.
inline uint32_t crc24q(const QByteArray &bytes)
{
    uint32_t crc = 0;
    for (const char byte : bytes) {
        crc ^= uint32_t(uint8_t(byte)) << 16;
        for (int bit = 0; bit < 8; ++bit) {
            crc <<= 1;
            if (crc & 0x1000000)
                crc ^= 0x1864CFB;
        }
    }
    return crc & 0xFFFFFF;
}

inline int payloadLength(const QByteArray &frame)
{
    return (uint8_t(frame[1]) & 0x03) << 8 | uint8_t(frame[2]);
}

inline int messageNumber(const QByteArray &frame)
{
    return uint8_t(frame[3]) << 4 | uint8_t(frame[4]) >> 4;
}

inline bool crcMatches(const QByteArray &frame)
{
    const qsizetype covered = frame.size() - 3;
    const uint32_t sent = uint32_t(uint8_t(frame[covered])) << 16 | uint32_t(uint8_t(frame[covered + 1])) << 8
        | uint8_t(frame[covered + 2]);
    return crc24q(frame.left(covered)) == sent;
}

struct Split
{
    QList<QByteArray> frames;
    // Where the frames stop: the stream's size for a clean stream.
    qsizetype end = 0;
};

// Frames from the start of the stream while they are well-formed, complete and CRC-correct.
inline Split splitClean(const QByteArray &stream)
{
    Split split;
    while (split.end + 6 <= stream.size() && uint8_t(stream[split.end]) == 0xD3
           && (uint8_t(stream[split.end + 1]) & 0xFC) == 0) {
        const QByteArray head = stream.mid(split.end, 3);
        const QByteArray frame = stream.mid(split.end, payloadLength(head) + 6);
        // A message number needs two payload bytes.
        if (frame.size() != payloadLength(head) + 6 || frame.size() < 8 || !crcMatches(frame))
            break;
        split.frames.append(frame);
        split.end += frame.size();
    }
    return split;
}

inline QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

#ifdef NUVRIX_SAMPLE_STREAM
// The sample stream the build wrote; empty when it could not be read.
inline QByteArray bundledSample()
{
    return readFile(QStringLiteral(NUVRIX_SAMPLE_STREAM));
}
#endif

} // namespace streamframes
