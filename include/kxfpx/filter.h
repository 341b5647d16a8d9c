/* The filter's entries and exported data, as a host finds them through the
 * export table returned by fltLoadPointers. */
#ifndef KXFPX_FILTER_H
#define KXFPX_FILTER_H

#include "records.h"
#include "setup.h"

KX_BEGIN_DECLS

/* Entries of the export table, in row order. */
KX_API int32_t ImportFile(uint64_t unused, const char *deviceName, const char *outputName,
                          const char *importPath, InterpretStructure *interp);
KX_API HGLOBAL xCreateSetup(uint64_t module, const char *profileName, const char *modeName);
KX_API int32_t xDestroySetup(HGLOBAL setup);
KX_API int32_t xEditSetup(void);
KX_API int32_t xEscapeSetup(HGLOBAL setup, int32_t code, int32_t size, void *data,
                            void *data2, int32_t flag);
KX_API uint32_t QORGetFilterVersion(void);
KX_API int32_t GetFileInfo(const char *path, FileInfo *info, HGLOBAL handle, HostIoProc ioProc);
/* Stores one value of the file-information record: 0, 17921 (unknown id,
 * record too small) or 17922 (value outside its rule). */
KX_API int32_t InfoPut(FileInfo *info, int32_t id, const void *value);

KX_API int32_t EscapeSetup(HGLOBAL setup, int32_t code, int32_t size, void *data, void *data2,
                           int32_t flag);
KX_API int32_t GetOptionsSize(void);
KX_API int32_t qorSetOptions(FilterSetup *setup);
KX_API int32_t xUseDefaultSettings(FilterSetup *setup);
KX_API int16_t LoadString(uint64_t module, int16_t id, char *buffer, int32_t maximum);
KX_API void fltLoadPointers(SharedLib *lib);
KX_API void dummy_function(void);

/* Profile-driven settings. */
KX_API int32_t xLoadProfile(FilterSetup *setup, int32_t fonts, int32_t colours);
KX_API int32_t SetDriverMode(int32_t driver, FilterSetup *setup);

/* Exported data. */
KX_API extern int32_t nTitle;
KX_API extern int32_t FileType;
KX_API extern int16_t IM_FilterVersion;
KX_API extern const char *version;
KX_API extern char qorxxxx_str[32];
KX_API extern char szIM_Filter[7];
KX_API extern char import_szDLLName[KX_PATH_SIZE];
KX_API extern uint64_t hInst;
KX_API extern uint64_t hDLLModule;
KX_API extern uint64_t lpCommon;
KX_API extern uint64_t lpDlgInterp;
KX_API extern uint64_t hAppAnchorBlock;

#define KX_FILTER_VERSION 0x08000004u
#define KX_EXPORT_ROWS 8

KX_END_DECLS

#endif
