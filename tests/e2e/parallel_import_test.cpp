// Tiles decoded on several threads: every file, whole or damaged, gives the
// code, output calls (band checksums included) and picture of one thread.
#include "import_harness.h"

#include "jpeg_tiles.h"

#include "fpx/fpx_format.h"

#include <kxfpx/codes.h>

#include <cstring>
#include <dirent.h>

using namespace kxtest;

namespace {

// Noise compresses badly: JPEG tiles of several kilobytes.
fpxw::Image noise(int width, int height, int channels)
{
    fpxw::Image image{width, height, channels, std::vector<uint8_t>(size_t(width) * height * channels)};
    uint32_t state = 12345;
    for (uint8_t &v : image.samples) {
        state = state * 1103515245u + 12345u;
        v = uint8_t(state >> 24);
    }
    return image;
}

void expect_same_at_every_thread_count(const std::string &path, const std::string &what)
{
    ImportRequest one;
    one.threads = 1;
    const ImportOutcome want = import_file(path, one);
    for (const int32_t threads : {2, 3, 0}) {
        ImportRequest many;
        many.threads = threads;
        const ImportOutcome got = import_file(path, many);
        const std::string label = what + " on " + std::to_string(threads) + " threads";
        EXPECT_EQ(got.code, want.code) << label;
        EXPECT_EQ(got.errors, want.errors) << label;
        const Lines named = {"OpenWorkstation", "ActivateOutput"};  // they name a scratch file
        EXPECT_EQ(got.only(named, false), want.only(named, false)) << label;
        expect_same(got.picture, want.picture, label);
    }
}

// Sets field `field` (0 offset, 1 length, 2 kind) of the tiles `tiles`.
Edit set_field(std::vector<int> tiles, size_t field, uint32_t value)
{
    return edit_tiles([=](int t, uint8_t *e) {
        if (std::find(tiles.begin(), tiles.end(), t) != tiles.end())
            std::memcpy(e + 4 * field, &value, 4);
    });
}

// Flips a byte in the middle of the tile data of `tile`.
Edit damage_tile(int tile)
{
    return [tile](fpxw::Document &doc) {
        std::vector<uint8_t> &header = stream_bytes(doc, kSubimageHeaderPath);
        const size_t entry = kxfpx::fpx::kStreamHeaderSize + kxfpx::fpx::kSubimageHeaderLength +
                             size_t(tile) * kxfpx::fpx::kTileEntrySize;
        uint32_t offset = 0, length = 0;
        std::memcpy(&offset, header.data() + entry, 4);
        std::memcpy(&length, header.data() + entry + 4, 4);
        std::vector<uint8_t> &data = stream_bytes(doc, kStorePath + "/Resolution 0000/Subimage 0000 Data");
        data.at(kxfpx::fpx::kStreamHeaderSize + offset + length / 2) ^= 0x5A;
    };
}

// Tiles `tiles` become 48 x 48 JPEG frames appended at the end of the data
// stream, each stated as 1 byte long: decoded again on the calling thread,
// they leave a third of their area as the previous strip left it.
Edit small_frames_running_past(std::vector<int> tiles)
{
    return [tiles](fpxw::Document &doc) {
        fpxw::JpegParams params;
        params.subsampling = 0x22;
        params.chroma = {false, true, true};
        std::vector<uint8_t> tile;
        ASSERT_EQ(fpxw::encode_tile(params, noise(48, 48, 3).samples.data(), 48, 48, true, tile), "");
        std::vector<uint8_t> &data = stream_bytes(doc, kStorePath + "/Resolution 0000/Subimage 0000 Data");
        std::vector<uint8_t> &header = stream_bytes(doc, kSubimageHeaderPath);
        for (const int t : tiles) {
            const size_t entry = kxfpx::fpx::kStreamHeaderSize + kxfpx::fpx::kSubimageHeaderLength +
                                 size_t(t) * kxfpx::fpx::kTileEntrySize;
            put_u32(header, entry, uint32_t(data.size() - kxfpx::fpx::kStreamHeaderSize));
            put_u32(header, entry + 4, 1);
            data.insert(data.end(), tile.begin(), tile.end());
        }
    };
}

} // namespace

