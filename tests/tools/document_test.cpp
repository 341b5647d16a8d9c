// fpxwrite's file layout, checked on the in-memory document: raw tiles hold
// exactly the input pixels, the tile table, stream headers and property
// sets have the layout real files have, and every option lands where the
// format puts it.
#include "oracles/fpx_parse.h"
#include "fpx/fpx_format.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

using namespace fpxw;
using namespace kxfpx::fpx;
using namespace fpxtest;

namespace {

const std::string kStore = "Data Object Store 000001";

std::vector<uint8_t> stream(const Document &doc, const std::string &path)
{
    const int i = doc.find(path);
    EXPECT_GE(i, 0) << path;
    return i < 0 ? std::vector<uint8_t>{} : doc.entries[size_t(i)].data;
}

PropSet props(const Document &doc, const std::string &path)
{
    PropSet set;
    EXPECT_TRUE(parse_propset(stream(doc, path), set)) << path;
    return set;
}

std::string res_path(int rr, const char *leaf)
{
    char name[64];
    std::snprintf(name, sizeof name, "%s/Resolution %04d/%s", kStore.c_str(), rr, leaf);
    return name;
}

Document build(const WriteOptions &o, const Image &img)
{
    Document doc;
    const std::string err = build_document(o, img, doc);
    EXPECT_EQ(err, "");
    return doc;
}

Image rgb_picture(int w, int h)
{
    Image s = make_synthetic(w, h);
    Image out;
    out.width = w, out.height = h, out.channels = 3;
    for (size_t i = 0; i < s.samples.size(); i += 4)
        out.samples.insert(out.samples.end(), s.samples.begin() + long(i), s.samples.begin() + long(i) + 3);
    return out;
}

Image grey_picture(int w, int h)
{
    Image out;
    out.width = w, out.height = h, out.channels = 1;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            out.samples.push_back(uint8_t((x * 7 + y * 3 + (x * y) % 13) & 0xFF));
    return out;
}

// Checks that the raw tiles of one resolution hold the picture's samples,
// with the last column and row repeated outside the picture.
void expect_raw_tiles_equal(const Document &doc, int rr, const Image &img)
{
    Subimage sub;
    ASSERT_TRUE(parse_subimage(stream(doc, res_path(rr, "Subimage 0000 Header")), sub));
    const std::vector<uint8_t> data = stream(doc, res_path(rr, "Subimage 0000 Data"));
    const int c = img.channels;
    const int across = (img.width + 63) / 64;
    ASSERT_EQ(sub.values[1], uint32_t(img.width));
    ASSERT_EQ(sub.values[2], uint32_t(img.height));
    ASSERT_EQ(sub.values[6], uint32_t(c));
    for (size_t k = 0; k < sub.tiles.size(); ++k) {
        ASSERT_EQ(sub.tiles[k].type, kTileRaw) << k;
        ASSERT_EQ(sub.tiles[k].length, uint32_t(64 * 64 * c));
        const std::vector<uint8_t> tile = tile_bytes(data, sub.tiles[k]);
        ASSERT_EQ(tile.size(), size_t(64 * 64 * c));
        const int tx = int(k) % across, ty = int(k) / across;
        for (int y = 0; y < 64; ++y)
            for (int x = 0; x < 64; ++x) {
                const int sx = std::min(tx * 64 + x, img.width - 1), sy = std::min(ty * 64 + y, img.height - 1);
                for (int ch = 0; ch < c; ++ch)
                    ASSERT_EQ(tile[size_t((y * 64 + x) * c + ch)], img.pixel(sx, sy)[ch])
                        << "tile " << k << " at " << x << "," << y;
            }
    }
}

} // namespace

TEST(FpxDocument, RawRgbTilesCarryTheInputPixels)
{
    WriteOptions o;
    o.compression = Compression::raw;
    o.flat_tiles = FlatTiles::never;
    o.resolutions = 1;
    const Image img = rgb_picture(150, 70);  // 3 x 2 tiles, partial last column and row
    const Document doc = build(o, img);
    expect_raw_tiles_equal(doc, 0, img);
}

