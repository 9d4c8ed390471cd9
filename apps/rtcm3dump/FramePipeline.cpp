#include "FramePipeline.h"

#include "Message.h"
#include "RTCM3_codec.h"
#include "RTCM3_layout.h"

#include <array>

namespace {

// The record type of each message number (the first one of a sub-typed number).
int enumeratorOf(int number)
{
    static const std::array<int, Selection::kNumbers> table = [] {
        std::array<int, Selection::kNumbers> t{};
        for (int e = 1; const auto *layout = Kvt::Nuvrix::RTCM3_layout(e); ++e)
            if (layout->messageNumber != 0 && t[layout->messageNumber] == 0)
                t[layout->messageNumber] = e;
        return t;
    }();
    return number >= 0 && number < Selection::kNumbers ? table[size_t(number)] : 0;
}

} // namespace

FramePipeline::FramePipeline(const Selection &selection)
    : mSelection(selection)
{
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
    frame.result = mDecoder.decodeMessage(reinterpret_cast<const uint8_t *>(bytes.constData()), uint(bytes.size()));
    if (frame.result > 0) {
        frame.kind = mCaught ? Frame::Kind::Decoded : Frame::Kind::Undescribed;
        frame.message = mCaught;
        frame.enumerator = enumeratorOf(frame.number);
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
