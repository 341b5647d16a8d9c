// Device and picture control against the recording output library: call order,
// error injection at each step, the viewport's low 16 bits, colour tables,
// progress and cancel, and the binding through the export rows.
#include "output_fixture.h"
#include "output/gdsf.h"
#include "recorder/recorder.h"

#include <sstream>

using namespace kxfpx::output;
using namespace kxtest;

namespace {

using Lines = std::vector<std::string>;

class Device : public OutputTest {
protected:
    void SetUp() override
    {
        OutputTest::SetUp();
        recorder_reset();
        ASSERT_NE(open_library("libkxtest_recorder.so"), nullptr);
        mark();
    }
    static Lines all()
    {
        Lines out;
        std::istringstream in(recorder_calls());
        for (std::string line; std::getline(in, line);)
            out.push_back(line);
        return out;
    }
    void mark() { seen_ = all().size(); }
    // The recorded calls since the last mark.
    Lines calls() const
    {
        const Lines a = all();
        return Lines(a.begin() + long(seen_), a.end());
    }
    size_t seen_ = 0;
};

TEST_F(Device, BindingThroughTheExportRows)
{
    EXPECT_EQ(recorder_shared_lib(), setup_->gdsf->lib);
    recorder_set_result(KX_GDSF_SHUTDOWN, 0x1234);
    EXPECT_EQ(CloseGDSF(setup_->gdsf), 0x1234);
    setup_->gdsf = nullptr;
    EXPECT_EQ(calls(), (Lines{"Shutdown", "UnLoadOutput"}));
}

TEST_F(Device, OpenDeviceSendsRangeThenOpensAndActivates)
{
    EXPECT_EQ(OpenDevice(setup_.get()), 0);
    EXPECT_EQ(calls(), (Lines{"OpenWorkstation \"out.png\" \"PNG\" 0 0000001122334455 host",
                              "QueryError 1", "ActivateOutput \"out.png\"", "QueryError 1"}));
    ASSERT_EQ(HostSide::calls.size(), 1u);
    const StatusCall &range = HostSide::calls[0];
    EXPECT_EQ(range.kind, KX_STATUS_PROGRESS);
    EXPECT_EQ(range.code, -1);
    EXPECT_EQ(range.value1, 0);
    EXPECT_EQ(range.value2, 100);
    EXPECT_FALSE(range.has_args);
}

TEST_F(Device, OpenAndCloseStatusesAndErrors)
{
    const struct {
        bool close;
        int32_t result_slot;
        int64_t result;
        int32_t fail_slot;
        int16_t code, second;
        int32_t expect;
        size_t calls;
        std::vector<int32_t> reported;
    } cases[] = {
        // Status 76 means no error and skips activation; only the low 16 bits count.
        {false, KX_GDSF_OPEN_WORKSTATION, 76, 0, 0, 0, 0, 1, {}},
        {false, KX_GDSF_OPEN_WORKSTATION, 0x10000 + 302, 0, 0, 0, KX_MISSING_STRUCTURE, 1,
         {KX_MISSING_STRUCTURE}},
        {false, KX_GDSF_OPEN_WORKSTATION, 0x10000, 0, 0, 0, 0, 4, {}},
        {false, 0, 0, KX_GDSF_OPEN_WORKSTATION, 302, 269, KX_OUTPUT_WRITE_FAILED, 2,
         {KX_OUTPUT_WRITE_FAILED}},
        // A failed activation closes the workstation.
        {false, 0, 0, KX_GDSF_ACTIVATE_OUTPUT, 161, 0, KX_OUTPUT_DEVICE, 5, {KX_OUTPUT_DEVICE}},
        // Cancel from the deactivation comes back unreported.
        {true, 0, 0, KX_GDSF_DEACTIVATE_OUTPUT, 901, 0, KX_CANCELLED, 3, {}},
        {true, 0, 0, KX_GDSF_DEACTIVATE_OUTPUT, 301, 0, KX_OUTPUT_PARAMETER, 3,
         {KX_OUTPUT_PARAMETER}},
        // The close maps its status with second code 2 (302 -> 14, not 9) and
        // reports it even when it maps to 0; 0xFFFF is -1, far beyond 901.
        {true, KX_GDSF_CLOSE_WORKSTATION, 302, 0, 0, 0, KX_MISSING_STRUCTURE, 3,
         {KX_MISSING_STRUCTURE}},
        {true, KX_GDSF_CLOSE_WORKSTATION, 76, 0, 0, 0, 0, 3, {0}},
        {true, KX_GDSF_CLOSE_WORKSTATION, 0x7FFF0000FFFFLL, 0, 0, 0, KX_OUTPUT_ERROR, 3,
         {KX_OUTPUT_ERROR}},
    };
    int n = 0;
    for (const auto &c : cases) {
        SCOPED_TRACE(n++);
        recorder_reset();
        mark();
        HostSide::calls.clear();
        if (c.result_slot)
            recorder_set_result(c.result_slot, c.result);
        if (c.fail_slot)
            recorder_fail_after(c.fail_slot, c.code, c.second);
        EXPECT_EQ(c.close ? CloseDevice(setup_.get()) : OpenDevice(setup_.get()), c.expect);
        const Lines made = calls();
        EXPECT_EQ(made.size(), c.calls);
        if (c.calls > 2) {
            EXPECT_EQ(made.back(), c.close || c.calls == 5 ? "CloseWorkstation" : "QueryError 1");
        }
        EXPECT_EQ(errors(), c.reported);
    }
    GdsfHandle *kept = setup_->gdsf;
    setup_->gdsf = nullptr;
    EXPECT_EQ(CloseDevice(setup_.get()), KX_NO_DEVICE);
    setup_->gdsf = kept;
}

TEST_F(Device, ViewportSlotsAndScaling)
{
    // Mode 0 keeps the low 16 bits of each slot and returns the slot's result.
    const CoordRect rect = {70000, -1, 0x7FFFFFFF00000005LL, 46};
    recorder_set_result(KX_GDSF_SET_DEVICE_VIEWPORT, 0x123456789LL);
    EXPECT_EQ(SetViewport(setup_.get(), 0, &rect, 1), 0x123456789LL);
    // Other modes copy whole slots; a scale mode other than 1 sends scaling first.
    const CoordRect wide = {70000, -1, 0x100000005LL, 46};
    SetViewport(setup_.get(), 1, &wide, 0);
    SetViewport(setup_.get(), 0, &wide, -3);
    EXPECT_EQ(calls(), (Lines{"SetDeviceViewport 4464 65535 5 46", "SetScaling 0 3ff0000000000000",
                              "SetDeviceViewport 70000 -1 4294967301 46",
                              "SetScaling -3 3ff0000000000000", "SetDeviceViewport 4464 65535 5 46"}));
}

TEST_F(Device, ColourTables)
{
    const uint8_t entries[] = {1, 2, 3, 250, 251, 252};
    EXPECT_EQ(SetColorTable(setup_.get(), -1, 2, entries), 0);
    EXPECT_EQ(SetColorTable(setup_.get(), 0, 0, entries), 0);
    EXPECT_EQ(calls(), (Lines{"SetColours 65535 2 1,2,3 250,251,252", "SetColours 0 0"}));
    // A table that cannot be allocated is reported and not sent.
    mark();
    EXPECT_EQ(SetColorTable(setup_.get(), 0, -1, nullptr), KX_NO_MEMORY);
    EXPECT_TRUE(calls().empty());
    EXPECT_EQ(errors(), std::vector<int32_t>{KX_NO_MEMORY});
}

TEST_F(Device, PictureStepsAndBackground)
{
    const uint8_t rgb[3] = {200, 100, 50};
    EXPECT_EQ(BeginPic(setup_.get(), "PICTURE 1"), 0);
    EXPECT_EQ(SetBackgroundColor(setup_.get(), rgb), 0);
    EXPECT_EQ(BeginPicBody(setup_.get()), 0);
    recorder_fail_after(KX_GDSF_END_PICTURE, 300, 0);
    EXPECT_EQ(EndPic(setup_.get()), 0); // EndPic reads no error back
    EXPECT_EQ(calls(), (Lines{"BeginPicture \"PICTURE 1\"", "QueryError 1", "SetBackground 200,100,50",
                              "BeginPictureBody", "QueryError 1", "EndPicture"}));
    EXPECT_TRUE(errors().empty());
}

TEST_F(Device, ProgressAndTheCancelQuestion)
{
    // A zero answer carries on; a non-zero one asks whether to cancel.
    setup_->progressPercent = 33;
    EXPECT_EQ(esc_chk(setup_.get()), 0);
    ASSERT_EQ(HostSide::calls.size(), 1u);
    EXPECT_EQ(HostSide::calls[0].kind, KX_STATUS_PROGRESS);
    EXPECT_EQ(HostSide::calls[0].code, 0);
    EXPECT_EQ(HostSide::calls[0].value1, 33);
    EXPECT_EQ(HostSide::calls[0].value2, 0);

    setup_->errorCode = 21;
    HostSide::answers = {1, 0};
    EXPECT_EQ(esc_chk(setup_.get()), 0);
    ASSERT_EQ(HostSide::calls.size(), 3u);
    EXPECT_EQ(HostSide::calls[2].kind, KX_STATUS_QUESTION);
    EXPECT_EQ(HostSide::calls[2].code, KX_CANCELLED);
    EXPECT_EQ(setup_->errorCode, 21);

    // Yes cancels and clears the pending code.
    HostSide::answers = {1, 1};
    EXPECT_EQ(esc_chk(setup_.get()), KX_CANCELLED);
    EXPECT_EQ(setup_->errorCode, 0);
    HostSide::answers = {1, 1};
    EXPECT_EQ(chk_esc(setup_.get()), KX_CANCELLED);
    EXPECT_TRUE(errors().empty());
}

TEST_F(Device, ChkEscClearsAPendingLibraryError)
{
    recorder_fail_after(KX_GDSF_BEGIN_PICTURE, 168, 0);
    BeginPicture(setup_->gdsf, "x");
    mark();
    EXPECT_EQ(chk_esc(setup_.get()), KX_OUTPUT_LIMIT);
    EXPECT_EQ(calls(), (Lines{"QueryError 1", "ClearError"}));
    mark();
    EXPECT_EQ(chk_esc(setup_.get()), 0);
    EXPECT_EQ(calls().size(), 1u);
}

TEST(Interpret, BindsTheHostRecordsToTheSetup)
{
    auto setup = static_cast<FilterSetup *>(std::calloc(1, sizeof(FilterSetup)));
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

TEST(Binding, WithoutALibraryCallsDoNothingAndTheDefaultIsFoundBesideTheFilter)
{
    GdsfHandle empty = {nullptr, nullptr, nullptr};
    EXPECT_EQ(BeginPicture(&empty, "x"), 0);
    EXPECT_EQ(Shutdown(nullptr), 0);
    EXPECT_EQ(CloseGDSF(nullptr), 0);
    GdsfHandle *gdsf = OpenGDSF(nullptr);
    ASSERT_NE(gdsf, nullptr);
    ASSERT_NE(gdsf->table, nullptr);
    EXPECT_NE(gdsf->context, nullptr);
    EXPECT_NE(gdsf->table->slots[KX_GDSF_IMAGE_ROWS], nullptr);
    EXPECT_EQ(gdsf->table->slots[0], nullptr);
    EXPECT_EQ(CloseGDSF(gdsf), 0);
}

} // namespace