TEST(FpxDocument, RawMonochromeTilesCarryTheInputPixels)
{
    WriteOptions o;
    o.colour = ColourSpace::monochrome;
    o.compression = Compression::raw;
    o.flat_tiles = FlatTiles::never;
    const Image img = grey_picture(70, 46);
    const Document doc = build(o, img);
    expect_raw_tiles_equal(doc, 1, img);
    const PropSet ic = props(doc, kStore + "/\005Image Contents");
    const Prop *colour = ic.find(0x02010002);
    ASSERT_NE(colour, nullptr);
    EXPECT_EQ(colour->u32(4), 1u);   // colour count
    EXPECT_EQ(colour->u32(8), 1u);   // one channel
    EXPECT_EQ(colour->u32(12), 0x80010000u);  // code 0, monochrome
}

TEST(FpxDocument, TileTableAndStreamHeadersHaveTheRealLayout)
{
    WriteOptions o;
    o.compression = Compression::raw;
    o.flat_tiles = FlatTiles::never;
    const Image img = rgb_picture(70, 46);
    const Document doc = build(o, img);
    Subimage sub;
    ASSERT_TRUE(parse_subimage(stream(doc, res_path(1, "Subimage 0000 Header")), sub));
    // The values real 70 x 46 RGB files carry.
    const uint32_t expected[9] = {36, 70, 46, 2, 64, 64, 3, 36, 16};
    for (int k = 0; k < 9; ++k)
        EXPECT_EQ(sub.values[k], expected[k]) << k;
    ASSERT_EQ(sub.tiles.size(), 2u);
    EXPECT_EQ(sub.tiles[0].offset, 28u);
    EXPECT_EQ(sub.tiles[1].offset, 12344u);
    const uint8_t header[28] = {0xFE, 0xFF, 0, 0, 3, 0, 0, 0, 0x00, 0x00, 0x01, 0x00, 0x54, 0xC1,
                                0xCE, 0x11, 0x85, 0x53, 0x00, 0xAA, 0x00, 0xA1, 0xF9, 0x5B, 1, 0, 0, 0};
    EXPECT_EQ(sub.streamHeader, std::vector<uint8_t>(header, header + 28));
    const std::vector<uint8_t> data = stream(doc, res_path(1, "Subimage 0000 Data"));
    EXPECT_EQ(data.size(), 24660u);
    std::vector<uint8_t> data_header(header, header + 28);
    data_header[9] = 0x01;  // the data stream's class identifier 00010100-...
    EXPECT_EQ(std::vector<uint8_t>(data.begin(), data.begin() + 28), data_header);
    // Lower resolution: 35 x 23, one tile.
    Subimage low;
    ASSERT_TRUE(parse_subimage(stream(doc, res_path(0, "Subimage 0000 Header")), low));
    EXPECT_EQ(low.values[1], 35u);
    EXPECT_EQ(low.values[2], 23u);
    EXPECT_EQ(low.values[3], 1u);
}

TEST(FpxDocument, PyramidHalvesByTwoByTwoMeansDownTo64)
{
    WriteOptions o;
    o.compression = Compression::raw;
    o.flat_tiles = FlatTiles::never;
    const Image img = rgb_picture(300, 201);
    const Document doc = build(o, img);
    const PropSet ic = props(doc, kStore + "/\005Image Contents");
    ASSERT_NE(ic.find(0x01000000), nullptr);
    EXPECT_EQ(ic.find(0x01000000)->u32(), 4u);  // 300, 150, 75, 37
    const uint32_t sizes[4][2] = {{37, 25}, {75, 50}, {150, 100}, {300, 201}};
    for (uint32_t rr = 0; rr < 4; ++rr) {
        ASSERT_NE(ic.find((rr << 16) | 0x02000000), nullptr);
        EXPECT_EQ(ic.find((rr << 16) | 0x02000000)->u32(), sizes[rr][0]);
        EXPECT_EQ(ic.find((rr << 16) | 0x02000001)->u32(), sizes[rr][1]);
        EXPECT_GE(doc.find(res_path(int(rr), "Subimage 0000 Data")), 0);
    }
    // Resolution 2 is the 2 x 2 mean of the full picture.
    Image half;
    half.width = 150, half.height = 100, half.channels = 3;
    for (int y = 0; y < 100; ++y)
        for (int x = 0; x < 150; ++x)
            for (int c = 0; c < 3; ++c) {
                const int sum = img.pixel(2 * x, 2 * y)[c] + img.pixel(2 * x + 1, 2 * y)[c] +
                                img.pixel(2 * x, 2 * y + 1)[c] + img.pixel(2 * x + 1, 2 * y + 1)[c];
                half.samples.push_back(uint8_t((sum + 2) / 4));
            }
    expect_raw_tiles_equal(doc, 2, half);

    o.resolutions = 2;
    const Document two = build(o, img);
    EXPECT_EQ(props(two, kStore + "/\005Image Contents").find(0x01000000)->u32(), 2u);
    EXPECT_LT(two.find(res_path(2, "Subimage 0000 Data")), 0);
    o.resolutions = 11;  // 300 x 201 halves 9 times to 1 x 1: ten sizes
    Document none;
    EXPECT_NE(build_document(o, img, none), "");
}

