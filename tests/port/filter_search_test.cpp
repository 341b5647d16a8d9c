// FindFilter against real folder trees: beside the library that holds it
// (dladdr), then LD_LIBRARY_PATH, PATH and the current directory in that
// order, with the "./" rule and the caller's buffer size respected to the
// byte. Cases that need a chosen argv[0] or a clean process run in a child.
#include <kxfpx/sharedlib.h>

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "scoped_env.h"
#include "support.h"

extern char **environ;

namespace {

namespace fs = std::filesystem;

constexpr char kGuard = '#';
constexpr size_t kGuardBytes = 16;
constexpr const char kChildName[] = "KXPORT_FIND_CHILD_NAME";
constexpr const char kChildSize[] = "KXPORT_FIND_CHILD_SIZE";

// A caller's buffer of `size` bytes followed by guard bytes that must
// survive every call.
struct GuardedBuffer {
    explicit GuardedBuffer(const std::string &name, size_t size) : size(size), bytes(size + kGuardBytes, kGuard)
    {
        std::memcpy(bytes.data(), name.c_str(), std::min(name.size() + 1, size));
    }
    char *data() { return bytes.data(); }
    std::string text() const { return std::string(bytes.data(), strnlen(bytes.data(), size)); }
    bool guard_intact() const
    {
        for (size_t i = size; i < bytes.size(); ++i)
            if (bytes[i] != kGuard)
                return false;
        return true;
    }
    size_t size;
    std::vector<char> bytes;
};

struct FindResult {
    int32_t found;
    std::string buffer;
};

FindResult find(const std::string &name, size_t size = 260)
{
    GuardedBuffer buffer(name, size);
    const int32_t found = FindFilter(buffer.data(), static_cast<int16_t>(size));
    EXPECT_TRUE(buffer.guard_intact()) << name << " size " << size;
    return {found, buffer.text()};
}

// Child mode: when this test program is started by the tests below with
// these variables set, it runs one FindFilter and prints the outcome
// instead of running the tests. The program's argv[0], which dladdr reports
// as the path of the code, is then whatever the parent chose.
[[maybe_unused]] const bool child_mode = [] {
    const char *name = std::getenv(kChildName);
    const char *size = std::getenv(kChildSize);
    if (!name || !size)
        return false;
    GuardedBuffer buffer(name, static_cast<size_t>(std::atoi(size)));
    const int32_t found = FindFilter(buffer.data(), static_cast<int16_t>(buffer.size));
    std::printf("%d|%s|%s\n", found, buffer.text().c_str(), buffer.guard_intact() ? "guard" : "overrun");
    std::fflush(stdout);
    _exit(0);
    return true;
}();

// Runs `program` with `argv` in `cwd`, with the current environment changed
// by `env` (a missing value unsets), and returns what it printed.
std::string run_child(const std::string &program, const std::vector<std::string> &argv,
                      const std::string &cwd,
                      const std::map<std::string, std::optional<std::string>> &env)
{
    std::vector<std::string> env_strings;
    for (char **e = environ; *e; ++e) {
        const std::string entry = *e;
        const std::string key = entry.substr(0, entry.find('='));
        if (!env.count(key))
            env_strings.push_back(entry);
    }
    for (const auto &[key, value] : env)
        if (value)
            env_strings.push_back(key + "=" + *value);
    std::vector<char *> envp, args;
    for (auto &s : env_strings)
        envp.push_back(s.data());
    envp.push_back(nullptr);
    std::vector<std::string> argv_copy = argv;
    for (auto &s : argv_copy)
        args.push_back(s.data());
    args.push_back(nullptr);

    int pipe_fds[2];
    if (pipe(pipe_fds) != 0)
        return "pipe failed";
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(pipe_fds[1], STDOUT_FILENO);
        close(pipe_fds[0]);
        close(pipe_fds[1]);
        if (chdir(cwd.c_str()) != 0)
            _exit(126);
        execve(program.c_str(), args.data(), envp.data());
        _exit(127);
    }
    close(pipe_fds[1]);
    std::string output = kxtest::read_all_and_close(pipe_fds[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) >= 126)
        output += "child failed";
    return output;
}

std::string self_path()
{
    return fs::read_symlink("/proc/self/exe").string();
}

using EnvValue = std::optional<std::string>;

