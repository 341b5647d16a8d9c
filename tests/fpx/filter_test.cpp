// The filter routines on the worked examples, with kernels built by the
// driver's own kernel construction: a flat 255 blurred loses one level, the
// edges cut the kernel, sharpening clamps, a zero-sum kernel decides by sign,
// and fewer than seven rows leave the output alone.
#include "fpx/filter.h"
#include "fpx/import_stages.h"

#include <gtest/gtest.h>

#include <vector>

using namespace kxfpx::fpx;

namespace {

SubimageInfo kernel_for(float filteringValue)
{
    SubimageInfo info = {};
    set_subimage_defaults(info);
    info.filteringValue = filteringValue;
    build_kernel(info);
    return info;
}

// One channel, `rows` input rows of `width` samples (no padding).
std::vector<uint8_t> run(float f, int32_t width, const std::vector<uint8_t> &input, int channels = 1)
{
    const SubimageInfo info = kernel_for(f);
    const int32_t rows = static_cast<int32_t>(input.size()) / (width * channels);
    std::vector<uint8_t> out(input.size(), 0xEE);
    Filter(channels, width, 0, rows, FilterKernel{info.kernel, info.kernelSize}, input.data(),
           out.data(), f);
    out.resize(static_cast<size_t>(std::max(0, rows - 6)) * width * channels);
    return out;
}

TEST(Filter, KernelsOfTheWorkedExamples)
{
    const SubimageInfo blur = kernel_for(-7);
    EXPECT_EQ(blur.kernelSize, 5);
    EXPECT_FLOAT_EQ(blur.kernel[1 * 7 + 1], 0.6f);
    EXPECT_FLOAT_EQ(blur.kernel[2 * 7 + 2], 1.0f);
    EXPECT_FLOAT_EQ(blur.kernel[3 * 7 + 3], 3.6f);
    const SubimageInfo sharp = kernel_for(3);
    EXPECT_EQ(sharp.kernelSize, 3);
    EXPECT_FLOAT_EQ(sharp.kernel[2 * 7 + 2], -1.0f);
    EXPECT_FLOAT_EQ(sharp.kernel[3 * 7 + 3], 12.4f);
}

TEST(Filter, FlatWhiteBlurredLosesOneLevelEverywhere)
{
    for (int channels : {1, 3}) {
        const std::vector<uint8_t> out = run(-7, 9, std::vector<uint8_t>(9 * 10 * channels, 255), channels);
        ASSERT_EQ(out.size(), 9u * 4 * channels);
        for (uint8_t v : out)
            EXPECT_EQ(v, 254);
    }
}

TEST(Filter, EdgesDivideByTheWeightsInsideTheImage)
{
    // A 3-wide image, value 0 in column 0 and 90 elsewhere, blurred with the
    // 3 x 3 kernel of -3 (surround 1, centre 4.4): column 0 sees columns 0-1
    // only: 90 x 3 over the weights 1+1+1+4.4+1+1 = 9.4; column 2 a flat 90
    // whose quotient comes out a hair below 90 and is truncated.
    std::vector<uint8_t> in;
    for (int r = 0; r < 7; ++r)
        in.insert(in.end(), {0, 90, 90});
    const std::vector<uint8_t> out = run(-3, 3, in);
    ASSERT_EQ(out.size(), 3u);
    EXPECT_EQ(out[0], static_cast<uint8_t>(270.0 / 9.4));          // 28
    EXPECT_EQ(out[1], static_cast<uint8_t>((90 * 5 + 90 * 4.4) / 12.4));  // 61
    EXPECT_EQ(out[2], 89);
}

TEST(Filter, SharpeningClampsAndZeroSumDecidesBySign)
{
    std::vector<uint8_t> step;
    for (int r = 0; r < 7; ++r)
        step.insert(step.end(), {10, 10, 240, 240});
    EXPECT_EQ(run(3, 4, step), (std::vector<uint8_t>{10, 0, 255, 240}));
    // Filtering 25: the 3 x 3 weights sum to 0 inside the image (columns
    // 1-3 of 5), so the sign of the weighted sum decides; a flat area gives
    // 0 / 0, which is 0.
    std::vector<uint8_t> flat(5 * 7, 77);
    EXPECT_EQ(run(25, 5, flat)[2], 0);
    flat[3 * 5 + 2] = 78;  // the centre of the middle row stands out
    const std::vector<uint8_t> out = run(25, 5, flat);
    EXPECT_EQ(std::vector<uint8_t>(out.begin() + 1, out.end() - 1), (std::vector<uint8_t>{0, 255, 0}));
}

TEST(Filter, FewerThanSevenRowsLeaveTheOutputUntouched)
{
    const SubimageInfo info = kernel_for(-7);
    std::vector<uint8_t> in(6 * 4, 100), out(6 * 4, 0xEE);
    Filter(1, 4, 0, 6, FilterKernel{info.kernel, info.kernelSize}, in.data(), out.data(), -7);
    EXPECT_EQ(out, std::vector<uint8_t>(6 * 4, 0xEE));
}

} // namespace
