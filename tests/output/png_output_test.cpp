// The real output library driven as an import drives it; its PNG, call log and errors checked.
#include "output_fixture.h"
#include "image.h"
#include "scoped_env.h"

#include <zlib.h>

#include <fstream>
#include <functional>

using namespace kxfpx::output;
using namespace kxtest;

namespace {

constexpr int32_t W = 70, H = 46;
using Pixel = std::vector<uint8_t>;
const Pixel kBlack = {0, 0, 0};

using fpxw::Image;

Pixel px(const Image &img, int32_t x, int32_t y) { return Pixel(img.pixel(x, y), img.pixel(x, y) + img.channels); }

// A W x H picture in which every pixel differs from its neighbours.
Image pattern(int32_t channels)
{
    Image img{W, H, channels, {}};
    for (int32_t y = 0; y < H; ++y)
        for (int32_t x = 0; x < W; ++x)
            for (int32_t c = 0; c < channels; ++c)
                img.samples.push_back(uint8_t(x * 3 + y * 7 + c * 85));
    return img;
}

// Three corner points of the band of `rows` rows starting at source row j0.
using Placement = std::function<void(int32_t j0, int32_t rows, CoordPoint p[3])>;

// Upright, bands running down.
void upright(int32_t j0, int32_t rows, CoordPoint p[3])
{
    p[0] = {0, H - j0}, p[1] = {W, H - j0 - rows}, p[2] = {W, H - j0};
}

const CoordPoint kClip[4] = {{4, 37}, {4, 0}, {70, 0}, {70, 37}};

struct Drawing {
    CoordRect extent = {0, 0, W, H};
    Placement place = upright;
    int32_t band_rows = 7;
    const uint8_t *colour_table = nullptr; // r, g, b entries for indexed sources
    bool clip = false;
};

void expect_pixels(const Image &out, int32_t width, int32_t height, int32_t channels,
                   const std::function<Pixel(int32_t, int32_t)> &expected)
{
    ASSERT_EQ(out.width, width);
    ASSERT_EQ(out.height, height);
    ASSERT_EQ(out.channels, channels);
    int mismatches = 0;
    for (int32_t y = 0; y < height; ++y)
        for (int32_t x = 0; x < width; ++x)
            if (std::memcmp(out.pixel(x, y), expected(x, y).data(), size_t(channels)) != 0 &&
                ++mismatches <= 5)
                ADD_FAILURE() << "pixel " << x << "," << y << " differs";
    EXPECT_EQ(mismatches, 0);
}

class PngOutput : public OutputTest {
protected:
    void SetUp() override
    {
        OutputTest::SetUp();
        std::strcpy(setup_->outputName, dir_.file("out.png").c_str());
        ASSERT_NE(open_library("libzo_unx2.so"), nullptr);
    }
    // The import's sequence of calls, drawing `src` in bands.
    int32_t draw(const Image &src, const Drawing &d = Drawing{})
    {
        GdsfHandle *g = setup_->gdsf;
        int32_t result = OpenDevice(setup_.get());
        if (result != 0)
            return result;
        const uint8_t black[3] = {0, 0, 0};
        BeginPic(setup_.get(), "PICTURE 1");
        SetBackgroundColor(setup_.get(), black);
        SetOutputParameterA(g, 32), SetOutputParameterB(g, 8), SetOutputParameterC(g, 32);
        SetPictureExtent(g, &d.extent);
        SetScaling(g, 1, 0x3FD0EEEEEEEEEEEEULL);
        SetViewport(setup_.get(), 0, &d.extent, 1);
        result = BeginPicBody(setup_.get());
        SetBodyRectangle(g, &d.extent);
        if (d.clip)
            BeginRegion(g, 1), Polygon(g, 4, kClip), EndRegion(g), SetRegionIndicator(g, 1, 2);
        const int32_t format = src.channels == 1 ? KX_PIXELS_INDEX8 : KX_PIXELS_RGB24;
        if (d.colour_table)
            SetColorTable(setup_.get(), 0, 256, d.colour_table);
        CoordPoint points[3];
        d.place(0, src.height, points);
        const int32_t whole[2] = {src.width, src.height};
        BeginImage(g, points, whole, format, 1, 1, 3, 0);
        const size_t row = size_t(src.width) * size_t(src.channels);
        const size_t stride = (row + 3) & ~size_t{3};
        std::vector<uint8_t> band;
        for (int32_t j0 = 0; j0 < src.height; j0 += d.band_rows) {
            const int32_t rows = std::min(d.band_rows, src.height - j0);
            band.assign(stride * size_t(rows), 0xEE); // padding bytes must not show
            for (int32_t j = 0; j < rows; ++j)
                std::memcpy(&band[size_t(j) * stride], src.pixel(0, j0 + j), row);
            d.place(j0, rows, points);
            const int32_t size[2] = {src.width, rows};
            ImageRows(g, points, size, format, 1, band.data());
        }
        EndImage(g);
        EndPic(setup_.get());
        const int32_t closed = CloseDevice(setup_.get());
        return result != 0 ? result : closed;
    }

