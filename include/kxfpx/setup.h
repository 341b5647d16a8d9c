/* FilterSetup: the per-setup record, kept in one zero-filled movable block
 * made by xCreateSetup and handed, locked, to every stage of an import.
 * Field order is fixed; the options block is always last. */
#ifndef KXFPX_SETUP_H
#define KXFPX_SETUP_H

#include "records.h"

KX_BEGIN_DECLS

#define KX_SETUP_MAGIC 0xFFEEDDCCu

struct GdsfHandle;

typedef struct FilterSetup {
    uint32_t magic;
    char importPath[8192];
    char driverName[16];
    int32_t colourEntryCount;
    int32_t colourTableLength;
    uint8_t colours[256][3];
    char colourNames[256][17];
    int32_t fontCount;
    char fontNames[32][65];
    char fontValues[32][65];
    char outputName[144];
    char deviceName[160];
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
