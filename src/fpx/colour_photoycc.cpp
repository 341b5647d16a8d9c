// PhotoYCC to RGB: the five lookup tables (built in double precision and
// rounded half up), the three-channel strip conversion, and the
// opacity-weighted conversion of four-channel pixels that uncompressed tiles
// share with the JPEG decoder's opacity mode.
#include "fpx/colour_steps.h"
#include "fpx/truncate.h"

#include <algorithm>

namespace kxfpx::fpx {

namespace {

constexpr double kCrROffset = 137.0, kCrRScale = 1.8215;
constexpr double kCbBOffset = 156.0, kCbBScale = 2.2179;
constexpr double kCrGScale = -0.9271435;
constexpr double kCbGScale = -0.4302726;
constexpr double kYScale = 1.358;

int16_t rounded(double x) { return static_cast<int16_t>(static_cast<int32_t>(x + 0.5)); }

} // namespace

void FillPhotoYccTables(int16_t *const slots[kColourSlots])
{
    for (int i = 0; i < kColourTableEntries; ++i) {
        slots[kCrR][i] = rounded((i - kCrROffset) * kCrRScale);
        slots[kCbB][i] = rounded((i - kCbBOffset) * kCbBScale);
        slots[kCrG][i] = rounded((i - kCrROffset) * kCrGScale);
        slots[kCbG][i] = rounded((i - kCbBOffset) * kCbGScale);
        slots[kYscale][i] = rounded(i * kYScale);
    }
}

void PhotoYccToRgb(int32_t count, int32_t rows, int32_t pad, uint8_t *samples, const int16_t *CrR,
                   const int16_t *CbB, const int16_t *CrG, const int16_t *CbG,
                   const int16_t *Yscale)
{
    for_each_pixel(count, rows, pad, samples, 3, [=](uint8_t *p) {
        const int16_t y = Yscale[p[0]];
        const uint8_t c1 = p[1], c2 = p[2];
        p[0] = clamp_bits16(static_cast<int16_t>(y + CrR[c2]));
        p[1] = clamp_bits16(static_cast<int16_t>(y + CbG[c1] + CrG[c2]));
        p[2] = clamp_bits16(static_cast<int16_t>(y + CbB[c1]));
    });
}

void OpacityYccToRgb(int32_t pixels, const uint8_t *in, uint8_t *out, int32_t alpha,
                     int16_t *const slots[kColourSlots])
{
    const int16_t *T0 = slots[kCrR], *T1 = slots[kCbB], *T2 = slots[kCrG], *T3 = slots[kCbG],
                  *T4 = slots[kYscale];
    for (int32_t i = 0; i < pixels; ++i, in += 4, out += 3) {
        uint8_t colour[3];
        for (int k = 0, c = 0; k < 4; ++k)
            if (k != alpha)
                colour[c++] = in[k];
        const double a = in[alpha] / 255.0;
        if (a == 0.0) {
            out[0] = out[1] = out[2] = 0;
            continue;
        }
        int c[3];
        for (int k = 0; k < 3; ++k)
            c[k] = std::min(static_cast<int32_t>(colour[k] / a), 255);
        const int32_t L = T4[c[0]];
        const int32_t P[3] = {L + T0[c[2]], L + T2[c[2]] + T3[c[1]], L + T1[c[1]]};
        for (int k = 0; k < 3; ++k)
            out[k] = clamp_bits16(truncate_saturated(P[k] * a));
    }
}

} // namespace kxfpx::fpx
