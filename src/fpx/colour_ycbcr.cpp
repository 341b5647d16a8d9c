// YCbCr to RGB for JPEG tiles stored with the internal colour conversion:
// the four 16.16 fixed-point tables and the per-tile conversion through
// RANGE_ARRAY, with the inverted output that bit 15 of channel 0 selects.
#include "fpx/colour_steps.h"

namespace kxfpx::fpx {

namespace {

struct FixedLine {
    int32_t start, step;
};
// Cr * 1.402, Cb * 1.772, Cr * -0.71414, Cb * -0.34414 around 128, in 16.16.
constexpr FixedLine kCrRLine = {-11682187, 91882};
constexpr FixedLine kCbBLine = {-14773807, 116130};
constexpr FixedLine kCrGLine = {5967255, -46802};
constexpr FixedLine kCbGLine = {2908148, -22552};

// The arithmetic shift keeps the sign: it rounds toward minus infinity.
int16_t fixed_entry(FixedLine line, int i)
{
    return static_cast<int16_t>((line.start + i * line.step) >> 16);
}

} // namespace

void FillYCbCrTables(int16_t *const slots[kYCbCrSlots])
{
    for (int i = 0; i < kColourTableEntries; ++i) {
        slots[kCrR][i] = fixed_entry(kCrRLine, i);
        slots[kCbB][i] = fixed_entry(kCbBLine, i);
        slots[kCrG][i] = fixed_entry(kCrGLine, i);
        slots[kCbG][i] = fixed_entry(kCbGLine, i);
    }
}

void YCbCrToRgb(int32_t count, int32_t rows, int32_t pad, uint8_t *samples,
                int16_t *const slots[kYCbCrSlots], bool invert)
{
    const int16_t *CrR = slots[kCrR], *CbB = slots[kCbB], *CrG = slots[kCrG], *CbG = slots[kCbG];
    // Sums stay within -226..480: inside the table's -1024..639.
    const uint8_t *range = RANGE_ARRAY.data() + kRangeBase;
    const uint8_t flip = invert ? 255 : 0;
    for_each_pixel(count, rows, pad, samples, 3, [=](uint8_t *p) {
        const int y = p[0], cb = p[1], cr = p[2];
        p[0] = static_cast<uint8_t>(range[y + CrR[cr]] ^ flip);
        p[1] = static_cast<uint8_t>(range[y + CbG[cb] + CrG[cr]] ^ flip);
        p[2] = static_cast<uint8_t>(range[y + CbB[cb]] ^ flip);
    });
}

} // namespace kxfpx::fpx
