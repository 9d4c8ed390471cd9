#include "RTCM3Synchronizer.h"

#include "MemLeakTracer.h"
#include "RTCM3FrameSplitter.h"
#include "RTCM3_FormatInfo.h"
#include "kvtcg.h"

#include <algorithm>
#include <limits>

const QByteArray RTCM3Synchronizer::mSyncSequence(1, '\xD3');

using namespace Kvt::Nuvrix;

namespace {

// Enough for the header word to be read.
constexpr qsizetype kHeaderBytes = 4;

static_assert(RTCM3Synchronizer::kLengthLimit == kRTCM3LengthLimit);
static_assert(RTCM3Synchronizer::kFrameOverhead == kRTCM3FrameOverhead);

} // namespace

RTCM3Synchronizer::RTCM3Synchronizer()
    : AbstractSync(nullptr)
{
    MemLeakTracer::getInstance()->doAllocateObject("RTCM3Synchronizer");
}

RTCM3Synchronizer::~RTCM3Synchronizer()
{
    MemLeakTracer::getInstance()->doDeallocateObject("RTCM3Synchronizer");
}

bool RTCM3Synchronizer::appendBytes(const QByteArray &bytes)
{
    if (bytes.isEmpty())
        return mHasBlock;
    compact();
    mBuffer.append(bytes);
    mEndOfStream = false;
    // A ready frame was checked already; the new bytes wait behind it.
    if (!mHasBlock)
        mHasBlock = searchSync() && searchBlock();
    return mHasBlock;
}

QByteArray RTCM3Synchronizer::getBlockBytes()
{
    if (!mHasBlock)
        return {};
    quint16 length = 0;
    getLength(length);
    const qsizetype size = length + kFrameOverhead;
    const QByteArray frame = mHead == 0 && mBuffer.size() == size ? mBuffer : mBuffer.mid(mHead, size);
    consume(size);
    mSyncFound = false;
    mHasBlock = searchSync() && searchBlock();
    return frame;
}

quint32 RTCM3Synchronizer::getNumberOfBytesLeft() const
{
    return static_cast<quint32>(std::min<qsizetype>(held(), std::numeric_limits<quint32>::max()));
}

bool RTCM3Synchronizer::endOfStream()
{
    mEndOfStream = true;
    if (!mHasBlock)
        mHasBlock = searchSync() && searchBlock();
    return mHasBlock;
}

bool RTCM3Synchronizer::getLength(quint16 &length) const
{
    if (held() < kHeaderBytes)
        return false;
    length = static_cast<quint16>(uchar(mBuffer.at(mHead + 1)) << 8 | uchar(mBuffer.at(mHead + 2)));
    return length < kLengthLimit;
}

bool RTCM3Synchronizer::validCRC(quint16 length) const
{
    if (held() < length + kFrameOverhead)
        return false;
    // The length given, not the header word: callers may ask about any length.
    const uchar *frame = head();
    const int covered = length + kFrameOverhead - 3;
    const quint32 received = quint32(frame[covered]) << 16 | quint32(frame[covered + 1]) << 8
        | frame[covered + 2];
    return CRC_compute24Q(frame, covered) == received;
}

bool RTCM3Synchronizer::searchSync()
{
    if (mSyncFound)
        return true;
    const qsizetype found = qsizetype(RTCM3_find_preamble(head(), size_t(held())));
    if (found == held()) {
        dropBytes(held());
        return false;
    }
    dropBytes(found);
    mSyncFound = true;
    return true;
}

bool RTCM3Synchronizer::searchBlock()
{
    while (mSyncFound) {
        switch (checkCandidate()) {
        case Candidate::Valid:
            return true;
        case Candidate::Incomplete:
            // Keep it: the rest of the frame is most likely in the next chunk.
            if (!mEndOfStream)
                return false;
            rejectCandidate();
            break;
        case Candidate::Rejected:
            rejectCandidate();
            break;
        }
    }
    return false;
}

RTCM3Synchronizer::Candidate RTCM3Synchronizer::checkCandidate()
{
    size_t frame = 0;
    switch (RTCM3_check_candidate(head(), size_t(held()), &frame)) {
    case RTCM3Candidate::Valid:
        return Candidate::Valid;
    case RTCM3Candidate::Incomplete:
        return Candidate::Incomplete;
    case RTCM3Candidate::FalseLength:
        break;
    case RTCM3Candidate::CrcMismatch:
        reportCRCError(RTCM3_FormatInfo::getInstance());
        break;
    }
    return Candidate::Rejected;
}

// Costs the preamble only: a frame may begin inside a false or corrupted candidate.
void RTCM3Synchronizer::rejectCandidate()
{
    dropBytes(1);
    mSyncFound = false;
    searchSync();
}

void RTCM3Synchronizer::consume(qsizetype count)
{
    mHead += count;
    if (mHead == mBuffer.size()) {
        // Releasing it lets the next chunk be shared rather than copied.
        mBuffer.clear();
        mHead = 0;
    }
}

void RTCM3Synchronizer::dropBytes(qsizetype count)
{
    if (count <= 0)
        return;
    consume(count);
    constexpr qsizetype kMaxReport = std::numeric_limits<unsigned int>::max();
    for (; count > kMaxReport; count -= kMaxReport)
        reportDroppedBytes(RTCM3_FormatInfo::getInstance(), static_cast<unsigned int>(kMaxReport));
    reportDroppedBytes(RTCM3_FormatInfo::getInstance(), static_cast<unsigned int>(count));
}

void RTCM3Synchronizer::compact()
{
    if (mHead > 0 && mHead >= held()) {
        mBuffer.remove(0, mHead);
        mHead = 0;
    }
}