// FindFilter in a fresh run of this program whose argv[0] is `argv0`, in
// `cwd`, with the two search variables as given (nullopt: unset). Prints
// "found|buffer|guard".
std::string find_in_child(const std::string &argv0, const std::string &cwd, const std::string &name,
                          size_t size, const EnvValue &ld_path, const EnvValue &path)
{
    return run_child(self_path(), {argv0}, cwd,
                     {{kChildName, name}, {kChildSize, std::to_string(size)},
                      {"LD_LIBRARY_PATH", ld_path}, {"PATH", path}});
}

// The same with argv[0] the absolute path of this program, in the output
// folder, so that only the search list and the current directory matter.
std::string search_in_child(const std::string &cwd, const std::string &name, const EnvValue &ld_path,
                            const EnvValue &path, size_t size = 260)
{
    return find_in_child(self_path(), cwd, name, size, ld_path, path);
}

std::string outcome(int found, const std::string &buffer)
{
    return std::to_string(found) + "|" + buffer + "|guard\n";
}

void touch(const std::string &path)
{
    fs::create_directories(fs::path(path).parent_path());
    std::ofstream(path) << "x";
}

std::string real(const std::string &path)
{
    std::error_code ec;
    return fs::canonical(path, ec).string();
}

// A folder tree for the search-list cases: a and b on LD_LIBRARY_PATH, c on
// PATH, d the current directory, empty the environment of no interest.
struct SearchTree {
    kxtest::TempDir root;
    std::string a = root.file("a"), b = root.file("b"), c = root.file("c"), d = root.file("d");
    SearchTree()
    {
        for (const auto &dir : {a, b, c, d})
            fs::create_directories(dir);
    }
};

constexpr const char kTarget[] = "kxport_search_target.so";

TEST(FindFilter, FindsTheFileBesideTheLibraryThatHoldsIt)
{
    // The code of FindFilter sits in this test program, in the output folder
    // beside libyt_ut.so; the search paths point elsewhere.
    SearchTree tree;
    touch(tree.a + "/libyt_ut.so");
    kxtest::ScopedEnv ld("LD_LIBRARY_PATH", tree.a.c_str());
    kxtest::ScopedEnv path("PATH", tree.c.c_str());
    // The current directory stays: the program may have been started by a
    // relative path, which dladdr then reports.
    const FindResult r = find("libyt_ut.so");
    EXPECT_EQ(r.found, 1);
    EXPECT_EQ(real(r.buffer), real(kxtest::bin_dir() + "/libyt_ut.so")) << r.buffer;
}

TEST(FindFilter, WalksLibraryPathThenProgramPathThenCurrentDirectory)
{
    const struct {
        const char *present;  // folders holding the file: a, b, c, d
        const char *winner;   // where it is found ("" none)
    } cases[] = {
        {"abcd", "a"}, {"bcd", "b"}, {"cd", "c"}, {"d", "d"}, {"ad", "a"},
        {"bd", "b"},   {"ac", "a"},  {"", ""},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.present);
        SearchTree tree;
        const std::map<char, std::string> dirs = {{'a', tree.a}, {'b', tree.b}, {'c', tree.c}, {'d', tree.d}};
        for (const char *p = c.present; *p; ++p)
            touch(dirs.at(*p) + "/" + kTarget);
        const std::string got = search_in_child(tree.d, kTarget, tree.a + ":" + tree.b, tree.c);
        if (!*c.winner)
            EXPECT_EQ(got, outcome(0, kTarget));  // buffer untouched
        else if (*c.winner == 'd')
            EXPECT_EQ(got, outcome(1, std::string("./") + kTarget));  // the "." entry
        else
            EXPECT_EQ(got, outcome(1, dirs.at(*c.winner) + "/" + kTarget));
    }
}

TEST(FindFilter, EmptyEntriesAreSkippedNotTheEndOfTheList)
{
    SearchTree tree;
    touch(tree.c + "/" + kTarget);
    EXPECT_EQ(search_in_child(tree.d, kTarget, std::string(), "::" + tree.c + ":"),
              outcome(1, tree.c + "/" + kTarget));
}

TEST(FindFilter, RelativeSearchDirectoriesGetNoDotSlash)
{
    // Only a file found by the first step is given "./"; a relative folder
    // of the search list is kept as it stands.
    SearchTree tree;
    touch(tree.d + "/rel/" + kTarget);
    EXPECT_EQ(search_in_child(tree.d, kTarget, tree.a, std::string("rel")),
              outcome(1, std::string("rel/") + kTarget));
}

