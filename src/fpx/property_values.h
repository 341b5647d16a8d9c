// Reading property values found by FindProperties: a value at the
// property's position (just past its type word), or at position + 4 for
// values that start with a 32-bit count. Each read leaves its destination
// alone when the seek or the read fails, so defaults stay in place.
#pragma once

#include <kxfpx/qorfile.h>

#include <cstdint>

namespace kxfpx::fpx {

// Bytes of the count that leads vector and blob values.
inline constexpr uint32_t kValueCountSize = 4;

// Seeks to an absolute position; false when the position is not one the
// stream can take (past 2 GB or refused by the stream).
[[nodiscard]] bool seek_to(QorFile stream, uint32_t position);

[[nodiscard]] bool read_long_at(QorFile stream, uint32_t position, int32_t &value);
[[nodiscard]] bool read_short_at(QorFile stream, uint32_t position, int16_t &value);
[[nodiscard]] bool read_float_at(QorFile stream, uint32_t position, float &value);

// A whole property set's positions for a list of identifiers.
template <int N> struct PropertyPositions {
    uint32_t at[N] = {};
    bool has(int k) const { return at[k] != 0; }
};

} // namespace kxfpx::fpx
