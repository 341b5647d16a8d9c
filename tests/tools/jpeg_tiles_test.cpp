// fpxwrite's JPEG tiles decoded by libjpeg-turbo with the tables of the
// file's table sets: within the error JPEG coding allows of the input, with
// the frame, subsampling, restart interval and progression the options ask
// for, and the tile table's subtype bytes matching each stream.
#include "colour.h"
#include "oracles/fpx_parse.h"
#include "fpx/fpx_format.h"

#include <gtest/gtest.h>

#include <cmath>

using namespace fpxw;
using namespace kxfpx::fpx;
using namespace fpxtest;

namespace {

const std::string kContents = "Data Object Store 000001/\005Image Contents";

std::vector<uint8_t> entry(const Document &doc, const std::string &path)
{
    const int i = doc.find(path);
    EXPECT_GE(i, 0) << path;
    return i < 0 ? std::vector<uint8_t>{} : doc.entries[size_t(i)].data;
}

std::string res_path(int rr, const char *leaf)
{
    char name[80];
    std::snprintf(name, sizeof name, "Data Object Store 000001/Resolution %04d/%s", rr, leaf);
    return name;
}

// The tables blob of set k (its bytes after the 4-byte blob size).
std::vector<uint8_t> table_set(const PropSet &ic, uint32_t k)
{
    const Prop *p = ic.find((k << 16) | 0x03000001);
    if (!p)
        return {};
    const uint32_t size = p->u32();
    return std::vector<uint8_t>(p->value.begin() + 4, p->value.begin() + 4 + size);
}

void ycbcr_to_rgb(const uint8_t *in, int out[3])
{
    const double y = in[0], cb = in[1] - 128.0, cr = in[2] - 128.0;
    const double v[3] = {y + 1.402 * cr, y - 0.344136 * cb - 0.714136 * cr, y + 1.772 * cb};
    for (int k = 0; k < 3; ++k)
        out[k] = int(std::lround(std::min(255.0, std::max(0.0, v[k]))));
}

struct ErrorStats {
    double sum = 0;
    long count = 0;
    int worst = 0;
    void add(int a, int b)
    {
        const int d = std::abs(a - b);
        sum += double(d) * d;
        ++count;
        worst = std::max(worst, d);
    }
    double psnr() const { return 10 * std::log10(255.0 * 255.0 / std::max(1e-9, sum / double(count))); }
};

struct Result {
    ErrorStats error;
    ErrorStats reference;  // libjpeg-turbo's own coding of the same tiles
    std::vector<Decoded> tiles;
    Subimage sub;
};

// Decodes every JPEG tile of the full resolution and compares it with the
// picture the file should show (RGB, or grey for monochrome).
Result decode_full(const WriteOptions &o, const Image &img)
{
    Result r;
    Document doc;
    EXPECT_EQ(build_document(o, img, doc), "");
    WriteOptions resolved = o;
    EXPECT_EQ(resolve_options(resolved, img), "");
    PropSet ic;
    EXPECT_TRUE(parse_propset(entry(doc, kContents), ic));
    const Prop *count = ic.find(0x01000000);
    const int rr = count ? int(count->u32()) - 1 : 0;
    EXPECT_TRUE(parse_subimage(entry(doc, res_path(rr, "Subimage 0000 Header")), r.sub));
    const std::vector<uint8_t> data = entry(doc, res_path(rr, "Subimage 0000 Data"));
    // What the colour components should decode to: the working picture,
    // colours weighted by opacity when the file has an opacity channel.
    Image work = working_picture(img, resolved);
    if (resolved.opacity)
        for (size_t i = 0; i < work.samples.size(); i += size_t(work.channels)) {
            const int a = work.samples[i + size_t(work.channels) - 1];
            for (int c = 0; c + 1 < work.channels; ++c)
                work.samples[i + size_t(c)] = uint8_t((work.samples[i + size_t(c)] * a + 127) / 255);
        }
    const int across = (img.width + 63) / 64;
    for (size_t k = 0; k < r.sub.tiles.size(); ++k) {
        const TileEntry &t = r.sub.tiles[k];
        if (t.type != kTileJpeg)
            continue;
        const std::vector<uint8_t> tables = t.subtype[3] ? table_set(ic, t.subtype[3]) : std::vector<uint8_t>{};
        Decoded d = decode_jpeg(tables, tile_bytes(data, t));
        EXPECT_EQ(d.error, "") << "tile " << k;
        if (!d.error.empty())
            continue;
        const int tx = int(k) % across, ty = int(k) / across;
        // The reference coding of this tile (RGB or grey, edges repeated).
        const int wc = resolved.colour == ColourSpace::monochrome ? 1 : 3;
        std::vector<uint8_t> padded;
        for (int y = 0; y < 64; ++y)
            for (int x = 0; x < 64; ++x) {
                const uint8_t *p = work.pixel(std::min(tx * 64 + x, img.width - 1), std::min(ty * 64 + y, img.height - 1));
                padded.insert(padded.end(), p, p + wc);
            }
        const int quality = std::max(1, resolved.quality - 10 * (t.subtype[3] > 0 ? t.subtype[3] - 1 : 0));
        const std::vector<uint8_t> ref = reference_roundtrip(padded, wc, quality, t.subtype[1],
                                                             resolved.colour_conversion == 0);
        EXPECT_EQ(ref.size(), padded.size());
        for (int y = 0; y < 64 && ty * 64 + y < img.height; ++y)
            for (int x = 0; x < 64 && tx * 64 + x < img.width; ++x) {
                const uint8_t *s = &d.samples[size_t((y * 64 + x) * d.components)];
                const uint8_t *want = work.pixel(tx * 64 + x, ty * 64 + y);
                if (ref.size() == padded.size())
                    for (int c = 0; c < wc; ++c)
                        r.reference.add(ref[size_t((y * 64 + x) * wc + c)], want[c]);
                if (resolved.colour == ColourSpace::monochrome) {
                    r.error.add(s[0], want[0]);
                } else if (resolved.colour_conversion == 1) {
                    int rgb[3];
                    ycbcr_to_rgb(s, rgb);
                    for (int c = 0; c < 3; ++c)
                        r.error.add(resolved.invert ? 255 - rgb[c] : rgb[c], want[c]);
                } else {
                    for (int c = 0; c < 3; ++c)
                        r.error.add(s[c], want[c]);
                }
            }
        r.tiles.push_back(std::move(d));
    }
    return r;
}

// "\005Image Contents" of the file the options make of a picture.
PropSet contents_of(const WriteOptions &o, const Image &img)
{
    Document doc;
    EXPECT_EQ(build_document(o, img, doc), "");
    PropSet ic;
    EXPECT_TRUE(parse_propset(entry(doc, kContents), ic));
    return ic;
}

// The bytes of the first tile of resolution 0.
std::vector<uint8_t> first_tile(const WriteOptions &o, const Image &img)
{
    Document doc;
    EXPECT_EQ(build_document(o, img, doc), "");
    Subimage sub;
    EXPECT_TRUE(parse_subimage(entry(doc, res_path(0, "Subimage 0000 Header")), sub));
    if (sub.tiles.empty())
        return {};
    return tile_bytes(entry(doc, res_path(0, "Subimage 0000 Data")), sub.tiles[0]);
}

// The writer's tiles lose no more than libjpeg-turbo's own coding of the
// same samples at the same quality and sampling (YCbCr rounding aside).
void expect_jpeg_error(const Result &r)
{
    ASSERT_GT(r.error.count, 0);
    EXPECT_EQ(r.error.count, r.reference.count);
    EXPECT_GT(r.error.psnr(), r.reference.psnr() - 0.5) << "reference " << r.reference.psnr();
    EXPECT_GT(r.error.psnr(), 25.0);
}

Image opaque(const Image &rgba)
{
    Image out;
    out.width = rgba.width, out.height = rgba.height, out.channels = 3;
    for (size_t i = 0; i < rgba.samples.size(); i += 4)
        out.samples.insert(out.samples.end(), rgba.samples.begin() + long(i), rgba.samples.begin() + long(i) + 3);
    return out;
}

} // namespace

