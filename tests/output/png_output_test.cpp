// The real output library, libzo_unx2.so, driven by the filter's device and
// picture control in the order of an import: the PNG it writes is read back
// with libpng and compared pixel by pixel with what the placement means
// (upright, rotated, mirrored, scaled, sheared, clipped, indexed), and its
// call log and its errors are checked.
#include "output_fixture.h"
#include "output/gdsf.h"

#include <png.h>
#include <zlib.h>

#include <cmath>
#include <fstream>
#include <functional>

using namespace kxtest;

namespace {

constexpr uint64_t kMillimetresPerPixel = 0x3FD0EEEEEEEEEEEEULL;

struct Image {
    int32_t width = 0, height = 0, channels = 0;
    std::vector<uint8_t> pixels; // rows of width * channels bytes
    const uint8_t *at(int32_t x, int32_t y) const
    {
        return &pixels[(static_cast<size_t>(y) * width + x) * channels];
    }
};

// Reads a PNG as it is stored: grey files with one channel, colour with three.
bool read_png(const std::string &path, Image &out)
{
    png_image image = {};
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&image, path.c_str()))
        return false;
    const bool colour = image.format & PNG_FORMAT_FLAG_COLOR;
    image.format = colour ? PNG_FORMAT_RGB : PNG_FORMAT_GRAY;
    out.width = image.width;
    out.height = image.height;
    out.channels = colour ? 3 : 1;
    out.pixels.resize(PNG_IMAGE_SIZE(image));
    const bool ok = png_image_finish_read(&image, nullptr, out.pixels.data(), 0, nullptr);
    png_image_free(&image);
    return ok;
}

// A test picture (70 x 46 unless told) in which every pixel differs from its
// neighbours.
Image pattern(int32_t channels, int32_t width = 70, int32_t height = 46)
{
    Image img;
    img.width = width;
    img.height = height;
    img.channels = channels;
    for (int32_t y = 0; y < img.height; ++y)
        for (int32_t x = 0; x < img.width; ++x)
            for (int32_t c = 0; c < channels; ++c)
                img.pixels.push_back(static_cast<uint8_t>(x * 3 + y * 7 + c * 85));
    return img;
}

// Three corner points of the band of `rows` rows starting at source row j0.
using Placement = std::function<void(int32_t j0, int32_t rows, CoordPoint points[3])>;

struct Drawing {
    CoordRect extent;
    Placement place;
    int32_t band_rows = 7;
    const uint8_t *grey_table = nullptr; // entries r, g, b for indexed sources
    bool clip = false;
    CoordPoint clip_polygon[4] = {};
};

class PngOutput : public OutputTest {
protected:
    void SetUp() override
    {
        OutputTest::SetUp();
        unsetenv("KXFPX_OUTPUT_LOG");
        std::strcpy(setup_->outputName, dir_.file("out.png").c_str());
        ASSERT_NE(open_library("libzo_unx2.so"), nullptr);
    }
    void TearDown() override
    {
        unsetenv("KXFPX_OUTPUT_LOG");
        OutputTest::TearDown();
    }

    // The import's sequence of calls, drawing `src` in bands.
    int32_t draw(const Image &src, const Drawing &d)
    {
        GdsfHandle *g = setup_->gdsf;
        int32_t result = OpenDevice(setup_.get());
        if (result != 0)
            return result;
        const uint8_t black[3] = {0, 0, 0};
        BeginPic(setup_.get(), "PICTURE 1");
        SetBackgroundColor(setup_.get(), black);
        SetOutputParameterA(g, 32);
        SetOutputParameterB(g, 8);
        SetOutputParameterC(g, 32);
        SetPictureExtent(g, &d.extent);
        SetScaling(g, 1, kMillimetresPerPixel);
        SetViewport(setup_.get(), 0, &d.extent, 1);
        result = BeginPicBody(setup_.get());
        SetBodyRectangle(g, &d.extent);
        if (d.clip) {
            BeginRegion(g, 1);
            Polygon(g, 4, d.clip_polygon);
            EndRegion(g);
            SetRegionIndicator(g, 1, 2);
        }
        const int32_t format = src.channels == 1 ? KX_PIXELS_INDEX8 : KX_PIXELS_RGB24;
        if (d.grey_table)
            SetColorTable(setup_.get(), 0, 256, d.grey_table);
        CoordPoint points[3];
        d.place(0, src.height, points);
        const int32_t whole[2] = {src.width, src.height};
        BeginImage(g, points, whole, format, 1, 1, 3, 0);
        const size_t row = static_cast<size_t>(src.width) * src.channels;
        const size_t stride = (row + 3) & ~size_t{3};
        std::vector<uint8_t> band;
        for (int32_t j0 = 0; j0 < src.height; j0 += d.band_rows) {
            const int32_t rows = std::min(d.band_rows, src.height - j0);
            band.assign(stride * rows, 0xEE); // padding bytes must not show
            for (int32_t j = 0; j < rows; ++j)
                std::memcpy(&band[j * stride], src.at(0, j0 + j), row);
            d.place(j0, rows, points);
            const int32_t size[2] = {src.width, rows};
            ImageRows(g, points, size, format, 1, band.data());
        }
        EndImage(g);
        EndPic(setup_.get());
        const int32_t closed = CloseDevice(setup_.get());
        return result != 0 ? result : closed;
    }

