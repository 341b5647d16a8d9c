// The library as a host sees it: loaded with dlopen, its eight export rows
// obtained through fltLoadPointers, its entries called through the rows; its
// dynamic symbol table (C names declared in the public headers only) and the
// libraries it needs.
#include <kxfpx/codes.h>
#include <kxfpx/records.h>
#include <kxfpx/setup.h>

#include <gtest/gtest.h>

#include <dirent.h>
#include <dlfcn.h>

#include <cctype>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "scoped_env.h"
#include "support.h"

namespace {

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_UNDEFINED__)
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif

std::string library_path() { return kxtest::bin_dir() + "/libkx_fpx2.so"; }

std::vector<std::string> run_lines(const std::string &command)
{
    std::vector<std::string> lines;
    FILE *pipe = popen(command.c_str(), "r");
    if (!pipe)
        return lines;
    char buffer[4096];
    while (std::fgets(buffer, sizeof buffer, pipe)) {
        std::string line(buffer);
        while (!line.empty() && (line.back() == '\n' || line.back() == '\r'))
            line.pop_back();
        lines.push_back(line);
    }
    pclose(pipe);
    return lines;
}

// Every identifier in the texts of the public headers.
std::set<std::string> header_identifiers()
{
    std::set<std::string> names;
    const std::string dir = kxtest::source_dir() + "/include/kxfpx";
    DIR *d = opendir(dir.c_str());
    if (!d)
        return names;
    while (dirent *entry = readdir(d)) {
        const std::string file = entry->d_name;
        if (file.size() < 3 || file.compare(file.size() - 2, 2, ".h") != 0)
            continue;
        std::ifstream in(dir + "/" + file);
        std::stringstream text;
        text << in.rdbuf();
        const std::string s = text.str();
        for (size_t i = 0; i < s.size();) {
            if (std::isalpha(static_cast<unsigned char>(s[i])) || s[i] == '_') {
                size_t j = i;
                while (j < s.size() && (std::isalnum(static_cast<unsigned char>(s[j])) || s[j] == '_'))
                    j++;
                names.insert(s.substr(i, j - i));
                i = j;
            } else {
                i++;
            }
        }
    }
    closedir(d);
    return names;
}

// Names the instrumentation of a sanitizer build adds to the table.
bool sanitizer_symbol(const std::string &name)
{
    return name.rfind("__asan", 0) == 0 || name.rfind("__odr_asan", 0) == 0 ||
           name.rfind("__ubsan", 0) == 0 || name.rfind("__sanitizer", 0) == 0;
}

class HostLoad : public ::testing::Test {
protected:
    void SetUp() override
    {
        handle = dlopen(library_path().c_str(), RTLD_NOW | RTLD_LOCAL);
        ASSERT_NE(handle, nullptr) << dlerror();
        auto load = reinterpret_cast<FltLoadPointersProc>(dlsym(handle, "fltLoadPointers"));
        ASSERT_NE(load, nullptr);
        lib.dlHandle = handle;
        load(&lib);
    }
    void TearDown() override
    {
        if (handle)
            dlclose(handle);
    }
    void *entry(const char *name) const
    {
        for (int i = 0; i < lib.rowCount; i++)
            if (std::strcmp(lib.rows[i].name, name) == 0)
                return lib.rows[i].entry;
        return nullptr;
    }

    void *handle = nullptr;
    SharedLib lib{};
};

TEST_F(HostLoad, EightRowsInOrder)
{
    const struct {
        const char *name;
        int64_t ordinal;
        const char *symbol;
    } expected[] = {
        {"ImportFile", 1001, "ImportFile"},
        {"CreateSetup", 1002, "xCreateSetup"},
        {"DestroySetup", 1003, "xDestroySetup"},
        {"EditSetup", 1004, "xEditSetup"},
        {"EscapeSetup", 1005, "xEscapeSetup"},
        {"QORGetFilterVersion", 1006, "QORGetFilterVersion"},
        {"GetFileInfo", 1007, "GetFileInfo"},
        {"szDLLName", 1008, "import_szDLLName"},
    };
    ASSERT_EQ(lib.rowCount, 8);
    ASSERT_NE(lib.rows, nullptr);
    for (int i = 0; i < 8; i++) {
        SCOPED_TRACE(i);
        EXPECT_STREQ(lib.rows[i].name, expected[i].name);
        EXPECT_EQ(lib.rows[i].ordinal, expected[i].ordinal);
        EXPECT_EQ(lib.rows[i].entry, dlsym(handle, expected[i].symbol));
        EXPECT_NE(lib.rows[i].entry, nullptr);
    }
    // The loader writes the library's path into the "szDLLName" buffer.
    char *dll_name = static_cast<char *>(entry("szDLLName"));
    EXPECT_STREQ(dll_name, "");
    std::strcpy(dll_name, library_path().c_str());
    EXPECT_STREQ(static_cast<const char *>(dlsym(handle, "import_szDLLName")),
                 library_path().c_str());
}

