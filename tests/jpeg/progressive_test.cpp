// Progressive streams libjpeg-turbo writes (scan scripts, samplings, odd sizes, identifiers, restart intervals,
// 16-bit quantizers) against its coefficients; damaged ones against the bit-serial reader; the frame plan's refusals.
#include "jpeg_support.h"

#include <numeric>

using namespace jpegtest;

namespace {

jpeg_scan_info scan(std::initializer_list<int> comps, int ss, int se, int ah, int al)
{
    jpeg_scan_info s{int(comps.size()), {}, ss, se, ah, al};
    std::copy(comps.begin(), comps.end(), s.component_index);
    return s;
}

// Spectral selection only: all DC, then two bands of each component.
const std::vector<jpeg_scan_info> kSpectral = {
    scan({0, 1, 2}, 0, 0, 0, 0), scan({0}, 1, 5, 0, 0),   scan({1}, 1, 63, 0, 0),
    scan({2}, 1, 9, 0, 0),       scan({2}, 10, 63, 0, 0), scan({0}, 6, 63, 0, 0)};
// Successive approximation over three levels, chroma refined before luma.
const std::vector<jpeg_scan_info> kApproximation = {
    scan({0, 1, 2}, 0, 0, 0, 2), scan({0}, 1, 63, 0, 2), scan({1}, 1, 63, 0, 1), scan({2}, 1, 63, 0, 3),
    scan({0, 1, 2}, 0, 0, 2, 1), scan({2}, 1, 63, 3, 2), scan({0}, 1, 63, 2, 1), scan({0, 1, 2}, 0, 0, 1, 0),
    scan({2}, 1, 63, 2, 1),      scan({1}, 1, 63, 1, 0), scan({0}, 1, 63, 1, 0), scan({2}, 1, 63, 1, 0)};
// One DC scan per component, in an unusual order, DC refinements per component.
const std::vector<jpeg_scan_info> kSeparateDc = {
    scan({2}, 0, 0, 0, 1), scan({0}, 0, 0, 0, 1), scan({1}, 0, 0, 0, 1), scan({1}, 1, 63, 0, 0), scan({0}, 0, 0, 1, 0),
    scan({0}, 1, 63, 0, 0), scan({2}, 0, 0, 1, 0), scan({1}, 0, 0, 1, 0), scan({2}, 1, 63, 0, 0)};
const std::vector<jpeg_scan_info> kGreyApproximation = {
    scan({0}, 0, 0, 0, 1), scan({0}, 1, 20, 0, 2), scan({0}, 21, 63, 0, 1), scan({0}, 1, 20, 2, 1),
    scan({0}, 0, 0, 1, 0), scan({0}, 1, 20, 1, 0), scan({0}, 21, 63, 1, 0)};

struct Case { const char *name; Params params; };
void PrintTo(const Case &c, std::ostream *os) { *os << c.name; }

const std::vector<uint8_t> s420 = {0x22, 0x11, 0x11}, s444 = {0x11, 0x11, 0x11};
const Case kCases[] = {
    {"default_444_60", {60, 60, s444, {}, 0, 90}},
    {"default_422_odd", {61, 37, {0x21, 0x11, 0x11}, {}, 0, 75}},
    {"default_420_odd", {37, 50, s420, {}, 0, 95}},
    {"full_chroma_21", {40, 27, {0x21, 0x21, 0x21}, {}, 0, 90}},
    {"spectral_420", {64, 64, s420, kSpectral, 0, 90}},
    {"approximation_420_odd", {53, 47, s420, kApproximation, 0, 90}},
    {"approximation_444", {64, 64, s444, kApproximation, 0, 100}},
    {"separate_dc_420_odd", {60, 44, s420, kSeparateDc, 0, 90}},
    {"quality_5_16bit_quantizers", {64, 64, s420, {}, 0, 5}},
    {"restart_1", {64, 64, s420, {}, 1, 90}},
    {"restart_3_odd", {45, 61, s420, kApproximation, 3, 90}},
    {"ids_descending", {64, 64, s420, {}, 0, 90, {9, 5, 2}}},
    {"grey", {64, 64, {0x11}, {}, 0, 90}},
    {"grey_22_odd", {45, 30, {0x22}, kGreyApproximation, 2, 90}},
    {"four_components", {64, 64, {0x22, 0x11, 0x11, 0x22}, {}, 0, 90}},
    {"four_components_odd", {50, 33, {0x11, 0x11, 0x11, 0x11}, {}, 4, 90}},
};

class Progressive : public ::testing::TestWithParam<Case> {};

// ReadJPEG ends where the data ends; its pixels are libjpeg-turbo's coefficients through the reference
// transform (whole-image buffers kept from case to case as an import's tiles keep them); a destination one
// byte short is refused unwritten.
TEST_P(Progressive, ScansAndPixelsEqualLibjpegTurbo)
{
    static kj::ProgressiveBuffers kept;
    const Params &p = GetParam().params;
    const Bytes jpeg = encode(p);
    const ExpectedPlanes expected(jpeg);
    ASSERT_EQ(expected.ref.components.size(), p.sampling.size()) << expected.ref.error;
    Scans d;  // for the frame only: ReadJPEG's result, end position and picture check the scans
    decode_scans(jpeg, d, false);
    const kj::ProgGeometry g(d.frame);
    uint64_t size = 0;
    ASSERT_TRUE(kj::ProgressiveOutputBytes(d.frame, &size));
    const Outcome r = read_jpeg(jpeg, {}, p.sampling[0], uint32_t(size), nullptr, 0, false, &kept);
    ASSERT_EQ(r.result, 0);
    EXPECT_EQ(r.position, int32_t(jpeg.size()));
    if (p.sampling.size() == 1) {
        // Monochrome: rows of the padded width, the padded height.
        for (uint32_t i = 0; i < size; ++i)
            ASSERT_EQ(r.out[i], expected.at(0, int(i % g.planeWidth()), int(i / g.planeWidth()))) << i;
    } else {
        // Colour: rows of 3X rounded up to 4 bytes. Four components with the extra-channel flag, Yscale the
        // identity, the other tables 0: opacity a and luma s give (t, t, t), t = trunc(min(trunc(s / a), 255) * a).
        std::vector<int16_t> zero(256, 0), identity(256);
        std::iota(identity.begin(), identity.end(), int16_t(0));
        int16_t *tables[5] = {zero.data(), zero.data(), zero.data(), zero.data(), identity.data()};
        const bool opacity = p.sampling.size() == 4;
        const Outcome weighted = opacity ? read_jpeg(jpeg, {}, p.sampling[0], uint32_t(size), tables, 1) : r;
        const size_t stride = (3 * size_t(p.width) + 3) & ~size_t(3);
        for (int y = 0; y < p.height; ++y)
            for (size_t o = 0; o < stride; ++o) {
                const int x = int(o / 3);
                ASSERT_EQ(r.out[size_t(y) * stride + o], expected.at(o % 3, x, y))
                    << x << "," << y << " component " << o % 3;
                if (!opacity)
                    continue;
                const double a = expected.at(3, x, y) / 255.0;
                ASSERT_EQ(weighted.out[size_t(y) * stride + o],
                          a == 0.0 ? 0 : int(std::min(int(expected.at(0, x, y) / a), 255) * a)) << x << "," << y;
            }
    }
    const Outcome small = read_jpeg(jpeg, {}, p.sampling[0], uint32_t(size - 1));
    EXPECT_EQ(small.result, KX_BAD_DATA);
    EXPECT_TRUE(std::all_of(small.out.begin(), small.out.end(), [](uint8_t v) { return v == 0xA5; }));
}

// Corrupt and truncated streams: the fast reader gives what the bit-serial reader gives (scan results,
// coefficients, stream position); ReadJPEG ends in a defined code without writing outside its destination.
TEST_P(Progressive, DamagedStreamsDecodeAsTheLiteralReader)
{
    const Params &p = GetParam().params;
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
        const int32_t r = read_jpeg(bad, {}, p.sampling[0], 1 << 16).result;
        EXPECT_TRUE(r == 0 || r == 21 || r == 27 || r == -23) << "trial " << trial << ": " << r;
    }
}

