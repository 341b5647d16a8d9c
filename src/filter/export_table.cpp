// The export table: the eight rows (name, ordinal, entry) through which a
// host and the family's loader find this filter's entries. fltLoadPointers
// is the one symbol looked up by name; everything else goes through the rows.
#include <kxfpx/filter.h>

#include "filter/filter_codes.h"

namespace {

using namespace kxfpx::filter;

template <typename F> void *entry_of(F *function) { return reinterpret_cast<void *>(function); }

// Writable, as the loader's SharedLib record hands out a non-const pointer.
FilterExportRow FilterExportTable[KX_EXPORT_ROWS] = {
    {"ImportFile", kOrdinalImportFile, entry_of(&ImportFile)},
    {"CreateSetup", kOrdinalCreateSetup, entry_of(&xCreateSetup)},
    {"DestroySetup", kOrdinalDestroySetup, entry_of(&xDestroySetup)},
    {"EditSetup", kOrdinalEditSetup, entry_of(&xEditSetup)},
    {"EscapeSetup", kOrdinalEscapeSetup, entry_of(&xEscapeSetup)},
    {"QORGetFilterVersion", kOrdinalGetFilterVersion, entry_of(&QORGetFilterVersion)},
    {"GetFileInfo", kOrdinalGetFileInfo, entry_of(&GetFileInfo)},
    // Not a function: the loader writes this library's path into the buffer.
    {"szDLLName", kOrdinalDllName, import_szDLLName},
};

} // namespace

extern "C" {

KX_API void fltLoadPointers(SharedLib *lib)
{
    if (!lib)
        return;
    lib->rowCount = KX_EXPORT_ROWS;
    lib->rows = FilterExportTable;
}

// Keeps a reference to fltLoadPointers from inside the library.
KX_API void dummy_function(void) { fltLoadPointers(nullptr); }

} // extern "C"
