// The tile renderer: corpus pictures, bands, the filter's lag, clip, cancel, tile edits, a turned picture.
#include "import_harness.h"

#include "fpx/fpx_format.h"

#include <kxfpx/codes.h>

#include <algorithm>
#include <cstring>

using namespace kxtest;
using namespace kxfpx::fpx;

namespace {

// The ImageRows lines without their checksums: "p0 p1 p2 WxB format 1".
Lines bands(const ImportOutcome &out)
{
    Lines lines;
    for (std::string line : out.only({"ImageRows"}))
        lines.push_back(line.substr(0, line.rfind(" crc=")));
    return lines;
}

} // namespace

TEST(TileRender, CorpusPicturesEqualTheirExpectedPngs)
{
    KX_REQUIRE_CORPUS();
    for (const std::string name : {"rose_rgb", "rose_grey", "rose_bw", "bw_one_band", "bw_fill",
                                   "raw_blur_contrast", "jpeg_ycbcr_420", "jpeg_progressive", "jpeg_ycc_opacity"}) {
        const ImportOutcome out = import_file(corpus_file(name + ".fpx"));
        EXPECT_EQ(out.code, KX_OK) << name;
        fpxw::Image want;
        ASSERT_EQ(fpxw::load_png(corpus_file(name + ".expected.png"), want), "");
        expect_same(out.picture, want, name);
    }
    // Five channels claimed for a one-channel file: it ends cleanly.
    const ImportOutcome five = import_file(corpus_file("bw_five_bands.fpx"));
    EXPECT_EQ(five.code, KX_OK);
    EXPECT_EQ(five.only({"EndImage"}).size(), 1u);
}

TEST(TileRender, BandsRowCountsAndCornerPoints)
{
    // 100 x 70 RGB: two tiles across, two strips, the second of 6 rows.
    ImportOutcome out = import_fpx(raw_options(), picture(100, 70));
    ASSERT_EQ(out.code, KX_OK);
    EXPECT_EQ(out.only({"BeginImage"}), Lines{"BeginImage 0,70 100,0 100,70 100x70 -24 1 1 3 0"});
    EXPECT_EQ(bands(out), (Lines{"ImageRows 0,70 100,6 100,70 100x64 -24 1", "ImageRows 0,6 100,0 100,6 100x6 -24 1"}));

    // 700 wide: rows of 2100 bytes, 15 to a band of at most 32767 bytes.
    out = import_fpx(raw_options(), picture(700, 64));
    ASSERT_EQ(out.code, KX_OK);
    Lines sizes;
    for (const std::string &b : bands(out))
        sizes.push_back(b.substr(b.find(" 700x") + 1, b.find(" -24") - b.find(" 700x") - 1));
    EXPECT_EQ(sizes, (Lines{"700x15", "700x15", "700x15", "700x15", "700x4"}));

    // Sizes that are not multiples of 64, grey and colour, come back exactly.
    for (auto [w, h] : {std::pair{1, 1}, {65, 129}, {64, 64}, {130, 3}})
        for (int channels : {1, 3}) {
            const fpxw::Image src = picture(w, h, channels);
            const auto colour = channels == 1 ? fpxw::ColourSpace::monochrome : fpxw::ColourSpace::rgb;
            out = import_fpx(raw_options(1, colour), src);
            ASSERT_EQ(out.code, KX_OK);
            expect_same(out.picture, src, std::to_string(w) + "x" + std::to_string(h));
            EXPECT_NE(out.only({"BeginImage"})[0].find(channels == 1 ? " -8 1 1 3 0" : " -24 1 1 3 0"),
                      std::string::npos);
        }
}

TEST(TileRender, FilteringLagsThreeRowsBehindTheStrips)
{
    fpxw::WriteOptions o = raw_options();
    o.transform.filtering = -7.0f;
    ImportOutcome out = import_fpx(o, picture(50, 100));
    ASSERT_EQ(out.code, KX_OK);
    EXPECT_EQ(bands(out), (Lines{"ImageRows 0,100 50,39 50,100 50x61 -24 1", "ImageRows 0,39 50,3 50,39 50x36 -24 1"}));
    for (int h : {1, 3}) {
        out = import_fpx(o, picture(50, h));
        EXPECT_EQ(out.code, KX_OK);
        EXPECT_TRUE(bands(out).empty()) << h << " rows";
        EXPECT_EQ(out.only({"EndImage"}).size(), 1u);
    }
}

TEST(TileRender, ClipPolygonOnlyForARegionOfInterest)
{
    fpxw::WriteOptions o = raw_options();
    o.transform.region = std::array<float, 4>{0.1f, 0.2f, 1.0f, 1.0f};
    ImportOutcome out = import_fpx(o, picture(100, 100));
    ASSERT_EQ(out.code, KX_OK);
    const Lines calls = out.only({"BeginRegion", "Polygon", "EndRegion", "SetRegionIndicator", "BeginImage"});
    ASSERT_EQ(calls.size(), 5u);
    EXPECT_EQ(calls[0], "BeginRegion 1");
    EXPECT_EQ(calls[1], "Polygon 4 10,80 10,0 100,0 100,80");
    EXPECT_EQ(calls[3], "SetRegionIndicator 1 2");
    EXPECT_EQ(calls[4].rfind("BeginImage", 0), 0u);
    o.transform.region = std::array<float, 4>{0.0f, 0.0f, 0.5f, 1.0f};
    EXPECT_TRUE(import_fpx(o, picture(100, 100)).only({"Polygon"}).empty());
}

