// Byte-exact file helpers for the profile tests: write a profile with the
// line ends a test chooses, read a file back whole, list a directory.
#pragma once

#include <dirent.h>

#include <cstdio>
#include <string>
#include <vector>

namespace kxtest {

inline void write_bytes(const std::string &path, const std::string &bytes)
{
    if (std::FILE *f = std::fopen(path.c_str(), "wb")) {
        std::fwrite(bytes.data(), 1, bytes.size(), f);
        std::fclose(f);
    }
}

// The whole file, or "<missing>" when it cannot be opened.
inline std::string read_bytes(const std::string &path)
{
    std::FILE *f = std::fopen(path.c_str(), "rb");
    if (!f)
        return "<missing>";
    std::string bytes;
    char chunk[4096];
    size_t got;
    while ((got = std::fread(chunk, 1, sizeof chunk, f)) > 0)
        bytes.append(chunk, got);
    std::fclose(f);
    return bytes;
}

// The names in a directory other than "." and "..".
inline std::vector<std::string> list_dir(const std::string &path)
{
    std::vector<std::string> names;
    if (DIR *dir = ::opendir(path.c_str())) {
        while (const dirent *entry = ::readdir(dir)) {
            const std::string name = entry->d_name;
            if (name != "." && name != "..")
                names.push_back(name);
        }
        ::closedir(dir);
    }
    return names;
}

// `text` with every LF replaced by `eol`.
inline std::string with_line_ends(const std::string &text, const std::string &eol)
{
    std::string out;
    for (const char c : text) {
        if (c == '\n')
            out += eol;
        else
            out += c;
    }
    return out;
}

} // namespace kxtest
