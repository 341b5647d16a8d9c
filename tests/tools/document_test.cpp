// fpxwrite's documents in memory: tiles, channel codes, transform values, refused combinations.
#include "fpxwrite_fixture.h"

using namespace fpxtest;

// Pyramid depth at the size boundaries (one tile, one past it, halving an odd side); one level too many is refused.
// Tile pixels and edge repetition: the corpus layout test, Pillow and the imports compare them.
TEST(FpxDocument, PyramidLevelsAtTinyAndOddSizes)
{
    const struct { int w, h, levels; } cases[] = {
        {1, 1, 1}, {1, 200, 3}, {65, 1, 2}, {64, 64, 1}, {129, 129, 2}, {300, 201, 4}};
    for (const auto &c : cases) {
        SCOPED_TRACE(std::to_string(c.w) + "x" + std::to_string(c.h));
        const Document doc = build(WriteOptions{}, rgb_picture(c.w, c.h));
        const PropSet ic = props(doc, kContents);
        ASSERT_NE(ic.find(0x01000000), nullptr);
        EXPECT_EQ(ic.find(0x01000000)->u32(), uint32_t(c.levels));
        const Subimage sub = subimage(doc, c.levels - 1);
        EXPECT_EQ(sub.values[1], uint32_t(c.w));
        EXPECT_EQ(sub.values[2], uint32_t(c.h));
        EXPECT_EQ(sub.tiles.size(), size_t((c.w + 63) / 64 * ((c.h + 63) / 64)));
    }
    WriteOptions o;
    o.resolutions = 11; // 300 x 201 halves 9 times to 1 x 1: ten sizes
    Document none;
    EXPECT_NE(build_document(o, rgb_picture(300, 201), none), "");
}

// Channel words (code | space << 16): plain RGB and grey are in the corpus layout test; orders and PhotoYCC with
// opacity read back to the written picture in tests/e2e and the PhotoYCC test.
TEST(FpxDocument, ChannelCodesForOpacityAndInversion)
{
    const struct { ColourSpace colour; bool opacity, invert; std::vector<uint32_t> words; } cases[] = {
        {ColourSpace::rgb, false, true, {0x80038000, 0x80030001, 0x80030002}},
        {ColourSpace::monochrome, true, false, {0x80010000, 0x80017FFE}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.words.size());
        WriteOptions o;
        o.colour = c.colour;
        o.opacity = c.opacity;
        o.invert = c.invert;
        const Document doc = build(o, make_synthetic(80, 40));
        const PropSet ic = props(doc, kContents);
        for (uint32_t rr = 0; rr < 2; ++rr) {
            const Prop *colour = ic.find((rr << 16) | 0x02000002);
            ASSERT_NE(colour, nullptr);
            EXPECT_EQ(colour->u32(), 8 + 4 * c.words.size()); // blob size
            ASSERT_EQ(colour->u32(8), c.words.size());
            for (size_t k = 0; k < c.words.size(); ++k)
                EXPECT_EQ(colour->u32(12 + 4 * k), c.words[k]) << "channel " << k;
        }
        EXPECT_EQ(subimage(doc, 1).values[6], c.words.size());
    }
}

TEST(FpxDocument, StoredSamplesFollowChannelOrderWeightedByOpacity)
{
    const Image img = make_synthetic(64, 64); // RGBA
    WriteOptions o;
    o.compression = Compression::raw;
    o.flat_tiles = FlatTiles::never;
    o.opacity = true;
    o.channel_order = "GARB";
    const std::vector<uint8_t> t = tile(build(o, img), 0, 0);
    ASSERT_EQ(t.size(), 64u * 64 * 4);
    for (size_t i = 0; i < 64 * 64; ++i) {
        const uint8_t *p = &img.samples[i * 4];
        auto pre = [a = p[3]](int v) { return (v * a + 127) / 255; };
        ASSERT_EQ(t[i * 4], pre(p[1]));
        ASSERT_EQ(t[i * 4 + 1], p[3]);
        ASSERT_EQ(t[i * 4 + 2], pre(p[0]));
        ASSERT_EQ(t[i * 4 + 3], pre(p[2]));
    }
}

