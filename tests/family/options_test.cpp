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

TEST_F(Options, GlobalOptionsAndTheirBufferRules)
{
    EXPECT_TRUE(started_empty);
    uint64_t value = 0;
    for (const uint64_t v : {0x1122334455667788u, uint64_t{42}}) { // set, then replace
        ASSERT_EQ(HostSetGlobalOption(67, &v, sizeof v), YT_OK);
        ASSERT_EQ(HostGetGlobalOption(67, &value, sizeof value), YT_OK);
        EXPECT_EQ(value, v);
    }
    ASSERT_EQ(HostSetGlobalOption(67, nullptr, 0), YT_OK);
    EXPECT_EQ(HostGetGlobalOption(67, &value, sizeof value), YT_NOT_SET);
    EXPECT_EQ(HostSetGlobalOption(68, nullptr, 0), YT_OK);
    EXPECT_EQ(HostGetGlobalOptionSet(), nullptr); // global options are not the set

    const uint32_t four = 0xA1B2C3D4u;
    ASSERT_EQ(HostSetGlobalOption(7, &four, sizeof four), YT_OK);
    unsigned char big[8];
    std::memset(big, 0xEE, sizeof big);
    ASSERT_EQ(HostGetGlobalOption(7, big, sizeof big), YT_OK);
    EXPECT_EQ(std::memcmp(big, &four, 4), 0);
    EXPECT_EQ(std::memcmp(big + 4, "\0\0\0\0", 4), 0);
    unsigned char small[3] = {0xEE, 0xEE, 0xEE};
    EXPECT_EQ(HostGetGlobalOption(7, small, sizeof small), YT_TOO_SMALL);
    EXPECT_EQ(small[0], 0xEE);
    EXPECT_EQ(HostGetGlobalOption(7, nullptr, 8), YT_BAD_ARGUMENT);
    // A zero-size value is set and reads back as zeros.
    ASSERT_EQ(HostSetGlobalOption(9, "", 0), YT_OK);
    std::memset(big, 0xEE, sizeof big);
    EXPECT_EQ(HostGetGlobalOption(9, big, sizeof big), YT_OK);
    EXPECT_EQ(big[0], 0);
    EXPECT_EQ(HostGetGlobalOption(9, big, 0), YT_OK);

    ASSERT_EQ(HostSetOption(2, &four, sizeof four), YT_OK);
    HostClearOptions();
    EXPECT_EQ(HostGetGlobalOption(7, big, sizeof big), YT_NOT_SET);
    EXPECT_EQ(HostGetGlobalOptionSet(), nullptr);
}

TEST_F(Options, OptionSetExistsWhileItHoldsOptions)
{
    const char text[] = "value";
    ASSERT_EQ(HostSetOption(100, text, sizeof text), YT_OK);
    void *set = HostGetGlobalOptionSet();
    ASSERT_NE(set, nullptr);
    char out[16];
    uint32_t size = sizeof out;
    ASSERT_EQ(HostGetOption(set, 100, out, &size), YT_OK);
    EXPECT_EQ(size, sizeof text);
    EXPECT_STREQ(out, "value");
    std::memset(out, 'z', sizeof out);
    size = 3;
    EXPECT_EQ(HostGetOption(set, 100, out, &size), YT_TOO_SMALL);
    EXPECT_EQ(size, sizeof text);
    EXPECT_EQ(out[0], 'z');
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

TEST_F(Options, FileHookAndTempDirectoryBlock)
{
    ASSERT_EQ(HostSetFileHook(reinterpret_cast<void (*)()>(&some_hook)), YT_OK);
    void *hook = nullptr;
    ASSERT_EQ(HostGetGlobalOption(YT_OPTION_FILE_HOOK, &hook, 8), YT_OK);
    EXPECT_EQ(hook, reinterpret_cast<void *>(&some_hook));
    ASSERT_EQ(HostSetFileHook(nullptr), YT_OK);
    EXPECT_EQ(HostGetGlobalOption(YT_OPTION_FILE_HOOK, &hook, 8), YT_NOT_SET);

    ASSERT_EQ(HostSetTempDirectory("/var/tmp/x"), YT_OK);
    void *set = HostGetGlobalOptionSet();
    ASSERT_NE(set, nullptr);
    unsigned char block[264];
    std::memset(block, 0xEE, sizeof block);
    uint32_t size = sizeof block;
    ASSERT_EQ(HostGetOption(set, YT_OPTION_TEMP_DIR, block, &size), YT_OK);
    EXPECT_EQ(size, 8u + std::strlen("/var/tmp/x") + 1);
    EXPECT_EQ(std::memcmp(block, "\0\0\0\0\0\0\0\0", 8), 0);
    EXPECT_STREQ(reinterpret_cast<char *>(block + YT_TEMP_DIR_TEXT_OFFSET), "/var/tmp/x");
    // 255 characters still fit a 264-byte block; 256 do not.
    for (const size_t length : {255, 256}) {
        ASSERT_EQ(HostSetTempDirectory(std::string(length, 'd').c_str()), YT_OK);
        size = sizeof block;
        EXPECT_EQ(HostGetOption(set, YT_OPTION_TEMP_DIR, block, &size),
                  length == 255 ? YT_OK : YT_TOO_SMALL);
        EXPECT_EQ(size, length + 9);
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
        if (HostGetGlobalOption(11, out, sizeof out) == YT_OK && std::memcmp(out, a.data(), 64) &&
            std::memcmp(out, b.data(), 64))
            ++mixed;
    }
    writer.join();
    EXPECT_EQ(mixed, 0);
}

} // namespace
