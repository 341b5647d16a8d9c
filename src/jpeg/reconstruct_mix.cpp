// The interleave of a whole progressive frame: the full-resolution sample
// planes become destination pixels, band of MCU rows by band: three bytes from
// planes 0, 1, 2 (mode 0), plane 0 three times (mode 1), plane 0 alone, one
// byte per pixel (mode 2, monochrome frames), or the opacity-weighted colour
// of planes 0 to 3 through the five colour tables (mode 5).
#include "jpeg/progressive_layout.h"

#include <kxfpx/codes.h>

#include <cstring>

namespace kxfpx::jpeg {

namespace {

inline constexpr double kOpacityScale = 255.0;
inline constexpr int kSampleMax = 255;

// One pixel of opacity-weighted colour: the samples are divided by the
// opacity a (truncated, at most 255), mapped through the tables (T0..T4 are
// CrR, CbB, CrG, CbG, Yscale) and weighted by a again (truncated, taken as a
// signed 16-bit value, clamped to 0..255).
inline void opacity_weighted_pixel(uint8_t *out, uint8_t s0, uint8_t s1, uint8_t s2, uint8_t s3,
                                   int16_t *const *t)
{
    const double a = s3 / kOpacityScale;
    if (a == 0.0) {
        out[0] = out[1] = out[2] = 0;
        return;
    }
    auto unweigh = [a](uint8_t s) { return std::min(int32_t(s / a), kSampleMax); };
    const int c0 = unweigh(s0), c1 = unweigh(s1), c2 = unweigh(s2);
    const int32_t L = t[4][c0];
    const int32_t p[3] = {L + t[0][c2], L + t[2][c2] + t[3][c1], L + t[1][c1]};
    for (int n = 0; n < 3; ++n) {
        const int16_t v = int16_t(int32_t(p[n] * a));
        out[n] = uint8_t(v < 0 ? 0 : v > kSampleMax ? kSampleMax : v);
    }
}

} // namespace

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
    for (uint32_t y = 0; y < rows; ++y) {
        uint8_t *out = destination + size_t(y) * stride;
        const size_t row = size_t(y) * W;
        if (mode == kMixInterleave && nf >= 3) {
            const uint8_t *a = p[0] + row, *b = p[1] + row, *c = p[2] + row;
            for (uint32_t x = 0; x < W; ++x, out += 3) {
                out[0] = a[x];
                out[1] = b[x];
                out[2] = c[x];
            }
        } else if (mode == kMixGreyTriple && nf >= 1) {
            const uint8_t *a = p[0] + row;
            for (uint32_t x = 0; x < W; ++x, out += 3)
                out[0] = out[1] = out[2] = a[x];
        } else if (mode == kMixOpacityWeighted && nf >= 4 && colourTableSlots) {
            for (uint32_t x = 0; x < W; ++x, out += 3)
                opacity_weighted_pixel(out, p[0][row + x], p[1][row + x], p[2][row + x],
                                       p[3][row + x], colourTableSlots);
        }
    }
    return KX_OK;
}

int32_t MapAndMixWholeImageColor(uint8_t *samples, int32_t N, int32_t mode, uint8_t *destination,
                                 FrameHeader *frame)
{
    return MapAndMixWholeImageColor(samples, N, mode, destination, frame, nullptr);
}

} // namespace kxfpx::jpeg
