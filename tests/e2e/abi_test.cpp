// The library as a host sees it: export rows, exported symbols, needed libraries.
#include <kxfpx/records.h>

#include <dlfcn.h>

#include <cstring>
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <regex>
#include <set>
#include <sstream>

#include "scoped_env.h"
#include "support.h"

namespace {

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_UNDEFINED__) || defined(__SANITIZE_THREAD__)
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif

std::string library_path() { return kxtest::bin_dir() + "/libkx_fpx2.so"; }

std::vector<std::string> run_lines(const std::string &command)
{
    std::vector<std::string> lines;
    if (FILE *pipe = popen(command.c_str(), "r")) {
        char buffer[4096];
        while (std::fgets(buffer, sizeof buffer, pipe))
            lines.emplace_back(buffer, std::strcspn(buffer, "\r\n"));
        pclose(pipe);
    }
    return lines;
}

TEST(HostLoad, EightRowsInOrder)
{
    void *handle = dlopen(library_path().c_str(), RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(handle, nullptr) << dlerror();
    auto load = reinterpret_cast<FltLoadPointersProc>(dlsym(handle, "fltLoadPointers"));
    ASSERT_NE(load, nullptr);
    SharedLib lib{};
    lib.dlHandle = handle;
    load(nullptr);  // ignored
    load(&lib);
    const char *names[] = {"ImportFile",  "CreateSetup",         "DestroySetup", "EditSetup",
                           "EscapeSetup", "QORGetFilterVersion", "GetFileInfo",  "szDLLName"};
    const char *symbols[] = {"ImportFile",   "xCreateSetup",        "xDestroySetup", "xEditSetup",
                             "xEscapeSetup", "QORGetFilterVersion", "GetFileInfo",   "import_szDLLName"};
    ASSERT_EQ(lib.rowCount, 8);
    ASSERT_NE(lib.rows, nullptr);
    for (int i = 0; i < 8; i++) {
        EXPECT_STREQ(lib.rows[i].name, names[i]);
        EXPECT_EQ(lib.rows[i].ordinal, 1001 + i) << i;
        EXPECT_TRUE(lib.rows[i].entry && lib.rows[i].entry == dlsym(handle, symbols[i])) << i;
    }
    // A loader writes the library's path into the "szDLLName" buffer.
    char *dll_name = static_cast<char *>(lib.rows[7].entry);
    EXPECT_STREQ(dll_name, "");
    std::strcpy(dll_name, library_path().c_str());
    EXPECT_STREQ(static_cast<const char *>(dlsym(handle, "import_szDLLName")), library_path().c_str());
    dlclose(handle);
}

// Exactly the C names declared with KX_API at the start of a line of the
// public headers (the last identifier before '(', '[' or ';').
TEST(LibraryFile, ExportsExactlyTheDeclaredCNames)
{
    std::set<std::string> declared, exported;
    const std::regex last_word("(\\w+)\\s*$");
    for (const auto &header : std::filesystem::directory_iterator(kxtest::source_dir() + "/include/kxfpx")) {
        std::ifstream in(header.path());
        std::smatch m;
        for (std::string line; std::getline(in, line);) {
            const std::string head = line.substr(0, line.find_first_of("([;"));
            if (line.rfind("KX_API ", 0) == 0 && std::regex_search(head, m, last_word))
                declared.insert(m[1]);
        }
    }
    const std::regex instrumentation("__(asan|odr_asan|ubsan|tsan|sanitizer).*");
    for (const std::string &line : run_lines("nm -D --defined-only '" + library_path() + "'")) {
        std::istringstream fields(line);
        std::string address, type, name;
        fields >> address >> type >> name;
        name = name.substr(0, name.find('@'));  // drop a version suffix
        if (!name.empty() && !(kSanitized && std::regex_match(name, instrumentation)))
            exported.insert(name);
    }
    ASSERT_GT(declared.size(), 100u);
    for (const std::string &name : exported)
        EXPECT_TRUE(declared.count(name)) << "exported but not declared KX_API: " << name;
    for (const std::string &name : declared)
        EXPECT_TRUE(exported.count(name)) << "declared KX_API but not exported: " << name;
}

TEST(LibraryFile, NeedsOnlyTheSystemAndFamilyLibraries)
{
    std::set<std::string> allowed = {"libc.so.6",   "libm.so.6",     "libdl.so.2",
                                     "libyt_ut.so", "libqe_core.so", "ld-linux-x86-64.so.2"};
    if (kSanitized)  // the sanitizer build links the runtimes dynamically
        allowed.insert({"libasan.so.8", "libasan.so.6", "libubsan.so.1", "libtsan.so.2", "libstdc++.so.6",
                        "libgcc_s.so.1"});
    int needed = 0;
    for (const std::string &line : run_lines("readelf -d '" + library_path() + "'")) {
        std::smatch m;
        if (std::regex_search(line, m, std::regex("\\(NEEDED\\).*\\[(.*)\\]"))) {
            EXPECT_TRUE(allowed.count(m[1])) << "unexpected dependency: " << m[1];
            needed++;
        }
    }
    EXPECT_GT(needed, 0);
}

} // namespace
