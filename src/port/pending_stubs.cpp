#pragma GCC diagnostic ignored "-Wunused-parameter"
// Temporary weak placeholders for functions whose real definitions are being
// written in parallel; a real (strong) definition always wins at link time.
// This file is deleted once every subsystem defines its own functions.
#include <kxfpx/filter.h>
#include <kxfpx/qorfile.h>
#include <kxfpx/storage.h>
#include <kxfpx/sharedlib.h>
#include <kxfpx/profile.h>
#include <kxfpx/output.h>

#define KX_WEAK __attribute__((weak))
extern "C" {
KX_API KX_WEAK QorFile qorOpen(const char *path, QorOpenDesc *desc, uint32_t mode) { return nullptr; }
KX_API KX_WEAK int32_t qorRead(QorFile file, void *buffer, int32_t count) { return 0; }
KX_API KX_WEAK int32_t qorWrite(QorFile file, const void *buffer, int32_t count) { return 0; }
KX_API KX_WEAK int32_t qorSeek(QorFile file, int32_t offset, int32_t whence) { return 0; }
KX_API KX_WEAK int32_t qorClose(QorFile file) { return 0; }
KX_API KX_WEAK int32_t qorCopy(const char *source, const char *destination) { return 0; }
KX_API KX_WEAK int32_t qorCheckBuf(QorFile file, int32_t count) { return 0; }
KX_API KX_WEAK int32_t unxSeek(FILE *stream, int32_t offset, int32_t whence) { return 0; }
KX_API KX_WEAK int32_t FillQorIOBuf(QorFile file) { return 0; }
KX_API KX_WEAK int32_t FlushQorIO(QorFile file) { return 0; }
KX_API KX_WEAK int32_t qorReadChar(QorFile file, void *dest, int32_t count) { return 0; }
KX_API KX_WEAK int32_t qorReadShort(QorFile file, void *dest, int32_t count) { return 0; }
KX_API KX_WEAK int32_t qorReadLong(QorFile file, void *dest, int32_t count) { return 0; }
KX_API KX_WEAK int32_t qorReadFloat(QorFile file, void *dest, int32_t count) { return 0; }
KX_API KX_WEAK int32_t qorReadDouble(QorFile file, void *dest, int32_t count) { return 0; }
KX_API KX_WEAK int32_t qorWriteChar(QorFile file, const void *src, int32_t count) { return 0; }
KX_API KX_WEAK int32_t qorWriteShort(QorFile file, const void *src, int32_t count) { return 0; }
KX_API KX_WEAK int32_t qorWriteLong(QorFile file, const void *src, int32_t count) { return 0; }
KX_API KX_WEAK int32_t qorWriteFloat(QorFile file, const void *src, int32_t count) { return 0; }
KX_API KX_WEAK int32_t qorWriteDouble(QorFile file, const void *src, int32_t count) { return 0; }
KX_API KX_WEAK int32_t qorSetDataFormat(QorFile file, int16_t byteOrder, int16_t floatFormat) { return 0; }
KX_API KX_WEAK int32_t qorGetDataFormat(QorFile file, int16_t *byteOrder, int16_t *floatFormat) { return 0; }
KX_API KX_WEAK int32_t qorSetLineFormat(QorFile file, int16_t lineFormat) { return 0; }
KX_API KX_WEAK int32_t qorGetLineFormat(QorFile file) { return 0; }
KX_API KX_WEAK void qorNativeToLE(void *buffer, uint32_t value, int32_t count) { }
KX_API KX_WEAK void qorNativeToBE(void *buffer, uint32_t value, int32_t count) { }
KX_API KX_WEAK int32_t qorReadLine(QorFile file, char *buffer, int32_t size) { return 0; }
KX_API KX_WEAK int32_t qorWriteLine(QorFile file, const char *text, int32_t length) { return 0; }
KX_API KX_WEAK int32_t qorReadStruct(QorFile file, const char *format, void *dest, int32_t count) { return 0; }
KX_API KX_WEAK int32_t qorWriteStruct(QorFile file, const char *format, const void *src, int32_t count) { return 0; }
KX_API KX_WEAK int32_t GetPadWidth(const char *format) { return 0; }
KX_API KX_WEAK const char * GetUnionSize(const char *format, int32_t *size) { return nullptr; }
KX_API KX_WEAK QorFile qorOpenStorage_ex(QorFile file, const char *name, uint32_t fatSectorLimit) { return nullptr; }
KX_API KX_WEAK QorFile qorOpenStorage(QorFile file, const char *name) { return nullptr; }
KX_API KX_WEAK QorFile qorOpenStream(QorFile storage, const char *name) { return nullptr; }
KX_API KX_WEAK int32_t qorCloseStream(QorFile stream) { return 0; }
KX_API KX_WEAK int32_t qorCloseStorage(QorFile storage) { return 0; }
KX_API KX_WEAK uint32_t qorGetSect(uint32_t start, uint32_t offset, uint32_t sectorSize, const uint32_t *table, uint32_t limit) { return 0; }
KX_API KX_WEAK uint32_t qorGetEndSect(uint32_t start, const uint32_t *table) { return 0; }
KX_API KX_WEAK int32_t docRead(QorFile inner, void *buffer, int32_t count) { return 0; }
KX_API KX_WEAK int32_t docSeek(QorFile inner, int32_t offset, int32_t whence) { return 0; }
KX_API KX_WEAK int32_t docWrite(QorFile inner, const void *data, int32_t count) { return 0; }
KX_API KX_WEAK int32_t docClose(QorFile inner) { return 0; }
KX_API KX_WEAK QorFile qorCreateStorage(QorFile outFile, QorFile parent, const char *name) { return nullptr; }
KX_API KX_WEAK QorFile qorCreateStream(QorFile storage, const char *name) { return nullptr; }
KX_API KX_WEAK int32_t qorDocWriteToFAT(QorFile inner) { return 0; }
KX_API KX_WEAK int32_t qorDocWriteToMiniFAT(QorFile inner) { return 0; }
KX_API KX_WEAK SharedLib * UnxLoadSharedLib(const char *path) { return nullptr; }
KX_API KX_WEAK void * UnxGetProcAddr(SharedLib *lib, const char *name) { return nullptr; }
KX_API KX_WEAK void UnxFreeSharedLib(SharedLib *lib) { }
KX_API KX_WEAK char * TokenizePath(void) { return nullptr; }
KX_API KX_WEAK void FreePathMem(char *list) { }
KX_API KX_WEAK char * NextPathToken(char *text) { return nullptr; }
KX_API KX_WEAK int32_t FindFilter(char *name, int16_t size) { return 0; }
KX_API KX_WEAK int32_t QORGetTempFileName(uint64_t unused1, uint64_t unused2, uint64_t unused3, char *buffer) { return 0; }
KX_API KX_WEAK void CleanIniLine(char *text, int32_t flags) { }
KX_API KX_WEAK void TrimIniChar(char *text, int32_t character) { }
KX_API KX_WEAK QorFile INIopen(char *name, int16_t length, uint32_t mode) { return nullptr; }
KX_API KX_WEAK int32_t INIclose(QorFile file) { return 0; }
KX_API KX_WEAK int32_t GetPrivateProfileString(const char *section, const char *key, const char *defaultValue, char *buffer, int32_t size, const char *fileName) { return 0; }
KX_API KX_WEAK int32_t GetPrivateProfileInt(const char *section, const char *key, int32_t defaultValue, const char *fileName) { return 0; }
KX_API KX_WEAK int32_t WritePrivateProfileString(const char *section, const char *key, const char *value, const char *fileName) { return 0; }
KX_API KX_WEAK int32_t GetProfileString(const char *section, const char *key, const char *defaultValue, char *buffer, int32_t size) { return 0; }
KX_API KX_WEAK int32_t GetProfileInt(const char *section, const char *key, int32_t defaultValue) { return 0; }
KX_API KX_WEAK int32_t WriteProfileString(const char *section, const char *key, const char *value) { return 0; }
KX_API KX_WEAK char * s_getname(char *dest, const char *path) { return nullptr; }
KX_API KX_WEAK int32_t GetProfileDirectory(char *name, const char *libraryPath) { return 0; }
KX_API KX_WEAK void SetInterpretStructure(FilterSetup *setup, InterpretStructure *interp) { }
KX_API KX_WEAK int32_t xLoadProfile(FilterSetup *setup, int32_t fonts, int32_t colours) { return 0; }
KX_API KX_WEAK int32_t SetDriverMode(int32_t driver, FilterSetup *setup) { return 0; }
}
