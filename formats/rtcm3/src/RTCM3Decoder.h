#pragma once

#include "AbstractDecoder.h"
#include "RTCM3_codec.h"
#include "nuvrixrtcm3_global.h"

#include <cstdint>

// Turns RTCM 3 frames into host messages. One decoder per stream: it owns the codec context
// (which message types are enabled, the number of the last unknown message), decodes each
// frame the synchronizer delivers, wraps the record in its message class and hands it to
// the host, or sends an event that says why no message came out.
class NUVRIXRTCM3_EXPORT RTCM3Decoder : public AbstractDecoder
{
    Q_OBJECT

public:
    explicit RTCM3Decoder(QObject *parent = nullptr);
    ~RTCM3Decoder() override;

public slots:
    // Returns the bits decoded, or the codec's negative code; a length above 65535 (no
    // frame is that long) is refused with RTCM3_ERR_EOF and an event like any failure.
    int32_t decodeMessage(const uint8_t *buffer, uint maxlength) override;

public:
    void enableAllMessages() override;
    void disableAllMessages() override;
    void enableMessageEnum(int value) override;
    void disableMessageEnum(int value) override;
    bool isEnabledMessageEnum(int value) const override;

private:
    void deliver(Kvt::Nuvrix::_RTCM3_message_t &record);
    void reportDecodeError(int32_t code);

    Kvt::Nuvrix::RTCM3_context_s mContext;
};
