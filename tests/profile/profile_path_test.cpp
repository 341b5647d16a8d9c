// Where the profile is looked for: the bare file name of a path, and the
// candidates INIDIR + name, then the name, with the first that opens
// written back into the caller's 144-byte buffer.
#include <kxfpx/profile.h>

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstring>
#include <string>

#include "scoped_env.h"

namespace {

TEST(SGetName, FilePartWithoutLastExtension)
{
    const struct {
        const char *path;
        const char *expected;
    } cases[] = {
        {"/usr/lib/libkx_fpx2.so", "libkx_fpx2"},
        {"C:\\filters\\kx_fpx2.dll", "kx_fpx2"},
        {"a\\b/c.d", "b/c"},            // a backslash anywhere wins over '/'
        {"dir/a\\b.x", "b"},
        {"drive:name.x.y", "name.x"},   // only the last extension goes
        {"x/drive:name", "drive:name"}, // '/' is tried before ':'
        {"plain", "plain"},
        {".ini", ""},
        {"dir/", ""},
        {"", ""},
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

class ProfileDirectory : public ::testing::Test {
protected:
    kxtest::TempDir ini_dir;
    kxtest::TempDir work_dir;
    kxtest::ScopedCwd cwd{work_dir.path()};

    // A 144-byte name buffer as every caller has, pre-filled after the text.
    struct Name {
        char text[144];
        explicit Name(const char *initial = "")
        {
            std::memset(text, 0x7F, sizeof text);
            std::strcpy(text, initial);
        }
    };
};

TEST_F(ProfileDirectory, EmptyNameIsDerivedFromTheLibraryAndFoundInIniDir)
{
    ASSERT_TRUE(cwd.ok());
    ini_dir.write("libkx_fpx2.ini", "[KR_FPX]\n");
    kxtest::ScopedEnv env("INIDIR", ini_dir.path().c_str());
    Name name;
    EXPECT_EQ(GetProfileDirectory(name.text, "/opt/x/libkx_fpx2.so"), 0);
    EXPECT_EQ(std::string(name.text), ini_dir.file("libkx_fpx2.ini"));
}

TEST_F(ProfileDirectory, IniDirEndingInSlashGetsNoSecondSlash)
{
    ini_dir.write("p.ini", "");
    const std::string with_slash = ini_dir.path() + "/";
    kxtest::ScopedEnv env("INIDIR", with_slash.c_str());
    Name name("p.ini");
    EXPECT_EQ(GetProfileDirectory(name.text, nullptr), 0);
    EXPECT_EQ(std::string(name.text), ini_dir.path() + "/p.ini");
}

TEST_F(ProfileDirectory, IniDirComesBeforeTheBareName)
{
    ini_dir.write("p.ini", "");
    work_dir.write("p.ini", "");
    kxtest::ScopedEnv env("INIDIR", ini_dir.path().c_str());
    Name name("p.ini");
    EXPECT_EQ(GetProfileDirectory(name.text, "/lib/other.so"), 0);
    EXPECT_EQ(std::string(name.text), ini_dir.file("p.ini"));
}

TEST_F(ProfileDirectory, BareNameInTheCurrentDirectory)
{
    work_dir.write("libkx_fpx2.ini", "");
    for (const char *dir : {static_cast<const char *>(nullptr), "", "/nonexistent-dir"}) {
        SCOPED_TRACE(dir ? dir : "(unset)");
        kxtest::ScopedEnv env("INIDIR", dir);
        Name name;
        EXPECT_EQ(GetProfileDirectory(name.text, "/opt/x/libkx_fpx2.so"), 0);
        EXPECT_STREQ(name.text, "libkx_fpx2.ini");
    }
}

TEST_F(ProfileDirectory, MissingProfileLeavesTheDerivedName)
{
    kxtest::ScopedEnv env("INIDIR", ini_dir.path().c_str());
    Name name;
    EXPECT_EQ(GetProfileDirectory(name.text, "lib/libkx_fpx2.so"), 1);
    EXPECT_STREQ(name.text, "libkx_fpx2.ini");
    EXPECT_EQ(name.text[sizeof "libkx_fpx2.ini"], 0x7F);

    // Without a library path an empty name stays empty and is not found.
    Name empty;
    EXPECT_EQ(GetProfileDirectory(empty.text, nullptr), 1);
    EXPECT_STREQ(empty.text, "");
    EXPECT_EQ(GetProfileDirectory(nullptr, "x.so"), 1);
}

TEST_F(ProfileDirectory, LongIniDirIsNotUsed)
{
    // An INIDIR of 144 characters or more is ignored, even when the profile
    // is there.
    const std::string long_dir = ini_dir.path() + "/" + std::string(144 - ini_dir.path().size(), 'd');
    ASSERT_EQ(long_dir.size(), 145u);
    ASSERT_EQ(mkdir(long_dir.c_str(), 0700), 0);
    kxtest::TempDir unused;
    {
        FILE *f = fopen((long_dir + "/p.ini").c_str(), "w");
        ASSERT_NE(f, nullptr);
        fclose(f);
    }
    kxtest::ScopedEnv env("INIDIR", long_dir.c_str());
    Name name("p.ini");
    EXPECT_EQ(GetProfileDirectory(name.text, nullptr), 1);
    EXPECT_STREQ(name.text, "p.ini");
}

TEST_F(ProfileDirectory, PathTooLongForTheBufferIsSkipped)
{
    // INIDIR is short enough to be used, but INIDIR + "/" + name does not fit
    // the 144-byte buffer: that candidate is passed over, never cut.
    const std::string dir = ini_dir.path() + "/" + std::string(130 - ini_dir.path().size(), 'd');
    ASSERT_EQ(dir.size(), 131u);
    ASSERT_EQ(mkdir(dir.c_str(), 0700), 0);
    FILE *f = fopen((dir + "/libkx_fpx2.ini").c_str(), "w");
    ASSERT_NE(f, nullptr);
    fclose(f);
    kxtest::ScopedEnv env("INIDIR", dir.c_str());
    Name name;
    EXPECT_EQ(GetProfileDirectory(name.text, "libkx_fpx2.so"), 1);
    EXPECT_STREQ(name.text, "libkx_fpx2.ini");

    work_dir.write("libkx_fpx2.ini", "");
    EXPECT_EQ(GetProfileDirectory(name.text, "libkx_fpx2.so"), 0);
    EXPECT_STREQ(name.text, "libkx_fpx2.ini");
}

} // namespace