TEST(FpxDocument, PropertySetsMatchTheRealFilesIdsAndTypes)
{
    WriteOptions o;
    o.compression = Compression::raw;
    const Document doc = build(o, rgb_picture(70, 46));
    // Image Contents: the identifiers and types of a real two-resolution
    // RGB file, in its order.
    const std::vector<std::pair<uint32_t, uint32_t>> expected = {
        {0x00000001, 0x02},   {0x01000000, 0x13},   {0x01000002, 0x13}, {0x01000003, 0x13},
        {0x01000004, 0x04},   {0x01000005, 0x04},   {0x01000006, 0x13}, {0x02010000, 0x13},
        {0x02010001, 0x13},   {0x02010002, 0x41},   {0x02010003, 0x1013}, {0x02010004, 0x03},
        {0x02000000, 0x13},   {0x02000001, 0x13},   {0x02000002, 0x41}, {0x02000003, 0x1013},
        {0x02000004, 0x03}};
    const PropSet ic = props(doc, kStore + "/\005Image Contents");
    ASSERT_EQ(ic.props.size(), expected.size());
    for (size_t k = 0; k < expected.size(); ++k) {
        EXPECT_EQ(ic.props[k].id, expected[k].first) << k;
        EXPECT_EQ(ic.props[k].type, expected[k].second) << k;
    }
    EXPECT_EQ(ic.fmtid, std::vector<uint8_t>(kFmtidImageContents.begin(), kFmtidImageContents.end()));
    EXPECT_EQ(ic.clsid, ic.fmtid);
    // The colour blob of a real RGB file, byte for byte.
    const uint8_t blob[24] = {0x14, 0, 0, 0, 1, 0, 0, 0, 3, 0, 0, 0, 0, 0, 3, 0x80, 1, 0, 3, 0x80, 2, 0, 3, 0x80};
    EXPECT_EQ(ic.find(0x02010002)->value, std::vector<uint8_t>(blob, blob + 24));
    EXPECT_FLOAT_EQ(ic.find(0x01000004)->f32(), 0.0393700787f);

    const PropSet gi = props(doc, "\005Global Info");
    const std::vector<std::pair<uint32_t, uint32_t>> gexp = {
        {1, 2}, {0x00010100, 0x1013}, {0x00010101, 0x13}, {0x00010102, 0x13}, {0x00010103, 0x13}};
    ASSERT_EQ(gi.props.size(), gexp.size());
    for (size_t k = 0; k < gexp.size(); ++k) {
        EXPECT_EQ(gi.props[k].id, gexp[k].first);
        EXPECT_EQ(gi.props[k].type, gexp[k].second);
    }
    EXPECT_EQ(gi.find(0x00010101)->u32(), 1u);
    EXPECT_EQ(gi.find(0x00010102)->u32(), 0u);  // no transform
    EXPECT_LT(doc.find("\005Transform 000001"), 0);

    const PropSet dobj = props(doc, "\005Data Object 000001");
    ASSERT_NE(dobj.find(0x00010100), nullptr);
    EXPECT_EQ(dobj.find(0x00010100)->u32() & 0xFFFF, 1u);  // the short that marks the object
    EXPECT_EQ(dobj.find(0x10000000)->u32(), 46u);
    EXPECT_EQ(dobj.find(0x10000001)->u32(), 70u);

    // The class test reads 16 bytes at byte 8 of the summary stream.
    const std::vector<uint8_t> summary = stream(doc, "\005SummaryInformation");
    const uint8_t fmtid[16] = {0xE0, 0x85, 0x9F, 0xF2, 0xF9, 0x4F, 0x68, 0x10,
                               0xAB, 0x91, 0x08, 0x00, 0x2B, 0x27, 0xB3, 0xD9};
    EXPECT_EQ(std::vector<uint8_t>(summary.begin() + 8, summary.begin() + 24), std::vector<uint8_t>(fmtid, fmtid + 16));
    const PropSet si = props(doc, "\005SummaryInformation");
    EXPECT_EQ(si.find(0x0C)->type, 0x40u);
    // 2000-01-01 as FILETIME ticks.
    EXPECT_EQ(uint64_t(si.find(0x0C)->u32()) | uint64_t(si.find(0x0C)->u32(4)) << 32, 125911584000000000ull);
}

