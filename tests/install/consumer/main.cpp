// Encodes a station message, frames and decodes it through the installed libraries, and reads
// a field back through its description: linking, loading and the descriptions all have to work.
#include "nuvrixrtcm3.h"

#include "FieldInfo.h"
#include "MessageInfo.h"
#include "RecordingObserver.h"

#include <cstdio>

int main()
{
    using namespace Kvt::Nuvrix;
    RTCM3_FormatInfo::getInstance();
    RTCM3_Message_Type_1005_s station{};
    RTCM3_init_Message_Type_1005(&station);
    station.Reference_Station_ID = 2003;
    uint8_t buffer[64] = {};
    const int32_t bits = RTCM3_encode_Message_Type_1005(buffer, sizeof buffer, &station);
    if (bits <= 0) {
        std::printf("encode failed: %s\n", RTCM3_error_to_string(bits));
        return 1;
    }
    RTCM3Synchronizer sync;
    RTCM3Decoder decoder;
    RecordingObserver observer(true);
    decoder.setObserver(&observer);
    sync.appendBytes(QByteArray(reinterpret_cast<const char *>(buffer), bits / 8));
    while (sync.hasBlock()) {
        const QByteArray frame = sync.getBlockBytes();
        decoder.decodeMessage(reinterpret_cast<const uint8_t *>(frame.constData()), uint(frame.size()));
    }
    if (observer.messages().size() != 1) {
        std::printf("expected one message, got %d\n", int(observer.messages().size()));
        return 1;
    }
    const Message *message = observer.messages().front();
    const FieldInfo *id = message->getMessageInfo()->findFieldInfo(QStringLiteral("Reference Station ID"));
    const QString text = id ? id->getValueString(message) : QString();
    std::printf("%s station %s\n", qPrintable(message->getMessageInfo()->getName()), qPrintable(text));
    return text == QStringLiteral("2003") ? 0 : 1;
}
