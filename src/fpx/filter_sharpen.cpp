// The sharpen routines: only the 3 x 3 centre of the kernel, whatever size it
// claims; overshoot is clamped to 0 and 255.
#include "fpx/filter_convolve.h"

namespace kxfpx::fpx {

namespace {
constexpr int kSharpenHalfWidth = 1;
}

void Sharpen3Color(int32_t width, uint8_t pad, int32_t rows, const FilterKernel &kernel,
                   const uint8_t *input, uint8_t *output)
{
    convolve<3>(width, pad, rows, kernel, kSharpenHalfWidth, input, output);
}

void Sharpen1Color(int32_t width, uint8_t pad, int32_t rows, const FilterKernel &kernel,
                   const uint8_t *input, uint8_t *output)
{
    convolve<1>(width, pad, rows, kernel, kSharpenHalfWidth, input, output);
}

} // namespace kxfpx::fpx
