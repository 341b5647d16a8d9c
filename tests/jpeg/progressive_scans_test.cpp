// The progressive scans against libjpeg-turbo: streams that it writes with
// its default progression and with custom scan scripts, samplings, sizes,
// component identifiers and restart intervals decode to exactly the
// coefficients its jpeg_read_coefficients gives, and the stream is read to
// its end; the T.81 edge values of EOB runs and corrections hold.
#include "progressive_support.h"

#include <gtest/gtest.h>

using namespace progtest;
using kxfpx::jpeg::ProgFactors;
using kxfpx::jpeg::ProgGeometry;

namespace {

jpeg_scan_info scan(std::initializer_list<int> comps, int ss, int se, int ah, int al)
{
    jpeg_scan_info s{};
    s.comps_in_scan = int(comps.size());
    int i = 0;
    for (int c : comps)
        s.component_index[i++] = c;
    s.Ss = ss;
    s.Se = se;
    s.Ah = ah;
    s.Al = al;
    return s;
}

// Spectral selection only: all DC, then two bands of each component.
Script spectral()
{
    return {{scan({0, 1, 2}, 0, 0, 0, 0), scan({0}, 1, 5, 0, 0), scan({1}, 1, 63, 0, 0),
             scan({2}, 1, 9, 0, 0), scan({2}, 10, 63, 0, 0), scan({0}, 6, 63, 0, 0)}};
}

// Successive approximation over three levels, chroma refined before luma.
Script approximation()
{
    return {{scan({0, 1, 2}, 0, 0, 0, 2), scan({0}, 1, 63, 0, 2), scan({1}, 1, 63, 0, 1),
             scan({2}, 1, 63, 0, 3), scan({0, 1, 2}, 0, 0, 2, 1), scan({2}, 1, 63, 3, 2),
             scan({0}, 1, 63, 2, 1), scan({0, 1, 2}, 0, 0, 1, 0), scan({2}, 1, 63, 2, 1),
             scan({1}, 1, 63, 1, 0), scan({0}, 1, 63, 1, 0), scan({2}, 1, 63, 1, 0)}};
}

// One DC scan per component (luma with four blocks per MCU), in an unusual
// order, with a DC refinement also per component.
Script separate_dc()
{
    return {{scan({2}, 0, 0, 0, 1), scan({0}, 0, 0, 0, 1), scan({1}, 0, 0, 0, 1),
             scan({1}, 1, 63, 0, 0), scan({0}, 0, 0, 1, 0), scan({0}, 1, 63, 0, 0),
             scan({2}, 0, 0, 1, 0), scan({1}, 0, 0, 1, 0), scan({2}, 1, 63, 0, 0)}};
}

Script grey_approximation()
{
    return {{scan({0}, 0, 0, 0, 1), scan({0}, 1, 20, 0, 2), scan({0}, 21, 63, 0, 1),
             scan({0}, 1, 20, 2, 1), scan({0}, 0, 0, 1, 0), scan({0}, 1, 20, 1, 0),
             scan({0}, 21, 63, 1, 0)}};
}

struct Case {
    const char *name;
    Params params;
};

std::vector<Case> cases()
{
    const std::vector<uint8_t> s420 = {0x22, 0x11, 0x11}, s444 = {0x11, 0x11, 0x11};
    return {
        {"default_420", {64, 64, s420, {}, 0, 90, {}}},
        {"default_444", {64, 64, s444, {}, 0, 90, {}}},
        {"default_422_odd", {61, 37, {0x21, 0x11, 0x11}, {}, 0, 75, {}}},
        {"default_420_60", {60, 60, s420, {}, 0, 90, {}}},
        {"default_420_odd", {37, 50, s420, {}, 0, 95, {}}},
        {"spectral_420", {64, 64, s420, spectral(), 0, 90, {}}},
        {"approximation_420_odd", {53, 47, s420, approximation(), 0, 90, {}}},
        {"approximation_444", {64, 64, s444, approximation(), 0, 100, {}}},
        {"separate_dc_420_odd", {60, 44, s420, separate_dc(), 0, 90, {}}},
        {"restart_1", {64, 64, s420, {}, 1, 90, {}}},
        {"restart_3_odd", {45, 61, s420, approximation(), 3, 90, {}}},
        {"ids_descending", {64, 64, s420, {}, 0, 90, {9, 5, 2}}},
        {"grey", {64, 64, {0x11}, {}, 0, 90, {}}},
        {"grey_22_odd", {45, 30, {0x22}, grey_approximation(), 2, 90, {}}},
        {"four_components", {64, 64, {0x22, 0x11, 0x11, 0x22}, {}, 0, 90, {}}},
        {"four_components_odd", {50, 33, {0x11, 0x11, 0x11, 0x11}, {}, 4, 90, {}}},
    };
}

void PrintTo(const Case &c, std::ostream *os) { *os << c.name; }

class ProgressiveScans : public ::testing::TestWithParam<Case> {};

TEST_P(ProgressiveScans, CoefficientsEqualLibjpegTurbo)
{
    const Params &p = GetParam().params;
    const Bytes jpeg = encode(p, test_picture(p.width, p.height, int(p.sampling.size())));
    ASSERT_FALSE(jpeg.empty());
    const fpxtest::Coefficients ref = fpxtest::read_coefficients({}, jpeg);
    ASSERT_EQ(ref.components.size(), p.sampling.size()) << ref.error;

    Decoded d;
    decode_scans(jpeg, d, real_scan);
    ASSERT_FALSE(d.results.empty());
    for (int32_t r : d.results)
        EXPECT_EQ(r, 0);
    EXPECT_EQ(d.position, int32_t(jpeg.size()));  // every scan ends where its data ends

    const ProgGeometry g(d.frame);
    const ProgFactors f(d.frame);
    for (int c = 0; c < int(p.sampling.size()); ++c)
        if (kxfpx::jpeg::prog_full_grid(g, f, c))
            (void)kxfpx::jpeg::ReorderAC(d.coefficients.data(), d.N, c, &d.frame);
    for (size_t c = 0; c < ref.components.size(); ++c) {
        const fpxtest::ComponentCoefficients &rc = ref.components[c];
        for (int by = 0; by < rc.blocksHigh; ++by)
            for (int bx = 0; bx < rc.blocksWide; ++bx) {
                const int16_t *ours = mcu_block(d, int(c), bx, by);
                const int16_t *theirs = &rc.blocks[(size_t(by) * size_t(rc.blocksWide) + size_t(bx)) * 64];
                ASSERT_TRUE(std::equal(ours, ours + 64, theirs))
                    << "component " << c << " block " << bx << "," << by;
            }
    }
}

// Corrupt and truncated streams: the fast reader gives what the bit-serial
// reader gives (scan results, coefficients, stream position), and neither
// reads or writes outside its buffers.
TEST_P(ProgressiveScans, DamagedStreamsDecodeAsTheLiteralReader)
{
    const Params &p = GetParam().params;
    const Bytes good = encode(p, test_picture(p.width, p.height, int(p.sampling.size()), 7));
    ASSERT_FALSE(good.empty());
    unsigned seed = 12345;
    auto next = [&seed](size_t n) {
        seed = seed * 1103515245u + 12345u;
        return size_t(seed >> 8) % n;
    };
    for (int trial = 0; trial < 24; ++trial) {
        Bytes bad = good;
        if (trial % 3 == 2) {
            bad.resize(good.size() / 3 + next(good.size() * 2 / 3));
        } else {
            for (int hits = 0; hits < 1 + trial % 4; ++hits)
                bad[good.size() / 4 + next(good.size() * 3 / 4)] = uint8_t(next(256));
        }
        Decoded fast, literal;
        decode_scans(bad, fast, real_scan);
        decode_scans(bad, literal, literal_scan);
        ASSERT_EQ(fast.results, literal.results) << "trial " << trial;
        ASSERT_EQ(fast.position, literal.position) << "trial " << trial;
        ASSERT_EQ(fast.coefficients, literal.coefficients) << "trial " << trial;
    }
}

INSTANTIATE_TEST_SUITE_P(Streams, ProgressiveScans, ::testing::ValuesIn(cases()),
                         [](const auto &info) { return std::string(info.param.name); });

} // namespace
