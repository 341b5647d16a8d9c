// The blur routines: the whole kernel of the size in use (3, 5 or 7), cut at
// the left and right image edges.
#include "fpx/filter_convolve.h"

namespace kxfpx::fpx {

void Filter3Color(int32_t width, uint8_t pad, int32_t rows, const FilterKernel &kernel,
                  const uint8_t *input, uint8_t *output)
{
    convolve<3>(width, pad, rows, kernel, blur_half_width(kernel.size), input, output);
}

void Filter1Color(int32_t width, uint8_t pad, int32_t rows, const FilterKernel &kernel,
                  const uint8_t *input, uint8_t *output)
{
    convolve<1>(width, pad, rows, kernel, blur_half_width(kernel.size), input, output);
}

} // namespace kxfpx::fpx
