// The convolution the four filter routines share: for every output pixel the
// kernel is cut to the columns inside the image (rows are not cut: the caller
// provides three context rows on each side), each product sample x weight is
// taken in single precision and summed in double precision, and the quotient
// by the sum of the weights actually used becomes the output byte.
#pragma once

#include "fpx/filter.h"

#include <algorithm>
#include <cstddef>

namespace kxfpx::fpx {

inline constexpr int kKernelSide = 7;
inline constexpr int kKernelCentre = 3;
inline constexpr int kContextRows = 3;
inline constexpr int32_t kMinFilterRows = 2 * kContextRows + 1;

// Half-width of a blur kernel of the given size.
inline int blur_half_width(int32_t size) { return size == 7 ? 3 : size == 5 ? 2 : 1; }

// The quotient to a byte: truncated, clamped to 0..255; NaN (weights that sum
// to zero with a zero weighted sum) gives 0. The blur's quotient, a weighted
// mean of bytes, never leaves 0..255, so the clamp changes nothing there.
inline uint8_t quotient_byte(double q)
{
    if (q > 255.0)
        return 255;
    if (q >= 0.0)
        return static_cast<uint8_t>(q);
    return 0;
}

template <int Channels>
void convolve(int32_t width, uint8_t pad, int32_t rows, const FilterKernel &kernel, int half,
              const uint8_t *input, uint8_t *output)
{
    if (rows < kMinFilterRows || width < 1)
        return;
    const ptrdiff_t stride = static_cast<ptrdiff_t>(width) * Channels + pad;
    for (int32_t r = kContextRows; r <= rows - kContextRows - 1; ++r) {
        uint8_t *out = output + (r - kContextRows) * stride;
        for (int32_t x = 0; x < width; ++x) {
            const int first = -std::min<int32_t>(x, half);
            const int last = std::min<int32_t>(half, width - 1 - x);
            double sums[Channels] = {};
            double weightSum = 0.0;
            for (int dy = -half; dy <= half; ++dy) {
                const uint8_t *row = input + (r + dy) * stride;
                const float *w = kernel.weights + (kKernelCentre + dy) * kKernelSide + kKernelCentre;
                for (int dx = first; dx <= last; ++dx) {
                    weightSum += w[dx];
                    const uint8_t *p = row + (x + dx) * Channels;
                    for (int c = 0; c < Channels; ++c)
                        sums[c] += static_cast<float>(p[c]) * w[dx];
                }
            }
            for (int c = 0; c < Channels; ++c)
                out[x * Channels + c] = quotient_byte(sums[c] / weightSum);
        }
    }
}

} // namespace kxfpx::fpx