TEST(FindFilter, UnsetVariablesSearchUsrLibBinAndTheCurrentDirectory)
{
    {
        kxtest::ScopedEnv ld("LD_LIBRARY_PATH", nullptr);
        kxtest::ScopedEnv path("PATH", nullptr);
        char *list = TokenizePath();
        ASSERT_NE(list, nullptr);
        const char expected[] = "/usr/lib\0/bin\0.";
        EXPECT_EQ(std::memcmp(list, expected, sizeof expected), 0);
        char *second = NextPathToken(list);
        char *third = NextPathToken(second);
        EXPECT_STREQ(list, "/usr/lib");
        EXPECT_STREQ(second, "/bin");
        EXPECT_STREQ(third, ".");
        EXPECT_EQ(third, list + 14);
        FreePathMem(list);
    }

    SearchTree tree;
    // Files known to sit in one of the two default folders only.
    if (kxtest::path_exists("/bin/sh") && !kxtest::path_exists("/usr/lib/sh")) {
        EXPECT_EQ(search_in_child(tree.d, "sh", std::nullopt, std::nullopt), outcome(1, "/bin/sh"));
    }
    if (kxtest::path_exists("/usr/lib/os-release")) {
        EXPECT_EQ(search_in_child(tree.d, "os-release", std::nullopt, std::nullopt),
                  outcome(1, "/usr/lib/os-release"));
    }
    touch(tree.d + "/" + kTarget);
    EXPECT_EQ(search_in_child(tree.d, kTarget, std::nullopt, std::nullopt),
              outcome(1, std::string("./") + kTarget));
}

TEST(TokenizePath, FormatsBothVariablesAndTheCurrentDirectory)
{
    kxtest::ScopedEnv ld("LD_LIBRARY_PATH", "/x:/y");
    kxtest::ScopedEnv path("PATH", "z");
    char *list = TokenizePath();
    ASSERT_NE(list, nullptr);
    const char expected[] = "/x\0/y\0z\0.";
    EXPECT_EQ(std::memcmp(list, expected, sizeof expected), 0);
    std::vector<std::string> tokens;
    char *token = list;
    for (int i = 0; i < 4; ++i, token = NextPathToken(token))
        tokens.emplace_back(token);
    EXPECT_EQ(tokens, (std::vector<std::string>{"/x", "/y", "z", "."}));
    FreePathMem(list);
    FreePathMem(nullptr);
    EXPECT_EQ(NextPathToken(nullptr), nullptr);
}

TEST(FindFilter, CopyRespectsTheBufferSizeExactly)
{
    SearchTree tree;
    touch(tree.b + "/" + kTarget);
    kxtest::ScopedEnv ld("LD_LIBRARY_PATH", tree.b.c_str());
    kxtest::ScopedEnv path("PATH", tree.c.c_str());
    const std::string full = tree.b + "/" + kTarget;

    // Room for the path and its NUL: the whole path.
    FindResult r = find(kTarget, full.size() + 1);
    EXPECT_EQ(r.found, 1);
    EXPECT_EQ(r.buffer, full);
    // One byte short: cut, and still a string inside the buffer.
    r = find(kTarget, full.size());
    EXPECT_EQ(r.found, 1);
    EXPECT_EQ(r.buffer, full.substr(0, full.size() - 1));
    // A tiny buffer that just holds the name.
    r = find(kTarget, sizeof kTarget);
    EXPECT_EQ(r.found, 1);
    EXPECT_EQ(r.buffer, full.substr(0, sizeof kTarget - 1));
}

TEST(FindFilter, NameWithoutNulInsideItsBufferIsRefused)
{
    std::vector<char> buffer(8, 'n');
    buffer.push_back('\0');  // the NUL lies one past the declared size
    EXPECT_EQ(FindFilter(buffer.data(), 8), 0);
    EXPECT_EQ(FindFilter(nullptr, 8), 0);
}

// argv[0] without a '/': the directory part is empty, so the first step
// opens the bare name in the current directory, and the result gets "./"
// when the buffer has room for it.
TEST(FindFilter, BareProgramNameFindsTheCurrentDirectoryWithDotSlash)
{
    SearchTree tree;
    touch(tree.d + "/" + kTarget);
    const std::string n = kTarget;
    const size_t len = n.size();
    EXPECT_EQ(find_in_child("test_port", tree.d, kTarget, 260, tree.a, tree.c), outcome(1, "./" + n));
    EXPECT_EQ(find_in_child("test_port", tree.d, kTarget, len + 3, tree.a, tree.c), outcome(1, "./" + n));
    // No room for the two characters and the NUL: the name stays as it is.
    EXPECT_EQ(find_in_child("test_port", tree.d, kTarget, len + 2, tree.a, tree.c), outcome(1, n));
    EXPECT_EQ(find_in_child("test_port", tree.d, kTarget, len + 1, tree.a, tree.c), outcome(1, n));
}

