// fpxconv run as a user runs it: output names, resolutions, messages, exit statuses, no partial output, cancel.
#include "fpxwrite_fixture.h"

#include <algorithm>
#include <csignal>
#include <filesystem>
#include <functional>
#include <poll.h>
#include <pty.h>
#include <regex>
#include <sys/resource.h>
#include <sys/wait.h>

using namespace fpxtest;

namespace {

using Names = std::vector<std::string>;
using Child = std::function<void()>;

struct Result {
    int status = -1; // as waitpid gives it
    std::string out, err;
    int exit_code() const { return WIFEXITED(status) ? WEXITSTATUS(status) : -1; }
};

Names listing(const std::string &dir) // hidden names included: a left-over temporary counts
{
    Names names;
    for (const auto &e : std::filesystem::directory_iterator(dir))
        names.push_back(e.path().filename());
    std::sort(names.begin(), names.end());
    return names;
}

// A PNG's size; 0 x 0 when it does not read.
std::pair<int, int> png_size(const std::string &path)
{
    Image img;
    return load_image(path, img).empty() ? std::pair{img.width, img.height} : std::pair{0, 0};
}

size_t count(const std::string &text, const std::string &word)
{
    size_t n = 0;
    for (size_t at = text.find(word); at != std::string::npos; at = text.find(word, at + 1))
        ++n;
    return n;
}

class Fpxconv : public ::testing::Test {
protected:
    kxtest::TempDir dir, tmp, scratch_dir; // the user's folder, the child's TMPDIR, stdout and stderr
    std::string program = kxtest::bin_dir() + "/fpxconv";
    std::string a = dir.file("a.fpx"), b = dir.file("b.fpx");
    const std::pair<int, int> full{256, 192};

    void SetUp() override
    {
        WriteOptions o;
        o.resolutions = 3;
        ASSERT_EQ(write_fpx(o, rgb_picture(256, 192), a), "");
        std::filesystem::copy_file(a, b);
    }
    std::string scratch(const std::string &name) { return scratch_dir.file(name); }