    Image output()
    {
        Image out;
        EXPECT_TRUE(read_png(setup_->outputName, out)) << setup_->outputName;
        return out;
    }

    TempDir dir_;
};

void upright(int32_t H, int32_t W, int32_t j0, int32_t rows, CoordPoint p[3])
{
    p[0] = {0, H - j0};
    p[1] = {W, H - j0 - rows};
    p[2] = {W, H - j0};
}

Drawing upright_drawing(const Image &src)
{
    Drawing d;
    d.extent = {0, 0, src.width, src.height};
    d.place = [&src](int32_t j0, int32_t rows, CoordPoint p[3]) {
        upright(src.height, src.width, j0, rows, p);
    };
    return d;
}

void expect_pixels(const Image &out, int32_t width, int32_t height, int32_t channels,
                   const std::function<std::vector<uint8_t>(int32_t, int32_t)> &expected)
{
    ASSERT_EQ(out.width, width);
    ASSERT_EQ(out.height, height);
    ASSERT_EQ(out.channels, channels);
    int mismatches = 0;
    for (int32_t y = 0; y < height; ++y)
        for (int32_t x = 0; x < width; ++x) {
            const std::vector<uint8_t> want = expected(x, y);
            if (std::memcmp(out.at(x, y), want.data(), channels) != 0 && ++mismatches <= 5)
                ADD_FAILURE() << "pixel " << x << "," << y << " differs";
        }
    EXPECT_EQ(mismatches, 0);
}

std::vector<uint8_t> px(const Image &img, int32_t x, int32_t y)
{
    return std::vector<uint8_t>(img.at(x, y), img.at(x, y) + img.channels);
}

TEST_F(PngOutput, UprightRgbBandsAreCopiedExactly)
{
    const Image src = pattern(3);
    ASSERT_EQ(draw(src, upright_drawing(src)), 0);
    expect_pixels(output(), 70, 46, 3, [&](int32_t x, int32_t y) { return px(src, x, y); });
    EXPECT_TRUE(errors_reported().empty());
}

TEST_F(PngOutput, CorpusPicturesComeOutUnchanged)
{
    KX_REQUIRE_CORPUS();
    std::vector<uint8_t> grey(256 * 3);
    for (int i = 0; i < 256 * 3; ++i)
        grey[i] = static_cast<uint8_t>(i / 3);
    for (const char *name : {"rose_rgb.expected.png", "rose_grey.expected.png",
                             "rose_bw.expected.png", "bw_one_band.expected.png",
                             "bw_fill.expected.png"}) {
        Image src;
        ASSERT_TRUE(read_png(corpus_file(name), src)) << name;
        Drawing d = upright_drawing(src);
        d.band_rows = 46; // the import sends a 70-pixel-wide strip in one band
        if (src.channels == 1)
            d.grey_table = grey.data();
        ASSERT_EQ(draw(src, d), 0) << name;
        const Image out = output();
        EXPECT_EQ(out.channels, src.channels) << name;
        EXPECT_EQ(out.pixels, src.pixels) << name;
    }
}

TEST_F(PngOutput, QuarterTurnClockwise)
{
    const Image src = pattern(3);
    Drawing d;
    d.extent = {0, 0, src.height, src.width};
    d.place = [&](int32_t j0, int32_t rows, CoordPoint p[3]) {
        p[0] = {src.height - j0, src.width};
        p[1] = {src.height - j0 - rows, 0};
        p[2] = {src.height - j0, 0};
    };
    ASSERT_EQ(draw(src, d), 0);
    expect_pixels(output(), 46, 70, 3,
                  [&](int32_t x, int32_t y) { return px(src, y, src.height - 1 - x); });
}

