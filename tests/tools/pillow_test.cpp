// Files fpxwrite makes open in Python Pillow, the other FlashPix reader a
// user can install: raw tiles (RGB and monochrome) load to exactly the
// written pixels, JPEG ones open. Skipped when Pillow is not installed.
#include "fpxwrite.h"
#include "support.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

namespace {

constexpr const char *kPython = "/usr/bin/python3";

bool have_pillow()
{
    return std::system((std::string(kPython) + " -c 'import PIL.FpxImagePlugin' 2>/dev/null").c_str()) == 0;
}

TEST(FpxPillow, OpensRawTilesToTheWrittenPixelsAndOpensJpegTiles)
{
    if (!have_pillow()) {
        GTEST_SKIP() << "Python Pillow is not installed";
    }
    kxtest::TempDir dir;
    const struct {
        const char *name;
        fpxw::ColourSpace colour;
        fpxw::Compression compression;
        int width, height;
    } cases[] = {
        {"rgb", fpxw::ColourSpace::rgb, fpxw::Compression::raw, 192, 128},
        {"grey", fpxw::ColourSpace::monochrome, fpxw::Compression::raw, 128, 64},
        {"jpeg", fpxw::ColourSpace::rgb, fpxw::Compression::jpeg, 128, 128},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        // Inputs of the stored kind (RGB or grey, no alpha) are stored as
        // they are: their samples are the pixels.
        const fpxw::Image synthetic = fpxw::make_synthetic(c.width, c.height);
        const bool grey = c.colour == fpxw::ColourSpace::monochrome;
        fpxw::Image image{c.width, c.height, grey ? 1 : 3, {}};
        for (int y = 0; y < c.height; ++y)
            for (int x = 0; x < c.width; ++x)
                for (int k = 0; k < image.channels; ++k)
                    image.samples.push_back(synthetic.pixel(x, y)[k] ^ uint8_t(grey ? x * 5 + y : 0));
        fpxw::WriteOptions o;
        o.colour = c.colour;
        o.compression = c.compression;
        o.flat_tiles = fpxw::FlatTiles::never;
        const std::string fpx = dir.path() + "/" + c.name + ".fpx";
        const std::string raw = dir.path() + "/" + c.name + ".raw";
        ASSERT_EQ(fpxw::write_fpx(o, image, fpx), "");
        // Pillow's pixels, as stored (one byte per channel, rows top down).
        const std::string mode = grey ? "L" : "RGB";
        const std::string script = "from PIL import Image; im = Image.open('" + fpx +
                                   "'); im.load(); open('" + raw + "', 'wb').write(im.convert('" + mode +
                                   "').tobytes())";
        ASSERT_EQ(std::system((std::string(kPython) + " -c \"" + script + "\"").c_str()), 0);
        if (c.compression != fpxw::Compression::raw)
            continue;  // Pillow's own JPEG tile decoding is not the reference
        EXPECT_EQ(kxtest::read_file(raw), std::string(image.samples.begin(), image.samples.end()));
    }
}

} // namespace