TEST(FpxDocument, DirectoryOrderFollowsRealFiles)
{
    WriteOptions o;
    o.transform.contrast = 1.5f;
    const Document doc = build(o, rgb_picture(100, 80));
    std::vector<std::string> names;
    for (const DocumentEntry &e : doc.entries)
        names.push_back(e.name);
    const std::vector<std::string> expected = {
        "Root Entry", "\005SummaryInformation", "\005Global Info", "\005Data Object 000001",
        "\005Transform 000001", "\001CompObj", kStore, "\005SummaryInformation", "\005Image Contents",
        "ICC Profile 0001", "\001CompObj", "Resolution 0001", "Subimage 0000 Header",
        "Subimage 0000 Data", "Resolution 0000", "Subimage 0000 Header", "Subimage 0000 Data"};
    EXPECT_EQ(names, expected);
}

TEST(FpxDocument, SingleColourTilesAutomaticForcedAndAlways)
{
    // Left tile column flat, right one textured.
    Image img = rgb_picture(128, 64);
    for (int y = 0; y < 64; ++y)
        for (int x = 0; x < 64; ++x) {
            uint8_t *p = &img.samples[size_t((y * 128 + x) * 3)];
            p[0] = 10, p[1] = 20, p[2] = 30;
        }
    WriteOptions o;
    o.resolutions = 1;
    Document doc = build(o, img);
    Subimage sub;
    ASSERT_TRUE(parse_subimage(stream(doc, res_path(0, "Subimage 0000 Header")), sub));
    ASSERT_EQ(sub.tiles.size(), 2u);
    EXPECT_EQ(sub.tiles[0].type, kTileSingleColour);
    EXPECT_EQ(std::vector<uint8_t>(sub.tiles[0].subtype, sub.tiles[0].subtype + 4), (std::vector<uint8_t>{10, 20, 30, 0}));
    EXPECT_EQ(sub.tiles[0].length, 64u * 64 * 3);  // the raw samples follow, as in real files
    const std::vector<uint8_t> data = stream(doc, res_path(0, "Subimage 0000 Data"));
    const std::vector<uint8_t> raw = tile_bytes(data, sub.tiles[0]);
    for (size_t i = 0; i < raw.size(); i += 3)
        ASSERT_EQ((std::vector<uint8_t>{raw[i], raw[i + 1], raw[i + 2]}), (std::vector<uint8_t>{10, 20, 30}));
    EXPECT_EQ(sub.tiles[1].type, kTileJpeg);

    o.flat_tiles = FlatTiles::never;
    doc = build(o, img);
    ASSERT_TRUE(parse_subimage(stream(doc, res_path(0, "Subimage 0000 Header")), sub = Subimage{}));
    EXPECT_EQ(sub.tiles[0].type, kTileJpeg);

    o.flat_tiles = FlatTiles::automatic;
    o.flat_tile_list = {1};
    doc = build(o, img);
    ASSERT_TRUE(parse_subimage(stream(doc, res_path(0, "Subimage 0000 Header")), sub = Subimage{}));
    EXPECT_EQ(sub.tiles[1].type, kTileSingleColour);
    o.flat_tile_list = {2};
    EXPECT_NE(build_document(o, img, doc), "");

    o.flat_tile_list.clear();
    o.flat_tiles = FlatTiles::always;
    o.colour = ColourSpace::monochrome;
    o.resolutions = 0;
    doc = build(o, grey_picture(70, 46));
    for (int rr = 0; rr < 2; ++rr) {
        ASSERT_TRUE(parse_subimage(stream(doc, res_path(rr, "Subimage 0000 Header")), sub = Subimage{}));
        for (const TileEntry &t : sub.tiles) {
            EXPECT_EQ(t.type, kTileSingleColour);
            EXPECT_EQ(t.length, 4096u);
            EXPECT_EQ(t.subtype[1], 0);
        }
    }
}

