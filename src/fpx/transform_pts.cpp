// TransformPts: the point transform through the affine matrix that places the
// picture extent, the image corners and the clip polygon. Each coordinate is
// the single-precision sum of the linear terms plus the translation in double
// precision, truncated toward zero.
#include "fpx/subimage.h"
#include "fpx/truncate.h"

namespace kxfpx::fpx {

namespace {

// Points keep each coordinate in the low 32 bits of an 8-byte slot.
int32_t low32(int64_t slot) { return static_cast<int32_t>(static_cast<uint32_t>(slot)); }

void store_low32(int64_t &slot, int32_t value)
{
    const uint64_t high = static_cast<uint64_t>(slot) & 0xFFFFFFFF00000000u;
    slot = static_cast<int64_t>(high | static_cast<uint32_t>(value));
}

} // namespace

const CoordPoint *TransformPts(const CoordPoint *in, CoordPoint *out, int32_t count,
                               const float matrix[16])
{
    for (int32_t k = 0; k < count; ++k) {
        const float x = static_cast<float>(low32(in[k].x));
        const float y = static_cast<float>(low32(in[k].y));
        const float linearX = x * matrix[0] + y * matrix[1];
        const float linearY = x * matrix[4] + y * matrix[5];
        store_low32(out[k].x, truncate_saturated(static_cast<double>(linearX) + matrix[3]));
        store_low32(out[k].y, truncate_saturated(static_cast<double>(linearY) + matrix[7]));
    }
    return in;
}

} // namespace kxfpx::fpx
