// Control of the recording output library used by the output tests: it
// records every table call as one line and answers with injected statuses
// and errors.
#pragma once

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#define RECORDER_API __attribute__((visibility("default")))

// Forgets the recorded calls and every injection.
RECORDER_API void recorder_reset(void);
// The recorded calls, one line each ("Slot arg arg ..."), joined with '\n'.
RECORDER_API const char *recorder_calls(void);
// The value the given slot returns from now on.
RECORDER_API void recorder_set_result(int32_t slot, int64_t value);
// After the next call of the slot, the pair (code, second) is pending.
RECORDER_API void recorder_fail_after(int32_t slot, int16_t code, int16_t second);
// QueryError writes a pending pair but leaves the count at 0.
RECORDER_API void recorder_query_leaves_count(int32_t on);
// The SharedLib pointer the loader stored through the context.
RECORDER_API void *recorder_shared_lib(void);
// The argument C_OpenOutput received.
RECORDER_API int64_t recorder_open_argument(void);

#ifdef __cplusplus
}
#endif