TEST(FpxDocument, MixedCompressionAlternatesRawAndJpeg)
{
    WriteOptions o;
    o.compression = Compression::mixed;
    o.flat_tiles = FlatTiles::never;
    o.resolutions = 1;
    const Document doc = build(o, rgb_picture(200, 130));
    Subimage sub;
    ASSERT_TRUE(parse_subimage(stream(doc, res_path(0, "Subimage 0000 Header")), sub));
    ASSERT_EQ(sub.tiles.size(), 12u);
    for (size_t k = 0; k < sub.tiles.size(); ++k) {
        EXPECT_EQ(sub.tiles[k].type, k % 2 == 0 ? kTileRaw : kTileJpeg) << k;
        // Offsets: each tile follows the one before after a 28-byte gap.
        if (k > 0) {
            EXPECT_EQ(sub.tiles[k].offset, sub.tiles[k - 1].offset + sub.tiles[k - 1].length + 28);
        }
    }
}

TEST(FpxDocument, ChannelCodesOrderOpacityAndInversion)
{
    struct Case {
        ColourSpace colour;
        bool opacity;
        const char *order;
        bool invert;
        std::vector<uint32_t> words;  // code | space << 16 per channel
    } cases[] = {
        {ColourSpace::rgb, false, "", false, {0x80030000, 0x80030001, 0x80030002}},
        {ColourSpace::rgb, true, "", false, {0x80030000, 0x80030001, 0x80030002, 0x80037FFE}},
        {ColourSpace::rgb, false, "GRB", false, {0x80030001, 0x80030000, 0x80030002}},
        {ColourSpace::rgb, true, "ABGR", false, {0x80037FFE, 0x80030002, 0x80030001, 0x80030000}},
        {ColourSpace::rgb, false, "", true, {0x80038000, 0x80030001, 0x80030002}},
        {ColourSpace::monochrome, true, "", false, {0x80010000, 0x80017FFE}},
        {ColourSpace::photoycc, false, "", false, {0x00020000, 0x00020001, 0x00020002}},
        {ColourSpace::photoycc, true, "", false, {0x00020000, 0x00020001, 0x00020002, 0x00027FFE}},
    };
    for (const Case &c : cases) {
        WriteOptions o;
        o.colour = c.colour;
        o.opacity = c.opacity;
        o.channel_order = c.order;
        o.invert = c.invert;
        if (*c.order && std::string(c.order) != "RGB")
            o.colour_conversion = 0;
        if (c.opacity && *c.order && c.order[std::strlen(c.order) - 1] != 'A')
            o.compression = Compression::raw;  // JPEG tiles need the opacity last
        const Document doc = build(o, make_synthetic(80, 40));
        const PropSet ic = props(doc, kStore + "/\005Image Contents");
        for (uint32_t rr = 0; rr < 2; ++rr) {
            const Prop *colour = ic.find((rr << 16) | 0x02000002);
            ASSERT_NE(colour, nullptr);
            EXPECT_EQ(colour->u32(), 8 + 4 * c.words.size());  // blob size
            ASSERT_EQ(colour->u32(8), c.words.size());
            for (size_t k = 0; k < c.words.size(); ++k)
                EXPECT_EQ(colour->u32(12 + 4 * k), c.words[k]) << c.order << " channel " << k;
        }
        Subimage sub;
        ASSERT_TRUE(parse_subimage(stream(doc, res_path(1, "Subimage 0000 Header")), sub));
        EXPECT_EQ(sub.values[6], c.words.size());
    }
}

