// fpxconv run as a user runs it: output names, resolutions, messages, exit statuses, no partial output, cancel.
#include "fpxwrite_fixture.h"

#include <algorithm>
#include <csignal>
#include <dirent.h>
#include <filesystem>
#include <functional>
#include <png.h>
#include <poll.h>
#include <pty.h>
#include <regex>
#include <sys/resource.h>
#include <sys/wait.h>

using namespace fpxtest;

namespace {

struct Result {
    int status = -1; // as waitpid gives it
    std::string out, err;
    int exit_code() const { return WIFEXITED(status) ? WEXITSTATUS(status) : -1; }
};

std::vector<std::string> listing(const std::string &dir)
{
    std::vector<std::string> names;
    if (DIR *d = ::opendir(dir.c_str())) {
        while (const dirent *e = ::readdir(d))
            if (e->d_name[0] != '.')
                names.push_back(e->d_name);
        ::closedir(d);
    }
    std::sort(names.begin(), names.end());
    return names;
}

// Width and height of a PNG, {0, 0} when it does not read.
std::pair<int, int> png_size(const std::string &path)
{
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&image, path.c_str()))
        return {0, 0};
    png_image_free(&image);
    return {int(image.width), int(image.height)};
}

class Fpxconv : public ::testing::Test {
protected:
    kxtest::TempDir dir, tmp; // the user's folder, the child's TMPDIR
    std::string program = kxtest::bin_dir() + "/fpxconv";
    std::string a = dir.file("a.fpx"), b = dir.file("b.fpx");

    void SetUp() override
    {
        WriteOptions o;
        o.resolutions = 3;
        ASSERT_EQ(write_fpx(o, rgb_picture(256, 192), a), "");
        std::filesystem::copy_file(a, b);
    }