// The calls an import makes for a W x H image under an affine matrix as the
// file holds it (16 floats, row-major, translations in units of the height):
// the picture extent from the transformed corners, and every band's three
// corner points P0 = (0, top), P1 = (X, top - rows), P2 = (X, top) passed
// through the matrix with single-precision products, a double-precision
// translation and truncation toward zero.
CoordPoint through(const float m[16], int32_t x, int32_t y)
{
    const float fx = static_cast<float>(x), fy = static_cast<float>(y);
    return {static_cast<int32_t>(static_cast<double>(fx * m[0] + fy * m[1]) + m[3]),
            static_cast<int32_t>(static_cast<double>(fx * m[4] + fy * m[5]) + m[7])};
}

Drawing import_drawing(const Image &src, const float file_matrix[16])
{
    const int32_t H = src.height;
    float m[16];
    std::memcpy(m, file_matrix, sizeof m);
    m[3] *= static_cast<float>(H);
    m[7] *= static_cast<float>(H);
    const float R = static_cast<float>(src.width) / static_cast<float>(H);
    const int32_t X = static_cast<int32_t>(static_cast<float>(H) * R);
    Drawing d;
    float t = 0.0f, B = static_cast<float>(H);
    const double L = std::sqrt(double{m[0]} * m[0] + double{m[1]} * m[1]);
    bool corners_done = false;
    if (std::fabs(L - 1.0) > 0.02) {
        const CoordPoint c[4] = {through(m, 0, 0), through(m, 0, H), through(m, X, H),
                                 through(m, X, 0)};
        int64_t minX = c[0].x, maxX = c[0].x, minY = c[0].y, maxY = c[0].y;
        for (const CoordPoint &p : c) {
            minX = std::min(minX, p.x);
            maxX = std::max(maxX, p.x);
            minY = std::min(minY, p.y);
            maxY = std::max(maxY, p.y);
        }
        if (minY <= minX) {
            t = static_cast<float>(minY);
            B = static_cast<float>(maxY);
        } else {
            const float fminX = static_cast<float>(minX), fmaxX = static_cast<float>(maxX);
            d.extent = {minX, static_cast<int32_t>(std::fabs(fminX) * (1.0f - R) + fminX), maxX,
                        static_cast<int32_t>(fmaxX / R)};
            corners_done = true;
        }
    }
    if (!corners_done)
        d.extent = {static_cast<int32_t>(std::fabs(t) * (1.0f - R) + t), static_cast<int32_t>(t),
                    static_cast<int32_t>(B * R), static_cast<int32_t>(B)};
    std::vector<float> matrix(m, m + 16);
    d.place = [matrix, H, X](int32_t j0, int32_t rows, CoordPoint p[3]) {
        const int32_t top = H - j0;
        p[0] = through(matrix.data(), 0, top);
        p[1] = through(matrix.data(), X, top - rows);
        p[2] = through(matrix.data(), X, top);
    };
    return d;
}

TEST_F(PngOutput, ImportPlacementsThroughTheAffineMatrix)
{
    const Image src = pattern(3);
    const int32_t W = src.width, H = src.height;
    const float aspect = static_cast<float>(W) / static_cast<float>(H);
    const float identity[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};
    Drawing d = import_drawing(src, identity);
    EXPECT_EQ(d.extent.x2, W);
    ASSERT_EQ(draw(src, d), 0);
    expect_pixels(output(), W, H, 3, [&](int32_t x, int32_t y) { return px(src, x, y); });

    // Half a turn, translated back into place: the extent stays W x H
    // (an unscaled matrix) and the whole picture is seen upside down.
    const float half[16] = {-1, 0, 0, aspect, 0, -1, 0, 1, 0, 0, 1, 0, 0, 0, 0, 1};
    d = import_drawing(src, half);
    ASSERT_EQ(draw(src, d), 0);
    expect_pixels(output(), W, H, 3,
                  [&](int32_t x, int32_t y) { return px(src, W - 1 - x, H - 1 - y); });

    // A quarter turn, (x, y) -> (H - y, x): unscaled too, so the extent stays
    // W x H; the turned image (H wide, W tall) sticks out above it and the
    // canvas grows to W x W to hold both. The first row runs up its left edge.
    const float quarter[16] = {0, -1, 0, 1, 1, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};
    d = import_drawing(src, quarter);
    const CoordRect unscaled = {0, 0, W, H};
    EXPECT_EQ(std::memcmp(&d.extent, &unscaled, sizeof unscaled), 0);
    ASSERT_EQ(draw(src, d), 0);
    expect_pixels(output(), W, W, 3, [&](int32_t x, int32_t y) {
        if (x >= H)
            return std::vector<uint8_t>{0, 0, 0};
        return px(src, W - 1 - y, x);
    });

    // Twice the size: the extent follows the transformed corners.
    const float twice[16] = {2, 0, 0, 0, 0, 2, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};
    d = import_drawing(src, twice);
    const CoordRect doubled = {0, 0, 2 * W, 2 * H};
    EXPECT_EQ(std::memcmp(&d.extent, &doubled, sizeof doubled), 0);
    ASSERT_EQ(draw(src, d), 0);
    expect_pixels(output(), 2 * W, 2 * H, 3,
                  [&](int32_t x, int32_t y) { return px(src, x / 2, y / 2); });
}

