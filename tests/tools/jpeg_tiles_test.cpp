// fpxwrite's JPEG tiles decoded by libjpeg-turbo: frames, subtypes, tables, and no worse than its own coding.
#include "colour.h"
#include "fpxwrite_fixture.h"

#include <cmath>

using namespace fpxtest;

namespace {

// The tables blob of set k (its bytes after the 4-byte blob size).
std::vector<uint8_t> table_set(const PropSet &ic, uint32_t k)
{
    const Prop *p = ic.find((k << 16) | 0x03000001);
    return p ? std::vector<uint8_t>(p->value.begin() + 4, p->value.begin() + 4 + p->u32()) : std::vector<uint8_t>{};
}

struct ErrorStats {
    double sum = 0;
    long count = 0;
    void add(int a, int b) { sum += double(a - b) * (a - b), ++count; }
    double psnr() const { return 10 * std::log10(255.0 * 255.0 / std::max(1e-9, sum / double(count))); }
};

struct Result {
    ErrorStats error;
    ErrorStats reference; // libjpeg-turbo's own coding of the same tiles
    std::vector<Decoded> tiles;
    Subimage sub;
};

// Every JPEG tile of a one-resolution file decoded and compared with the picture it should show.
Result decode_full(const WriteOptions &o, const Image &img)
{
    Result r;
    const Document doc = build(o, img);
    WriteOptions resolved = o;
    EXPECT_EQ(resolve_options(resolved, img), "");
    const PropSet ic = props(doc, kContents);
    r.sub = subimage(doc, 0); // one resolution only
    const std::vector<uint8_t> data = entry(doc, res_path(0, "Subimage 0000 Data"));
    // The working picture, colours weighted by opacity when the file has an opacity channel.
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
                const uint8_t *p = work.pixel(std::min(tx * 64 + x, img.width - 1),
                                              std::min(ty * 64 + y, img.height - 1));
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
                } else if (resolved.colour_conversion == 1) { // JFIF's YCbCr to RGB
                    const double y = s[0], cb = s[1] - 128.0, cr = s[2] - 128.0;
                    const double v[3] = {y + 1.402 * cr, y - 0.344136 * cb - 0.714136 * cr, y + 1.772 * cb};
                    for (int c = 0; c < 3; ++c) {
                        const int rgb = int(std::lround(std::min(255.0, std::max(0.0, v[c]))));
                        r.error.add(resolved.invert ? 255 - rgb : rgb, want[c]);
                    }
                } else {
                    for (int c = 0; c < 3; ++c)
                        r.error.add(s[c], want[c]);
                }
            }
        r.tiles.push_back(std::move(d));
    }
    return r;
}

using Set = void (*)(WriteOptions &);

WriteOptions one_level() // JPEG tiles everywhere, full resolution only
{
    WriteOptions o;
    o.flat_tiles = FlatTiles::never;
    o.resolutions = 1;
    return o;
}

} // namespace

TEST(FpxJpegTiles, FramesAndSubtypesFollowTheOptions)
{
    const struct { const char *what; Set set; int w, h; size_t tiles; int sampling, conversion, components;
                   bool alpha = false; } cases[] = {
        {"baseline", [](WriteOptions &) {}, 200, 150, 12, 0x22, 1, 3},
        {"tables in tiles", [](WriteOptions &o) { o.tables_in_tiles = true; }, 130, 64, 3, 0x22, 1, 3},
        {"three table sets", [](WriteOptions &o) { o.table_sets = 3, o.quality = 80; }, 256, 128, 8, 0x22, 1, 3},
        {"4:2:2", [](WriteOptions &o) { o.subsampling = 0x21; }, 100, 64, 2, 0x21, 1, 3},
        {"plain RGB", [](WriteOptions &o) { o.colour_conversion = 0; }, 100, 64, 2, 0x11, 0, 3},
        {"monochrome", [](WriteOptions &o) { o.colour = ColourSpace::monochrome; }, 100, 64, 2, 0x11, 0, 1},
        {"progressive", [](WriteOptions &o) { o.progressive = true; }, 128, 64, 2, 0x22, 1, 3},
        {"restart interval", [](WriteOptions &o) { o.restart_interval = 4; }, 64, 64, 1, 0x22, 1, 3},
        {"inverted", [](WriteOptions &o) { o.invert = true; }, 64, 64, 1, 0x22, 1, 3},
        {"opacity, none in the input", [](WriteOptions &o) { o.opacity = true; }, 64, 64, 1, 0x22, 1, 4},
        {"grey opacity", [](WriteOptions &o) { o.colour = ColourSpace::monochrome, o.opacity = true; },
         64, 64, 1, 0x11, 0, 2, true},
        {"own Huffman, JFIF", [](WriteOptions &o) { o.optimize_huffman = o.jfif = true; }, 128, 64, 2, 0x22, 1, 3},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        WriteOptions o = one_level();
        c.set(o);
        const Result r = decode_full(o, c.alpha ? make_synthetic(c.w, c.h) : rgb_picture(c.w, c.h));
        ASSERT_EQ(r.tiles.size(), c.tiles);
        const int sets = o.tables_in_tiles ? 0 : o.table_sets; // tile k uses set 1 + k mod sets
        for (size_t k = 0; k < c.tiles; ++k) {
            const TileEntry &t = r.sub.tiles[k];
            const Decoded &d = r.tiles[k];
            EXPECT_EQ((std::array<int, 5>{int(t.type), t.subtype[0], t.subtype[1], t.subtype[2], t.subtype[3]}),
                      (std::array<int, 5>{int(kTileJpeg), 0, c.sampling, c.conversion, sets ? 1 + int(k) % sets : 0}))
                << k;
            EXPECT_EQ((std::array{d.width, d.height, d.components}), (std::array{64, 64, c.components}));
            EXPECT_EQ(d.h[0] << 4 | d.v[0], c.sampling);
            for (int i = 1; i < std::min(d.components, 3); ++i)
                EXPECT_EQ(d.h[i] << 4 | d.v[i], 0x11);
            const int last = d.components - 1; // an opacity channel at full resolution
            EXPECT_EQ(d.h[last] << 4 | d.v[last], d.components % 2 ? d.h[last] << 4 | d.v[last] : c.sampling);
            EXPECT_EQ(d.progressive, o.progressive);
            EXPECT_EQ(d.restart_interval, unsigned(o.restart_interval));
        }
        if (!c.alpha) { // no more loss than libjpeg-turbo's own coding at the same quality and sampling
            EXPECT_EQ(r.error.count, r.reference.count);
            EXPECT_GT(r.error.psnr(), r.reference.psnr() - 0.5) << "reference " << r.reference.psnr();
            EXPECT_GT(r.error.psnr(), 25.0);
        }
        for (size_t i = 3; c.components == 4 && i < r.tiles[0].samples.size(); i += 4)
            ASSERT_GE(r.tiles[0].samples[i], 250);
    }
}

