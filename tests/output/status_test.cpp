// Error mapping and reporting: maperror's table, the status procedure with its
// cancel question, report styles and message arguments, and reading back the
// output library's errors with cgierror.
#include "output_fixture.h"
#include "output/gdsf.h"
#include "recorder/recorder.h"

#include <climits>

using namespace kxfpx::output;
using namespace kxtest;

namespace {

TEST(MapError, WholeTableAtEveryBoundary)
{
    const struct {
        int32_t code, second, host;
    } cases[] = {
        {0, 0, 0},      {1, 0, 26},     {19, 0, 26},    {20, 0, 65},       {21, 0, 12},
        {26, 0, 12},    {27, 0, 26},    {75, 0, 26},    {76, 0, 0},        {77, 0, 26},
        {160, 0, 26},   {161, 0, 13},   {166, 0, 13},   {167, 0, 26},      {168, 0, 25},
        {169, 0, 26},   {299, 0, 26},   {300, 0, 27},   {301, 0, 23},      {302, 269, 9},
        {302, 2, 14},   {302, 0, 14},   {302, -269, 14}, {303, 0, 15},     {304, 0, 19},
        {305, 0, 19},   {306, 0, 26},   {900, 0, 26},   {901, 0, 61},      {902, 0, 26},
        {65535, 0, 26}, {269, 269, 26}, {76, 269, 0},   {INT32_MAX, 0, 26},
        // Negative codes compare unsigned: none falls on 0, 76, 302 or 901.
        {-1, 269, 26},  {-76, 269, 26}, {-901, 269, 26}, {-302, 269, 26},  {INT32_MIN, 269, 26},
    };
    for (const auto &c : cases)
        EXPECT_EQ(maperror(c.code, c.second), c.host) << c.code << " / " << c.second;
}

TEST(StatusProc, OnlyAProgressAnswerAsksTheCancelQuestion)
{
    EXPECT_EQ(CallGetSet_Status(nullptr, 1, KX_STATUS_PROGRESS, 0, 50, 0, 0, nullptr), 0);
    const struct {
        int32_t kind, code;
        std::deque<int32_t> answers;
        int32_t result;
        size_t calls;
    } cases[] = {{0, 0, {1, 7}, 7, 2}, {0, 0, {1, 0}, 0, 2}, {0, -1, {5}, 5, 1}, {0, 5, {5}, 5, 1},
                 {1, 0, {5}, 5, 1},    {2, 0, {5}, 5, 1},    {3, 21, {5}, 5, 1}};
    for (const auto &c : cases) {
        HostSide::calls.clear();
        HostSide::answers = c.answers;
        MessageArgs args = {{1, 2, 3}};
        EXPECT_EQ(CallGetSet_Status(&HostSide::proc, 42, c.kind, c.code, 30, 5, 0, &args), c.result);
        ASSERT_EQ(HostSide::calls.size(), c.calls) << c.kind << " " << c.code;
        if (c.calls == 2) {
            const StatusCall &q = HostSide::calls[1];
            EXPECT_EQ(q.user, 42u);
            EXPECT_EQ(q.kind, KX_STATUS_QUESTION);
            EXPECT_EQ(q.code, KX_CANCELLED);
            EXPECT_EQ(q.value1 | q.value2 | q.style, 0);
            ASSERT_TRUE(q.has_args);
            for (uint64_t word : q.args.words)
                EXPECT_EQ(word, 0u);
        }
    }
}

class Reporting : public OutputTest {};

TEST_F(Reporting, StylesFollowTheCode)
{
    const struct {
        int32_t code, style;
    } cases[] = {{9, 1},   {21, 0},  {0, 0},   {55, 0},   {56, 1},  {57, 2},  {58, 0},
                 {59, 2},  {60, 1},  {61, 0},  {527, 2},  {775, 2}, {784, 2}, {4867, 1},
                 {4868, 0}, {-23, 0}, {17922, 0}};
    for (const auto &c : cases) {
        HostSide::calls.clear();
        EXPECT_EQ(qorgen_error(setup_.get(), c.code), 0);
        ASSERT_EQ(HostSide::calls.size(), 1u);
        const StatusCall &call = HostSide::calls[0];
        EXPECT_EQ(call.style, c.style) << c.code;
        EXPECT_EQ(call.kind, KX_STATUS_ERROR);
        EXPECT_EQ(call.code, c.code);
        EXPECT_EQ(call.user, 0xABCDEFu);
        EXPECT_EQ(call.value1 | call.value2, 0);
    }
}

TEST_F(Reporting, MessageArgumentsArriveInOrderAndUnusedOnesAreZero)
{
    message(setup_.get(), 300, 11, 22, 33);
    ask_yesno(setup_.get(), 301, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10);
    ASSERT_EQ(HostSide::calls.size(), 2u);
    EXPECT_EQ(HostSide::calls[0].kind, KX_STATUS_MESSAGE);
    EXPECT_EQ(HostSide::calls[1].kind, KX_STATUS_QUESTION);
    const uint64_t first[10] = {11, 22, 33, 0, 0, 0, 0, 0, 0, 0};
    for (int k = 0; k < 10; ++k) {
        EXPECT_EQ(HostSide::calls[0].args.words[k], first[k]);
        EXPECT_EQ(HostSide::calls[1].args.words[k], uint64_t(k + 1));
    }
}

TEST_F(Reporting, AnyNonZeroAnswerCancelsAndNoStatusProcedureAnswersZero)
{
    HostSide::answers = {3, 1, -1};
    EXPECT_EQ(qorgen_error(setup_.get(), 21), KX_CANCELLED);
    EXPECT_EQ(message(setup_.get(), 21), KX_CANCELLED);
    EXPECT_EQ(ask_yesno(setup_.get(), 21), KX_CANCELLED);
    EXPECT_EQ(ask_yesno(setup_.get(), 21), 0);

    HostSide::calls.clear();
    host_.statusProc = nullptr;
    HostSide::answers = {1, 1, 1, 1};
    EXPECT_EQ(qorgen_error(setup_.get(), 9), 0);
    EXPECT_EQ(message(setup_.get(), 9), 0);
    EXPECT_EQ(ask_yesno(setup_.get(), 9), 0);
    setup_->progressPercent = 50;
    EXPECT_EQ(esc_chk(setup_.get()), 0);
    setup_->hostRecord = nullptr;
    EXPECT_EQ(err_hand(setup_.get(), 9, KX_STATUS_ERROR, nullptr), 0);
    EXPECT_EQ(esc_chk(setup_.get()), 0);
    EXPECT_EQ(qorgen_error(nullptr, 9), 0);
    EXPECT_TRUE(HostSide::calls.empty());

    set_err(setup_.get(), 1234);
    EXPECT_EQ(setup_->errorCode, 1234);
    set_err(nullptr, 5);
}

class ErrorReadBack : public OutputTest {
protected:
    void SetUp() override
    {
        OutputTest::SetUp();
        recorder_reset();
        ASSERT_NE(open_library("libkxtest_recorder.so"), nullptr);
    }
};

TEST_F(ErrorReadBack, PendingPairsAreReadOnceAndMappedWithTheirSecondCode)
{
    EXPECT_EQ(cgierror(nullptr, nullptr), 0);
    int16_t codes[2] = {0, 0};
    EXPECT_EQ(cgierror(setup_.get(), codes), 0);
    EXPECT_NE(std::string(recorder_calls()).find("QueryError 1\n"), std::string::npos);

    recorder_fail_after(KX_GDSF_BEGIN_PICTURE, 302, 269);
    EXPECT_EQ(BeginPic(setup_.get(), "PICTURE 1"), KX_OUTPUT_WRITE_FAILED);
    EXPECT_EQ(cgierror(setup_.get(), codes), 0); // BeginPic read it already
    EXPECT_EQ(errors(), std::vector<int32_t>{KX_OUTPUT_WRITE_FAILED});

    // 16-bit codes are sign-extended: 0xFFFF is -1.
    recorder_fail_after(KX_GDSF_BEGIN_PICTURE, -1, 0);
    BeginPicture(setup_->gdsf, "x");
    EXPECT_EQ(cgierror(setup_.get(), codes), KX_OUTPUT_ERROR);
    EXPECT_EQ(codes[0], -1);
    recorder_fail_after(KX_GDSF_BEGIN_PICTURE, 901, 0);
    BeginPicture(setup_->gdsf, "x");
    EXPECT_EQ(cgierror(setup_.get(), nullptr), KX_CANCELLED);

    // A count left at 0 means no error even with the pair written.
    recorder_query_leaves_count(1);
    recorder_fail_after(KX_GDSF_BEGIN_PICTURE, 300, 0);
    BeginPicture(setup_->gdsf, "x");
    EXPECT_EQ(cgierror(setup_.get(), codes), 0);
    EXPECT_EQ(codes[0], 300);
}

} // namespace
