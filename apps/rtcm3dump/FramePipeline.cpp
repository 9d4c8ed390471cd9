#include "FramePipeline.h"

#include "Message.h"
#include "RTCM3FrameSplitter.h"
#include "RTCM3_codec.h"
#include "RTCM3_layout.h"

#include <algorithm>

using namespace Kvt::Nuvrix;

FramePipeline::FramePipeline(const Selection &selection, bool hostMessages, const RTCM3_ext_context_s &extension)
    : mSelection(selection), mHostMessages(hostMessages), mExtension(extension)
{
    RTCM3_init_context(&mContext);
    mDecoder.setObserver(this);
}

FramePipeline::~FramePipeline()
{
    mDecoder.setObserver(nullptr);
}

void FramePipeline::append(const uint8_t *data, size_t size)
{
    mSplitter.append(data, size, *this);
}

void FramePipeline::endOfStream()
{
    mSplitter.endOfInput(*this);
}

void FramePipeline::flush()
{
    for (FrameSink *sink : mSinks)
        sink->flush();
}

QString FramePipeline::writeError() const
{
    for (const FrameSink *sink : mSinks)
        if (const QString error = sink->writeError(); !error.isEmpty())
            return error;
    return QString();
}

void FramePipeline::skipped(size_t count, bool crcError)
{
    for (FrameSink *sink : mSinks) {
        if (crcError)
            sink->crcError();
        sink->droppedBytes(unsigned(count));
    }
}

void FramePipeline::frame(const uint8_t *data, size_t size)
{
    Frame frame;
    // A view: outputs use the bytes during the call only.
    frame.bytes = QByteArray::fromRawData(reinterpret_cast<const char *>(data), qsizetype(size));
    // A message number needs 12 bits of payload; a shorter payload would lend it CRC bits.
    if (size >= kRTCM3FrameOverhead + 2)
        frame.number = (data[3] << 4) | (data[4] >> 4);
    if (!mSelection.passes(frame.number)) {
        for (FrameSink *sink : mSinks)
            sink->filtered(frame);
        return;
    }
    if (frame.number >= 0)
        classify(frame, data, size);
    for (FrameSink *sink : mSinks)
        sink->frame(frame);
    if (frame.number >= 0)
        RTCM3_free_any_children(&mRecord);
    if (mCaught) {
        mCaught->removeReference();
        mCaught = nullptr;
    }
}

void FramePipeline::classify(Frame &frame, const uint8_t *data, size_t size)
{
    // Frames are at most wire::Frame::maxBytes long: the length fits the codec's 16 bits.
    frame.result = RTCM3_decode_extended(&mContext, &mExtension, data, uint16_t(size), &mRecord, mScalarRecords);
    if (frame.result > 0) {
        frame.record = &mRecord;
        frame.enumerator = mRecord.header.kvtcg_message;
        frame.kind = Frame::Kind::Decoded;
        // Extension records have no host descriptions.
        if (RTCM3_ext_layout(frame.enumerator)) {
            frame.kind = Frame::Kind::Undescribed;
        } else if (mHostMessages) {
            mDecoder.decodeMessage(data, uint(size));
            frame.kind = mCaught ? Frame::Kind::Decoded : Frame::Kind::Undescribed;
            frame.message = mCaught;
        }
        // The codec stops after the last field, its zero pad and three CRC bytes: whatever
        // the frame holds beyond is payload that no field read.
        frame.trailingBytes = std::max(0, int(size) - frame.result / 8);
    } else {
        frame.kind = frame.result == RTCM3_ERR_INVALID_MESSAGE ? Frame::Kind::Unknown : Frame::Kind::Failed;
    }
}

void FramePipeline::message(const MessageSource *, const Message *message)
{
    // Kept alive past the decoder's own reference until every output has seen it.
    message->addReference();
    mCaught = message;
}