TEST_F(HostLoad, SetupLifecycleThroughTheRows)
{
    kxtest::TempDir ini_dir, work_dir;
    kxtest::ScopedEnv env("INIDIR", ini_dir.path().c_str());
    kxtest::ScopedCwd cwd(work_dir.path());
    using Create = HGLOBAL (*)(uint64_t, const char *, const char *);
    using Destroy = int32_t (*)(HGLOBAL);
    using Escape = int32_t (*)(HGLOBAL, int32_t, int32_t, void *, void *, int32_t);
    using Version = uint32_t (*)();
    using Lock = void *(*)(HGLOBAL);

    auto create = reinterpret_cast<Create>(entry("CreateSetup"));
    auto destroy = reinterpret_cast<Destroy>(entry("DestroySetup"));
    auto escape = reinterpret_cast<Escape>(entry("EscapeSetup"));
    auto version = reinterpret_cast<Version>(entry("QORGetFilterVersion"));
    auto lock = reinterpret_cast<Lock>(dlsym(handle, "GlobalLock"));
    ASSERT_TRUE(create && destroy && escape && version && lock);

    EXPECT_EQ(version(), 0x08000004u);
    HGLOBAL setup = create(7, nullptr, nullptr);
    ASSERT_NE(setup, nullptr);
    EXPECT_STREQ(static_cast<const char *>(dlsym(handle, "szIM_Filter")), "KR_FPX");
    const FilterSetup *s = static_cast<FilterSetup *>(lock(setup));
    EXPECT_STREQ(s->driverName, "KR_FPX.0");
    int16_t resolution = 1;
    EXPECT_EQ(escape(setup, 84, 2, &resolution, nullptr, 0), KX_OK);
    EXPECT_EQ(s->options.resolutionChoice, 1);
    EXPECT_EQ(destroy(setup), KX_OK);
    EXPECT_EQ(destroy(nullptr), KX_BAD_HANDLE);
}