// Stored transform values no import reads back against an independent answer (aspect, region and affine: the
// extents and clip tests of tests/e2e).
TEST(FpxDocument, TransformValues)
{
    WriteOptions o;
    o.transform.filtering = -7.0f;
    o.transform.colour_twist = std::array<float, 16>{1, 0, 0, 0, 0, 0.5f, 0, 0.25f, 0, 0, 2, 0, 0, 0, 0, 1};
    o.transform.contrast = 2.0f;
    const Document doc = build(o, rgb_picture(90, 60));
    EXPECT_EQ(props(doc, "\005Global Info").find(0x00010102)->u32(), 1u);
    const PropSet ts = props(doc, "\005Transform 000001");
    const struct { uint32_t id, type, count; size_t at; float value; } values[] = {
        {0x10000002, 0x04, 0, 0, -7.0f}, {0x10000004, 0x1004, 16, 32, 0.25f}, {0x10000005, 0x04, 0, 0, 2.0f}};
    for (const auto &v : values) {
        const Prop *p = ts.find(v.id);
        ASSERT_NE(p, nullptr) << std::hex << v.id;
        EXPECT_EQ(p->type, v.type) << std::hex << v.id;
        EXPECT_TRUE(!v.count || p->u32() == v.count) << std::hex << v.id;
        EXPECT_FLOAT_EQ(p->f32(v.at), v.value) << std::hex << v.id << " at " << v.at;
    }
    EXPECT_LT(build(WriteOptions{}, rgb_picture(90, 60)).find("\005Transform 000001"), 0); // none unasked
}

TEST(FpxDocument, OptionCombinationsThatCannotBeStoredAreRefused)
{
    using Set = void (*)(WriteOptions &);
    // opacity_first: that channel order with opacity, in raw tiles unless the row says otherwise.
    const struct { const char *what; Set set; const char *opacity_first = nullptr; } cases[] = {
        {"order with conversion", [](WriteOptions &o) { o.channel_order = "BGR", o.colour_conversion = 1; }},
        {"order not a permutation", [](WriteOptions &o) { o.channel_order = "RRB"; }},
        {"order on mono", [](WriteOptions &o) { o.colour = ColourSpace::monochrome, o.channel_order = "R"; }},
        {"conversion on PhotoYCC", [](WriteOptions &o) { o.colour = ColourSpace::photoycc, o.colour_conversion = 1; }},
        {"invert on mono", [](WriteOptions &o) { o.colour = ColourSpace::monochrome, o.invert = true; }},
        {"subsampling on plain RGB", [](WriteOptions &o) { o.colour_conversion = 0, o.subsampling = 0x21; }},
        {"subsampling 0x12", [](WriteOptions &o) { o.subsampling = 0x12; }},
        {"quality 0", [](WriteOptions &o) { o.quality = 0; }},
        {"256 table sets", [](WriteOptions &o) { o.table_sets = 256; }},
        {"flat tile out of range", [](WriteOptions &o) { o.flat_tile_list = {1}; }},
        {"JPEG tiles", [](WriteOptions &o) { o.compression = Compression::jpeg, o.colour_conversion = 0; }, "RAGB"},
        {"a forced flat tile", [](WriteOptions &o) { o.flat_tile_list = {0}; }, "BGAR"},
        {"every tile flat", [](WriteOptions &o) { o.flat_tiles = FlatTiles::always; }, "GRAB"},
        {"the invert bit on the opacity channel", [](WriteOptions &o) { o.invert = true; }, "ARGB"},
    };
    for (const auto &c : cases) {
        WriteOptions o;
        if (c.opacity_first)
            o.opacity = true, o.channel_order = c.opacity_first, o.compression = Compression::raw;
        c.set(o);
        Document doc;
        EXPECT_NE(build_document(o, rgb_picture(64, 64), doc), "") << c.what;
    }
}

// A flat tile's subtype bytes are its colours in file order, opacity last; opacity first keeps raw tiles.
TEST(FpxDocument, SingleColourTilesCarryTheColoursFirst)
{
    Image flat{64, 64, 4, {}};
    for (int i = 0; i < 64 * 64; ++i)
        flat.samples.insert(flat.samples.end(), {200, 100, 50, 255});
    const struct { const char *order; uint32_t type; std::array<uint8_t, 4> subtype; } cases[] = {
        {"BGRA", kTileSingleColour, {50, 100, 200, 255}}, {"RAGB", kTileRaw, {0, 0, 0, 0}}};
    for (const auto &c : cases) {
        WriteOptions o;
        o.opacity = true;
        o.channel_order = c.order;
        o.compression = Compression::raw;
        const Subimage sub = subimage(build(o, flat), 0);
        ASSERT_EQ(sub.tiles.size(), 1u);
        EXPECT_EQ(sub.tiles[0].type, c.type) << c.order;
        EXPECT_EQ(std::memcmp(sub.tiles[0].subtype, c.subtype.data(), 4), 0) << c.order;
        EXPECT_EQ(sub.tiles[0].length, 64u * 64 * 4) << c.order; // the samples follow either way
    }
    // Opacity last, JPEG tiles and the inverted-output bit stay allowed.
    WriteOptions jpeg;
    jpeg.opacity = true;
    jpeg.invert = true;
    jpeg.flat_tiles = FlatTiles::never;
    const Subimage sub = subimage(build(jpeg, flat), 0);
    EXPECT_EQ(sub.tiles[0].type, kTileJpeg);
    EXPECT_EQ(sub.tiles[0].subtype[2], kColourConversionOn);
}
