#include "FramePipeline.h"

#include "Message.h"
#include "RTCM3_codec.h"
#include "RTCM3_layout.h"

FramePipeline::FramePipeline(const Selection &selection, bool hostMessages)
    : mSelection(selection), mHostMessages(hostMessages)
{
    Kvt::Nuvrix::RTCM3_init_context(&mContext);
    mSync.setObserver(this);
    mDecoder.setObserver(this);
}

FramePipeline::~FramePipeline()
{
    mSync.setObserver(nullptr);
    mDecoder.setObserver(nullptr);
}

void FramePipeline::append(const QByteArray &bytes)
{
    mSync.appendBytes(bytes);
    deliverReady();
}

void FramePipeline::endOfStream()
{
    mSync.endOfStream();
    deliverReady();
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

void FramePipeline::deliverReady()
{
    while (mSync.hasBlock())
        handle(mSync.getBlockBytes());
}

void FramePipeline::handle(const QByteArray &bytes)
{
    Frame frame;
    frame.bytes = bytes;
    // A message number needs 12 bits of payload; a shorter payload would lend it CRC bits.
    if (bytes.size() >= RTCM3Synchronizer::kFrameOverhead + 2)
        frame.number = (uint8_t(bytes[3]) << 4) | (uint8_t(bytes[4]) >> 4);
    if (!mSelection.passes(frame.number)) {
        for (FrameSink *sink : mSinks)
            sink->filtered(frame);
        return;
    }
    if (frame.number >= 0)
        frame = classify(bytes);
    for (FrameSink *sink : mSinks)
        sink->frame(frame);
    if (frame.number >= 0)
        Kvt::Nuvrix::RTCM3_free_message_children(&mRecord);
    if (mCaught) {
        mCaught->removeReference();
        mCaught = nullptr;
    }
}

Frame FramePipeline::classify(const QByteArray &bytes)
{
    using namespace Kvt::Nuvrix;
    Frame frame;
    frame.bytes = bytes;
    frame.number = (uint8_t(bytes[3]) << 4) | (uint8_t(bytes[4]) >> 4);
    const auto *data = reinterpret_cast<const uint8_t *>(bytes.constData());
    // Frames are at most 1029 bytes: the length fits the codec's 16 bits.
    frame.result = RTCM3_decode(&mContext, data, uint16_t(bytes.size()), &mRecord);
    if (frame.result > 0) {
        frame.record = &mRecord;
        frame.enumerator = mRecord.header.kvtcg_message;
        frame.kind = Frame::Kind::Decoded;
        if (mHostMessages) {
            mDecoder.decodeMessage(data, uint(bytes.size()));
            frame.kind = mCaught ? Frame::Kind::Decoded : Frame::Kind::Undescribed;
            frame.message = mCaught;
        }
        // The codec stops after the last field, its zero pad and three CRC bytes: whatever
        // the frame holds beyond is payload that no field read.
        frame.trailingBytes = qMax(0, int(bytes.size() - frame.result / 8));
    } else {
        frame.kind = frame.result == RTCM3_ERR_INVALID_MESSAGE ? Frame::Kind::Unknown : Frame::Kind::Failed;
    }
    return frame;
}

void FramePipeline::crcError(const AbstractSync *, const FormatInfo *)
{
    for (FrameSink *sink : mSinks)
        sink->crcError();
}

void FramePipeline::droppedBytes(const AbstractSync *, const FormatInfo *, unsigned count)
{
    for (FrameSink *sink : mSinks)
        sink->droppedBytes(count);
}

void FramePipeline::message(const MessageSource *, const Message *message)
{
    // Kept alive past the decoder's own reference until every output has seen it.
    message->addReference();
    mCaught = message;
}
