// The libFuzzer entry of one target; KXFUZZ_TARGET names its entry function
// (the build compiles this file once per target).
#include "fuzz_targets.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    return kxfuzz::KXFUZZ_TARGET(data, size);
}
