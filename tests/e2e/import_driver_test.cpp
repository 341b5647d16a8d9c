// The import driver: output calls from the three sources, resolution choice, every failure code.
#include "import_harness.h"

#include "fpx/fpx_format.h"

#include <kxfpx/codes.h>

using namespace kxtest;
using namespace kxfpx::fpx;

namespace {

const Lines kExtentCalls = {"SetPictureExtent", "SetDeviceViewport", "SetBodyRectangle"};

std::array<float, 16> matrix(float m0, float m1, float m3, float m4, float m5, float m7)
{
    return {m0, m1, 0, m3, m4, m5, 0, m7, 0, 0, 1, 0, 0, 0, 0, 1};
}

// The extent, viewport (low 16 bits of each corner) and body calls of a rectangle.
Lines extent_calls(int x1, int y1, int x2, int y2)
{
    const auto r = [](int a, int b, int c, int d) {
        return std::to_string(a) + " " + std::to_string(b) + " " + std::to_string(c) + " " + std::to_string(d);
    };
    return {"SetPictureExtent " + r(x1, y1, x2, y2),
            "SetDeviceViewport " + r(x1 & 0xFFFF, y1 & 0xFFFF, x2 & 0xFFFF, y2 & 0xFFFF),
            "SetBodyRectangle " + r(x1, y1, x2, y2)};
}

} // namespace

TEST(ImportDriver, OutputCallsInOrderFromEveryInputSource)
{
    TempDir dir;
    const fpxw::Image src = picture(128, 96);
    const std::string file = make_fpx(dir, "s.fpx", raw_options(), src);
    const Lines expected = {"SetDeviceStrings \"\" \"\" \"\"", "OpenWorkstation ", "ActivateOutput",
                            "BeginPicture \"PICTURE 1\"", "SetBackground 0,0,0", "SetOutputParameterA 32",
                            "SetOutputParameterB 8", "SetOutputParameterC 32", "SetPictureExtent 0 0 128 96",
                            "SetScaling 1 0x3fd0eeeeeeeeeeee 0.26458333333333328",
                            "SetDeviceViewport 0 0 128 96", "BeginPictureBody", "SetBodyRectangle 0 0 128 96"};
    for (InputSource source : kSources) {
        const ImportOutcome out = import_file(file, {source, 2, false, {}, {}});
        ASSERT_EQ(out.code, KX_OK);
        const Lines calls = out.output_calls();
        ASSERT_GE(calls.size(), 17u);
        for (size_t k = 0; k < expected.size(); ++k)
            EXPECT_EQ(calls[k].substr(0, expected[k].size()), expected[k]) << k;
        EXPECT_EQ(Lines(calls.end() - 4, calls.end()),
                  (Lines{"EndPicture", "DeactivateOutput", "CloseWorkstation", "Shutdown"}));
        EXPECT_TRUE(out.errors.empty());
        expect_same(out.picture, src, "source " + std::to_string(int(source)));
    }
}

// The transform of data object 1's view (the highest marked from Global Info's index down).
TEST(ImportDriver, ExtentAndViewportFollowTheTransform)
{
    using O = fpxw::WriteOptions;
    const auto affine = [](std::array<float, 16> m) { return [m](O &o) { o.transform.affine = m; }; };
    const auto indices = [](int object, int highest, std::vector<int> unmarked) {
        return [=](O &o) {
            o.transform.affine = matrix(2, 0, 0, 0, 2, 0);
            o.transform_index = 3, o.data_object = object, o.highest_data_object = highest;
            o.unmarked_data_objects = unmarked;
        };
    };
    const struct { const char *name; std::function<void(O &)> set; int x1, y1, x2, y2; Edit edit = {}; } cases[] = {
        {"near unit counts as unscaled", affine(matrix(0.99f, 0, 0, 0, 0.99f, 0)), 0, 0, 128, 96},
        {"scaled, moved up", affine(matrix(2, 0, 0, 0, 2, -0.5f)), -64, -48, 192, 144},
        {"sheared and moved", affine(matrix(1, 0.5f, 0.25f, 0, 1, 0.5f)), 24, 15, 200, 150},
        {"rotated and scaled", affine(matrix(0, -2, 0, 2, 0, 0)), -192, -256, 0, 0},
        {"rotated", affine(matrix(0, -1, 0, 1, 0, 0)), 0, 0, 128, 96},
        {"aspect ratio", [](O &o) { o.transform.aspect_ratio = 2.0f; }, 0, 0, 192, 96},
        {"scaled with aspect ratio",
         [](O &o) { o.transform.affine = matrix(1.5f, 0, 0, 0, 1.5f, 0), o.transform.aspect_ratio = 0.75f; }, 0, 0,
         108, 144},
        {"region of interest",
         [](O &o) { o.transform.affine = matrix(2, 0, 0, 0, 2, 0), o.transform.region = {{0.1f, 0.1f, 0.9f, 0.8f}}; },
         0, 0, 256, 192},
        {"a view of data object 2 is not read", indices(2, 0, {}), 0, 0, 128, 96},
        {"the highest marked data object", indices(1, 4, {4, 2}), 0, 0, 256, 192},
        {"no transform stream", indices(1, 4, {4, 2}), 0, 0, 128, 96, renamed("\005Transform 000003")},
        {"a hostile highest index: the walk starts at 9999", indices(1, 2000000000, {}), 0, 0, 256, 192},
    };
    for (const auto &c : cases) {
        fpxw::WriteOptions o = raw_options();
        o.transform.write = true;
        c.set(o);
        const ImportOutcome out = import_fpx(o, picture(128, 96), c.edit);
        EXPECT_EQ(out.code, KX_OK) << c.name;
        EXPECT_EQ(out.only(kExtentCalls), extent_calls(c.x1, c.y1, c.x2, c.y2)) << c.name;
    }
}

