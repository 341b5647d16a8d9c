/* The records a host exchanges with the filter. All are plain C, made of
 * 8-byte words where the host sees words; every offset a host relies on is
 * checked below. */
#ifndef KXFPX_RECORDS_H
#define KXFPX_RECORDS_H

#include <stddef.h>
#include <stdint.h>
#include <stdio.h>

#include "export.h"

KX_BEGIN_DECLS

/* A movable memory handle: the address of a block header (see memory.h). */
typedef void *HGLOBAL;

/* Ten optional 64-bit message arguments; unused words are zero. */
typedef struct MessageArgs {
    uint64_t words[10];
} MessageArgs;

/* The host's status procedure: progress (kind 0), message (1), yes/no
 * question (2) and error (3). A zero answer means no, or carry on. */
typedef int32_t (*StatusProc)(uint64_t userValue, int32_t kind, int32_t code, int32_t value1,
                              int32_t value2, int32_t style, MessageArgs *args);

/* The host I/O callback: (handle, operation 1..7, pointer, count). */
typedef int64_t (*HostIoProc)(void *handle, int32_t operation, void *data, int64_t count);

/* The host's record, reached through InterpretStructure word 6. */
typedef struct HostRecord {
    uint64_t word0;         /* not read by the filter */
    uint64_t userValue;     /* first argument of every StatusProc call */
    StatusProc statusProc;  /* may be null */
    uint64_t word3, word4, word5;
    HGLOBAL inputBlock;     /* the whole input file, used when the path is empty */
} HostRecord;

/* The host's record handed to ImportFile. */
typedef struct InterpretStructure {
    uint64_t word0;               /* not read by the filter */
    HGLOBAL setup;                /* the FilterSetup handle from xCreateSetup */
    uint64_t hostValue;           /* handed to the output library at open */
    const char *deviceString1;    /* optional; null leaves the field unchanged */
    const char *deviceString2;
    const char *deviceString3;
    HostRecord *hostRecord;
    void *hostIoHandle;           /* host I/O handle for callback input */
    uint64_t fatSectorLimit;      /* only the low 32 bits are read */
} InterpretStructure;

/* The options block at the end of every FilterSetup (56 bytes). */
typedef struct FilterOptions {
    HostIoProc hostReadProc;      /* non-null selects callback input; escape 81 */
    uint64_t optionByte;          /* escape 82; stored, never read */
    uint8_t reserved[32];
    int16_t resolutionChoice;     /* 0 lowest, 1 middle, other highest; default 2 */
    uint8_t reserved2[6];
} FilterOptions;

/* Bytes of the family's path buffers: the one behind a library's
 * "szDLLName" row, into which the loader writes the library's path, and
 * the names handed to the library search. */
#define KX_PATH_SIZE 260
/* Size of the setup's profile name buffer (FilterSetup.profileName). */
#define KX_PROFILE_NAME_SIZE 144

/* One row of a family library's export table. */
typedef struct FilterExportRow {
    const char *name;
    int64_t ordinal;              /* not read by the loader */
    void *entry;                  /* function, or data for "szDLLName" */
} FilterExportRow;

/* A library loaded by the family's loader; filled by its fltLoadPointers. */
typedef struct SharedLib {
    void *dlHandle;
    int16_t rowCount;
    uint8_t pad[6];
    FilterExportRow *rows;
} SharedLib;

typedef void (*FltLoadPointersProc)(SharedLib *lib);

/* The host's file-information record; size is set by the host and may be
 * shorter than the whole record. */
typedef struct FileInfo {
    int32_t size;
    int32_t pad0;
    double value1;                /* id 1, > 0.0 */
    int32_t width;                /* id 3, >= 1 */
    int32_t pad1;
    double value2;                /* id 2, > 0.0 */
    int32_t height;               /* id 4, >= 1 */
    int32_t value5;               /* id 5, >= 1 */
    int32_t value6;               /* id 6, >= 1 */
    int32_t bitsPerPixel;         /* id 7: 8 single channel, else 24 */
    uint32_t value8;              /* id 8, 0 or 1 */
    int32_t value9;               /* id 9, >= 1 */
    uint32_t setFlags;            /* bit (id - 1) set for each id stored */
} FileInfo;

/* The descriptor that selects a source in qorOpen. */
typedef struct QorOpenDesc {
    void *blockPtr;               /* memory: address of the caller's data pointer;
                                     callback: context for the open call */
    int32_t blockSize;            /* memory: size; rewritten by qorOpen */
    uint32_t growBy;              /* memory: growth increment */
    FILE *handedStream;           /* mode 0xFFFFFFFF: open stream, or (FILE*)-1 */
    HostIoProc ioCallback;
    void *ioContext;              /* mode 0xFFFFFFFF with callback */
} QorOpenDesc;

