// FlashPix files whose JPEG tiles are progressive import to the same picture
// as the same file written with baseline tiles: monochrome (one component),
// colour-converted RGB with 4:2:0 chroma, PhotoYCC with an opacity channel
// (four components, opacity-weighted colour) and restart markers.
#include "import_harness.h"

#include <kxfpx/codes.h>

using namespace kxtest;

namespace {

fpxw::Image picture(int w, int h, int channels)
{
    fpxw::Image img;
    img.width = w;
    img.height = h;
    img.channels = channels;
    img.samples.resize(size_t(w) * size_t(h) * size_t(channels));
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            for (int c = 0; c < channels; ++c)
                img.samples[(size_t(y) * w + x) * channels + c] =
                    uint8_t(c == 3 ? (x * 5 + y * 3) % 256 : (x * (2 + c) + y * (4 - c) + (x / 9) * 30) % 256);
    return img;
}

struct Case {
    const char *name;
    fpxw::ColourSpace colour;
    int channels;
    int width, height;
    int restart;
};

TEST(ProgressiveImport, SamePictureAsBaselineTiles)
{
    const Case cases[] = {
        {"monochrome", fpxw::ColourSpace::monochrome, 1, 100, 70, 0},
        {"rgb_420", fpxw::ColourSpace::rgb, 3, 130, 90, 0},
        {"photoycc_opacity", fpxw::ColourSpace::photoycc, 4, 120, 70, 0},
        {"rgb_restarts", fpxw::ColourSpace::rgb, 3, 70, 64, 3},
    };
    TempDir dir;
    for (const Case &c : cases) {
        fpxw::WriteOptions o;
        o.colour = c.colour;
        o.opacity = c.channels == 4;
        o.flat_tiles = fpxw::FlatTiles::never;
        o.resolutions = 1;
        o.restart_interval = c.restart;
        const fpxw::Image img = picture(c.width, c.height, c.channels);
        const ImportOutcome baseline = import_file(make_fpx(dir, std::string(c.name) + "_b.fpx", o, img));
        o.progressive = true;
        const ImportOutcome progressive = import_file(make_fpx(dir, std::string(c.name) + "_p.fpx", o, img));
        EXPECT_EQ(baseline.code, KX_OK) << c.name;
        EXPECT_EQ(progressive.code, KX_OK) << c.name;
        EXPECT_GT(progressive.picture.width, 0) << c.name;
        EXPECT_EQ(progressive.picture.width, baseline.picture.width) << c.name;
        EXPECT_TRUE(progressive.picture.samples == baseline.picture.samples) << c.name;
    }
}

} // namespace