TEST_F(PngOutput, TurnedImageOutsideTheExtentGrowsTheCanvas)
{
    // 120 x 80 turned by (m0, m1, m4, m5) = (0, -1, 1, 0): the extent is the
    // unturned 120 x 80 one, the image lies wholly left of it (x -80..0,
    // y 0..120); the canvas covers both, 200 x 120, the image at its left.
    const Image src = pattern(3, 120, 80);
    const float turn[16] = {0, -1, 0, 0, 1, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};
    const Drawing d = import_drawing(src, turn);
    const CoordRect unturned = {0, 0, 120, 80};
    EXPECT_EQ(std::memcmp(&d.extent, &unturned, sizeof unturned), 0);
    ASSERT_EQ(draw(src, d), 0);
    expect_pixels(output(), 200, 120, 3, [&](int32_t x, int32_t y) {
        if (x >= 80)
            return std::vector<uint8_t>{0, 0, 0};
        return px(src, 119 - y, x);
    });
}

TEST_F(PngOutput, MirroredScaledAndShearedPlacements)
{
    const Image src = pattern(3);
    const int32_t W = src.width, H = src.height;
    Drawing mirror = upright_drawing(src);
    mirror.place = [&](int32_t j0, int32_t rows, CoordPoint p[3]) {
        p[0] = {W, H - j0};
        p[1] = {0, H - j0 - rows};
        p[2] = {0, H - j0};
    };
    ASSERT_EQ(draw(src, mirror), 0);
    expect_pixels(output(), W, H, 3, [&](int32_t x, int32_t y) { return px(src, W - 1 - x, y); });

    Drawing doubled;
    doubled.extent = {0, 0, 2 * W, 2 * H};
    doubled.place = [&](int32_t j0, int32_t rows, CoordPoint p[3]) {
        p[0] = {0, 2 * (H - j0)};
        p[1] = {2 * W, 2 * (H - j0 - rows)};
        p[2] = {2 * W, 2 * (H - j0)};
    };
    ASSERT_EQ(draw(src, doubled), 0);
    expect_pixels(output(), 2 * W, 2 * H, 3,
                  [&](int32_t x, int32_t y) { return px(src, x / 2, y / 2); });

    // Each row one pixel further right than the row above it.
    Drawing sheared;
    sheared.extent = {0, 0, W + H, H};
    sheared.place = [&](int32_t j0, int32_t rows, CoordPoint p[3]) {
        p[0] = {j0, H - j0};
        p[1] = {j0 + W + rows, H - j0 - rows};
        p[2] = {j0 + W, H - j0};
    };
    ASSERT_EQ(draw(src, sheared), 0);
    expect_pixels(output(), W + H, H, 3, [&](int32_t x, int32_t y) {
        if (x - y < 0 || x - y >= W)
            return std::vector<uint8_t>{0, 0, 0};
        return px(src, x - y, y);
    });
}

TEST_F(PngOutput, GreyIndexedImageIsWrittenAsGrey)
{
    const Image src = pattern(1);
    std::vector<uint8_t> grey(256 * 3);
    for (int i = 0; i < 256 * 3; ++i)
        grey[i] = static_cast<uint8_t>(255 - i / 3); // an inverted grey ramp
    Drawing d = upright_drawing(src);
    d.grey_table = grey.data();
    ASSERT_EQ(draw(src, d), 0);
    expect_pixels(output(), 70, 46, 1, [&](int32_t x, int32_t y) {
        return std::vector<uint8_t>{static_cast<uint8_t>(255 - *src.at(x, y))};
    });
}

