// Control of the recording output library: every table call is one line
// ("Slot arg arg ..."), results and errors come from injections.
#pragma once

#include <stdint.h>

#define RECORDER_API __attribute__((visibility("default")))

extern "C" {
RECORDER_API void recorder_reset(void);
RECORDER_API const char *recorder_calls(void);
// The value the slot returns from now on.
RECORDER_API void recorder_set_result(int32_t slot, int64_t value);
// After the next call of the slot, the pair (code, second) is pending.
RECORDER_API void recorder_fail_after(int32_t slot, int16_t code, int16_t second);
// QueryError writes a pending pair but leaves the count at 0.
RECORDER_API void recorder_query_leaves_count(int32_t on);
// The SharedLib pointer the loader stored through the context.
RECORDER_API void *recorder_shared_lib(void);
}
