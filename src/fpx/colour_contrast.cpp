// The contrast curve of the viewing transform: a power law pivoting on level
// 109.65 (0.43 of full scale), built once into a 256-entry table and applied
// to every sample byte.
#include "fpx/colour_steps.h"
#include "fpx/truncate.h"

#include <cmath>

namespace kxfpx::fpx {

namespace {
constexpr double kContrastPivot = 109.65;  // 0.43 * 255
constexpr double kContrastGain = 0.43;
constexpr double kFullScale = 255.0;
} // namespace

void BuildContrastTable(float contrast, uint8_t table[kContrastEntries])
{
    table[0] = 0;
    for (int i = 1; i < kContrastEntries; ++i) {
        const double v = std::pow(i / kContrastPivot, static_cast<double>(contrast)) *
                         kContrastGain * kFullScale;
        // NaN (a hostile contrast) falls to 0 with the negative values.
        table[i] = v > kFullScale ? 255 : v >= 0.0 ? static_cast<uint8_t>(truncate_saturated(v)) : 0;
    }
}

void ApplyContrast(int32_t count, int32_t rows, int32_t pad, uint8_t *samples, int32_t channels,
                   const uint8_t table[kContrastEntries])
{
    for_each_pixel(count, rows, pad, samples, channels, [=](uint8_t *p) {
        for (int32_t k = 0; k < channels; ++k)
            p[k] = table[p[k]];
    });
}

} // namespace kxfpx::fpx
