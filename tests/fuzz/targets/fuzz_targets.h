// The fuzz targets' entry functions, one per parser, shared by the libFuzzer
// binaries (one per target, see libfuzzer_main.cpp) and the replay test, which
// runs every saved input through the same functions. Each returns 0.
#pragma once

#include <cstddef>
#include <cstdint>

namespace kxfuzz {

using TargetFn = int (*)(const uint8_t *data, size_t size);

int cfb_target(const uint8_t *data, size_t size);
int import_target(const uint8_t *data, size_t size);
int file_info_target(const uint8_t *data, size_t size);
int jpeg_target(const uint8_t *data, size_t size);
int properties_target(const uint8_t *data, size_t size);

struct Target {
    const char *name;  // also the folder of its seeds and regressions
    TargetFn run;
};
inline constexpr Target kTargets[] = {
    {"cfb", cfb_target},           {"import", import_target}, {"file_info", file_info_target},
    {"jpeg", jpeg_target},         {"properties", properties_target},
};

// The last code each target's top-level call ended with, for the replay
// test to check that every code of the import's failure tables is met.
extern int32_t last_import_code;

} // namespace kxfuzz
