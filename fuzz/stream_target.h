#pragma once
// What the stream fuzz target does with one input, as a plain function: the libFuzzer entry
// point calls it, and the ordinary test suite replays saved inputs through the same code.
// It takes the road a host takes: bytes in chunks into a synchronizer, every frame into a
// decoder, every message read through its description field by field, released, and every
// host object gone at the end. A broken invariant aborts, so the fuzzer reports a crash.
//
// Input: one byte of flags, then the chunk sizes, then (when flagged) the enable set, then
// the byte stream.
//   flags bits 0-3  how many chunk-size bytes follow; none: the stream goes in as one chunk
//         bit 4     an enable set of kEnablePrefix bytes follows; else every message is on
//         bit 5     the stream ends after every chunk (endOfStream and drain), so the next
//               chunk starts a new one, as after a reconnection
//         bit 6     messages are read inside the notification, while only the decoder holds
//               them; else the observer keeps a reference and reads them after the decode
//         bit 7     also read past the values of every field of the first message of each
//               description (a thrown event each: too slow for every message)
//   chunk-size byte b: the next b bytes, or kWideChunk bytes for 0; used in turn, cycling.

#include "RTCM3Decoder.h"
#include "RTCM3Synchronizer.h"
#include "RTCM3_FormatInfo.h"
#include "RTCM3_codec.h"
#include "RTCM3_layout.h"

#include "FieldInfo.h"
#include "HostObserver.h"
#include "MemLeakTracer.h"
#include "Message.h"
#include "MessageInfo.h"
#include "NuvrixEvent.h"

#include <QtCore/QByteArray>
#include <QtCore/QList>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <utility>
#include <vector>

namespace nuvrixfuzz {

constexpr uint8_t kChunkCountMask = 0x0F;
constexpr uint8_t kFlagEnableSet = 0x10;
constexpr uint8_t kFlagEndEveryChunk = 0x20;
constexpr uint8_t kFlagReadInsideNotification = 0x40;
constexpr uint8_t kFlagTryMisuse = 0x80;
constexpr size_t kStreamEnableBytes = Kvt::Nuvrix::RTCM3_ENABLE_BYTES;
constexpr int kWideChunk = 1024;
// Deeper than any nesting of blocks in a record: a loop of sub-messages ends here.
constexpr int kMaxNesting = 8;

// What one input went through; tests check it against the stream they built.
struct StreamRun {
    qint64 bytesIn = 0;
    qint64 frames = 0;
    qint64 frameBytes = 0;
    qint64 droppedBytes = 0;
    qint64 crcErrors = 0;
    qint64 decoded = 0;        // frames the decoder returned bits for
    qint64 messages = 0;       // top-level messages delivered
    qint64 subMessages = 0;    // nested messages reached through sub-message fields
    qint64 values = 0;         // values read
    qint64 events = 0;
};

[[noreturn]] inline void streamFail(const char* what, const QString& detail = QString())
{
    std::fprintf(stderr, "stream invariant broken: %s %s\n", what, qPrintable(detail));
    std::abort();
}

inline QString fieldName(const Message* message, const FieldInfo* field)
{
    return message->getMessageInfo()->getName() + QLatin1String("::") + field->getName();
}

// Values of different kinds never compare equal, and a NaN never equals itself.
inline bool sameValue(const FieldValue& a, const FieldValue& b)
{
    if (a.kind() != b.kind() || a.bits() != b.bits())
        return false;
    if (a.kind() == FieldType::Float32 || a.kind() == FieldType::Float64)
        return (std::isnan(a.toDouble()) && std::isnan(b.toDouble())) || a.toDouble() == b.toDouble();
    return a == b;
}

// Reading past the values is misuse, which the host reports by a thrown event.
inline void checkReadPastTheEnd(const Message* message, const FieldInfo* field, unsigned count)
{
    try {
        field->getValue(message, count);
    } catch (const NuvrixEvent& event) {
        if (event.getType() != NuvrixEvent::InvalidFieldAccess)
            streamFail("read past the values threw the wrong event", fieldName(message, field));
        return;
    }
    streamFail("read past the values did not throw", fieldName(message, field));
}

class MessageWalker
{
public:
    MessageWalker(StreamRun& run, bool tryMisuse) : mRun(run), mTryMisuse(tryMisuse) {}

