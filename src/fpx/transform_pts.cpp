// TransformPts: the point transform through the affine matrix that places the
// picture extent, the image corners and the clip polygon. Each coordinate is
// the single-precision sum of the linear terms plus the translation in double
// precision, truncated toward zero.
#include "fpx/subimage.h"

#include <cmath>
#include <limits>

namespace kxfpx::fpx {

namespace {

// Points keep each coordinate in the low 32 bits of an 8-byte slot.
int32_t low32(int64_t slot) { return static_cast<int32_t>(static_cast<uint32_t>(slot)); }

void store_low32(int64_t &slot, int32_t value)
{
    const uint64_t high = static_cast<uint64_t>(slot) & 0xFFFFFFFF00000000u;
    slot = static_cast<int64_t>(high | static_cast<uint32_t>(value));
}

// Truncation toward zero; a result outside the 32-bit range (only a hostile
// matrix gives one) saturates, and NaN gives 0, instead of an undefined
// conversion.
int32_t truncate_to_i32(double v)
{
    if (std::isnan(v))
        return 0;
    if (v <= static_cast<double>(std::numeric_limits<int32_t>::min()))
        return std::numeric_limits<int32_t>::min();
    if (v >= static_cast<double>(std::numeric_limits<int32_t>::max()))
        return std::numeric_limits<int32_t>::max();
    return static_cast<int32_t>(v);
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
        store_low32(out[k].x, truncate_to_i32(static_cast<double>(linearX) + matrix[3]));
        store_low32(out[k].y, truncate_to_i32(static_cast<double>(linearY) + matrix[7]));
    }
    return in;
}

} // namespace kxfpx::fpx
