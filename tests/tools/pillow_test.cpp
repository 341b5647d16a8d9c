// Python Pillow, another FlashPix reader, loads raw tiles (RGB, grey) to the written pixels and opens JPEG ones.
#include "fpxwrite_fixture.h"

using namespace fpxtest;

TEST(FpxPillow, OpensRawTilesToTheWrittenPixelsAndOpensJpegTiles)
{
    if (std::system("/usr/bin/python3 -c 'import PIL.FpxImagePlugin' 2>/dev/null") != 0)
        GTEST_SKIP() << "Python Pillow is not installed";
    kxtest::TempDir dir;
    const struct { const char *name; ColourSpace colour; Compression compression; int w, h; } cases[] = {
        {"rgb", ColourSpace::rgb, Compression::raw, 192, 128},
        {"grey", ColourSpace::monochrome, Compression::raw, 128, 64},
        {"jpeg", ColourSpace::rgb, Compression::jpeg, 128, 128},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        const bool grey = c.colour == ColourSpace::monochrome;
        Image image = rgb_picture(c.w, c.h);
        if (grey) {
            const Image rgb = image;
            image.channels = 1, image.samples.clear();
            for (int y = 0; y < c.h; ++y)
                for (int x = 0; x < c.w; ++x)
                    image.samples.push_back(rgb.pixel(x, y)[0] ^ uint8_t(x * 5 + y));
        }
        WriteOptions o;
        o.colour = c.colour;
        o.compression = c.compression;
        o.flat_tiles = FlatTiles::never;
        const std::string fpx = dir.file(c.name + std::string(".fpx")), raw = dir.file(c.name + std::string(".raw"));
        ASSERT_EQ(write_fpx(o, image, fpx), "");
        const std::string script = "from PIL import Image; im = Image.open('" + fpx + "'); im.load(); open('" + raw +
                                   "', 'wb').write(im.convert('" + (grey ? "L" : "RGB") + "').tobytes())";
        ASSERT_EQ(std::system(("/usr/bin/python3 -c \"" + script + "\"").c_str()), 0);
        if (c.compression == Compression::raw) { // Pillow's JPEG decoding is not a reference
            EXPECT_EQ(kxtest::read_file(raw), std::string(image.samples.begin(), image.samples.end()));
        }
    }
}
