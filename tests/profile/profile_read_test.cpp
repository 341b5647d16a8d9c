// The profile reader: line cleaning, key look-up, key enumeration into
// buffers of every size, integers, long and unended lines, line ends, and
// where a profile is found (the current directory, then INIDIR).
#include <kxfpx/profile.h>

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstring>
#include <string>

#include "profile/profile_files.h"
#include "scoped_env.h"

namespace {

constexpr char kFill = 0x7F;

TEST(CleanIniLine, RemovesBracketsQuotesAndCommentsUnlessKept)
{
    const struct {
        const char *text;
        int32_t flags;
        const char *expected;
    } cases[] = {
        {"[ Section ] ; comment", 0, "Section"},
        {"[Sec;tion]", 0, "Sec"},
        {"\"\"quoted\"\"", 0, "\"quoted\""},     // two in a row leave one
        {"\"\"\"x\"", 0, "\"x"},                  // a pair, then a lone quote goes
        {"\"\r\"", 0, "\""},                      // CR goes first, then the pair
        {"Color[000]=\"a\" ; c", 5, "Color[000]=\"a\""},
        {"[keep]", 1, "[keep]"},
        {"\"keep\"", 4, "\"keep\""},
        {"   ", 0, ""},
        {"; only a comment", 5, ""},
        {"", 0, ""},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.text);
        char buffer[64];
        std::strcpy(buffer, c.text);
        CleanIniLine(buffer, c.flags);
        EXPECT_STREQ(buffer, c.expected);
    }
    CleanIniLine(nullptr, 0);
}

TEST(TrimIniChar, AtMostOneQuoteEachEnd)
{
    const struct {
        const char *text;
        char c;
        const char *expected;
    } cases[] = {
        {"  a b  ", ' ', "a b"},  {"\"\"x\"\"", '"', "\"x\""}, {"\"", '"', ""},
        {"xxaxx", 'x', "a"},      {"xxxx", 'x', ""},           {"", ' ', ""},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.text);
        char buffer[32];
        std::strcpy(buffer, c.text);
        TrimIniChar(buffer, c.c);
        EXPECT_STREQ(buffer, c.expected);
    }
}

class ProfileRead : public ::testing::Test {
protected:
    kxtest::TempDir dir;
    kxtest::ScopedCwd cwd{dir.path()};
    kxtest::ScopedEnv no_ini_dir{"INIDIR", nullptr};

    std::string profile(const std::string &text, const std::string &name = "p.ini")
    {
        kxtest::write_bytes(dir.file(name), text);
        return dir.file(name);
    }

    // The value of a key read into a large, pre-filled buffer.
    std::string value(const std::string &file, const char *section, const char *key,
                      const char *fallback = "<default>")
    {
        char buffer[512];
        std::memset(buffer, kFill, sizeof buffer);
        const int32_t count =
            GetPrivateProfileString(section, key, fallback, buffer, sizeof buffer, file.c_str());
        EXPECT_EQ(count, static_cast<int32_t>(std::strlen(buffer)));
        return buffer;
    }
};

const char kSample[] =
    "; leading comment\n"
    "[Other]\n"
    "Red=wrong section\n"
    "[ Colours ] ; the palette\n"
    "Red=1\n"
    "  Blue = 2\n"
    "Quoted=\"hello\"\n"
    "Triple=\"\"\"x\"\n"
    "Comment=value   ; trailing words\n"
    "Empty=\n"
    "NoEquals\n"
    "Spaced  =  s\n"
    "[Next]\n"
    "Green=3\n";

