// The profile reader: line cleaning, look-up, key lists, integers, and where a profile is found.
#include <kxfpx/profile.h>

#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <filesystem>
#include <string>

#include "scoped_env.h"

namespace {

constexpr char kFill = 0x7F;

TEST(CleanIniLine, RemovesBracketsQuotesAndCommentsUnlessKept)
{
    const struct {
        const char *text;
        int32_t flags; // CleanIniLine; -1: TrimIniChar of '"'; -2: of 'x'
        const char *expected;
    } cases[] = {
        {"[Sec;tion]", 0, "Sec"},      {"\"\"quoted\"\"", 0, "\"quoted\""}, // two in a row leave one
        {"\"\"\"x\"", 0, "\"x"},       // a pair, then a lone quote goes
        {"\"\r\"", 0, "\""},           // CR goes first, then the pair
        {"Color[000]=\"a\" ; c", 5, "Color[000]=\"a\""}, {"[keep]", 1, "[keep]"}, {"\"keep\"", 4, "\"keep\""},
        {"   ", 0, ""},
        {"\"\"x\"\"", -1, "\"x\""}, {"\"", -1, ""}, // at most one quote each end
        {"", -2, ""}, {"xxaxbxx", -2, "axb"}, {"xxxx", -2, ""},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.text);
        char buffer[64];
        std::strcpy(buffer, c.text);
        if (c.flags >= 0)
            CleanIniLine(buffer, c.flags);
        else
            TrimIniChar(buffer, "\"x"[-c.flags - 1]);
        EXPECT_STREQ(buffer, c.expected);
    }
    CleanIniLine(nullptr, 0);
}

class ProfileRead : public ::testing::Test {
protected:
    kxtest::TempDir dir;
    kxtest::ScopedCwd cwd{dir.path()};
    kxtest::ScopedEnv no_ini_dir{"INIDIR", nullptr};

    std::string value(const std::string &file, const char *section, const char *key)
    {
        char buffer[512];
        std::memset(buffer, kFill, sizeof buffer);
        const int32_t count = GetPrivateProfileString(section, key, "<default>", buffer, sizeof buffer, file.c_str());
        EXPECT_EQ(count, static_cast<int32_t>(std::strlen(buffer)));
        return buffer;
    }
};

const char kSample[] = "; leading comment\n[Other]\nRed=wrong section\n[ Colours ] ; the palette\nRed=1\n  Blue = 2\n"
                       "Triple=\"\"\"x\"\nComment=value   ; trailing words\nNoEquals\n[Next]\nGreen=3\n";
const char kRepeated[] = "[S]\na=1\n[T]\nb=0\n[S]\nb=2\n[S]\nc=3\n[S]\nd=4\n";
const char kBare[] = "[A]\nx=1\nB\ny=2\n[C]\nz=3\n";
// Text after the 256th character that looks like a header is still the line's: no section end.
const std::string kLong = "[S]\nPad=" + std::string(252, 'p') + "[T]\nLong=" +
                          std::string(300, 'v') + "\nKey=found\n[T]\nKey=t\n";

