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
constexpr size_t kTempnamTail = std::strlen("/file") + 6; // "<dir>/file" and six more characters

struct HookLog {
    int calls = 0;
    int32_t answer = 0;
    QorHostStream *object_on_entry = reinterpret_cast<QorHostStream *>(1);
    char *path = nullptr;
    uint32_t mode = 99;
    QorHostStream *hand_over = nullptr; // stored in the slot when answering 0
    int closes = 0;
};
HookLog hook_log;

int32_t recording_hook(QorHostStream **object, char *path, uint32_t mode)
{
    hook_log.calls++, hook_log.object_on_entry = *object, hook_log.path = path, hook_log.mode = mode;
    std::strcpy(path, "written by the hook");
    if (hook_log.answer == 0)
        *object = hook_log.hand_over;
    return hook_log.answer;
}

class TempName : public ::testing::Test {
protected:
    void SetUp() override { HostClearOptions(), hook_log = HookLog{}; }
    void TearDown() override { HostClearOptions(); }

    void install_hook(int32_t answer)
    {
        hook_log.answer = answer;
        ASSERT_EQ(HostSetFileHook(reinterpret_cast<void (*)()>(&recording_hook)), 0);
    }
    // One call with a buffer of 260 bytes pre-filled, plus a guard after it.
    int32_t call()
    {
        bytes_.assign(kNameBuffer + 16, '#');
        const int32_t result = QORGetTempFileName(1, 2, 3, bytes_.data());
        EXPECT_EQ(std::string(bytes_.data() + kNameBuffer, 16), std::string(16, '#')) << "written past the buffer";
        return result;
    }
    std::string name() const { return std::string(bytes_.data(), strnlen(bytes_.data(), kNameBuffer)); }

    kxtest::ScopedEnv no_tmpdir_{"TMPDIR", nullptr}; // $TMPDIR is preferred over the host's directory
    std::vector<char> bytes_;
};

// "<dir>/file" and six characters: a regular file the caller owns, mode 0600; removed here.
::testing::AssertionResult is_new_private_file_in(const std::string &name, const std::string &dir)
{
    struct stat st;
    const bool shaped = name.size() == dir.size() + kTempnamTail && name.rfind(dir + "/file", 0) == 0;
    const bool exists = ::lstat(name.c_str(), &st) == 0;
    ::unlink(name.c_str());
    if (!shaped || !exists)
        return ::testing::AssertionFailure() << name << (exists ? " is not in " : " does not exist in ") << dir;
    if (!S_ISREG(st.st_mode) || st.st_uid != ::getuid() || (st.st_mode & 07777) != 0600)
        return ::testing::AssertionFailure() << name << " mode " << std::oct << st.st_mode;
    return ::testing::AssertionSuccess();
}

TEST_F(TempName, HookAnsweringZeroMeansNoNameAndItsStreamIsClosed)
{
    install_hook(0);
    QorHostStream object{};
    object.close = [](QorHostStream *) -> int32_t { return ++hook_log.closes, 0; };
    hook_log.hand_over = &object;
    kxtest::TempDir dir;
    ASSERT_EQ(HostSetTempDirectory(dir.path().c_str()), 0);
    EXPECT_EQ(call(), 0);
    EXPECT_EQ(bytes_[0], '\0');
    EXPECT_EQ(hook_log.calls, 1);
    EXPECT_EQ(hook_log.object_on_entry, nullptr); // a zeroed word
    EXPECT_EQ(hook_log.path, bytes_.data());
    EXPECT_EQ(hook_log.mode, 0u);
    EXPECT_EQ(hook_log.closes, 1);
    EXPECT_TRUE(fs::is_empty(dir.path()));
    EXPECT_EQ(QORGetTempFileName(0, 0, 0, nullptr), 0); // no buffer
}

TEST_F(TempName, HostDirectoryFromByteEightOfTheOptionElseTmp)
{
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
        int32_t hook_answer; // 0: no hook
        std::string where;   // empty: no name
    } cases[] = {
        {"no options", 0, "", 0, "/tmp"},
        {"hook answering 1", 0, "", 1, "/tmp"},
        {"hook answering -1", 0, "", -1, "/tmp"},
        {"hook option holding null", -1, zeros, 0, "/tmp"},
        {"option set without the directory", 1234, std::string("\5\0\0\0", 4), 0, "/tmp"},
        {"directory option too big for its block", YT_OPTION_TEMP_DIR, too_big, 0, "/tmp"},
        // No NUL: the text is cut at the block's last byte, a folder that does not exist.
        {"directory filling the whole block", YT_OPTION_TEMP_DIR, zeros + "/" + std::string(255, 'a'), 0, "/tmp"},
        {"eight bytes before the directory", YT_OPTION_TEMP_DIR, "ABCDEFGH" + dir.path() + '\0', 0, dir.path()},
        {"a hook that lets names be made", YT_OPTION_TEMP_DIR, zeros + dir.path() + '\0', 3, dir.path()},
        {"a name of 259 characters", YT_OPTION_TEMP_DIR, zeros + fits + '\0', 0, fits},
        {"a name of 260 characters", YT_OPTION_TEMP_DIR, zeros + too_long + '\0', 0, ""},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        HostClearOptions(), hook_log = HookLog{};
        if (c.hook_answer)
            install_hook(c.hook_answer);
        const uint32_t size = static_cast<uint32_t>(c.value.size());
        if (c.option) {
            ASSERT_EQ(c.option == -1 ? HostSetGlobalOption(YT_OPTION_FILE_HOOK, c.value.data(), size)
                                     : HostSetOption(c.option, c.value.data(), size), 0);
        }
        EXPECT_EQ(call(), c.where.empty() ? 0 : 1);
        EXPECT_EQ(hook_log.calls, c.hook_answer ? 1 : 0);
        EXPECT_TRUE(c.where.empty() ? name().empty() : is_new_private_file_in(name(), c.where)) << name();
    }
    EXPECT_TRUE(fs::is_empty(fits) && fs::is_empty(too_long)) << "a file left";
}

} // namespace