TEST_F(PngOutput, ColouredIndexedImageIsWrittenAsRgb)
{
    const Image src = pattern(1);
    std::vector<uint8_t> table(256 * 3);
    for (int i = 0; i < 256; ++i) {
        table[3 * i] = static_cast<uint8_t>(i);
        table[3 * i + 1] = static_cast<uint8_t>(255 - i);
        table[3 * i + 2] = 7;
    }
    Drawing d = upright_drawing(src);
    d.grey_table = table.data();
    ASSERT_EQ(draw(src, d), 0);
    expect_pixels(output(), 70, 46, 3, [&](int32_t x, int32_t y) {
        const uint8_t v = *src.at(x, y);
        return std::vector<uint8_t>{v, static_cast<uint8_t>(255 - v), 7};
    });
}

TEST_F(PngOutput, ClipPolygonOfTheRegionOfInterest)
{
    // The region (0.1, 0.2, aspect, 1.0) of a 46-row picture.
    const Image src = pattern(3);
    Drawing d = upright_drawing(src);
    d.clip = true;
    d.clip_polygon[0] = {4, 37};
    d.clip_polygon[1] = {4, 0};
    d.clip_polygon[2] = {70, 0};
    d.clip_polygon[3] = {70, 37};
    ASSERT_EQ(draw(src, d), 0);
    expect_pixels(output(), 70, 46, 3, [&](int32_t x, int32_t y) {
        if (x < 4 || y < 46 - 37)
            return std::vector<uint8_t>{0, 0, 0};
        return px(src, x, y);
    });
}

std::vector<std::string> read_lines(const std::string &path)
{
    std::vector<std::string> out;
    std::ifstream in(path);
    for (std::string line; std::getline(in, line);)
        out.push_back(line);
    return out;
}

TEST_F(PngOutput, CallLogRecordsEveryCallInOrder)
{
    // Reload so that the log also sees the library being opened.
    CloseGDSF(setup_->gdsf);
    const std::string log = dir_.file("calls.log");
    setenv("KXFPX_OUTPUT_LOG", log.c_str(), 1);
    ASSERT_NE(open_library("libzo_unx2.so"), nullptr);
    const Image src = pattern(3);
    Drawing d = upright_drawing(src);
    d.band_rows = 40;
    ASSERT_EQ(draw(src, d), 0);
    CloseGDSF(setup_->gdsf);
    setup_->gdsf = nullptr;

    auto crc_of_rows = [&](int32_t j0, int32_t rows) {
        uLong crc = crc32(0L, Z_NULL, 0);
        for (int32_t j = j0; j < j0 + rows; ++j)
            crc = crc32(crc, src.at(0, j), 70 * 3);
        char text[16];
        std::snprintf(text, sizeof text, "crc=%08lx", crc);
        return std::string(text);
    };
    const std::string out = setup_->outputName;
    const std::vector<std::string> expected = {
        "C_OpenOutput 0",
        "C_GetOutputTable",
        "OpenWorkstation \"" + out + "\" \"PNG\" 0 0x0000001122334455 host",
        "QueryError 1 -> 0",
        "ActivateOutput \"" + out + "\"",
        "QueryError 1 -> 0",
        "BeginPicture \"PICTURE 1\"",
        "QueryError 1 -> 0",
        "SetBackground 0,0,0",
        "SetOutputParameterA 32",
        "SetOutputParameterB 8",
        "SetOutputParameterC 32",
        "SetPictureExtent 0 0 70 46",
        "SetScaling 1 0x3fd0eeeeeeeeeeee 0.26458333333333328",
        "SetDeviceViewport 0 0 70 46",
        "BeginPictureBody",
        "QueryError 1 -> 0",
        "SetBodyRectangle 0 0 70 46",
        "BeginImage 0,46 70,0 70,46 70x46 -24 1 1 3 0",
        "ImageRows 0,46 70,6 70,46 70x40 -24 1 " + crc_of_rows(0, 40),
        "ImageRows 0,6 70,0 70,6 70x6 -24 1 " + crc_of_rows(40, 6),
        "EndImage",
        "EndPicture",
        "DeactivateOutput",
        "QueryError 1 -> 0",
        "CloseWorkstation",
        "Shutdown",
        "UnLoadOutput"};
    EXPECT_EQ(read_lines(log), expected);
}

TEST_F(PngOutput, UnwritableOutputIsReportedAsOutputWriteFailure)
{
    std::strcpy(setup_->outputName, "/nonexistent-kx-dir/sub/out.png");
    EXPECT_EQ(OpenDevice(setup_.get()), KX_OUTPUT_WRITE_FAILED);
    const auto errors = errors_reported();
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0].code, KX_OUTPUT_WRITE_FAILED);
    EXPECT_EQ(errors[0].style, 1);
}