    // An open device with a picture body of `extent`, or null.
    GdsfHandle *begin(const CoordRect &extent)
    {
        if (OpenDevice(setup_.get()) != 0)
            return nullptr;
        BeginPic(setup_.get(), "PICTURE 1");
        SetPictureExtent(setup_->gdsf, &extent);
        return BeginPicBody(setup_.get()) == 0 ? setup_->gdsf : nullptr;
    }

    Image output()
    {
        Image out;
        EXPECT_TRUE(fpxw::load_png(setup_->outputName, out).empty()) << setup_->outputName;
        return out;
    }

    ScopedEnv no_log_{"KXFPX_OUTPUT_LOG", nullptr};
    TempDir dir_;
};

// Band seams under a clip, and bands far off the canvas: all 35 columns left, odd bands 2 billion units up. Turns,
// scales and shears are the exact comparison's below; plain upright bands the refused-picture test's last picture.
TEST_F(PngOutput, BandsArePlacedThroughTheirThreeCornerPoints)
{
    const Image src = pattern(3);
    Drawing d;
    d.clip = true;
    ASSERT_EQ(draw(src, d), 0);
    expect_pixels(output(), W, H, 3, [&](int32_t x, int32_t y) {
        return x >= 4 && y >= H - 37 ? px(src, x, y) : kBlack;
    });
    d.clip = false;
    d.place = [](int32_t j0, int32_t rows, CoordPoint p[3]) {
        const int32_t dy = (j0 / 7) % 2 ? 2000000000 : 0;
        p[0] = {-35, H - j0 + dy}, p[1] = {35, H - j0 - rows + dy}, p[2] = {35, H - j0 + dy};
    };
    ASSERT_EQ(draw(src, d), 0);
    expect_pixels(output(), W, H, 3, [&](int32_t x, int32_t y) {
        return x < 35 && (y / 7) % 2 == 0 ? px(src, x + 35, y) : kBlack;
    });
    EXPECT_TRUE(errors().empty());
}

// Indexed rows whose colours are not grey make an RGB picture through the colour table (every monochrome
// import shows the grey case).
TEST_F(PngOutput, IndexedImageWithColouredTableIsWrittenRgb)
{
    const Image src = pattern(1);
    std::vector<uint8_t> t;
    for (int i = 0; i < 256; ++i)
        t.insert(t.end(), {uint8_t(i), uint8_t(255 - i), 7});
    Drawing d;
    d.colour_table = t.data();
    ASSERT_EQ(draw(src, d), 0);
    expect_pixels(output(), W, H, 3, [&](int32_t x, int32_t y) {
        const uint8_t i = *src.pixel(x, y);
        return Pixel{i, uint8_t(255 - i), 7};
    });
}

TEST_F(PngOutput, CallLogRecordsEveryCallInOrder)
{
    CloseGDSF(setup_->gdsf); // reloaded so that the log sees the library opened
    const std::string log = dir_.file("calls.log");
    ScopedEnv logging("KXFPX_OUTPUT_LOG", log.c_str());
    ASSERT_NE(open_library("libzo_unx2.so"), nullptr);
    SetDeviceStrings(setup_->gdsf, "a", nullptr, "c");
    const Image src = pattern(1);
    Drawing d;
    d.band_rows = 40;
    d.clip = true;
    ASSERT_EQ(draw(src, d), 0);
    CloseGDSF(std::exchange(setup_->gdsf, nullptr));
    // The host hears of the device's opening once, as progress.
    ASSERT_EQ(HostSide::calls.size(), 1u);
    EXPECT_EQ(HostSide::calls[0].fields(), std::make_tuple(0xABCDEFu, KX_STATUS_PROGRESS, -1, 0, 100, 0));
    EXPECT_FALSE(HostSide::calls[0].has_args);

    auto crc_of_rows = [&](int32_t j0, int32_t rows) {
        uLong crc = crc32(0L, Z_NULL, 0);
        for (int32_t j = j0; j < j0 + rows; ++j)
            crc = crc32(crc, src.pixel(0, j), W);
        char text[16];
        std::snprintf(text, sizeof text, "crc=%08lx", crc);
        return std::string(text);
    };
    const std::string out = setup_->outputName;
    const std::string expected =
        "C_OpenOutput 0\nC_GetOutputTable\nSetDeviceStrings \"a\" null \"c\"\n"
        "OpenWorkstation \"" + out + "\" \"PNG\" 0 0x0000001122334455 host\nQueryError 1 -> 0\n"
        "ActivateOutput \"" + out + "\"\nQueryError 1 -> 0\n"
        "BeginPicture \"PICTURE 1\"\nQueryError 1 -> 0\nSetBackground 0,0,0\n"
        "SetOutputParameterA 32\nSetOutputParameterB 8\nSetOutputParameterC 32\n"
        "SetPictureExtent 0 0 70 46\nSetScaling 1 0x3fd0eeeeeeeeeeee 0.26458333333333328\n"
        "SetDeviceViewport 0 0 70 46\nBeginPictureBody\nQueryError 1 -> 0\nSetBodyRectangle 0 0 70 46\n"
        "BeginRegion 1\nPolygon 4 4,37 4,0 70,0 70,37\nEndRegion\nSetRegionIndicator 1 2\n"
        "BeginImage 0,46 70,0 70,46 70x46 -8 1 1 3 0\n"
        "ImageRows 0,46 70,6 70,46 70x40 -8 1 " + crc_of_rows(0, 40) + "\n"
        "ImageRows 0,6 70,0 70,6 70x6 -8 1 " + crc_of_rows(40, 6) + "\n"
        "EndImage\nEndPicture\nDeactivateOutput\nQueryError 1 -> 0\nCloseWorkstation\nShutdown\nUnLoadOutput\n";
    EXPECT_EQ(read_file(log), expected);
}

TEST_F(PngOutput, RefusedPicturesWriteNothingAndKeepOldFiles)
{
    // After a picture in the same library, whose canvas must not come back.
    const Image src = pattern(3);
    ASSERT_EQ(draw(src), 0);
    const std::string old_text(100000, 'x');
    const struct {
        CoordRect extent;
        int32_t code;
    } cases[] = {{{0, 0, 0, 46}, KX_OUTPUT_PARAMETER}, {{INT32_MIN, INT32_MIN, INT32_MAX, INT32_MAX}, KX_NO_MEMORY}};
    for (const auto &c : cases) {
        std::remove(setup_->outputName);
        HostSide::calls.clear();
        Drawing d;
        d.extent = c.extent;
        // The import ignores BeginPicBody's result and learns of the refusal again at the close.
        EXPECT_EQ(draw(src, d), c.code);
        EXPECT_EQ(errors(), (std::vector<int32_t>{c.code, c.code}));
        EXPECT_FALSE(path_exists(setup_->outputName));
        std::ofstream(setup_->outputName, std::ios::binary) << old_text;
        EXPECT_EQ(draw(src, d), c.code);
        EXPECT_EQ(read_file(setup_->outputName), old_text);
    }
    // A picture replaces all of an old file.
    ASSERT_EQ(draw(src), 0);
    expect_pixels(output(), W, H, 3, [&](int32_t x, int32_t y) { return px(src, x, y); });
    EXPECT_LT(read_file(setup_->outputName).size(), old_text.size());
}

TEST_F(PngOutput, PictureThatCannotBeWrittenEndsWithOutputWriteFailure)
{
    if (!path_exists("/dev/full"))
        GTEST_SKIP() << "no /dev/full";
    std::strcpy(setup_->outputName, "/dev/full"); // EndPicture's failed write is read back at the close
    EXPECT_EQ(draw(pattern(3)), KX_OUTPUT_WRITE_FAILED);
    EXPECT_EQ(errors(), std::vector<int32_t>{KX_OUTPUT_WRITE_FAILED});
    EXPECT_TRUE(path_exists("/dev/full"));
}

TEST_F(PngOutput, MalformedImageCallsAreRefusedWithoutDrawing)
{
    GdsfHandle *g = begin({0, 0, 8, 8});
    ASSERT_NE(g, nullptr);
    const CoordPoint p[3] = {{0, 8}, {8, 0}, {8, 8}}, flat[3] = {{0, 8}, {8, 8}, {8, 8}};
    const uint8_t rows[8 * 8 * 3] = {255};
    const struct {
        int32_t columns, rows, format;
        const uint8_t *data;
        const CoordPoint *at;
        int32_t code;
    } cases[] = {{-8, 8, KX_PIXELS_RGB24, rows, p, KX_OUTPUT_PARAMETER},
                 {8, -1, KX_PIXELS_RGB24, rows, p, KX_OUTPUT_PARAMETER},
                 {1 << 30, 1, KX_PIXELS_RGB24, rows, p, KX_OUTPUT_PARAMETER},
                 {8, 8, -16, rows, p, KX_OUTPUT_UNSUPPORTED},
                 {8, 8, KX_PIXELS_RGB24, nullptr, p, KX_OUTPUT_PARAMETER},
                 {8, 8, KX_PIXELS_RGB24, rows, flat, 0}}; // a degenerate placement draws nothing
    for (const auto &c : cases) {
        const int32_t size[2] = {c.columns, c.rows};
        ImageRows(g, c.at, size, c.format, 1, c.data);
        EXPECT_EQ(cgierror(setup_.get(), nullptr), c.code) << c.columns << "x" << c.rows;
    }
    EndPic(setup_.get());
    EXPECT_EQ(CloseDevice(setup_.get()), 0);
    expect_pixels(output(), 8, 8, 3, [](int32_t, int32_t) { return kBlack; });
}

// The source pixel under a canvas pixel centre (-1 outside); `ambiguous` on a source pixel border.
struct ExactHit {
    int32_t i = -1, j = -1;
    bool ambiguous = false;
};

uint32_t lcg(uint32_t &seed) { return seed = seed * 1103515245u + 12345u; }

ExactHit exact_hit(const int64_t c0[2], const int64_t u[2], const int64_t v[2], int32_t nx,
                   int32_t ny, int32_t cx, int32_t cy)
{
    const int64_t qx = 2 * cx + 1 - 2 * c0[0], qy = 2 * cy + 1 - 2 * c0[1];
    int64_t det = 2 * (u[0] * v[1] - u[1] * v[0]);
    int64_t sn = (qx * v[1] - qy * v[0]) * nx, tn = (u[0] * qy - u[1] * qx) * ny;
    if (det < 0)
        det = -det, sn = -sn, tn = -tn;
    ExactHit hit;
    hit.ambiguous = sn % det == 0 || tn % det == 0;
    if (sn >= 0 && sn < det * nx && tn >= 0 && tn < det * ny)
        hit.i = int32_t(sn / det), hit.j = int32_t(tn / det);
    return hit;
}

TEST_F(PngOutput, AnyAffinePlacementMatchesExactNearestNeighbour)
{
    Image src{9, 5, 3, {}};
    for (int k = 0; k < 9 * 5 * 3; ++k)
        src.samples.push_back(uint8_t(1 + (k / 3) * 5 + k % 3));
    const int32_t CW = 40, CH = 30;
    uint32_t seed = 12345;
    int64_t covered = 0, skipped = 0;
    auto next = [&](int32_t lo, int32_t hi) { return lo + int32_t((lcg(seed) >> 8) % uint32_t(hi - lo + 1)); };
    for (int round = 0; round < 40; ++round) {
        // Start of row 0, end of row 0 and the opposite corner, in one band.
        const CoordPoint p0 = {next(-5, 45), next(-5, 35)};
        const CoordPoint p2 = {next(-5, 45), next(-5, 35)};
        const CoordPoint p1 = {next(-5, 45), next(-5, 35)};
        Drawing d;
        d.extent = {0, 0, CW, CH};
        d.band_rows = src.height;
        d.place = [&](int32_t, int32_t, CoordPoint p[3]) { p[0] = p0, p[1] = p1, p[2] = p2; };
        ASSERT_EQ(draw(src, d), 0);
        const Image out = output();
        // A turned placement grows the canvas to the image's corners; an upright one keeps the extent.
        int64_t left = 0, right = CW, bottom = 0, top = CH;
        if (p2.y != p0.y || p1.x != p2.x)
            for (const CoordPoint &c : {p0, p1, p2, CoordPoint{p0.x + p1.x - p2.x, p0.y + p1.y - p2.y}}) {
                left = std::min(left, c.x), right = std::max(right, c.x);
                bottom = std::min(bottom, c.y), top = std::max(top, c.y);
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
                    if (hit.i >= 0)
                        std::memcpy(want, src.pixel(hit.i, hit.j), 3), ++covered;
                }
                ASSERT_EQ(std::memcmp(out.pixel(x, y), want, 3), 0) << "round " << round << " pixel " << x << "," << y;
            }
    }
    EXPECT_GT(covered, 40 * 40 * 30 / 10);
    EXPECT_LT(skipped, covered / 5);
}

