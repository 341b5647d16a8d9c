// Helpers shared by the test suites: where the built binaries, the sources
// and the corpus are, a skip for a missing corpus, a scratch directory, and
// whole-file and whole-pipe readers.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <fcntl.h>
#include <ftw.h>
#include <stdlib.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace kxtest {

inline std::string bin_dir() { return KXFPX_BIN_DIR; }
inline std::string source_dir() { return KXFPX_SOURCE_DIR; }
inline std::string corpus_dir() { return KXFPX_CORPUS_DIR; }
inline std::string corpus_file(const std::string &name) { return corpus_dir() + "/" + name; }

inline bool path_exists(const std::string &path)
{
    struct stat st;
    return ::stat(path.c_str(), &st) == 0;
}

// A fresh empty directory, removed with its contents at the end of the scope.
class TempDir {
public:
    TempDir()
    {
        char pattern[] = "/tmp/kxfpx-test-XXXXXX";
        const char *made = ::mkdtemp(pattern);
        path_ = made ? made : "";
    }
    ~TempDir()
    {
        if (!path_.empty())
            ::nftw(path_.c_str(), remove_entry, 16, FTW_DEPTH | FTW_PHYS);
    }
    TempDir(const TempDir &) = delete;
    TempDir &operator=(const TempDir &) = delete;

    const std::string &path() const { return path_; }
    std::string file(const std::string &name) const { return path_ + "/" + name; }

    // Writes `bytes` into a file of this directory; returns its path.
    std::string write(const std::string &name, const std::string &bytes) const
    {
        const std::string full = file(name);
        if (std::FILE *f = std::fopen(full.c_str(), "wb")) {
            std::fwrite(bytes.data(), 1, bytes.size(), f);
            std::fclose(f);
        }
        return full;
    }

private:
    static int remove_entry(const char *path, const struct stat *, int, struct FTW *)
    {
        return ::remove(path);
    }
    std::string path_;
};

// Reads a descriptor (a child's pipe) to its end and closes it.
inline std::string read_all_and_close(int fd)
{
    std::string text;
    char chunk[4096];
    ssize_t n;
    while ((n = ::read(fd, chunk, sizeof chunk)) > 0)
        text.append(chunk, static_cast<size_t>(n));
    ::close(fd);
    return text;
}

// The whole file, or "<missing>" when it cannot be opened.
inline std::string read_file(const std::string &path)
{
    const int fd = ::open(path.c_str(), O_RDONLY);
    return fd < 0 ? "<missing>" : read_all_and_close(fd);
}

} // namespace kxtest

// Skips the current test when the shared corpus is not beside the clone.
#define KX_REQUIRE_CORPUS()                                                                    \
    do {                                                                                       \
        if (!kxtest::path_exists(kxtest::corpus_dir()))                                        \
            GTEST_SKIP() << "corpus not found at " << kxtest::corpus_dir();                    \
    } while (0)
