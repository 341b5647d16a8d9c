// xLoadProfile's driver, colours and fonts, SetDriverMode, xCreateSetup on samples/'s profile.
#include <kxfpx/filter.h>
#include <kxfpx/memory.h>
#include <kxfpx/strings.h>

#include <gtest/gtest.h>

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
    // Colours from..to-1 as "r g b name|"; fonts as "name=value|".
    std::string colours(int from, int to) const
    {
        std::string text;
        for (int i = from; i < to; ++i) {
            const uint8_t *rgb = setup->colours[i];
            text += std::to_string(rgb[0]) + " " + std::to_string(rgb[1]) + " " + std::to_string(rgb[2]) + " " +
                    setup->colourNames[i] + "|";
        }
        return text;
    }
    std::string fonts(int from, int to) const
    {
        std::string text;
        for (int i = from; i < to; ++i)
            text += std::string(setup->fontNames[i]) + "=" + setup->fontValues[i] + "|";
        return text;
    }
};

TEST_F(ProfileSettings, LoadsDriverColoursAndFonts)
{
    use("[M]\nDriver=ABCDEFGHIJKLMNOPQRSTUVWXYZ\nColorTableSource=ABCDEFGHIJKLMNOP\n"
        "Color[000]=(255, 128, 0), \"Orange\"\nColor[001]=(300, -1, 7), \"Wrapped\"\nColor[002]=(1,2,3),\"Lost\"\n"
        "Color[003]=(4, 5, 6)\n"
        "Color[004]=(7, 8, 9), \"A name of more than sixteen\"\nColor[006]=(9, 9, 9), \"After a gap\"\n"
        "Font[000]=\"Ignored\",\"0\",\"x\"\nFont[001]=\"Helvetica\",\"12\",\"Bold\"\n"
        "Font[002]=\"\",\"10\",\"Plain\"\nFont[003]=\"Times\",\"8\"\n",
        "m");
    std::memset(setup->driverName, 'z', sizeof setup->driverName);
    ASSERT_EQ(xLoadProfile(setup.get(), 1, 1), 1);
    EXPECT_STREQ(setup->driverName, "ABCDEFGHIJKLM"); // values cut to 13 and 10, ended inside their fields
    EXPECT_STREQ(setup->colourTableSource, "ABCDEFGHIJ");
    ASSERT_EQ(setup->colourEntryCount, 5); // ends at the missing index 005
    EXPECT_EQ(setup->colourTableLength, 5);
    // Low bytes of 300 and -1; nothing between ')' and '"' loses the name; names cut to 16.
    EXPECT_EQ(colours(0, 5), "255 128 0 Orange|44 255 7 Wrapped|1 2 3 |4 5 6 |7 8 9 A name of more t|");
    ASSERT_EQ(setup->fontCount, 3); // from index 001
    EXPECT_EQ(fonts(0, 3), "Helvetica=Bold|=Plain|Times=|");
}

TEST_F(ProfileSettings, PartialEntriesFileSourceAndListFlags)
{
    // A colour without its third number keeps the old name; no ColorTableSource is not FILE.
    use("[M]\nDriver=D\nColor[000]=(10, 20)\n", "M");
    copy_field(setup->colourNames[0], "Old");
    setup->colours[0][2] = 99;
    ASSERT_EQ(xLoadProfile(setup.get(), 0, 1), 1);
    EXPECT_EQ(setup->colourEntryCount, 1);
    EXPECT_EQ(colours(0, 1), "10 20 0 Old|");
    EXPECT_EQ(setup->colourTableLength, 1);
    EXPECT_EQ(setup->options.resolutionChoice, 2); // the options are set (Setup's escape test reads the key)

    use("[M]\nDriver=D\nColorTableSource=file\nColor[000]=(1, 2, 3)\n", "M");
    setup->fontCount = 7;
    ASSERT_EQ(xLoadProfile(setup.get(), 1, 1), 1);
    EXPECT_EQ(setup->fontCount, 0);
    EXPECT_EQ(setup->colourTableLength, 0); // "file" counts as FILE, whatever the colours
    setup->fontCount = 7, setup->colourEntryCount = 8; // flags off: the lists are not read at all
    ASSERT_EQ(xLoadProfile(setup.get(), 0, 0), 1);
    EXPECT_EQ(setup->fontCount, 7);
    EXPECT_EQ(setup->colourEntryCount, 8);
}