TEST(FpxJpegTiles, BaselineYcbcrWithTablesInTheProperty)
{
    WriteOptions o;
    o.flat_tiles = FlatTiles::never;
    o.resolutions = 1;
    const Result r = decode_full(o, opaque(make_synthetic(200, 150)));
    ASSERT_EQ(r.tiles.size(), 12u);
    for (size_t k = 0; k < r.sub.tiles.size(); ++k) {
        const TileEntry &t = r.sub.tiles[k];
        EXPECT_EQ(t.type, kTileJpeg);
        EXPECT_EQ(t.subtype[0], 0);
        EXPECT_EQ(t.subtype[1], 0x22);
        EXPECT_EQ(t.subtype[2], 1);  // internal colour conversion
        EXPECT_EQ(t.subtype[3], 1);  // table set 1
    }
    for (const Decoded &d : r.tiles) {
        EXPECT_EQ(d.width, 64);
        EXPECT_EQ(d.height, 64);
        EXPECT_EQ(d.components, 3);
        EXPECT_FALSE(d.progressive);
        EXPECT_EQ(d.h[0], 2);
        EXPECT_EQ(d.v[0], 2);
        EXPECT_EQ(d.h[1], 1);
        EXPECT_EQ(d.quant[1], 1);
    }
    expect_jpeg_error(r);
}