INSTANTIATE_TEST_SUITE_P(Streams, Progressive, ::testing::ValuesIn(kCases),
                         [](const auto &info) { return std::string(info.param.name); });

// The frame plan: component counts, samplings, destination size.
TEST(ProgressiveFramePlan, RefusesWhatCannotBeReconstructed)
{
    const struct { std::vector<uint8_t> sampling; int32_t size; uint16_t side = 64; } rows[] = {
        {{0x11, 0x11}, 1 << 20}, {{0x11, 0x11, 0x11, 0x11, 0x11}, 1 << 20}, {{0x12, 0x11, 0x11}, 1 << 20},
        {{0x22, 0x21, 0x11}, 1 << 20}, {s444, -1}, {{0x11}, INT32_MAX, 65535},  // N beyond a 32-bit byte size
    };
    for (const auto &r : rows) {
        std::vector<kj::FrameComponent> comps;
        for (uint8_t s : r.sampling)
            comps.push_back({uint8_t(comps.size() + 1), s, 0});
        kj::FrameHeader frame{};
        frame.width = frame.height = r.side;
        frame.componentCount = uint8_t(comps.size());
        frame.components = comps.data();
        uint32_t n = 0;
        EXPECT_EQ(kj::ProgressiveFramePlan(frame, r.size, &n), KX_BAD_DATA)
            << comps.size() << " components, size " << r.size;
    }
}

} // namespace
