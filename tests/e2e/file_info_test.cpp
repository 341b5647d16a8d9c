// GetFileInfo through the library as a host loads it: the corpus files over
// the three input sources, the highest resolution's own size, the default
// depth without a colour property, a short record and inputs that fail.
#include "import_harness.h"

#include "fpx/fpx_format.h"

#include <kxfpx/codes.h>

#include <cstring>

using namespace kxtest;

namespace {

FileInfo record(int32_t size = sizeof(FileInfo))
{
    FileInfo info;
    std::memset(&info, 0xA5, sizeof info);  // the query must clear it
    info.size = size;
    return info;
}

} // namespace

TEST(FileInfoQuery, CorpusFilesThroughEverySource)
{
    KX_REQUIRE_CORPUS();
    const struct {
        const char *name;
        int32_t width, height, bits;
    } files[] = {
        {"rose_rgb.fpx", 70, 46, 24},          {"rose_grey.fpx", 70, 46, 8},
        {"rose_bw.fpx", 70, 46, 8},            {"bw_one_band.fpx", 70, 46, 8},
        {"bw_fill.fpx", 70, 46, 8},            {"bw_five_bands.fpx", 70, 46, 8},
        {"jpeg_ycbcr_420.fpx", 150, 100, 24},  {"jpeg_progressive.fpx", 130, 90, 24},
        {"jpeg_ycc_opacity.fpx", 120, 70, 24}, {"raw_blur_contrast.fpx", 140, 100, 24},
    };
    for (const auto &f : files)
        for (InputSource source : kSources) {
            FileInfo info = record();
            EXPECT_EQ(file_info(corpus_file(f.name), source, info), KX_OK) << f.name;
            EXPECT_EQ(info.width, f.width) << f.name;
            EXPECT_EQ(info.height, f.height) << f.name;
            EXPECT_EQ(info.bitsPerPixel, f.bits) << f.name;
            EXPECT_EQ(info.setFlags, 0x4Cu) << f.name;
            EXPECT_EQ(info.value1, 0.0) << f.name;
        }
}

// The fallbacks are the import's (ImportDriver.ResolutionChoiceAndFallbacks):
// here the size reported is the opened resolution's own, not the full size.
TEST(FileInfoQuery, HighestResolutionAndItsFallbacks)
{
    TempDir dir;
    fpxw::WriteOptions o = raw_options(5, fpxw::ColourSpace::monochrome);  // 16 x 10 up to 256 x 160
    const struct {
        std::vector<int> missing;
        int32_t code, width, height;
    } cases[] = {
        {{}, KX_OK, 256, 160},
        {{4, 2}, KX_OK, 128, 80},
        {{4, 2, 3}, KX_MISSING_STRUCTURE, 0, 0},
    };
    for (const auto &c : cases) {
        o.missing_resolutions = c.missing;
        const std::string file = make_fpx(dir, "r.fpx", o, picture(256, 160, 1), [](fpxw::Document &doc) {
            put_property(doc, kImageContentsPath, kxfpx::fpx::kPidFullHeight, 0, 50);
        });
        FileInfo info = record();
        EXPECT_EQ(file_info(file, InputSource::path, info), c.code);
        EXPECT_EQ(info.width, c.width);
        EXPECT_EQ(info.height, c.height);
        EXPECT_EQ(info.bitsPerPixel, c.code == KX_OK ? 8 : 0);
    }
}

TEST(FileInfoQuery, FailuresAndShortRecords)
{
    TempDir dir;
    const std::string file = make_fpx(dir, "s.fpx", raw_options(), picture(64, 32));
    FileInfo info = record(20);  // takes the width, refuses the height
    EXPECT_EQ(file_info(file, InputSource::path, info), KX_INFO_VALUE);
    EXPECT_EQ(info.width, 64);
    const std::string noColour = make_fpx(dir, "c.fpx", raw_options(), picture(64, 32, 1), [](fpxw::Document &doc) {
        std::vector<uint8_t> &ic = stream_bytes(doc, kImageContentsPath);
        put_u32(ic, property_pair_at(ic, kxfpx::fpx::kPidResColourBase), 0x7FFFFFFF);
    });
    info = record();
    EXPECT_EQ(file_info(noColour, InputSource::path, info), KX_OK);
    EXPECT_EQ(info.bitsPerPixel, 24);  // the default depth
    const std::string text = dir.write("t.txt", "not a compound file");
    for (InputSource source : kSources) {
        info = record();
        EXPECT_EQ(file_info(text, source, info), KX_MISSING_STRUCTURE);
    }
    info = record();
    EXPECT_EQ(file_info(dir.file("none.fpx"), InputSource::path, info), KX_MISSING_STRUCTURE);
    EXPECT_EQ(info.width, 0);
}
