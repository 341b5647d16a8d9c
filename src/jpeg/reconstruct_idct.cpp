// Inverse DCT of a whole progressive frame: IDCT8x8Block on every block of
// every component's plane, in place, blocks in the order they are stored.
#include "jpeg/progressive_layout.h"

#include <kxfpx/codes.h>

namespace kxfpx::jpeg {

int32_t IDCTwholeImage(int16_t *coefficients, int32_t N, FrameHeader *frame)
{
    uint32_t counts[kProgMaxComponents] = {};
    (void)ComponentBlockCounts(counts, *frame);
    const uint32_t planeBlocks = plane_size(uint32_t(N), *frame) / kBlockCoefficients;
    for (int c = 0; c < prog_component_count(*frame); ++c) {
        if (counts[c] > planeBlocks)  // never with a planned N; stay inside the plane
            continue;
        int16_t *block = coefficients + plane_start(uint32_t(N), *frame, c);
        for (uint32_t b = 0; b < counts[c]; ++b, block += kBlockCoefficients)
            IDCT8x8Block(block);
    }
    return KX_OK;
}

} // namespace kxfpx::jpeg
