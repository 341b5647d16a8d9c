// The four layout functions of a progressive frame that the scans and the
// reconstruction share: each component's expansion mode against the frame's
// largest factors, its block factors and block count, and the edge blocks.
#include "jpeg/progressive_layout.h"

#include <kxfpx/codes.h>

namespace kxfpx::jpeg {

int32_t ComponentExpansionModes(uint32_t *modes, FrameHeader frame)
{
    const ProgGeometry g(frame);
    for (int c = 0; c < prog_component_count(frame); ++c) {
        // DetermineExpansion leaves the mode alone when it finds none; the
        // sentinel makes ComponentBlockFactors refuse that component.
        modes[c] = kNoExpansion;
        (void)DetermineExpansion(&modes[c], frame, uint16_t(c), g.maxH, g.maxV);
    }
    return KX_OK;
}

int32_t ComponentBlockFactors(uint32_t *hfac, uint32_t *vfac, FrameHeader frame)
{
    const ProgGeometry g(frame);
    uint32_t modes[kProgMaxComponents];
    (void)ComponentExpansionModes(modes, frame);
    for (int c = 0; c < prog_component_count(frame); ++c) {
        if (modes[c] == kExpandNone) {
            hfac[c] = g.maxH;
            vfac[c] = g.maxV;
        } else if (modes[c] == kExpandAcross || modes[c] == kExpandBoth) {
            hfac[c] = 1;
            vfac[c] = 1;
        } else {
            return KX_BAD_DATA;
        }
    }
    return KX_OK;
}

int32_t ComponentBlockCounts(uint32_t *counts, FrameHeader frame)
{
    const ProgGeometry g(frame);
    const ProgFactors f(frame);
    for (int c = 0; c < prog_component_count(frame); ++c)
        counts[c] = f.ok ? f.blocks(c) * g.mcuCount() : 0;
    return KX_OK;
}

int32_t EdgeBlockCounts(uint32_t *cols, uint32_t *rows, FrameHeader frame)
{
    const ProgGeometry g(frame);
    cols[0] = g.maxH - (g.gridCols() - g.blocksW);
    rows[0] = g.maxV - (g.gridRows() - g.blocksH);
    for (int c = 1; c < kProgMaxComponents; ++c)
        cols[c] = rows[c] = 1;
    return KX_OK;
}

} // namespace kxfpx::jpeg
