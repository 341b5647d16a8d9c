// xLoadProfile's driver, colours and fonts, SetDriverMode, xCreateSetup on samples/'s profile.
#include <kxfpx/filter.h>
#include <kxfpx/memory.h>
#include <kxfpx/strings.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "port/field_copy.h"
#include "scoped_env.h"

namespace {

using kxfpx::port::copy_field;

class ProfileSettings : public ::testing::Test {
protected:
    kxtest::TempDir dir;
    kxtest::ScopedCwd cwd{dir.path()};
    kxtest::ScopedEnv no_ini_dir{"INIDIR", nullptr};
    std::unique_ptr<FilterSetup> setup = std::make_unique<FilterSetup>();

    void SetUp() override { strupr(szIM_Filter); }

    // Writes the profile and points the setup at it and at `mode`.
    void use(const std::string &text, const char *mode)
    {
        copy_field(setup->profileName, dir.write("p.ini", text).c_str());
        copy_field(setup->modeName, mode);
    }
    void expect_colour(int i, uint8_t r, uint8_t g, uint8_t b, const char *name)
    {
        SCOPED_TRACE(i);
        EXPECT_EQ(setup->colours[i][0], r);
        EXPECT_EQ(setup->colours[i][1], g);
        EXPECT_EQ(setup->colours[i][2], b);
        EXPECT_STREQ(setup->colourNames[i], name);
    }
};

TEST_F(ProfileSettings, LoadsDriverColoursFontsAndOption)
{
    use("[M]\nDriver=KR_FPX.1\nColorTableSource=PROFILE\n"
        "Color[000]=(255, 128, 0), \"Orange\"\n"
        "Color[001]=(300, -1, 7), \"Wrapped\"\n"
        "Color[002]=(1,2,3),\"Lost\"\n"
        "Color[003]=(4, 5, 6)\n"
        "Color[004]=(7, 8, 9), \"A name of more than sixteen\"\n"
        "Color[006]=(9, 9, 9), \"After a gap\"\n"
        "Font[000]=\"Ignored\",\"0\",\"x\"\n"
        "Font[001]=\"Helvetica\",\"12\",\"Bold\"\n"
        "Font[002]=\"\",\"10\",\"Plain\"\n"
        "Font[003]=\"Times\",\"8\"\n"
        "Not Defined=1\n",
        "m");
    ASSERT_EQ(xLoadProfile(setup.get(), 1, 1), 1);
    EXPECT_STREQ(setup->driverName, "KR_FPX.1");
    EXPECT_STREQ(setup->colourTableSource, "PROFILE");
    ASSERT_EQ(setup->colourEntryCount, 5); // ends at the missing index 005
    EXPECT_EQ(setup->colourTableLength, 5);
    expect_colour(0, 255, 128, 0, "Orange");
    expect_colour(1, 44, 255, 7, "Wrapped"); // low bytes of 300 and -1
    expect_colour(2, 1, 2, 3, "");           // nothing between ')' and '"': name lost
    expect_colour(3, 4, 5, 6, "");
    expect_colour(4, 7, 8, 9, "A name of more t");
    ASSERT_EQ(setup->fontCount, 3); // from index 001
    const char *fonts[3][2] = {{"Helvetica", "Bold"}, {"", "Plain"}, {"Times", ""}};
    for (int i = 0; i < 3; ++i) {
        EXPECT_STREQ(setup->fontNames[i], fonts[i][0]);
        EXPECT_STREQ(setup->fontValues[i], fonts[i][1]);
    }
    EXPECT_EQ(setup->options.resolutionChoice, 1);
}

TEST_F(ProfileSettings, PartialEntriesAndListsStartingLate)
{
    // A colour without its third number keeps the old name; no
    // ColorTableSource is an empty source, which is not FILE.
    use("[M]\nDriver=D\nColor[000]=(10, 20)\n", "M");
    copy_field(setup->colourNames[0], "Old");
    setup->colours[0][2] = 99;
    ASSERT_EQ(xLoadProfile(setup.get(), 0, 1), 1);
    EXPECT_EQ(setup->colourEntryCount, 1);
    expect_colour(0, 10, 20, 0, "Old");
    EXPECT_EQ(setup->colourTableLength, 1);
    EXPECT_EQ(setup->options.resolutionChoice, 2);

    use("[M]\nDriver=D\nColorTableSource=file\nColor[001]=(1, 2, 3), \"x\"\n"
        "Font[002]=\"a\",\"b\",\"c\"\n", "M");
    setup->fontCount = 7;
    ASSERT_EQ(xLoadProfile(setup.get(), 1, 1), 1);
    EXPECT_EQ(setup->colourEntryCount, 0);
    EXPECT_EQ(setup->fontCount, 0);
    EXPECT_EQ(setup->colourTableLength, 0); // "file" counts as FILE
    // Flags off: the lists are not read at all.
    setup->fontCount = 7;
    setup->colourEntryCount = 8;
    ASSERT_EQ(xLoadProfile(setup.get(), 0, 0), 1);
    EXPECT_EQ(setup->fontCount, 7);
    EXPECT_EQ(setup->colourEntryCount, 8);
}

TEST_F(ProfileSettings, ListsStopAtTheRecordsCapacity)
{
    std::string text = "[M]\nDriver=D\nColorTableSource=PROFILE\n";
    char line[64];
    for (int i = 0; i < 300; ++i) {
        std::snprintf(line, sizeof line, "Color[%03d]=(%d, 0, 0), \"c%d\"\n", i, i, i);
        text += line;
    }
    for (int i = 1; i <= 40; ++i) {
        std::snprintf(line, sizeof line, "Font[%03d]=\"f%d\",\"1\",\"v%d\"\n", i, i, i);
        text += line;
    }
    use(text, "M");
    ASSERT_EQ(xLoadProfile(setup.get(), 1, 1), 1);
    EXPECT_EQ(setup->colourEntryCount, 256);
    EXPECT_EQ(setup->colourTableLength, 256);
    expect_colour(255, 255, 0, 0, "c255");
    EXPECT_EQ(setup->fontCount, 32);
    EXPECT_STREQ(setup->fontNames[31], "f32");
    EXPECT_STREQ(setup->fontValues[31], "v32");
}

TEST_F(ProfileSettings, DriverEntryMissingOrTooLong)
{
    // No driver empties the driver and changes nothing else.
    use("[M]\nColorTableSource=PROFILE\nColor[000]=(1, 2, 3), \"x\"\n", "M");
    copy_field(setup->driverName, "KR_FPX.0");
    copy_field(setup->colourTableSource, "FILE");
    EXPECT_EQ(xLoadProfile(setup.get(), 1, 1), 0);
    EXPECT_STREQ(setup->driverName, "");
    EXPECT_STREQ(setup->colourTableSource, "FILE");
    EXPECT_EQ(setup->colourEntryCount, 0);

    use("[M]\nDriver=ABCDEFGHIJKLMNOPQRSTUVWXYZ\nColorTableSource=ABCDEFGHIJKLMNOP\n", "M");
    std::memset(setup->driverName, 'z', sizeof setup->driverName);
    ASSERT_EQ(xLoadProfile(setup.get(), 0, 0), 1);
    EXPECT_STREQ(setup->driverName, "ABCDEFGHIJKLM");
    EXPECT_STREQ(setup->colourTableSource, "ABCDEFGHIJ");
}

TEST_F(ProfileSettings, SetDriverModePrefersAsteriskKeysThenTheDriverName)
{
    use("[KR_FPX]\n~Mode=KR_FPX.7\nPlain=KR_FPX.5\nOther=kr_fpx.6\n*Star=KR_FPX.5\n"
        "[Plain]\nDriver=PLAIN\n"
        "[Other]\nDriver=OTHER\nColor[000]=(1, 1, 1), \"one\"\n"
        "[*Star]\nDriver=STAR\nNot Defined=0\n",
        "Plain");
    EXPECT_EQ(SetDriverMode(5, setup.get()), 0);
    EXPECT_STREQ(setup->modeName, "*Star");
    EXPECT_STREQ(setup->driverName, "STAR");
    EXPECT_EQ(setup->options.resolutionChoice, 0);
    EXPECT_EQ(SetDriverMode(6, setup.get()), 0); // the driver name ignores case
    EXPECT_STREQ(setup->modeName, "Other");
    EXPECT_STREQ(setup->driverName, "OTHER");
    EXPECT_EQ(setup->colourEntryCount, 1);

    // "~Mode" is never a mode; without one the driver is named by number,
    // cut inside its field, and the mode stays.
    for (const int32_t number : {7, 3, INT32_MIN}) {
        EXPECT_EQ(SetDriverMode(number, setup.get()), 1);
        EXPECT_EQ(setup->driverName, ("KR_FPX." + std::to_string(number)).substr(0, 15));
        EXPECT_STREQ(setup->modeName, "Other");
    }
    setup->profileName[0] = '\0';
    EXPECT_EQ(SetDriverMode(5, setup.get()), 1);
    EXPECT_STREQ(setup->driverName, "KR_FPX.5");
}

TEST(ExampleProfile, CreateSetupByProfileModeAndLibraryName)
{
    const std::string sample = kxtest::read_file(kxtest::source_dir() + "/samples/libkx_fpx2.ini");
    ASSERT_NE(sample, "<missing>");
    const struct {
        const char *profile, *mode, *library; // library: the loader's path
        bool made;
        const char *profile_found, *mode_found, *driver;
        int32_t colours, table_length, resolution, fonts;
    } cases[] = {
        // An empty mode name reads "~Mode".
        {"libkx_fpx2.ini", nullptr, "", true, "libkx_fpx2.ini", "Photo", "KR_FPX.1", 5, 5, 2, 2},
        {"", "", "/opt/x.y/libkx_fpx2.so", true, "libkx_fpx2.ini", "Photo", "KR_FPX.1", 5, 5, 2, 2},
        {"libkx_fpx2.ini", "Draft", "", true, "libkx_fpx2.ini", "Draft", "KR_FPX.2", 2, 0, 0, 1},
        // A profile that is not found gives the defaults.
        {"other.ini", "Draft", "", true, "", "", "KR_FPX.0", 0, 0, 2, 0},
        {"", "", "/opt/x/other.so", true, "", "", "KR_FPX.0", 0, 0, 2, 0},
        // A mode without a driver fails the setup.
        {"libkx_fpx2.ini", "KR_FPX", "", false, "", "", "", 0, 0, 0, 0},
        {"libkx_fpx2.ini", "No Such Mode", "", false, "", "", "", 0, 0, 0, 0},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(std::string(c.profile) + " " + (c.mode ? c.mode : "") + " " + c.library);
        kxtest::TempDir dir, ini_dir;
        kxtest::ScopedCwd cwd(dir.path());
        kxtest::ScopedEnv env("INIDIR", ini_dir.path().c_str());
        ini_dir.write("libkx_fpx2.ini", sample);
        copy_field(import_szDLLName, c.library);
        HGLOBAL handle = xCreateSetup(0, c.profile, c.mode);
        import_szDLLName[0] = '\0';
        ASSERT_EQ(handle != nullptr, c.made);
        if (!handle)
            continue;
        auto *setup = static_cast<FilterSetup *>(GlobalLock(handle));
        const std::string found = *c.profile_found ? ini_dir.file(c.profile_found) : "";
        EXPECT_EQ(setup->profileName, found);
        EXPECT_STREQ(setup->modeName, c.mode_found);
        EXPECT_STREQ(setup->driverName, c.driver);
        EXPECT_EQ(setup->colourEntryCount, c.colours);
        EXPECT_EQ(setup->colourTableLength, c.table_length);
        EXPECT_EQ(setup->options.resolutionChoice, c.resolution);
        EXPECT_EQ(setup->fontCount, c.fonts);
        if (c.colours == 2) { // switching the mode by driver number
            EXPECT_EQ(SetDriverMode(1, setup), 0);
            EXPECT_STREQ(setup->modeName, "Photo");
            EXPECT_EQ(setup->colourTableLength, 5);
        }
        EXPECT_EQ(xDestroySetup(handle), 0);
    }
}

} // namespace
