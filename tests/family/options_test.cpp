// The option stand-in: set, replace, remove, buffer rules, the option set, hook, temp block, full table.
#include <gtest/gtest.h>
#include <options/yt_ut.h>

#include <cstring>
#include <string>
#include <thread>
#include <vector>

namespace {

// Taken before any test runs: the library starts with nothing set.
const bool started_empty = [] {
    uint64_t value = 0;
    uint32_t size = sizeof value;
    return HostGetGlobalOptionSet() == nullptr &&
           HostGetGlobalOption(YT_OPTION_FILE_HOOK, &value, sizeof value) == YT_NOT_SET &&
           HostGetOption(nullptr, YT_OPTION_TEMP_DIR, &value, &size) == YT_BAD_ARGUMENT;
}();

class Options : public ::testing::Test {
protected:
    void SetUp() override { HostClearOptions(); }
};

// Set and replace are read back in the full-table test; here removal and the reader's buffer rules.
TEST_F(Options, GlobalOptionsAndTheirBufferRules)
{
    EXPECT_TRUE(started_empty);
    // A larger buffer gets the value and zeros, a smaller one is left alone; a zero-size value reads as zeros.
    const uint32_t four = 0xA1B2C3D4u;
    ASSERT_EQ(HostSetGlobalOption(7, &four, sizeof four), YT_OK);
    ASSERT_EQ(HostSetGlobalOption(9, "", 0), YT_OK);
    EXPECT_EQ(HostGetGlobalOptionSet(), nullptr); // global options are not the set
    unsigned char big[8] = {0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE};
    EXPECT_EQ(HostGetGlobalOption(7, big, 3), YT_TOO_SMALL);
    EXPECT_EQ(big[0], 0xEE);
    ASSERT_EQ(HostGetGlobalOption(7, big, sizeof big), YT_OK);
    EXPECT_EQ(std::memcmp(big, "\xD4\xC3\xB2\xA1\0\0\0\0", 8), 0);
    EXPECT_EQ(HostGetGlobalOption(7, nullptr, 8), YT_BAD_ARGUMENT);
    big[0] = 0xEE;
    EXPECT_EQ(HostGetGlobalOption(9, big, sizeof big), YT_OK);
    EXPECT_EQ(big[0], 0);
    EXPECT_EQ(HostGetGlobalOption(9, big, 0), YT_OK);
    ASSERT_EQ(HostSetGlobalOption(7, nullptr, 0), YT_OK);
    EXPECT_EQ(HostGetGlobalOption(7, big, sizeof big), YT_NOT_SET);
    EXPECT_EQ(HostSetGlobalOption(68, nullptr, 0), YT_OK); // removing what is not there

    ASSERT_EQ(HostSetOption(2, &four, sizeof four), YT_OK);
    HostClearOptions();
    EXPECT_EQ(HostGetGlobalOption(9, big, sizeof big), YT_NOT_SET);
    EXPECT_EQ(HostGetGlobalOptionSet(), nullptr);
}

TEST_F(Options, OptionSetExistsWhileItHoldsOptions)
{
    const char text[] = "value";
    ASSERT_EQ(HostSetOption(100, text, sizeof text), YT_OK);
    void *set = HostGetGlobalOptionSet();
    ASSERT_NE(set, nullptr);
    char out[16] = "z";
    uint32_t size = 3; // too small: nothing written, the size needed comes back
    EXPECT_EQ(HostGetOption(set, 100, out, &size), YT_TOO_SMALL);
    EXPECT_EQ(size, sizeof text);
    EXPECT_STREQ(out, "z");
    size = sizeof out;
    ASSERT_EQ(HostGetOption(set, 100, out, &size), YT_OK);
    EXPECT_EQ(size, sizeof text);
    EXPECT_STREQ(out, "value");
    size = sizeof out;
    EXPECT_EQ(HostGetOption(set, 101, out, &size), YT_NOT_SET);
    EXPECT_EQ(size, sizeof out);
    int stray = 0;
    EXPECT_EQ(HostGetOption(&stray, 100, out, &size), YT_BAD_ARGUMENT);
    EXPECT_EQ(HostGetOption(set, 100, nullptr, &size), YT_BAD_ARGUMENT);
    EXPECT_EQ(HostGetOption(set, 100, out, nullptr), YT_BAD_ARGUMENT);
    ASSERT_EQ(HostSetOption(100, nullptr, 0), YT_OK);
    EXPECT_EQ(HostGetGlobalOptionSet(), nullptr);
}

int32_t some_hook(void **, char *, uint32_t) { return 1; }

// Setting a hook is seen through the filter in tests/profile; here only its removal.
TEST_F(Options, FileHookAndTempDirectoryBlock)
{
    ASSERT_EQ(HostSetFileHook(reinterpret_cast<void (*)()>(&some_hook)), YT_OK);
    void *hook = nullptr;
    ASSERT_EQ(HostSetFileHook(nullptr), YT_OK);
    EXPECT_EQ(HostGetGlobalOption(YT_OPTION_FILE_HOOK, &hook, 8), YT_NOT_SET);

    // Eight zero bytes, then the text; 255 characters still fit a 264-byte block, 256 do not.
    for (const size_t length : {255, 256}) {
        const std::string text(length, 'd');
        ASSERT_EQ(HostSetTempDirectory(text.c_str()), YT_OK);
        unsigned char block[264];
        uint32_t size = sizeof block;
        EXPECT_EQ(HostGetOption(HostGetGlobalOptionSet(), YT_OPTION_TEMP_DIR, block, &size),
                  length < 256 ? YT_OK : YT_TOO_SMALL);
        EXPECT_EQ(size, length + 9);
        if (length < 256) {
            EXPECT_EQ(std::string(reinterpret_cast<char *>(block), size), std::string(8, '\0') + text + '\0');
        }
    }
    ASSERT_EQ(HostSetTempDirectory(nullptr), YT_OK);
    EXPECT_EQ(HostGetGlobalOptionSet(), nullptr);
}

TEST_F(Options, FullTableRefusesNewOptionsButReplacesOld)
{
    for (int32_t i = 0; i < YT_MAX_OPTIONS; ++i)
        ASSERT_EQ(HostSetGlobalOption(i, &i, sizeof i), YT_OK) << i;
    const int32_t extra = YT_MAX_OPTIONS, replaced = -5;
    EXPECT_EQ(HostSetGlobalOption(extra, &extra, sizeof extra), YT_FULL);
    EXPECT_EQ(HostSetGlobalOption(3, &replaced, sizeof replaced), YT_OK);
    ASSERT_EQ(HostSetGlobalOption(0, nullptr, 0), YT_OK);
    for (int32_t i = 1, value = 0; i < YT_MAX_OPTIONS; ++i) {
        ASSERT_EQ(HostGetGlobalOption(i, &value, sizeof value), YT_OK) << i;
        EXPECT_EQ(value, i == 3 ? -5 : i);
    }
    EXPECT_EQ(HostSetGlobalOption(extra, &extra, sizeof extra), YT_OK);
    EXPECT_EQ(HostSetOption(extra, &extra, sizeof extra), YT_OK); // a table of its own
}

// Any thread may call: a reader never sees half of one value and half of another (and the thread build sees no race).
TEST_F(Options, ValuesReadBackWholeWhileAnotherThreadWrites)
{
    const std::vector<unsigned char> a(64, 0xAA), b(64, 0xBB);
    ASSERT_EQ(HostSetGlobalOption(11, a.data(), 64), YT_OK);
    std::thread writer([&] {
        for (int i = 0; i < 2000; ++i)
            HostSetGlobalOption(11, (i & 1 ? a : b).data(), 64);
    });
    int mixed = 0;
    for (int i = 0; i < 2000; ++i) {
        unsigned char out[64];
        mixed += HostGetGlobalOption(11, out, sizeof out) == YT_OK && std::memcmp(out, a.data(), 64) &&
                 std::memcmp(out, b.data(), 64);
    }
    writer.join();
    EXPECT_EQ(mixed, 0);
}

} // namespace