TEST_F(PngOutput, AbsurdExtentsAreRefusedAndNothingIsWritten)
{
    const Image src = pattern(3);
    const struct {
        CoordRect extent;
        int32_t code;
    } cases[] = {{{0, 0, 70000, 70000}, KX_NO_MEMORY},
                 {{0, 0, 0, 46}, KX_OUTPUT_PARAMETER},
                 {{5, 46, 75, 46}, KX_OUTPUT_PARAMETER},
                 {{INT32_MIN, INT32_MIN, INT32_MAX, INT32_MAX}, KX_NO_MEMORY}};
    for (const auto &c : cases) {
        HostSide::calls.clear();
        Drawing d = upright_drawing(src);
        d.extent = c.extent;
        EXPECT_EQ(draw(src, d), c.code);
        ASSERT_FALSE(errors_reported().empty());
        EXPECT_EQ(errors_reported()[0].code, c.code);
        EXPECT_FALSE(path_exists(setup_->outputName));
    }
}

TEST_F(PngOutput, RefusedExtentAfterAPictureDrawsNothingAndEndsTheImportWithIt)
{
    const Image src = pattern(3);
    ASSERT_EQ(draw(src, upright_drawing(src)), 0);
    std::remove(setup_->outputName);
    // Same library, next picture: the earlier 70 x 46 canvas must not come
    // back. The import does not look at BeginPicBody's result; it learns of
    // the refusal again when the device closes.
    HostSide::calls.clear();
    Drawing d = upright_drawing(src);
    d.extent = {0, 0, 70000, 70000};
    EXPECT_EQ(draw(src, d), KX_NO_MEMORY);
    const auto errors = errors_reported();
    ASSERT_EQ(errors.size(), 2u);
    EXPECT_EQ(errors[0].code, KX_NO_MEMORY); // BeginPicBody
    EXPECT_EQ(errors[1].code, KX_NO_MEMORY); // CloseDevice, from the drawing
    EXPECT_FALSE(path_exists(setup_->outputName));
}

std::string file_text(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

TEST_F(PngOutput, ExistingOutputFileIsKeptByAFailedRunAndReplacedByAPicture)
{
    const std::string old_text(100000, 'x');
    std::ofstream(setup_->outputName, std::ios::binary) << old_text;
    const Image src = pattern(3);
    Drawing d = upright_drawing(src);
    d.extent = {0, 0, 0, 46};
    EXPECT_EQ(draw(src, d), KX_OUTPUT_PARAMETER);
    EXPECT_EQ(file_text(setup_->outputName), old_text);

    // A picture replaces the whole file, longer old contents included.
    ASSERT_EQ(draw(src, upright_drawing(src)), 0);
    expect_pixels(output(), 70, 46, 3, [&](int32_t x, int32_t y) { return px(src, x, y); });
    EXPECT_LT(file_text(setup_->outputName).size(), old_text.size());
}

TEST_F(PngOutput, PictureThatCannotBeWrittenEndsWithOutputWriteFailure)
{
    if (!path_exists("/dev/full"))
        GTEST_SKIP() << "no /dev/full";
    std::strcpy(setup_->outputName, "/dev/full");
    const Image src = pattern(3);
    // EndPicture's failed write is read back when the device closes.
    EXPECT_EQ(draw(src, upright_drawing(src)), KX_OUTPUT_WRITE_FAILED);
    const auto errors = errors_reported();
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0].code, KX_OUTPUT_WRITE_FAILED);
    EXPECT_TRUE(path_exists("/dev/full")); // not removed as an unwritten file
}

