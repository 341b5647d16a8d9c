// YCbCr to RGB for JPEG tiles stored with the internal colour conversion:
// the four 16.16 fixed-point tables and the per-tile conversion through
// RANGE_ARRAY, with the inverted output that bit 15 of channel 0 selects.
#include "fpx/colour_steps.h"

#include "jpeg/idct.h"
#include "jpeg/ycbcr_lines.h"

#include <cstdint>
#include <cstring>

namespace kxfpx::fpx {

namespace {

using jpeg::fixed_entry;
using jpeg::kCbBLine;
using jpeg::kCbGLine;
using jpeg::kCrGLine;
using jpeg::kCrRLine;

struct Tables {
    int16_t slot[kYCbCrSlots][kColourTableEntries];
};
constexpr Tables make_tables()
{
    Tables t{};
    for (int i = 0; i < kColourTableEntries; ++i) {
        t.slot[kCrR][i] = fixed_entry(kCrRLine, i);
        t.slot[kCbB][i] = fixed_entry(kCbBLine, i);
        t.slot[kCrG][i] = fixed_entry(kCrGLine, i);
        t.slot[kCbG][i] = fixed_entry(kCbGLine, i);
    }
    return t;
}
constexpr Tables kTables = make_tables();

} // namespace

// The vector paths compute the entries themselves: they run only while the
// slots hold exactly these tables.
bool standard_ycbcr_tables(int16_t *const slots[kYCbCrSlots])
{
    for (int s = 0; s < kYCbCrSlots; ++s)
        if (std::memcmp(slots[s], kTables.slot[s], sizeof kTables.slot[s]) != 0)
            return false;
    return true;
}

void FillYCbCrTables(int16_t *const slots[kYCbCrSlots])
{
    for (int s = 0; s < kYCbCrSlots; ++s)
        std::memcpy(slots[s], kTables.slot[s], sizeof kTables.slot[s]);
}

void YCbCrToRgb(int32_t count, int32_t rows, int32_t pad, uint8_t *samples,
                int16_t *const slots[kYCbCrSlots], bool invert)
{
    const int16_t *CrR = slots[kCrR], *CbB = slots[kCbB], *CrG = slots[kCrG], *CbG = slots[kCbG];
    // Sums stay within -226..480: inside the table's -1024..639.
    const uint8_t *range = RANGE_ARRAY.data() + kRangeBase;
    const uint8_t flip = invert ? 255 : 0;
    const auto convert = [=](uint8_t *p) {
        const int y = p[0], cb = p[1], cr = p[2];
        p[0] = static_cast<uint8_t>(range[y + CrR[cr]] ^ flip);
        p[1] = static_cast<uint8_t>(range[y + CbG[cb] + CrG[cr]] ^ flip);
        p[2] = static_cast<uint8_t>(range[y + CbB[cb]] ^ flip);
    };
    static const bool avx2 = jpeg::cpu_has_avx2();
    if (!avx2 || count <= 0 || !standard_ycbcr_tables(slots)) {
        for_each_pixel(count, rows, pad, samples, 3, convert);
        return;
    }
    // Rows without padding between them are one run (a tile at most).
    const bool oneRun = pad == 0 && int64_t{count} * rows <= INT32_MAX;
    const int32_t runs = oneRun ? 1 : rows;
    const int32_t runPixels = oneRun ? count * rows : count;
    for (int32_t r = 0; r < runs; ++r) {
        const int32_t done = YCbCrRunAvx2(samples, runPixels, invert);
        for_each_pixel(runPixels - done, 1, 0, samples + 3 * done, 3, convert);
        samples += 3 * runPixels + pad;
    }
}

} // namespace kxfpx::fpx