    void walk(const Message* message, int depth = 0)
    {
        const MessageInfo* info = message->getMessageInfo();
        if (!info || info->getFormatInfo() != RTCM3_FormatInfo::getInstance())
            streamFail("message without an RTCM3 description");
        if (depth > kMaxNesting)
            streamFail("sub-messages nest deeper than any record", info->getName());
        if (info->isMain() != (depth == 0))
            streamFail("main and nested descriptions mixed up", info->getName());
        const bool firstOfItsKind = mTryMisuse && !mMisuseTried.contains(info);
        if (firstOfItsKind)
            mMisuseTried.append(info);
        QList<const Message*> reached;
        for (const FieldInfo* field : info->getFieldInfos())
            walkField(message, field, depth, reached, firstOfItsKind);
        message->getRawString();
        const QList<const Message*> children = message->getSubMessages();
        for (const Message* child : reached)
            if (!children.contains(child))
                streamFail("sub-message reached through a field is not among the sub-messages", info->getName());
    }

private:
    void walkField(const Message* message, const FieldInfo* field, int depth, QList<const Message*>& reached,
                   bool firstOfItsKind)
    {
        const unsigned count = field->getCount(message);
        if (field->isPresent(message) != (count > 0))
            streamFail("presence and count disagree", fieldName(message, field));
        for (unsigned index = 0; index < count; ++index)
            walkValue(message, field, index, depth, reached);
        if (firstOfItsKind)
            checkReadPastTheEnd(message, field, count);
        if (count > 0 && field->getValueUnchecked(message, count).isValid())
            streamFail("unchecked read past the values gave a value", fieldName(message, field));
        if (field->getType().kind() == FieldType::Char && unsigned(field->getValueString(message).size()) > count)
            streamFail("text longer than its characters", fieldName(message, field));
    }

    void walkValue(const Message* message, const FieldInfo* field, unsigned index, int depth,
                   QList<const Message*>& reached)
    {
        FieldValue value;
        try {
            value = field->getValue(message, index);
        } catch (const NuvrixEvent& event) {
            streamFail("value within the count refused", fieldName(message, field) + QLatin1Char(' ') + event.getText());
        }
        ++mRun.values;
        const FieldType& type = field->getType();
        if (value.kind() != type.kind() || (type.isInteger() && type.kind() != FieldType::Byte && value.bits() != type.bits()))
            streamFail("value of another type than its field", fieldName(message, field));
        if (!sameValue(value, field->getValueUnchecked(message, index)))
            streamFail("checked and unchecked reads differ", fieldName(message, field));
        field->getInterpretedString(message, index, true);
        field->getInterpretedString(message, index, false);
        if (type.kind() == FieldType::SubMessage)
            walkSubMessage(message, field, value.toSubMessage(), depth, reached);
    }

    void walkSubMessage(const Message* message, const FieldInfo* field, const Message* child, int depth,
                        QList<const Message*>& reached)
    {
        if (!child)
            streamFail("present sub-message field without a message", fieldName(message, field));
        if (child->getMessageInfo() != field->getType().subMessageInfo())
            streamFail("sub-message of another description than its field", fieldName(message, field));
        if (child->getParentMessage() != message)
            streamFail("sub-message does not name its parent", fieldName(message, field));
        if (!child->getRawRepresentation())
            streamFail("sub-message without a record", fieldName(message, field));
        ++mRun.subMessages;
        reached.append(child);
        walk(child, depth + 1);
    }

    StreamRun& mRun;
    bool mTryMisuse;
    QList<const MessageInfo*> mMisuseTried;
};

// Counts what the synchronizer and decoder report, reads every message and checks that
// each passes the three stages of a delivery in order.
class StreamObserver : public HostObserver
{
public:
    StreamObserver(StreamRun& run, uint8_t flags)
        : mRun(run), mWalker(run, flags & kFlagTryMisuse), mReadInside(flags & kFlagReadInsideNotification)
    {
    }

