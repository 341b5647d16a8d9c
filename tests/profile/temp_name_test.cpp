// QORGetTempFileName with and without the host's hook and directory: always a new private file.
#include <kxfpx/profile.h>
#include <kxfpx/qorfile.h>
#include <kxfpx/sharedlib.h>

#include <gtest/gtest.h>
#include <options/yt_ut.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include <sys/stat.h>
#include <unistd.h>

#include "scoped_env.h"
#include "support.h"

namespace {

namespace fs = std::filesystem;

constexpr size_t kNameBuffer = 260;
constexpr int32_t kNoHook = 99;

struct HookLog {
    int calls = 0, closes = 0;
    int32_t answer = kNoHook;
    QorHostStream *object_on_entry = reinterpret_cast<QorHostStream *>(1);
    char *path = nullptr;
    uint32_t mode = 99;
};
HookLog hook_log;

// Answering 0 hands over a stream that the caller must close.
int32_t recording_hook(QorHostStream **object, char *path, uint32_t mode)
{
    static QorHostStream stream{};
    stream.close = [](QorHostStream *) -> int32_t { return ++hook_log.closes, 0; };
    hook_log.calls++, hook_log.object_on_entry = *object, hook_log.path = path, hook_log.mode = mode;
    std::strcpy(path, "written by the hook");
    if (hook_log.answer == 0)
        *object = &stream;
    return hook_log.answer;
}

// "<dir>/file" and six characters: a regular file the caller owns, mode 0600; removed here.
::testing::AssertionResult is_new_private_file_in(const std::string &name, const std::string &dir)
{
    struct stat st;
    const bool shaped = name.size() == dir.size() + std::strlen("/file") + 6 && name.rfind(dir + "/file", 0) == 0;
    const bool exists = ::lstat(name.c_str(), &st) == 0;
    ::unlink(name.c_str());
    if (!shaped || !exists)
        return ::testing::AssertionFailure() << name << (exists ? " is not in " : " does not exist in ") << dir;
    if (!S_ISREG(st.st_mode) || st.st_uid != ::getuid() || (st.st_mode & 07777) != 0600)
        return ::testing::AssertionFailure() << name << " mode " << std::oct << st.st_mode;
    return ::testing::AssertionSuccess();
}

TEST(TempName, HookThenHostDirectoryFromByteEightOfTheOptionElseTmp)
{
    kxtest::ScopedEnv no_tmpdir("TMPDIR", nullptr); // $TMPDIR is preferred over the host's directory
    // The folder plus 11 characters: 259 and the NUL fill the 260-byte buffer, one more is refused.
    kxtest::TempDir dir;
    const std::string fits = dir.file(std::string(248 - dir.path().size() - 1, 'l'));
    const std::string too_long = fits + "m";
    fs::create_directories(fits), fs::create_directories(too_long);
    const std::string zeros(8, '\0');
    std::string too_big = zeros + dir.path();
    too_big.resize(265, '\0');
    const struct {
        const char *what;
        int32_t option; // -1: the file hook's global option
        std::string value;
        int32_t hook_answer;
        std::string where; // empty: no name
    } cases[] = {
        {"no options", 0, "", kNoHook, "/tmp"},
        {"hook answering 0: no name, the stream closed", YT_OPTION_TEMP_DIR, zeros + fits + '\0', 0, ""},
        {"hook answering 1", 0, "", 1, "/tmp"},
        {"hook option holding null", -1, zeros, kNoHook, "/tmp"},
        {"directory option too big for its block", YT_OPTION_TEMP_DIR, too_big, kNoHook, "/tmp"},
        // No NUL: the text is cut at the block's last byte, a folder that does not exist.
        {"directory filling the whole block", YT_OPTION_TEMP_DIR, zeros + "/" + std::string(255, 'a'), kNoHook,
         "/tmp"},
        {"eight bytes before the directory", YT_OPTION_TEMP_DIR, "ABCDEFGH" + dir.path() + '\0', kNoHook, dir.path()},
        {"a name of 259 characters", YT_OPTION_TEMP_DIR, zeros + fits + '\0', kNoHook, fits},
        {"a name of 260 characters", YT_OPTION_TEMP_DIR, zeros + too_long + '\0', kNoHook, ""},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        HostClearOptions(), hook_log = HookLog{};
        hook_log.answer = c.hook_answer;
        if (c.hook_answer != kNoHook) {
            ASSERT_EQ(HostSetFileHook(reinterpret_cast<void (*)()>(&recording_hook)), 0);
        }
        const uint32_t size = static_cast<uint32_t>(c.value.size());
        if (c.option) {
            ASSERT_EQ(c.option == -1 ? HostSetGlobalOption(YT_OPTION_FILE_HOOK, c.value.data(), size)
                                     : HostSetOption(c.option, c.value.data(), size), 0);
        }
        std::vector<char> bytes(kNameBuffer + 16, '#');
        EXPECT_EQ(QORGetTempFileName(1, 2, 3, bytes.data()), c.where.empty() ? 0 : 1);
        EXPECT_EQ(std::string(bytes.data() + kNameBuffer, 16), std::string(16, '#')) << "written past the buffer";
        const std::string name(bytes.data(), strnlen(bytes.data(), kNameBuffer));
        EXPECT_TRUE(c.where.empty() ? name.empty() : is_new_private_file_in(name, c.where)) << name;
        EXPECT_EQ(hook_log.calls, c.hook_answer != kNoHook ? 1 : 0);
        EXPECT_EQ(hook_log.closes, c.hook_answer == 0 ? 1 : 0);
        if (c.hook_answer != kNoHook) { // a zeroed object word, the caller's buffer, mode 0
            EXPECT_EQ(hook_log.object_on_entry, nullptr);
            EXPECT_EQ(hook_log.path, bytes.data());
            EXPECT_EQ(hook_log.mode, 0u);
        }
    }
    HostClearOptions();
    EXPECT_TRUE(fs::is_empty(fits) && fs::is_empty(too_long)) << "a file left";
    EXPECT_EQ(QORGetTempFileName(0, 0, 0, nullptr), 0);
}

} // namespace