TEST(ImportDriver, ResolutionChoiceAndFallbacks)
{
    const struct { const char *name; int16_t choice; std::vector<int> missing; int width, height; } cases[] = {
        {"lowest", 0, {}, 16, 10},
        {"middle", 1, {}, 64, 40},
        {"other values mean highest", -5, {}, 256, 160},
        {"missing highest: halvings of 256 above 63 give index 2", 2, {4}, 64, 40},
        {"then that index plus one", 2, {4, 2}, 128, 80},
        {"missing lowest: index 0 then 1", 0, {0}, 32, 20},
        {"all three tries fail", 2, {4, 2, 3}, 0, 0},
    };
    for (const auto &c : cases) {  // five resolutions: 16 x 10 up to 256 x 160; width 0: the import fails
        fpxw::WriteOptions o = raw_options(5);
        o.missing_resolutions = c.missing;
        const ImportOutcome out = import_fpx(o, picture(256, 160), {}, {InputSource::path, c.choice, false, {}, {}});
        EXPECT_EQ(out.code, c.width ? KX_OK : KX_MISSING_STRUCTURE) << c.name;
        const Lines want = c.width ? extent_calls(0, 0, c.width, c.height) : Lines{"CloseWorkstation"};
        EXPECT_EQ(out.only(c.width ? kExtentCalls : Lines{"EndPicture", "SetPictureExtent", "CloseWorkstation"}),
                  want) << c.name;
    }
}