TEST_F(PngOutput, MalformedImageCallsAreRefusedWithoutDrawing)
{
    ASSERT_EQ(OpenDevice(setup_.get()), 0);
    GdsfHandle *g = setup_->gdsf;
    BeginPic(setup_.get(), "PICTURE 1");
    const CoordRect extent = {0, 0, 8, 8};
    SetPictureExtent(g, &extent);
    ASSERT_EQ(BeginPicBody(setup_.get()), 0);
    const CoordPoint p[3] = {{0, 8}, {8, 0}, {8, 8}};
    const uint8_t rows[8 * 8 * 3] = {255};
    const struct {
        int32_t columns, rows, format, code;
    } cases[] = {{-8, 8, KX_PIXELS_RGB24, KX_OUTPUT_PARAMETER},
                 {8, -1, KX_PIXELS_RGB24, KX_OUTPUT_PARAMETER},
                 {1 << 30, 1, KX_PIXELS_RGB24, KX_OUTPUT_PARAMETER},
                 {8, 8, -16, KX_OUTPUT_UNSUPPORTED}};
    for (const auto &c : cases) {
        const int32_t size[2] = {c.columns, c.rows};
        ImageRows(g, p, size, c.format, 1, rows);
        EXPECT_EQ(cgierror(setup_.get(), nullptr), c.code);
    }
    const int32_t size[2] = {8, 8};
    ImageRows(g, p, size, KX_PIXELS_RGB24, 1, nullptr);
    EXPECT_EQ(cgierror(setup_.get(), nullptr), KX_OUTPUT_PARAMETER);
    // A degenerate placement draws nothing and is no error.
    const CoordPoint flat[3] = {{0, 8}, {8, 8}, {8, 8}};
    ImageRows(g, flat, size, KX_PIXELS_RGB24, 1, rows);
    EXPECT_EQ(cgierror(setup_.get(), nullptr), 0);
    EndPic(setup_.get());
    EXPECT_EQ(CloseDevice(setup_.get()), 0);
    const Image out = output();
    expect_pixels(out, 8, 8, 3, [](int32_t, int32_t) { return std::vector<uint8_t>{0, 0, 0}; });
}

TEST_F(PngOutput, BandsFarOutsideTheCanvasAreClipped)
{
    const Image src = pattern(3);
    Drawing d = upright_drawing(src);
    d.place = [&](int32_t j0, int32_t rows, CoordPoint p[3]) {
        // Shifted by 35 columns left and 2 billion units up for odd bands.
        const int32_t dy = (j0 / 7) % 2 ? 2000000000 : 0;
        p[0] = {-35, 46 - j0 + dy};
        p[1] = {35, 46 - j0 - rows + dy};
        p[2] = {35, 46 - j0 + dy};
    };
    ASSERT_EQ(draw(src, d), 0);
    expect_pixels(output(), 70, 46, 3, [&](int32_t x, int32_t y) {
        if (x >= 35 || (y / 7) % 2)
            return std::vector<uint8_t>{0, 0, 0};
        return px(src, x + 35, y);
    });
}

} // namespace

