// The filter routines on worked examples, with kernels from the driver's own construction.
#include "fpx/filter.h"
#include "fpx/import_stages.h"

#include <gtest/gtest.h>

#include <vector>

using namespace kxfpx::fpx;

namespace {

using Bytes = std::vector<uint8_t>;

SubimageInfo kernel_for(float filteringValue)
{
    SubimageInfo info = {};
    set_subimage_defaults(info);
    info.filteringValue = filteringValue;
    build_kernel(info);
    return info;
}

// The rows the filter writes (all but the first and last three) of `width`-pixel rows of `channels` samples.
Bytes run(float f, int32_t width, const Bytes &input, int channels = 1)
{
    const SubimageInfo info = kernel_for(f);
    const int32_t rows = static_cast<int32_t>(input.size()) / (width * channels);
    Bytes out(input.size(), 0xEE);
    Filter(channels, width, 0, rows, FilterKernel{info.kernel, info.kernelSize}, input.data(), out.data(), f);
    EXPECT_TRUE(rows >= 7 || out == Bytes(input.size(), 0xEE)) << "fewer than seven rows are left alone";
    out.resize(static_cast<size_t>(std::max(0, rows - 6)) * width * channels);
    return out;
}

Bytes rows_of(int rows, const Bytes &row)
{
    Bytes out;
    for (int r = 0; r < rows; ++r)
        out.insert(out.end(), row.begin(), row.end());
    return out;
}

} // namespace

TEST(FilterKernel, BlurAndSharpenWeights)
{
    const struct {
        float filtering;
        int32_t size;
        float centre, ring1, ring2, ring3;
    } cases[] = {
        {-5.0f, 3, 4.0f, 1.0f, 0.0f, 0.0f},   // 5 is the largest 3 x 3 blur
        {-7.0f, 5, 3.6f, 1.0f, 0.6f, 0.0f},   // blur: 5 x 5
        {-10.0f, 5, 3.0f, 1.0f, 0.75f, 0.0f}, // 10 is the largest 5 x 5 blur
        {3.0f, 3, 12.4f, -1.0f, 0.0f, 0.0f},  // sharpen: 3 x 3, centre + 8
        {-40.0f, 7, 0.0f, 1.0f, 1.5f, 3.0f},  // capped at 25
        {0.0f, 3, 13.0f, -1.0f, 0.0f, 0.0f},  // 0 sharpens
    };
    for (const auto &c : cases) {
        const SubimageInfo info = kernel_for(c.filtering);
        EXPECT_EQ(info.kernelSize, c.size) << c.filtering;
        EXPECT_FLOAT_EQ(info.kernel[24], c.centre) << c.filtering;
        EXPECT_FLOAT_EQ(info.kernel[23], c.ring1) << c.filtering;
        EXPECT_FLOAT_EQ(info.kernel[8], c.ring2) << c.filtering;
        EXPECT_FLOAT_EQ(info.kernel[0], c.ring3) << c.filtering;
    }
}

// A flat 255 blurred loses one level; fewer than seven rows leave the output alone (run checks it).
TEST(Filter, FlatWhiteBlurredLosesOneLevelEverywhere)
{
    for (int channels : {1, 3})
        EXPECT_EQ(run(-7, 9, Bytes(9 * 10 * channels, 255), channels), Bytes(9 * 4 * channels, 254)) << channels;
    EXPECT_TRUE(run(-7, 4, Bytes(6 * 4, 100)).empty());
}

TEST(Filter, EdgesDivideByTheWeightsInsideTheImage)
{
    // The 3 x 3 blur of -3 (surround 1, centre 4.4): column 0 sees columns 0-1 only; a flat 90 truncates to 89.
    EXPECT_EQ(run(-3, 3, rows_of(7, {0, 90, 90})),
              (Bytes{uint8_t(270.0 / 9.4), uint8_t((90 * 5 + 90 * 4.4) / 12.4), 89}));  // 28, 61, 89
}

TEST(Filter, SharpeningClampsAndZeroSumDecidesBySign)
{
    EXPECT_EQ(run(3, 4, rows_of(7, {10, 10, 240, 240})), (Bytes{10, 0, 255, 240}));
    // Filtering 25: the weights sum to 0, so the sign of the sum decides; a flat area gives 0 / 0, which is 0.
    Bytes flat(5 * 7, 77);
    EXPECT_EQ(run(25, 5, flat)[2], 0);
    flat[3 * 5 + 2] = 78;  // the centre of the middle row stands out
    const Bytes out = run(25, 5, flat);
    EXPECT_EQ(Bytes(out.begin() + 1, out.end() - 1), (Bytes{0, 255, 0}));
}
