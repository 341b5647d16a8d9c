// Tiles decoded on several threads: every file, whole or damaged, gives the
// code, output calls (band checksums included) and picture of one thread.
#include "import_harness.h"

#include "jpeg_tiles.h"

#include "fpx/fpx_format.h"

#include <kxfpx/codes.h>

#include <cstring>
#include <dirent.h>

using namespace kxtest;
using namespace kxfpx::fpx;

namespace {

// Noise compresses badly: JPEG tiles of several kilobytes.
fpxw::Image noise(int width, int height, int channels)
{
    fpxw::Image image{width, height, channels, std::vector<uint8_t>(size_t(width) * height * channels)};
    uint32_t state = 12345;
    for (uint8_t &v : image.samples)
        v = uint8_t((state = state * 1103515245u + 12345u) >> 24);
    return image;
}

void expect_same_at_every_thread_count(const std::string &path, const std::string &what)
{
    const ImportOutcome want = import_file(path, {InputSource::path, 2, false, {}, {}, 1});
    const Lines named = {"OpenWorkstation", "ActivateOutput"};  // they name a scratch file
    for (const int32_t threads : {2, 3, 0}) {
        const ImportOutcome got = import_file(path, {InputSource::path, 2, false, {}, {}, threads});
        const std::string label = what + " on " + std::to_string(threads) + " threads";
        EXPECT_EQ(got.code, want.code) << label;
        EXPECT_EQ(got.errors, want.errors) << label;
        EXPECT_EQ(got.only(named, false), want.only(named, false)) << label;
        expect_same(got.picture, want.picture, label);
    }
}

void set_u32(uint8_t *at, uint32_t value) { std::memcpy(at, &value, 4); }

// Calls edit(entry, data stream) for the tiles `tiles` of the full resolution.
Edit edit_tile_data(std::vector<int> tiles, std::function<void(uint8_t *, std::vector<uint8_t> &)> edit)
{
    return [=](fpxw::Document &doc) {
        std::vector<uint8_t> &data = stream_bytes(doc, kSubimageDataPath);
        edit_tiles([&](int t, uint8_t *e) {
            if (std::find(tiles.begin(), tiles.end(), t) != tiles.end())
                edit(e, data);
        })(doc);
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
    // Tiles as 48 x 48 frames appended to the data, each stated as 1 byte long: decoded again on the calling
    // thread, they leave a third of their area as the previous strip left it.
    std::vector<uint8_t> frame;
    fpxw::JpegParams params;
    params.subsampling = 0x22;
    params.chroma = {false, true, true};
    ASSERT_EQ(fpxw::encode_tile(params, noise(48, 48, 3).samples.data(), 48, 48, true, frame), "");
    const auto small_frame = [&frame](uint8_t *e, std::vector<uint8_t> &data) {
        set_u32(e, uint32_t(data.size() - kStreamHeaderSize)), set_u32(e + 4, 1);
        data.insert(data.end(), frame.begin(), frame.end());
    };
    const auto damage = [](uint8_t *e, std::vector<uint8_t> &data) {  // a byte in the middle of the tile
        uint32_t offset = 0, length = 0;
        std::memcpy(&offset, e, 4), std::memcpy(&length, e + 4, 4);
        data.at(kStreamHeaderSize + offset + length / 2) ^= 0x5A;
    };
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
        {"a tile running past its stated length", ycbcr, 3,
         edit_tiles([](int t, uint8_t *e) { if (t == 7 || t == 13) set_u32(e + 4, 1); })},
        {"small frames running past their bytes", ycbcr, 3, edit_tile_data({12, 15, 20}, small_frame)},
        {"damaged tiles in one strip", ycbcr, 3, edit_tile_data({10, 13}, damage)},
        {"an invalid tile after JPEG ones", ycbcr, 3,
         edit_tiles([](int t, uint8_t *e) { if (t == 21) set_u32(e + 8, kTileInvalid); })},
        {"a table index above the file's", ycbcr, 3, edit_tiles([](int t, uint8_t *e) { if (t == 18) e[15] = 9; })},
        {"tiles sharing their bytes", ycbcr, 3, edit_tiles([](int t, uint8_t *e) { if (t % 8 == 5) std::memcpy(e, e - 16, 8); })},
    };
    for (const auto &c : cases) {
        TempDir dir;
        expect_same_at_every_thread_count(make_fpx(dir, "parallel.fpx", c.options, noise(450, 200, c.channels), c.edit),
                                          c.what);
    }
}