TEST_F(PngOutput, HostilePlacementsAndSizesNeverCrash)
{
    GdsfHandle *g = begin({0, 0, 64, 48});
    ASSERT_NE(g, nullptr);
    const CoordPoint square[4] = {{INT32_MIN, 0}, {INT32_MAX, INT32_MAX}, {0, INT32_MIN}, {5, 5}};
    BeginRegion(g, 1), Polygon(g, 4, square), EndRegion(g), SetRegionIndicator(g, 1, 2);
    std::vector<uint8_t> rows(4 * 16 * 16, 0x5A);
    const int32_t extremes[] = {INT32_MIN, -1000000, -1, 0, 1, 17, 1000000, INT32_MAX};
    uint32_t seed = 99;
    for (int k = 0; k < 2000; ++k) {
        CoordPoint p[3];
        for (auto &pt : p) {
            const uint32_t a = lcg(seed), b = lcg(seed);
            pt.x = int64_t{extremes[(a >> 8) % 8]} + (a >> 16) % 7; // low 32 bits wrap
            pt.y = int64_t{extremes[(b >> 8) % 8]} - int64_t((b >> 16) % 7);
        }
        const int32_t size[2] = {1 + k % 16, k % 17};
        ImageRows(g, p, size, k % 2 ? KX_PIXELS_RGB24 : KX_PIXELS_INDEX8, 1, rows.data());
        SetRegionIndicator(g, 1, k % 3 ? 2 : 0);
    }
    EndPic(setup_.get());
    EXPECT_EQ(CloseDevice(setup_.get()), 0);
    output();
}

} // namespace
