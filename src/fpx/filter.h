// Blur and sharpen of the viewing transform: Filter picks one of four
// convolution routines by channel count and by the sign of the filtering
// value. Rows of `width` pixels (3 bytes or 1) are followed by `pad` bytes;
// `rows` counts the input rows including three rows of context above and
// below; output row j is the filtered input row j + 3.
#pragma once

#include <cstdint>

namespace kxfpx::fpx {

// The kernel block of SubimageInfo: 7 x 7 row-major weights (weight (dy, dx)
// at (3 + dy) * 7 + 3 + dx) and the size in use (3, 5 or 7).
struct FilterKernel {
    const float *weights;
    int32_t size;
};

void Filter(int32_t channels, int32_t width, uint8_t pad, int32_t rows, const FilterKernel &kernel,
            const uint8_t *input, uint8_t *output, float filteringValue);

void Filter3Color(int32_t width, uint8_t pad, int32_t rows, const FilterKernel &kernel,
                  const uint8_t *input, uint8_t *output);
void Filter1Color(int32_t width, uint8_t pad, int32_t rows, const FilterKernel &kernel,
                  const uint8_t *input, uint8_t *output);
void Sharpen3Color(int32_t width, uint8_t pad, int32_t rows, const FilterKernel &kernel,
                   const uint8_t *input, uint8_t *output);
void Sharpen1Color(int32_t width, uint8_t pad, int32_t rows, const FilterKernel &kernel,
                   const uint8_t *input, uint8_t *output);

} // namespace kxfpx::fpx