TEST(TileRender, CancelAndBadTilesEndTheImageAfterTheStripsSent)
{
    const auto third_tile = [](size_t field, uint32_t value) {  // in the second strip
        return edit_tiles([=](int t, uint8_t *e) {
            if (t == 2)
                std::memcpy(e + 4 * field, &value, 4);
        });
    };
    const struct { ImportRequest request; Edit edit; int32_t code; } cases[] = {
        {{InputSource::path, 2, false, "", {0, 1, 1}}, {}, KX_CANCELLED},  // cancel after the first strip
        {{}, third_tile(1, 0), KX_MISSING_STRUCTURE},                      // a tile of length 0
        {{}, third_tile(2, kTileInvalid), KX_MISSING_STRUCTURE}};
    for (const auto &c : cases) {
        const ImportOutcome out = import_fpx(raw_options(), picture(70, 150), c.edit, c.request);
        EXPECT_EQ(out.code, c.code);
        EXPECT_EQ(out.errors, c.code == KX_CANCELLED ? std::vector<int32_t>{} : std::vector<int32_t>{c.code});
        EXPECT_EQ(bands(out).size(), 1u);
        EXPECT_EQ(out.only({"EndImage"}).size(), 1u);
    }
}

TEST(TileRender, SingleColourTilesChannelOrdersAndTileOrder)
{
    fpxw::WriteOptions o = raw_options();
    o.flat_tile_list = {0};
    o.flat_colour = {10, 20, 30};
    ImportOutcome out = import_fpx(o, picture(100, 70));
    ASSERT_EQ(out.code, KX_OK);
    for (int y = 0; y < 64; y += 9)
        for (int x = 0; x < 64; x += 7)
            EXPECT_EQ(std::vector<uint8_t>(out.picture.pixel(x, y), out.picture.pixel(x, y) + 3),
                      (std::vector<uint8_t>{10, 20, 30}));

    // Channel orders (opacity last, first, between colours) give the plain picture.
    const fpxw::Image src = picture(90, 70);
    for (const char *order : {"BGR", "RGBA", "ARGB", "RBAG"}) {
        fpxw::WriteOptions c = raw_options();
        c.channel_order = order;
        c.opacity = std::strlen(order) == 4;
        out = import_fpx(c, src);
        ASSERT_EQ(out.code, KX_OK) << order;
        expect_same(out.picture, src, order);
    }
    // Tiles 0 and 3 exchange offsets: tile 0 shows tile 3 (edge repeated), tile 3's 26 x 6 corner tile 0's.
    uint8_t *first = nullptr;
    out = import_fpx(raw_options(), src, edit_tiles([&](int t, uint8_t *e) {
                         first = t == 0 ? e : first;
                         if (t == 3)
                             std::swap_ranges(first, first + 4, e);
                     }));
    ASSERT_EQ(out.code, KX_OK);
    fpxw::Image want = src;
    auto put = [&](int x, int y, int sx, int sy) {
        std::memcpy(want.samples.data() + (size_t(y) * 90 + x) * 3, src.pixel(sx, sy), 3);
    };
    for (int y = 0; y < 64; ++y)
        for (int x = 0; x < 64; ++x)
            put(x, y, std::min(64 + x, 89), std::min(64 + y, 69));
    for (int y = 64; y < 70; ++y)
        for (int x = 64; x < 90; ++x)
            put(x, y, x - 64, y - 64);
    expect_same(out.picture, want, "tiles 0 and 3 exchanged");
}

TEST(TileRender, JpegTableIndexAboveTheFilesTablesGetsAnEmptySetOfItsOwn)
{
    const fpxw::Image src = picture(80, 70);
    const auto index_to = [](uint8_t index) { return edit_tiles([index](int, uint8_t *e) { e[12 + 3] = index; }); };
    fpxw::WriteOptions o;
    o.resolutions = 1;
    EXPECT_EQ(import_fpx(o, src, index_to(2)).code, KX_MISSING_STRUCTURE);  // shared tables: set 2 missing
    o.tables_in_tiles = true;
    const ImportOutcome base = import_fpx(o, src);
    ASSERT_EQ(base.code, KX_OK);
    const ImportOutcome high = import_fpx(o, src, index_to(9));
    EXPECT_EQ(high.code, KX_OK);
    expect_same(high.picture, base.picture, "tables in the tiles, index 9");
}

TEST(TileRender, TurnedPictureIsDrawnWhole)
{
    fpxw::WriteOptions o = raw_options();
    o.transform.affine = std::array<float, 16>{0, -1, 0, 0, 1, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};
    const fpxw::Image src = picture(120, 80);
    const ImportOutcome out = import_fpx(o, src);
    ASSERT_EQ(out.code, KX_OK);
    ASSERT_EQ(out.picture.width, 200);
    ASSERT_EQ(out.picture.height, 120);
    // The image fills the 80 columns left of the extent; source row j runs up column j.
    for (int y = 0; y < 120; y += 11)
        for (int x = 0; x < 80; x += 13)
            EXPECT_EQ(std::memcmp(out.picture.pixel(x, y), src.pixel(119 - y, x), 3), 0) << x << "," << y;
}
