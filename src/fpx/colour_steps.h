// The colour steps of the tile renderer: the constant matrices and tables,
// the five YCC lookup slots shared with the JPEG decoder, the colour twist,
// PhotoYCC and YCbCr to RGB, channel reordering, the contrast curve. Every
// step works in place on 8-bit interleaved samples, `count` pixels per row,
// `rows` rows, `pad` bytes skipped after each row.
#pragma once

#include "jpeg/decoder_tables.h"

#include <array>
#include <cstdint>

namespace kxfpx::fpx {

// --- constant tables (colour_tables.cpp) --------------------------------------
extern const float YCCToRGB[16];
extern const float RGBToYCC[16];
inline constexpr int kPaletteEntries = 256;
extern const std::array<uint8_t, kPaletteEntries * 3> FPXMonoTable;  // entry i = (i, i, i)

// RANGE_ARRAY, the decoder's table: through a base 1024 bytes in, sums from
// -1024 to 639 index it directly: -1024..0 give 0, 0..255 the value,
// 256..383 give 255 and 384..639 give 0.
using jpeg::kRangeArraySize;
using jpeg::RANGE_ARRAY;
inline constexpr int kRangeBase = jpeg::kRangePlainBase;

// A 16-bit result clamped to a byte: any of bits 8-15 set gives 0 when the
// value is negative and 255 otherwise; else the low byte.
inline uint8_t clamp_bits16(int32_t value)
{
    const auto v = static_cast<int16_t>(static_cast<uint16_t>(value));
    if (v & 0xFF00)
        return v < 0 ? 0 : 255;
    return static_cast<uint8_t>(v);
}

// Calls f(pixel) for `count` pixels of `step` bytes in each of `rows` rows,
// skipping `pad` bytes after each row.
template <typename F>
inline void for_each_pixel(int32_t count, int32_t rows, int32_t pad, uint8_t *samples,
                           int32_t step, F f)
{
    for (int32_t r = 0; r < rows; ++r) {
        for (int32_t x = 0; x < count; ++x, samples += step)
            f(samples);
        samples += pad;
    }
}

// --- the five lookup slots -------------------------------------------------------
// Slots 0-3: CrR, CbB, CrG, CbG (PhotoYCC or YCbCr values); slot 4: Yscale
// (PhotoYCC only). Each is 256 signed 16-bit entries on the ordinary heap.
enum ColourSlot { kCrR = 0, kCbB = 1, kCrG = 2, kCbG = 3, kYscale = 4 };
inline constexpr int kColourSlots = 5;
inline constexpr int kYCbCrSlots = 4;
inline constexpr int kColourTableEntries = 256;

class ColourTables {
public:
    ColourTables() = default;
    ~ColourTables();
    ColourTables(const ColourTables &) = delete;
    ColourTables &operator=(const ColourTables &) = delete;

    // Allocates the first `count` slots that are still empty; false when an
    // allocation fails.
    [[nodiscard]] bool ensure(int count);
    int16_t **slots() { return slots_; }

private:
    int16_t *slots_[kColourSlots] = {};
};

// PhotoYCC set: entry i = trunc(x + 0.5) in double precision, with x =
// (i - 137) * 1.8215, (i - 156) * 2.2179, (i - 137) * -0.9271435,
// (i - 156) * -0.4302726, i * 1.358 for the five slots.
void FillPhotoYccTables(int16_t *const slots[kColourSlots]);
// YCbCr set: 16.16 fixed point, entry i = (start + i * step) >> 16 (floor).
void FillYCbCrTables(int16_t *const slots[kYCbCrSlots]);

// --- colour twist (colour_twist.cpp) -----------------------------------------
// True when the first three rows are those of the identity.
bool twist_is_identity(const float twist[16]);
// Twist preparation: twist = (YCCToRGB x twist) x RGBToYCC, single precision.
void PrepareColourTwist(float twist[16]);
// m: the first three rows of the twist (12 values). channels: 3 or 1.
void ColourTwist(int32_t count, int32_t rows, int32_t pad, uint8_t *samples, int32_t channels,
                 const float m[12]);

// --- PhotoYCC and YCbCr to RGB --------------------------------------------------
void PhotoYccToRgb(int32_t count, int32_t rows, int32_t pad, uint8_t *samples, const int16_t *CrR,
                   const int16_t *CbB, const int16_t *CrG, const int16_t *CbG,
                   const int16_t *Yscale);
// Four-channel PhotoYCC pixels (colours weighted by opacity) to three RGB
// bytes, the arithmetic of the JPEG decoder's opacity mode: `alpha` is the
// index of the opacity byte, the other three are Y, C1, C2 in order. Works
// in place (4 bytes in, 3 out).
void OpacityYccToRgb(int32_t pixels, const uint8_t *in, uint8_t *out, int32_t alpha,
                     int16_t *const slots[kColourSlots]);
// True while the four slots hold exactly the YCbCr tables (what the
// decoder's own conversion computes).
bool standard_ycbcr_tables(int16_t *const slots[kYCbCrSlots]);
// Converts whole groups of 16 YCbCr pixels at p in place; returns the pixels
// converted (AVX2; the rest is left to the caller).
int32_t YCbCrRunAvx2(uint8_t *p, int32_t pixels, bool invert);
void YCbCrToRgb(int32_t count, int32_t rows, int32_t pad, uint8_t *samples,
                int16_t *const slots[kYCbCrSlots], bool invert);

// --- reordering and contrast -----------------------------------------------------
// Every pixel becomes (p[iR], p[iG], p[iB]); positions are 0..2.
void ReorderChannels(int32_t count, int32_t rows, int32_t pad, uint8_t *samples, int32_t iR,
                     int32_t iG, int32_t iB);
inline constexpr int kContrastEntries = 256;
void BuildContrastTable(float contrast, uint8_t table[kContrastEntries]);
void ApplyContrast(int32_t count, int32_t rows, int32_t pad, uint8_t *samples, int32_t channels,
                   const uint8_t table[kContrastEntries]);

} // namespace kxfpx::fpx