// Every C name the filter defines for the outside world: its entries and
// exported data, and the operations of each of its layers, which keep the
// names of the calls they emulate. A name that is not in this list must not
// appear in the dynamic symbol table, whichever layer adds it; a helper
// exported by mistake fails here even when its name happens to occur in a
// header (as a parameter, a field or a word of a comment).
const std::set<std::string> &system_names()
{
    static const std::set<std::string> names = {
        // Entries, setup, string table and exported data.
        "ImportFile", "xCreateSetup", "xDestroySetup", "xEditSetup", "EscapeSetup",
        "xEscapeSetup", "QORGetFilterVersion", "GetOptionsSize", "qorSetOptions",
        "xUseDefaultSettings", "fltLoadPointers", "dummy_function", "LoadString",
        "FilterExportTable", "gStringTable", "nTitle", "FileType", "IM_FilterVersion", "version",
        "qorxxxx_str", "szIM_Filter", "import_szDLLName", "hInst", "hDLLModule", "lpCommon",
        "lpDlgInterp", "hAppAnchorBlock", "xLoadProfile", "SetDriverMode", "GetFileInfo",
        "InfoPut",
        // Output library binding, picture and device control, reporting.
        "OpenGDSF", "CloseGDSF", "SetInterpretStructure", "OpenDevice", "BeginPic",
        "BeginPicBody", "EndPic", "SetBackgroundColor", "SetColorTable", "SetViewport",
        "CloseDevice", "esc_chk", "chk_esc", "qorgen_error", "set_err", "cgierror", "maperror",
        "CallGetSet_Status", "err_hand", "message", "ask_yesno",
        // FlashPix decoding and colour.
        "kxfpx", "FindProperties", "iGetFileInfo", "GetImageAttributes", "TransformPts",
        "ReadTiles", "Filter", "Filter1Color", "Filter3Color", "Sharpen1Color", "Sharpen3Color",
        "YCCToRGB", "RGBToYCC", "FPXMonoTable", "RANGE_ARRAY", "CrR", "CbB", "CrG", "CbG",
        "Yscale",
        // JPEG tile decoder.
        "ReadJPEG", "ReadHuffman", "ReadQuantization", "ProgGetImageAttributes",
        "ProcessProgHufScans", "NextBit", "GetNextCode", "DetermineExpansion", "ExpandBlock",
        "IDCT8x8Block", "DE_ZIGZAG", "EXTEND_TEST", "EXTEND_OFFSET", "ReorderAC",
        "DequantizeWholeImage", "DeZigZapQTable", "IDCTwholeImage", "ExpandImage",
        "MapAndMixWholeImageColor", "PadBuf", "RepadBuffer",
        // Buffered and typed I/O, Compound File reader and writer.
        "qorOpen", "qorRead", "qorWrite", "qorSeek", "qorClose", "qorCopy", "qorCheckBuf",
        "unxSeek", "FillQorIOBuf", "FlushQorIO", "qorReadChar", "qorReadShort", "qorReadLong",
        "qorReadFloat", "qorReadDouble", "qorWriteChar", "qorWriteShort", "qorWriteLong",
        "qorWriteFloat", "qorWriteDouble", "qorReadStruct", "qorWriteStruct", "qorReadLine",
        "qorWriteLine", "qorGetDataFormat", "qorSetDataFormat", "qorGetLineFormat",
        "qorSetLineFormat", "qorNativeToLE", "qorNativeToBE", "GetPadWidth", "GetUnionSize",
        "qorOpenStorage", "qorOpenStorage_ex", "qorOpenStream", "qorCloseStream",
        "qorCloseStorage", "qorGetSect", "qorGetEndSect", "docRead", "docWrite", "docSeek",
        "docClose", "SIGNATURE", "ROOT_CLASSID", "STORAGE_CLASSID", "qorCreateStorage",
        "qorCreateStream", "qorDocWriteToFAT", "qorDocWriteToMiniFAT",
        // Profile files.
        "CleanIniLine", "TrimIniChar", "INIopen", "INIclose", "GetPrivateProfileString",
        "GetPrivateProfileInt", "WritePrivateProfileString", "GetProfileString", "GetProfileInt",
        "WriteProfileString", "s_getname", "GetProfileDirectory",
        // Memory handles and block routines.
        "GlobalAlloc", "GlobalLock", "GlobalUnlock", "GlobalFree", "GlobalReAlloc",
        "GlobalHandle", "GlobalSize", "GlobalCompact", "GlobalPointerToHandle",
        "qorPtrGlobalAlloc", "qorPtrGlobalHandle", "qorPtrGlobalFree", "qorPtrGlobalReAlloc",
        "qorHugeMemcpy", "qorHugeMemset", "qorHugeMemcmp", "memalloc", "if_free",
        // Library loading, filter search, temporary names.
        "UnxLoadSharedLib", "UnxGetProcAddr", "UnxFreeSharedLib", "TokenizePath", "FreePathMem",
        "NextPathToken", "FindFilter", "QORGetTempFileName",
        // String and numeric routines.
        "strupr", "strlwr", "strlower", "stricmp", "strnicmp", "dabs", "feqf", "fabseqf",
        "hypolen",
    };
    return names;
}

