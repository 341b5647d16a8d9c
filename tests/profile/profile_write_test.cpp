// The profile writer: setting, replacing and removing keys, removing
// sections, appending a section or creating the file (by any change),
// taking the line format the file's first line end gives, keeping its
// unended last line, and changing nothing else (byte compared on a profile
// with many sections).
#include <kxfpx/profile.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "profile/profile_files.h"
#include "scoped_env.h"

namespace {

// One change and the bytes of the profile before and after it.
struct Case {
    const char *name;
    const char *before;
    const char *section;
    const char *key;
    const char *value;
    const char *after;
};

class ProfileWrite : public ::testing::Test {
protected:
    kxtest::TempDir dir;
    kxtest::TempDir temp_dir;   // where the temporary copies are made
    kxtest::ScopedCwd cwd{dir.path()};
    kxtest::ScopedEnv no_ini_dir{"INIDIR", nullptr};
    kxtest::ScopedEnv tmpdir{"TMPDIR", temp_dir.path().c_str()};

    // Writes `before`, applies the change and returns the file afterwards.
    std::string rewrite(const std::string &before, const char *section, const char *key,
                        const char *value)
    {
        const std::string file = dir.file("p.ini");
        kxtest::write_bytes(file, before);
        EXPECT_EQ(WritePrivateProfileString(section, key, value, file.c_str()), 0);
        return kxtest::read_bytes(file);
    }

    template <std::size_t N> void check(const Case (&cases)[N])
    {
        for (const Case &c : cases) {
            SCOPED_TRACE(c.name);
            EXPECT_EQ(rewrite(c.before, c.section, c.key, c.value), c.after);
        }
    }

