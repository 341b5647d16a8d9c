// The colour steps on worked examples at their clamps; the vector YCbCr path against the table lookups.
#include "fpx/colour_steps.h"
#include "fpx/tile_render.h"

#include <gtest/gtest.h>

#include <array>
#include <optional>
#include <vector>

using namespace kxfpx::fpx;

namespace {

using Rgb = std::array<uint8_t, 3>;
using Bytes = std::vector<uint8_t>;

struct Tables : ColourTables {
    explicit Tables(bool photoYcc)
    {
        EXPECT_TRUE(ensure(kColourSlots));
        photoYcc ? FillPhotoYccTables(slots()) : FillYCbCrTables(slots());
    }
};

// One pixel through PhotoYCC (no `invert` given) or YCbCr to RGB.
Rgb to_rgb(Rgb p, std::optional<bool> invert = std::nullopt)
{
    Tables t(!invert);
    int16_t **s = t.slots();
    if (invert)
        YCbCrToRgb(1, 1, 0, p.data(), s, *invert);
    else
        PhotoYccToRgb(1, 1, 0, p.data(), s[kCrR], s[kCbB], s[kCrG], s[kCbG], s[kYscale]);
    return p;
}

TEST(ColourSteps, PhotoYccAndYCbCrWorkedExamples)
{
    EXPECT_EQ(to_rgb({0, 156, 137}), (Rgb{0, 0, 0}));
    EXPECT_EQ(to_rgb({255, 156, 137}), (Rgb{255, 255, 255}));  // y = 346, clamped
    EXPECT_EQ(to_rgb({100, 50, 200}, false), (Rgb{202, 75, 0}));
    EXPECT_EQ(to_rgb({100, 50, 200}, true), (Rgb{53, 180, 255}));
    EXPECT_EQ(to_rgb({255, 128, 255}, false), (Rgb{0, 163, 255}));  // red sum 433: 384 and above give 0
    // Opacity-weighted: opaque as the plain conversion, transparent black.
    Tables t(true);
    Bytes px = {90, 140, 150, 255, 90, 140, 150, 0};
    OpacityYccToRgb(2, px.data(), px.data(), 3, t.slots());
    EXPECT_EQ((Rgb{px[0], px[1], px[2]}), to_rgb({90, 140, 150}));
    EXPECT_EQ((Rgb{px[3], px[4], px[5]}), (Rgb{0, 0, 0}));
}

// Every (Y, Cb, Cr) as one run, and padded rows of 37 pixels (a vector tail, unaligned starts): each byte equals
// the table lookups.
TEST(ColourSteps, YCbCrConversionOfEveryTripleEqualsTheTableLookups)
{
    Tables t(false);
    int16_t **s = t.slots();
    const uint8_t *range = kxfpx::jpeg::RANGE_ARRAY.data() + kRangeBase;
    for (const bool invert : {false, true}) {
        Bytes all(size_t(3) << 24), want(all.size());
        for (size_t i = 0; i < all.size(); i += 3) {
            const int y = int(i / 3) & 255, cb = int(i / 3 >> 8) & 255, cr = int(i / 3 >> 16);
            all[i] = uint8_t(y), all[i + 1] = uint8_t(cb), all[i + 2] = uint8_t(cr);
            const uint8_t flip = invert ? 255 : 0;
            want[i] = range[y + s[kCrR][cr]] ^ flip;
            want[i + 1] = range[y + s[kCbG][cb] + s[kCrG][cr]] ^ flip;
            want[i + 2] = range[y + s[kCbB][cb]] ^ flip;
        }
        Bytes run = all, rows = all;
        YCbCrToRgb(1 << 12, 1 << 12, 0, run.data(), s, invert);
        EXPECT_TRUE(run == want);
        YCbCrToRgb(37, 3, 9, rows.data(), s, invert);  // 37 pixels, 9 bytes of padding, 3 rows
        for (size_t r = 0; r < 3; ++r)
            for (size_t i = 0; i < 37 * 3; ++i)
                EXPECT_EQ(rows[r * (37 * 3 + 9) + i], want[r * (37 * 3 + 9) + i]) << r << " " << i;
    }
}

TEST(ColourSteps, TwistClampsAndIdentityIsRecognised)
{
    float identity[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};
    EXPECT_TRUE(twist_is_identity(identity));
    const struct {
        float m0, m3;
        uint8_t in, out;
    } cases[] = {{1, -3, 0, 0}, {1, 300, 0, 255}, {2, 0, 100, 200}, {1, 0.9f, 7, 7}};
    for (const auto &c : cases) {
        const float m[12] = {c.m0, 0, 0, c.m3};
        uint8_t p = c.in;
        ColourTwist(1, 1, 0, &p, 1, m);
        EXPECT_EQ(p, c.out) << c.m0 << " " << c.m3;
    }
    // Red and blue swapped, green offset; pad bytes stay.
    const float swap[12] = {0, 0, 1, 0, 0, 1, 0, 10, 1, 0, 0, 0};
    Bytes rows = {1, 2, 3, 0xEE, 4, 250, 6, 0xEE};
    ColourTwist(1, 2, 1, rows.data(), 3, swap);
    EXPECT_EQ(rows, (Bytes{3, 12, 1, 0xEE, 6, 255, 4, 0xEE}));
}

TEST(ColourSteps, ContrastTable)
{
    uint8_t table[kContrastEntries];
    BuildContrastTable(2.0f, table);
    EXPECT_EQ((Bytes{table[0], table[109], table[200]}), (Bytes{0, 108, 255}));
}

TEST(ColourSteps, TransformPtsTruncatesTheDoubleSum)
{
    // Only the low 32 bits of a slot carry the coordinate.
    const auto low = [](int64_t slot) { return static_cast<int32_t>(slot); };
    float m[16] = {1, 0, 0, 10.5f, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};
    const CoordPoint in[3] = {{0, 7}, {5, 0}, {-20, 3}};
    CoordPoint out[3] = {};
    EXPECT_EQ(TransformPts(in, out, 3, m), in);
    EXPECT_EQ((std::array{low(out[0].x), low(out[1].x), low(out[2].x), low(out[2].y)}),
              (std::array{10, 15, -9, 3}));
}

} // namespace