namespace {

// Exact placement of a canvas pixel centre in the band, in integers: the
// source column and row, or -1 when outside; `ambiguous` when the centre lies
// exactly on a source pixel border, where rounding may go either way.
struct ExactHit {
    int32_t i = -1, j = -1;
    bool ambiguous = false;
};

ExactHit exact_hit(const int64_t c0[2], const int64_t u[2], const int64_t v[2], int32_t nx,
                   int32_t ny, int32_t cx, int32_t cy)
{
    // Doubled coordinates keep the pixel centres integral.
    const int64_t qx = 2 * cx + 1 - 2 * c0[0], qy = 2 * cy + 1 - 2 * c0[1];
    int64_t det = u[0] * v[1] - u[1] * v[0];
    int64_t sn = (qx * v[1] - qy * v[0]) * nx, tn = (u[0] * qy - u[1] * qx) * ny;
    det *= 2;
    if (det < 0) {
        det = -det;
        sn = -sn;
        tn = -tn;
    }
    ExactHit hit;
    if (sn % det == 0 || tn % det == 0)
        hit.ambiguous = true;
    if (sn >= 0 && sn < det * nx && tn >= 0 && tn < det * ny) {
        hit.i = static_cast<int32_t>(sn / det);
        hit.j = static_cast<int32_t>(tn / det);
    }
    return hit;
}

TEST_F(PngOutput, AnyAffinePlacementMatchesExactNearestNeighbour)
{
    Image src;
    src.width = 9;
    src.height = 5;
    src.channels = 3;
    for (int k = 0; k < 9 * 5; ++k)
        for (int c = 0; c < 3; ++c)
            src.pixels.push_back(static_cast<uint8_t>(1 + k * 5 + c));
    const int32_t W = 40, H = 30;
    uint32_t seed = 12345;
    int64_t covered = 0, skipped = 0;
    auto next = [&](int32_t lo, int32_t hi) {
        seed = seed * 1103515245u + 12345u;
        return lo + static_cast<int32_t>((seed >> 8) % static_cast<uint32_t>(hi - lo + 1));
    };
    for (int round = 0; round < 40; ++round) {
        // Picture points of the whole image: start of row 0, end of row 0,
        // and the opposite corner; placed in one band.
        const CoordPoint p0 = {next(-5, 45), next(-5, 35)};
        const CoordPoint p2 = {next(-5, 45), next(-5, 35)};
        const CoordPoint p1 = {next(-5, 45), next(-5, 35)};
        Drawing d;
        d.extent = {0, 0, W, H};
        d.band_rows = src.height;
        d.place = [&](int32_t, int32_t, CoordPoint p[3]) {
            p[0] = p0;
            p[1] = p1;
            p[2] = p2;
        };
        ASSERT_EQ(draw(src, d), 0);
        const Image out = output();
        // A turned placement grows the canvas over the extent and the image's
        // four corners; an upright one keeps the extent.
        int64_t left = 0, right = W, bottom = 0, top = H;
        if (p2.y != p0.y || p1.x != p2.x)
            for (const CoordPoint &c :
                 {p0, p1, p2, CoordPoint{p0.x + p1.x - p2.x, p0.y + p1.y - p2.y}}) {
                left = std::min(left, c.x);
                right = std::max(right, c.x);
                bottom = std::min(bottom, c.y);
                top = std::max(top, c.y);
            }
        ASSERT_EQ(out.width, right - left);
        ASSERT_EQ(out.height, top - bottom);
        // Canvas coordinates: x from the left edge, y counted down from the top.
        const int64_t c0[2] = {p0.x - left, top - p0.y};
        const int64_t u[2] = {p2.x - p0.x, p0.y - p2.y};
        const int64_t v[2] = {p1.x - p2.x, p2.y - p1.y};
        const bool flat = u[0] * v[1] - u[1] * v[0] == 0;
        for (int32_t y = 0; y < out.height; ++y)
            for (int32_t x = 0; x < out.width; ++x) {
                uint8_t want[3] = {0, 0, 0};
                if (!flat) {
                    const ExactHit hit = exact_hit(c0, u, v, src.width, src.height, x, y);
                    if (hit.ambiguous) {
                        ++skipped;
                        continue;
                    }
                    if (hit.i >= 0) {
                        std::memcpy(want, src.at(hit.i, hit.j), 3);
                        ++covered;
                    }
                }
                ASSERT_EQ(std::memcmp(out.at(x, y), want, 3), 0)
                    << "round " << round << " pixel " << x << "," << y;
            }
    }
    // The placements cover a good share of the canvas; few centres are ties.
    EXPECT_GT(covered, 40 * 40 * 30 / 10);
    EXPECT_LT(skipped, covered / 5);
}

TEST_F(PngOutput, HostilePlacementsAndSizesNeverCrash)
{
    ASSERT_EQ(OpenDevice(setup_.get()), 0);
    GdsfHandle *g = setup_->gdsf;
    BeginPic(setup_.get(), "PICTURE 1");
    const CoordRect extent = {0, 0, 64, 48};
    SetPictureExtent(g, &extent);
    BeginPicBody(setup_.get());
    const CoordPoint square[4] = {{INT32_MIN, 0}, {INT32_MAX, INT32_MAX}, {0, INT32_MIN}, {5, 5}};
    BeginRegion(g, 1);
    Polygon(g, 4, square);
    EndRegion(g);
    SetRegionIndicator(g, 1, 2);
    std::vector<uint8_t> rows(4 * 16 * 16, 0x5A);
    const int32_t extremes[] = {INT32_MIN, -1000000, -1, 0, 1, 17, 1000000, INT32_MAX};
    uint32_t seed = 99;
    for (int k = 0; k < 2000; ++k) {
        CoordPoint p[3];
        for (auto &pt : p) {
            seed = seed * 1103515245u + 12345u;
            pt.x = int64_t{extremes[(seed >> 8) % 8]} + (seed >> 16) % 7; // low 32 bits wrap
            seed = seed * 1103515245u + 12345u;
            pt.y = int64_t{extremes[(seed >> 8) % 8]} - int64_t((seed >> 16) % 7);
        }
        const int32_t size[2] = {1 + k % 16, k % 17};
        ImageRows(g, p, size, k % 2 ? KX_PIXELS_RGB24 : KX_PIXELS_INDEX8, 1, rows.data());
        SetRegionIndicator(g, 1, k % 3 ? 2 : 0);
    }
    EndPic(setup_.get());
    EXPECT_EQ(CloseDevice(setup_.get()), 0);
    Image out;
    EXPECT_TRUE(read_png(setup_->outputName, out));
}

} // namespace
