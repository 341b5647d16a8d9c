// Setups without a profile: defaults, escapes, foreign records, ImportFile's names, GetFileInfo's short record.
#include <kxfpx/codes.h>
#include <kxfpx/filter.h>
#include <kxfpx/memory.h>
#include <kxfpx/output.h>
#include <kxfpx/profile.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "scoped_env.h"

namespace {

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
    void TearDown() override { EXPECT_EQ(xDestroySetup(handle), KX_OK); }

    // Blocks never move and locks are not counted: the pointer stays valid.
    FilterSetup &record() { return *static_cast<FilterSetup *>(GlobalLock(handle)); }
    int32_t escape(int32_t code, int32_t size, const void *data, int32_t flag = 0)
    {
        return xEscapeSetup(handle, code, size, const_cast<void *>(data), nullptr, flag);
    }
    // A mode section in a profile of the working directory.
    std::string use_profile(const std::string &text)
    {
        const std::string profile = work_dir.write("kx.ini", text);
        std::strcpy(record().modeName, "MODE");
        std::strcpy(record().profileName, profile.c_str());
        return profile;
    }
};

TEST_F(Setup, DefaultsWhenNoProfileIsFound)
{
    EXPECT_STREQ(record().driverName, "KR_FPX.0");
    EXPECT_STREQ(record().colourTableSource, "FILE");
    EXPECT_EQ(record().options.resolutionChoice, 2);
    EXPECT_EQ(xDestroySetup(nullptr), KX_BAD_HANDLE);
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

TEST_F(Setup, EscapesStoreTheirValuesOnlyWithTheRightSize)
{
    FilterOptions &o = record().options;
    int marker = 0;
    o.optionByte = ~0ull;
    // 81: the pointer, with size 8 only (null clears it); 82: the first byte, zero-extended, with size 8 only,
    // and null is not read.
    const uint8_t value[8] = {0xAB, 0xCD, 0xEF, 1, 2, 3, 4, 5};
    const struct {
        int32_t code, size;
        const void *data, *proc;
        uint64_t byte;
    } steps[] = {
        {81, 4, &marker, nullptr, ~0ull}, {81, 8, &marker, &marker, ~0ull}, {81, 8, nullptr, nullptr, ~0ull},
        {82, 16, value, nullptr, ~0ull},  {82, 8, value, nullptr, 0xAB},     {82, 8, nullptr, nullptr, 0xAB},
    };
    for (const auto &step : steps) {
        EXPECT_EQ(escape(step.code, step.size, step.data), KX_OK);
        EXPECT_EQ(reinterpret_cast<const void *>(o.hostReadProc), step.proc) << step.code << " " << step.size;
        EXPECT_EQ(o.optionByte, step.byte) << step.code << " " << step.size;
    }

    // 84: whatever the size, a signed 16-bit value read where it stands (an odd address once failed); null is skipped.
    alignas(2) unsigned char bytes[4] = {0xEE, 0, 0, 0xEE};
    for (int16_t v : {int16_t(1), int16_t(-300)}) {
        std::memcpy(bytes + 1, &v, sizeof v);
        EXPECT_EQ(escape(84, v == 1 ? 2 : 0, bytes + 1), KX_OK);
        EXPECT_EQ(o.resolutionChoice, v);
    }
    EXPECT_EQ(escape(84, 2, nullptr), KX_OK);
    EXPECT_EQ(o.resolutionChoice, -300);

    // Other codes change nothing; a null handle is no error.
    const FilterOptions before = o;
    for (int32_t code : {0, 80, 83, 85, -1})
        EXPECT_EQ(xEscapeSetup(handle, code, 8, &marker, &marker, 1), KX_OK) << code;
    EXPECT_EQ(std::memcmp(&before, &o, sizeof before), 0);
    EXPECT_EQ(xEscapeSetup(nullptr, 81, 8, &marker, nullptr, 0), KX_OK);
}

TEST_F(Setup, Escape84WithTheFlagWritesZeroIntoTheModeSection)
{
    const std::string profile = use_profile("[MODE]\nDriver=KR_FPX.1\n");
    const int16_t zero = 0, one = 1;
    EXPECT_EQ(escape(84, 2, &zero), KX_OK); // without the flag: nothing written
    EXPECT_EQ(kxtest::read_file(profile), "[MODE]\nDriver=KR_FPX.1\n");
    EXPECT_EQ(escape(84, 2, &one, 1), KX_OK);
    EXPECT_EQ(record().options.resolutionChoice, 1);
    EXPECT_EQ(kxtest::read_file(profile), "[MODE]\nDriver=KR_FPX.1\nNot Defined=0\n");
    // qorSetOptions reads the value back from the same key.
    EXPECT_EQ(qorSetOptions(&record()), 1);
    EXPECT_EQ(record().options.resolutionChoice, 0);
}

TEST_F(Setup, ForeignRecordUsesScratchOptions)
{
    // A record of another magic keeps its options; escape 84 writes no profile for it.
    const std::string profile = use_profile("[MODE]\n");
    record().magic = 0x12345678;
    const FilterOptions before = record().options;
    int marker = 0;
    const int16_t resolution = 1;
    const uint8_t byte = 9;
    EXPECT_EQ(escape(81, 8, &marker), KX_OK);
    EXPECT_EQ(escape(82, 8, &byte), KX_OK);
    EXPECT_EQ(escape(84, 2, &resolution, 1), KX_OK);
    EXPECT_EQ(std::memcmp(&before, &record().options, sizeof before), 0);
    EXPECT_EQ(kxtest::read_file(profile), "[MODE]\n");
}

// Names longer than their fields end inside them; without an interpret structure or a setup nothing is imported.
TEST_F(Setup, ImportFileCutsLongNamesAndNeedsItsRecords)
{
    InterpretStructure interp{};
    interp.setup = handle;
    const std::string long_name(300, 'n');
    EXPECT_EQ(ImportFile(0, long_name.c_str(), nullptr, "in.fpx", &interp), KX_CANNOT_OPEN);
    EXPECT_EQ(record().deviceName, long_name.substr(0, sizeof record().deviceName - 1));
    EXPECT_STREQ(record().outputName, "");
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
    EXPECT_EQ(std::string(raw + 4, raw + 21), std::string(16, '\0') + '\x5A');
    EXPECT_EQ(GetFileInfo("missing.fpx", nullptr, nullptr, nullptr), KX_MISSING_STRUCTURE);
}

} // namespace
