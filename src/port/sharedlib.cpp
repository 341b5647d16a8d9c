// The family's library loader: dlopen a library, let its fltLoadPointers
// hand over its export rows, resolve names through those rows only (never
// through the dynamic symbol table), and unload it, honouring the library's
// own "UnLoadOutput" answer.
#include <kxfpx/sharedlib.h>

#include "port/field_copy.h"

#include <dlfcn.h>

#include <cstdlib>
#include <cstring>

namespace {

constexpr const char kLoadPointersSymbol[] = "fltLoadPointers";
constexpr const char kDllNameRow[] = "szDLLName";
constexpr const char kUnloadRow[] = "UnLoadOutput";
// Every library of the family gives its "szDLLName" row a buffer of the
// family's path size.
constexpr size_t kDllNameSize = KX_PATH_SIZE;

// "UnLoadOutput" answers in its low 16 bits; reading only those keeps the
// rule right whether the library declares a 16- or a 32-bit result.
using UnloadProc = int32_t (*)(SharedLib *);

// The entry of the first row named exactly `name` (strcmp: case matters).
// A count of 0 or less, or a missing row array, exposes no names.
void *find_row(const SharedLib *lib, const char *name)
{
    if (!lib || !name || lib->rowCount <= 0 || !lib->rows)
        return nullptr;
    for (int i = 0; i < lib->rowCount; ++i) {
        const FilterExportRow &row = lib->rows[i];
        if (row.name && std::strcmp(row.name, name) == 0)
            return row.entry;
    }
    return nullptr;
}

} // namespace

extern "C" {

KX_API SharedLib *UnxLoadSharedLib(const char *path)
{
    // A null path would make dlopen hand back the main program; refuse it.
    if (!path)
        return nullptr;
    auto *lib = static_cast<SharedLib *>(std::malloc(sizeof(SharedLib)));
    if (!lib)
        return nullptr;
    std::memset(lib, 0, sizeof *lib);

    lib->dlHandle = dlopen(path, RTLD_LAZY);
    if (!lib->dlHandle) {
        std::free(lib);
        return nullptr;
    }
    // The one symbol looked up by name; without it the library loads but
    // exposes no names.
    if (auto load = reinterpret_cast<FltLoadPointersProc>(dlsym(lib->dlHandle, kLoadPointersSymbol)))
        load(lib);

    // The path goes into the library's 260-byte name buffer only when it fits
    // with its NUL; a longer path is not truncated into a wrong name, the
    // buffer is left as the library had it.
    if (auto *dll_name = static_cast<char *>(find_row(lib, kDllNameRow)))
        kxfpx::port::copy_whole(dll_name, kDllNameSize, path);
    return lib;
}

KX_API void *UnxGetProcAddr(SharedLib *lib, const char *name)
{
    return find_row(lib, name);
}

KX_API void UnxFreeSharedLib(SharedLib *lib)
{
    if (!lib)
        return;
    if (auto unload = reinterpret_cast<UnloadProc>(find_row(lib, kUnloadRow))) {
        const auto answer = static_cast<int16_t>(static_cast<uint32_t>(unload(lib)) & 0xFFFFu);
        if (answer > 0) {
            // The library asked to stay loaded: only the record goes.
            std::free(lib);
            return;
        }
    }
    dlclose(lib->dlHandle);
    std::free(lib);
}

} // extern "C"