    // stdout and stderr go to scratch files; in_child runs before exec.
    pid_t start(const Names &args, const Child &in_child = {})
    {
        const pid_t pid = ::fork();
        if (pid == 0) {
            ::setenv("TMPDIR", tmp.path().c_str(), 1);
            ::dup2(::open(scratch("out").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600), 1);
            ::dup2(::open(scratch("err").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600), 2);
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
    Result run(const Names &args, const Child &in_child = {})
    {
        Result r;
        ::waitpid(start(args, in_child), &r.status, 0);
        r.out = kxtest::read_file(scratch("out"));
        r.err = kxtest::read_file(scratch("err"));
        return r;
    }
};

} // namespace

TEST_F(Fpxconv, ConvertsUnderDefaultAndGivenNamesAtEachResolution)
{
    Result r = run({a});
    EXPECT_EQ(r.exit_code(), 0);
    EXPECT_EQ(r.out, a + " -> " + dir.file("a.png") + "\n");
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(png_size(dir.file("a.png")), full);
    for (const auto &[which, w, h] : {std::tuple{"low", 64, 48}, {"middle", 128, 96}, {"high", 256, 192}}) {
        r = run({"-q", "--resolution", which, a, dir.file(which + std::string(".png"))});
        EXPECT_EQ(r.exit_code(), 0) << which;
        EXPECT_EQ(r.out + r.err, "") << which;
        EXPECT_EQ(png_size(dir.file(which + std::string(".png"))), std::make_pair(w, h)) << which;
    }
    // Several inputs into a folder; one bad input fails alone.
    ::mkdir(dir.file("out").c_str(), 0755);
    const std::string bad = dir.write("bad.fpx", "not a compound file");
    r = run({"-q", "-o", dir.file("out"), a, bad, b});
    EXPECT_EQ(r.exit_code(), 1);
    EXPECT_EQ(r.err, "fpxconv: " + bad + ": not a FlashPix file (code -23)\n");
    EXPECT_EQ(listing(dir.file("out")), (Names{"a.png", "b.png"}));
    EXPECT_EQ(listing(tmp.path()), Names{});
    // An output name longer than the setup's 144-byte field.
    const std::string deep = dir.file(std::string(150, 'd'));
    ::mkdir(deep.c_str(), 0755);
    EXPECT_EQ(run({"-q", a, deep + "/a.png"}).exit_code(), 0);
    EXPECT_EQ(png_size(deep + "/a.png"), full);
}

TEST_F(Fpxconv, PngLevelChangesTheSizeNotThePixels)
{
    for (const char *level : {"0", "9"})
        ASSERT_EQ(run({"--png-level", level, a, dir.file(level + std::string(".png"))}).exit_code(), 0);
    Image level0, level9;
    ASSERT_EQ(load_image(dir.file("0.png"), level0) + load_image(dir.file("9.png"), level9), "");
    EXPECT_EQ(level0.samples, level9.samples);
    EXPECT_GT(std::filesystem::file_size(dir.file("0.png")), 3 * std::filesystem::file_size(dir.file("9.png")));
}

// One row per way a run fails (the filter's codes map through one table: a failure before and one during the import).
TEST_F(Fpxconv, EveryFailureIsOneLineNamingTheFileAndLeavesNoOutput)
{
    WriteOptions o;
    o.resolutions = 2;
    o.missing_resolutions = {1};
    const std::string damaged = dir.file("damaged.fpx"), x = dir.file("x.png");
    ASSERT_EQ(write_fpx(o, rgb_picture(256, 192), damaged), "");
    const std::string old_png = dir.write("old.png", "old"), not_a_dir = dir.write("file", "");
    const Child no_big_files = [] {
        std::signal(SIGXFSZ, SIG_IGN);
        const rlimit limit{4096, 4096};
        ::setrlimit(RLIMIT_FSIZE, &limit);
    };
    // Without the output library: the program and the other libraries copied to a folder of their own.
    kxtest::TempDir lone;
    for (const char *name : {"fpxconv", "libkx_fpx2.so", "libyt_ut.so", "libqe_core.so"})
        std::filesystem::copy_file(kxtest::bin_dir() + "/" + name, lone.file(name));

    const struct {
        Names args;
        std::string message;
        Child in_child = {};
        std::string program = {}, first_line = {}; // another program, the line it prints first
    } rows[] = {
        {{dir.file("missing.fpx")}, "missing.fpx: cannot open the file (code 7)"},
        {{damaged, x}, "damaged.fpx: damaged or unsupported content (code 14)"},
        {{a, x}, "a.fpx: cannot write the output " + x + " (code 9)", no_big_files},
        {{"-o", not_a_dir, a}, "a.fpx: cannot write the output " + not_a_dir + "/a.png: Not a directory"},
        {{a, old_png}, "a.fpx: " + old_png + " exists (use -f to overwrite it)"},
        {{a}, "a.fpx: out of memory (or libzo_unx2.so is missing) (code 27)", [] { ::unsetenv("LD_LIBRARY_PATH"); },
         lone.file("fpxconv"), "error: unable to find filter: libzo_unx2.so\n"},
    };
    const Names before = listing(dir.path());
    const std::string fpxconv = program;
    for (const auto &row : rows) {
        program = row.program.empty() ? fpxconv : row.program;
        const Result r = run(row.args, row.in_child);
        EXPECT_EQ(r.exit_code(), 1) << row.message;
        EXPECT_EQ(r.err.rfind(row.first_line, 0), 0u) << r.err;
        EXPECT_NE(r.err.find(row.message + "\n"), std::string::npos) << r.err;
        EXPECT_EQ(count(r.err, "\n"), 1 + count(row.first_line, "\n")) << r.err;
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(listing(dir.path()), before) << row.message;
        EXPECT_EQ(listing(tmp.path()), Names{}) << row.message;
    }
    EXPECT_EQ(kxtest::read_file(old_png), "old");
    program = fpxconv;
    EXPECT_EQ(run({"-f", a, old_png}).exit_code(), 0);
    EXPECT_EQ(png_size(old_png), full);
}

// Answers that touch no file: usage errors (exit 2), help, version, file information as lines and as JSON.
TEST_F(Fpxconv, UsageVersionAndInfoAnswers)
{
    const std::string bad = dir.write("bad.fpx", "x"), missing = dir.file("missing.fpx"), any = "[\\s\\S]*";
    const auto lit = [](const std::string &text) {
        return std::regex_replace(text, std::regex("[.^$|()\\[\\]{}*+?\\\\]"), "\\$&");
    };
    const std::string usage = any + "Try 'fpxconv --help'" + any, no_row = "(?:(?!\nrow )[\\s\\S])*";
    const struct { Names args; int code; std::string out, err; } rows[] = {
        {{}, 2, "", usage}, {{"--bogus", a}, 2, "", usage}, {{"-o"}, 2, "", usage}, {{"--json", a}, 2, "", usage},
        {{"--resolution", "huge", a}, 2, "", usage}, {{"--threads", "2x", a}, 2, "", usage},
        {{"--png-level", "10", a}, 2, "", usage}, {{a, b}, 2, "", usage}, {{a, b, dir.file("c.png")}, 2, "", usage},
        {{"--help"}, 0, "usage: fpxconv" + any, ""},
        {{"--version"}, 0, "fpxconv [0-9]+\\.[0-9]+\\.[0-9]+\nfilter /.*/libkx_fpx2\\.so, version 0x08000004\n", ""},
        {{"--version", "-v"}, 0, no_row + "(\nrow [0-9]+: .*){7}\nrow 7: szDLLName" + no_row, ""}, // eight rows
        {{"--info", a, missing, bad}, 1, lit(a + ": 256 x 192, 24 bits per pixel\n"),
         lit("fpxconv: " + missing + ": cannot open the file (code 7)\nfpxconv: " + bad +
             ": damaged or unsupported content (code 14)\n")},
        {{"--info", "--json", a, missing}, 1,
         lit("[\n {\"file\": \"" + a + "\", \"width\": 256, \"height\": 192, \"bits_per_pixel\": 24},\n {\"file\": \"" +
             missing + "\", \"error\": \"cannot open the file\", \"code\": 7}\n]\n"),
         any},
        {{"--info", "--json", a}, 0, any, ""},
    };
    for (const auto &row : rows) {
        const Result r = run(row.args);
        const std::string what = row.args.empty() ? "" : row.args[0] + (row.args.size() > 1 ? " " + row.args[1] : "");
        EXPECT_EQ(r.exit_code(), row.code) << what;
        EXPECT_TRUE(std::regex_match(r.out, std::regex(row.out))) << what << ": " << r.out;
        EXPECT_TRUE(std::regex_match(r.err, std::regex(row.err))) << what << ": " << r.err;
    }
    EXPECT_EQ(listing(dir.path()), (Names{"a.fpx", "b.fpx", "bad.fpx"}));
}

TEST_F(Fpxconv, ProgressBarOnlyOnATerminal)
{
    int master, slave;
    ASSERT_EQ(::openpty(&master, &slave, nullptr, nullptr, nullptr), 0);
    const Result r = run({a}, [&] { ::dup2(slave, 2); });
    ::close(slave);
    const std::string screen = kxtest::read_all_and_close(master);
    EXPECT_EQ(r.exit_code(), 0);
    EXPECT_NE(screen.find("\ra.fpx [" + std::string(30, '#') + "] 100%"), std::string::npos) << screen;
    EXPECT_EQ(screen.substr(screen.size() - 4), "\r\033[K");
    EXPECT_EQ(run({"-f", a}).err, ""); // piped: nothing
}

// SIGINT inside the import: the filter returns 61 before the picture is done, nothing is left, the process ends by it.
// The run is held at its first output call (the call log is a full FIFO); its private profile, read meanwhile,
// carries --threads to the filter.
TEST_F(Fpxconv, CtrlCCancelsTheImportAndLeavesNothing)
{
    const std::string full_log = scratch("full.log"), fifo = scratch("log.fifo");
    const Child log_to = [&] { ::setenv("KXFPX_OUTPUT_LOG", full_log.c_str(), 1); };
    ASSERT_EQ(run({a, dir.file("full.png")}, log_to).exit_code(), 0);
    ::unlink(dir.file("full.png").c_str());
    ::mkfifo(fifo.c_str(), 0600);
    const int fd = ::open(fifo.c_str(), O_RDWR | O_NONBLOCK);
    for (const std::string &fill : {std::string(4096, '.'), std::string(".")})
        while (::write(fd, fill.data(), fill.size()) > 0) {
        }
    const pid_t pid = start({"--threads=3", a}, [&] { ::setenv("KXFPX_OUTPUT_LOG", fifo.c_str(), 1); });
    std::string profile;
    for (int i = 0; i < 4000 && profile.empty(); ++i, ::usleep(5000))
        for (const std::string &name : listing(tmp.path())) {
            const std::string text = kxtest::read_file(tmp.file(name));
            if (text.find("Threads=") != std::string::npos && text.back() == '\n')
                profile = text;
        }
    EXPECT_EQ(profile, "; fpxconv's settings for one run, removed when the run ends\n[fpxconv]\n"
                       "Driver=KR_FPX.0\nColorTableSource=FILE\nThreads=3\n");
    ::kill(pid, SIGINT);
    int status = -1;
    std::string log;
    char chunk[65536];
    for (bool ended = false; !ended;) {
        ended = ::waitpid(pid, &status, WNOHANG) == pid;
        for (ssize_t n; (n = ::read(fd, chunk, sizeof chunk)) > 0;)
            log.append(chunk, size_t(n));
        pollfd p{fd, POLLIN, 0};
        if (!ended)
            ::poll(&p, 1, 100);
    }
    ::close(fd);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGINT) << status;
    EXPECT_EQ(kxtest::read_file(scratch("err")), "fpxconv: " + a + ": cancelled (code 61)\n");
    EXPECT_LT(count(log, "ImageRows"), count(kxtest::read_file(full_log), "ImageRows"));
    EXPECT_EQ(listing(dir.path()), (Names{"a.fpx", "b.fpx"}));
    EXPECT_EQ(listing(tmp.path()), Names{});
}
