// Profile-driven settings: xLoadProfile's driver, colour and font lists,
// SetDriverMode's choice of mode, and xCreateSetup on the example profile
// shipped in samples/.
#include <kxfpx/filter.h>
#include <kxfpx/memory.h>
#include <kxfpx/strings.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "filter/scoped_dll_name.h"
#include "port/field_copy.h"
#include "profile/profile_files.h"
#include "scoped_env.h"

namespace {

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
        kxtest::write_bytes(dir.file("p.ini"), text);
        kxfpx::port::copy_field(setup->profileName, dir.file("p.ini").c_str());
        kxfpx::port::copy_field(setup->modeName, mode);
    }
};

TEST_F(ProfileSettings, LoadsDriverColoursFontsAndOption)
{
    use("[M]\n"
        "Driver=KR_FPX.1\n"
        "ColorTableSource=PROFILE\n"
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

    ASSERT_EQ(setup->colourEntryCount, 5);   // ends at the missing index 005
    EXPECT_EQ(setup->colourTableLength, 5);
    const struct {
        uint8_t r, g, b;
        const char *name;
    } colours[] = {
        {255, 128, 0, "Orange"},
        {44, 255, 7, "Wrapped"},     // low bytes of 300 and -1
        {1, 2, 3, ""},               // nothing between ')' and '"': the name is lost
        {4, 5, 6, ""},
        {7, 8, 9, "A name of more t"},
    };
    for (int i = 0; i < 5; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(setup->colours[i][0], colours[i].r);
        EXPECT_EQ(setup->colours[i][1], colours[i].g);
        EXPECT_EQ(setup->colours[i][2], colours[i].b);
        EXPECT_STREQ(setup->colourNames[i], colours[i].name);
    }

    ASSERT_EQ(setup->fontCount, 3);   // from index 001
    EXPECT_STREQ(setup->fontNames[0], "Helvetica");
    EXPECT_STREQ(setup->fontValues[0], "Bold");
    EXPECT_STREQ(setup->fontNames[1], "");
    EXPECT_STREQ(setup->fontValues[1], "Plain");
    EXPECT_STREQ(setup->fontNames[2], "Times");
    EXPECT_STREQ(setup->fontValues[2], "");
    EXPECT_EQ(setup->options.resolutionChoice, 1);
}

TEST_F(ProfileSettings, MissingNumberKeepsTheOldName)
{
    use("[M]\nDriver=D\nColor[000]=(10, 20)\n", "M");
    kxfpx::port::copy_field(setup->colourNames[0], "Old");
    setup->colours[0][2] = 99;
    ASSERT_EQ(xLoadProfile(setup.get(), 0, 1), 1);
    EXPECT_EQ(setup->colourEntryCount, 1);
    EXPECT_EQ(setup->colours[0][0], 10);
    EXPECT_EQ(setup->colours[0][1], 20);
    EXPECT_EQ(setup->colours[0][2], 0);
    EXPECT_STREQ(setup->colourNames[0], "Old");
    // Without a ColorTableSource the source is empty, which is not FILE.
    EXPECT_EQ(setup->colourTableLength, 1);
    EXPECT_EQ(setup->options.resolutionChoice, 2);
}

TEST_F(ProfileSettings, ListsStartAtTheirFirstIndex)
{
    use("[M]\nDriver=D\nColorTableSource=file\nColor[001]=(1, 2, 3), \"x\"\n"
        "Font[002]=\"a\",\"b\",\"c\"\n",
        "M");
    setup->fontCount = 7;
    ASSERT_EQ(xLoadProfile(setup.get(), 1, 1), 1);
    EXPECT_EQ(setup->colourEntryCount, 0);
    EXPECT_EQ(setup->fontCount, 0);
    EXPECT_EQ(setup->colourTableLength, 0);   // "file" counts as FILE

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
    EXPECT_EQ(setup->colours[255][0], 255);
    EXPECT_STREQ(setup->colourNames[255], "c255");
    EXPECT_EQ(setup->fontCount, 32);
    EXPECT_STREQ(setup->fontNames[31], "f32");
    EXPECT_STREQ(setup->fontValues[31], "v32");
}

TEST_F(ProfileSettings, NoDriverEmptiesTheDriverAndChangesNothingElse)
{
    use("[M]\nColorTableSource=PROFILE\nColor[000]=(1, 2, 3), \"x\"\n", "M");
    kxfpx::port::copy_field(setup->driverName, "KR_FPX.0");
    kxfpx::port::copy_field(setup->colourTableSource, "FILE");
    EXPECT_EQ(xLoadProfile(setup.get(), 1, 1), 0);
    EXPECT_STREQ(setup->driverName, "");
    EXPECT_STREQ(setup->colourTableSource, "FILE");
    EXPECT_EQ(setup->colourEntryCount, 0);
}

TEST_F(ProfileSettings, LongDriverStaysInsideItsField)
{
    use("[M]\nDriver=ABCDEFGHIJKLMNOPQRSTUVWXYZ\nColorTableSource=ABCDEFGHIJKLMNOP\n", "M");
    std::memset(setup->driverName, 'z', sizeof setup->driverName);
    ASSERT_EQ(xLoadProfile(setup.get(), 0, 0), 1);
    EXPECT_STREQ(setup->driverName, "ABCDEFGHIJKLM");
    EXPECT_STREQ(setup->colourTableSource, "ABCDEFGHIJ");
}

const char kModes[] = "[KR_FPX]\n"
                      "~Mode=KR_FPX.7\n"
                      "Plain=KR_FPX.5\n"
                      "Other=kr_fpx.6\n"
                      "*Star=KR_FPX.5\n"
                      "[Plain]\nDriver=PLAIN\n"
                      "[Other]\nDriver=OTHER\nColor[000]=(1, 1, 1), \"one\"\n"
                      "[*Star]\nDriver=STAR\nNot Defined=0\n";

TEST_F(ProfileSettings, SetDriverModePrefersAsteriskKeys)
{
    use(kModes, "");
    EXPECT_EQ(SetDriverMode(5, setup.get()), 0);
    EXPECT_STREQ(setup->modeName, "*Star");
    EXPECT_STREQ(setup->driverName, "STAR");
    EXPECT_EQ(setup->options.resolutionChoice, 0);

    EXPECT_EQ(SetDriverMode(6, setup.get()), 0);   // the driver name ignores case
    EXPECT_STREQ(setup->modeName, "Other");
    EXPECT_STREQ(setup->driverName, "OTHER");
    EXPECT_EQ(setup->colourEntryCount, 1);
}

TEST_F(ProfileSettings, SetDriverModeFallsBackToTheDriverName)
{
    use(kModes, "Plain");
    // "~Mode" is never a mode, whatever its value.
    EXPECT_EQ(SetDriverMode(7, setup.get()), 1);
    EXPECT_STREQ(setup->driverName, "KR_FPX.7");
    EXPECT_STREQ(setup->modeName, "Plain");
    EXPECT_EQ(SetDriverMode(3, setup.get()), 1);
    EXPECT_STREQ(setup->driverName, "KR_FPX.3");
    // A driver number too long for the field is cut inside it.
    EXPECT_EQ(SetDriverMode(-2147483647 - 1, setup.get()), 1);
    EXPECT_STREQ(setup->driverName, "KR_FPX.-2147483");

    setup->profileName[0] = '\0';
    EXPECT_EQ(SetDriverMode(5, setup.get()), 1);
    EXPECT_STREQ(setup->driverName, "KR_FPX.5");
}

class ExampleProfile : public ::testing::Test {
protected:
    kxtest::TempDir dir;
    kxtest::ScopedCwd cwd{dir.path()};
    std::string sample = kxtest::read_bytes(std::string(KXFPX_SOURCE_DIR) + "/samples/libkx_fpx2.ini");
    kxtest::ScopedEnv ini_dir{"INIDIR", dir.path().c_str()};

    void SetUp() override
    {
        ASSERT_NE(sample, "<missing>");
        kxtest::write_bytes(dir.file("libkx_fpx2.ini"), sample);
    }
};

TEST_F(ExampleProfile, DefaultModeComesFromTildeMode)
{
    HGLOBAL handle = xCreateSetup(0, "libkx_fpx2.ini", nullptr);
    ASSERT_NE(handle, nullptr);
    const auto *setup = static_cast<FilterSetup *>(GlobalLock(handle));
    EXPECT_EQ(std::string(setup->profileName), dir.file("libkx_fpx2.ini"));
    EXPECT_STREQ(setup->modeName, "Photo");
    EXPECT_STREQ(setup->driverName, "KR_FPX.1");
    EXPECT_STREQ(setup->colourTableSource, "PROFILE");
    EXPECT_EQ(setup->colourEntryCount, 5);
    EXPECT_EQ(setup->colourTableLength, 5);
    EXPECT_EQ(setup->colours[2][0], 255);
    EXPECT_STREQ(setup->colourNames[2], "Red");
    EXPECT_EQ(setup->fontCount, 2);
    EXPECT_STREQ(setup->fontNames[1], "Times");
    EXPECT_STREQ(setup->fontValues[1], "Italic");
    EXPECT_EQ(setup->options.resolutionChoice, 2);
    GlobalUnlock(handle);
    xDestroySetup(handle);
}

TEST_F(ExampleProfile, NameDerivedFromTheLibraryPath)
{
    // No name from the host: the library's file name without its directory
    // and last extension, plus ".ini", looked for in INIDIR.
    HGLOBAL handle = nullptr;
    {
        kxtest::ScopedDllName dll_name("/opt/x.y/lib/libkx_fpx2.so");
        handle = xCreateSetup(0, "", "");
    }
    ASSERT_NE(handle, nullptr);
    const auto *setup = static_cast<FilterSetup *>(GlobalLock(handle));
    EXPECT_EQ(std::string(setup->profileName), dir.file("libkx_fpx2.ini"));
    EXPECT_STREQ(setup->modeName, "Photo");   // an empty mode name reads "~Mode"
    EXPECT_STREQ(setup->driverName, "KR_FPX.1");
    GlobalUnlock(handle);
    xDestroySetup(handle);
}

TEST_F(ExampleProfile, NamedProfileThatIsMissingGivesDefaults)
{
    HGLOBAL handle = xCreateSetup(0, "other.ini", "Draft");
    ASSERT_NE(handle, nullptr);
    const auto *setup = static_cast<FilterSetup *>(GlobalLock(handle));
    EXPECT_STREQ(setup->profileName, "");
    EXPECT_STREQ(setup->modeName, "");
    EXPECT_STREQ(setup->driverName, "KR_FPX.0");
    EXPECT_STREQ(setup->colourTableSource, "FILE");
    EXPECT_EQ(setup->colourEntryCount, 0);
    EXPECT_EQ(setup->options.resolutionChoice, 2);
    GlobalUnlock(handle);
    xDestroySetup(handle);
}

TEST_F(ExampleProfile, NamedModeAndDriverSwitch)
{
    HGLOBAL handle = xCreateSetup(0, "libkx_fpx2.ini", "Draft");
    ASSERT_NE(handle, nullptr);
    auto *setup = static_cast<FilterSetup *>(GlobalLock(handle));
    EXPECT_STREQ(setup->driverName, "KR_FPX.2");
    EXPECT_EQ(setup->colourEntryCount, 2);
    EXPECT_EQ(setup->colourTableLength, 0);   // ColorTableSource=FILE
    EXPECT_EQ(setup->options.resolutionChoice, 0);

    EXPECT_EQ(SetDriverMode(1, setup), 0);
    EXPECT_STREQ(setup->modeName, "Photo");
    EXPECT_EQ(setup->colourTableLength, 5);
    GlobalUnlock(handle);
    xDestroySetup(handle);
}

TEST_F(ExampleProfile, ModeWithoutDriverFailsTheSetup)
{
    EXPECT_EQ(xCreateSetup(0, "libkx_fpx2.ini", "KR_FPX"), nullptr);
    EXPECT_EQ(xCreateSetup(0, "libkx_fpx2.ini", "No Such Mode"), nullptr);
}

TEST_F(ExampleProfile, Escape84WritesIntoTheModeSection)
{
    HGLOBAL handle = xCreateSetup(0, "libkx_fpx2.ini", "Draft");
    ASSERT_NE(handle, nullptr);
    int16_t value = 1;
    EXPECT_EQ(xEscapeSetup(handle, 84, 2, &value, nullptr, 1), 0);
    xDestroySetup(handle);
    // Only the Draft section's "Not Defined" changed, to "0" whatever was set.
    std::string expected = sample;
    const auto draft = expected.find("[Draft]");
    const auto at = expected.find("Not Defined=0", draft);
    ASSERT_NE(at, std::string::npos);
    EXPECT_EQ(kxtest::read_bytes(dir.file("libkx_fpx2.ini")), expected);

    handle = xCreateSetup(0, "libkx_fpx2.ini", "Photo");
    ASSERT_NE(handle, nullptr);
    EXPECT_EQ(xEscapeSetup(handle, 84, 2, &value, nullptr, 1), 0);
    xDestroySetup(handle);
    const auto photo = expected.find("Not Defined=2");
    expected.replace(photo, std::strlen("Not Defined=2"), "Not Defined=0");
    EXPECT_EQ(kxtest::read_bytes(dir.file("libkx_fpx2.ini")), expected);
}

} // namespace
