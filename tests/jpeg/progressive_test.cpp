// Progressive streams libjpeg-turbo writes (default progression, custom scan
// scripts, samplings, odd sizes, component identifiers, restart intervals):
// the scans give exactly its coefficients and read the stream to its end;
// damaged, they give what the bit-serial reader gives; ReadJPEG's pixels are
// its coefficients through the reference transform, in the destination
// layouts; the frame plan's refusals; opacity-weighted colour; RepadBuffer.
#include "jpeg_support.h"

#include "jpeg/jpeg_internal.h"

#include <kxfpx/codes.h>

using namespace jpegtest;

namespace {

jpeg_scan_info scan(std::initializer_list<int> comps, int ss, int se, int ah, int al)
{
    jpeg_scan_info s{int(comps.size()), {}, ss, se, ah, al};
    std::copy(comps.begin(), comps.end(), s.component_index);
    return s;
}

// Spectral selection only: all DC, then two bands of each component.
const std::vector<jpeg_scan_info> kSpectral = {scan({0, 1, 2}, 0, 0, 0, 0), scan({0}, 1, 5, 0, 0),
                                               scan({1}, 1, 63, 0, 0),     scan({2}, 1, 9, 0, 0),
                                               scan({2}, 10, 63, 0, 0),    scan({0}, 6, 63, 0, 0)};
// Successive approximation over three levels, chroma refined before luma.
const std::vector<jpeg_scan_info> kApproximation = {
    scan({0, 1, 2}, 0, 0, 0, 2), scan({0}, 1, 63, 0, 2), scan({1}, 1, 63, 0, 1), scan({2}, 1, 63, 0, 3),
    scan({0, 1, 2}, 0, 0, 2, 1), scan({2}, 1, 63, 3, 2), scan({0}, 1, 63, 2, 1), scan({0, 1, 2}, 0, 0, 1, 0),
    scan({2}, 1, 63, 2, 1),      scan({1}, 1, 63, 1, 0), scan({0}, 1, 63, 1, 0), scan({2}, 1, 63, 1, 0)};
// One DC scan per component, in an unusual order, DC refinements per component.
const std::vector<jpeg_scan_info> kSeparateDc = {
    scan({2}, 0, 0, 0, 1), scan({0}, 0, 0, 0, 1), scan({1}, 0, 0, 0, 1), scan({1}, 1, 63, 0, 0), scan({0}, 0, 0, 1, 0),
    scan({0}, 1, 63, 0, 0), scan({2}, 0, 0, 1, 0), scan({1}, 0, 0, 1, 0), scan({2}, 1, 63, 0, 0)};
const std::vector<jpeg_scan_info> kGreyApproximation = {scan({0}, 0, 0, 0, 1), scan({0}, 1, 20, 0, 2),
                                                        scan({0}, 21, 63, 0, 1), scan({0}, 1, 20, 2, 1),
                                                        scan({0}, 0, 0, 1, 0), scan({0}, 1, 20, 1, 0),
                                                        scan({0}, 21, 63, 1, 0)};

struct Case {
    const char *name;
    Params params;
};
void PrintTo(const Case &c, std::ostream *os) { *os << c.name; }

const std::vector<uint8_t> s420 = {0x22, 0x11, 0x11}, s444 = {0x11, 0x11, 0x11};
const Case kCases[] = {
    {"default_420", {64, 64, s420, {}, 0, 90}},
    {"default_444_60", {60, 60, s444, {}, 0, 90}},
    {"default_422_odd", {61, 37, {0x21, 0x11, 0x11}, {}, 0, 75}},
    {"default_420_60", {60, 60, s420, {}, 0, 90}},
    {"default_420_odd", {37, 50, s420, {}, 0, 95}},
    {"full_chroma_21", {40, 27, {0x21, 0x21, 0x21}, {}, 0, 90}},
    {"spectral_420", {64, 64, s420, kSpectral, 0, 90}},
    {"approximation_420_odd", {53, 47, s420, kApproximation, 0, 90}},
    {"approximation_444", {64, 64, s444, kApproximation, 0, 100}},
    {"separate_dc_420_odd", {60, 44, s420, kSeparateDc, 0, 90}},
    {"restart_1", {64, 64, s420, {}, 1, 90}},
    {"restart_3_odd", {45, 61, s420, kApproximation, 3, 90}},
    {"ids_descending", {64, 64, s420, {}, 0, 90, {9, 5, 2}}},
    {"grey", {64, 64, {0x11}, {}, 0, 90}},
    {"grey_22_odd", {45, 30, {0x22}, kGreyApproximation, 2, 90}},
    {"four_components", {64, 64, {0x22, 0x11, 0x11, 0x22}, {}, 0, 90}},
    {"four_components_odd", {50, 33, {0x11, 0x11, 0x11, 0x11}, {}, 4, 90}},
};

class Progressive : public ::testing::TestWithParam<Case> {};

TEST_P(Progressive, CoefficientsEqualLibjpegTurbo)
{
    const Params &p = GetParam().params;
    const Bytes jpeg = encode(p);
    ASSERT_FALSE(jpeg.empty());
    const fpxtest::Coefficients ref = fpxtest::read_coefficients({}, jpeg);
    ASSERT_EQ(ref.components.size(), p.sampling.size()) << ref.error;
    Scans d;
    decode_scans(jpeg, d, false);
    ASSERT_FALSE(d.results.empty());
    EXPECT_EQ(d.results, std::vector<int32_t>(d.results.size(), 0));
    EXPECT_EQ(d.position, int32_t(jpeg.size()));  // every scan ends where its data ends
    const kj::ProgGeometry g(d.frame);
    const kj::ProgFactors f(d.frame);
    for (size_t c = 0; c < ref.components.size(); ++c) {
        if (kj::prog_full_grid(g, f, int(c)))
            (void)kj::ReorderAC(d.coefficients.data(), d.N, int(c), &d.frame);
        // Block (bx, by) in MCU order, the layout the reconstruction reads.
        const fpxtest::ComponentCoefficients &rc = ref.components[c];
        const uint32_t h = f.hfac[c], v = f.vfac[c];
        for (uint32_t by = 0; by < uint32_t(rc.blocksHigh); ++by)
            for (uint32_t bx = 0; bx < uint32_t(rc.blocksWide); ++bx) {
                const uint32_t index = ((by / v) * g.mcuCols + bx / h) * h * v + (by % v) * h + bx % h;
                const int16_t *ours = d.coefficients.data() + kj::plane_start(d.N, d.frame, int(c)) + index * 64;
                ASSERT_TRUE(std::equal(ours, ours + 64, &rc.blocks[(by * uint32_t(rc.blocksWide) + bx) * 64]))
                    << "component " << c << " block " << bx << "," << by;
            }
    }
}

// Corrupt and truncated streams: the fast reader gives what the bit-serial
// reader gives (scan results, coefficients, stream position).
TEST_P(Progressive, DamagedStreamsDecodeAsTheLiteralReader)
{
    Params p = GetParam().params;
    p.seed = 7;
    const Bytes good = encode(p);
    ASSERT_FALSE(good.empty());
    std::mt19937 rng(12345);
    for (int trial = 0; trial < 24; ++trial) {
        Bytes bad = good;
        if (trial % 3 == 2)
            bad.resize(good.size() / 3 + rng() % (good.size() * 2 / 3));
        else
            for (int hits = 0; hits < 1 + trial % 4; ++hits)
                bad[good.size() / 4 + rng() % (good.size() * 3 / 4)] = uint8_t(rng());
        Scans fast, literal;
        decode_scans(bad, fast, false);
        decode_scans(bad, literal, true);
        ASSERT_EQ(fast.results, literal.results) << "trial " << trial;
        ASSERT_EQ(fast.position, literal.position) << "trial " << trial;
        ASSERT_EQ(fast.coefficients, literal.coefficients) << "trial " << trial;
    }
}

// A frame header of the given size and samplings.
struct Frame {
    std::vector<kj::FrameComponent> comps;
    kj::FrameHeader frame{};
    Frame(int width, int height, const std::vector<uint8_t> &sampling)
    {
        for (uint8_t s : sampling)
            comps.push_back({uint8_t(comps.size() + 1), s, 0});
        frame.width = uint16_t(width);
        frame.height = uint16_t(height);
        frame.componentCount = uint8_t(comps.size());
        frame.components = comps.data();
    }
};

// Through ReadJPEG, the whole-image buffers kept from case to case as an
// import's tiles keep them; a destination one byte short is refused unwritten.
TEST_P(Progressive, ReadJpegPixelsEqualTheTransformOfLibjpegTurboCoefficients)
{
    static kj::ProgressiveBuffers kept;
    const Params &p = GetParam().params;
    const Bytes jpeg = encode(p);
    const Frame frame(p.width, p.height, p.sampling);
    uint64_t size = 0;
    ASSERT_TRUE(kj::ProgressiveOutputBytes(frame.frame, &size));
    const Outcome r = read_jpeg(jpeg, {}, p.sampling[0], uint32_t(size), nullptr, 0, false, &kept);
    ASSERT_EQ(r.result, 0);
    EXPECT_EQ(r.position, int32_t(jpeg.size()));
    const ExpectedPlanes expected(jpeg);
    if (p.sampling.size() == 1) {
        // Monochrome: rows of the padded width, the padded height.
        const uint32_t W = kj::ProgGeometry(frame.frame).planeWidth();
        for (uint32_t i = 0; i < size; ++i)
            ASSERT_EQ(r.out[i], expected.at(0, int(i % W), int(i / W))) << i;
    } else {
        // Colour: rows of 3X rounded up to 4 bytes, components 0, 1, 2.
        const size_t stride = (3 * size_t(p.width) + 3) & ~size_t(3);
        for (int y = 0; y < p.height; ++y)
            for (size_t o = 0; o < stride; ++o)
                ASSERT_EQ(r.out[size_t(y) * stride + o], expected.at(o % 3, int(o / 3), y))
                    << "pixel " << o / 3 << "," << y << " component " << o % 3;
    }
    const Outcome small = read_jpeg(jpeg, {}, p.sampling[0], uint32_t(size - 1));
    EXPECT_EQ(small.result, KX_BAD_DATA);
    EXPECT_TRUE(std::all_of(small.out.begin(), small.out.end(), [](uint8_t v) { return v == 0xA5; }));
}

INSTANTIATE_TEST_SUITE_P(Streams, Progressive, ::testing::ValuesIn(kCases),
                         [](const auto &info) { return std::string(info.param.name); });

TEST(ProgressiveReadJPEG, DamagedStreamsEndInADefinedCode)
{
    const Bytes good = encode(Params{64, 64, s420, {}, 2, 90, {}, true, 5});
    std::mt19937 rng(99);
    for (int trial = 0; trial < 200; ++trial) {
        Bytes bad = good;
        if (trial % 4 == 0)
            bad.resize(rng() % good.size());
        else
            for (int hits = 0; hits < 1 + trial % 5; ++hits)
                bad[rng() % good.size()] = uint8_t(rng());
        const int32_t r = read_jpeg(bad, {}, 0x22, 64 * 64 * 3).result;
        EXPECT_TRUE(r == 0 || r == 21 || r == 27 || r == -23) << "trial " << trial << ": " << r;
    }
}

// Four components with the extra-channel flag: opacity-weighted colour.
// With Yscale the identity and the other tables 0, a pixel of opacity a and
// luma s is (t, t, t), t = trunc(min(trunc(s / a), 255) * a).
TEST(ProgressiveReadJPEG, FourComponentsGiveOpacityWeightedColour)
{
    std::vector<int16_t> zero(256, 0), identity(256);
    for (int i = 0; i < 256; ++i)
        identity[size_t(i)] = int16_t(i);
    int16_t *tables[5] = {zero.data(), zero.data(), zero.data(), zero.data(), identity.data()};
    const Bytes jpeg = encode(Params{64, 64, {0x22, 0x11, 0x11, 0x22}, {}, 0, 90, {}, true, 3});
    const Outcome r = read_jpeg(jpeg, {}, 0x22, 64 * 64 * 3, tables, 1);
    ASSERT_EQ(r.result, 0);
    const ExpectedPlanes expected(jpeg);
    int transparent = 0;
    for (int y = 0; y < 64; ++y)
        for (int x = 0; x < 64; ++x) {
            const double a = expected.at(3, x, y) / 255.0;
            const int t = a == 0.0 ? 0 : int(std::min(int(expected.at(0, x, y) / a), 255) * a);
            transparent += a == 0.0;
            for (int n = 0; n < 3; ++n)
                ASSERT_EQ(r.out[size_t(y) * 192 + size_t(x) * 3 + size_t(n)], t) << x << "," << y;
        }
    EXPECT_GT(transparent, 0);  // the test picture has fully transparent pixels too
}

// The frame plan: component counts, samplings, destination size.
TEST(ProgressiveFramePlan, RefusesWhatCannotBeReconstructed)
{
    const struct { std::vector<uint8_t> sampling; int32_t size, expected; uint16_t side = 64; } rows[] = {
        {s420, 64 * 64 * 3, 0},          {s420, 64 * 64 * 3 - 1, 21},
        {{0x11}, 64 * 64, 0},            {{0x11}, 64 * 64 - 1, 21},
        {{0x11, 0x11}, 1 << 20, 21},     {{0x11, 0x11, 0x11, 0x11, 0x11}, 1 << 20, 21},
        {{0x12, 0x11, 0x11}, 1 << 20, 21}, {{0x22, 0x21, 0x11}, 1 << 20, 21},
        {{0x22, 0x11, 0x11, 0x22}, 64 * 64 * 3, 0}, {s444, -1, 21},
        {{0x11}, INT32_MAX, 21, 65535},  // N beyond a 32-bit byte size
    };
    for (const auto &r : rows) {
        const Frame f(r.side, r.side, r.sampling);
        uint32_t n = 0;
        EXPECT_EQ(kj::ProgressiveFramePlan(f.frame, r.size, &n), r.expected) << f.comps.size() << " components, size " << r.size;
        if (r.expected == 0) {
            EXPECT_EQ(n, 64u * 64u * uint32_t(f.comps.size()));
        }
    }
}

TEST(RepadBuffer, ShortensRowsInPlaceAndKeepsTheRest)
{
    std::vector<uint8_t> buf(3 * 8), same;
    for (size_t i = 0; i < buf.size(); ++i)
        buf[i] = uint8_t(i);
    same = buf;
    EXPECT_EQ(kj::RepadBuffer(buf.data(), 8, 8, 3), 0);
    EXPECT_EQ(buf, same);
    EXPECT_EQ(kj::RepadBuffer(buf.data(), 5, 8, 3), 0);
    const std::vector<uint8_t> packed = {0, 1, 2, 3, 4, 8, 9, 10, 11, 12, 16, 17, 18, 19, 20};
    EXPECT_TRUE(std::equal(packed.begin(), packed.end(), buf.begin()));
    EXPECT_TRUE(std::equal(buf.begin() + 15, buf.end(), same.begin() + 15));
}

} // namespace