TEST_F(ProfileRead, LooksUpKeysAsTheyAreWritten)
{
    const std::string file = profile(kSample);
    const struct {
        const char *section;
        const char *key;
        const char *expected;
    } cases[] = {
        {"Colours", "Red", "1"},
        {"COLOURS", "red", "1"},            // names ignore case
        {"Colours", "Blue ", " 2"},         // the key is the untrimmed text
        {"Colours", "Blue", "<default>"},   // a space before '=' hides the key
        {"Colours", "Quoted", "hello"},
        {"Colours", "Triple", "\"\"x"},     // of three quotes one goes
        {"Colours", "Comment", "value"},
        {"Colours", "Empty", ""},
        {"Colours", "NoEquals", ""},
        {"Colours", "Spaced  ", "  s"},
        {"Colours", "Green", "<default>"},  // in the next section
        {"Next", "Green", "3"},
        {"Other", "Red", "wrong section"},
        {"Missing", "Red", "<default>"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(std::string(c.section) + "/" + c.key);
        EXPECT_EQ(value(file, c.section, c.key), c.expected);
    }
}

TEST_F(ProfileRead, BareSectionNameStartsASectionForTheReader)
{
    const std::string file = profile("[A]\nx=1\nB\ny=2\n[C]\nz=3\n");
    EXPECT_EQ(value(file, "B", "y"), "2");
    EXPECT_EQ(value(file, "A", "y"), "2");   // for A, "B" is just a key line
    EXPECT_EQ(value(file, "A", "x"), "1");
}

TEST_F(ProfileRead, RepeatedSectionsAreAllSearched)
{
    // A header directly after a matching one ends the section without being
    // examined itself.
    const std::string file = profile("[S]\na=1\n[T]\nb=0\n[S]\nb=2\n[S]\nc=3\n[S]\nd=4\n");
    EXPECT_EQ(value(file, "S", "a"), "1");
    EXPECT_EQ(value(file, "S", "b"), "2");
    EXPECT_EQ(value(file, "S", "c"), "<default>");
    EXPECT_EQ(value(file, "S", "d"), "4");
}

TEST_F(ProfileRead, LineEndsOfEveryKindAndAnUnendedLastLine)
{
    for (const char *eol : {"\n", "\r\n", "\r"}) {
        SCOPED_TRACE(testing::PrintToString(eol));
        const std::string file = profile(kxtest::with_line_ends("[S]\na=1\nlast=9", eol));
        EXPECT_EQ(value(file, "S", "a"), "1");
        EXPECT_EQ(value(file, "S", "last"), "9");
    }
}

TEST_F(ProfileRead, LongLinesAreWholeLines)
{
    // The text after the 256th character looks like a header: it is still
    // part of the line and does not end the section.
    const std::string pad = "Pad=" + std::string(252, 'p') + "[T]";
    const std::string long_value(300, 'v');
    const std::string file =
        profile("[S]\n" + pad + "\nLong=" + long_value + "\nKey=found\n[T]\nKey=t\n");
    EXPECT_EQ(value(file, "S", "Key"), "found");
    EXPECT_EQ(value(file, "S", "Long"), long_value);
    EXPECT_EQ(value(file, "T", "Key"), "t");
}

TEST_F(ProfileRead, ValuesAreCutToTheBuffer)
{
    const std::string file = profile("[S]\nk=hello\n");
    const struct {
        int32_t size;
        int32_t count;
        const char *bytes;   // the first `size` bytes
    } cases[] = {
        {0, 0, ""}, {1, 1, "h"}, {5, 5, "hello"}, {6, 5, "hello\0"}, {8, 5, "hello\0\0\0"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.size);
        char buffer[16];
        std::memset(buffer, kFill, sizeof buffer);
        EXPECT_EQ(GetPrivateProfileString("S", "k", "", buffer, c.size, file.c_str()), c.count);
        EXPECT_EQ(std::string(buffer, c.size), std::string(c.bytes, c.size));
        EXPECT_EQ(buffer[c.size], kFill) << "wrote beyond the buffer";
    }
    // Without a buffer only the count comes back.
    EXPECT_EQ(GetPrivateProfileString("S", "k", "", nullptr, 64, file.c_str()), 5);
    // A default longer than the buffer is cut the same way.
    char small[4];
    std::memset(small, kFill, sizeof small);
    EXPECT_EQ(GetPrivateProfileString("S", "none", "defaults", small, 3, file.c_str()), 3);
    EXPECT_EQ(std::string(small, 4), std::string("def") + kFill);
}

TEST_F(ProfileRead, EnumeratesKeysWithTheTruncationRule)
{
    const std::string file = profile("[E]\nA=1\n; note\nBC=2\n[F]\nX=1\n");
    const struct {
        int32_t size;
        int32_t count;
        std::string bytes;
    } cases[] = {
        {64, 3, std::string("A\0BC\0\0", 6)},
        {6, 3, std::string("A\0BC\0\0", 6)},
        {5, 4, std::string("A\0B\0\0", 5)},   // BC does not fit: cut, count size - 1
        {4, 3, std::string("A\0\0\0", 4)},
        {2, 1, std::string("\0\0", 2)},
        {1, 0, std::string("\0", 1)},
        {0, 0, std::string()},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.size);
        char buffer[80];
        std::memset(buffer, kFill, sizeof buffer);
        EXPECT_EQ(GetPrivateProfileString("E", nullptr, "", buffer, c.size, file.c_str()),
                  c.count);
        EXPECT_EQ(std::string(buffer, c.bytes.size()), c.bytes);
        EXPECT_EQ(buffer[c.size], kFill) << "wrote beyond the buffer";
    }
    EXPECT_EQ(GetPrivateProfileString("E", nullptr, "", nullptr, 64, file.c_str()), 3);
    // A section without keys leaves the default.
    char buffer[16];
    EXPECT_EQ(GetPrivateProfileString("None", nullptr, "dflt", buffer, 16, file.c_str()), 4);
    EXPECT_STREQ(buffer, "dflt");
}

TEST_F(ProfileRead, BadArgumentsReturnZeroAndLeaveTheBuffer)
{
    const std::string file = profile("[S]\nk=v\n");
    char buffer[8];
    std::memset(buffer, kFill, sizeof buffer);
    EXPECT_EQ(GetPrivateProfileString(nullptr, "k", "d", buffer, 8, file.c_str()), 0);
    EXPECT_EQ(GetPrivateProfileString("", "k", "d", buffer, 8, file.c_str()), 0);
    EXPECT_EQ(GetPrivateProfileString("S", "k", nullptr, buffer, 8, file.c_str()), 0);
    EXPECT_EQ(buffer[0], kFill);
    // A missing file gives the default and its length.
    EXPECT_EQ(GetPrivateProfileString("S", "k", "d", buffer, 8, "missing.ini"), 1);
    EXPECT_STREQ(buffer, "d");
    EXPECT_EQ(GetPrivateProfileString("S", "k", "d", buffer, 8, nullptr), 1);
}

