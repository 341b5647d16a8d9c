/* FilterSetup: the per-setup record, kept in one zero-filled movable block
 * made by xCreateSetup and handed, locked, to every stage of an import.
 * Field order is fixed; the options block is always last. */
#ifndef KXFPX_SETUP_H
#define KXFPX_SETUP_H

#include "records.h"

KX_BEGIN_DECLS

#define KX_SETUP_MAGIC 0xFFEEDDCCu

/* xEscapeSetup codes a host sends. */
#define KX_ESCAPE_HOST_READ_PROC 81  /* data: the HostIoProc itself, size 8 */
#define KX_ESCAPE_OPTION_BYTE 82     /* data: points at the byte, size 8 */
#define KX_ESCAPE_RESOLUTION 84      /* data: points at an int16_t choice */

/* Values of the resolution choice (FilterOptions.resolutionChoice): any
 * value other than the first two selects the highest resolution. */
#define KX_RESOLUTION_LOWEST 0
#define KX_RESOLUTION_MIDDLE 1
#define KX_RESOLUTION_HIGHEST 2

/* Sizes of the setup's name fields: a host keeps the names it hands to
 * ImportFile below them (the filter copies them unbounded). */
#define KX_IMPORT_PATH_SIZE 8192
#define KX_OUTPUT_NAME_SIZE 144
#define KX_DEVICE_NAME_SIZE 160

struct GdsfHandle;

typedef struct FilterSetup {
    uint32_t magic;
    char importPath[KX_IMPORT_PATH_SIZE];
    char driverName[16];
    int32_t colourEntryCount;
    int32_t colourTableLength;
    uint8_t colours[256][3];
    char colourNames[256][17];
    int32_t fontCount;
    char fontNames[32][65];
    char fontValues[32][65];
    char outputName[KX_OUTPUT_NAME_SIZE];
    char deviceName[KX_DEVICE_NAME_SIZE];
    char deviceString1[144];
    char deviceString2[144];
    char deviceString3[144];
    int32_t errorCode;
    int32_t progressPercent;
    int32_t fatSectorLimit;
    int32_t progressFirst;
    int32_t progressLast;
    struct GdsfHandle *gdsf;
    char *fileSpecBuffer;
    char modeName[144];
    char profileName[KX_PROFILE_NAME_SIZE];
    char colourTableSource[144];
    HostRecord *hostRecord;
    uint64_t hostValue;
    InterpretStructure *interpretStructure;
    FilterOptions options;
} FilterSetup;

KX_END_DECLS

KX_STATIC_ASSERT(offsetof(FilterSetup, options) + sizeof(FilterOptions) == sizeof(FilterSetup),
                 "the options block ends the setup record");

#endif