    void crcError(const AbstractSync*, const FormatInfo*) override { ++mRun.crcErrors; }
    void droppedBytes(const AbstractSync*, const FormatInfo*, unsigned int count) override
    {
        if (count == 0)
            streamFail("zero dropped bytes reported");
        mRun.droppedBytes += count;
    }
    void messageEarly(const MessageSource*, const Message* message) override
    {
        if (mCurrent)
            streamFail("a delivery began before the last one ended");
        mCurrent = message;
    }
    void message(const MessageSource*, const Message* message) override
    {
        if (message != mCurrent)
            streamFail("message delivered without its early stage");
        ++mRun.messages;
        ++mDeliveredNow;
        if (mReadInside) {
            mWalker.walk(message);
        } else {
            message->addReference();
            mKept.push_back(message);
        }
    }
    void messageLate(const MessageSource*, const Message* message) override
    {
        if (message != mCurrent)
            streamFail("late stage of another message");
        mCurrent = nullptr;
    }
    void unknownMessage(const MessageSource*, const FormatInfo*, const QString&) override {}
    void event(const MessageSource*, const NuvrixEvent& event) override
    {
        if (event.getType() == NuvrixEvent::InconsistentState)
            streamFail("decoder lost track of its own state", event.getText());
        ++mRun.events;
    }

    // Reads the messages kept during the last decode; the last reference goes with them.
    void readKept()
    {
        for (const Message* message : mKept) {
            mWalker.walk(message);
            if (message->removeReference())
                streamFail("message still referenced after its only holder let go",
                           message->getMessageInfo()->getName());
        }
        mKept.clear();
    }

    // Messages delivered since the last call.
    qint64 takeDelivered() { return std::exchange(mDeliveredNow, 0); }
    bool deliveryOpen() const { return mCurrent != nullptr; }

private:
    StreamRun& mRun;
    MessageWalker mWalker;
    bool mReadInside;
    const Message* mCurrent = nullptr;
    qint64 mDeliveredNow = 0;
    std::vector<const Message*> mKept;
};

// The parsed input header.
struct StreamInput {
    uint8_t flags = 0;
    std::vector<int> chunkSizes;
    const uint8_t* enableSet = nullptr;
    const uint8_t* stream = nullptr;
    size_t streamSize = 0;
};

inline StreamInput parseStreamInput(const uint8_t* data, size_t size)
{
    StreamInput in;
    if (size == 0)
        return in;
    in.flags = data[0];
    size_t at = 1;
    const size_t sizes = std::min<size_t>(in.flags & kChunkCountMask, size - at);
    for (size_t k = 0; k < sizes; ++k)
        in.chunkSizes.push_back(data[at + k] ? data[at + k] : kWideChunk);
    at += sizes;
    if ((in.flags & kFlagEnableSet) && size - at >= kStreamEnableBytes) {
        in.enableSet = data + at;
        at += kStreamEnableBytes;
    }
    in.stream = data + at;
    in.streamSize = size - at;
    return in;
}

inline void applyEnableSet(RTCM3Decoder& decoder, const uint8_t* enableSet)
{
    if (!enableSet)
        return;
    decoder.disableAllMessages();
    for (int32_t e = 1; const auto* layout = Kvt::Nuvrix::RTCM3_layout(e); ++e) {
        if (!layout->messageNumber)
            continue;
        if (Kvt::Nuvrix::layout::isEnabled(enableSet, e))
            decoder.enableMessageEnum(e);
        if (decoder.isEnabledMessageEnum(e) != Kvt::Nuvrix::layout::isEnabled(enableSet, e))
            streamFail("decoder does not keep the enable set", QString::number(e));
    }
}

class StreamDriver
{
public:
    StreamDriver(StreamRun& run, const StreamInput& in)
        : mRun(run), mObserver(run, in.flags)
    {
        mSync.setObserver(&mObserver);
        mDecoder.setObserver(&mObserver);
        applyEnableSet(mDecoder, in.enableSet);
    }

    void append(const uint8_t* bytes, int size)
    {
        mRun.bytesIn += size;
        mSync.appendBytes(QByteArray(reinterpret_cast<const char*>(bytes), size));
        drain();
    }

    // A frame the held bytes cannot complete gives way; then nothing may stay behind.
    void endStream()
    {
        mSync.endOfStream();
        drain();
        if (mSync.getNumberOfBytesLeft() != 0)
            streamFail("bytes held after the stream ended and was drained",
                       QString::number(mSync.getNumberOfBytesLeft()));
        if (mRun.frameBytes + mRun.droppedBytes != mRun.bytesIn)
            streamFail("bytes neither framed nor dropped",
                       QStringLiteral("%1 in, %2 framed, %3 dropped").arg(mRun.bytesIn).arg(mRun.frameBytes).arg(mRun.droppedBytes));
        if (qint64(mSync.getDroppedByteCount()) != mRun.droppedBytes || qint64(mSync.getCRCErrorCount()) != mRun.crcErrors)
            streamFail("synchronizer counts differ from its reports");
    }

private:
    void drain()
    {
        while (mSync.hasBlock()) {
            const QByteArray frame = mSync.getBlockBytes();
            checkFrame(frame);
            decode(frame);
        }
        if (!mSync.getBlockBytes().isEmpty())
            streamFail("a frame came out while none was ready");
    }

