/* Windows-style profile (INI) files: reading, key enumeration and rewriting,
 * and where the filter's profile is looked for. */
#ifndef KXFPX_PROFILE_H
#define KXFPX_PROFILE_H

#include "records.h"

KX_BEGIN_DECLS

KX_API void CleanIniLine(char *text, int32_t flags);
KX_API void TrimIniChar(char *text, int32_t character);
KX_API QorFile INIopen(char *name, int16_t length, uint32_t mode);
KX_API int32_t INIclose(QorFile file);

KX_API int32_t GetPrivateProfileString(const char *section, const char *key, const char *defaultValue,
                                       char *buffer, int32_t size, const char *fileName);
KX_API int32_t GetPrivateProfileInt(const char *section, const char *key, int32_t defaultValue,
                                    const char *fileName);
KX_API int32_t WritePrivateProfileString(const char *section, const char *key, const char *value,
                                         const char *fileName);
KX_API int32_t GetProfileString(const char *section, const char *key, const char *defaultValue,
                                char *buffer, int32_t size);
KX_API int32_t GetProfileInt(const char *section, const char *key, int32_t defaultValue);
KX_API int32_t WriteProfileString(const char *section, const char *key, const char *value);

KX_API char *s_getname(char *dest, const char *path);
KX_API int32_t GetProfileDirectory(char *name, const char *libraryPath);

KX_END_DECLS

#endif
