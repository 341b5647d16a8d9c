// The family's loader against a small library of ours that hands out its own
// export rows: names resolved through the rows only, "szDLLName" receiving
// the load path, and "UnLoadOutput" deciding whether the library is closed
// (observed with dlopen(RTLD_NOLOAD)). Also the real filter's own rows.
#include <kxfpx/sharedlib.h>

#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>

#include "scoped_env.h"
#include "support.h"

namespace {

namespace fs = std::filesystem;

using EchoProc = int32_t (*)(int32_t);
using TwinProc = int32_t (*)();
using SetUnloadAnswerProc = void (*)(int32_t answer, int32_t *calls, SharedLib **record);

const std::string kRowsLib = std::string(KXPORT_TESTLIB_DIR) + "/libkxport_rows.so";
const std::string kBareLib = std::string(KXPORT_TESTLIB_DIR) + "/libkxport_bare.so";

bool is_loaded(const std::string &path)
{
    void *handle = dlopen(path.c_str(), RTLD_LAZY | RTLD_NOLOAD);
    if (!handle)
        return false;
    dlclose(handle);
    return true;
}

// A private copy of a library: a different file is a different object for
// the dynamic loader, so what one test leaves loaded cannot disturb another.
std::string private_copy(const kxtest::TempDir &dir, const std::string &library,
                         const std::string &name)
{
    const std::string copy = dir.file(name);
    fs::copy_file(library, copy, fs::copy_options::overwrite_existing);
    return copy;
}

TEST(UnxLoadSharedLib, ResolvesNamesThroughTheRowsOnly)
{
    SharedLib *lib = UnxLoadSharedLib(kRowsLib.c_str());
    ASSERT_NE(lib, nullptr);
    EXPECT_NE(lib->dlHandle, nullptr);
    EXPECT_EQ(lib->rowCount, 8);

    auto echo = reinterpret_cast<EchoProc>(UnxGetProcAddr(lib, "Echo"));
    auto echo_upper = reinterpret_cast<EchoProc>(UnxGetProcAddr(lib, "ECHO"));
    ASSERT_NE(echo, nullptr);
    ASSERT_NE(echo_upper, nullptr);
    EXPECT_EQ(echo(40), 41);
    EXPECT_EQ(echo_upper(40), 42);

    // Case matters; only whole names match; the first of two equal rows wins.
    EXPECT_EQ(UnxGetProcAddr(lib, "echo"), nullptr);
    EXPECT_EQ(UnxGetProcAddr(lib, "eCHO"), nullptr);
    EXPECT_EQ(UnxGetProcAddr(lib, "Ech"), nullptr);
    EXPECT_EQ(UnxGetProcAddr(lib, "Echo "), nullptr);
    EXPECT_EQ(UnxGetProcAddr(lib, ""), nullptr);
    EXPECT_EQ(UnxGetProcAddr(lib, nullptr), nullptr);
    auto twin = reinterpret_cast<TwinProc>(UnxGetProcAddr(lib, "Twin"));
    ASSERT_NE(twin, nullptr);
    EXPECT_EQ(twin(), 1);

    // fltLoadPointers is looked up in the symbol table, but it is not a row.
    EXPECT_EQ(UnxGetProcAddr(lib, "fltLoadPointers"), nullptr);

    UnxFreeSharedLib(lib);
}

TEST(UnxLoadSharedLib, WritesTheLoadPathIntoTheNameRow)
{
    kxtest::TempDir dir;
    const std::string copy = private_copy(dir, kRowsLib, "name_row.so");
    SharedLib *lib = UnxLoadSharedLib(copy.c_str());
    ASSERT_NE(lib, nullptr);
    const char *dll_name = static_cast<const char *>(UnxGetProcAddr(lib, "szDLLName"));
    ASSERT_NE(dll_name, nullptr);
    EXPECT_STREQ(dll_name, copy.c_str());
    UnxFreeSharedLib(lib);
}

TEST(UnxLoadSharedLib, PathTooLongForTheNameRowLeavesItAlone)
{
    // A path of 260 characters or more does not fit the row's 260-byte
    // buffer with its NUL; it is not written (nor cut into a wrong name).
    kxtest::TempDir dir;
    std::string deep = dir.path();
    while (deep.size() < 300)
        deep += "/" + std::string(60, 'd');
    fs::create_directories(deep);
    const std::string copy = deep + "/long.so";
    fs::copy_file(kRowsLib, copy);
    ASSERT_GE(copy.size(), 260u);
    SharedLib *lib = UnxLoadSharedLib(copy.c_str());
    ASSERT_NE(lib, nullptr);
    const char *dll_name = static_cast<const char *>(UnxGetProcAddr(lib, "szDLLName"));
    ASSERT_NE(dll_name, nullptr);
    EXPECT_STREQ(dll_name, "");
    UnxFreeSharedLib(lib);
}

TEST(UnxLoadSharedLib, LibraryWithoutLoadPointersExposesNoNames)
{
    SharedLib *lib = UnxLoadSharedLib(kBareLib.c_str());
    ASSERT_NE(lib, nullptr);
    EXPECT_EQ(lib->rowCount, 0);
    EXPECT_EQ(lib->rows, nullptr);
    // "Echo" is in its dynamic symbol table, which the loader never reads.
    EXPECT_NE(dlsym(lib->dlHandle, "Echo"), nullptr);
    EXPECT_EQ(UnxGetProcAddr(lib, "Echo"), nullptr);
    UnxFreeSharedLib(lib);
    EXPECT_FALSE(is_loaded(kBareLib));
}

TEST(UnxLoadSharedLib, FailuresGiveNull)
{
    kxtest::TempDir dir;
    const std::string not_a_library = dir.write("not_a_library.so", "plain text\n");
    EXPECT_EQ(UnxLoadSharedLib(dir.file("missing.so").c_str()), nullptr);
    EXPECT_EQ(UnxLoadSharedLib(not_a_library.c_str()), nullptr);
    EXPECT_EQ(UnxLoadSharedLib(nullptr), nullptr);
}

TEST(UnxGetProcAddr, CountOfZeroOrLessExposesNothing)
{
    SharedLib *lib = UnxLoadSharedLib(kRowsLib.c_str());
    ASSERT_NE(lib, nullptr);
    const int16_t count = lib->rowCount;
    for (int16_t bad : {int16_t(0), int16_t(-1), int16_t(-32768)}) {
        lib->rowCount = bad;
        EXPECT_EQ(UnxGetProcAddr(lib, "Echo"), nullptr) << bad;
    }
    lib->rowCount = 1;  // only the unnamed first row is visible
    EXPECT_EQ(UnxGetProcAddr(lib, "Echo"), nullptr);
    lib->rowCount = 2;
    EXPECT_NE(UnxGetProcAddr(lib, "Echo"), nullptr);
    lib->rowCount = count;
    EXPECT_EQ(UnxGetProcAddr(nullptr, "Echo"), nullptr);
    UnxFreeSharedLib(lib);
}

// "UnLoadOutput" answers in its low 16 bits, read as signed: positive keeps
// the library loaded (only the record is freed), anything else closes it.
TEST(UnxFreeSharedLib, UnloadAnswerDecidesWhetherTheLibraryCloses)
{
    const struct {
        int64_t answer;
        bool stays_loaded;
    } cases[] = {
        {1, true},
        {0, false},
        {-1, false},
        {0x7FFF, true},
        {0x8000, false},         // low 16 bits are -32768
        {0x10000, false},        // low 16 bits are 0
        {0x7FFF0000, false},
        {int32_t(0xFFFF0001u), true},  // negative as 32 bits, 1 in the low 16
        {int32_t(0x80000002u), true},
    };
    kxtest::TempDir dir;
    int index = 0;
    for (const auto &c : cases) {
        SCOPED_TRACE(c.answer);
        const std::string copy =
            private_copy(dir, kRowsLib, "unload_" + std::to_string(index++) + ".so");
        SharedLib *lib = UnxLoadSharedLib(copy.c_str());
        ASSERT_NE(lib, nullptr);
        auto set_answer = reinterpret_cast<SetUnloadAnswerProc>(UnxGetProcAddr(lib, "SetUnloadAnswer"));
        ASSERT_NE(set_answer, nullptr);
        int32_t calls = 0;
        SharedLib *seen = nullptr;
        set_answer(static_cast<int32_t>(c.answer), &calls, &seen);
        ASSERT_TRUE(is_loaded(copy));

        const SharedLib *record = lib;
        UnxFreeSharedLib(lib);
        EXPECT_EQ(calls, 1);
        EXPECT_EQ(seen, record);  // called with the loader's record
        EXPECT_EQ(is_loaded(copy), c.stays_loaded);

        if (c.stays_loaded) {
            // Exactly one reference was kept: drop it, then nothing is left.
            void *handle = dlopen(copy.c_str(), RTLD_LAZY | RTLD_NOLOAD);
            ASSERT_NE(handle, nullptr);
            dlclose(handle);
            dlclose(handle);
            EXPECT_FALSE(is_loaded(copy));
        }
    }
}

TEST(UnxFreeSharedLib, NullIsIgnored)
{
    UnxFreeSharedLib(nullptr);
}

TEST(UnxLoadSharedLib, LoadsTheFilterThroughItsExportTable)
{
    kxtest::TempDir dir;
    const std::string filter = kxtest::bin_dir() + "/libkx_fpx2.so";
    SharedLib *lib = UnxLoadSharedLib(filter.c_str());
    ASSERT_NE(lib, nullptr);
    EXPECT_EQ(lib->rowCount, 8);
    for (const char *name : {"ImportFile", "CreateSetup", "DestroySetup", "EditSetup",
                             "EscapeSetup", "QORGetFilterVersion", "GetFileInfo"})
        EXPECT_NE(UnxGetProcAddr(lib, name), nullptr) << name;
    EXPECT_EQ(UnxGetProcAddr(lib, "importfile"), nullptr);
    EXPECT_EQ(UnxGetProcAddr(lib, "xCreateSetup"), nullptr);  // a symbol, not a row name
    const char *dll_name = static_cast<const char *>(UnxGetProcAddr(lib, "szDLLName"));
    ASSERT_NE(dll_name, nullptr);
    EXPECT_STREQ(dll_name, filter.c_str());
    UnxFreeSharedLib(lib);
}

} // namespace
