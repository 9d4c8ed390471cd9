#pragma once

#include "AbstractSync.h"
#include "nuvrixrtcm3_global.h"

#include <QtCore/QByteArray>

// Cuts a received RTCM 3 byte stream into transport frames: preamble 0xD3, a 16-bit header
// word holding the payload length L, L payload bytes and a CRC-24Q; L + 6 bytes in all. It
// looks at nothing inside a frame but the length and the CRC. Bytes that cannot start a
// frame are dropped and reported; a candidate whose CRC does not match is reported as a CRC
// error and costs one byte, so a frame that begins inside it is still found.
//
// A candidate whose bytes have not all arrived is kept until they do: reads from TCP, serial
// lines and files split frames anywhere. When the input ends, call endOfStream() so that
// such a candidate no longer holds back the frames behind it.
//
// Host loop:
//     sync.appendBytes(chunk);          // for every chunk received
//     while (sync.hasBlock())
//         decode(sync.getBlockBytes());
//     ...
//     sync.endOfStream();               // once, when the input ends; then drain as above
class NUVRIXRTCM3_EXPORT RTCM3Synchronizer : public AbstractSync
{
    Q_OBJECT

public:
    // Header words of 1023 and above (the largest length, or a reserved bit set) are false
    // synchronisations.
    static constexpr quint16 kLengthLimit = 1023;
    // Preamble, header word and CRC around the payload.
    static constexpr int kFrameOverhead = 6;

    RTCM3Synchronizer();
    ~RTCM3Synchronizer() override;

    // Appends the bytes behind those held; returns whether a whole frame with a valid CRC
    // stands at the head. Bytes after the end-of-stream call start a new stream.
    bool appendBytes(const QByteArray &bytes) override;
    bool hasBlock() const override { return mHasBlock; }
    // Takes the frame at the head out (L + 6 bytes); empty, changing nothing, when none is
    // ready.
    QByteArray getBlockBytes() override;
    // Bytes held: a ready frame and a candidate still waiting for its bytes included.
    quint32 getNumberOfBytesLeft() const override;

    // No more bytes will come until the next appendBytes: a candidate that the held bytes
    // cannot complete is rejected (one dropped byte) and the search goes on behind it, now
    // and as frames are taken out. Once the ready frames are taken, nothing is held.
    // Returns whether a frame is ready.
    bool endOfStream();

    // The header word at the head; false, leaving `length` untouched, while fewer than 4
    // bytes are held, else whether the word is below kLengthLimit.
    bool getLength(quint16 &length) const;
    // Whether the CRC of the L + 6 bytes at the head matches; false when fewer are held.
    bool validCRC(quint16 length) const;

protected:
    // Brings the next preamble to the head, dropping what stands before it.
    bool searchSync();
    // Checks the candidate at the head, rejecting and resynchronising until one is valid,
    // one is still waiting for its bytes, or nothing is left.
    bool searchBlock();

private:
    enum class Candidate { Valid, Incomplete, Rejected };

    Candidate checkCandidate();
    void rejectCandidate();
    qsizetype held() const { return mBuffer.size() - mHead; }
    const uchar *head() const { return reinterpret_cast<const uchar *>(mBuffer.constData()) + mHead; }
    void consume(qsizetype count);
    void dropBytes(qsizetype count);
    void compact();

    static const QByteArray mSyncSequence;

    // Bytes before mHead are consumed; they are removed only when that costs no more than
    // the bytes consumed since, so taking frames from a large buffer stays linear.
    QByteArray mBuffer;
    qsizetype mHead = 0;
    bool mHasBlock = false;
    bool mSyncFound = false;
    bool mEndOfStream = false;
};
