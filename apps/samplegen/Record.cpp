#include "Record.h"

#include "Scaling.h"

#include <string>

namespace Kvt::Nuvrix::SampleGen {

QByteArray checkedFrame(const uint8_t* buffer, int32_t encodeResult, uint16_t messageNumber)
{
    if (encodeResult <= 0 || encodeResult % 8 != 0 || encodeResult / 8 > kMaxFrameSize) {
        const char* reason = encodeResult < 0 ? RTCM3_error_to_string(encodeResult) : "bad frame size";
        throw SampleError("encoding message " + std::to_string(messageNumber) + " failed: "
                          + (reason ? reason : std::to_string(encodeResult)));
    }
    return QByteArray(reinterpret_cast<const char*>(buffer), encodeResult / 8);
}

} // namespace Kvt::Nuvrix::SampleGen
