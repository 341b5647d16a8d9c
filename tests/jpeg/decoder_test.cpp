// The baseline decoder against the literal reference on generated tiles, their truncations and corruptions,
// and against libjpeg-turbo's coefficients; the transforms against the literal one; marker and table refusals.
#include "jpeg_support.h"

#include "jpeg/idct.h"
#include "jpeg/ycbcr_lines.h"

using namespace jpegtest;

namespace {

// A segment's bytes after the marker: length field and body.
Bytes with_length(const Bytes &body)
{
    Bytes out{uint8_t((body.size() + 2) >> 8), uint8_t(body.size() + 2)};
    out.insert(out.end(), body.begin(), body.end());
    return out;
}

void expect_same(const Case &c, const Bytes &stream, uint8_t chroma, uint32_t size, const std::string &what,
                 int16_t **colourTables = nullptr, int32_t extra = 0)
{
    const Outcome a = read_jpeg(stream, c.tables, chroma, size, colourTables, extra);
    const Outcome b = read_jpeg(stream, c.tables, chroma, size, colourTables, extra, true);
    if (b.result == kReferenceUnsupported)
        return;
    ASSERT_EQ(a.result, b.result) << what;
    ASSERT_EQ(a.position, b.position) << what;
    ASSERT_TRUE(a.out == b.out) << what;
}

// Every tile against libjpeg-turbo (and its end position); against the reference, the first 200 in the opacity
// mode (random colour tables) and with other MCUs (partial bands, refusals; 0x1F: planes off the stack), the
// first 4 truncated at every length and corrupted 300 times.
TEST(Decoder, GeneratedTilesMatchReferenceAndLibjpegTurbo)
{
    std::mt19937 rng(20240611), damage(7);
    std::vector<std::vector<int16_t>> tables(5, std::vector<int16_t>(256));
    int16_t *slots[5];
    for (int t = 0; t < 5; ++t) {
        for (int16_t &v : tables[size_t(t)])
            v = int16_t(int(rng() % 600) - 300);
        slots[t] = tables[size_t(t)].data();
    }
    for (int n = 0; n < 1500; ++n) {
        const Case c = make_case(rng);
        const std::string what = "case " + std::to_string(n);
        if (n < 200) {
            expect_same(c, c.stream, c.chroma, c.bytes(), what + " mode 5", slots, 1);
            for (uint8_t mcu : {0x11, 0x12, 0x21, 0x22, 0x33, 0x1F})
                expect_same(c, c.stream, mcu, 64 * 64 * 9, what + " mcu " + std::to_string(mcu));
        }
        for (size_t len = 0; n < 4 && len <= c.stream.size(); ++len)
            expect_same(c, Bytes(c.stream.begin(), c.stream.begin() + long(len)), c.chroma, c.bytes(),
                        what + " truncated to " + std::to_string(len));
        for (int k = 0; n < 4 && k < 300; ++k) {
            Bytes bad = c.stream;
            const size_t at = damage() % bad.size();
            bad[at] = k % 2 ? uint8_t(bad[at] ^ (1u << (damage() % 8))) : uint8_t(damage());
            expect_same(c, bad, c.chroma, c.bytes(), what + " corrupted at " + std::to_string(at));
        }
        const Outcome fast = read_jpeg(c.stream, c.tables, c.chroma, c.bytes());
        ASSERT_EQ(fast.result, KX_OK) << what;
        ASSERT_EQ(fast.position, int32_t(c.stream.size())) << what;
        const ExpectedPlanes expected(c.stream, c.tables);
        ASSERT_EQ(expected.ref.error, "") << what;
        const int b = c.params.components <= 2 ? 1 : 3, W = Case::padded(c.width, c.chroma >> 4);
        for (uint32_t i = 0; i < c.bytes(); ++i)
            ASSERT_EQ(fast.out[i], expected.at(i % unsigned(b), int(i / unsigned(b)) % W, int(i / unsigned(b)) / W))
                << what << " byte " << i;
        // Colour written as RGB on the way: the decoded bytes converted one pixel at a time.
        if (b == 3) {
            kj::RgbOutput rgb;
            rgb.invert = n % 2;
            const Outcome direct = read_jpeg(c.stream, c.tables, c.chroma, c.bytes(), nullptr, 0, false, nullptr, &rgb);
            ASSERT_EQ(direct.result, KX_OK) << what;
            ASSERT_TRUE(rgb.done) << what;
            for (uint32_t i = 0; i < c.bytes(); i += 3) {
                uint8_t want[3];
                kj::ycbcr_pixel(fast.out[i], fast.out[i + 1], fast.out[i + 2], rgb.invert ? 255 : 0, want);
                ASSERT_TRUE(std::equal(want, want + 3, direct.out.begin() + i)) << what << " byte " << i;
            }
        }
        // One byte too small: refused, nothing written.
        const Outcome small = read_jpeg(c.stream, c.tables, c.chroma, c.bytes() - 1);
        EXPECT_EQ(small.result, KX_BAD_DATA) << what;
        EXPECT_TRUE(std::all_of(small.out.begin(), small.out.end(), [](uint8_t v) { return v == 0xA5; }));
    }
}

// Each kind of hostile header once: result code and where the loop stopped.
TEST(Decoder, MarkerLoopEdges)
{
    const struct { const char *what; Bytes s; int32_t code; int32_t stop; } cases[] = {
        {"SOI EOI", {0xFF, 0xD8, 0xFF, 0xD9}, KX_OK, 4},
        {"APP0 16", {0xFF, 0xD8, 0xFF, 0xE0, 0, 16, 1, 2, 3, 4, 5, 6, 7, 8, 9, 0, 1, 2, 3, 4, 0xFF, 0xD9}, KX_OK, 22},
        {"DAC", {0xFF, 0xD8, 0xFF, 0xCC, 0xFF, 0xD9, 0x00}, KX_OK, 6},
        {"SOF1", {0xFF, 0xD8, 0xFF, 0xC1, 0x00}, -23, 4},
        {"RST", {0xFF, 0xD8, 0xFF, 0xD3}, -23, 4},
        {"not a marker", {0xFF, 0xD8, 0x12, 0x34}, KX_BAD_DATA, 4},
        {"no EOI", {0xFF, 0xD8}, KX_BAD_DATA, 2},
        {"sampling 0x51", {0xFF, 0xD8, 0xFF, 0xC0, 0, 11, 8, 0, 8, 0, 8, 1, 1, 0x51, 0}, KX_BAD_DATA, 15},
        {"quantizer 4", {0xFF, 0xD8, 0xFF, 0xC0, 0, 11, 8, 0, 8, 0, 8, 1, 1, 0x11, 4}, KX_BAD_DATA, 15},
        {"precision 12", {0xFF, 0xD8, 0xFF, 0xC0, 0, 11, 12, 0, 8, 0, 8, 1, 1, 0x11, 0, 0xFF, 0xD9}, KX_BAD_DATA, 15},
        {"width 0", {0xFF, 0xD8, 0xFF, 0xC0, 0, 11, 8, 0, 8, 0, 0, 1, 1, 0x11, 0, 0xFF, 0xD9}, KX_BAD_DATA, 15},
        {"Ns 5", {0xFF, 0xD8, 0xFF, 0xDA, 0, 8, 5}, KX_BAD_DATA, 7},
    };
    for (const auto &c : cases) {
        const Outcome r = read_jpeg(c.s, {}, 0x11, 0);
        EXPECT_EQ(r.result, c.code) << c.what;
        EXPECT_EQ(r.position, c.stop) << c.what;
    }
}

// Table segments: result code, where the reader stopped, the slots filled. Several tables may share a segment;
// of two for one slot the later stays (the sanitizer build checks the first is freed).
TEST(TableReaders, Segments)
{
    auto dht = [](uint8_t tcth, int longest, int count, const Bytes &values) {
        Bytes body(17, 0);
        body[0] = tcth;
        body[size_t(longest)] = uint8_t(count);
        body[15] = longest == 16 ? 2 : 0;  // with 16: 2 codes of 15 bits and `count` of 16
        body.insert(body.end(), values.begin(), values.end());
        return body;
    };
    Bytes two = dht(0x12, 2, 2, {3, 4}), quant16(129, 1), twice(130, 7);  // twice: Tq 2 of 7s, then 9, 7, 7...
    const Bytes second = dht(0x03, 2, 2, {5, 6});
    two.insert(two.end(), second.begin(), second.end());
    quant16[0] = 0x13;
    twice[0] = twice[65] = 0x02;
    twice[66] = 9;
    const struct { const char *what; Bytes seg; bool huffman; int32_t code, stop; unsigned slots; } cases[] = {
        {"Tc 1 Th 2 goes to slot 6", with_length(dht(0x12, 2, 2, {3, 4})), true, KX_OK, 21, 1u << 6},
        {"two tables", with_length(two), true, KX_OK, 40, 1u << 6 | 1u << 3},
        {"Tc 2", with_length(dht(0x20, 2, 2, {3, 4})), true, KX_BAD_DATA, 3, 0},
        {"Th 4", with_length(dht(0x04, 2, 2, {3, 4})), true, KX_BAD_DATA, 3, 0},
        {"BITS short", Bytes{0, 19, 0x00, 0, 2}, true, KX_BAD_DATA, 5, 0},
        {"symbols short", with_length(dht(0x00, 2, 2, {3})), true, KX_BAD_DATA, 20, 0},
        {"more than 256 codes", with_length(dht(0x01, 16, 255, {})), true, KX_BAD_DATA, 19, 0},
        {"no length", Bytes{0}, true, KX_BAD_DATA, 1, 0},
        {"Pq 1 Tq 3", with_length(quant16), false, KX_OK, 131, 1u << 11},
        {"Pq 1 announcing 65 bytes", Bytes{0, 67, 0x10, 1, 2}, false, KX_BAD_DATA, 3, 0},
        {"Tq 4", Bytes{0, 67, 0x04, 1, 2}, false, KX_BAD_DATA, 3, 0},
        {"8-bit entries short", Bytes{0, 67, 0x00, 1, 2}, false, KX_BAD_DATA, 5, 0},
        {"Tq 2 twice", with_length(twice), false, KX_OK, 132, 1u << 10},
    };
    for (const auto &c : cases) {
        TableSet set;
        MemStream in(c.seg);
        EXPECT_EQ(c.huffman ? kj::ReadHuffman(in.file, &set.set) : kj::ReadQuantization(in.file, &set.set.slots[8]),
                  c.code) << c.what;
        EXPECT_EQ(in.position(), c.stop) << c.what;
        for (int s = 0; s < 12; ++s)
            EXPECT_EQ(set.set.slots[s] != nullptr, (c.slots >> s & 1) != 0) << c.what << " slot " << s;
        if (c.slots == 1u << 10) {
            const auto *q = static_cast<const kj::QuantTable *>(GlobalLock(set.set.slots[10]));
            EXPECT_EQ(q->q[0] * 10 + q->q[1], 97);
        }
    }
}

TEST(Idct, AllVersionsEqualTheTransformAsWritten)
{
    std::mt19937 rng(3);
    void (*const versions[])(int16_t *) = {kj::idct_scalar, kj::idct_sse2, kj::IDCT8x8Block,
                                           kj::cpu_has_avx2() ? kj::idct_avx2 : kj::idct_scalar};
    for (int n = 0; n < 20000; ++n) {
        int16_t in[64] = {}, ref[64], out[64];
        const int kind = n % 4;  // anything (overflow included), sparse, first column, DC only
        for (int i = 0; i < 64; ++i)
            in[i] = kind == 0 || (kind == 3 && i == 0) ? int16_t(rng())
                    : kind == 1 && rng() % 8 == 0      ? int16_t(int(rng() % 2048) - 1024)
                    : kind == 2 && (i % 8 == 0 || rng() % 16 == 0) ? int16_t(int(rng() % 512) - 256) : 0;
        std::copy(in, in + 64, ref);
        reference_idct(ref);
        for (auto *idct : versions) {
            std::copy(in, in + 64, out);
            idct(out);
            ASSERT_TRUE(std::equal(ref, ref + 64, out)) << n;
        }
    }
}

} // namespace
