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

int32_t call(SharedLib *lib, const char *name, int32_t value)
{
    auto proc = reinterpret_cast<IntProc>(UnxGetProcAddr(lib, name));
    return proc ? proc(value) : -1;
}

TEST(UnxLoadSharedLib, ResolvesNamesThroughTheRowsOnly)
{
    SharedLib *lib = UnxLoadSharedLib(kRowsLib.c_str());
    ASSERT_NE(lib, nullptr);
    EXPECT_EQ(call(lib, "Echo", 40), 41);
    EXPECT_EQ(call(lib, "ECHO", 40), 42);
    EXPECT_EQ(call(lib, "Twin", 0), 1); // the first of two equal rows wins
    // Only whole names match (case is shown by ECHO above); the symbol table is not a row.
    for (const char *name : {"Echo ", "", "fltLoadPointers", static_cast<const char *>(nullptr)})
        EXPECT_EQ(UnxGetProcAddr(lib, name), nullptr) << (name ? name : "(null)");
    EXPECT_EQ(UnxGetProcAddr(nullptr, "Echo"), nullptr);

    // A count of zero or less exposes nothing; 1 only the unnamed first row.
    const int16_t count = lib->rowCount;
    for (int16_t rows : {0, -1, 1, 2}) {
        lib->rowCount = rows;
        EXPECT_EQ(UnxGetProcAddr(lib, "Echo") != nullptr, rows == 2) << rows;
    }
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
    EXPECT_TRUE(lib->rowCount == 0 && lib->rows == nullptr);
    EXPECT_EQ(UnxGetProcAddr(lib, "Echo"), nullptr); // in the symbol table only
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
    } cases[] = {{0, false}, {0x7FFF, true}, {0x8000, false}, {0x7FFF0000, false}, {int32_t(0x80000002u), true}};
    kxtest::TempDir dir;
    int index = 0;
    for (const auto &c : cases) {
        SCOPED_TRACE(c.answer);
        // A private copy per case: a different file is a different object.
        const std::string copy = dir.file("unload_" + std::to_string(index++) + ".so");
        fs::copy_file(kRowsLib, copy);
        SharedLib *lib = UnxLoadSharedLib(copy.c_str());
        ASSERT_NE(lib, nullptr);
        auto set_answer = reinterpret_cast<SetUnloadAnswerProc>(UnxGetProcAddr(lib, "SetUnloadAnswer"));
        ASSERT_NE(set_answer, nullptr);
        int32_t calls = 0;
        SharedLib *seen = nullptr;
        set_answer(static_cast<int32_t>(c.answer), &calls, &seen);
        const SharedLib *record = lib;
        UnxFreeSharedLib(lib);
        EXPECT_TRUE(calls == 1 && seen == record);
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