TEST_F(ProfileRead, Integers)
{
    const std::string file = profile(
        "[N]\nhex=0x1f\nHEX=0X1F\nbig=0xFFFFFFFF\nnohex=0x\nbad=0xzz\nlead=12abc\n"
        "neg=-5\nspace=\" 5\"\nempty=\n"
        "max=2147483647\nmin=2147483648\nall=4294967295\nwrap=4294967296\nwrap1=4294967297\n"
        "huge=99999999999\nrange=99999999999999999999\n"
        "long32=0x" + std::string(29, '0') + "1f\n"
        "dec32=" + std::string(30, '0') + "42999\n");
    const struct {
        const char *key;
        int32_t expected;
    } cases[] = {
        {"hex", 31},   {"HEX", 31},      {"big", -1},     {"nohex", 0},  {"bad", 0},
        {"lead", 12},  {"neg", 0},       {"space", 0},    {"empty", 77}, {"missing", 77},
        // Decimal: the low 32 bits of strtol's result, which is LONG_MAX
        // for a number beyond its range.
        {"max", INT32_MAX}, {"min", INT32_MIN}, {"all", -1}, {"wrap", 0}, {"wrap1", 1},
        {"huge", 1215752191},   // 99999999999 - 23 * 2^32
        {"range", -1},
        // Only the first 32 characters are read: "0x" and 30 digits; 30
        // zeros and "42".
        {"long32", 1}, {"dec32", 42},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.key);
        EXPECT_EQ(GetPrivateProfileInt("N", c.key, 77, file.c_str()), c.expected);
    }
    EXPECT_EQ(GetPrivateProfileInt("N", nullptr, 77, file.c_str()), 77);
    EXPECT_EQ(GetPrivateProfileInt("N", "hex", 77, "missing.ini"), 77);
}

TEST_F(ProfileRead, CurrentDirectoryFirstThenIniDir)
{
    kxtest::TempDir ini_dir;
    kxtest::write_bytes(ini_dir.file("p.ini"), "[S]\nk=from ini dir\n");
    {
        kxtest::ScopedEnv env("INIDIR", ini_dir.path().c_str());
        EXPECT_EQ(value("p.ini", "S", "k"), "from ini dir");
        profile("[S]\nk=from here\n");
        EXPECT_EQ(value("p.ini", "S", "k"), "from here");
    }
    // A slash at the end of INIDIR is not doubled, and INIOpen hands back the
    // path it opened when the buffer can hold it.
    const std::string slashed = ini_dir.path() + "/";
    kxtest::ScopedEnv env("INIDIR", slashed.c_str());
    kxtest::write_bytes(ini_dir.file("q.ini"), "x");
    char name[260];
    std::memset(name, kFill, sizeof name);
    std::strcpy(name, "q.ini");
    QorFile file = INIopen(name, sizeof name, 0);
    ASSERT_NE(file, nullptr);
    EXPECT_EQ(std::string(name), ini_dir.file("q.ini"));
    EXPECT_EQ(INIclose(file), 0);

    char short_name[8] = "q.ini";
    file = INIopen(short_name, sizeof short_name, 0);
    ASSERT_NE(file, nullptr);
    EXPECT_STREQ(short_name, "q.ini");   // too long to copy back
    INIclose(file);
    EXPECT_EQ(INIclose(nullptr), 0);
    EXPECT_EQ(INIopen(nullptr, 8, 0), nullptr);
}

TEST_F(ProfileRead, IniDirOf256CharactersIsNotUsed)
{
    // Two directories whose paths are 255 and 256 characters long.
    for (const size_t length : {size_t{255}, size_t{256}}) {
        SCOPED_TRACE(length);
        const std::string sub =
            dir.path() + "/" + std::string(length - dir.path().size() - 1, 'd');
        ASSERT_EQ(sub.size(), length);
        ASSERT_EQ(::mkdir(sub.c_str(), 0700), 0);
        kxtest::write_bytes(sub + "/deep.ini", "[S]\nk=deep\n");
        kxtest::ScopedEnv env("INIDIR", sub.c_str());
        EXPECT_EQ(value("deep.ini", "S", "k"), length < 256 ? "deep" : "<default>");
        ::unlink((sub + "/deep.ini").c_str());
        ::rmdir(sub.c_str());
    }
}

TEST_F(ProfileRead, DefaultProfileIsQorIni)
{
    profile("[App]\nName=qor\nCount=0x10\n", "QOR.INI");
    char buffer[16];
    EXPECT_EQ(GetProfileString("App", "Name", "", buffer, sizeof buffer), 3);
    EXPECT_STREQ(buffer, "qor");
    EXPECT_EQ(GetProfileInt("App", "Count", 0), 16);
    EXPECT_EQ(GetProfileInt("App", "None", 5), 5);
}

} // namespace