TEST(FpxDocument, StoredSamplesFollowChannelOrderAndOpacity)
{
    const Image img = make_synthetic(64, 64);  // RGBA
    WriteOptions o;
    o.compression = Compression::raw;
    o.flat_tiles = FlatTiles::never;
    o.opacity = true;
    o.channel_order = "GARB";
    const Document doc = build(o, img);
    Subimage sub;
    ASSERT_TRUE(parse_subimage(stream(doc, res_path(0, "Subimage 0000 Header")), sub));
    const std::vector<uint8_t> tile = tile_bytes(stream(doc, res_path(0, "Subimage 0000 Data")), sub.tiles[0]);
    ASSERT_EQ(tile.size(), 64u * 64 * 4);
    for (int i = 0; i < 64 * 64; ++i) {
        const uint8_t *p = &img.samples[size_t(i) * 4];
        const int a = p[3];
        auto pre = [a](int v) { return (v * a + 127) / 255; };
        ASSERT_EQ(tile[size_t(i) * 4 + 0], pre(p[1]));
        ASSERT_EQ(tile[size_t(i) * 4 + 1], a);
        ASSERT_EQ(tile[size_t(i) * 4 + 2], pre(p[0]));
        ASSERT_EQ(tile[size_t(i) * 4 + 3], pre(p[2]));
    }
}

TEST(FpxDocument, RawPhotoYccDecodesBackThroughTheReadersTables)
{
    const Image img = rgb_picture(64, 64);
    WriteOptions o;
    o.colour = ColourSpace::photoycc;
    o.compression = Compression::raw;
    o.flat_tiles = FlatTiles::never;
    const Document doc = build(o, img);
    Subimage sub;
    ASSERT_TRUE(parse_subimage(stream(doc, res_path(0, "Subimage 0000 Header")), sub));
    const std::vector<uint8_t> tile = tile_bytes(stream(doc, res_path(0, "Subimage 0000 Data")), sub.tiles[0]);
    ASSERT_EQ(tile.size(), 64u * 64 * 3);
    // The PhotoYCC tables of the import: entry = (int)(x + 0.5).
    auto table = [](int i, double offset, double scale) { return int((i - offset) * scale + 0.5); };
    auto clamp = [](int v) { return v < 0 ? 0 : v > 255 ? 255 : v; };
    int worst = 0;
    for (int i = 0; i < 64 * 64; ++i) {
        const int Y = tile[size_t(i) * 3], C1 = tile[size_t(i) * 3 + 1], C2 = tile[size_t(i) * 3 + 2];
        const int y = int(Y * 1.358 + 0.5);
        const int rgb[3] = {clamp(y + table(C2, 137, 1.8215)),
                            clamp(y + table(C1, 156, -0.4302726) + table(C2, 137, -0.9271435)),
                            clamp(y + table(C1, 156, 2.2179))};
        for (int c = 0; c < 3; ++c)
            worst = std::max(worst, std::abs(rgb[c] - img.samples[size_t(i) * 3 + size_t(c)]));
    }
    // Y has 1.358 levels per step, so the round trip loses up to about 2.
    EXPECT_LE(worst, 3);
}

