// Picture and device control against the recording output library: the
// order and arguments of the table calls, error injection at each step,
// the viewport's low 16 bits, colour tables, progress and cancel, and the
// binding of the library through its export rows.
#include "output_fixture.h"
#include "output/gdsf.h"
#include "recorder/recorder.h"

#include <sstream>

using namespace kxfpx::output;

using namespace kxtest;

namespace {

std::vector<std::string> lines(const char *text)
{
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        out.push_back(line);
    return out;
}

// The recorded calls since the last mark.
class Device : public OutputTest {
protected:
    void SetUp() override
    {
        OutputTest::SetUp();
        recorder_reset();
        ASSERT_NE(open_library("libkxtest_recorder.so"), nullptr);
        mark();
    }
    void mark() { seen_ = lines(recorder_calls()).size(); }
    std::vector<std::string> calls() const
    {
        auto all = lines(recorder_calls());
        return std::vector<std::string>(all.begin() + seen_, all.end());
    }
    size_t seen_ = 0;
};

TEST_F(Device, BindingThroughTheExportRows)
{
    EXPECT_EQ(recorder_open_argument(), 0);
    EXPECT_EQ(recorder_shared_lib(), setup_->gdsf->lib);
    ASSERT_NE(setup_->gdsf->table, nullptr);
    recorder_set_result(KX_GDSF_SHUTDOWN, 0x1234);
    const int32_t result = CloseGDSF(setup_->gdsf);
    setup_->gdsf = nullptr;
    EXPECT_EQ(result, 0x1234);
    const auto tail = calls();
    ASSERT_EQ(tail.size(), 2u);
    EXPECT_EQ(tail[0], "Shutdown");
    EXPECT_EQ(tail[1], "UnLoadOutput");
}

TEST_F(Device, OpenDeviceSendsRangeThenOpensAndActivates)
{
    EXPECT_EQ(OpenDevice(setup_.get()), 0);
    const std::vector<std::string> expected = {
        "OpenWorkstation \"out.png\" \"PNG\" 0 1122334455 host", "QueryError 1",
        "ActivateOutput \"out.png\"", "QueryError 1"};
    EXPECT_EQ(calls(), expected);
    ASSERT_EQ(HostSide::calls.size(), 1u);
    const StatusCall &range = HostSide::calls[0];
    EXPECT_EQ(range.kind, KX_STATUS_PROGRESS);
    EXPECT_EQ(range.code, -1);
    EXPECT_EQ(range.value1, 0);
    EXPECT_EQ(range.value2, 100);
    EXPECT_FALSE(range.has_args);
}

TEST_F(Device, WorkstationStatus76IsNoErrorAndSkipsActivation)
{
    recorder_set_result(KX_GDSF_OPEN_WORKSTATION, 76);
    EXPECT_EQ(OpenDevice(setup_.get()), 0);
    const auto c = calls();
    ASSERT_EQ(c.size(), 1u);
    EXPECT_EQ(c[0].rfind("OpenWorkstation", 0), 0u);
    EXPECT_TRUE(errors_reported().empty());
}

TEST_F(Device, WorkstationStatusUsesOnlyItsLow16BitsAndNoSecondCode)
{
    // 0x10000 + 302: low 16 bits 302, mapped with second code 0 -> 14.
    recorder_set_result(KX_GDSF_OPEN_WORKSTATION, 0x10000 + 302);
    EXPECT_EQ(OpenDevice(setup_.get()), KX_MISSING_STRUCTURE);
    ASSERT_EQ(errors_reported().size(), 1u);
    EXPECT_EQ(errors_reported()[0].code, KX_MISSING_STRUCTURE);
    // Only the high bits set: the 16-bit status is 0, so the device opens.
    mark();
    recorder_set_result(KX_GDSF_OPEN_WORKSTATION, 0x10000);
    EXPECT_EQ(OpenDevice(setup_.get()), 0);
    EXPECT_EQ(calls().size(), 4u);
}

TEST_F(Device, ErrorPendingAfterOpeningIsReportedWithoutActivation)
{
    recorder_fail_after(KX_GDSF_OPEN_WORKSTATION, 302, 269);
    EXPECT_EQ(OpenDevice(setup_.get()), KX_OUTPUT_WRITE_FAILED);
    EXPECT_EQ(calls().size(), 2u);
    ASSERT_EQ(errors_reported().size(), 1u);
    EXPECT_EQ(errors_reported()[0].style, 1);
}

TEST_F(Device, FailedActivationClosesTheWorkstation)
{
    recorder_fail_after(KX_GDSF_ACTIVATE_OUTPUT, 161, 0);
    EXPECT_EQ(OpenDevice(setup_.get()), KX_OUTPUT_DEVICE);
    const auto c = calls();
    ASSERT_EQ(c.size(), 5u);
    EXPECT_EQ(c[4], "CloseWorkstation");
    ASSERT_EQ(errors_reported().size(), 1u);
    EXPECT_EQ(errors_reported()[0].code, KX_OUTPUT_DEVICE);
}

TEST_F(Device, CloseDeviceReturnsCancelFromDeactivationUnreported)
{
    recorder_fail_after(KX_GDSF_DEACTIVATE_OUTPUT, 901, 0);
    EXPECT_EQ(CloseDevice(setup_.get()), KX_CANCELLED);
    const std::vector<std::string> expected = {"DeactivateOutput", "QueryError 1",
                                               "CloseWorkstation"};
    EXPECT_EQ(calls(), expected);
    EXPECT_TRUE(HostSide::calls.empty());
}

TEST_F(Device, CloseDeviceReportsDeactivationErrorsAndWorkstationStatus)
{
    recorder_fail_after(KX_GDSF_DEACTIVATE_OUTPUT, 301, 0);
    EXPECT_EQ(CloseDevice(setup_.get()), KX_OUTPUT_PARAMETER);
    ASSERT_EQ(errors_reported().size(), 1u);
    EXPECT_EQ(errors_reported()[0].code, KX_OUTPUT_PARAMETER);

    // A failing close wins, mapped with second code 2 (302 -> 14, not 9).
    HostSide::calls.clear();
    recorder_set_result(KX_GDSF_CLOSE_WORKSTATION, 302);
    EXPECT_EQ(CloseDevice(setup_.get()), KX_MISSING_STRUCTURE);
    ASSERT_EQ(errors_reported().size(), 1u);
    EXPECT_EQ(errors_reported()[0].code, KX_MISSING_STRUCTURE);
}

TEST_F(Device, CloseDeviceReportsAWorkstationStatusEvenWhenItMapsToZero)
{
    // Unlike the open, the close reports whatever the status maps to.
    recorder_set_result(KX_GDSF_CLOSE_WORKSTATION, 76);
    EXPECT_EQ(CloseDevice(setup_.get()), 0);
    ASSERT_EQ(errors_reported().size(), 1u);
    EXPECT_EQ(errors_reported()[0].code, 0);
    // Only the low 16 bits count, sign-extended: 0xFFFF is -1, as unsigned
    // far beyond 901.
    HostSide::calls.clear();
    recorder_set_result(KX_GDSF_CLOSE_WORKSTATION, 0x7FFF0000FFFFLL);
    EXPECT_EQ(CloseDevice(setup_.get()), KX_OUTPUT_ERROR);
    ASSERT_EQ(errors_reported().size(), 1u);
    EXPECT_EQ(errors_reported()[0].code, KX_OUTPUT_ERROR);
}

TEST_F(Device, CloseDeviceWithoutLibraryIsNoDevice)
{
    GdsfHandle *kept = setup_->gdsf;
    setup_->gdsf = nullptr;
    EXPECT_EQ(CloseDevice(setup_.get()), KX_NO_DEVICE);
    EXPECT_TRUE(calls().empty());
    EXPECT_TRUE(HostSide::calls.empty());
    setup_->gdsf = kept;
}

TEST_F(Device, ViewportModeZeroKeepsTheLow16BitsOfEachSlot)
{
    const CoordRect rect = {70000, -1, 0x7FFFFFFF00000005LL, 46};
    recorder_set_result(KX_GDSF_SET_DEVICE_VIEWPORT, 0x123456789LL);
    EXPECT_EQ(SetViewport(setup_.get(), 0, &rect, 1), 0x123456789LL);
    const std::vector<std::string> expected = {"SetDeviceViewport 4464 65535 5 46"};
    EXPECT_EQ(calls(), expected);
}

TEST_F(Device, ViewportOtherModesCopyWholeSlotsAndScaleModeDecidesScaling)
{
    const CoordRect rect = {70000, -1, 0x100000005LL, 46};
    SetViewport(setup_.get(), 1, &rect, 0);
    const std::vector<std::string> expected = {
        "SetScaling 0 3ff0000000000000",
        "SetDeviceViewport 70000 -1 4294967301 46"};
    EXPECT_EQ(calls(), expected);
    mark();
    SetViewport(setup_.get(), 0, &rect, -3);
    EXPECT_EQ(calls()[0], "SetScaling -3 3ff0000000000000");
}

TEST_F(Device, ColourTableConvertsEntriesAndPassesEmptyTables)
{
    const uint8_t entries[] = {1, 2, 3, 250, 251, 252};
    EXPECT_EQ(SetColorTable(setup_.get(), -1, 2, entries), 0);
    EXPECT_EQ(SetColorTable(setup_.get(), 0, 0, entries), 0);
    const std::vector<std::string> expected = {"SetColours 65535 2 1,2,3 250,251,252",
                                               "SetColours 0 0"};
    EXPECT_EQ(calls(), expected);
}

TEST_F(Device, ColourTableThatCannotBeAllocatedIsReported)
{
    EXPECT_EQ(SetColorTable(setup_.get(), 0, -1, nullptr), KX_NO_MEMORY);
    EXPECT_TRUE(calls().empty());
    ASSERT_EQ(errors_reported().size(), 1u);
    EXPECT_EQ(errors_reported()[0].code, KX_NO_MEMORY);
}

TEST_F(Device, PictureStepsAndBackground)
{
    const uint8_t rgb[3] = {200, 100, 50};
    EXPECT_EQ(BeginPic(setup_.get(), "PICTURE 1"), 0);
    EXPECT_EQ(SetBackgroundColor(setup_.get(), rgb), 0);
    EXPECT_EQ(BeginPicBody(setup_.get()), 0);
    recorder_fail_after(KX_GDSF_END_PICTURE, 300, 0);
    EXPECT_EQ(EndPic(setup_.get()), 0); // EndPic reads no error back
    const std::vector<std::string> expected = {
        "BeginPicture \"PICTURE 1\"", "QueryError 1", "SetBackground 200,100,50",
        "BeginPictureBody", "QueryError 1", "EndPicture"};
    EXPECT_EQ(calls(), expected);
    EXPECT_TRUE(errors_reported().empty());
}

TEST_F(Device, ProgressAnswerZeroCarriesOn)
{
    setup_->progressPercent = 33;
    EXPECT_EQ(esc_chk(setup_.get()), 0);
    ASSERT_EQ(HostSide::calls.size(), 1u);
    EXPECT_EQ(HostSide::calls[0].kind, KX_STATUS_PROGRESS);
    EXPECT_EQ(HostSide::calls[0].code, 0);
    EXPECT_EQ(HostSide::calls[0].value1, 33);
    EXPECT_EQ(HostSide::calls[0].value2, 0);
}

TEST_F(Device, ProgressAnswerAsksAndNoToTheQuestionCarriesOn)
{
    setup_->errorCode = 21;
    HostSide::answers = {1, 0};
    EXPECT_EQ(esc_chk(setup_.get()), 0);
    ASSERT_EQ(HostSide::calls.size(), 2u);
    EXPECT_EQ(HostSide::calls[1].kind, KX_STATUS_QUESTION);
    EXPECT_EQ(HostSide::calls[1].code, KX_CANCELLED);
    EXPECT_EQ(setup_->errorCode, 21);
}

TEST_F(Device, YesToTheCancelQuestionCancelsAndClearsThePendingCode)
{
    setup_->errorCode = 21;
    HostSide::answers = {1, 1};
    EXPECT_EQ(esc_chk(setup_.get()), KX_CANCELLED);
    EXPECT_EQ(setup_->errorCode, 0);
    HostSide::answers = {1, 1};
    EXPECT_EQ(chk_esc(setup_.get()), KX_CANCELLED);
    EXPECT_TRUE(errors_reported().empty());
}

TEST_F(Device, ChkEscClearsAPendingLibraryError)
{
    recorder_fail_after(KX_GDSF_BEGIN_PICTURE, 168, 0);
    BeginPicture(setup_->gdsf, "x");
    mark();
    EXPECT_EQ(chk_esc(setup_.get()), KX_OUTPUT_LIMIT);
    const std::vector<std::string> expected = {"QueryError 1", "ClearError"};
    EXPECT_EQ(calls(), expected);
    mark();
    EXPECT_EQ(chk_esc(setup_.get()), 0);
    EXPECT_EQ(calls().size(), 1u);
}

TEST_F(Device, WrappersPassArgumentsAsTheTableDefinesThem)
{
    const CoordPoint pts[3] = {{0, 46}, {70, 42}, {70, 46}};
    const int32_t size[2] = {70, 4};
    const uint8_t rows[4] = {9, 0, 0, 0};
    const CoordPoint square[4] = {{1, 2}, {3, 4}, {5, 6}, {7, 8}};
    SetDeviceStrings(setup_->gdsf, "a", nullptr, "c");
    SetOutputParameterA(setup_->gdsf, 32);
    SetOutputParameterB(setup_->gdsf, 8);
    SetOutputParameterC(setup_->gdsf, 32);
    SetScaling(setup_->gdsf, 1, 0x3FD0EEEEEEEEEEEEULL);
    BeginRegion(setup_->gdsf, 1);
    Polygon(setup_->gdsf, 4, square);
    EndRegion(setup_->gdsf);
    SetRegionIndicator(setup_->gdsf, 1, 2);
    BeginImage(setup_->gdsf, pts, size, KX_PIXELS_RGB24, 1, 1, 3, 0);
    ImageRows(setup_->gdsf, pts, size, KX_PIXELS_INDEX8, 1, rows);
    EndImage(setup_->gdsf);
    const std::vector<std::string> expected = {
        "SetDeviceStrings \"a\" null \"c\"",
        "SetOutputParameterA 32",
        "SetOutputParameterB 8",
        "SetOutputParameterC 32",
        "SetScaling 1 3fd0eeeeeeeeeeee",
        "BeginRegion 1",
        "Polygon 4 1,2 3,4 5,6 7,8",
        "EndRegion",
        "SetRegionIndicator 1 2",
        "BeginImage 0,46 70,42 70,46 70x4 -24 1 1 3 0",
        "ImageRows 0,46 70,42 70,46 70x4 -8 1 9",
        "EndImage"};
    EXPECT_EQ(calls(), expected);
}

TEST(Interpret, BindsTheHostRecordsToTheSetup)
{
    auto setup = static_cast<FilterSetup *>(std::calloc(1, sizeof(FilterSetup)));
    ASSERT_NE(setup, nullptr);
    GdsfHandle stale = {};
    setup->gdsf = &stale;
    setup->progressPercent = 77;
    std::strcpy(setup->deviceString2, "kept");
    HostRecord host = {};
    InterpretStructure interp = {};
    interp.hostValue = 0xFEEDFACECAFEULL;
    interp.deviceString1 = "one";
    interp.deviceString3 = "three";
    interp.hostRecord = &host;
    interp.fatSectorLimit = 0x1234567800000005ULL;
    SetInterpretStructure(setup, &interp);
    EXPECT_EQ(setup->gdsf, nullptr);
    EXPECT_EQ(setup->progressPercent, 0);
    EXPECT_EQ(setup->hostRecord, &host);
    EXPECT_EQ(setup->hostValue, 0xFEEDFACECAFEULL);
    EXPECT_EQ(setup->interpretStructure, &interp);
    EXPECT_STREQ(setup->deviceString1, "one");
    EXPECT_STREQ(setup->deviceString2, "kept"); // a null word leaves the field
    EXPECT_STREQ(setup->deviceString3, "three");
    EXPECT_EQ(setup->fatSectorLimit, 5);
    interp.fatSectorLimit = 0xFFFFFFFFULL;
    SetInterpretStructure(setup, &interp);
    EXPECT_EQ(setup->fatSectorLimit, -1);
    std::free(setup);
}

TEST(Binding, CallsWithoutALibraryDoNothing)
{
    GdsfHandle empty = {nullptr, nullptr, nullptr};
    EXPECT_EQ(BeginPicture(&empty, "x"), 0);
    EXPECT_EQ(Shutdown(nullptr), 0);
    EXPECT_EQ(CloseGDSF(nullptr), 0);
}

TEST(Binding, OpenGdsfFindsTheOutputLibraryBesideTheFilter)
{
    GdsfHandle *gdsf = OpenGDSF(nullptr);
    ASSERT_NE(gdsf, nullptr);
    ASSERT_NE(gdsf->lib, nullptr);
    EXPECT_NE(gdsf->context, nullptr);
    ASSERT_NE(gdsf->table, nullptr);
    EXPECT_NE(gdsf->table->slots[KX_GDSF_IMAGE_ROWS], nullptr);
    EXPECT_EQ(gdsf->table->slots[0], nullptr);
    EXPECT_EQ(CloseGDSF(gdsf), 0);
}

} // namespace
