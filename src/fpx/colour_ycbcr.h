// The fixed-point lines of the YCbCr tables, shared by the table fill and the
// vector conversion that computes the same entries in its lanes.
#pragma once

#include <cstdint>

namespace kxfpx::fpx {

struct FixedLine {
    int32_t start, step;
};
// Cr * 1.402, Cb * 1.772, Cr * -0.71414, Cb * -0.34414 around 128, in 16.16.
inline constexpr FixedLine kCrRLine = {-11682187, 91882};
inline constexpr FixedLine kCbBLine = {-14773807, 116130};
inline constexpr FixedLine kCrGLine = {5967255, -46802};
inline constexpr FixedLine kCbGLine = {2908148, -22552};

// Converts whole groups of 16 YCbCr pixels at p in place; returns the
// pixels converted (the rest is left to the caller). AVX2 only.
int32_t YCbCrRunAvx2(uint8_t *p, int32_t pixels, bool invert);
bool CpuHasAvx2();

} // namespace kxfpx::fpx