TEST(FpxDocument, TransformValuesGoToTheTransformSet)
{
    WriteOptions o;
    TransformOptions &t = o.transform;
    t.aspect_ratio = 1.25f;
    t.region = std::array<float, 4>{0.1f, 0.2f, 1.0f, 0.9f};
    t.filtering = -7.0f;
    t.affine = std::array<float, 16>{0, -1, 0, 0.5f, 1, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};
    t.colour_twist = std::array<float, 16>{1, 0, 0, 0, 0, 0.5f, 0, 0.25f, 0, 0, 2, 0, 0, 0, 0, 1};
    t.contrast = 2.0f;
    const Document doc = build(o, rgb_picture(90, 60));
    EXPECT_EQ(props(doc, "\005Global Info").find(0x00010102)->u32(), 1u);
    const PropSet ts = props(doc, "\005Transform 000001");
    ASSERT_EQ(ts.props.size(), 7u);
    EXPECT_EQ(ts.find(0x10000000)->type, 0x04u);
    EXPECT_FLOAT_EQ(ts.find(0x10000000)->f32(), 1.25f);
    EXPECT_EQ(ts.find(0x10000001)->type, 0x1004u);
    EXPECT_EQ(ts.find(0x10000001)->u32(), 4u);
    EXPECT_FLOAT_EQ(ts.find(0x10000001)->f32(4), 0.1f);
    EXPECT_FLOAT_EQ(ts.find(0x10000001)->f32(16), 0.9f);
    EXPECT_FLOAT_EQ(ts.find(0x10000002)->f32(), -7.0f);
    EXPECT_EQ(ts.find(0x10000003)->u32(), 16u);
    EXPECT_FLOAT_EQ(ts.find(0x10000003)->f32(4 + 4), -1.0f);
    EXPECT_FLOAT_EQ(ts.find(0x10000003)->f32(4 + 12), 0.5f);
    EXPECT_EQ(ts.find(0x10000004)->u32(), 16u);
    EXPECT_FLOAT_EQ(ts.find(0x10000004)->f32(4 + 28), 0.25f);
    EXPECT_FLOAT_EQ(ts.find(0x10000005)->f32(), 2.0f);

    // Only the values given are written; --transform alone gives an empty set.
    WriteOptions only;
    only.transform.write = true;
    const PropSet empty = props(build(only, rgb_picture(90, 60)), "\005Transform 000001");
    ASSERT_EQ(empty.props.size(), 1u);
    EXPECT_EQ(empty.props[0].id, 1u);
}

TEST(FpxDocument, OptionCombinationsThatCannotBeStoredAreRefused)
{
    const Image img = rgb_picture(64, 64);
    struct Bad {
        const char *what;
        void (*set)(WriteOptions &);
    } cases[] = {
        {"order with conversion", [](WriteOptions &o) { o.channel_order = "BGR", o.colour_conversion = 1; }},
        {"order not a permutation", [](WriteOptions &o) { o.channel_order = "RRB"; }},
        {"opacity letter missing", [](WriteOptions &o) { o.opacity = true, o.channel_order = "RGB"; }},
        {"order on mono", [](WriteOptions &o) { o.colour = ColourSpace::monochrome, o.channel_order = "R"; }},
        {"conversion on PhotoYCC", [](WriteOptions &o) { o.colour = ColourSpace::photoycc, o.colour_conversion = 1; }},
        {"invert on mono", [](WriteOptions &o) { o.colour = ColourSpace::monochrome, o.invert = true; }},
        {"subsampling on mono", [](WriteOptions &o) { o.colour = ColourSpace::monochrome, o.subsampling = 0x22; }},
        {"subsampling on plain RGB", [](WriteOptions &o) { o.colour_conversion = 0, o.subsampling = 0x21; }},
        {"subsampling 0x12", [](WriteOptions &o) { o.subsampling = 0x12; }},
        {"quality 0", [](WriteOptions &o) { o.quality = 0; }},
        {"256 table sets", [](WriteOptions &o) { o.table_sets = 256; }},
        {"opacity before a colour, JPEG",
         [](WriteOptions &o) { o.opacity = true, o.channel_order = "RAGB", o.colour_conversion = 0; }},
        {"opacity before a colour, mixed",
         [](WriteOptions &o) { o.opacity = true, o.channel_order = "ARGB", o.compression = Compression::mixed; }},
        {"opacity before a colour, forced flat tile",
         [](WriteOptions &o) {
             o.opacity = true, o.channel_order = "BGAR", o.compression = Compression::raw;
             o.flat_tile_list = {0};
         }},
        {"opacity before a colour, every tile flat",
         [](WriteOptions &o) {
             o.opacity = true, o.channel_order = "GRAB", o.compression = Compression::raw;
             o.flat_tiles = FlatTiles::always;
         }},
        {"invert bit on the opacity channel",
         [](WriteOptions &o) {
             o.opacity = true, o.channel_order = "ARGB", o.compression = Compression::raw, o.invert = true;
         }},
    };
    for (const Bad &b : cases) {
        WriteOptions o;
        b.set(o);
        Document doc;
        EXPECT_NE(build_document(o, img, doc), "") << b.what;
    }
}

