// The whole-image reconstruction against an independent picture: libjpeg-
// turbo's coefficients of the same stream, dequantized, transformed by the
// literal reference transform and placed pixel by pixel; the destination
// layouts (repacked colour rows, monochrome rows of the padded width), the
// frame plan's refusals and the opacity-weighted colour of four components.
#include "progressive_support.h"
#include "reference_decoder.h"

#include "jpeg/decoder_tables.h"

#include <gtest/gtest.h>

using namespace progtest;
using namespace kxfpx::jpeg;

namespace {

// Sample (x, y) of component c, from libjpeg-turbo's coefficients.
class ExpectedPlanes {
public:
    explicit ExpectedPlanes(const Bytes &jpeg) : ref_(fpxtest::read_coefficients({}, jpeg))
    {
        for (const fpxtest::ComponentCoefficients &c : ref_.components) {
            std::vector<int16_t> px = c.blocks;
            for (size_t b = 0; b < px.size(); b += 64) {
                for (size_t k = 0; k < 64; ++k)
                    px[b + k] = int16_t(uint16_t(px[b + k] * c.quant[k]));
                jpegtest::reference_idct(&px[b]);
            }
            planes_.push_back(std::move(px));
            maxH_ = std::max(maxH_, c.h);
            maxV_ = std::max(maxV_, c.v);
        }
    }
    uint8_t at(size_t c, int x, int y) const
    {
        const fpxtest::ComponentCoefficients &rc = ref_.components[c];
        const int cx = x * rc.h / maxH_, cy = y * rc.v / maxV_;
        const size_t block = size_t(cy / 8) * size_t(rc.blocksWide) + size_t(cx / 8);
        return range_limit(planes_[c][block * 64 + size_t(cy % 8) * 8 + size_t(cx % 8)]);
    }

private:
    fpxtest::Coefficients ref_;
    std::vector<std::vector<int16_t>> planes_;
    int maxH_ = 1, maxV_ = 1;
};

struct Frame {
    Bytes jpeg;
    Decoded d;
    std::vector<uint8_t> samples, out;
    uint64_t bytes = 0;
    int32_t result = -1;
};

constexpr size_t kGuard = 64;
constexpr uint8_t kFill = 0xA5;

// Scans, then the reconstruction into a destination of exactly the planned
// size followed by guard bytes.
void reconstruct(const Params &p, Frame &f, int16_t **tables = nullptr, int32_t flag = 0)
{
    f.jpeg = encode(p, test_picture(p.width, p.height, int(p.sampling.size()), 3));
    ASSERT_FALSE(f.jpeg.empty());
    decode_scans(f.jpeg, f.d, real_scan);
    ASSERT_TRUE(ProgressiveOutputBytes(f.d.frame, &f.bytes));
    f.samples.assign(f.d.N, 0);
    f.out.assign(f.bytes + kGuard, kFill);
    f.result = ReconstructProgressiveFrame(f.d.coefficients.data(), f.samples.data(), f.d.N,
                                           &f.d.tables.set, f.out.data(), &f.d.frame, tables, flag);
    EXPECT_EQ(f.result, 0);
    for (size_t i = f.bytes; i < f.out.size(); ++i)
        ASSERT_EQ(f.out[i], kFill) << "written beyond the destination";
}

struct Case {
    const char *name;
    Params params;
};
void PrintTo(const Case &c, std::ostream *os) { *os << c.name; }

class Reconstruct : public ::testing::TestWithParam<Case> {};

TEST_P(Reconstruct, PixelsEqualOurTransformOfLibjpegTurboCoefficients)
{
    const Params &p = GetParam().params;
    Frame f;
    reconstruct(p, f);
    const ExpectedPlanes expected(f.jpeg);
    const ProgGeometry g(f.d.frame);
    if (p.sampling.size() == 1) {
        // Monochrome: rows of the padded width, the padded height.
        for (uint32_t y = 0; y < g.planeRows(); ++y)
            for (uint32_t x = 0; x < g.planeWidth(); ++x)
                ASSERT_EQ(f.out[y * g.planeWidth() + x], expected.at(0, int(x), int(y))) << x << "," << y;
        return;
    }
    // Colour: Y rows of 3X rounded up to 4 bytes, components 0, 1, 2.
    const size_t stride = (3 * size_t(p.width) + 3) & ~size_t(3);
    for (int y = 0; y < p.height; ++y)
        for (size_t o = 0; o < stride; ++o)
            ASSERT_EQ(f.out[size_t(y) * stride + o], expected.at(o % 3, int(o / 3), y))
                << "pixel " << o / 3 << "," << y << " component " << o % 3;
}

const std::vector<uint8_t> s420 = {0x22, 0x11, 0x11};
INSTANTIATE_TEST_SUITE_P(
    Frames, Reconstruct,
    ::testing::Values(Case{"tile_420", {64, 64, s420, {}, 0, 90, {}}},
                      Case{"width60_444", {60, 60, {0x11, 0x11, 0x11}, {}, 0, 90, {}}},
                      Case{"odd_420", {37, 50, s420, {}, 0, 90, {}}},
                      Case{"odd_422", {61, 37, {0x21, 0x11, 0x11}, {}, 0, 90, {}}},
                      Case{"full_chroma_21", {40, 27, {0x21, 0x21, 0x21}, {}, 0, 90, {}}},
                      Case{"grey", {64, 64, {0x11}, {}, 0, 90, {}}},
                      Case{"grey_22_odd", {45, 30, {0x22}, {}, 0, 90, {}}},
                      Case{"four_components", {64, 64, {0x22, 0x11, 0x11, 0x22}, {}, 0, 90, {}}}),
    [](const auto &info) { return std::string(info.param.name); });

// Four components with the extra-channel flag: opacity-weighted colour.
// With Yscale the identity and the other tables 0, a pixel of opacity a and
// luma s is (t, t, t), t = trunc(min(trunc(s / a), 255) * a).
TEST(ReconstructOpacity, FourComponentsGiveOpacityWeightedColour)
{
    std::vector<int16_t> zero(256, 0), identity(256);
    for (int i = 0; i < 256; ++i)
        identity[size_t(i)] = int16_t(i);
    int16_t *tables[5] = {zero.data(), zero.data(), zero.data(), zero.data(), identity.data()};
    const Params p{64, 64, {0x22, 0x11, 0x11, 0x22}, {}, 0, 90, {}};
    Frame f;
    reconstruct(p, f, tables, 1);
    const ExpectedPlanes expected(f.jpeg);
    int transparent = 0;
    for (int y = 0; y < 64; ++y)
        for (int x = 0; x < 64; ++x) {
            const double a = expected.at(3, x, y) / 255.0;
            const int t = a == 0.0 ? 0 : int(std::min(int(expected.at(0, x, y) / a), 255) * a);
            transparent += a == 0.0;
            for (int n = 0; n < 3; ++n)
                ASSERT_EQ(f.out[size_t(y) * 192 + size_t(x) * 3 + size_t(n)], t) << x << "," << y;
        }
    EXPECT_GT(transparent, 0);  // the test picture has fully transparent pixels too
}

// The frame plan: component counts, samplings, destination size.
TEST(ProgressiveFramePlan, RefusesWhatCannotBeReconstructed)
{
    struct Row {
        std::vector<uint8_t> sampling;
        int32_t size;
        int32_t expected;
    };
    const Row rows[] = {
        {{0x22, 0x11, 0x11}, 64 * 64 * 3, 0},      {{0x22, 0x11, 0x11}, 64 * 64 * 3 - 1, 21},
        {{0x11}, 64 * 64, 0},                      {{0x11}, 64 * 64 - 1, 21},
        {{0x11, 0x11}, 1 << 20, 21},               {{0x11, 0x11, 0x11, 0x11, 0x11}, 1 << 20, 21},
        {{0x12, 0x11, 0x11}, 1 << 20, 21},         {{0x22, 0x21, 0x11}, 1 << 20, 21},
        {{0x22, 0x11, 0x11, 0x22}, 64 * 64 * 3, 0}, {{0x11, 0x11, 0x11}, -1, 21},
    };
    for (const Row &r : rows) {
        std::vector<FrameComponent> comps;
        for (size_t i = 0; i < r.sampling.size(); ++i)
            comps.push_back({uint8_t(i + 1), r.sampling[i], 0});
        FrameHeader frame{};
        frame.width = frame.height = 64;
        frame.componentCount = uint8_t(comps.size());
        frame.components = comps.data();
        uint32_t n = 0;
        EXPECT_EQ(ProgressiveFramePlan(frame, r.size, &n), r.expected)
            << comps.size() << " components, size " << r.size;
        if (r.expected == 0)
            EXPECT_EQ(n, 64u * 64u * uint32_t(comps.size()));
    }
    FrameHeader huge{};
    FrameComponent c{1, 0x11, 0};
    huge.width = huge.height = 65535;
    huge.componentCount = 1;
    huge.components = &c;
    uint32_t n = 0;
    EXPECT_EQ(ProgressiveFramePlan(huge, INT32_MAX, &n), 21);  // N beyond a 32-bit byte size
}

TEST(RepadBuffer, ShortensRowsInPlaceAndKeepsTheRest)
{
    std::vector<uint8_t> buf(3 * 8), same;
    for (size_t i = 0; i < buf.size(); ++i)
        buf[i] = uint8_t(i);
    same = buf;
    EXPECT_EQ(RepadBuffer(buf.data(), 8, 8, 3), 0);
    EXPECT_EQ(buf, same);
    EXPECT_EQ(RepadBuffer(buf.data(), 5, 8, 3), 0);
    const std::vector<uint8_t> packed = {0, 1, 2, 3, 4, 8, 9, 10, 11, 12, 16, 17, 18, 19, 20};
    EXPECT_TRUE(std::equal(packed.begin(), packed.end(), buf.begin()));
    EXPECT_TRUE(std::equal(buf.begin() + 15, buf.end(), same.begin() + 15));
}

} // namespace