    // Starts the program with stdout and stderr in files of tmp's parent-free
    // scratch; `in_child` runs between fork and exec.
    pid_t start(const std::vector<std::string> &args, const std::function<void()> &in_child = {},
                int err_fd = -1)
    {
        const pid_t pid = ::fork();
        if (pid == 0) {
            ::setenv("TMPDIR", tmp.path().c_str(), 1);
            const int out = ::open(scratch("out").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
            const int err = err_fd >= 0 ? err_fd : ::open(scratch("err").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
            ::dup2(out, 1);
            ::dup2(err, 2);
            if (in_child)
                in_child();
            std::vector<char *> argv{const_cast<char *>(program.c_str())};
            for (const std::string &arg : args)
                argv.push_back(const_cast<char *>(arg.c_str()));
            argv.push_back(nullptr);
            ::execv(program.c_str(), argv.data());
            ::_exit(127);
        }
        return pid;
    }
    Result finish(pid_t pid)
    {
        Result r;
        ::waitpid(pid, &r.status, 0);
        r.out = kxtest::read_file(scratch("out"));
        r.err = kxtest::read_file(scratch("err"));
        return r;
    }
    Result run(const std::vector<std::string> &args, const std::function<void()> &in_child = {})
    {
        return finish(start(args, in_child));
    }
    std::string scratch(const std::string &name) { return scratch_dir.file(name); }

    // The private profile once it is completely written, "" after a timeout.
    std::string wait_for_profile()
    {
        for (int i = 0; i < 4000; ++i) {
            for (const std::string &name : listing(tmp.path())) {
                const std::string text = kxtest::read_file(tmp.file(name));
                if (text.find("Threads=") != std::string::npos && text.back() == '\n')
                    return text;
            }
            ::usleep(5000);
        }
        return "";
    }

    kxtest::TempDir scratch_dir;
};

// The output library's call log as a FIFO whose buffer is filled before the
// run: the import blocks at its first logged call, so the run is held inside
// the import (its private profile written) until drain() empties the pipe.
class HeldImport {
public:
    explicit HeldImport(const std::string &path) : path_(path)
    {
        ::mkfifo(path.c_str(), 0600);
        fd_ = ::open(path.c_str(), O_RDWR | O_NONBLOCK);
        const std::string filler(4096, '.');
        while (::write(fd_, filler.data(), filler.size()) > 0) {
        }
        while (::write(fd_, ".", 1) > 0) {
        }
    }
    ~HeldImport() { ::close(fd_); }
    // Reads the log until the child ends; returns it (filler included).
    std::string drain(pid_t pid, int &status)
    {
        std::string log;
        char chunk[65536];
        for (;;) {
            ssize_t n;
            while ((n = ::read(fd_, chunk, sizeof chunk)) > 0)
                log.append(chunk, size_t(n));
            if (::waitpid(pid, &status, WNOHANG) == pid) {
                while ((n = ::read(fd_, chunk, sizeof chunk)) > 0)
                    log.append(chunk, size_t(n));
                break;
            }
            pollfd p{fd_, POLLIN, 0};
            ::poll(&p, 1, 100);
        }
        return log;
    }
    const std::string path_;

private:
    int fd_;
};

size_t count(const std::string &text, const std::string &word)
{
    size_t n = 0;
    for (size_t at = text.find(word); at != std::string::npos; at = text.find(word, at + 1))
        ++n;
    return n;
}

} // namespace

TEST_F(Fpxconv, ConvertsUnderDefaultAndGivenNamesAtEachResolution)
{
    Result r = run({a});
    EXPECT_EQ(r.exit_code(), 0);
    EXPECT_EQ(r.out, a + " -> " + dir.file("a.png") + "\n");
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(png_size(dir.file("a.png")), std::make_pair(256, 192));

    const std::vector<std::tuple<std::string, int, int>> rows = {{"low", 64, 48}, {"middle", 128, 96}, {"high", 256, 192}};
    for (const auto &[which, w, h] : rows) {
        r = run({"-q", "--resolution", which, a, dir.file(which + ".png")});
        EXPECT_EQ(r.exit_code(), 0) << which;
        EXPECT_EQ(r.out + r.err, "") << which;
        EXPECT_EQ(png_size(dir.file(which + ".png")), std::make_pair(w, h)) << which;
    }

    // Several inputs into a folder; one bad input fails alone.
    ::mkdir(dir.file("out").c_str(), 0755);
    const std::string bad = dir.write("bad.fpx", "not a compound file");
    r = run({"-q", "-o", dir.file("out"), a, bad, b});
    EXPECT_EQ(r.exit_code(), 1);
    EXPECT_EQ(r.err, "fpxconv: " + bad + ": not a FlashPix file (code -23)\n");
    EXPECT_EQ(listing(dir.file("out")), (std::vector<std::string>{"a.png", "b.png"}));
    EXPECT_EQ(listing(tmp.path()), std::vector<std::string>{});

    // An output name longer than the setup's 144-byte field.
    const std::string deep = dir.file(std::string(150, 'd'));
    ::mkdir(deep.c_str(), 0755);
    EXPECT_EQ(run({"-q", a, deep + "/a.png"}).exit_code(), 0);
    EXPECT_EQ(png_size(deep + "/a.png"), std::make_pair(256, 192));
}

TEST_F(Fpxconv, PngLevelChangesTheSizeNotThePixels)
{
    std::vector<std::vector<uint8_t>> pixels;
    for (const std::string level : {"0", "9"}) {
        const std::string out = dir.file("level" + level + ".png");
        ASSERT_EQ(run({"--png-level", level, a, out}).exit_code(), 0);
        png_image image{};
        image.version = PNG_IMAGE_VERSION;
        ASSERT_TRUE(png_image_begin_read_from_file(&image, out.c_str()));
        image.format = PNG_FORMAT_RGB;
        pixels.emplace_back(PNG_IMAGE_SIZE(image));
        ASSERT_TRUE(png_image_finish_read(&image, nullptr, pixels.back().data(), 0, nullptr));
    }
    EXPECT_EQ(pixels[0], pixels[1]);
    EXPECT_GT(std::filesystem::file_size(dir.file("level0.png")), 3 * std::filesystem::file_size(dir.file("level9.png")));
}

TEST_F(Fpxconv, EveryFailureIsOneLineNamingTheFileAndLeavesNoOutput)
{
    WriteOptions o;
    o.resolutions = 2;
    o.missing_resolutions = {1};
    const std::string damaged = dir.file("damaged.fpx");
    ASSERT_EQ(write_fpx(o, rgb_picture(256, 192), damaged), "");
    // The shared Huffman table's first code counts sum to more than 256.
    Document doc = build(WriteOptions{}, rgb_picture(128, 64));
    const int contents = doc.find(kContents);
    ASSERT_GE(contents, 0);
    std::vector<uint8_t> &props = doc.entries[size_t(contents)].data;
    const uint8_t dht[] = {0xFF, 0xC4};
    const auto at = std::search(props.begin(), props.end(), dht, dht + 2);
    ASSERT_LT(at + 7, props.end());
    at[5] = at[6] = 0xFF;
    const std::string invalid = dir.file("invalid.fpx");
    ASSERT_EQ(write_document(doc, invalid), "");
    const std::string text = kxtest::read_file(a);
    const std::string truncated = dir.write("truncated.fpx", text.substr(0, text.size() / 2));
    const std::string notfpx = dir.write("text.fpx", "hello\n");
    const std::string old_png = dir.write("old.png", "old");
    const std::string not_a_dir = dir.write("file", "");
    const auto no_big_files = [] {
        std::signal(SIGXFSZ, SIG_IGN);
        const rlimit limit{4096, 4096};
        ::setrlimit(RLIMIT_FSIZE, &limit);
    };

    const struct {
        std::vector<std::string> args;
        std::string message;
        std::function<void()> in_child;
    } rows[] = {
        {{dir.file("missing.fpx")}, "missing.fpx: cannot open the file (code 7)", {}},
        {{notfpx, dir.file("x.png")}, "text.fpx: not a FlashPix file (code -23)", {}},
        {{truncated, dir.file("x.png")}, "truncated.fpx: not a FlashPix file (code -23)", {}},
        {{damaged, dir.file("x.png")}, "damaged.fpx: damaged or unsupported content (code 14)", {}},
        {{invalid, dir.file("x.png")}, "invalid.fpx: invalid values in the file (code 21)", {}},
        {{a, dir.file("x.png")}, "a.fpx: cannot write the output " + dir.file("x.png") + " (code 9)", no_big_files},
        {{"-o", not_a_dir, a}, "a.fpx: cannot write the output " + not_a_dir + "/a.png: Not a directory", {}},
        {{"-o", dir.file("none"), a}, "a.fpx: cannot write the output " + dir.file("none") + "/a.png: No such file or directory", {}},
        {{a, old_png}, "a.fpx: " + old_png + " exists (use -f to overwrite it)", {}},
    };
    const std::vector<std::string> before = listing(dir.path());
    for (const auto &row : rows) {
        const Result r = run(row.args, row.in_child);
        EXPECT_EQ(r.exit_code(), 1) << row.message;
        EXPECT_TRUE(r.err.find(row.message + "\n") != std::string::npos && count(r.err, "\n") == 1) << r.err;
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(listing(dir.path()), before) << row.message;
        EXPECT_EQ(listing(tmp.path()), std::vector<std::string>{}) << row.message;
    }
    EXPECT_EQ(kxtest::read_file(old_png), "old");
    EXPECT_EQ(run({"-f", a, old_png}).exit_code(), 0);
    EXPECT_EQ(png_size(old_png), std::make_pair(256, 192));
}

TEST_F(Fpxconv, WithoutTheOutputLibraryEndsWith27)
{
    for (const char *name : {"fpxconv", "libkx_fpx2.so", "libyt_ut.so", "libqe_core.so"})
        std::filesystem::copy_file(kxtest::bin_dir() + "/" + name, dir.file(name));
    program = dir.file("fpxconv");
    const Result r = run({a}, [] { ::unsetenv("LD_LIBRARY_PATH"); });
    EXPECT_EQ(r.exit_code(), 1);
    EXPECT_EQ(r.err, "error: unable to find filter: libzo_unx2.so\nfpxconv: " + a + ": out of memory (or libzo_unx2.so is missing) (code 27)\n");
    EXPECT_FALSE(kxtest::path_exists(dir.file("a.png")));
}

TEST_F(Fpxconv, BadUsageExitsTwoBeforeTouchingAnything)
{
    const std::vector<std::vector<std::string>> rows = {
        {}, {"--bogus", a}, {"-o"}, {"--resolution", "huge", a}, {"--threads", "-1", a}, {"--threads", "2x", a},
        {"--png-level", "10", a}, {"--json", a}, {a, b}, {a, b, dir.file("c.png")}, {"--info"}};
    for (const std::vector<std::string> &args : rows) {
        const Result r = run(args);
        EXPECT_EQ(r.exit_code(), 2) << (args.empty() ? "" : args[0]);
        EXPECT_NE(r.err.find("Try 'fpxconv --help'"), std::string::npos) << r.err;
    }
    EXPECT_EQ(listing(dir.path()), (std::vector<std::string>{"a.fpx", "b.fpx"}));
    const Result help = run({"--help"});
    EXPECT_EQ(help.exit_code(), 0);
    EXPECT_EQ(help.out.rfind("usage: fpxconv", 0), 0u);
}

TEST_F(Fpxconv, InfoAsLinesAndAsJson)
{
    const std::string bad = dir.write("bad.fpx", "x");
    const std::string missing = dir.file("missing.fpx");
    Result r = run({"--info", a, missing, bad});
    EXPECT_EQ(r.exit_code(), 1);
    EXPECT_EQ(r.out, a + ": 256 x 192, 24 bits per pixel\n");
    EXPECT_EQ(r.err, "fpxconv: " + missing + ": cannot open the file (code 7)\nfpxconv: " + bad +
                         ": damaged or unsupported content (code 14)\n");
    r = run({"--info", "--json", a, missing});
    EXPECT_EQ(r.out, "[\n {\"file\": \"" + a + "\", \"width\": 256, \"height\": 192, \"bits_per_pixel\": 24},\n {\"file\": \"" +
                         missing + "\", \"error\": \"cannot open the file\", \"code\": 7}\n]\n");
    EXPECT_EQ(run({"--info", "--json", a}).exit_code(), 0);
}

TEST_F(Fpxconv, VersionNamesTheFilterAndVerboseListsItsRows)
{
    Result r = run({"--version"});
    EXPECT_EQ(r.exit_code(), 0);
    EXPECT_TRUE(std::regex_match(r.out, std::regex("fpxconv [0-9]+\\.[0-9]+\\.[0-9]+\nfilter /.*/libkx_fpx2\\.so, version 0x08000004\n")))
        << r.out;
    r = run({"--version", "-v"});
    EXPECT_EQ(count(r.out, "\nrow "), 8u);
    EXPECT_NE(r.out.find("row 7: szDLLName"), std::string::npos);
}

TEST_F(Fpxconv, ProgressBarOnlyOnATerminal)
{
    int master, slave;
    ASSERT_EQ(::openpty(&master, &slave, nullptr, nullptr, nullptr), 0);
    const Result r = finish(start({a}, {}, slave));
    ::close(slave);
    std::string screen;
    char chunk[4096];
    ssize_t n;
    while ((n = ::read(master, chunk, sizeof chunk)) > 0)
        screen.append(chunk, size_t(n));
    ::close(master);
    EXPECT_EQ(r.exit_code(), 0);
    EXPECT_NE(screen.find("\ra.fpx [" + std::string(30, '#') + "] 100%"), std::string::npos) << screen;
    EXPECT_EQ(screen.substr(screen.size() - 4), "\r\033[K");
    EXPECT_EQ(run({"-f", a}).err, ""); // piped: nothing
}

TEST_F(Fpxconv, ThreadsReachTheFilterThroughThePrivateProfile)
{
    for (const auto &[args, threads] : std::vector<std::pair<std::vector<std::string>, int>>{{{}, 0}, {{"--threads", "3"}, 3}}) {
        HeldImport log(scratch("log"));
        std::vector<std::string> full = args;
        full.insert(full.end(), {"-f", a});
        const pid_t pid = start(full, [&] { ::setenv("KXFPX_OUTPUT_LOG", log.path_.c_str(), 1); });
        EXPECT_EQ(wait_for_profile(), "; fpxconv's settings for one run, removed when the run ends\n[fpxconv]\n"
                                      "Driver=KR_FPX.0\nColorTableSource=FILE\nThreads=" + std::to_string(threads) + "\n");
        int status = 0;
        log.drain(pid, status);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
        EXPECT_EQ(listing(tmp.path()), std::vector<std::string>{});
        ::unlink(log.path_.c_str());
    }
}

// SIGINT is sent while the run is held inside the import: the next progress
// answer cancels, the filter returns 61, nothing is left, and the process
// ends by SIGINT (a shell's status 130).
TEST_F(Fpxconv, CtrlCCancelsTheImportAndLeavesNothing)
{
    const std::string full_log = scratch("full.log");
    ASSERT_EQ(run({a, dir.file("full.png")}, [&] { ::setenv("KXFPX_OUTPUT_LOG", full_log.c_str(), 1); }).exit_code(), 0);
    ::unlink(dir.file("full.png").c_str());

    HeldImport log(scratch("log"));
    const pid_t pid = start({a}, [&] { ::setenv("KXFPX_OUTPUT_LOG", log.path_.c_str(), 1); });
    ASSERT_NE(wait_for_profile(), "");
    ::kill(pid, SIGINT);
    int status = 0;
    const std::string cancelled_log = log.drain(pid, status);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGINT) << status;
    EXPECT_EQ(kxtest::read_file(scratch("err")), "fpxconv: " + a + ": cancelled (code 61)\n");
    EXPECT_LT(count(cancelled_log, "ImageRows"), count(kxtest::read_file(full_log), "ImageRows"));
    EXPECT_EQ(listing(dir.path()), (std::vector<std::string>{"a.fpx", "b.fpx"}));
    EXPECT_EQ(listing(tmp.path()), std::vector<std::string>{});
}
