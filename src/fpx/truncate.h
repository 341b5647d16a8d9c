// Truncation toward zero of float and double results to 32-bit integers, as
// the point transform, the colour steps and the filter convert. NaN and values
// outside the 32-bit range (only hostile matrices or kernels give them)
// saturate, so the conversion is never undefined.
#pragma once

#include <cmath>
#include <cstdint>
#include <limits>

namespace kxfpx::fpx {

inline int32_t truncate_saturated(double value)
{
    if (std::isnan(value))
        return 0;
    if (value <= static_cast<double>(std::numeric_limits<int32_t>::min()))
        return std::numeric_limits<int32_t>::min();
    if (value >= static_cast<double>(std::numeric_limits<int32_t>::max()))
        return std::numeric_limits<int32_t>::max();
    return static_cast<int32_t>(value);
}

} // namespace kxfpx::fpx
