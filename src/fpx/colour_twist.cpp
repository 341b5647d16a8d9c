// The colour twist of the viewing transform. Preparation composes the twist,
// defined on YCC values, with the YCC/RGB matrices so that it applies to RGB
// samples; application is a 3 x 4 (or 1 x 2) affine map per pixel in float
// arithmetic with the 16-bit clamp.
#include "fpx/colour_steps.h"
#include "fpx/truncate.h"

namespace kxfpx::fpx {

namespace {

constexpr float kIdentityRows[12] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0};

// Row-major 4 x 4 product, element [r][k] = sum over j of a[r][j] * b[j][k],
// multiplied and summed in single precision as the matrices are stored.
void multiply(const float a[16], const float b[16], float out[16])
{
    for (int r = 0; r < 4; ++r)
        for (int k = 0; k < 4; ++k) {
            float sum = 0.0f;
            for (int j = 0; j < 4; ++j)
                sum += a[4 * r + j] * b[4 * j + k];
            out[4 * r + k] = sum;
        }
}

uint8_t twisted(float value) { return clamp_bits16(truncate_saturated(value)); }

} // namespace

bool twist_is_identity(const float twist[16])
{
    for (int k = 0; k < 12; ++k)
        if (twist[k] != kIdentityRows[k])
            return false;
    return true;
}

void PrepareColourTwist(float twist[16])
{
    float p[16], q[16];
    multiply(YCCToRGB, twist, p);
    multiply(p, RGBToYCC, q);
    for (int k = 0; k < 16; ++k)
        twist[k] = q[k];
}

void ColourTwist(int32_t count, int32_t rows, int32_t pad, uint8_t *samples, int32_t channels,
                 const float m[12])
{
    if (channels == 1) {
        for_each_pixel(count, rows, pad, samples, 1, [m](uint8_t *p) {
            p[0] = twisted(static_cast<float>(p[0]) * m[0] + m[3]);
        });
        return;
    }
    for_each_pixel(count, rows, pad, samples, 3, [m](uint8_t *p) {
        const float p0 = p[0], p1 = p[1], p2 = p[2];
        for (int k = 0; k < 3; ++k)
            p[k] = twisted(p0 * m[4 * k] + p1 * m[4 * k + 1] + p2 * m[4 * k + 2] + m[4 * k + 3]);
    });
}

} // namespace kxfpx::fpx
