#include "RTCM3Decoder.h"

#include "MemLeakTracer.h"
#include "NuvrixEvent.h"
#include "RTCM3_FormatInfo.h"
#include "RTCM3_MessageT.h"
#include "RTCM3_layout.h"

#include <limits>

using namespace Kvt::Nuvrix;

namespace {

bool isMessage(int e)
{
    const layout::RecordLayout *l = RTCM3_layout(e);
    return l && l->messageNumber != 0;
}

NuvrixEvent formatEvent(int type, const QString &text)
{
    return NuvrixEvent(type, text, RTCM3_FormatInfo::getInstance());
}

} // namespace

RTCM3Decoder::RTCM3Decoder(QObject *parent)
    : AbstractDecoder(QStringLiteral("RTCM3"), parent)
{
    MemLeakTracer::getInstance()->doAllocateObject("RTCM3Decoder");
    RTCM3_init_context(&mContext);
    for (int e = 1; e <= RTCM3_LAST_ENUMERATOR; ++e)
        if (const MessageInfo *info = RTCM3_messageInfoOf(e))
            setMessageEnum(info, e);
}

RTCM3Decoder::~RTCM3Decoder()
{
    MemLeakTracer::getInstance()->doDeallocateObject("RTCM3Decoder");
}

int32_t RTCM3Decoder::decodeMessage(const uint8_t *buffer, uint maxlength)
{
    // The codec takes a 16-bit length and no frame is longer: a longer one is refused, not cut.
    if (maxlength > std::numeric_limits<uint16_t>::max()) {
        reportDecodeError(RTCM3_ERR_EOF);
        return RTCM3_ERR_EOF;
    }
    _RTCM3_message_t record;
    const int32_t r = RTCM3_decode(&mContext, buffer, static_cast<uint16_t>(maxlength), &record);
    if (r > 0) {
        deliver(record);
        return r;
    }
    // Whatever the failure, a failed decode leaves a record that this call releases.
    RTCM3_free_message_children(&record);
    if (r == RTCM3_ERR_INVALID_MESSAGE) {
        const QString number = QString::number(mContext.unknown_message_number);
        newEvent(formatEvent(NuvrixEvent::UnknownMessage,
                       QStringLiteral("RTCM3: Message type %1 unknown to PC software").arg(number)));
        newUnknownMessage(RTCM3_FormatInfo::getInstance(), QStringLiteral("Message type %1").arg(number));
    } else {
        reportDecodeError(r);
    }
    return r;
}

void RTCM3Decoder::reportDecodeError(int32_t code)
{
    newEvent(formatEvent(NuvrixEvent::DecodeError,
                         QStringLiteral("RTCM3: %1").arg(QLatin1String(RTCM3_error_to_string(code)))));
}

void RTCM3Decoder::deliver(_RTCM3_message_t &record)
{
    const int32_t e = record.header.kvtcg_message;
    std::unique_ptr<RTCM3Message> adopted = RTCM3_adoptRecord(&record.header);
    if (!adopted) {
        // Messages decoded by the codec alone are dropped silently.
        if (isMessage(e))
            RTCM3_free_message_children(&record);
        else
            newEvent(formatEvent(NuvrixEvent::InconsistentState, QStringLiteral("RTCM3: Inconsistent decoder state")));
        return;
    }
    // Reference counting owns the message from here; it goes with the last reference.
    const Message *message = adopted.release();
    message->addReference();
    newMessageEarly(message);
    newMessage(message);
    newMessageLate(message);
    message->removeReference();
}

void RTCM3Decoder::enableAllMessages()
{
    for (int e = 1; e <= RTCM3_LAST_ENUMERATOR; ++e)
        if (isMessage(e))
            layout::setEnabled(mContext.enabled, e, true);
}

void RTCM3Decoder::disableAllMessages()
{
    for (int e = 1; e <= RTCM3_LAST_ENUMERATOR; ++e)
        if (isMessage(e))
            layout::setEnabled(mContext.enabled, e, false);
}

void RTCM3Decoder::enableMessageEnum(int value)
{
    layout::setEnabled(mContext.enabled, value, true);
}

void RTCM3Decoder::disableMessageEnum(int value)
{
    layout::setEnabled(mContext.enabled, value, false);
}

bool RTCM3Decoder::isEnabledMessageEnum(int value) const
{
    return layout::isEnabled(mContext.enabled, value);
}
