// The family's loader against testlib/kxport_rows.c, a library handing out its own export rows.
#include <kxfpx/sharedlib.h>

#include <dlfcn.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "support.h"

namespace {

namespace fs = std::filesystem;

using IntProc = int32_t (*)(int32_t);
using SetUnloadAnswerProc = void (*)(int32_t answer, int32_t *calls, SharedLib **record);

const std::string kRowsLib = std::string(KXPORT_TESTLIB_DIR) + "/libkxport_rows.so";
const std::string kBareLib = std::string(KXPORT_TESTLIB_DIR) + "/libkxport_bare.so";

bool is_loaded(const std::string &path)
{
    void *handle = dlopen(path.c_str(), RTLD_LAZY | RTLD_NOLOAD);
    return handle && dlclose(handle) == 0;
}

TEST(UnxLoadSharedLib, ResolvesNamesThroughTheRowsOnly)
{
    SharedLib *lib = UnxLoadSharedLib(kRowsLib.c_str());
    ASSERT_NE(lib, nullptr);
    EXPECT_NE(lib->dlHandle, nullptr);
    EXPECT_EQ(lib->rowCount, 8);
    auto echo = reinterpret_cast<IntProc>(UnxGetProcAddr(lib, "Echo"));
    auto echo_upper = reinterpret_cast<IntProc>(UnxGetProcAddr(lib, "ECHO"));
    auto twin = reinterpret_cast<IntProc>(UnxGetProcAddr(lib, "Twin"));
    ASSERT_TRUE(echo && echo_upper && twin);
    EXPECT_EQ(echo(40), 41);
    EXPECT_EQ(echo_upper(40), 42);
    EXPECT_EQ(twin(0), 1); // the first of two equal rows wins
    // Case matters, only whole names match, the symbol table is not a row.
    for (const char *name : {"echo", "eCHO", "Ech", "Echo ", "", "fltLoadPointers"})
        EXPECT_EQ(UnxGetProcAddr(lib, name), nullptr) << name;
    EXPECT_EQ(UnxGetProcAddr(lib, nullptr), nullptr);
    EXPECT_EQ(UnxGetProcAddr(nullptr, "Echo"), nullptr);

    // A count of zero or less exposes nothing; 1 only the unnamed first row.
    const int16_t count = lib->rowCount;
    for (int16_t bad : {int16_t(0), int16_t(-1), int16_t(-32768), int16_t(1)}) {
        lib->rowCount = bad;
        EXPECT_EQ(UnxGetProcAddr(lib, "Echo"), nullptr) << bad;
    }
    lib->rowCount = 2;
    EXPECT_NE(UnxGetProcAddr(lib, "Echo"), nullptr);
    lib->rowCount = count;
    UnxFreeSharedLib(lib);
    UnxFreeSharedLib(nullptr);
}

TEST(UnxLoadSharedLib, WritesTheLoadPathIntoTheNameRowWhenItFits)
{
    // A path of 260 characters or more does not fit the 260-byte row with its NUL: not written, nor cut.
    kxtest::TempDir dir;
    std::string deep = dir.path();
    while (deep.size() < 300)
        deep += "/" + std::string(60, 'd');
    fs::create_directories(deep);
    for (const std::string &copy : {dir.file("name_row.so"), deep + "/long.so"}) {
        fs::copy_file(kRowsLib, copy);
        SharedLib *lib = UnxLoadSharedLib(copy.c_str());
        ASSERT_NE(lib, nullptr);
        const char *dll_name = static_cast<const char *>(UnxGetProcAddr(lib, "szDLLName"));
        ASSERT_NE(dll_name, nullptr);
        EXPECT_EQ(dll_name, copy.size() < 260 ? copy : "");
        UnxFreeSharedLib(lib);
    }
}

TEST(UnxLoadSharedLib, LibraryWithoutLoadPointersAndFailures)
{
    SharedLib *lib = UnxLoadSharedLib(kBareLib.c_str());
    ASSERT_NE(lib, nullptr);
    EXPECT_EQ(lib->rowCount, 0);
    EXPECT_EQ(lib->rows, nullptr);
    EXPECT_NE(dlsym(lib->dlHandle, "Echo"), nullptr); // never read by the loader
    EXPECT_EQ(UnxGetProcAddr(lib, "Echo"), nullptr);
    UnxFreeSharedLib(lib);
    EXPECT_FALSE(is_loaded(kBareLib));

    kxtest::TempDir dir;
    EXPECT_EQ(UnxLoadSharedLib(dir.file("missing.so").c_str()), nullptr);
    EXPECT_EQ(UnxLoadSharedLib(dir.write("text.so", "plain text\n").c_str()), nullptr);
    EXPECT_EQ(UnxLoadSharedLib(nullptr), nullptr);
}

// "UnLoadOutput"'s low 16 bits, signed: positive keeps the library loaded, anything else closes it.
TEST(UnxFreeSharedLib, UnloadAnswerDecidesWhetherTheLibraryCloses)
{
    const struct {
        int64_t answer;
        bool stays_loaded;
    } cases[] = {
        {1, true}, {0, false}, {-1, false}, {0x7FFF, true}, {0x8000, false},
        {0x7FFF0000, false}, {int32_t(0x80000002u), true},
    };
    kxtest::TempDir dir;
    int index = 0;
    for (const auto &c : cases) {
        SCOPED_TRACE(c.answer);
        // A private copy per case: a different file is a different object.
        const std::string copy = dir.file("unload_" + std::to_string(index++) + ".so");
        fs::copy_file(kRowsLib, copy);
        SharedLib *lib = UnxLoadSharedLib(copy.c_str());
        ASSERT_NE(lib, nullptr);
        auto set_answer =
            reinterpret_cast<SetUnloadAnswerProc>(UnxGetProcAddr(lib, "SetUnloadAnswer"));
        ASSERT_NE(set_answer, nullptr);
        int32_t calls = 0;
        SharedLib *seen = nullptr;
        set_answer(static_cast<int32_t>(c.answer), &calls, &seen);
        const SharedLib *record = lib;
        UnxFreeSharedLib(lib);
        EXPECT_EQ(calls, 1);
        EXPECT_EQ(seen, record);
        EXPECT_EQ(is_loaded(copy), c.stays_loaded);
        if (c.stays_loaded) { // exactly one reference was kept
            void *handle = dlopen(copy.c_str(), RTLD_LAZY | RTLD_NOLOAD);
            dlclose(handle);
            dlclose(handle);
            EXPECT_FALSE(is_loaded(copy));
        }
    }
}

} // namespace
