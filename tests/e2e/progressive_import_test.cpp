// Progressive JPEG tiles import to the same picture as the same file written
// with baseline tiles: monochrome, RGB with 4:2:0 chroma, PhotoYCC with an
// opacity channel, and restart markers.
#include "import_harness.h"

#include <kxfpx/codes.h>

using namespace kxtest;

TEST(ProgressiveImport, SamePictureAsBaselineTiles)
{
    const struct {
        const char *name;
        fpxw::ColourSpace colour;
        int channels, width, height, restart;
    } cases[] = {
        {"monochrome", fpxw::ColourSpace::monochrome, 1, 100, 70, 0},
        {"rgb_420", fpxw::ColourSpace::rgb, 3, 130, 90, 0},
        {"photoycc_opacity", fpxw::ColourSpace::photoycc, 4, 120, 70, 0},
        {"rgb_restarts", fpxw::ColourSpace::rgb, 3, 70, 64, 3},
    };
    TempDir dir;
    for (const auto &c : cases) {
        fpxw::WriteOptions o;
        o.colour = c.colour;
        o.opacity = c.channels == 4;
        o.flat_tiles = fpxw::FlatTiles::never;
        o.resolutions = 1;
        o.restart_interval = c.restart;
        const fpxw::Image img = picture(c.width, c.height, c.channels);
        const ImportOutcome baseline = import_fpx(dir, o, img);
        o.progressive = true;
        const ImportOutcome progressive = import_fpx(dir, o, img);
        EXPECT_EQ(baseline.code, KX_OK) << c.name;
        EXPECT_EQ(progressive.code, KX_OK) << c.name;
        EXPECT_GT(progressive.picture.width, 0) << c.name;
        expect_same(progressive.picture, baseline.picture, c.name);
    }
}
