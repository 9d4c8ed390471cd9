#pragma once
// The road of every byte in rtcm3dump: frame cut, selection, decoder, then every output.
// Each CRC-checked frame reaches the outputs exactly once and in order, as a Frame that says
// what became of it, so that nothing the stream held is dropped silently. Frames are views of
// the bytes read (or of the few held back from the read before), never copies.

#include "Frame.h"
#include "Selection.h"

#include "HostObserver.h"
#include "RTCM3_codec.h"
#include "RTCM3_extension.h"
#include "RTCM3_layout.h"
#include "RTCM3Decoder.h"
#include "RTCM3FrameSplitter.h"

#include <QtCore/QList>

#include <cstddef>
#include <cstdint>

class FramePipeline : private HostObserver
{
public:
    // Every decoded frame carries its record; with `hostMessages` also its message object,
    // for the outputs that print through the descriptions.
    // Frames the core knows no message for are tried with the extension messages; `extension`
    // also opts in to their variant layouts.
    FramePipeline(const Selection &selection, bool hostMessages,
                  const Kvt::Nuvrix::RTCM3_ext_context_s &extension = {});
    ~FramePipeline() override;

    // Outputs are called in the order they were added; the caller keeps them alive.
    void addSink(FrameSink *sink) { mSinks.append(sink); }
    // Records only as far as scalars go (numeric arrays are left as they were), for outputs
    // that read headers only: the summary. Results and kinds of frames stay the same.
    void setScalarRecords(bool on) { mScalarRecords = on; }

    void append(const QByteArray &bytes) { append(reinterpret_cast<const uint8_t *>(bytes.constData()), size_t(bytes.size())); }
    void append(const uint8_t *data, size_t size);
    // No more bytes: frames held back behind a false preamble come out, the rest is dropped.
    void endOfStream();
    void flush();
    // The first write error of any output.
    QString writeError() const;

private:
    friend class Kvt::Nuvrix::RTCM3FrameSplitter;
    // The splitter's handler.
    void frame(const uint8_t *data, size_t size);
    void skipped(size_t count, bool crcError);
    void classify(Frame &frame, const uint8_t *data, size_t size);

    void message(const MessageSource *, const Message *message) override;

    // First, so that it ends last: the record's arrays are kept from frame to frame.
    Kvt::Nuvrix::layout::ArrayReuse mArrayReuse;
    Selection mSelection;
    const bool mHostMessages;
    bool mScalarRecords = false;
    Kvt::Nuvrix::RTCM3_context_s mContext;
    Kvt::Nuvrix::RTCM3_ext_context_s mExtension;
    Kvt::Nuvrix::_RTCM3_message_t mRecord;
    Kvt::Nuvrix::RTCM3FrameSplitter mSplitter;
    RTCM3Decoder mDecoder;
    QList<FrameSink *> mSinks;
    const Message *mCaught = nullptr;  // the message of the frame being decoded
};
