// Expansion of a whole progressive frame: every component's transformed
// blocks, MCU by MCU, become a full-resolution sample plane W bytes wide
// through ExpandBlock (copied, or doubled across or both ways).
#include "jpeg/progressive_layout.h"

#include <kxfpx/codes.h>

namespace kxfpx::jpeg {

int32_t ExpandImage(uint8_t *samples, int16_t *coefficients, int32_t N, FrameHeader *frame)
{
    const ProgGeometry g(*frame);
    const ProgFactors f(*frame);
    uint32_t modes[kProgMaxComponents] = {};
    (void)ComponentExpansionModes(modes, *frame);
    const uint32_t W = g.planeWidth();
    const uint32_t bandBytes = W * g.maxV * kBlockSide;
    const uint32_t planeBytes = plane_size(uint32_t(N), *frame);
    if (!f.ok)
        return KX_OK;
    for (int c = 0; c < prog_component_count(*frame); ++c) {
        // The plane must hold every block of the component and the whole
        // padded image (both hold for a planned N).
        if (uint64_t(f.blocks(c)) * g.mcuCount() * kBlockCoefficients > planeBytes ||
            uint64_t(bandBytes) * g.mcuRows > planeBytes)
            continue;
        uint8_t *pointers[kProgMaxComponents] = {};
        uint8_t *plane = samples + plane_start(uint32_t(N), *frame, c);
        int16_t *block = coefficients + plane_start(uint32_t(N), *frame, c);
        for (uint32_t r = 0; r < g.mcuRows; ++r) {
            pointers[c] = plane + r * bandBytes;
            for (uint32_t m = 0; m < g.mcuCols; ++m) {
                (void)ExpandBlock(pointers, block, modes, uint16_t(c), *frame, int32_t(W), g.maxH);
                block += f.blocks(c) * kBlockCoefficients;
            }
        }
    }
    return KX_OK;
}

} // namespace kxfpx::jpeg
