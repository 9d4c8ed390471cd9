// libFuzzer entry: whatever decodes must re-encode into any buffer without writing outside
// it, and what it writes must survive another decode and encode unchanged.
#include "codec_targets.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    nuvrixfuzz::fuzzCodecReencode(data, size);
    return 0;
}
