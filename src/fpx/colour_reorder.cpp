// Channel reordering for RGB images whose channels are stored in another
// order: every pixel is rebuilt from the stored positions of red, green and
// blue, read before any byte is written.
#include "fpx/colour_steps.h"

namespace kxfpx::fpx {

void ReorderChannels(int32_t count, int32_t rows, int32_t pad, uint8_t *samples, int32_t iR,
                     int32_t iG, int32_t iB)
{
    for_each_pixel(count, rows, pad, samples, 3, [=](uint8_t *p) {
        const uint8_t r = p[iR], g = p[iG], b = p[iB];
        p[0] = r;
        p[1] = g;
        p[2] = b;
    });
}

} // namespace kxfpx::fpx