TEST(ParallelImport, CorpusFilesAsOnOneThread)
{
    KX_REQUIRE_CORPUS();
    DIR *dir = opendir(corpus_dir().c_str());
    ASSERT_NE(dir, nullptr);
    while (const dirent *d = readdir(dir)) {
        const std::string name = d->d_name;
        if (name.size() > 4 && name.compare(name.size() - 4, 4, ".fpx") == 0)
            expect_same_at_every_thread_count(corpus_file(name), name);
    }
    closedir(dir);
}

TEST(ParallelImport, WrittenAndDamagedFilesAsOnOneThread)
{
    // 450 x 200: eight tiles across, four strips (the last of 8 rows).
    const auto jpeg = [](auto change) {
        fpxw::WriteOptions o;
        o.resolutions = 1;
        change(o);
        return o;
    };
    const fpxw::WriteOptions ycbcr = jpeg([](fpxw::WriteOptions &) {});
    const struct {
        std::string what;
        fpxw::WriteOptions options;
        int channels;
        Edit edit;
    } cases[] = {
        {"YCbCr 4:2:0", ycbcr, 3, {}},
        {"4:2:2, restarts", jpeg([](auto &o) { o.subsampling = 0x21; o.restart_interval = 3; }), 3, {}},
        {"RGB 4:4:4, three table sets", jpeg([](auto &o) { o.colour_conversion = 0; o.table_sets = 3; }), 3, {}},
        {"grey progressive", jpeg([](auto &o) { o.colour = fpxw::ColourSpace::monochrome; o.progressive = true; }), 1, {}},
        {"colour progressive", jpeg([](auto &o) { o.progressive = true; }), 3, {}},
        {"tables in every tile", jpeg([](auto &o) { o.tables_in_tiles = true; o.optimize_huffman = true; }), 3, {}},
        {"PhotoYCC, twist and contrast", jpeg([](auto &o) {
             o.colour = fpxw::ColourSpace::photoycc;
             o.transform.colour_twist = std::array<float, 16>{0.9f, 0.1f, 0, 0, 0, 1, 0, 0, 0.2f, 0, 0.8f, 0, 0, 0, 0, 1};
             o.transform.contrast = 1.5f;
         }), 3, {}},
        {"sharpened", jpeg([](auto &o) { o.transform.filtering = 2.0f; }), 3, {}},
        {"PhotoYCC with opacity", jpeg([](auto &o) { o.colour = fpxw::ColourSpace::photoycc; o.opacity = true; }), 4, {}},
        {"single-colour tiles among JPEG ones", jpeg([](auto &o) { o.flat_tile_list = {1, 9, 10}; }), 3, {}},
        {"raw and JPEG tiles in turn", jpeg([](auto &o) { o.compression = fpxw::Compression::mixed; }), 3, {}},
        {"a tile running past its stated length", ycbcr, 3, set_field({7, 13}, 1, 1)},
        {"small frames running past their bytes", ycbcr, 3, small_frames_running_past({12, 15, 20})},
        {"damaged tiles in one strip", ycbcr, 3, [](fpxw::Document &doc) { damage_tile(10)(doc); damage_tile(13)(doc); }},
        {"an invalid tile after JPEG ones", ycbcr, 3, set_field({21}, 2, kxfpx::fpx::kTileInvalid)},
        {"a table index above the file's", ycbcr, 3, edit_tiles([](int t, uint8_t *e) { if (t == 18) e[15] = 9; })},
        {"tiles sharing their bytes", ycbcr, 3, edit_tiles([](int t, uint8_t *e) { if (t % 8 == 5) std::memcpy(e, e - 16, 8); })},
    };
    for (const auto &c : cases) {
        TempDir dir;
        expect_same_at_every_thread_count(make_fpx(dir, "parallel.fpx", c.options, noise(450, 200, c.channels), c.edit),
                                          c.what);
    }
}
