// libFuzzer entry: hostile frames, with or without a context and any enable set.
#include "codec_targets.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    nuvrixfuzz::fuzzCodecDecode(data, size);
    return 0;
}
