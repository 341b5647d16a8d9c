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
constexpr size_t kTempDirBlock = 264;
// "<dir>/file" and six more characters.
constexpr size_t kTempnamTail = std::strlen("/file") + 6;

struct HookLog {
    int calls = 0;
    int32_t answer = 0;
    QorHostStream *object_on_entry = reinterpret_cast<QorHostStream *>(1);
    char *path = nullptr;
    uint32_t mode = 99;
    QorHostStream *hand_over = nullptr;  // stored in the slot when answering 0
    int closes = 0;
};
HookLog hook_log;

int32_t recording_hook(QorHostStream **object, char *path, uint32_t mode)
{
    ++hook_log.calls;
    hook_log.object_on_entry = *object;
    hook_log.path = path;
    hook_log.mode = mode;
    std::strcpy(path, "written by the hook");
    if (hook_log.answer == 0)
        *object = hook_log.hand_over;
    return hook_log.answer;
}

void install_hook(int32_t answer)
{
    hook_log = HookLog{};
    hook_log.answer = answer;
    ASSERT_EQ(HostSetFileHook(reinterpret_cast<void (*)()>(&recording_hook)), 0);
}

class TempName : public ::testing::Test {
protected:
    void SetUp() override { HostClearOptions(); }
    void TearDown() override { HostClearOptions(); }

    // One call with a buffer of 260 bytes pre-filled, plus a guard after it.
    int32_t call()
    {
        bytes_.assign(kNameBuffer + 16, '#');
        const int32_t result = QORGetTempFileName(1, 2, 3, bytes_.data());
        for (size_t i = kNameBuffer; i < bytes_.size(); ++i)
            EXPECT_EQ(bytes_[i], '#') << "written past the name buffer";
        return result;
    }
    std::string name() const { return std::string(bytes_.data(), strnlen(bytes_.data(), kNameBuffer)); }
    char *buffer() { return bytes_.data(); }

    // $TMPDIR is preferred over the directory the host names.
    kxtest::ScopedEnv no_tmpdir_{"TMPDIR", nullptr};
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
    EXPECT_EQ(buffer()[0], '\0');
    EXPECT_EQ(hook_log.calls, 1);
    EXPECT_EQ(hook_log.object_on_entry, nullptr);  // a zeroed word
    EXPECT_EQ(hook_log.path, buffer());
    EXPECT_EQ(hook_log.mode, 0u);
    EXPECT_EQ(hook_log.closes, 1);
    EXPECT_TRUE(fs::is_empty(dir.path()));
    EXPECT_EQ(QORGetTempFileName(0, 0, 0, nullptr), 0); // no buffer
}

TEST_F(TempName, WithoutAUsableHostDirectoryTheNameIsInTmp)
{
    kxtest::TempDir dir;
    std::vector<char> too_big(kTempDirBlock + 1, '\0'), whole(kTempDirBlock, 'a');
    std::memcpy(too_big.data() + 8, dir.path().c_str(), dir.path().size());
    whole[8] = '/'; // no NUL: the text is cut at the block's last byte, a folder that does not exist
    const uint64_t zero = 0;
    const int32_t other = 5;
    const struct {
        const char *what;
        int32_t option; // -1: the file hook's global option
        const void *value;
        size_t size;
        int32_t hook_answer; // 0: no hook
    } cases[] = {
        {"no options", 0, nullptr, 0, 0},
        {"hook answering 1", 0, nullptr, 0, 1},
        {"hook answering -1", 0, nullptr, 0, -1},
        {"hook option holding null", -1, &zero, sizeof zero, 0},
        {"option set without the directory", 1234, &other, sizeof other, 0},
        {"directory option too big for its block", YT_OPTION_TEMP_DIR, too_big.data(), too_big.size(), 0},
        {"directory filling the whole block", YT_OPTION_TEMP_DIR, whole.data(), whole.size(), 0},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        HostClearOptions();
        hook_log = HookLog{};
        if (c.hook_answer)
            install_hook(c.hook_answer);
        if (c.option == -1) {
            ASSERT_EQ(HostSetGlobalOption(YT_OPTION_FILE_HOOK, c.value, uint32_t(c.size)), 0);
        } else if (c.option) {
            ASSERT_EQ(HostSetOption(c.option, c.value, uint32_t(c.size)), 0);
        }
        EXPECT_EQ(HostGetGlobalOptionSet() == nullptr, c.option <= 0);
        EXPECT_EQ(call(), 1);
        EXPECT_EQ(hook_log.calls, c.hook_answer ? 1 : 0);
        EXPECT_TRUE(is_new_private_file_in(name(), "/tmp")) << name();
    }
    EXPECT_TRUE(fs::is_empty(dir.path()));
}

TEST_F(TempName, HostDirectoryFromByteEightOfTheOption)
{
    kxtest::TempDir dir;
    // The first eight bytes of the block are not part of the directory.
    std::string block = "ABCDEFGH" + dir.path();
    block.push_back('\0');
    ASSERT_EQ(HostSetOption(YT_OPTION_TEMP_DIR, block.data(), static_cast<uint32_t>(block.size())), 0);
    EXPECT_EQ(call(), 1);
    EXPECT_TRUE(is_new_private_file_in(name(), dir.path())) << name();

    install_hook(3);  // a hook that lets names be made changes nothing
    ASSERT_EQ(HostSetTempDirectory(dir.path().c_str()), 0);
    EXPECT_EQ(call(), 1);
    EXPECT_TRUE(is_new_private_file_in(name(), dir.path())) << name();
}

TEST_F(TempName, NameMustFitTheCallersBuffer)
{
    // Folder plus 11 characters: 259 and the NUL fill the 260-byte buffer, one more is refused.
    kxtest::TempDir root;
    for (size_t dir_length : {size_t(248), size_t(249)}) {
        SCOPED_TRACE(dir_length);
        const std::string dir = root.path() + "/" + std::string(dir_length - root.path().size() - 1, 'l');
        ASSERT_EQ(dir.size(), dir_length);
        fs::create_directories(dir);
        ASSERT_EQ(HostSetTempDirectory(dir.c_str()), 0);
        const int32_t result = call();
        if (dir.size() + kTempnamTail < kNameBuffer) {
            EXPECT_EQ(result, 1);
            EXPECT_TRUE(is_new_private_file_in(name(), dir)) << name();
        } else {
            EXPECT_EQ(result, 0);
            EXPECT_EQ(buffer()[0], '\0');
            EXPECT_TRUE(fs::is_empty(dir)) << "the refused name's file is left";
        }
    }
}

TEST_F(TempName, ProfileRewriteLeavesNoTemporaryFile)
{
    kxtest::TempDir temp, profiles;
    ASSERT_EQ(HostSetTempDirectory(temp.path().c_str()), 0);
    const std::string good = profiles.path() + "/p.ini";
    const std::string unwritable = profiles.path() + "/missing/p.ini";
    for (const std::string &profile : {good, unwritable}) {
        SCOPED_TRACE(profile);
        WritePrivateProfileString("Section", "Key", "Value", profile.c_str());
        EXPECT_TRUE(fs::is_empty(temp.path()));
    }
    char value[16] = {};
    GetPrivateProfileString("Section", "Key", "", value, sizeof value, good.c_str());
    EXPECT_STREQ(value, "Value");
}

} // namespace