TEST(FpxJpegTiles, AbbreviatedTilesCarryNoTablesAndTheSetHasThemAll)
{
    WriteOptions o;
    o.flat_tiles = FlatTiles::never;
    o.resolutions = 1;
    const PropSet ic = contents_of(o, opaque(make_synthetic(64, 64)));
    ASSERT_NE(ic.find(0x03000002), nullptr);
    EXPECT_EQ(ic.find(0x03000002)->type, 0x13u);
    EXPECT_EQ(ic.find(0x03000002)->u32(), 1u);
    EXPECT_EQ(ic.find(0x03010001)->type, 0x41u);
    const std::vector<uint8_t> tables = table_set(ic, 1);
    ASSERT_GE(tables.size(), 4u);
    EXPECT_EQ(tables[0], 0xFF);
    EXPECT_EQ(tables[1], 0xD8);
    EXPECT_EQ(tables[tables.size() - 2], 0xFF);
    EXPECT_EQ(tables.back(), 0xD9);
    EXPECT_EQ(count_marker(tables, 0xDB), 2);  // luminance and chrominance
    EXPECT_EQ(count_marker(tables, 0xC4), 4);  // DC and AC of each
    EXPECT_EQ(count_marker(tables, 0xDA), 0);
    const std::vector<uint8_t> tile = first_tile(o, opaque(make_synthetic(64, 64)));
    EXPECT_EQ(count_marker(tile, 0xDB), 0);
    EXPECT_EQ(count_marker(tile, 0xC4), 0);
    EXPECT_EQ(count_marker(tile, 0xC0), 1);
    EXPECT_EQ(count_marker(tile, 0xE0), 0);  // no JFIF header
    EXPECT_EQ(count_marker(tile, 0xEE), 0);  // no Adobe marker
    // Without the tables libjpeg cannot decode it.
    EXPECT_NE(decode_jpeg({}, tile).error, "");
}

TEST(FpxJpegTiles, TablesInsideEachTile)
{
    WriteOptions o;
    o.flat_tiles = FlatTiles::never;
    o.tables_in_tiles = true;
    o.resolutions = 1;
    const Result r = decode_full(o, opaque(make_synthetic(130, 64)));
    ASSERT_EQ(r.tiles.size(), 3u);
    for (const TileEntry &t : r.sub.tiles)
        EXPECT_EQ(t.subtype[3], 0);
    expect_jpeg_error(r);
    const PropSet ic = contents_of(o, opaque(make_synthetic(130, 64)));
    EXPECT_EQ(ic.find(0x03000002), nullptr);
    EXPECT_EQ(ic.find(0x03010001), nullptr);
}

TEST(FpxJpegTiles, SeveralTableSetsWithTheirIndices)
{
    WriteOptions o;
    o.flat_tiles = FlatTiles::never;
    o.table_sets = 3;
    o.quality = 80;
    o.resolutions = 1;
    const Result r = decode_full(o, opaque(make_synthetic(256, 128)));
    ASSERT_EQ(r.sub.tiles.size(), 8u);
    for (size_t k = 0; k < r.sub.tiles.size(); ++k)
        EXPECT_EQ(r.sub.tiles[k].subtype[3], 1 + k % 3) << k;
    expect_jpeg_error(r);
    const PropSet ic = contents_of(o, opaque(make_synthetic(256, 128)));
    EXPECT_EQ(ic.find(0x03000002)->u32(), 3u);
    // Each set holds other quantization tables (quality 80, 70, 60).
    EXPECT_NE(table_set(ic, 1), table_set(ic, 2));
    EXPECT_NE(table_set(ic, 2), table_set(ic, 3));
    EXPECT_TRUE(table_set(ic, 4).empty());
}