TEST_F(ProfileRead, LooksUpKeysAsTheyAreWritten)
{
    const struct {
        const std::string text;
        const char *section, *key;
        std::string expected;
    } cases[] = {
        {kSample, "COLOURS", "red", "1"},          // names ignore case
        {kSample, "Colours", "Blue ", " 2"},       // the key is the untrimmed text
        {kSample, "Colours", "Blue", "<default>"}, // a space before '=' hides the key
        {kSample, "Colours", "Triple", "\"\"x"}, // of three quotes one goes
        {kSample, "Colours", "Comment", "value"},  {kSample, "Colours", "NoEquals", ""},
        {kSample, "Colours", "Green", "<default>"}, {kSample, "Missing", "Red", "<default>"},
        // A header right after a matching one ends the section unexamined; later sections of the name count.
        {kRepeated, "S", "c", "<default>"}, {kRepeated, "S", "d", "4"},
        {kBare, "B", "y", "2"}, {kBare, "A", "y", "2"}, // a bare name starts a section for the reader, a key line for A
        {kLong, "S", "Key", "found"}, {kLong, "S", "Long", std::string(300, 'v')},
        // Every line end, an unended last line too.
        {"[S]\r\na=1\r\nlast=9", "S", "a", "1"}, {"[S]\ra=1\rlast=9", "S", "last", "9"},
        {"[S]\na=1\nlast=9", "S", "last", "9"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(std::string(c.section) + "/" + c.key);
        EXPECT_EQ(value(dir.write("p.ini", c.text), c.section, c.key), c.expected);
    }
}

TEST_F(ProfileRead, ValuesAndKeyListsAreCutToTheBuffer)
{
    const std::string file = dir.write("p.ini", "[S]\nk=hello\n[E]\nA=1\n; note\nBC=2\n[F]\nX=1\n");
    const struct {
        const char *key; // null: the list of keys of E
        int32_t size, count;
        std::string bytes;
    } cases[] = {
        {"k", 0, 0, ""}, {"k", 1, 1, "h"}, {"k", 5, 5, "hello"}, {"k", 8, 5, std::string("hello\0\0\0", 8)},
        {nullptr, 6, 3, std::string("A\0BC\0\0", 6)}, {nullptr, 5, 4, std::string("A\0B\0\0", 5)}, // BC cut: size - 1
        {nullptr, 2, 1, std::string("\0\0", 2)}, {nullptr, 1, 0, std::string("\0", 1)}, {nullptr, 0, 0, ""},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(std::string(c.key ? c.key : "(list)") + " " + std::to_string(c.size));
        char buffer[80];
        std::memset(buffer, kFill, sizeof buffer);
        const char *section = c.key ? "S" : "E";
        EXPECT_EQ(GetPrivateProfileString(section, c.key, "", buffer, c.size, file.c_str()), c.count);
        EXPECT_EQ(std::string(buffer, c.bytes.size()), c.bytes);
        EXPECT_EQ(buffer[c.size], kFill) << "wrote beyond the buffer";
    }
    // Without a buffer only the count comes back.
    EXPECT_EQ(GetPrivateProfileString("S", "k", "", nullptr, 64, file.c_str()), 5);
    EXPECT_EQ(GetPrivateProfileString("E", nullptr, "", nullptr, 64, file.c_str()), 3);
    // A default longer than the buffer is cut the same way; a section without keys lists it.
    char small[16];
    std::memset(small, kFill, sizeof small);
    EXPECT_EQ(GetPrivateProfileString("S", "none", "defaults", small, 3, file.c_str()), 3);
    EXPECT_EQ(std::string(small, 4), std::string("def") + kFill);
    EXPECT_EQ(GetPrivateProfileString("None", nullptr, "dflt", small, 16, file.c_str()), 4);
    EXPECT_STREQ(small, "dflt");

    // Bad arguments return zero and leave the buffer; a missing file gives the default.
    std::memset(small, kFill, sizeof small);
    EXPECT_EQ(GetPrivateProfileString(nullptr, "k", "d", small, 8, file.c_str()), 0);
    EXPECT_EQ(GetPrivateProfileString("", "k", "d", small, 8, file.c_str()), 0);
    EXPECT_EQ(GetPrivateProfileString("S", "k", nullptr, small, 8, file.c_str()), 0);
    EXPECT_EQ(small[0], kFill);
    EXPECT_EQ(GetPrivateProfileString("S", "k", "d", small, 8, "missing.ini"), 1);
    EXPECT_STREQ(small, "d");
    EXPECT_EQ(GetPrivateProfileString("S", "k", "d", small, 8, nullptr), 1);
}

TEST_F(ProfileRead, Integers)
{
    // Decimal: the low 32 bits of strtol's result (LONG_MAX beyond range). Only the first 32 characters are read.
    const struct {
        std::string text;
        int32_t expected;
    } cases[] = {
        {"0x1f", 31}, {"0X1F", 31}, {"0xFFFFFFFF", -1}, {"0xzz", 0}, {"12abc", 12}, {"-5", 0}, {"", 77},
        {"2147483647", INT32_MAX}, {"2147483648", INT32_MIN}, {"4294967296", 0}, {"99999999999999999999", -1},
        {"0x" + std::string(29, '0') + "1f", 1}, {std::string(30, '0') + "42999", 42},
    };
    std::string text = "[N]\n";
    for (const auto &c : cases)
        text += "k" + std::to_string(&c - cases) + "=" + c.text + "\n";
    const std::string file = dir.write("p.ini", text);
    for (const auto &c : cases)
        EXPECT_EQ(GetPrivateProfileInt("N", ("k" + std::to_string(&c - cases)).c_str(), 77, file.c_str()), c.expected)
            << c.text;
    EXPECT_EQ(GetPrivateProfileInt("N", nullptr, 77, file.c_str()), 77); // a missing key reads as the empty row
}

TEST_F(ProfileRead, CurrentDirectoryFirstThenIniDir)
{
    kxtest::TempDir ini_dir; // the writer's tests find a profile that is only in INIDIR
    ini_dir.write("p.ini", "[S]\nk=from ini dir\n");
    dir.write("p.ini", "[S]\nk=from here\n");
    {
        kxtest::ScopedEnv env("INIDIR", ini_dir.path().c_str());
        EXPECT_EQ(value("p.ini", "S", "k"), "from here");
    }
    // INIopen hands back the path it opened when it fits; INIDIR's trailing slash is not doubled.
    const std::string slashed = ini_dir.path() + "/";
    kxtest::ScopedEnv env("INIDIR", slashed.c_str());
    ini_dir.write("q.ini", "x");
    char name[260] = "q.ini";
    QorFile file = INIopen(name, sizeof name, 0);
    ASSERT_NE(file, nullptr);
    EXPECT_EQ(name, ini_dir.file("q.ini"));
    EXPECT_EQ(INIclose(file), 0);
    char short_name[8] = "q.ini";
    file = INIopen(short_name, sizeof short_name, 0);
    ASSERT_NE(file, nullptr);
    EXPECT_STREQ(short_name, "q.ini");
    INIclose(file);
    EXPECT_EQ(INIclose(nullptr), 0);
    EXPECT_EQ(INIopen(nullptr, 8, 0), nullptr);

    // An INIDIR of 256 characters is not used; one of 255 is.
    for (const size_t length : {size_t{255}, size_t{256}}) {
        const std::string sub = dir.path() + "/" + std::string(length - dir.path().size() - 1, 'd');
        ASSERT_TRUE(std::filesystem::create_directory(sub));
        dir.write(sub.substr(dir.path().size() + 1) + "/deep.ini", "[S]\nk=deep\n");
        kxtest::ScopedEnv deep("INIDIR", sub.c_str());
        EXPECT_EQ(value("deep.ini", "S", "k"), length < 256 ? "deep" : "<default>") << length;
        std::filesystem::remove_all(sub);
    }
}

} // namespace
