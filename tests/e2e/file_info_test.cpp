// GetFileInfo: corpus files over the three sources, sizes, the default depth, a short record, failures.
#include "import_harness.h"

#include "fpx/fpx_format.h"

#include <kxfpx/codes.h>

#include <cstring>

using namespace kxtest;

namespace {

// Runs the query into a record of `size` bytes, the rest garbage it must clear.
FileInfo query(const std::string &file, int32_t code, InputSource source = InputSource::path,
               int32_t size = sizeof(FileInfo))
{
    FileInfo info;
    std::memset(&info, 0xA5, sizeof info);
    info.size = size;
    EXPECT_EQ(file_info(file, source, info), code) << file;
    return info;
}

} // namespace

TEST(FileInfoQuery, CorpusFilesThroughEverySource)
{
    KX_REQUIRE_CORPUS();
    // Colour, grey, five bands claimed for one, PhotoYCC with opacity (the depth leaves it out).
    const struct { const char *name; int32_t width, height, bits; } files[] = {
        {"rose_rgb.fpx", 70, 46, 24}, {"rose_grey.fpx", 70, 46, 8}, {"bw_five_bands.fpx", 70, 46, 8},
        {"jpeg_ycc_opacity.fpx", 120, 70, 24}};
    for (const auto &f : files)
        for (InputSource source : kSources) {
            const FileInfo info = query(corpus_file(f.name), KX_OK, source);
            EXPECT_EQ((std::array{info.width, info.height, info.bitsPerPixel}),
                      (std::array{f.width, f.height, f.bits})) << f.name;
            EXPECT_EQ(info.setFlags, 0x4Cu) << f.name;
            EXPECT_EQ(info.value1, 0.0) << f.name;
        }
}

TEST(FileInfoQuery, SizesDepthsAndFailures)
{
    TempDir dir;
    // The import's fallbacks; the size is the opened resolution's own, whatever the full size says.
    fpxw::WriteOptions o = raw_options(5, fpxw::ColourSpace::monochrome);  // 16 x 10 up to 256 x 160
    const Edit fullHeight = [](fpxw::Document &doc) {
        put_property(doc, kImageContentsPath, kxfpx::fpx::kPidFullHeight, 0, 50);
    };
    o.missing_resolutions = {4, 2};
    FileInfo info = query(make_fpx(dir, "r.fpx", o, picture(256, 160, 1), fullHeight), KX_OK);
    EXPECT_EQ((std::array{info.width, info.height, info.bitsPerPixel}), (std::array{128, 80, 8}));
    o.missing_resolutions = {4, 2, 3};
    info = query(make_fpx(dir, "r.fpx", o, picture(256, 160, 1)), KX_MISSING_STRUCTURE);
    EXPECT_EQ((std::array{info.width, info.height, info.bitsPerPixel}), (std::array{0, 0, 0}));

    info = query(make_fpx(dir, "s.fpx", raw_options(), picture(64, 32)), KX_INFO_VALUE, InputSource::path, 20);
    EXPECT_EQ(info.width, 64);  // a record of 20 bytes takes the width and refuses the height
    const std::string noColour = make_fpx(dir, "c.fpx", raw_options(), picture(64, 32, 1), [](fpxw::Document &doc) {
        std::vector<uint8_t> &ic = stream_bytes(doc, kImageContentsPath);
        put_u32(ic, property_at(ic, kxfpx::fpx::kPidResColourBase, false), 0x7FFFFFFF);
    });
    EXPECT_EQ(query(noColour, KX_OK).bitsPerPixel, 24);  // the default depth
    const std::string text = dir.write("t.txt", "not a compound file");
    for (InputSource source : kSources)
        query(text, KX_MISSING_STRUCTURE, source);
}