    void TearDown() override
    {
        EXPECT_TRUE(kxtest::list_dir(temp_dir.path()).empty()) << "temporary file left";
    }
};

TEST_F(ProfileWrite, Changes)
{
    const Case cases[] = {
        {"replace", "[S]\na=1\nb=2\n", "S", "a", "9", "[S]\na=9\nb=2\n"},
        {"replace ignoring case and spaces", "[ s ] ; c\n  A  = 1 ; old\n", "S", "a", "2",
         "[ s ] ; c\na=2\n"},
        {"replace a line without equals sign", "[S]\na ; note\n", "S", "a", "2", "[S]\na=2\n"},
        {"replace every match", "[S]\na=1\na=2\n", "S", "a", "3", "[S]\na=3\na=3\n"},
        // A new key goes where the section ends: after its trailing blank
        // and comment lines, right before the next header.
        {"add at the end of the section", "[S]\na=1\n\n; next\n[T]\nx=1\n", "S", "b", "2",
         "[S]\na=1\n\n; next\nb=2\n[T]\nx=1\n"},
        {"add to a section at the end", "[T]\nx=1\n[S]\na=1\n", "S", "b", "2",
         "[T]\nx=1\n[S]\na=1\nb=2\n"},
        {"add after a trailing blank line at the end", "[S]\na=1\n\n", "S", "b", "2",
         "[S]\na=1\n\nb=2\n"},
        {"add to a section with no lines", "[S]\n[T]\n", "S", "b", "2", "[S]\nb=2\n[T]\n"},
        {"add to each section of the name", "[S]\na=1\n[S]\nb=1\n", "S", "c", "2",
         "[S]\na=1\nc=2\n[S]\nb=1\nc=2\n"},
        {"add after an unended comment", "[S]\na=1\n; end", "S", "b", "2",
         "[S]\na=1\n; end\nb=2\n"},
        {"append a missing section", "[S]\na=1\n", "T", "x", "5", "[S]\na=1\n\n[T]\nx=5\n"},
        {"bare name is no header for the writer", "[A]\nx=1\nB\ny=2\n", "B", "z", "3",
         "[A]\nx=1\nB\ny=2\n\n[B]\nz=3\n"},
        {"header name is cleaned", "[S]\n", "\"T\" ; c", "k", "v", "[S]\n\n[T]\nk=v\n"},
        // Removing a key: the header comes back before the first line of
        // the section that stays, whatever that line is.
        {"remove a key", "[S]\na=1\nb=2\n", "S", "A", nullptr, "[S]\nb=2\n"},
        {"remove every match", "[S]\na=1\nb=2\n A =3\n", "S", "a", nullptr, "[S]\nb=2\n"},
        {"remove the only key: header goes", "[S]\na=1\n[T]\nx=1\n", "S", "a", nullptr,
         "[T]\nx=1\n"},
        {"remove the last key: a blank line keeps the header", "[S]\na=1\n\n[T]\nx=1\n", "S",
         "a", nullptr, "[S]\n\n[T]\nx=1\n"},
        {"remove the last key: a comment keeps the header", "[T]\nx=1\n[S]\n; c\na=1\n", "S",
         "a", nullptr, "[T]\nx=1\n[S]\n; c\n"},
        {"header moves down to the first line kept", "[S]\na=1\n; c\na=2\n", "S", "a",
         nullptr, "[S]\n; c\n"},
        {"remove a key, comment kept in place", "[S]\na=1\n; c\nb=2\n", "S", "a", nullptr,
         "[S]\n; c\nb=2\n"},
        {"remove from each section of the name", "[S]\na=1\n[T]\nx=1\n[S]\nb=2\na=3\n", "S",
         "a", nullptr, "[T]\nx=1\n[S]\nb=2\n"},
        {"remove an absent key", "[S]\n\n[T]\nx=1\n", "S", "a", nullptr, "[S]\n\n[T]\nx=1\n"},
        {"a section with no lines loses its header", "[S]\n[T]\nx=1\n", "S", "a", nullptr,
         "[T]\nx=1\n"},
        {"a last section with no lines loses its header", "[T]\nx=1\n[S]\n", "S", "a",
         nullptr, "[T]\nx=1\n"},
        {"the empty key is the key of blank and comment lines", "[S]\n\n; c\n=x\na=1\n", "S",
         "", nullptr, "[S]\na=1\n"},
        {"remove a section", "[S]\na=1\n\n[T]\nx=1\n", "s", nullptr, nullptr, "[T]\nx=1\n"},
        {"remove a repeated section", "[S]\na=1\n[T]\nx=1\n[S]\nb=2\n", "S", nullptr, "v",
         "[T]\nx=1\n"},
        {"remove an absent section", "[S]\na=1\n", "T", nullptr, nullptr, "[S]\na=1\n"},
        {"unended last line kept", "[S]\na=1\n[T]\nb=2", "S", "a", "5", "[S]\na=5\n[T]\nb=2"},
        {"unended last line ended before more", "[S]\na=1", "T", "x", "1",
         "[S]\na=1\n\n[T]\nx=1\n"},
        {"unended last line replaced", "[S]\na=1", "S", "a", "2", "[S]\na=2\n"},
        {"unended last line removed", "[S]\na=1\nb=2", "S", "b", nullptr, "[S]\na=1\n"},
    };
    check(cases);
}

TEST_F(ProfileWrite, ReaderMissesWhatTheWriterReplaces)
{
    const std::string file = dir.file("p.ini");
    kxtest::write_bytes(file, "[S]\nk = 1\n");
    char buffer[8];
    EXPECT_EQ(GetPrivateProfileString("S", "k", "d", buffer, 8, file.c_str()), 1);
    EXPECT_STREQ(buffer, "d");
    WritePrivateProfileString("S", "k", "2", file.c_str());
    EXPECT_EQ(kxtest::read_bytes(file), "[S]\nk=2\n");
    EXPECT_EQ(GetPrivateProfileInt("S", "k", 0, file.c_str()), 2);
}

TEST_F(ProfileWrite, KeepsTheLineEndsOfTheFile)
{
    const std::string before = "; top\n[S]\na=1\n\n[T]\nx=1\n";
    const std::string after = "; top\n[S]\na=1\n\nb=2\n[T]\nx=1\n\n[U]\nu=3\n";
    for (const char *eol : {"\r\n", "\r", "\n"}) {
        SCOPED_TRACE(testing::PrintToString(eol));
        const std::string file = dir.file("p.ini");
        kxtest::write_bytes(file, kxtest::with_line_ends(before, eol));
        WritePrivateProfileString("S", "b", "2", file.c_str());
        WritePrivateProfileString("U", "u", "3", file.c_str());
        EXPECT_EQ(kxtest::read_bytes(file), kxtest::with_line_ends(after, eol));
    }
}

TEST_F(ProfileWrite, LineFormatIsTheOneTheFirstLineEndGives)
{
    // The first line end decides for every line written; a file with none
    // (-1) is written with CR LF, and a CR at the very end means CR.
    const Case cases[] = {
        {"first line end wins", "[S]\r\na=1\nb=2\r", "S", "a", "9", "[S]\r\na=9\r\nb=2\r\n"},
        {"CR at the end of the file", "[S]\r", "S", "a", "1", "[S]\ra=1\r"},
        {"no line end: header", "[S]", "S", "a", "1", "[S]\r\na=1\r\n"},
        {"no line end: key line", "a=1", "T", "x", "5", "a=1\r\n\r\n[T]\r\nx=5\r\n"},
        {"no line end: empty file", "", "T", "x", "5", "\r\n[T]\r\nx=5\r\n"},
        {"no line end: nothing added", "[S]", "T", "x", nullptr, "[S]"},
        {"no line end: removed", "[S]", "S", "a", nullptr, ""},
    };
    check(cases);
}

TEST_F(ProfileWrite, MissingFileIsCreatedByEveryChange)
{
    // Setting a key creates the file with LF line ends.
    const std::string set = dir.file("set.ini");
    WritePrivateProfileString("S", "k", "v", set.c_str());
    EXPECT_EQ(kxtest::read_bytes(set), "\n[S]\nk=v\n");

    // A removal copies nothing into the new file, which still replaces the
    // missing profile: an empty file is left.
    const std::string key = dir.file("key.ini");
    WritePrivateProfileString("S", "k", nullptr, key.c_str());
    EXPECT_EQ(kxtest::read_bytes(key), "");
    const std::string section = dir.file("section.ini");
    WritePrivateProfileString("S", nullptr, nullptr, section.c_str());
    EXPECT_EQ(kxtest::read_bytes(section), "");

    // That empty file has no line end: a key set in it comes with CR LF.
    WritePrivateProfileString("S", "k", "v", key.c_str());
    EXPECT_EQ(kxtest::read_bytes(key), "\r\n[S]\r\nk=v\r\n");
}

TEST_F(ProfileWrite, MissingFileIsCreatedUnderTheNameGiven)
{
    // Found neither here nor in INIDIR: the file is made at the name itself.
    kxtest::TempDir ini_dir;
    kxtest::ScopedEnv env("INIDIR", ini_dir.path().c_str());
    WritePrivateProfileString("S", "k", nullptr, "gone.ini");
    EXPECT_EQ(kxtest::read_bytes(dir.file("gone.ini")), "");
    EXPECT_TRUE(kxtest::list_dir(ini_dir.path()).empty());
}

TEST_F(ProfileWrite, LongLinesAreCopiedWhole)
{
    const std::string long_line = "Long=" + std::string(700, 'x') + "[T]" + std::string(40, 'y');
    const std::string before = "[S]\n" + long_line + "\na=1\n" + long_line;
    EXPECT_EQ(rewrite(before, "S", "a", "2"), "[S]\n" + long_line + "\na=2\n" + long_line);
}

TEST_F(ProfileWrite, BadArgumentsChangeNothing)
{
    const std::string before = "[S]\na=1\n";
    EXPECT_EQ(rewrite(before, nullptr, "a", "2"), before);
    EXPECT_EQ(rewrite(before, "", "a", "2"), before);
    EXPECT_EQ(rewrite(before, " ; only a comment", "a", "2"), before);
    EXPECT_EQ(WritePrivateProfileString("S", "a", "2", nullptr), 0);
    EXPECT_EQ(WritePrivateProfileString("S", "a", "2", ""), 0);
}

TEST_F(ProfileWrite, ProfileInIniDirIsRewrittenThere)
{
    kxtest::TempDir ini_dir;
    kxtest::ScopedEnv env("INIDIR", ini_dir.path().c_str());
    kxtest::write_bytes(ini_dir.file("p.ini"), "[S]\na=1\n");
    WritePrivateProfileString("S", "a", "2", "p.ini");
    EXPECT_EQ(kxtest::read_bytes(ini_dir.file("p.ini")), "[S]\na=2\n");
    EXPECT_EQ(kxtest::read_bytes(dir.file("p.ini")), "<missing>");
}

TEST_F(ProfileWrite, DefaultProfileIsQorIni)
{
    WriteProfileString("App", "Name", "qor");
    EXPECT_EQ(kxtest::read_bytes(dir.file("QOR.INI")), "\n[App]\nName=qor\n");
    char buffer[8];
    EXPECT_EQ(GetProfileString("App", "Name", "", buffer, sizeof buffer), 3);
    WriteProfileString("App", "Name", nullptr);
    EXPECT_EQ(kxtest::read_bytes(dir.file("QOR.INI")), "\n");
}

// A profile like a real one: many sections, comments, blank lines, quoted
// values, mixed case. Each change must touch only its own lines.
std::string section_text(int i)
{
    std::string text = "; mode " + std::to_string(i) + "\n[Mode " + std::to_string(i) + "]\n";
    text += "Driver=KR_FPX." + std::to_string(i) + "\n";
    text += "ColorTableSource=FILE\n";
    for (int c = 0; c < 4; ++c)
        text += "Color[00" + std::to_string(c) + "]=(" + std::to_string(c * 60) + ", 1, 2), \"C" +
                std::to_string(c) + "\"\n";
    text += "Font[001]=\"Helvetica\",\"12\",\"Bold\"   ; default font\n";
    text += "not defined=2\n\n";
    return text;
}

TEST_F(ProfileWrite, RewriteOfARealProfileChangesOnlyWhatWasAsked)
{
    std::string head = "; generated\n[KR_FPX]\n~Mode=Mode 3\n";
    for (int i = 0; i < 40; ++i)
        head += "Mode " + std::to_string(i) + "=KR_FPX." + std::to_string(i) + "\n";
    head += "\n";
    std::string before = head;
    for (int i = 0; i < 40; ++i)
        before += section_text(i);
    const std::string file = dir.file("big.ini");
    kxtest::write_bytes(file, before);

    // Set one key, remove one key, remove one section.
    WritePrivateProfileString("MODE 17", "ColorTableSource", "PROFILE", file.c_str());
    WritePrivateProfileString("Mode 23", "Color[002]", nullptr, file.c_str());
    WritePrivateProfileString("Mode 30", nullptr, nullptr, file.c_str());

    std::string expected = head;
    for (int i = 0; i < 40; ++i) {
        std::string text = section_text(i);
        if (i == 17) {
            const auto at = text.find("ColorTableSource=FILE");
            text.replace(at, std::strlen("ColorTableSource=FILE"), "ColorTableSource=PROFILE");
        } else if (i == 23) {
            const auto at = text.find("Color[002]");
            text.erase(at, text.find('\n', at) + 1 - at);
        } else if (i == 30) {
            // The header and every line up to the next header go: the
            // comment above the header stays, the one above the next header
            // goes with the section.
            text = "; mode 30\n";
        } else if (i == 31) {
            text.erase(0, text.find('\n') + 1);
        }
        expected += text;
    }
    EXPECT_EQ(kxtest::read_bytes(file), expected);
}

} // namespace