TEST(FpxJpegTiles, SubsamplingByteMatchesTheFrame)
{
    const struct {
        ColourSpace colour;
        int conversion;
        int subsampling;
        int h0, v0;
    } cases[] = {
        {ColourSpace::rgb, 1, 0x11, 1, 1}, {ColourSpace::rgb, 1, 0x21, 2, 1}, {ColourSpace::rgb, 1, 0x22, 2, 2},
        {ColourSpace::photoycc, 0, 0x21, 2, 1}, {ColourSpace::rgb, 0, -1, 1, 1}, {ColourSpace::monochrome, 0, -1, 1, 1},
    };
    for (const auto &c : cases) {
        WriteOptions o;
        o.colour = c.colour;
        o.colour_conversion = c.conversion;
        o.subsampling = c.subsampling;
        o.flat_tiles = FlatTiles::never;
        o.resolutions = 1;
        const Result r = decode_full(o, opaque(make_synthetic(100, 64)));
        ASSERT_EQ(r.tiles.size(), 2u);
        for (size_t k = 0; k < r.tiles.size(); ++k) {
            const Decoded &d = r.tiles[k];
            EXPECT_EQ(r.sub.tiles[k].subtype[1], uint8_t(c.h0 << 4 | c.v0));
            EXPECT_EQ(d.h[0], c.h0);
            EXPECT_EQ(d.v[0], c.v0);
            for (int i = 1; i < d.components; ++i) {
                EXPECT_EQ(d.h[i], 1);
                EXPECT_EQ(d.v[i], 1);
            }
            EXPECT_EQ(r.sub.tiles[k].subtype[2], c.conversion == 1 ? 1 : 0);
        }
        if (c.colour != ColourSpace::photoycc) {
            expect_jpeg_error(r);
        }
    }
}

TEST(FpxJpegTiles, ProgressiveTilesCarryTheirHuffmanTables)
{
    WriteOptions o;
    o.flat_tiles = FlatTiles::never;
    o.progressive = true;
    o.resolutions = 1;
    const Result r = decode_full(o, opaque(make_synthetic(128, 64)));
    ASSERT_EQ(r.tiles.size(), 2u);
    for (const Decoded &d : r.tiles)
        EXPECT_TRUE(d.progressive);
    expect_jpeg_error(r);
    const std::vector<uint8_t> tile = first_tile(o, opaque(make_synthetic(128, 64)));
    EXPECT_EQ(count_marker(tile, 0xC2), 1);
    EXPECT_EQ(count_marker(tile, 0xDB), 0);  // quantization tables from the set
    EXPECT_GT(count_marker(tile, 0xC4), 0);
    EXPECT_GT(count_marker(tile, 0xDA), 1);
}

TEST(FpxJpegTiles, RestartIntervalAndMarkers)
{
    WriteOptions o;
    o.flat_tiles = FlatTiles::never;
    o.restart_interval = 4;
    o.resolutions = 1;
    const Result r = decode_full(o, opaque(make_synthetic(64, 64)));
    ASSERT_EQ(r.tiles.size(), 1u);
    EXPECT_EQ(r.tiles[0].restart_interval, 4u);
    expect_jpeg_error(r);
    const std::vector<uint8_t> tile = first_tile(o, opaque(make_synthetic(64, 64)));
    EXPECT_EQ(count_marker(tile, 0xDD), 1);
    // 16 MCUs of 16 x 16 pixels, a restart every 4: three RST markers.
    EXPECT_EQ(count_marker(tile, 0xD0), 3);
}

TEST(FpxJpegTiles, InvertedOutputStoresTheComplement)
{
    WriteOptions o;
    o.flat_tiles = FlatTiles::never;
    o.invert = true;
    o.resolutions = 1;
    const Result r = decode_full(o, opaque(make_synthetic(64, 64)));
    ASSERT_EQ(r.tiles.size(), 1u);
    expect_jpeg_error(r);  // complemented back by decode_full
}

TEST(FpxJpegTiles, OpacityAndMonochromeComponents)
{
    WriteOptions o;
    o.flat_tiles = FlatTiles::never;
    o.opacity = true;
    o.resolutions = 1;
    Result r = decode_full(o, opaque(make_synthetic(64, 64)));  // no alpha in: opaque
    ASSERT_EQ(r.tiles.size(), 1u);
    EXPECT_EQ(r.tiles[0].components, 4);
    EXPECT_EQ(r.tiles[0].h[3], 2);  // opacity at full resolution
    expect_jpeg_error(r);
    for (size_t i = 3; i < r.tiles[0].samples.size(); i += 4)
        ASSERT_GE(r.tiles[0].samples[i], 250);

    o.colour = ColourSpace::monochrome;
    r = decode_full(o, make_synthetic(64, 64));
    ASSERT_EQ(r.tiles.size(), 1u);
    EXPECT_EQ(r.tiles[0].components, 2);
    EXPECT_EQ(r.sub.tiles[0].subtype[1], 0x11);
}

