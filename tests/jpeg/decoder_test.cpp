// The baseline decoder against the literal reference (result, every
// destination byte, stream position) on generated tiles, their truncations
// and corruptions, and against libjpeg-turbo's coefficients run through our
// own transform; the fast bit reader against NextBit / GetNextCode; the three
// transforms against the transform as written.
#include "jpeg/jpeg_test_support.h"
#include "jpeg/reference_decoder.h"

#include "jpeg/bit_reader.h"
#include "jpeg/decoder_tables.h"
#include "jpeg/idct.h"
#include "jpeg/jpeg_internal.h"
#include "jpeg/read_jpeg.h"
#include "jpeg_tiles.h"
#include "oracles/jpeg_coefficients.h"

#include <kxfpx/codes.h>

#include <gtest/gtest.h>

#include <random>

using namespace jpegtest;
namespace kj = kxfpx::jpeg;

namespace {

struct Case {
    fpxw::JpegParams params;
    uint8_t chroma = 0x11;  // the MCU handed to ReadJPEG
    int width = 64, height = 64;
    bool abbreviated = false, comment = false;
    Bytes tables, stream;
};

Case make_case(std::mt19937 &rng)
{
    Case c;
    auto pick = [&](int n) { return int(rng() % unsigned(n)); };
    fpxw::JpegParams &p = c.params;
    p.components = std::vector<int>{1, 3, 3, 4}[size_t(pick(4))];
    const int layout = p.components == 1 ? 0 : pick(3);  // 0x11, 0x21, 0x22
    p.subsampling = uint8_t(std::vector<int>{0x11, 0x21, 0x22, 0x22}[size_t(layout)]);
    c.chroma = p.subsampling;
    p.chroma.assign(size_t(p.components), false);
    if (layout != 3)
        for (int k = 1; k < p.components && k < 3; ++k)
            p.chroma[size_t(k)] = true;
    p.quality = 1 + pick(100);
    p.optimize_huffman = pick(3) == 0;
    p.restart_interval = std::vector<int>{0, 0, 1, 3, 4}[size_t(pick(5))];
    p.jfif = pick(4) == 0;
    c.abbreviated = !p.optimize_huffman && pick(2) == 0;
    c.comment = pick(4) == 0;
    if (pick(3) == 0) {
        c.width = 1 + pick(64);
        c.height = 1 + pick(64);
    }
    std::vector<uint8_t> px(size_t(c.width) * size_t(c.height) * size_t(p.components));
    const int noise = pick(4) == 0 ? 255 : 1 + pick(40);
    for (size_t i = 0; i < px.size(); ++i) {
        const int x = int(i / size_t(p.components)) % c.width, y = int(i / size_t(p.components)) / c.width;
        px[i] = uint8_t((x * 3 + y * 5 + int(i % size_t(p.components)) * 70) + pick(noise));
    }
    EXPECT_EQ(fpxw::encode_tile(p, px.data(), c.width, c.height, c.abbreviated, c.stream), "");
    if (c.abbreviated)
        EXPECT_EQ(fpxw::encode_tables(p, c.tables), "");
    if (c.comment) {
        const Bytes com{0xFF, 0xFE, 0x00, 0x05, 'a', 'b', 'c'};
        c.stream.insert(c.stream.begin() + 2, com.begin(), com.end());
    }
    return c;
}

// A table set loaded from a tables-only stream, as the driver loads it.
void load_tables(const Bytes &tables, TableSet &set)
{
    for (const Segment &s : header_segments(tables)) {
        MemStream in(with_length(s.body));
        if (s.marker == 0xC4)
            (void)kj::ReadHuffman(in.file, &set.set);
        else if (s.marker == 0xDB)
            (void)kj::ReadQuantization(in.file, &set.set.slots[8]);
    }
}

uint32_t destination_bytes(const Case &c)
{
    const int H = c.chroma >> 4, V = c.chroma & 15;
    const int W = (c.width + 8 * H - 1) / (8 * H) * 8 * H, PH = (c.height + 8 * V - 1) / (8 * V) * 8 * V;
    return uint32_t(W * PH * (c.params.components <= 2 ? 1 : 3));
}

struct Decoded {
    int32_t result;
    int32_t position;
    Bytes out;
};

int16_t *g_colourTables[5];

// Decodes `stream` with the fast decoder or the reference, into a buffer of
// `size` bytes plus a guard that must stay untouched.
Decoded run(bool fast, const Bytes &stream, const Bytes &tables, uint8_t chroma, uint32_t size, int32_t extra = 0)
{
    TableSet set;
    load_tables(tables, set);
    MemStream in(stream);
    Decoded r;
    r.out.assign(size + 64, 0xA5);
    r.result = fast ? kj::ReadJPEG(in.file, nullptr, &set.set, r.out.data(), int32_t(size), nullptr, chroma,
                                   g_colourTables, extra)
                    : reference_read_jpeg(in.file, &set.set, r.out.data(), int32_t(size), chroma,
                                          g_colourTables, extra);
    r.position = in.position();
    for (size_t i = size; i < r.out.size(); ++i)
        EXPECT_EQ(r.out[i], 0xA5) << "written beyond the destination";
    return r;
}

void expect_same(const Bytes &stream, const Bytes &tables, uint8_t chroma, uint32_t size,
                 const std::string &what, int32_t extra = 0)
{
    const Decoded a = run(true, stream, tables, chroma, size, extra);
    const Decoded b = run(false, stream, tables, chroma, size, extra);
    if (b.result == kReferenceUnsupported)
        return;
    ASSERT_EQ(a.result, b.result) << what;
    ASSERT_EQ(a.position, b.position) << what;
    ASSERT_TRUE(a.out == b.out) << what;
}

// The destination libjpeg-turbo's coefficients give through our transform,
// expansion and interleave.
Bytes from_coefficients(const Case &c, const fpxtest::Coefficients &co)
{
    const int H = c.chroma >> 4, V = c.chroma & 15;
    const int W = (c.width + 8 * H - 1) / (8 * H) * 8 * H, PH = (c.height + 8 * V - 1) / (8 * V) * 8 * V;
    const int b = c.params.components <= 2 ? 1 : 3;
    Bytes out(size_t(W) * size_t(PH) * size_t(b));
    for (int k = 0; k < b; ++k) {
        const fpxtest::ComponentCoefficients &cc = co.components[size_t(k)];
        const int dx = cc.h == H ? 1 : 2, dy = cc.v == V ? 1 : 2;
        const int pw = cc.blocksWide * 8;
        Bytes plane(size_t(pw) * size_t(cc.blocksHigh) * 8);
        for (int by = 0; by < cc.blocksHigh; ++by)
            for (int bx = 0; bx < cc.blocksWide; ++bx) {
                int16_t blk[64];
                const int16_t *src = &cc.blocks[(size_t(by) * size_t(cc.blocksWide) + size_t(bx)) * 64];
                for (int i = 0; i < 64; ++i)
                    blk[i] = int16_t(src[i] * cc.quant[i]);
                kj::IDCT8x8Block(blk);
                for (int y = 0; y < 8; ++y)
                    for (int x = 0; x < 8; ++x)
                        plane[size_t(by * 8 + y) * size_t(pw) + size_t(bx * 8 + x)] = kj::range_limit(blk[y * 8 + x]);
            }
        for (int y = 0; y < PH; ++y)
            for (int x = 0; x < W; ++x)
                out[(size_t(y) * size_t(W) + size_t(x)) * size_t(b) + size_t(k)] =
                    plane[size_t(y / dy) * size_t(pw) + size_t(x / dx)];
    }
    return out;
}

TEST(Decoder, GeneratedTilesMatchReferenceAndLibjpegTurbo)
{
    std::mt19937 rng(20240611);
    for (int n = 0; n < 1500; ++n) {
        const Case c = make_case(rng);
        const std::string what = "case " + std::to_string(n);
        const uint32_t size = destination_bytes(c);
        expect_same(c.stream, c.tables, c.chroma, size, what);
        const Decoded fast = run(true, c.stream, c.tables, c.chroma, size);
        ASSERT_EQ(fast.result, KX_OK) << what;
        ASSERT_EQ(fast.position, int32_t(c.stream.size())) << what;
        const fpxtest::Coefficients co = fpxtest::read_coefficients(c.tables, c.stream);
        ASSERT_EQ(co.error, "") << what;
        const Bytes expected = from_coefficients(c, co);
        ASSERT_TRUE(std::equal(expected.begin(), expected.end(), fast.out.begin())) << what;
        // One byte too small: refused, nothing written.
        const Decoded small = run(true, c.stream, c.tables, c.chroma, size - 1);
        EXPECT_EQ(small.result, KX_BAD_DATA) << what;
        EXPECT_TRUE(std::all_of(small.out.begin(), small.out.end(), [](uint8_t v) { return v == 0xA5; }));
    }
}

TEST(Decoder, TruncationsAndCorruptionsMatchReference)
{
    std::mt19937 rng(7);
    for (int n = 0; n < 4; ++n) {
        const Case c = make_case(rng);
        const uint32_t size = destination_bytes(c);
        for (size_t len = 0; len <= c.stream.size(); ++len)
            expect_same(Bytes(c.stream.begin(), c.stream.begin() + long(len)), c.tables, c.chroma, size,
                        "truncated to " + std::to_string(len));
        for (int k = 0; k < 300; ++k) {
            Bytes bad = c.stream;
            const size_t at = rng() % bad.size();
            if (k % 2)
                bad[at] = uint8_t(bad[at] ^ (1u << (rng() % 8)));
            else
                bad[at] = uint8_t(rng());
            expect_same(bad, c.tables, c.chroma, size, "corrupted at " + std::to_string(at));
        }
    }
}

TEST(Decoder, OpacityModeAndOtherMcusMatchReference)
{
    std::vector<std::vector<int16_t>> tables(5, std::vector<int16_t>(256));
    std::mt19937 rng(99);
    for (int t = 0; t < 5; ++t) {
        for (int16_t &v : tables[size_t(t)])
            v = int16_t(int(rng() % 600) - 300);
        g_colourTables[t] = tables[size_t(t)].data();
    }
    for (int n = 0; n < 200; ++n) {
        const Case c = make_case(rng);
        const uint32_t size = destination_bytes(c);
        expect_same(c.stream, c.tables, c.chroma, size, "mode 5", 1);
        // MCUs other than the frame's: partial bands, refusals.
        for (uint8_t mcu : {0x11, 0x12, 0x21, 0x22, 0x33, 0x1F})  // 0x1F: planes off the stack
            expect_same(c.stream, c.tables, mcu, 64 * 64 * 9, "mcu " + std::to_string(mcu));
    }
    for (int16_t *&t : g_colourTables)
        t = nullptr;
}

TEST(Decoder, MarkerLoopEdges)
{
    const Bytes soiEoi{0xFF, 0xD8, 0xFF, 0xD9};
    const Bytes app{0xFF, 0xD8, 0xFF, 0xE0, 0x00, 0x10, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 0xFF, 0xD9};
    const Bytes dac{0xFF, 0xD8, 0xFF, 0xCC, 0xFF, 0xD9, 0x00};
    const Bytes sof1{0xFF, 0xD8, 0xFF, 0xC1, 0x00};
    const Bytes rst{0xFF, 0xD8, 0xFF, 0xD3};
    const Bytes junk{0xFF, 0xD8, 0x12, 0x34};
    const Bytes noEoi{0xFF, 0xD8};
    const Bytes sampling51{0xFF, 0xD8, 0xFF, 0xC0, 0, 11, 8, 0, 8, 0, 8, 1, 1, 0x51, 0};
    const Bytes quant4{0xFF, 0xD8, 0xFF, 0xC0, 0, 11, 8, 0, 8, 0, 8, 1, 1, 0x11, 4};
    const Bytes precision12{0xFF, 0xD8, 0xFF, 0xC0, 0, 11, 12, 0, 8, 0, 8, 1, 1, 0x11, 0, 0xFF, 0xD9};
    const Bytes width0{0xFF, 0xD8, 0xFF, 0xC0, 0, 11, 8, 0, 8, 0, 0, 1, 1, 0x11, 0, 0xFF, 0xD9};
    const Bytes ns5{0xFF, 0xD8, 0xFF, 0xDA, 0, 8, 5};
    const struct { const char *what; const Bytes &s; int32_t code; int32_t stop; } cases[] = {
        {"SOI EOI", soiEoi, KX_OK, 4},      {"APP0 of 16", app, KX_OK, 22},
        {"DAC", dac, KX_OK, 6},             {"SOF1", sof1, -23, 4},
        {"RST", rst, -23, 4},               {"not a marker", junk, KX_BAD_DATA, 4},
        {"no EOI", noEoi, KX_BAD_DATA, 2},  {"sampling 0x51", sampling51, KX_BAD_DATA, 15},
        {"quantizer 4", quant4, KX_BAD_DATA, 15}, {"precision 12", precision12, KX_BAD_DATA, 15},
        {"width 0", width0, KX_BAD_DATA, 15}, {"Ns 5", ns5, KX_BAD_DATA, 7},
    };
    for (const auto &c : cases) {
        TableSet set;
        MemStream in(c.s);
        uint8_t out[16] = {};
        EXPECT_EQ(kj::ReadJPEG(in.file, nullptr, &set.set, out, 0, nullptr, 0x11, nullptr, 0), c.code) << c.what;
        EXPECT_EQ(in.position(), c.stop) << c.what;
    }
}

// Random operations on random entropy data (stuffing, markers, the end of
// the data): BitReader gives the bits, symbols, results and final position
// of NextBit / GetNextCode.
TEST(BitReader, MatchesBitSerialReader)
{
    std::mt19937 rng(5);
    Case c;
    c.params.optimize_huffman = true;
    std::mt19937 r2(1);
    TableSet set;
    {
        const Case t = make_case(r2);
        Bytes std;
        fpxw::JpegParams p;
        EXPECT_EQ(fpxw::encode_tables(p, std), "");
        load_tables(std, set);
    }
    auto *ac = static_cast<kj::HuffmanTable *>(GlobalLock(set.set.slots[4]));
    kj::HuffmanLookup lookup;
    lookup.build(*ac);
    for (int n = 0; n < 2000; ++n) {
        Bytes data(size_t(rng() % 40));
        for (uint8_t &b : data) {
            const unsigned k = rng() % 10;
            b = k == 0 ? 0xFF : k == 1 ? 0x00 : uint8_t(rng());
        }
        MemStream serial(data), fast(data);
        uint8_t left = 0;
        uint16_t buffer = 0;
        uint16_t s1 = 7, s2 = 7;
        {
            kj::BitReader reader(fast.file);
            for (int op = 0; op < 30; ++op) {
                if (rng() % 2) {
                    const int bits = int(rng() % 17);
                    int16_t code = 0;
                    for (int i = 0; i < bits; ++i)
                        code = kj::NextBit(&left, &buffer, code, serial.file);
                    ASSERT_EQ(uint32_t(uint16_t(code)), reader.bits(bits)) << n;
                } else {
                    ASSERT_EQ(kj::GetNextCode(&s1, ac, &left, &buffer, serial.file), reader.decode(lookup, &s2)) << n;
                    ASSERT_EQ(s1, s2) << n;
                }
            }
        }
        EXPECT_EQ(serial.position(), fast.position()) << n;
    }
    GlobalUnlock(set.set.slots[4]);
}

TEST(Idct, AllVersionsEqualTheTransformAsWritten)
{
    std::mt19937 rng(3);
    for (int n = 0; n < 20000; ++n) {
        int16_t in[64] = {};
        const int kind = n % 4;
        for (int i = 0; i < 64; ++i) {
            if (kind == 0)
                in[i] = int16_t(rng());  // anything, overflow included
            else if (kind == 1 && rng() % 8 == 0)
                in[i] = int16_t(int(rng() % 2048) - 1024);
            else if (kind == 2 && (i % 8 == 0 || rng() % 16 == 0))
                in[i] = int16_t(int(rng() % 512) - 256);
        }
        if (kind == 3)
            in[0] = int16_t(rng());
        int16_t ref[64], a[64], b[64], c[64], d[64];
        std::copy(in, in + 64, ref);
        std::copy(in, in + 64, a);
        std::copy(in, in + 64, b);
        std::copy(in, in + 64, c);
        std::copy(in, in + 64, d);
        reference_idct(ref);
        kj::idct_scalar(a);
        kj::idct_sse2(b);
        kj::IDCT8x8Block(d);
        if (kj::cpu_has_avx2())
            kj::idct_avx2(c);
        else
            std::copy(ref, ref + 64, c);
        ASSERT_TRUE(std::equal(ref, ref + 64, a)) << n;
        ASSERT_TRUE(std::equal(ref, ref + 64, b)) << n;
        ASSERT_TRUE(std::equal(ref, ref + 64, c)) << n;
        ASSERT_TRUE(std::equal(ref, ref + 64, d)) << n;
    }
    // Only the DC value D: 64 samples of (D + 4) >> 3.
    int16_t dc[64] = {100};
    kj::IDCT8x8Block(dc);
    EXPECT_TRUE(std::all_of(dc, dc + 64, [](int16_t v) { return v == (100 + 4) >> 3; }));
}

} // namespace