TEST(ImportDriver, EveryFailureCodeReleasesAndReportsOnce)
{
    enum Ends { unloaded, device, picture_too };  // what a failing import has opened
    const auto patch_contents = [](uint32_t id, size_t offset, uint32_t value) -> Edit {
        return [=](fpxw::Document &doc) { put_property(doc, kImageContentsPath, id, offset, value); };
    };
    const auto patch_header = [](size_t value, uint32_t v) -> Edit {
        return [=](fpxw::Document &doc) { put_u32(stream_bytes(doc, kSubimageHeaderPath), 28 + 4 * value, v); };
    };
    const struct { const char *name; int32_t code; Ends ends; Edit edit; } cases[] = {
        {"no summary stream", KX_NOT_FLASHPIX, unloaded, renamed("\005SummaryInformation")},
        {"another class in the summary", KX_NOT_FLASHPIX, unloaded,
         [](fpxw::Document &doc) { stream_bytes(doc, "\005SummaryInformation")[12] ^= 1; }},
        {"no Global Info", KX_MISSING_STRUCTURE, device, renamed("\005Global Info")},
        {"no data object marked", KX_MISSING_STRUCTURE, device, renamed("\005Data Object 000001")},
        {"no data object store", KX_MISSING_STRUCTURE, device, renamed(kStorePath)},
        {"no Image Contents", KX_MISSING_STRUCTURE, device, renamed(kImageContentsPath)},
        {"no subimage header", KX_MISSING_STRUCTURE, device, renamed(kSubimageHeaderPath)},
        {"no subimage data", KX_MISSING_STRUCTURE, picture_too,
         renamed(kStorePath + "/Resolution 0000/Subimage 0000 Data")},
        {"highest JPEG table index above 255", KX_BAD_DATA, device, patch_contents(kPidMaxJpegTableIndex, 0, 256)},
        {"a JPEG table holds a scan", KX_BAD_DATA, device,
         [](fpxw::Document &doc) {
             std::vector<uint8_t> &ic = stream_bytes(doc, kImageContentsPath);
             const size_t at = property_at(ic, (1u << 16) | kPidJpegTablesBase) + 4;
             ASSERT_EQ(ic[at + 2], 0xFF);  // the marker after SOI
             ic[at + 3] = 0xDA;
         }},
        {"colour count below 1", KX_BAD_DATA, picture_too, patch_contents(kPidResColourBase, 4, 0)},
        {"no channels", KX_BAD_DATA, picture_too, patch_contents(kPidResColourBase, 8, 0)},
        {"width above 65535", KX_BAD_DATA, picture_too, patch_header(1, 65536)},
        {"negative height", KX_BAD_DATA, picture_too, patch_header(2, 0xFFFFFFFF)},
        {"fewer tiles than the grid", KX_BAD_DATA, picture_too, patch_header(3, 5)},
        {"tile table past the stream", KX_BAD_DATA, picture_too, patch_header(3, 0x7FFFFFFF)},
        {"tile table offset past the stream", KX_BAD_DATA, picture_too, patch_header(7, 4000)},
    };
    fpxw::WriteOptions o;  // JPEG tiles, so the file carries a table set
    o.resolutions = 1;
    for (const auto &c : cases) {
        const ImportOutcome out = import_fpx(o, picture(200, 130), c.edit);
        EXPECT_EQ(out.code, c.code) << c.name;
        EXPECT_EQ(out.errors, std::vector<int32_t>{c.code}) << c.name;
        Lines end = {"EndPicture", "DeactivateOutput", "CloseWorkstation", "Shutdown"};
        end.erase(end.begin(), end.begin() + (c.ends == picture_too ? 0 : c.ends == device ? 1 : 4));
        const Lines calls = c.ends == unloaded ? out.calls : out.output_calls();
        ASSERT_GE(calls.size(), end.size()) << c.name;
        EXPECT_EQ(Lines(calls.end() - long(end.size()), calls.end()), end) << c.name;
        EXPECT_EQ(calls.empty(), c.ends == unloaded) << c.name;
        EXPECT_EQ(out.only({"EndPicture"}).size(), c.ends == picture_too ? 1u : 0u) << c.name;
    }
}

TEST(ImportDriver, ADeviceThatDoesNotOpenUnloadsTheLibrary)
{
    TempDir dir;
    const ImportRequest request{InputSource::path, 2, false, dir.file("no such folder/out.png"), {}};
    const ImportOutcome out = import_fpx(raw_options(), picture(64, 64), {}, request);
    EXPECT_EQ(out.code, KX_OUTPUT_WRITE_FAILED);
    // Reported by the device control, then once more as the import's result.
    EXPECT_EQ(out.errors, (std::vector<int32_t>{KX_OUTPUT_WRITE_FAILED, KX_OUTPUT_WRITE_FAILED}));
    const Lines calls = out.output_calls();
    ASSERT_EQ(calls.size(), 3u);
    EXPECT_EQ(calls[2], "Shutdown");
}

TEST(ImportDriver, InputsThatCannotBeOpenedOrAreNotFlashPix)
{
    TempDir dir;
    const struct { std::string file; ImportRequest request; int32_t code; } cases[] = {
        {dir.file("missing.fpx"), {}, KX_CANNOT_OPEN},
        {make_fpx(dir, "m.fpx", raw_options(), picture(64, 64)), {InputSource::memory, 2, true, {}, {}}, KX_CANNOT_OPEN},
        {dir.write("text.fpx", "plain text, no compound file"), {}, KX_NOT_FLASHPIX},  // no root storage
    };
    for (const auto &c : cases) {
        const ImportOutcome out = import_file(c.file, c.request);
        EXPECT_EQ(out.code, c.code) << c.file;
        EXPECT_EQ(out.errors, std::vector<int32_t>{c.code}) << c.file;
        EXPECT_TRUE(out.calls.empty()) << c.file;
    }
    KX_REQUIRE_CORPUS();
    for (const char *name : {"not_flashpix.doc", "not_flashpix.mic"})
        for (InputSource source : kSources) {
            const ImportOutcome out = import_file(corpus_file(name), {source, 2, false, {}, {}});
            EXPECT_EQ(out.code, KX_NOT_FLASHPIX) << name;
            EXPECT_TRUE(out.calls.empty()) << name << ": the output library was loaded";
        }
}