TEST(FindFilter, RelativeProgramPathIsFollowedAndPrefixed)
{
    SearchTree tree;
    touch(tree.d + "/sub/" + kTarget);
    EXPECT_EQ(find_in_child("sub/test_port", tree.d, kTarget, 260, tree.a, tree.c),
              outcome(1, std::string("./sub/") + kTarget));
    // Not beside: the search list takes over, and its result is not prefixed.
    touch(tree.c + "/other.so");
    EXPECT_EQ(find_in_child("sub/test_port", tree.d, "other.so", 260, tree.a, std::string("../c")),
              outcome(1, "../c/other.so"));
    EXPECT_EQ(find_in_child("sub/test_port", tree.d, "missing.so", 260, tree.a, tree.c),
              outcome(0, "missing.so"));
}

// The output folder moved elsewhere: the filter and its two companions are
// found through $ORIGIN alone, and FindFilter of the moved filter looks
// beside the moved file. The probe runs in a clean process, so nothing from
// the original folder is loaded already.
class MovedOutputFolder : public ::testing::Test {
protected:
    void SetUp() override
    {
        moved_ = root_.file("moved");
        fs::create_directories(moved_);
        // Every file of the output folder: the shared libraries as real
        // copies, the (large) programs as hard links where the file system
        // allows, since nothing loads them here.
        for (const auto &entry : fs::directory_iterator(kxtest::bin_dir())) {
            if (!entry.is_regular_file())
                continue;
            const fs::path target = fs::path(moved_) / entry.path().filename();
            std::error_code ec;
            if (entry.path().extension() != ".so")
                fs::create_hard_link(entry.path(), target, ec);
            if (entry.path().extension() == ".so" || ec)
                fs::copy_file(entry.path(), target);
        }
    }

    std::string probe(const std::string &cwd, const std::string &filter, const std::string &name,
                      size_t size)
    {
        const std::string program = std::string(KXPORT_TESTLIB_DIR) + "/kxport_probe";
        return run_child(program, {program, filter, name, std::to_string(size)}, cwd,
                         {{"LD_LIBRARY_PATH", std::nullopt}, {"LD_PRELOAD", std::nullopt},
                          {"PATH", std::string("/usr/bin:/bin")}});
    }

    kxtest::TempDir root_;
    std::string moved_;
};

TEST_F(MovedOutputFolder, FilterLoadsWithItsCompanionsFromTheNewFolder)
{
    const std::string out = probe(root_.path(), moved_ + "/libkx_fpx2.so", "libqe_core.so", 260);
    std::istringstream lines(out);
    std::string line;
    bool options_from_moved = false, memory_from_moved = false;
    std::string found;
    const std::string original = real(kxtest::bin_dir());
    while (std::getline(lines, line)) {
        if (line.rfind("loaded ", 0) == 0) {
            const std::string object = real(line.substr(7));
            EXPECT_NE(object.rfind(original + "/", 0), 0u) << "loaded from the original folder: " << object;
            options_from_moved |= object == real(moved_ + "/libyt_ut.so");
            memory_from_moved |= object == real(moved_ + "/libqe_core.so");
        } else if (line.rfind("find ", 0) == 0) {
            found = line;
        }
    }
    EXPECT_TRUE(options_from_moved) << out;
    EXPECT_TRUE(memory_from_moved) << out;
    EXPECT_EQ(found, "find 1 " + moved_ + "/libqe_core.so") << out;
}

TEST_F(MovedOutputFolder, RelativeLoadPathGivesDotSlashResult)
{
    const std::string out = probe(root_.path(), "moved/libkx_fpx2.so", "libyt_ut.so", 260);
    EXPECT_NE(out.find("find 1 ./moved/libyt_ut.so\n"), std::string::npos) << out;
    const std::string tight =
        probe(root_.path(), "moved/libkx_fpx2.so", "libyt_ut.so", std::strlen("moved/libyt_ut.so") + 2);
    EXPECT_NE(tight.find("find 1 moved/libyt_ut.so\n"), std::string::npos) << tight;
}

} // namespace
