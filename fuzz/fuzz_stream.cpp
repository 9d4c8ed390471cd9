// libFuzzer entry: a hostile byte stream in arbitrary chunks through synchronizer, decoder
// and the host's reading of every message, with every host object released at the end.
#include "stream_target.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    nuvrixfuzz::fuzzStream(data, size);
    return 0;
}
