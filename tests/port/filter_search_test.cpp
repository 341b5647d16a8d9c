// FindFilter against real folder trees; cases needing a chosen argv[0] or a clean process run in a child.
#include <kxfpx/sharedlib.h>

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "scoped_env.h"
#include "support.h"

namespace {

namespace fs = std::filesystem;

// FindFilter on a `size`-byte buffer followed by guard bytes: "found|buffer|guard" (or "|overrun").
std::string guarded_find(const std::string &name, size_t size)
{
    std::vector<char> b(size + 16, '#');
    std::memcpy(b.data(), name.c_str(), std::min(name.size() + 1, size));
    const int32_t found = FindFilter(b.data(), static_cast<int16_t>(size));
    const bool intact = std::all_of(b.begin() + size, b.end(), [](char c) { return c == '#'; });
    return std::to_string(found) + "|" + std::string(b.data(), strnlen(b.data(), size)) +
           (intact ? "|guard\n" : "|overrun\n");
}

// Child mode (these variables set): one FindFilter, printed; the parent chooses argv[0], which dladdr reports.
[[maybe_unused]] const bool child_mode = [] {
    const char *name = std::getenv("KXPORT_FIND_NAME"), *size = std::getenv("KXPORT_FIND_SIZE");
    if (!name || !size)
        return false;
    std::fputs(guarded_find(name, static_cast<size_t>(std::atoi(size))).c_str(), stdout);
    std::fflush(stdout);
    _exit(0);
}();

using Env = std::vector<std::pair<const char *, std::optional<std::string>>>;

// Runs `program` in `cwd` with `env` set (unset for no value); returns what it printed.
std::string run_child(const std::string &program, const std::vector<std::string> &argv,
                      const std::string &cwd, const Env &env)
{
    int fds[2];
    if (pipe(fds) != 0)
        return "pipe failed";
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(fds[1], STDOUT_FILENO);
        close(fds[0]);
        for (const auto &[key, value] : env)
            value ? setenv(key, value->c_str(), 1) : unsetenv(key);
        std::vector<char *> args;
        for (const auto &a : argv)
            args.push_back(const_cast<char *>(a.c_str()));
        args.push_back(nullptr);
        if (chdir(cwd.c_str()) == 0)
            execv(program.c_str(), args.data());
        _exit(127);
    }
    close(fds[1]);
    std::string output = kxtest::read_all_and_close(fds[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? output : output + "child failed";
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

std::string expand(std::string text, const std::string &root)
{
    for (size_t at; (at = text.find('@')) != std::string::npos;)
        text.replace(at, 1, root);
    return text;
}

TEST(FindFilter, SearchOrderAndTheDotSlashRule)
{
    // a and b on LD_LIBRARY_PATH, c on PATH, d the current directory; '@' the root; null unsets.
    const struct {
        const char *argv0; // null: this program's absolute path
        const char *files; // made below the root
        const char *name;
        int size;
        const char *ld_path, *path;
        const char *expected; // "found|buffer"
    } cases[] = {
        {nullptr, "a/k.so b/k.so c/k.so d/k.so", "k.so", 260, "@/a:@/b", "@/c", "1|@/a/k.so"},
        {nullptr, "c/k.so d/k.so", "k.so", 260, "@/a:@/b", "@/c", "1|@/c/k.so"},
        {nullptr, "d/k.so", "k.so", 260, "@/a:@/b", "@/c", "1|./k.so"},
        {nullptr, "", "k.so", 260, "@/a:@/b", "@/c", "0|k.so"},
        // Empty entries are skipped, not the end of the list.
        {nullptr, "c/k.so", "k.so", 260, "", "::@/c:", "1|@/c/k.so"},
        // A relative folder of the list gets no "./".
        {nullptr, "d/rel/k.so", "k.so", 260, "@/a", "rel", "1|rel/k.so"},
        // Unset variables: /usr/lib and /bin.
        {nullptr, "", "sh", 260, nullptr, nullptr, "1|/bin/sh"},
        {nullptr, "", "os-release", 260, nullptr, nullptr, "1|/usr/lib/os-release"},
        // A bare argv[0]: the name in the current directory, "./" only when it fits with the NUL.
        {"test_port", "d/k.so", "k.so", 7, "@/a", "@/c", "1|./k.so"},
        {"test_port", "d/k.so", "k.so", 6, "@/a", "@/c", "1|k.so"},
        // A relative argv[0] is followed and prefixed.
        {"sub/test_port", "d/sub/k.so", "k.so", 260, "@/a", "@/c", "1|./sub/k.so"},
    };
    const std::string self = fs::read_symlink("/proc/self/exe").string();
    for (const auto &c : cases) {
        SCOPED_TRACE(std::string(c.files) + " " + c.name + " " + (c.argv0 ? c.argv0 : ""));
        if (c.expected[2] == '/' && !kxtest::path_exists(c.expected + 2))
            continue; // a system file this machine does not have
        kxtest::TempDir root;
        fs::create_directories(root.file("d"));
        std::istringstream files(c.files);
        for (std::string f; files >> f;)
            touch(root.file(f));
        auto var = [&](const char *v) { return v ? std::optional(expand(v, root.path())) : std::nullopt; };
        EXPECT_EQ(run_child(self, {c.argv0 ? c.argv0 : self}, root.file("d"),
                            {{"KXPORT_FIND_NAME", c.name}, {"KXPORT_FIND_SIZE", std::to_string(c.size)},
                             {"LD_LIBRARY_PATH", var(c.ld_path)}, {"PATH", var(c.path)}}),
                  expand(c.expected, root.path()) + "|guard\n");
    }
}

TEST(FindFilter, BesideTheLibraryThenTheListWithinTheBuffer)
{
    // FindFilter's code is in this program, beside libyt_ut.so; the search list points elsewhere.
    kxtest::TempDir root;
    touch(root.file("a/libyt_ut.so"));
    touch(root.file("b/k.so"));
    kxtest::ScopedEnv ld("LD_LIBRARY_PATH", (root.file("a") + ":" + root.file("b")).c_str());
    kxtest::ScopedEnv path("PATH", root.file("c").c_str());
    const std::string beside = guarded_find("libyt_ut.so", 260);
    EXPECT_EQ(beside.substr(0, 2), "1|");
    EXPECT_EQ(real(beside.substr(2, beside.size() - 9)), real(kxtest::bin_dir() + "/libyt_ut.so"));

    // Room for the path and its NUL, then one byte short (cut, still a string).
    const std::string full = root.file("b/k.so");
    EXPECT_EQ(guarded_find("k.so", full.size() + 1), "1|" + full + "|guard\n");
    EXPECT_EQ(guarded_find("k.so", full.size()), "1|" + full.substr(0, full.size() - 1) + "|guard\n");

    std::vector<char> no_nul(8, 'n'); // the NUL lies one past the declared size
    no_nul.push_back('\0');
    EXPECT_EQ(FindFilter(no_nul.data(), 8), 0);
    EXPECT_EQ(FindFilter(nullptr, 8), 0);
}

// A moved output folder: companions found through $ORIGIN alone, FindFilter beside the moved filter.
TEST(FindFilter, MovedOutputFolder)
{
    kxtest::TempDir root;
    const std::string moved = root.file("moved");
    fs::create_directories(moved);
    for (const char *lib : {"libkx_fpx2.so", "libyt_ut.so", "libqe_core.so"})
        fs::copy_file(kxtest::bin_dir() + "/" + lib, moved + "/" + lib);
    auto probe = [&](const std::string &filter, const std::string &name) {
        const std::string program = std::string(KXPORT_TESTLIB_DIR) + "/kxport_probe";
        return run_child(program, {program, filter, name}, root.path(),
                         {{"LD_LIBRARY_PATH", std::nullopt}, {"LD_PRELOAD", std::nullopt}, {"PATH", "/usr/bin:/bin"}});
    };
    const std::string out = probe(moved + "/libkx_fpx2.so", "libqe_core.so");
    std::istringstream lines(out);
    int from_moved = 0;
    for (std::string line; std::getline(lines, line);) {
        const std::string object = line.rfind("loaded ", 0) == 0 ? real(line.substr(7)) : "";
        EXPECT_NE(object.rfind(real(kxtest::bin_dir()) + "/", 0), 0u) << "loaded from " << object;
        from_moved += object == real(moved + "/libyt_ut.so") || object == real(moved + "/libqe_core.so");
    }
    EXPECT_EQ(from_moved, 2) << out;
    EXPECT_NE(out.find("find 1 " + moved + "/libqe_core.so\n"), std::string::npos) << out;
    // A relative load path gives a "./" result (the tight-buffer rows of the search table cover the cut).
    EXPECT_NE(probe("moved/libkx_fpx2.so", "libyt_ut.so").find("find 1 ./moved/libyt_ut.so\n"), std::string::npos);
}

} // namespace
