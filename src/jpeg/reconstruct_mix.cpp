// The interleave of a whole progressive frame: the full-resolution sample
// planes become destination pixels, row by row: three bytes from
// planes 0, 1, 2 (mode 0), plane 0 three times (mode 1), plane 0 alone, one
// byte per pixel (mode 2, monochrome frames), or the opacity-weighted colour
// of planes 0 to 3 through the five colour tables (mode 5), with the band
// writers of the sequential path.
#include "jpeg/progressive_layout.h"

#include "jpeg/band_output.h"

#include <kxfpx/codes.h>

#include <cstring>

namespace kxfpx::jpeg {

int32_t MapAndMixWholeImageColor(uint8_t *samples, int32_t N, int32_t mode, uint8_t *destination,
                                 FrameHeader *frame, int16_t **colourTableSlots)
{
    const ProgGeometry g(*frame);
    const int nf = prog_component_count(*frame);
    const uint32_t W = g.planeWidth();
    const uint32_t rows = g.planeRows();
    // Every plane read must hold the whole padded image (it does for a
    // planned N); the planes a mode reads must exist.
    if (uint64_t(W) * rows > plane_size(uint32_t(N), *frame))
        return KX_OK;
    const uint8_t *p[kProgMaxComponents] = {};
    for (int c = 0; c < nf; ++c)
        p[c] = samples + plane_start(uint32_t(N), *frame, c);

    if (mode == kMixGrey) {
        if (nf >= 1)
            std::memcpy(destination, p[0], size_t(W) * rows);
        return KX_OK;
    }
    const uint32_t stride = g.rowBytes;
    if (stride < 3 * W)
        return KX_OK;
    // The whole padded image is one band of the sequential path's output.
    if (mode == kMixInterleave && nf >= 3) {
        write_band_colour(p, W, destination, stride, W, rows);
    } else if (mode == kMixGreyTriple && nf >= 1) {
        const uint8_t *grey[3] = {p[0], p[0], p[0]};
        write_band_colour(grey, W, destination, stride, W, rows);
    } else if (mode == kMixOpacityWeighted && nf >= 4 && colourTableSlots) {
        write_band_opacity(p, W, destination, stride, W, rows, colourTableSlots);
    }
    return KX_OK;
}

int32_t MapAndMixWholeImageColor(uint8_t *samples, int32_t N, int32_t mode, uint8_t *destination,
                                 FrameHeader *frame)
{
    return MapAndMixWholeImageColor(samples, N, mode, destination, frame, nullptr);
}

} // namespace kxfpx::jpeg