TEST(FpxJpegTiles, OptimizedHuffmanTablesAndJfifSegmentsInTiles)
{
    WriteOptions o;
    o.flat_tiles = FlatTiles::never;
    o.optimize_huffman = true;
    o.jfif = true;
    o.resolutions = 1;
    const Result r = decode_full(o, opaque(make_synthetic(128, 64)));
    ASSERT_EQ(r.tiles.size(), 2u);
    expect_jpeg_error(r);
    const std::vector<uint8_t> tile = first_tile(o, opaque(make_synthetic(128, 64)));
    const std::vector<uint8_t> markers = list_markers(tile);
    ASSERT_GE(markers.size(), 3u);
    EXPECT_EQ(markers[1], 0xE0);  // APP0 right after SOI
    EXPECT_EQ(tile[4] << 8 | tile[5], 16);  // its length
    EXPECT_EQ(count_marker(tile, 0xC4), 4);  // DC and AC of luminance and chrominance
    EXPECT_EQ(count_marker(tile, 0xDB), 0);  // quantization tables still from the set
}

// PhotoYCC JPEG tiles through the import's own arithmetic: three channels
// by the strip conversion with its five tables, four channels (opacity) by
// the opacity-weighted mode (samples divided by the opacity, converted,
// multiplied by it again). Either way the output is the input's colours
// weighted by opacity, within JPEG error.
TEST(FpxJpegTiles, PhotoYccTilesDecodeThroughTheImportsTables)
{
    auto table = [](int i, double offset, double scale) { return int(std::trunc((i - offset) * scale + 0.5)); };
    auto clamp16 = [](int v) {
        const int16_t s = int16_t(v);
        return (s & 0xFF00) ? (s < 0 ? 0 : 255) : (s & 0xFF);
    };
    for (const bool opacity : {false, true}) {
        SCOPED_TRACE(opacity ? "with opacity" : "three channels");
        WriteOptions o;
        o.colour = ColourSpace::photoycc;
        o.opacity = opacity;
        o.flat_tiles = FlatTiles::never;
        o.resolutions = 1;
        const Image img = make_synthetic(128, 64);  // alpha 64 .. 255
        Document doc;
        ASSERT_EQ(build_document(o, img, doc), "");
        PropSet ic;
        ASSERT_TRUE(parse_propset(entry(doc, kContents), ic));
        Subimage sub;
        ASSERT_TRUE(parse_subimage(entry(doc, res_path(0, "Subimage 0000 Header")), sub));
        const std::vector<uint8_t> data = entry(doc, res_path(0, "Subimage 0000 Data"));
        ASSERT_EQ(sub.tiles.size(), 2u);
        ErrorStats error;
        for (size_t k = 0; k < 2; ++k) {
            const TileEntry &t = sub.tiles[k];
            ASSERT_EQ(t.type, kTileJpeg);
            EXPECT_EQ(t.subtype[1], 0x22);
            EXPECT_EQ(t.subtype[2], 0);  // no YCbCr conversion for PhotoYCC
            const Decoded d = decode_jpeg(table_set(ic, t.subtype[3]), tile_bytes(data, t));
            ASSERT_EQ(d.error, "");
            ASSERT_EQ(d.components, opacity ? 4 : 3);
            for (int y = 0; y < 64; ++y)
                for (int x = 0; x < 64; ++x) {
                    const uint8_t *s = &d.samples[size_t((y * 64 + x) * d.components)];
                    const double a = opacity ? s[3] / 255.0 : 1.0;
                    int c[3] = {s[0], s[1], s[2]};
                    if (opacity && a > 0)
                        for (int &v : c)
                            v = std::min(255, int(v / a));
                    const int l = table(c[0], 0, 1.358);
                    const int p[3] = {l + table(c[2], 137, 1.8215),
                                      l + table(c[2], 137, -0.9271435) + table(c[1], 156, -0.4302726),
                                      l + table(c[1], 156, 2.2179)};
                    const uint8_t *in = img.pixel(int(k) * 64 + x, y);
                    const int alpha = opacity ? in[3] : 255;
                    for (int ch = 0; ch < 3; ++ch) {
                        const int out = opacity ? (a > 0 ? clamp16(int(p[ch] * a)) : 0) : clamp16(p[ch]);
                        error.add(out, (in[ch] * alpha + 127) / 255);
                    }
                }
        }
        // libjpeg-turbo's own YCbCr coding of the same picture, for scale.
        WriteOptions ref;
        ref.opacity = opacity;
        ref.flat_tiles = FlatTiles::never;
        ref.resolutions = 1;
        const Result r = decode_full(ref, img);
        // PhotoYCC keeps fewer luma levels (Y = luma / 1.358), so a little
        // more is lost than with YCbCr; a wrong table, offset or weighting
        // costs tens of dB.
        EXPECT_GT(error.psnr(), r.error.psnr() - 1.5);
        EXPECT_GT(error.psnr(), 27.0);
    }
}
