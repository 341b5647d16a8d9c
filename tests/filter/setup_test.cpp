// Setups as a host uses them: creation with no profile found (the defaults),
// destruction, the escapes with right and wrong sizes, the scratch options
// path of a record this filter did not make, and what ImportFile records.
#include <kxfpx/codes.h>
#include <kxfpx/filter.h>
#include <kxfpx/memory.h>
#include <kxfpx/output.h>
#include <kxfpx/profile.h>

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <sstream>
#include <string>

#include "filter/scoped_dll_name.h"
#include "scoped_env.h"

namespace {

// Runs every test where no profile can be found: INIDIR names an empty
// directory and the current directory is another empty one.
class Setup : public ::testing::Test {
protected:
    kxtest::TempDir ini_dir;
    kxtest::TempDir work_dir;
    kxtest::ScopedEnv env{"INIDIR", ini_dir.path().c_str()};
    kxtest::ScopedCwd cwd{work_dir.path()};
    HGLOBAL handle = nullptr;

    void SetUp() override
    {
        ASSERT_TRUE(cwd.ok());
        handle = xCreateSetup(0xABCDEF, nullptr, nullptr);
        ASSERT_NE(handle, nullptr);
    }
    void TearDown() override
    {
        if (handle) {
            EXPECT_EQ(xDestroySetup(handle), KX_OK);
        }
    }

