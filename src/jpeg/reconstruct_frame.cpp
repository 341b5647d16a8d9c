// A progressive frame from header to picture: the plan made when its frame
// header is read (component count, samplings, buffer sizes with checked
// arithmetic, destination size) and the reconstruction run at its EOI.
#include "jpeg/progressive_layout.h"

#include <kxfpx/codes.h>
#include <kxfpx/memory.h>

namespace kxfpx::jpeg {

namespace {

// N is a signed 32-bit count and the coefficient buffer takes 2N bytes.
inline constexpr uint64_t kMaxCoefficients = 0x3FFFFFFF;

template <typename T> [[nodiscard]] bool checked_mul(T a, T b, T *out)
{
    return !__builtin_mul_overflow(a, b, out);
}

} // namespace

bool ProgressiveOutputBytes(const FrameHeader &frame, uint64_t *bytes)
{
    const ProgGeometry g(frame);
    // Monochrome frames are written as a one-component baseline scan writes
    // them: one byte per pixel, rows of the padded width W, the padded
    // height; colour frames as three bytes per pixel in rows of rowBytes.
    const uint64_t stride = frame.componentCount == 1 ? g.planeWidth() : g.rowBytes;
    return checked_mul<uint64_t>(stride, g.planeRows(), bytes);
}

int32_t ProgressiveFramePlan(const FrameHeader &frame, int32_t destinationSize,
                             uint32_t *coefficientCount)
{
    // One component (monochrome), three, or four (colour and opacity) are
    // decoded; two components, or more than four, are refused.
    const uint8_t nf = frame.componentCount;
    if (!frame.components || (nf != 1 && nf != 3 && nf != 4))
        return KX_BAD_DATA;
    // Samplings for which no expansion to the frame's largest factors
    // exists have no block factors: refused before any decoding.
    if (!ProgFactors(frame).ok)
        return KX_BAD_DATA;
    // One full-resolution plane per component: for three components this is
    // mcuCols x mcuRows x maxH x maxV x 3 x 64.
    const ProgGeometry g(frame);
    uint64_t n = 0;
    if (!checked_mul<uint64_t>(uint64_t(g.gridCols()) * g.gridRows(), kBlockCoefficients * nf, &n) ||
        n > kMaxCoefficients)
        return KX_BAD_DATA;
    // The destination must hold what the reconstruction writes.
    uint64_t bytes = 0;
    if (!ProgressiveOutputBytes(frame, &bytes) || destinationSize < 0 ||
        bytes > uint64_t(destinationSize))
        return KX_BAD_DATA;
    *coefficientCount = uint32_t(n);
    return KX_OK;
}

int32_t ReconstructProgressiveFrame(int16_t *coefficients, uint8_t *samples, uint32_t N,
                                    JpegTableSet *tables, uint8_t *destination, FrameHeader *frame,
                                    int16_t **colourTableSlots, int32_t extraChannelFlag)
{
    const int nf = prog_component_count(*frame);
    const ProgGeometry g(*frame);
    const ProgFactors f(*frame);
    if (!f.ok)
        return KX_BAD_DATA;
    HGLOBAL *quantSlots = &tables->slots[kQuantSlot0];
    // A component whose quantization table was never defined cannot be
    // reconstructed: refused, as a sequential scan refuses a missing table.
    for (int c = 0; c < nf; ++c)
        if (frame->components[c].quantId >= kQuantSlots || !quantSlots[frame->components[c].quantId])
            return KX_BAD_DATA;
    // Four components with the extra-channel flag need the five colour tables.
    const bool weighted = nf == 4 && extraChannelFlag != 0;
    if (weighted && (!colourTableSlots || !colourTableSlots[0] || !colourTableSlots[1] ||
                     !colourTableSlots[2] || !colourTableSlots[3] || !colourTableSlots[4]))
        return KX_BAD_DATA;

    // Every full-resolution component of more than one block per MCU has its
    // AC coefficients in raster order of its block grid (component 0 in the
    // usual 2x2 frames, but also a full-resolution chroma or opacity plane).
    for (int c = 0; c < nf; ++c)
        if (prog_full_grid(g, f, c) && f.blocks(c) > 1)
            (void)ReorderAC(coefficients, N, c, frame);
    (void)DequantizeWholeImage(coefficients, quantSlots, int32_t(N), frame);
    (void)IDCTwholeImage(coefficients, int32_t(N), frame);
    (void)ExpandImage(samples, coefficients, int32_t(N), frame);
    const int32_t mode = nf == 1 ? kMixGrey : weighted ? kMixOpacityWeighted : kMixInterleave;
    (void)MapAndMixWholeImageColor(samples, int32_t(N), mode, destination, frame, colourTableSlots);
    if (nf != 1)
        (void)PadBuf(nullptr, destination, frame);
    return KX_OK;
}

} // namespace kxfpx::jpeg
