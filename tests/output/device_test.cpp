// Device control, error mapping and reporting against a recording function table built here.
#include "output_fixture.h"

#include <climits>
#include <map>

using namespace kxfpx::output;
using namespace kxtest;

namespace {

using Lines = std::vector<std::string>;

struct Recorder {
    Lines calls;
    std::map<int32_t, int64_t> results;
    std::map<int32_t, std::pair<int16_t, int16_t>> failures; // pending after the slot's next call
    bool pending = false, count_stays_zero = false;
    int16_t code = 0, second = 0;
    SharedLib *unloaded = nullptr;
} rec;

// The context's first word points at the record where OpenGDSF stores the lib.
struct Context {
    void **record = &lib;
    void *lib = nullptr;
} context;

std::map<int32_t, const char *> names; // filled with the table

// One word per argument: reals by their bits, pointers the tests do not read only as present or null. Only the
// slots these tests reach are filled; the others answer 0 without a call.
std::string word(int32_t v) { return std::to_string(v); }
std::string word(uint16_t v) { return std::to_string(v); }
std::string word(uint64_t v) { char hex[24]; return snprintf(hex, sizeof hex, "%016llx", (unsigned long long)v), hex; }
std::string word(const std::string &s) { return s; }
std::string word(const void *p) { return p ? "ptr" : "null"; }
std::string word(const CoordRect *r)
{
    return std::to_string(r->x1) + " " + std::to_string(r->y1) + " " + std::to_string(r->x2) + " " +
           std::to_string(r->y2);
}
std::string word(const ColourRec *c) { return c ? word(c->red) + "," + word(c->green) + "," + word(c->blue) : "null"; }

template <int32_t Slot, typename... A>
int64_t record(void *, A... args)
{
    std::string line = names.at(Slot);
    ((line += " " + word(args)), ...);
    rec.calls.push_back(line);
    if (Slot == KX_GDSF_CLEAR_ERROR)
        rec.pending = false;
    auto failure = rec.failures.find(Slot);
    if (failure != rec.failures.end()) {
        rec.pending = true;
        std::tie(rec.code, rec.second) = failure->second;
        rec.failures.erase(failure);
    }
    auto result = rec.results.find(Slot);
    return result == rec.results.end() ? 0 : result->second;
}

int64_t query_error(void *c, int32_t wanted, int32_t *count, int16_t *codes)
{
    if (rec.pending) {
        codes[0] = rec.code;
        codes[1] = rec.second;
        if (!rec.count_stays_zero)
            *count = 1;
        rec.pending = false;
    }
    return record<KX_GDSF_QUERY_ERROR>(c, wanted);
}

int64_t set_colours(void *c, uint16_t first, int32_t count, const ColourRec *colours)
{
    std::string list = word(count);
    for (int32_t k = 0; k < count; ++k)
        list += " " + word(&colours[k]);
    return record<KX_GDSF_SET_COLOURS>(c, first, list);
}

template <int32_t Slot, typename... A>
GdsfProc slot(int64_t (*)(void *, A...))
{
    return reinterpret_cast<GdsfProc>(&record<Slot, A...>);
}

GdsfTable *get_table(void *)
{
    static GdsfTable t = [] {
        GdsfTable t = {};
#define SLOT(s, type, name) \
    t.slots[KX_GDSF_##s] = slot<KX_GDSF_##s>(static_cast<type>(nullptr)), names[KX_GDSF_##s] = name
        SLOT(OPEN_WORKSTATION, GdsfOpenWorkstationProc, "OpenWorkstation");
        SLOT(ACTIVATE_OUTPUT, GdsfNameProc, "ActivateOutput");
        SLOT(DEACTIVATE_OUTPUT, GdsfNoArgProc, "DeactivateOutput");
        SLOT(CLOSE_WORKSTATION, GdsfNoArgProc, "CloseWorkstation");
        SLOT(SHUTDOWN, GdsfNoArgProc, "Shutdown");
        SLOT(BEGIN_PICTURE, GdsfNameProc, "BeginPicture");
        SLOT(BEGIN_PICTURE_BODY, GdsfNoArgProc, "BeginPictureBody");
        SLOT(END_PICTURE, GdsfNoArgProc, "EndPicture");
        SLOT(SET_SCALING, GdsfScalingProc, "SetScaling");
        SLOT(SET_DEVICE_VIEWPORT, GdsfRectProc, "SetDeviceViewport");
        SLOT(SET_BACKGROUND, GdsfColourProc, "SetBackground");
        SLOT(CLEAR_ERROR, GdsfNoArgProc, "ClearError");
#undef SLOT
        t.slots[KX_GDSF_QUERY_ERROR] = reinterpret_cast<GdsfProc>(&query_error);
        t.slots[KX_GDSF_SET_COLOURS] = reinterpret_cast<GdsfProc>(&set_colours);
        names[KX_GDSF_QUERY_ERROR] = "QueryError", names[KX_GDSF_SET_COLOURS] = "SetColours";
        return t;
    }();
    return &t;
}

void *open_output(int64_t) { return &context; }

// A positive answer keeps the (never opened) library loaded: only the record is freed.
int32_t unload_output(SharedLib *lib)
{
    rec.unloaded = lib;
    return 1;
}

FilterExportRow g_rows[] = {
    {KX_GDSF_OPEN_ENTRY, 1, reinterpret_cast<void *>(open_output)},
    {KX_GDSF_TABLE_ENTRY, 2, reinterpret_cast<void *>(get_table)},
    {KX_GDSF_UNLOAD_ENTRY, 3, reinterpret_cast<void *>(unload_output)},
};

class Device : public OutputTest {
protected:
    void SetUp() override
    {
        OutputTest::SetUp();
        rec = Recorder{};
        context.lib = nullptr;
        auto *lib = static_cast<SharedLib *>(std::calloc(1, sizeof(SharedLib)));
        lib->rowCount = 3;
        lib->rows = g_rows;
        ASSERT_NE(setup_->gdsf = OpenGDSF(lib), nullptr);
        mark();
    }
    void mark() { seen_ = rec.calls.size(); }
    // The recorded calls since the last mark.
    Lines calls() const { return Lines(rec.calls.begin() + long(seen_), rec.calls.end()); }
    size_t seen_ = 0;
};

// The library's record learns its SharedLib; the close hands back Shutdown's result and unloads that lib.
TEST_F(Device, BindingThroughTheExportRowsAndTheCloseResult)
{
    SharedLib *lib = setup_->gdsf->lib;
    EXPECT_EQ(context.lib, lib);
    rec.results[KX_GDSF_SHUTDOWN] = 0x1234;
    EXPECT_EQ(CloseGDSF(std::exchange(setup_->gdsf, nullptr)), 0x1234);
    EXPECT_EQ(rec.unloaded, lib);
}

TEST_F(Device, OpenAndCloseStatusesAndErrors)
{
    const struct {
        bool close;
        int32_t result_slot;
        int64_t result;
        int32_t fail_slot;
        int16_t code;
        int32_t expect;
        size_t calls;
        std::vector<int32_t> reported;
    } cases[] = {
        // Status 76 means no error and skips activation; only the low 16 bits count.
        {false, KX_GDSF_OPEN_WORKSTATION, 76, 0, 0, 0, 1, {}},
        {false, KX_GDSF_OPEN_WORKSTATION, 0x10000, 0, 0, 0, 4, {}},
        // A failed activation closes the workstation.
        {false, 0, 0, KX_GDSF_ACTIVATE_OUTPUT, 161, KX_OUTPUT_DEVICE, 5, {KX_OUTPUT_DEVICE}},
        // Cancel from the deactivation comes back unreported.
        {true, 0, 0, KX_GDSF_DEACTIVATE_OUTPUT, 901, KX_CANCELLED, 3, {}},
        {true, 0, 0, KX_GDSF_DEACTIVATE_OUTPUT, 301, KX_OUTPUT_PARAMETER, 3, {KX_OUTPUT_PARAMETER}},
        // The close maps with second code 2 (302 -> 14), reports even 0; 0xFFFF is -1.
        {true, KX_GDSF_CLOSE_WORKSTATION, 302, 0, 0, KX_MISSING_STRUCTURE, 3, {KX_MISSING_STRUCTURE}},
        {true, KX_GDSF_CLOSE_WORKSTATION, 76, 0, 0, 0, 3, {0}},
        {true, KX_GDSF_CLOSE_WORKSTATION, 0x7FFF0000FFFFLL, 0, 0, KX_OUTPUT_ERROR, 3, {KX_OUTPUT_ERROR}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(&c - cases);
        rec = Recorder{};
        mark();
        HostSide::calls.clear();
        if (c.result_slot)
            rec.results[c.result_slot] = c.result;
        if (c.fail_slot)
            rec.failures[c.fail_slot] = {c.code, 0};
        EXPECT_EQ(c.close ? CloseDevice(setup_.get()) : OpenDevice(setup_.get()), c.expect);
        const Lines made = calls();
        EXPECT_EQ(made.size(), c.calls);
        if (c.calls > 2) {
            EXPECT_EQ(made.back(), c.close || c.calls == 5 ? "CloseWorkstation" : "QueryError 1");
        }
        EXPECT_EQ(errors(), c.reported);
    }
    GdsfHandle *kept = std::exchange(setup_->gdsf, nullptr);
    EXPECT_EQ(CloseDevice(setup_.get()), KX_NO_DEVICE);
    setup_->gdsf = kept;
}

// Modes other than 0 copy whole slots (mode 0's low 16 bits show in the import's extent calls); a scale mode
// other than 1 sends the scaling first; the slot's result comes back.
TEST_F(Device, ViewportSlotsAndScaling)
{
    const CoordRect wide = {70000, -1, 0x100000005LL, 46};
    rec.results[KX_GDSF_SET_DEVICE_VIEWPORT] = 0x123456789LL;
    EXPECT_EQ(SetViewport(setup_.get(), 1, &wide, -3), 0x123456789LL);
    EXPECT_EQ(calls(), (Lines{"SetScaling -3 3ff0000000000000", "SetDeviceViewport 70000 -1 4294967301 46"}));
}

TEST_F(Device, ColourTablesAndBackground)
{
    const uint8_t entries[] = {1, 2, 3, 250, 251, 252};
    EXPECT_EQ(SetColorTable(setup_.get(), -1, 2, entries), 0);
    EXPECT_EQ(SetColorTable(setup_.get(), 0, 0, entries), 0);
    EXPECT_EQ(SetBackgroundColor(setup_.get(), entries + 3), 0);
    EXPECT_EQ(calls(), (Lines{"SetColours 65535 2 1,2,3 250,251,252", "SetColours 0 0", "SetBackground 250,251,252"}));
    // A table that cannot be allocated is reported and not sent.
    mark();
    EXPECT_EQ(SetColorTable(setup_.get(), 0, -1, nullptr), KX_NO_MEMORY);
    EXPECT_TRUE(calls().empty());
    EXPECT_EQ(errors(), std::vector<int32_t>{KX_NO_MEMORY});
}

// A zero answer carries on; a non-zero one asks whether to cancel; yes cancels and clears the code; any non-zero
// answer to a report cancels; without a status procedure, host record or setup everything answers 0.
TEST_F(Device, ProgressCancelAndAnswers)
{
    setup_->progressPercent = 33;
    EXPECT_EQ(esc_chk(setup_.get()), 0);
    ASSERT_EQ(HostSide::calls.size(), 1u);
    EXPECT_EQ(HostSide::calls[0].fields(), std::make_tuple(0xABCDEFu, KX_STATUS_PROGRESS, 0, 33, 0, 0));
    setup_->errorCode = 21;
    HostSide::answers = {1, 0};
    EXPECT_EQ(esc_chk(setup_.get()), 0);
    EXPECT_EQ(setup_->errorCode, 21);
    HostSide::answers = {1, 1};
    EXPECT_EQ(esc_chk(setup_.get()), KX_CANCELLED);
    EXPECT_EQ(setup_->errorCode, 0);
    HostSide::answers = {1, 1, 3, -1};
    EXPECT_EQ(chk_esc(setup_.get()), KX_CANCELLED);
    EXPECT_EQ(qorgen_error(setup_.get(), 21), KX_CANCELLED);
    EXPECT_EQ(ask_yesno(setup_.get(), 21), KX_CANCELLED);
    EXPECT_EQ(ask_yesno(setup_.get(), 21), 0);
    HostSide::calls.clear();
    host_.statusProc = nullptr;
    HostSide::answers = {1, 1};
    EXPECT_TRUE(qorgen_error(setup_.get(), 9) == 0 && esc_chk(setup_.get()) == 0);
    setup_->hostRecord = nullptr;
    EXPECT_TRUE(err_hand(setup_.get(), 9, KX_STATUS_ERROR, nullptr) == 0 && esc_chk(setup_.get()) == 0);
    EXPECT_EQ(qorgen_error(nullptr, 9), 0);
    EXPECT_TRUE(HostSide::calls.empty());
}

// The pending error is read back (and reported) after BeginPic, not after EndPic; chk_esc clears it; a count
// left at 0 means no error even with the pair written.
TEST_F(Device, PendingLibraryErrors)
{
    EXPECT_EQ(cgierror(nullptr, nullptr), 0);
    EXPECT_TRUE(BeginPic(setup_.get(), "PICTURE 1") == 0 && BeginPicBody(setup_.get()) == 0);
    rec.failures[KX_GDSF_END_PICTURE] = {300, 0};
    EXPECT_EQ(EndPic(setup_.get()), 0);
    rec.failures[KX_GDSF_BEGIN_PICTURE] = {302, 269};
    EXPECT_EQ(BeginPic(setup_.get(), "PICTURE 1"), KX_OUTPUT_WRITE_FAILED);
    int16_t codes[2] = {0, 0};
    EXPECT_EQ(cgierror(setup_.get(), codes), 0);
    EXPECT_EQ(errors(), std::vector<int32_t>{KX_OUTPUT_WRITE_FAILED});
    rec.failures[KX_GDSF_BEGIN_PICTURE] = {168, 0};
    BeginPicture(setup_->gdsf, "x");
    mark();
    EXPECT_EQ(chk_esc(setup_.get()), KX_OUTPUT_LIMIT);
    EXPECT_EQ(calls(), (Lines{"QueryError 1", "ClearError"}));
    mark();
    EXPECT_EQ(chk_esc(setup_.get()), 0);
    EXPECT_EQ(calls().size(), 1u);
    rec.count_stays_zero = true;
    rec.failures[KX_GDSF_BEGIN_PICTURE] = {300, 0};
    BeginPicture(setup_->gdsf, "x");
    EXPECT_EQ(cgierror(setup_.get(), codes), 0);
    EXPECT_EQ(codes[0], 300);
}

// A stale device and progress go; a null string leaves its field; the sector limit is the low 32 bits, signed.
TEST(Interpret, BindsTheHostRecordsToTheSetup)
{
    auto setup = std::make_unique<FilterSetup>();
    GdsfHandle stale = {};
    setup->gdsf = &stale, setup->progressPercent = 77;
    std::strcpy(setup->deviceString2, "kept");
    HostRecord host = {};
    InterpretStructure interp = {};
    interp.hostValue = 0xFEEDFACECAFEULL, interp.hostRecord = &host, interp.fatSectorLimit = 0x12345678FFFFFFFFULL;
    interp.deviceString1 = "one", interp.deviceString3 = "three";
    SetInterpretStructure(setup.get(), &interp);
    EXPECT_TRUE(setup->gdsf == nullptr && setup->progressPercent == 0 && setup->hostRecord == &host);
    EXPECT_TRUE(setup->hostValue == 0xFEEDFACECAFEULL && setup->interpretStructure == &interp);
    EXPECT_EQ(std::string(setup->deviceString1) + setup->deviceString2 + setup->deviceString3, "onekeptthree");
    EXPECT_EQ(setup->fatSectorLimit, -1);
}

// Calls without a table or a handle do nothing (every import finds the default library beside the filter).
TEST(Binding, WithoutALibraryCallsDoNothing)
{
    GdsfHandle empty = {nullptr, nullptr, nullptr};
    EXPECT_TRUE(BeginPicture(&empty, "x") == 0 && Shutdown(nullptr) == 0 && CloseGDSF(nullptr) == 0);
}

TEST(MapError, WholeTableAtEveryBoundary)
{
    const struct {
        int32_t code, second, host;
    } cases[] = {
        {0, 0, 0},       {1, 0, 26},      {19, 0, 26},     {20, 0, 65},   {21, 0, 12},     {26, 0, 12},
        {27, 0, 26},     {75, 0, 26},     {76, 0, 0},      {77, 0, 26},   {160, 0, 26},    {161, 0, 13},
        {166, 0, 13},    {167, 0, 26},    {168, 0, 25},    {169, 0, 26},  {299, 0, 26},    {300, 0, 27},
        {301, 0, 23},    {302, 269, 9},   {302, 2, 14},    {302, 0, 14},  {302, -269, 14}, {303, 0, 15},
        {304, 0, 19},    {305, 0, 19},    {306, 0, 26},    {900, 0, 26},  {901, 0, 61},    {902, 0, 26},
        {269, 269, 26},  {76, 269, 0},    {INT32_MAX, 0, 26},
        // Negative codes compare unsigned: none falls on 0 or 302.
        {-1, 269, 26},   {-302, 269, 26}, {INT32_MIN, 269, 26},
    };
    for (const auto &c : cases)
        EXPECT_EQ(maperror(c.code, c.second), c.host) << c.code << " / " << c.second;
}

// Only a progress report of code 0 answered non-zero asks the cancel question, with arguments of its own.
TEST(StatusProc, OnlyAProgressAnswerAsksTheCancelQuestion)
{
    EXPECT_EQ(CallGetSet_Status(nullptr, 1, KX_STATUS_PROGRESS, 0, 50, 0, 0, nullptr), 0);
    HostSide::calls.clear();
    HostSide::answers = {5, 5, 1, 7};
    MessageArgs args = {{1, 2, 3}};
    EXPECT_EQ(CallGetSet_Status(&HostSide::proc, 42, KX_STATUS_PROGRESS, -1, 30, 5, 0, &args), 5);
    EXPECT_EQ(CallGetSet_Status(&HostSide::proc, 42, KX_STATUS_MESSAGE, 0, 30, 5, 0, &args), 5);
    EXPECT_EQ(CallGetSet_Status(&HostSide::proc, 42, KX_STATUS_PROGRESS, 0, 30, 5, 0, &args), 7);
    ASSERT_EQ(HostSide::calls.size(), 4u);
    const StatusCall &q = HostSide::calls[3];
    EXPECT_EQ(q.fields(), std::make_tuple(42u, KX_STATUS_QUESTION, KX_CANCELLED, 0, 0, 0));
    EXPECT_TRUE(q.has_args && q.args.words[0] == 0 && q.args.words[1] == 0 && q.args.words[2] == 0);
}

TEST_F(Device, StylesFollowTheCodeAndMessageArgumentsArriveInOrder)
{
    const struct {
        int32_t code, style;
    } cases[] = {{9, 1},    {21, 0},  {0, 0},    {55, 0},  {56, 1},  {57, 2},   {58, 0}, {59, 2}, {60, 1},
                 {61, 0},   {527, 2}, {775, 2},  {784, 2}, {4867, 1}, {4868, 0}, {-23, 0}};
    for (const auto &c : cases) {
        HostSide::calls.clear();
        EXPECT_EQ(qorgen_error(setup_.get(), c.code), 0);
        ASSERT_EQ(HostSide::calls.size(), 1u);
        EXPECT_EQ(HostSide::calls[0].fields(), std::make_tuple(0xABCDEFu, KX_STATUS_ERROR, c.code, 0, 0, c.style));
    }
    HostSide::calls.clear();
    message(setup_.get(), 300);
    ask_yesno(setup_.get(), 301, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10);
    ASSERT_EQ(HostSide::calls.size(), 2u);
    EXPECT_TRUE(HostSide::calls[0].kind == KX_STATUS_MESSAGE && HostSide::calls[1].kind == KX_STATUS_QUESTION);
    for (int k = 0; k < 10; ++k)
        EXPECT_EQ(HostSide::calls[1].args.words[k], uint64_t(k + 1));
}

} // namespace
