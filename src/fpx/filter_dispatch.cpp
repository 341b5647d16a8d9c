// Filter: the entry of the blur/sharpen step, called once per strip by the
// tile renderer. Three channels or one; a positive filtering value sharpens,
// any other blurs.
#include "fpx/filter.h"

namespace kxfpx::fpx {

void Filter(int32_t channels, int32_t width, uint8_t pad, int32_t rows, const FilterKernel &kernel,
            const uint8_t *input, uint8_t *output, float filteringValue)
{
    if (channels == 3) {
        if (filteringValue > 0)
            Sharpen3Color(width, pad, rows, kernel, input, output);
        else
            Filter3Color(width, pad, rows, kernel, input, output);
    } else if (filteringValue > 0) {
        Sharpen1Color(width, pad, rows, kernel, input, output);
    } else {
        Filter1Color(width, pad, rows, kernel, input, output);
    }
}

} // namespace kxfpx::fpx