// The dynamic symbol table holds exactly C names of the system: each one is
// in the list above and declared in a public header, and none is a C++ name.
// The entries, data and operations of the interface, memory, string and
// loading layers must all be there.
TEST(LibraryFile, ExportsExactlyTheSystemsCNames)
{
    const std::vector<std::string> lines =
        run_lines("nm -D --defined-only '" + library_path() + "' 2>/dev/null");
    ASSERT_FALSE(lines.empty()) << "nm gave no symbols for " << library_path();
    const std::set<std::string> declared = header_identifiers();
    ASSERT_FALSE(declared.empty());

    std::set<std::string> exported;
    for (const std::string &line : lines) {
        std::istringstream fields(line);
        std::string address, type, name;
        fields >> address >> type >> name;
        if (name.empty())
            continue;
        name = name.substr(0, name.find('@'));   // drop a version suffix
        if (kSanitized && sanitizer_symbol(name))
            continue;
        exported.insert(name);
        EXPECT_NE(name.rfind("_Z", 0), 0u) << "C++ symbol exported: " << name;
        EXPECT_TRUE(system_names().count(name)) << "exported but not a name of the system: " << name;
        EXPECT_TRUE(declared.count(name)) << "exported but not declared in include/kxfpx: " << name;
    }
    for (const char *name :
         {"ImportFile", "xCreateSetup", "xDestroySetup", "xEditSetup", "xEscapeSetup",
          "EscapeSetup", "QORGetFilterVersion", "GetFileInfo", "GetOptionsSize", "qorSetOptions",
          "xUseDefaultSettings", "LoadString", "fltLoadPointers", "dummy_function", "nTitle",
          "FileType", "IM_FilterVersion", "version", "qorxxxx_str", "szIM_Filter",
          "import_szDLLName", "hInst", "hDLLModule", "lpCommon", "lpDlgInterp",
          "hAppAnchorBlock", "xLoadProfile", "SetDriverMode", "GlobalAlloc", "GlobalLock",
          "GlobalUnlock", "GlobalFree", "GlobalReAlloc", "GlobalHandle", "GlobalSize",
          "GlobalCompact", "GlobalPointerToHandle", "qorPtrGlobalAlloc", "qorPtrGlobalHandle",
          "qorPtrGlobalFree", "qorPtrGlobalReAlloc", "qorHugeMemcpy", "qorHugeMemset",
          "qorHugeMemcmp", "memalloc", "if_free", "strupr", "strlwr", "strlower", "stricmp",
          "strnicmp", "dabs", "feqf", "fabseqf", "hypolen", "s_getname", "GetProfileDirectory",
          "UnxLoadSharedLib", "UnxGetProcAddr", "UnxFreeSharedLib", "TokenizePath",
          "FreePathMem", "NextPathToken", "FindFilter", "QORGetTempFileName",
          "SetInterpretStructure"}) {
        EXPECT_TRUE(system_names().count(name)) << "missing from the list of names: " << name;
        EXPECT_TRUE(exported.count(name)) << "not exported: " << name;
    }
    // The family's own libraries keep their names: the filter calls them and
    // never re-exports them.
    for (const char *name : {"HostGetGlobalOption", "HostGetGlobalOptionSet", "HostGetOption",
                             "NativeBlockAlloc", "NativeBlockLock", "NativeBlockUnlock",
                             "NativeBlockFree"})
        EXPECT_FALSE(exported.count(name)) << "family library name re-exported: " << name;
}

TEST(LibraryFile, NeedsOnlyTheSystemAndFamilyLibraries)
{
    const std::vector<std::string> lines =
        run_lines("readelf -d '" + library_path() + "' 2>/dev/null");
    ASSERT_FALSE(lines.empty());
    std::set<std::string> allowed = {"libc.so.6",     "libm.so.6",      "libdl.so.2",
                                     "libyt_ut.so",   "libqe_core.so",  "ld-linux-x86-64.so.2"};
    if (kSanitized) {
        // The sanitizer build links the runtimes dynamically.
        for (const char *extra : {"libasan.so.8", "libasan.so.6", "libubsan.so.1",
                                  "libstdc++.so.6", "libgcc_s.so.1"})
            allowed.insert(extra);
    }
    int needed = 0;
    for (const std::string &line : lines) {
        if (line.find("(NEEDED)") == std::string::npos)
            continue;
        const size_t open = line.find('[');
        const size_t close = line.find(']', open);
        ASSERT_NE(open, std::string::npos);
        const std::string name = line.substr(open + 1, close - open - 1);
        EXPECT_TRUE(allowed.count(name)) << "unexpected dependency: " << name;
        needed++;
    }
    EXPECT_GT(needed, 0);
}

TEST(HostProgram, ListsTheRowsAndMakesASetup)
{
    const std::string host = kxtest::bin_dir() + "/fpxconv";
    if (!kxtest::path_exists(host))
        GTEST_SKIP() << "fpxconv is not built";
    kxtest::TempDir ini_dir, work_dir;
    kxtest::ScopedEnv env("INIDIR", ini_dir.path().c_str());
    kxtest::ScopedCwd cwd(work_dir.path());
    const std::vector<std::string> lines = run_lines("'" + host + "'; echo exit=$?");
    ASSERT_EQ(lines.size(), 10u);
    EXPECT_EQ(lines[0], "filter version 0x08000004");
    EXPECT_EQ(lines[1].rfind("row 0: ImportFile", 0), 0u);
    EXPECT_EQ(lines[8].rfind("row 7: szDLLName", 0), 0u);
    EXPECT_EQ(lines[9], "exit=0");

    // An input that does not exist fails the import, cleanly.
    const std::vector<std::string> failed =
        run_lines("'" + host + "' missing.fpx out.png 2>/dev/null; echo exit=$?");
    ASSERT_FALSE(failed.empty());
    EXPECT_EQ(failed.back(), "exit=1");
    EXPECT_FALSE(kxtest::path_exists(work_dir.file("out.png")));
}

} // namespace