TEST(FpxDocument, TinyAndOddSizes)
{
    const struct {
        int w, h, levels;
    } cases[] = {{1, 1, 1}, {1, 200, 3}, {65, 1, 2}, {64, 64, 1}, {128, 65, 2}, {129, 129, 2}};
    for (const auto &c : cases) {
        WriteOptions o;
        o.compression = Compression::raw;
        o.flat_tiles = FlatTiles::never;
        const Image img = rgb_picture(c.w, c.h);
        const Document doc = build(o, img);
        const PropSet ic = props(doc, kStore + "/\005Image Contents");
        ASSERT_NE(ic.find(0x01000000), nullptr);
        EXPECT_EQ(ic.find(0x01000000)->u32(), uint32_t(c.levels)) << c.w << "x" << c.h;
        expect_raw_tiles_equal(doc, c.levels - 1, img);
        // The smallest resolution is 64 pixels or less on both sides.
        EXPECT_LE(ic.find(0x02000000)->u32(), 64u);
        EXPECT_LE(ic.find(0x02000001)->u32(), 64u);
    }
}

// A flat tile becomes a single-colour tile whose first subtype bytes are the
// colours in file order, the opacity last: the import fills the tile from
// the first three bytes and then reorders them like raw samples. With the
// opacity before a colour those three bytes would mix it in, so such a
// picture keeps raw tiles.
TEST(FpxDocument, SingleColourTilesCarryTheColoursFirst)
{
    Image flat;
    flat.width = 64, flat.height = 64, flat.channels = 4;
    for (int i = 0; i < 64 * 64; ++i)
        flat.samples.insert(flat.samples.end(), {200, 100, 50, 255});
    const struct {
        const char *order;
        uint32_t type;
        std::array<uint8_t, 4> subtype;
    } cases[] = {
        {"RGBA", kTileSingleColour, {200, 100, 50, 255}},
        {"BGRA", kTileSingleColour, {50, 100, 200, 255}},
        {"RAGB", kTileRaw, {0, 0, 0, 0}},
        {"ABGR", kTileRaw, {0, 0, 0, 0}},
    };
    for (const auto &c : cases) {
        WriteOptions o;
        o.opacity = true;
        o.channel_order = c.order;
        o.compression = Compression::raw;
        const Document doc = build(o, flat);
        Subimage sub;
        ASSERT_TRUE(parse_subimage(stream(doc, res_path(0, "Subimage 0000 Header")), sub));
        ASSERT_EQ(sub.tiles.size(), 1u);
        EXPECT_EQ(sub.tiles[0].type, c.type) << c.order;
        for (int k = 0; k < 4; ++k)
            EXPECT_EQ(sub.tiles[0].subtype[k], c.subtype[size_t(k)]) << c.order << " byte " << k;
        // The tile's own samples follow in the data stream either way.
        EXPECT_EQ(sub.tiles[0].length, 64u * 64 * 4) << c.order;
    }
    // Opacity last, JPEG tiles and the inverted-output bit stay allowed.
    WriteOptions jpeg;
    jpeg.opacity = true;
    jpeg.invert = true;
    jpeg.flat_tiles = FlatTiles::never;
    const Document doc = build(jpeg, flat);
    Subimage sub;
    ASSERT_TRUE(parse_subimage(stream(doc, res_path(0, "Subimage 0000 Header")), sub));
    EXPECT_EQ(sub.tiles[0].type, kTileJpeg);
    EXPECT_EQ(sub.tiles[0].subtype[2], kColourConversionOn);
}