/* A QorFile is a movable memory handle whose data is the I/O record. */
typedef HGLOBAL QorFile;

KX_END_DECLS

#ifdef __cplusplus
#define KX_STATIC_ASSERT static_assert
#else
#define KX_STATIC_ASSERT _Static_assert
#endif

KX_STATIC_ASSERT(sizeof(MessageArgs) == 80, "MessageArgs is ten words");
KX_STATIC_ASSERT(offsetof(HostRecord, userValue) == 8, "HostRecord word 1");
KX_STATIC_ASSERT(offsetof(HostRecord, statusProc) == 16, "HostRecord word 2");
KX_STATIC_ASSERT(offsetof(HostRecord, inputBlock) == 48, "HostRecord word 6");
KX_STATIC_ASSERT(offsetof(InterpretStructure, setup) == 8, "InterpretStructure word 1");
KX_STATIC_ASSERT(offsetof(InterpretStructure, hostValue) == 16, "InterpretStructure word 2");
KX_STATIC_ASSERT(offsetof(InterpretStructure, deviceString1) == 24, "InterpretStructure word 3");
KX_STATIC_ASSERT(offsetof(InterpretStructure, deviceString3) == 40, "InterpretStructure word 5");
KX_STATIC_ASSERT(offsetof(InterpretStructure, hostRecord) == 48, "InterpretStructure word 6");
KX_STATIC_ASSERT(offsetof(InterpretStructure, hostIoHandle) == 56, "InterpretStructure word 7");
KX_STATIC_ASSERT(offsetof(InterpretStructure, fatSectorLimit) == 64, "InterpretStructure word 8");
KX_STATIC_ASSERT(sizeof(InterpretStructure) == 72, "InterpretStructure is nine words");
KX_STATIC_ASSERT(sizeof(FilterOptions) == 56, "FilterOptions is 56 bytes");
KX_STATIC_ASSERT(offsetof(FilterOptions, optionByte) == 8, "FilterOptions optionByte");
KX_STATIC_ASSERT(offsetof(FilterOptions, resolutionChoice) == 48, "FilterOptions resolution");
KX_STATIC_ASSERT(sizeof(FilterExportRow) == 24, "export rows are three words");
KX_STATIC_ASSERT(offsetof(SharedLib, rowCount) == 8, "SharedLib row count");
KX_STATIC_ASSERT(offsetof(SharedLib, rows) == 16, "SharedLib rows");
KX_STATIC_ASSERT(sizeof(SharedLib) == 24, "SharedLib is 24 bytes");
KX_STATIC_ASSERT(offsetof(FileInfo, value1) == 8, "FileInfo id 1");
KX_STATIC_ASSERT(offsetof(FileInfo, width) == 16, "FileInfo id 3");
KX_STATIC_ASSERT(offsetof(FileInfo, value2) == 24, "FileInfo id 2");
KX_STATIC_ASSERT(offsetof(FileInfo, height) == 32, "FileInfo id 4");
KX_STATIC_ASSERT(offsetof(FileInfo, value5) == 36, "FileInfo id 5");
KX_STATIC_ASSERT(offsetof(FileInfo, value6) == 40, "FileInfo id 6");
KX_STATIC_ASSERT(offsetof(FileInfo, bitsPerPixel) == 44, "FileInfo id 7");
KX_STATIC_ASSERT(offsetof(FileInfo, value8) == 48, "FileInfo id 8");
KX_STATIC_ASSERT(offsetof(FileInfo, value9) == 52, "FileInfo id 9");
KX_STATIC_ASSERT(offsetof(FileInfo, setFlags) == 56, "FileInfo flags");
KX_STATIC_ASSERT(offsetof(QorOpenDesc, blockSize) == 8, "QorOpenDesc blockSize");
KX_STATIC_ASSERT(offsetof(QorOpenDesc, growBy) == 12, "QorOpenDesc growBy");
KX_STATIC_ASSERT(offsetof(QorOpenDesc, handedStream) == 16, "QorOpenDesc handedStream");
KX_STATIC_ASSERT(offsetof(QorOpenDesc, ioCallback) == 24, "QorOpenDesc ioCallback");
KX_STATIC_ASSERT(offsetof(QorOpenDesc, ioContext) == 32, "QorOpenDesc ioContext");

#endif
