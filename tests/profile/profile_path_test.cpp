// Where the profile is looked for: the file name of a path, INIDIR + name, then the name.
#include <kxfpx/profile.h>

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <sstream>
#include <string>

#include "scoped_env.h"

namespace {

TEST(SGetName, FilePartWithoutLastExtension)
{
    const struct {
        const char *path, *expected;
    } cases[] = {
        {"/usr/lib/libkx_fpx2.so", "libkx_fpx2"}, {"a\\b/c.d", "b/c"}, // a backslash anywhere wins over '/'
        {"drive:name.x.y", "name.x"},            // only the last extension goes
        {"x/drive:name", "drive:name"},          // '/' is tried before ':'
        {"plain", "plain"}, {".ini", ""}, {"", ""},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.path);
        char dest[64];
        std::memset(dest, 0x7F, sizeof dest);
        EXPECT_EQ(s_getname(dest, c.path), dest);
        EXPECT_STREQ(dest, c.expected);
        EXPECT_EQ(dest[std::strlen(c.path) + 1], 0x7F) << "wrote beyond the path's length";
    }
}

TEST(GetProfileDirectory, IniDirThenTheBareName)
{
    // i is INIDIR, w the current directory, '@' the root; INIDIR "#N" is a folder below i
    // whose path has N characters, files "#/..." are made in it.
    const struct {
        const char *files, *ini_dir, *name, *library;
        int32_t result;
        const char *expected;
    } cases[] = {
        {"i/libkx_fpx2.ini", "@/i", "", "/opt/x/libkx_fpx2.so", 0, "@/i/libkx_fpx2.ini"},
        {"i/p.ini", "@/i/", "p.ini", nullptr, 0, "@/i/p.ini"}, // no second slash
        {"i/p.ini w/p.ini", "@/i", "p.ini", "/lib/other.so", 0, "@/i/p.ini"},
        {"w/libkx_fpx2.ini", nullptr, "", "/opt/x/libkx_fpx2.so", 0, "libkx_fpx2.ini"},
        {"", "@/i", "", "lib/libkx_fpx2.so", 1, "libkx_fpx2.ini"},
        {"", "@/i", "", nullptr, 1, ""},
        // INIDIR + "/" + name would not fit the buffer: passed over, not cut (a longer INIDIR goes the same way).
        {"#/libkx_fpx2.ini w/libkx_fpx2.ini", "#131", "", "libkx_fpx2.so", 0, "libkx_fpx2.ini"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(std::string(c.files) + " / " + (c.ini_dir ? c.ini_dir : "(unset)"));
        kxtest::TempDir root;
        auto at = [&](std::string text) {
            if (text[0] == '@')
                text.replace(0, 1, root.path());
            return text;
        };
        const bool long_dir = c.ini_dir && c.ini_dir[0] == '#';
        std::string deep = root.file("i/");
        if (long_dir)
            deep += std::string(std::atoi(c.ini_dir + 1) - deep.size(), 'd');
        for (const std::string &d : {root.file("w"), deep})
            std::filesystem::create_directories(d);
        const std::string ini_dir = long_dir ? deep : c.ini_dir ? at(c.ini_dir) : "";
        std::istringstream files(c.files);
        for (std::string f; files >> f;)
            root.write(f[0] == '#' ? deep.substr(root.path().size() + 1) + f.substr(1) : f, "");
        kxtest::ScopedEnv env("INIDIR", c.ini_dir ? ini_dir.c_str() : nullptr);
        kxtest::ScopedCwd cwd(root.file("w"));
        char name[144];
        std::memset(name, 0x7F, sizeof name);
        std::strcpy(name, c.name);
        EXPECT_EQ(GetProfileDirectory(name, c.library), c.result);
        EXPECT_EQ(name, at(c.expected));
        EXPECT_EQ(name[std::strlen(name) + 1], 0x7F);
    }
    EXPECT_EQ(GetProfileDirectory(nullptr, "x.so"), 1);
}

} // namespace
