// Small helpers shared by the test suites: where the built binaries, the
// sources and the shared corpus are, and a skip for a missing corpus.
#pragma once

#include <gtest/gtest.h>

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

} // namespace kxtest

// Skips the current test when the shared corpus is not beside the clone.
#define KX_REQUIRE_CORPUS()                                                                    \
    do {                                                                                       \
        if (!kxtest::path_exists(kxtest::corpus_dir()))                                        \
            GTEST_SKIP() << "corpus not found at " << kxtest::corpus_dir();                    \
    } while (0)