// Tiles are abbreviated (their tables live in the set) unless optimized Huffman or JFIF put segments in them;
// each of several sets holds its own tables. Progressive and restart markers: libjpeg-turbo decodes them above.
TEST(FpxJpegTiles, TablesLiveInTheirSetAndTilesCarryOnlyWhatTheOptionsAdd)
{
    const Image img = rgb_picture(64, 64);
    WriteOptions o = one_level();
    const Document doc = build(o, img);
    const std::vector<uint8_t> plain = tile(doc, 0, 0);
    EXPECT_EQ(count_marker(plain, 0xDB) + count_marker(plain, 0xC4) + count_marker(plain, 0xE0), 0);
    EXPECT_NE(decode_jpeg({}, plain).error, "");
    EXPECT_EQ(props(doc, kContents).find(0x03000002)->u32(), 1u);
    o.optimize_huffman = o.jfif = true;
    const std::vector<uint8_t> own = tile(build(o, img), 0, 0);
    EXPECT_EQ(count_marker(own, 0xC4), 4);
    EXPECT_EQ(count_marker(own, 0xDB), 0);
    EXPECT_EQ(list_markers(own).at(1), 0xE0); // APP0 right after SOI, 16 bytes long
    EXPECT_EQ(own[4] << 8 | own[5], 16);
    o = one_level();
    o.tables_in_tiles = true;
    EXPECT_EQ(props(build(o, img), kContents).find(0x03010001), nullptr);
    o = one_level();
    o.table_sets = 3;
    const PropSet three = props(build(o, img), kContents);
    EXPECT_EQ(three.find(0x03000002)->u32(), 3u);
    EXPECT_NE(table_set(three, 1), table_set(three, 2));
    EXPECT_NE(table_set(three, 2), table_set(three, 3));
}

// PhotoYCC tiles through the filter (fpxconv) give the opacity-weighted input within JPEG error: a wrong table,
// offset or weighting costs tens of dB against the YCbCr coding.
TEST(FpxJpegTiles, PhotoYccTilesImportToTheInputColours)
{
    for (const bool opacity : {false, true}) {
        SCOPED_TRACE(opacity ? "with opacity" : "three channels");
        WriteOptions o = one_level();
        o.colour = ColourSpace::photoycc;
        o.opacity = opacity;
        const Image img = make_synthetic(128, 64); // alpha 64 .. 255
        kxtest::TempDir dir;
        const std::string fpx = dir.file("ycc.fpx"), png = dir.file("ycc.png");
        ASSERT_EQ(write_fpx(o, img, fpx), "");
        ASSERT_EQ(std::system((kxtest::bin_dir() + "/fpxconv -q " + fpx + " " + png).c_str()), 0);
        Image out;
        ASSERT_EQ(load_image(png, out), "");
        ASSERT_EQ((std::array{out.width, out.height}), (std::array{128, 64}));
        ErrorStats error;
        for (int y = 0; y < 64; ++y)
            for (int x = 0; x < 128; ++x)
                for (int ch = 0; ch < 3; ++ch)
                    error.add(out.pixel(x, y)[ch],
                              (img.pixel(x, y)[ch] * (opacity ? img.pixel(x, y)[3] : 255) + 127) / 255);
        WriteOptions ref = one_level();
        ref.opacity = opacity;
        const Result r = decode_full(ref, img);
        EXPECT_GT(error.psnr(), r.error.psnr() - 1.5) << error.psnr() << " against " << r.error.psnr();
        EXPECT_GT(error.psnr(), 27.0);
    }
}