TEST_F(ProfileSettings, ListsStopAtTheRecordsCapacity)
{
    std::string text = "[M]\nDriver=D\nColorTableSource=PROFILE\n";
    for (int i = 0; i < 300; ++i)
        text += "Color[" + std::to_string(1000 + i).substr(1) + "]=(" + std::to_string(i) + ", 0, 0), \"c\"\n";
    for (int i = 1; i <= 40; ++i)
        text += "Font[" + std::to_string(1000 + i).substr(1) + "]=\"f" + std::to_string(i) + "\",\"1\",\"v\"\n";
    use(text, "M");
    ASSERT_EQ(xLoadProfile(setup.get(), 1, 1), 1);
    EXPECT_EQ(setup->colourEntryCount, 256);
    EXPECT_EQ(setup->colourTableLength, 256);
    EXPECT_EQ(colours(255, 256), "255 0 0 c|");
    EXPECT_EQ(setup->fontCount, 32);
    EXPECT_EQ(fonts(31, 32), "f32=v|");
}

// No driver empties the driver and changes nothing else.
TEST_F(ProfileSettings, DriverEntryMissing)
{
    use("[M]\nColorTableSource=PROFILE\nColor[000]=(1, 2, 3), \"x\"\n", "M");
    copy_field(setup->driverName, "KR_FPX.0");
    copy_field(setup->colourTableSource, "FILE");
    EXPECT_EQ(xLoadProfile(setup.get(), 1, 1), 0);
    EXPECT_STREQ(setup->driverName, "");
    EXPECT_STREQ(setup->colourTableSource, "FILE");
    EXPECT_EQ(setup->colourEntryCount, 0);
}

TEST_F(ProfileSettings, SetDriverModePrefersAsteriskKeysThenTheDriverName)
{
    use("[KR_FPX]\n~Mode=KR_FPX.7\nPlain=KR_FPX.5\nOther=kr_fpx.6\n*Star=KR_FPX.5\n"
        "[Plain]\nDriver=PLAIN\n"
        "[Other]\nDriver=OTHER\n[*Star]\nDriver=STAR\n",
        "Plain");
    EXPECT_EQ(SetDriverMode(5, setup.get()), 0);
    EXPECT_STREQ(setup->modeName, "*Star");
    EXPECT_STREQ(setup->driverName, "STAR");
    EXPECT_EQ(SetDriverMode(6, setup.get()), 0); // the driver name ignores case
    EXPECT_STREQ(setup->modeName, "Other");
    EXPECT_STREQ(setup->driverName, "OTHER");

    // "~Mode" is never a mode; without one the driver is named by number, cut inside its field; the mode stays.
    for (const int32_t number : {7, INT32_MIN}) {
        EXPECT_EQ(SetDriverMode(number, setup.get()), 1);
        EXPECT_EQ(setup->driverName, ("KR_FPX." + std::to_string(number)).substr(0, 15));
        EXPECT_STREQ(setup->modeName, "Other");
    }
    setup->profileName[0] = '\0';
    EXPECT_EQ(SetDriverMode(5, setup.get()), 1);
    EXPECT_STREQ(setup->driverName, "KR_FPX.5");
}

// The parsing itself is checked on the profiles above; here which profile, mode and driver are found.
TEST(ExampleProfile, CreateSetupByProfileModeAndLibraryName)
{
    const std::string sample = kxtest::read_file(kxtest::source_dir() + "/samples/libkx_fpx2.ini");
    ASSERT_NE(sample, "<missing>");
    const struct {
        const char *profile, *mode, *library; // library: the loader's path
        const char *mode_found, *driver;       // null: no setup
    } cases[] = {
        {"libkx_fpx2.ini", nullptr, "", "Photo", "KR_FPX.1"}, // no mode name reads "~Mode"
        {"", "", "/opt/x.y/libkx_fpx2.so", "Photo", "KR_FPX.1"},
        {"libkx_fpx2.ini", "Draft", "", "Draft", "KR_FPX.2"},
        {"libkx_fpx2.ini", "No Such Mode", "", "", nullptr}, // a mode without a driver fails the setup
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
        ASSERT_EQ(handle != nullptr, c.driver != nullptr);
        if (!handle)
            continue;
        auto *setup = static_cast<FilterSetup *>(GlobalLock(handle));
        EXPECT_EQ(setup->profileName, ini_dir.file("libkx_fpx2.ini"));
        EXPECT_STREQ(setup->modeName, c.mode_found);
        EXPECT_STREQ(setup->driverName, c.driver);
        EXPECT_EQ(xDestroySetup(handle), 0);
    }
}

} // namespace
