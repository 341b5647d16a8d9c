// ReadHuffman and ReadQuantization against the tables libjpeg-turbo writes
// (standard and optimised Huffman tables, 8- and 16-bit quantizers, one or
// several tables per segment) and the refusals of malformed segments.
#include "jpeg/jpeg_test_support.h"

#include "jpeg_errors.h"
#include "jpeg_tiles.h"

#include <kxfpx/codes.h>

#include <gtest/gtest.h>
#include <jpeglib.h>

#include <cstdio>

using namespace jpegtest;
using kxfpx::jpeg::HuffmanTable;
using kxfpx::jpeg::QuantTable;

namespace {

// A tables-only stream written by libjpeg-turbo itself; force_baseline off
// lets low qualities produce 16-bit quantizers.
Bytes libjpeg_tables(int quality, bool baseline)
{
    jpeg_compress_struct c;
    fpxw::JpegErrorManager err;
    c.err = fpxw::install_jpeg_errors(err);
    unsigned char *mem = nullptr;
    unsigned long size = 0;
    jpeg_create_compress(&c);
    jpeg_mem_dest(&c, &mem, &size);
    c.image_width = c.image_height = 8;
    c.input_components = 3;
    c.in_color_space = JCS_RGB;
    jpeg_set_defaults(&c);
    jpeg_set_quality(&c, quality, baseline ? TRUE : FALSE);
    jpeg_write_tables(&c);
    jpeg_destroy_compress(&c);
    Bytes out(mem, mem + size);
    std::free(mem);
    return out;
}

// Reads every DHT and DQT segment of `jpeg` with our readers (each call must
// end at the segment's end) and compares the set with what libjpeg-turbo's
// reader holds after the same header.
void expect_same_tables(const Bytes &jpeg, const std::vector<Segment> &segments)
{
    TableSet ours;
    for (const Segment &s : segments) {
        if (s.marker != 0xC4 && s.marker != 0xDB)
            continue;
        const Bytes bytes = with_length(s.body);
        MemStream in(bytes);
        const int32_t r = s.marker == 0xC4 ? kxfpx::jpeg::ReadHuffman(in.file, &ours.set)
                                           : kxfpx::jpeg::ReadQuantization(in.file, &ours.set.slots[8]);
        ASSERT_EQ(r, KX_OK);
        EXPECT_EQ(in.position(), int32_t(bytes.size()));
    }

    jpeg_decompress_struct d;
    fpxw::JpegErrorManager err;
    d.err = fpxw::install_jpeg_errors(err);
    jpeg_create_decompress(&d);
    jpeg_mem_src(&d, jpeg.data(), jpeg.size());
    if (setjmp(err.jump)) {
        jpeg_destroy_decompress(&d);
        FAIL() << err.message;
    }
    jpeg_read_header(&d, FALSE);
    for (int slot = 0; slot < 8; ++slot) {
        const JHUFF_TBL *ref = slot < 4 ? d.dc_huff_tbl_ptrs[slot] : d.ac_huff_tbl_ptrs[slot - 4];
        const HuffmanTable *t = ours.view<HuffmanTable>(slot);
        ASSERT_EQ(ref != nullptr, t != nullptr) << "slot " << slot;
        if (!t)
            continue;
        EXPECT_EQ(t->classAndId, (slot / 4) << 4 | (slot % 4));
        int n = 0;
        for (int l = 0; l < 16; ++l) {
            EXPECT_EQ(t->bits[l], ref->bits[l + 1]);
            n += t->bits[l];
        }
        for (int i = 0; i < n; ++i)
            EXPECT_EQ(t->values[i], ref->huffval[i]);
        // Every symbol's code, read as its first codeSizes bits, decodes
        // back through the length fields to that symbol.
        for (int i = 0; i < n; ++i) {
            const uint8_t sym = t->values[i], len = t->codeSizes[sym];
            const int32_t code = t->codes[sym];
            ASSERT_GE(len, 1);
            EXPECT_LE(code, t->maxCode[len - 1]);
            EXPECT_EQ(t->values[code - t->minCode[len - 1] + t->valPtr[len - 1]], sym);
        }
        GlobalUnlock(ours.set.slots[slot]);
    }
    for (int id = 0; id < 4; ++id) {
        const JQUANT_TBL *ref = d.quant_tbl_ptrs[id];
        const QuantTable *q = ours.view<QuantTable>(8 + id);
        ASSERT_EQ(ref != nullptr, q != nullptr) << "quantizer " << id;
        if (!q)
            continue;
        EXPECT_EQ(q->id, id);
        for (int k = 0; k < 64; ++k)
            EXPECT_EQ(q->q[k], ref->quantval[kZigzag[k]]) << "entry " << k;
        GlobalUnlock(ours.set.slots[8 + id]);
    }
    jpeg_destroy_decompress(&d);
}

// All segments of one kind merged into a single segment.
std::vector<Segment> merged(const std::vector<Segment> &segments)
{
    Segment dht{0xC4, {}}, dqt{0xDB, {}};
    for (const Segment &s : segments) {
        Bytes &to = s.marker == 0xC4 ? dht.body : dqt.body;
        if (s.marker == 0xC4 || s.marker == 0xDB)
            to.insert(to.end(), s.body.begin(), s.body.end());
    }
    return {dqt, dht};
}

Bytes tile_stream(int quality, int components, bool optimize)
{
    fpxw::JpegParams p;
    p.components = components;
    p.quality = quality;
    p.optimize_huffman = optimize;
    p.chroma = std::vector<bool>(size_t(components), false);
    for (int c = 1; c < components && c < 3; ++c)
        p.chroma[size_t(c)] = true;
    std::vector<uint8_t> pixels(64 * 64 * size_t(components));
    for (size_t i = 0; i < pixels.size(); ++i)
        pixels[i] = uint8_t(i * 7 + i / 64 * 13);
    Bytes out;
    EXPECT_EQ(fpxw::encode_tile(p, pixels.data(), 64, 64, false, out), "");
    return out;
}

TEST(TableReaders, ReadBackWhatLibjpegTurboWrote)
{
    std::vector<Bytes> streams;
    for (int quality : {1, 5, 25, 50, 75, 90, 100}) {
        streams.push_back(libjpeg_tables(quality, true));
        streams.push_back(libjpeg_tables(quality, false));  // 16-bit quantizers at low quality
    }
    for (int components : {1, 3})
        for (int quality : {10, 90})
            streams.push_back(tile_stream(quality, components, true));  // optimised tables
    for (const Bytes &s : streams) {
        const auto segments = header_segments(s);
        expect_same_tables(s, segments);
        expect_same_tables(s, merged(segments));
    }
}

TEST(TableReaders, StandardLuminanceDcCodes)
{
    const Bytes s = libjpeg_tables(75, true);
    TableSet set;
    for (const Segment &seg : header_segments(s))
        if (seg.marker == 0xC4) {
            MemStream in(with_length(seg.body));
            ASSERT_EQ(kxfpx::jpeg::ReadHuffman(in.file, &set.set), KX_OK);
        }
    // T.81 Table K.3: categories 0 to 11.
    const struct { uint8_t len; uint16_t code; } k3[12] = {
        {2, 0b00},      {3, 0b010},      {3, 0b011},       {3, 0b100},
        {3, 0b101},     {3, 0b110},      {4, 0b1110},      {5, 0b11110},
        {6, 0b111110},  {7, 0b1111110},  {8, 0b11111110},  {9, 0b111111110}};
    const HuffmanTable *t = set.view<HuffmanTable>(0);
    ASSERT_NE(t, nullptr);
    for (int c = 0; c < 12; ++c) {
        EXPECT_EQ(t->codeSizes[c], k3[c].len);
        EXPECT_EQ(t->codes[c], k3[c].code);
    }
    EXPECT_EQ(t->maxCode[0], -1);
    GlobalUnlock(set.set.slots[0]);
}

// Malformed segments: result code and where the reader stopped.
TEST(TableReaders, MalformedSegments)
{
    Bytes bits16(16, 0);
    bits16[1] = 2;  // two codes of length 2
    auto dht = [&](uint8_t tcth, const Bytes &bits, const Bytes &values, int extra = 0) {
        Bytes body{tcth};
        body.insert(body.end(), bits.begin(), bits.end());
        body.insert(body.end(), values.begin(), values.end());
        Bytes seg = with_length(body);
        seg[1] = uint8_t(seg[1] + extra);
        return seg;
    };
    Bytes over(16, 0);
    over[15] = 255;
    over[14] = 2;  // 257 codes
    Bytes quant16{0x13};
    quant16.resize(129, 1);
    const struct { const char *what; Bytes seg; bool huffman; int32_t code; int32_t stop; int slot; } cases[] = {
        {"Tc 1 Th 2 goes to slot 6", dht(0x12, bits16, {3, 4}), true, KX_OK, 21, 6},
        {"Tc 2", dht(0x20, bits16, {3, 4}), true, KX_BAD_DATA, 3, -1},
        {"Th 4", dht(0x04, bits16, {3, 4}), true, KX_BAD_DATA, 3, -1},
        {"BITS short", Bytes{0, 19, 0x00, 0, 2}, true, KX_BAD_DATA, 5, -1},
        {"symbols short", dht(0x00, bits16, {3}), true, KX_BAD_DATA, 20, -1},
        {"more than 256 codes", dht(0x01, over, {}), true, KX_BAD_DATA, 19, -1},
        {"no length", Bytes{0}, true, KX_BAD_DATA, 1, -1},
        {"Pq 1 Tq 3", with_length(quant16), false, KX_OK, 131, 11},
        {"Pq 1 announcing 65 bytes", Bytes{0, 67, 0x10, 1, 2}, false, KX_BAD_DATA, 3, -1},
        {"Tq 4", Bytes{0, 67, 0x04, 1, 2}, false, KX_BAD_DATA, 3, -1},
        {"8-bit entries short", Bytes{0, 67, 0x00, 1, 2}, false, KX_BAD_DATA, 5, -1},
    };
    for (const auto &c : cases) {
        TableSet set;
        MemStream in(c.seg);
        const int32_t r = c.huffman ? kxfpx::jpeg::ReadHuffman(in.file, &set.set)
                                    : kxfpx::jpeg::ReadQuantization(in.file, &set.set.slots[8]);
        EXPECT_EQ(r, c.code) << c.what;
        EXPECT_EQ(in.position(), c.stop) << c.what;
        for (int s = 0; s < 12; ++s)
            EXPECT_EQ(set.set.slots[s] != nullptr, s == c.slot) << c.what << " slot " << s;
    }
}

// A replaced slot keeps only the newest table (the old block is freed: the
// sanitizer build checks the leak).
TEST(TableReaders, LaterTableReplacesSlot)
{
    Bytes a{0x00, 0x43, 0x02};
    a.resize(0x43, 7);
    Bytes b = a;
    b[2] = 0x02;
    b[3] = 9;
    TableSet set;
    for (const Bytes &seg : {a, b}) {
        MemStream in(seg);
        ASSERT_EQ(kxfpx::jpeg::ReadQuantization(in.file, &set.set.slots[8]), KX_OK);
    }
    const QuantTable *q = set.view<QuantTable>(10);
    EXPECT_EQ(q->q[0], 9);
    EXPECT_EQ(q->q[1], 7);
    GlobalUnlock(set.set.slots[10]);
}

} // namespace
