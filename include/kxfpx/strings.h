/* String and numeric routines that Windows-derived code expects: ASCII-only
 * case conversion and case-insensitive comparison, float comparisons. */
#ifndef KXFPX_STRINGS_H
#define KXFPX_STRINGS_H

#include "export.h"
#include <stdint.h>

KX_BEGIN_DECLS

KX_API void strupr(char *text);
KX_API void strlwr(char *text);
KX_API void strlower(char *text);
KX_API int32_t stricmp(const char *a, const char *b);
KX_API int32_t strnicmp(const char *a, const char *b, int32_t count);
KX_API double dabs(double x);
KX_API int32_t feqf(double a, double b, double tolerance);
KX_API int32_t fabseqf(double a, double b, double tolerance);
KX_API double hypolen(double x, double y);

KX_END_DECLS

#endif
