// Constant tables of the decoder: the zig-zag order (T.81 Figure A.6), the
// sign extension of T.81 F.12 (EXTEND_TEST, EXTEND_OFFSET) and RANGE_ARRAY,
// which turns a transform output (before the level shift) into a sample byte.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace kxfpx::jpeg {

// Entry k: natural (row-major) index of the k-th zig-zag coefficient.
inline constexpr uint8_t DE_ZIGZAG[64] = {
    0,  1,  8,  16, 9,  2,  3,  10, 17, 24, 32, 25, 18, 11, 4,  5,  12, 19, 26, 33, 40, 48,
    41, 34, 27, 20, 13, 6,  7,  14, 21, 28, 35, 42, 49, 56, 57, 50, 43, 36, 29, 22, 15, 23,
    30, 37, 44, 51, 58, 59, 52, 45, 38, 31, 39, 46, 53, 60, 61, 54, 47, 55, 62, 63};

// T.81 F.12: a value v of s bits with v < EXTEND_TEST[s] is negative and
// becomes v + EXTEND_OFFSET[s].
inline constexpr int32_t EXTEND_TEST[16] = {0,     1,     2,     4,    8,    16,   32,   64,
                                            128,   256,   512,   1024, 2048, 4096, 8192, 16384};
inline constexpr int32_t EXTEND_OFFSET[16] = {0,     -1,    -3,    -7,    -15,   -31,
                                              -63,   -127,  -255,  -511,  -1023, -2047,
                                              -4095, -8191, -16383, -32767};

inline constexpr int kRangeArraySize = 1664;
inline constexpr int kRangeLevelShiftBase = 1152;  // index of a transform output v: 1152 + v
inline constexpr int kRangePlainBase = 1024;       // index of an unshifted value

// 0 for entries 0..1024, k for entry 1024 + k (k = 1..254), 255 for entries
// 1279..1407, and 0 again for 1408..1663.
inline constexpr std::array<uint8_t, kRangeArraySize> make_range_array()
{
    std::array<uint8_t, kRangeArraySize> t{};
    for (int i = 1025; i <= 1278; ++i)
        t[size_t(i)] = uint8_t(i - 1024);
    for (int i = 1279; i <= 1407; ++i)
        t[size_t(i)] = 255;
    return t;
}
inline constexpr std::array<uint8_t, kRangeArraySize> RANGE_ARRAY = make_range_array();

// The sample byte of a transform output v: RANGE_ARRAY[1152 + v]. Outputs
// outside the table (v below -1152 or above 511, reachable only with corrupt
// or extreme coefficients) give 0, the value of both ends of the table, so
// the lookup never leaves it.
inline uint8_t range_limit(int32_t v)
{
    const int32_t i = kRangeLevelShiftBase + v;
    return (i >= 0 && i < kRangeArraySize) ? RANGE_ARRAY[size_t(i)] : 0;
}

} // namespace kxfpx::jpeg