    void checkFrame(const QByteArray& frame)
    {
        if (frame.size() < RTCM3Synchronizer::kFrameOverhead || uchar(frame[0]) != Kvt::Nuvrix::layout::kPreamble)
            streamFail("frame without preamble", QString::number(frame.size()));
        const int length = uchar(frame[1]) << 8 | uchar(frame[2]);
        if (length >= RTCM3Synchronizer::kLengthLimit || frame.size() != length + RTCM3Synchronizer::kFrameOverhead)
            streamFail("frame size differs from its header", QString::number(frame.size()));
        ++mRun.frames;
        mRun.frameBytes += frame.size();
    }

    void decode(const QByteArray& frame)
    {
        const qint64 eventsBefore = mRun.events;
        const int32_t result = mDecoder.decodeMessage(reinterpret_cast<const uint8_t*>(frame.constData()),
                                                      uint(frame.size()));
        const qint64 delivered = mObserver.takeDelivered();
        if (mObserver.deliveryOpen())
            streamFail("decode returned inside a delivery");
        if (result > 0) {
            ++mRun.decoded;
            if (qint64(result) > qint64(frame.size()) * 8)
                streamFail("decoded more bits than the frame holds", QString::number(result));
            if (delivered > 1)
                streamFail("one frame gave several messages");
            if (mRun.events != eventsBefore)
                streamFail("decoded frame also reported an event");
        } else if (delivered != 0 || mRun.events != eventsBefore + 1) {
            streamFail("failed decode without exactly one event and no message",
                       QString::fromLatin1(Kvt::Nuvrix::RTCM3_error_to_string(result)));
        }
        mObserver.readKept();
    }

    StreamRun& mRun;
    StreamObserver mObserver;
    RTCM3Synchronizer mSync;
    RTCM3Decoder mDecoder;
};

inline void feedStream(StreamRun& run, const StreamInput& in)
{
    StreamDriver driver(run, in);
    size_t at = 0;
    for (size_t k = 0; at < in.streamSize; ++k) {
        const size_t chunk = in.chunkSizes.empty() ? in.streamSize
                                                   : size_t(in.chunkSizes[k % in.chunkSizes.size()]);
        const size_t size = std::min(chunk, in.streamSize - at);
        driver.append(in.stream + at, int(size));
        at += size;
        if (in.flags & kFlagEndEveryChunk)
            driver.endStream();
    }
    driver.endStream();
}

// Host objects alive between streams: the descriptions, built once per process. Every stream
// must leave exactly these, so the count taken before the first one holds for all.
inline qint64 liveBetweenStreams()
{
    static const qint64 live = [] {
        RTCM3_FormatInfo::getInstance();
        return MemLeakTracer::getInstance()->totalLive();
    }();
    return live;
}

inline StreamRun fuzzStream(const uint8_t* data, size_t size)
{
    const qint64 liveBefore = liveBetweenStreams();
    StreamRun run;
    feedStream(run, parseStreamInput(data, size));
    if (MemLeakTracer::getInstance()->totalLive() != liveBefore)
        streamFail("host objects outlive the stream:", MemLeakTracer::getInstance()->report());
    return run;
}

// An input that feeds `stream` in chunks of the given sizes (at most 15, each 0..255).
inline std::vector<uint8_t> streamInput(uint8_t flags, const std::vector<uint8_t>& chunkSizes,
                                        const std::vector<uint8_t>& stream, const uint8_t* enableSet = nullptr)
{
    std::vector<uint8_t> input{static_cast<uint8_t>((flags & ~(kChunkCountMask | kFlagEnableSet))
                                                    | std::min<size_t>(chunkSizes.size(), kChunkCountMask)
                                                    | (enableSet ? kFlagEnableSet : 0))};
    input.insert(input.end(), chunkSizes.begin(), chunkSizes.begin() + std::min<size_t>(chunkSizes.size(), kChunkCountMask));
    if (enableSet)
        input.insert(input.end(), enableSet, enableSet + kStreamEnableBytes);
    input.insert(input.end(), stream.begin(), stream.end());
    return input;
}

} // namespace nuvrixfuzz