    // The record behind the handle; blocks never move and locks are not
    // counted, so the pointer stays valid for the test.
    FilterSetup &record() { return *static_cast<FilterSetup *>(GlobalLock(handle)); }
};

TEST_F(Setup, DefaultsWhenNoProfileIsFound)
{
    EXPECT_EQ(hInst, 0xABCDEFu);
    EXPECT_STREQ(szIM_Filter, "KR_FPX");
    EXPECT_EQ(GlobalSize(handle), sizeof(FilterSetup));
    const FilterSetup &s = record();
    EXPECT_EQ(s.magic, 0xFFEEDDCCu);
    EXPECT_STREQ(s.driverName, "KR_FPX.0");
    EXPECT_STREQ(s.colourTableSource, "FILE");
    EXPECT_STREQ(s.modeName, "");
    EXPECT_STREQ(s.profileName, "");
    EXPECT_EQ(s.colourTableLength, 0);
    EXPECT_EQ(s.colourEntryCount, 0);
    EXPECT_EQ(s.fontCount, 0);
    EXPECT_STREQ(s.importPath, "");
    EXPECT_EQ(s.gdsf, nullptr);
    EXPECT_EQ(s.options.hostReadProc, nullptr);
    EXPECT_EQ(s.options.optionByte, 0u);
    // The profile read with an empty profile name answers its default.
    EXPECT_EQ(s.options.resolutionChoice, 2);
}

TEST_F(Setup, EmptyNamesAndALibraryNameAlsoGiveDefaults)
{
    // A profile name derived from the library's path, not found either.
    HGLOBAL other = nullptr;
    {
        kxtest::ScopedDllName dll_name("/opt/x/libkx_fpx2.so");
        other = xCreateSetup(0, "", "");
    }
    ASSERT_NE(other, nullptr);
    const FilterSetup *s = static_cast<FilterSetup *>(GlobalLock(other));
    EXPECT_STREQ(s->driverName, "KR_FPX.0");
    EXPECT_STREQ(s->profileName, "");
    EXPECT_EQ(xDestroySetup(other), KX_OK);
}

TEST_F(Setup, UseDefaultSettingsWritesTheFileSpec)
{
    FilterSetup &s = record();
    char file_spec[8];
    std::memset(file_spec, 0x7F, sizeof file_spec);
    std::strcpy(s.modeName, "SOMEMODE");
    std::strcpy(s.colourTableSource, "PROFILE");
    s.colourTableLength = 12;
    s.fileSpecBuffer = file_spec;
    EXPECT_EQ(xUseDefaultSettings(&s), 1);
    EXPECT_STREQ(file_spec, "*.*");
    EXPECT_EQ(file_spec[4], 0x7F);
    EXPECT_STREQ(s.modeName, "");
    EXPECT_STREQ(s.colourTableSource, "FILE");
    EXPECT_EQ(s.colourTableLength, 0);
    s.fileSpecBuffer = nullptr;
}

TEST_F(Setup, DestroyNullHandle) { EXPECT_EQ(xDestroySetup(nullptr), KX_BAD_HANDLE); }

TEST_F(Setup, EditSetupDoesNothing) { EXPECT_EQ(xEditSetup(), KX_OK); }

TEST_F(Setup, Escape81StoresThePointerOnlyWithSizeEight)
{
    int marker = 0;
    EXPECT_EQ(xEscapeSetup(handle, 81, 4, &marker, nullptr, 0), KX_OK);
    EXPECT_EQ(record().options.hostReadProc, nullptr);
    EXPECT_EQ(xEscapeSetup(handle, 81, 8, &marker, nullptr, 0), KX_OK);
    EXPECT_EQ(reinterpret_cast<void *>(record().options.hostReadProc), &marker);
    EXPECT_EQ(xEscapeSetup(handle, 81, 8, nullptr, nullptr, 0), KX_OK);
    EXPECT_EQ(record().options.hostReadProc, nullptr);
}

TEST_F(Setup, Escape82StoresTheByteZeroExtended)
{
    record().options.optionByte = ~0ull;
    const uint8_t value[8] = {0xAB, 0xCD, 0xEF, 1, 2, 3, 4, 5};
    EXPECT_EQ(xEscapeSetup(handle, 82, 16, const_cast<uint8_t *>(value), nullptr, 0), KX_OK);
    EXPECT_EQ(record().options.optionByte, ~0ull);
    EXPECT_EQ(xEscapeSetup(handle, 82, 8, const_cast<uint8_t *>(value), nullptr, 0), KX_OK);
    EXPECT_EQ(record().options.optionByte, 0xABu);
    // A null data pointer is not read.
    EXPECT_EQ(xEscapeSetup(handle, 82, 8, nullptr, nullptr, 0), KX_OK);
    EXPECT_EQ(record().options.optionByte, 0xABu);
}

TEST_F(Setup, Escape84SetsTheResolutionWhateverTheSize)
{
    for (int16_t value : {int16_t(0), int16_t(1), int16_t(-5), int16_t(0x7FFF)}) {
        int16_t data = value;
        EXPECT_EQ(xEscapeSetup(handle, 84, 0, &data, nullptr, 0), KX_OK);
        EXPECT_EQ(record().options.resolutionChoice, value);
    }
    EXPECT_EQ(xEscapeSetup(handle, 84, 2, nullptr, nullptr, 0), KX_OK);
    EXPECT_EQ(record().options.resolutionChoice, 0x7FFF);

    // The host's value may sit at an odd address; it is read as it stands
    // (in native byte order).
    alignas(2) unsigned char bytes[4] = {0xEE, 0, 0, 0xEE};
    const int16_t odd = -300;
    std::memcpy(bytes + 1, &odd, sizeof odd);
    EXPECT_EQ(xEscapeSetup(handle, 84, 2, bytes + 1, nullptr, 0), KX_OK);
    EXPECT_EQ(record().options.resolutionChoice, -300);
}

std::string read_file(const std::string &path)
{
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

TEST_F(Setup, Escape84WithFlagWritesZeroIntoTheModeSection)
{
    const std::string profile = work_dir.write("kx.ini", "[MODE]\nDriver=KR_FPX.1\n");
    FilterSetup &s = record();
    std::strcpy(s.modeName, "MODE");
    std::strcpy(s.profileName, profile.c_str());
    int16_t value = 1;
    EXPECT_EQ(xEscapeSetup(handle, 84, 2, &value, nullptr, 1), KX_OK);
    EXPECT_EQ(s.options.resolutionChoice, 1);
    EXPECT_EQ(GetPrivateProfileInt("MODE", "Not Defined", 9, profile.c_str()), 0);
    EXPECT_NE(read_file(profile).find("Not Defined=0"), std::string::npos);

    // qorSetOptions reads the value back from the same key.
    s.options.resolutionChoice = 2;
    EXPECT_EQ(qorSetOptions(&s), 1);
    EXPECT_EQ(s.options.resolutionChoice, 0);
}

TEST_F(Setup, Escape84WithoutFlagWritesNothing)
{
    const std::string text = "[MODE]\nDriver=KR_FPX.1\n";
    const std::string profile = work_dir.write("kx.ini", text);
    FilterSetup &s = record();
    std::strcpy(s.modeName, "MODE");
    std::strcpy(s.profileName, profile.c_str());
    int16_t value = 0;
    EXPECT_EQ(xEscapeSetup(handle, 84, 2, &value, nullptr, 0), KX_OK);
    EXPECT_EQ(s.options.resolutionChoice, 0);
    EXPECT_EQ(read_file(profile), text);
}

TEST_F(Setup, OtherEscapesAndNullHandle)
{
    const FilterOptions before = record().options;
    int data = 0;
    for (int32_t code : {0, 42, 43, 80, 83, 85, -1}) {
        SCOPED_TRACE(code);
        EXPECT_EQ(xEscapeSetup(handle, code, 8, &data, &data, 1), KX_OK);
    }
    EXPECT_EQ(std::memcmp(&before, &record().options, sizeof before), 0);
    EXPECT_EQ(xEscapeSetup(nullptr, 81, 8, &data, nullptr, 0), KX_OK);
    EXPECT_EQ(EscapeSetup(handle, 99, 0, nullptr, nullptr, 0), KX_OK);
}

TEST_F(Setup, ForeignRecordUsesScratchOptions)
{
    // A record whose magic does not match keeps its own options untouched:
    // the escape works on a scratch block handed to and from EscapeSetup.
    const std::string text = "[MODE]\n";
    const std::string profile = work_dir.write("kx.ini", text);
    FilterSetup &s = record();
    s.magic = 0x12345678;
    std::strcpy(s.modeName, "MODE");
    std::strcpy(s.profileName, profile.c_str());
    const FilterOptions before = s.options;

    int marker = 0;
    int16_t resolution = 1;
    const uint8_t byte = 9;
    EXPECT_EQ(xEscapeSetup(handle, 81, 8, &marker, nullptr, 0), KX_OK);
    EXPECT_EQ(xEscapeSetup(handle, 82, 8, const_cast<uint8_t *>(&byte), nullptr, 0), KX_OK);
    EXPECT_EQ(xEscapeSetup(handle, 84, 2, &resolution, nullptr, 1), KX_OK);
    EXPECT_EQ(std::memcmp(&before, &s.options, sizeof before), 0);
    // Escape 84 writes the profile only for a record of this filter.
    EXPECT_EQ(read_file(profile), text);
}

TEST_F(Setup, ImportFileRecordsTheCallAndFailsUntilTheDriverExists)
{
    FilterSetup &s = record();
    std::strcpy(s.deviceString2, "keep me");
    s.gdsf = reinterpret_cast<GdsfHandle *>(&s);
    s.progressPercent = 55;
    HostRecord host{};
    InterpretStructure interp{};
    interp.setup = handle;
    interp.hostValue = 0x1122334455667788ull;
    interp.deviceString1 = "first";
    interp.deviceString3 = "third";
    interp.hostRecord = &host;
    interp.fatSectorLimit = 0xFFFFFFFF00000123ull;

    EXPECT_EQ(ImportFile(0, "dev", "out.png", "in.fpx", &interp), KX_CANNOT_OPEN);
    EXPECT_STREQ(s.deviceName, "dev");
    EXPECT_STREQ(s.outputName, "out.png");
    EXPECT_STREQ(s.importPath, "in.fpx");
    EXPECT_STREQ(s.deviceString1, "first");
    EXPECT_STREQ(s.deviceString2, "keep me");
    EXPECT_STREQ(s.deviceString3, "third");
    EXPECT_EQ(s.hostRecord, &host);
    EXPECT_EQ(s.hostValue, 0x1122334455667788ull);
    EXPECT_EQ(s.interpretStructure, &interp);
    EXPECT_EQ(s.fatSectorLimit, 0x123);
    EXPECT_EQ(s.progressFirst, 0);
    EXPECT_EQ(s.progressLast, 100);
    EXPECT_EQ(s.progressPercent, 0);
    EXPECT_EQ(s.gdsf, nullptr);

    // Names longer than their fields end inside them.
    const std::string long_name(300, 'n');
    EXPECT_EQ(ImportFile(0, long_name.c_str(), nullptr, "", &interp), KX_CANNOT_OPEN);
    EXPECT_EQ(std::string(s.deviceName), long_name.substr(0, sizeof s.deviceName - 1));
    EXPECT_STREQ(s.outputName, "");

    EXPECT_EQ(ImportFile(0, "d", "o", "i", nullptr), KX_CANNOT_OPEN);
    InterpretStructure no_setup{};
    EXPECT_EQ(ImportFile(0, "d", "o", "i", &no_setup), KX_CANNOT_OPEN);
}

TEST(GetFileInfo, ClearsTheRecordWithinItsSize)
{
    unsigned char raw[sizeof(FileInfo) + 8];
    std::memset(raw, 0x5A, sizeof raw);
    FileInfo *info = reinterpret_cast<FileInfo *>(raw);
    info->size = 20;
    EXPECT_EQ(GetFileInfo("missing.fpx", info, nullptr, nullptr), KX_MISSING_STRUCTURE);
    EXPECT_EQ(info->size, 20);
    for (size_t i = 4; i < 20; i++)
        EXPECT_EQ(raw[i], 0) << i;
    EXPECT_EQ(raw[20], 0x5A);

    info->size = sizeof(FileInfo);
    EXPECT_EQ(GetFileInfo("missing.fpx", info, nullptr, nullptr), KX_MISSING_STRUCTURE);
    EXPECT_EQ(info->setFlags, 0u);
    EXPECT_EQ(raw[sizeof(FileInfo)], 0x5A);
    EXPECT_EQ(GetFileInfo("missing.fpx", nullptr, nullptr, nullptr), KX_MISSING_STRUCTURE);
}

} // namespace
