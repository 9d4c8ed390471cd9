#pragma once
// One CRC-checked frame as rtcm3dump hands it to its outputs, whatever became of it in the
// decoder, and the interface every output implements.

#include <QtCore/QByteArray>
#include <QtCore/QString>

#include <cstdint>

class Message;
namespace Kvt::Nuvrix { union _RTCM3_message_t; }

struct Frame
{
    enum class Kind {
        Decoded,      // a message object through its description
        Undescribed,  // decoded, but its record type has no description
        Unknown,      // no record type has this message number
        Failed,       // the codec refused it: `result` names why
        Empty,        // a payload too short to hold a message number
    };

    Kind kind = Kind::Empty;
    QByteArray bytes;       // the whole frame: preamble, header word, payload, CRC
    int number = -1;        // message number; -1 for an empty frame
    int32_t result = 0;     // the codec's result: bits decoded or a negative code
    int enumerator = 0;     // record type of a decoded frame
    const Message *message = nullptr;  // Decoded, when the outputs asked for message objects
    const Kvt::Nuvrix::_RTCM3_message_t *record = nullptr;  // Decoded and Undescribed; alive during the call
    int trailingBytes = 0;  // payload bytes after the last field of a decoded frame

    QByteArray payload() const { return bytes.mid(3, bytes.size() - 6); }
};

// An output of the per-frame pipeline: printers, the statistics, the recorder.
class FrameSink
{
public:
    virtual ~FrameSink() = default;
    virtual void frame(const Frame &frame) = 0;
    // A frame that --only/--skip left out.
    virtual void filtered(const Frame &) {}
    // The synchronizer's reports about the bytes between frames.
    virtual void crcError() {}
    virtual void droppedBytes(unsigned) {}
    // Hands what is buffered to the system: after every frame of a live input, at the end.
    virtual void flush() {}
    // The first write error of this output, if any.
    virtual QString writeError() const { return QString(); }
};
