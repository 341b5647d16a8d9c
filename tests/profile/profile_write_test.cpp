// The profile writer, byte compared: keys and sections set, replaced, removed; line ends kept.
#include <kxfpx/profile.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "scoped_env.h"

namespace {

class ProfileWrite : public ::testing::Test {
protected:
    kxtest::TempDir dir;
    kxtest::TempDir temp_dir; // where the temporary copies are made
    kxtest::ScopedCwd cwd{dir.path()};
    kxtest::ScopedEnv no_ini_dir{"INIDIR", nullptr};
    kxtest::ScopedEnv tmpdir{"TMPDIR", temp_dir.path().c_str()};

    void TearDown() override
    {
        EXPECT_TRUE(std::filesystem::is_empty(temp_dir.path())) << "temporary file left";
    }
};

TEST_F(ProfileWrite, Changes)
{
    const struct {
        const char *name;
        const char *before; // null: no file
        const char *section, *key, *value;
        const char *after;
    } cases[] = {
        {"replace ignoring case and spaces", "[ s ] ; c\n  A  = 1 ; old\n", "S", "a", "2", "[ s ] ; c\na=2\n"},
        {"replace a line without equals sign", "[S]\na ; note\n", "S", "a", "2", "[S]\na=2\n"},
        {"replace every match", "[S]\na=1\na=2\n", "S", "a", "3", "[S]\na=3\na=3\n"},
        // A new key goes after the section's trailing blank and comment lines.
        {"add at the end of the section", "[S]\na=1\n\n; next\n[T]\nx=1\n", "S", "b", "2",
         "[S]\na=1\n\n; next\nb=2\n[T]\nx=1\n"},
        {"add to a section at the end", "[T]\nx=1\n[S]\na=1\n", "S", "b", "2", "[T]\nx=1\n[S]\na=1\nb=2\n"},
        {"add to a section with no lines", "[S]\n[T]\n", "S", "b", "2", "[S]\nb=2\n[T]\n"},
        {"add to each section of the name", "[S]\na=1\n[S]\nb=1\n", "S", "c", "2", "[S]\na=1\nc=2\n[S]\nb=1\nc=2\n"},
        {"append a missing section", "[S]\na=1\n", "T", "x", "5", "[S]\na=1\n\n[T]\nx=5\n"},
        {"bare name is no header for the writer", "[A]\nx=1\nB\ny=2\n", "B", "z", "3",
         "[A]\nx=1\nB\ny=2\n\n[B]\nz=3\n"},
        {"header name is cleaned", "[S]\n", "\"T\" ; c", "k", "v", "[S]\n\n[T]\nk=v\n"},
        // Removing a key: the header comes back before the section's first line that stays.
        {"remove every match", "[S]\na=1\nb=2\n A =3\n", "S", "a", nullptr, "[S]\nb=2\n"},
        {"remove the only key: header goes", "[S]\na=1\n[T]\nx=1\n", "S", "a", nullptr, "[T]\nx=1\n"},
        {"remove the last key: a blank line keeps the header", "[S]\na=1\n\n[T]\nx=1\n", "S", "a",
         nullptr, "[S]\n\n[T]\nx=1\n"},
        {"header moves down to the first line kept", "[S]\na=1\n; c\na=2\n", "S", "a", nullptr, "[S]\n; c\n"},
        {"remove from each section of the name", "[S]\na=1\n[T]\nx=1\n[S]\nb=2\na=3\n", "S", "a",
         nullptr, "[T]\nx=1\n[S]\nb=2\n"},
        {"a section with no lines loses its header", "[S]\n[T]\nx=1\n", "S", "a", nullptr, "[T]\nx=1\n"},
        {"the empty key is the key of blank and comment lines", "[S]\n\n; c\n=x\na=1\n", "S", "",
         nullptr, "[S]\na=1\n"},
        // A removed section takes every line up to the next header (its own comment above stays).
        {"remove a section", "; s\n[S]\na=1\n\n; t\n[T]\nx=1\n", "s", nullptr, nullptr, "; s\n[T]\nx=1\n"},
        {"remove a repeated section", "[S]\na=1\n[T]\nx=1\n[S]\nb=2\n", "S", nullptr, "v", "[T]\nx=1\n"},
        {"remove an absent section", "[S]\na=1\n", "T", nullptr, nullptr, "[S]\na=1\n"},
        {"unended last line kept", "[S]\na=1\n[T]\nb=2", "S", "a", "5", "[S]\na=5\n[T]\nb=2"},
        {"unended last line ended before more", "[S]\na=1", "T", "x", "1", "[S]\na=1\n\n[T]\nx=1\n"},
        {"unended last line removed", "[S]\na=1\nb=2", "S", "b", nullptr, "[S]\na=1\n"},
        // The first line end decides for every line; none means CR LF, a CR at the very end CR.
        {"first line end wins", "[S]\r\na=1\nb=2\r", "S", "a", "9", "[S]\r\na=9\r\nb=2\r\n"},
        {"CR at the end of the file", "[S]\r", "S", "a", "1", "[S]\ra=1\r"},
        {"no line end: header", "[S]", "S", "a", "1", "[S]\r\na=1\r\n"},
        {"no line end: empty file", "", "T", "x", "5", "\r\n[T]\r\nx=5\r\n"},
        {"no line end: nothing added", "[S]", "T", "x", nullptr, "[S]"},
        {"no line end: removed", "[S]", "S", "a", nullptr, ""},
        // A missing file is made by every change (a removal leaves it empty).
        {"missing file: set", nullptr, "S", "k", "v", "\n[S]\nk=v\n"},
        {"missing file: key removed", nullptr, "S", "k", nullptr, ""},
        {"bad section: null", "[S]\na=1\n", nullptr, "a", "2", "[S]\na=1\n"},
        {"bad section: a comment", "[S]\na=1\n", " ; only a comment", "a", "2", "[S]\na=1\n"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        const std::string file = dir.file("p.ini");
        std::filesystem::remove(file);
        if (c.before)
            dir.write("p.ini", c.before);
        EXPECT_EQ(WritePrivateProfileString(c.section, c.key, c.value, file.c_str()), 0);
        EXPECT_EQ(kxtest::read_file(file), c.after);
    }
    EXPECT_EQ(WritePrivateProfileString("S", "a", "2", nullptr), 0);
    EXPECT_EQ(WritePrivateProfileString("S", "a", "2", ""), 0);
}

TEST_F(ProfileWrite, LinesLongerThanTheReadBufferStayWhole)
{
    const std::string long_line = "Long=" + std::string(700, 'x') + "[T]" + std::string(40, 'y');
    const std::string file = dir.write("p.ini", "[S]\n" + long_line + "\na=1\n" + long_line);
    WritePrivateProfileString("S", "a", "2", file.c_str());
    EXPECT_EQ(kxtest::read_file(file), "[S]\n" + long_line + "\na=2\n" + long_line);
}

TEST_F(ProfileWrite, WhereTheFileIsWritten)
{
    // A profile in INIDIR is rewritten there; one found nowhere is made at the name itself.
    kxtest::TempDir ini_dir;
    kxtest::ScopedEnv env("INIDIR", ini_dir.path().c_str());
    ini_dir.write("p.ini", "[S]\na=1\n");
    WritePrivateProfileString("S", "a", "2", "p.ini");
    EXPECT_EQ(kxtest::read_file(ini_dir.file("p.ini")), "[S]\na=2\n");
    EXPECT_FALSE(kxtest::path_exists(dir.file("p.ini")));
    WritePrivateProfileString("S", "k", nullptr, "gone.ini");
    EXPECT_EQ(kxtest::read_file(dir.file("gone.ini")), "");
    EXPECT_FALSE(kxtest::path_exists(ini_dir.file("gone.ini")));
    WritePrivateProfileString("S", "k", "v", dir.file("missing/p.ini").c_str()); // fails, leaves no temporary file
    EXPECT_FALSE(kxtest::path_exists(dir.file("missing")));

    // The default profile is QOR.INI for each of the three wrappers.
    WriteProfileString("App", "Count", "0x10");
    EXPECT_EQ(kxtest::read_file(dir.file("QOR.INI")), "\n[App]\nCount=0x10\n");
    char buffer[8];
    EXPECT_EQ(GetProfileString("App", "Count", "", buffer, sizeof buffer), 4);
    EXPECT_EQ(GetProfileInt("App", "Count", 0), 16);
}

} // namespace
