/* Loading libraries of the family through their export rows, finding a
 * library file beside this one or on the search paths, and temporary file
 * names. */
#ifndef KXFPX_SHAREDLIB_H
#define KXFPX_SHAREDLIB_H

#include "records.h"

KX_BEGIN_DECLS

KX_API SharedLib *UnxLoadSharedLib(const char *path);
KX_API void *UnxGetProcAddr(SharedLib *lib, const char *name);
KX_API void UnxFreeSharedLib(SharedLib *lib);
KX_API char *TokenizePath(void);
KX_API void FreePathMem(char *list);
KX_API char *NextPathToken(char *text);
KX_API int32_t FindFilter(char *name, int16_t size);
KX_API int32_t QORGetTempFileName(uint64_t unused1, uint64_t unused2, uint64_t unused3,
                                  char *buffer);

KX_END_DECLS

#endif
