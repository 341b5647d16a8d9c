/* The output library binding and the control of device and picture, with
 * error and message reporting to the host's status procedure. The records
 * and slot numbers below are the interface with the output library
 * libzo_unx2.so; the functions are the filter's exported operations. */
#ifndef KXFPX_OUTPUT_H
#define KXFPX_OUTPUT_H

#include "records.h"
#include "setup.h"

KX_BEGIN_DECLS

/* ---- records shared with the output library ---------------------------- */

/* A point: two signed 32-bit coordinates, each in the low bytes of its own
 * 8-byte slot (x first), so arrays of points have a stride of 16 bytes. */
typedef struct CoordPoint {
    int64_t x, y;
} CoordPoint;

/* Two corner points, x before y; only the low 32 bits of a slot are read. */
typedef struct CoordRect {
    int64_t x1, y1, x2, y2;
} CoordRect;

/* One colour: red, green, blue, each 0 to 255. */
typedef struct ColourRec {
    int32_t red, green, blue;
} ColourRec;

/* Slots of the output function table. */
enum {
    KX_GDSF_BEGIN_PICTURE = 5,
    KX_GDSF_BEGIN_PICTURE_BODY = 6,
    KX_GDSF_END_PICTURE = 7,
    KX_GDSF_BEGIN_REGION = 18,
    KX_GDSF_END_REGION = 19,
    KX_GDSF_SET_OUTPUT_PARAMETER_A = 30,
    KX_GDSF_SET_OUTPUT_PARAMETER_B = 33,
    KX_GDSF_SET_SCALING = 51,
    KX_GDSF_SET_PICTURE_EXTENT = 58,
    KX_GDSF_SET_BACKGROUND = 59,
    KX_GDSF_SET_OUTPUT_PARAMETER_C = 74,
    KX_GDSF_SET_BODY_RECTANGLE = 78,
    KX_GDSF_SET_REGION_INDICATOR = 92,
    KX_GDSF_POLYGON = 105,
    KX_GDSF_IMAGE_ROWS = 107,
    KX_GDSF_BEGIN_IMAGE = 143,
    KX_GDSF_END_IMAGE = 144,
    KX_GDSF_SET_COLOURS = 181,
    KX_GDSF_QUERY_ERROR = 300,
    KX_GDSF_CLEAR_ERROR = 301,
    KX_GDSF_OPEN_WORKSTATION = 303,
    KX_GDSF_ACTIVATE_OUTPUT = 305,
    KX_GDSF_DEACTIVATE_OUTPUT = 306,
    KX_GDSF_CLOSE_WORKSTATION = 307,
    KX_GDSF_SHUTDOWN = 308,
    KX_GDSF_SET_DEVICE_VIEWPORT = 310,
    KX_GDSF_SET_DEVICE_STRINGS = 316,
    KX_GDSF_SLOT_COUNT = 317 /* a table has at least this many slots */
};

/* Pixel formats of BeginImage and ImageRows. */
enum {
    KX_PIXELS_RGB24 = -24,   /* rows of red, green, blue bytes     */
    KX_PIXELS_INDEX8 = -8    /* rows of one-byte colour indices    */
};

/* Error codes of the output library, read back with QueryError (and the
 * status of OpenWorkstation and CloseWorkstation); maperror turns them into
 * host codes. */
enum {
    KX_GDSF_ERR_NONE = 0,
    KX_GDSF_ERR_STATE = 20,            /* call out of order                   */
    KX_GDSF_ERR_DEVICE_FIRST = 21,     /* 21..26: no usable device            */
    KX_GDSF_ERR_DEVICE_LAST = 26,
    KX_GDSF_ERR_NOT_AN_ERROR = 76,     /* a status that means nothing failed  */
    KX_GDSF_ERR_DEVICE_IO_FIRST = 161, /* 161..166: device input and output   */
    KX_GDSF_ERR_DEVICE_IO_LAST = 166,
    KX_GDSF_ERR_LIMIT = 168,           /* a device limit was exceeded         */
    KX_GDSF_ERR_MEMORY = 300,          /* out of memory, picture too large    */
    KX_GDSF_ERR_PARAMETER = 301,       /* an argument is out of range         */
    KX_GDSF_ERR_FILE = 302,            /* output file error; see second codes */
    KX_GDSF_ERR_UNSUPPORTED = 303,     /* unsupported request or pixel format */
    KX_GDSF_ERR_RESOURCE_FIRST = 304,  /* 304, 305: resource errors           */
    KX_GDSF_ERR_RESOURCE_LAST = 305,
    KX_GDSF_ERR_CANCELLED = 901        /* the operation was cancelled         */
};
/* Second codes that go with KX_GDSF_ERR_FILE. */
enum {
    KX_GDSF_FILE_CANNOT_WRITE = 269    /* the output file cannot be written   */
};

/* Entry names in the output library's export rows. */
#define KX_GDSF_LIBRARY_NAME "libzo_unx2.so"
#define KX_GDSF_OPEN_ENTRY "C_OpenOutput"
#define KX_GDSF_TABLE_ENTRY "C_GetOutputTable"
#define KX_GDSF_UNLOAD_ENTRY "UnLoadOutput"

/* The output function table: one function pointer per slot; a slot the
 * library does not provide is null. Each slot's real type is below. */
typedef void (*GdsfProc)(void);
typedef struct GdsfTable {
    GdsfProc slots[KX_GDSF_SLOT_COUNT];
} GdsfTable;

/* Entries found through the export rows. The context's first word points
 * to an object whose first word receives the SharedLib of the library. */
typedef void *(*GdsfOpenOutputProc)(int64_t reserved);
typedef GdsfTable *(*GdsfGetTableProc)(void *context);

/* Slot types: the output context first, then the arguments of the slot.
 * Every slot returns a 64-bit value; only OpenWorkstation, CloseWorkstation,
 * SetDeviceViewport and Shutdown have results the filter reads. */
typedef int64_t (*GdsfNoArgProc)(void *context);
typedef int64_t (*GdsfNameProc)(void *context, const char *name);
typedef int64_t (*GdsfIntProc)(void *context, int32_t value);
typedef int64_t (*GdsfIntPairProc)(void *context, int32_t first, int32_t second);
typedef int64_t (*GdsfScalingProc)(void *context, int32_t mode, uint64_t realBits);
typedef int64_t (*GdsfRectProc)(void *context, const CoordRect *rect);
typedef int64_t (*GdsfColourProc)(void *context, const ColourRec *colour);
typedef int64_t (*GdsfPolygonProc)(void *context, int32_t count, const CoordPoint *points);
typedef int64_t (*GdsfBeginImageProc)(void *context, const CoordPoint *p0, const CoordPoint *p1,
                                      const CoordPoint *p2, const int32_t *size, int32_t format,
                                      int32_t arg1, int32_t arg2, int32_t arg3, int32_t arg4);
typedef int64_t (*GdsfImageRowsProc)(void *context, const CoordPoint *p0, const CoordPoint *p1,
                                     const CoordPoint *p2, const int32_t *size, int32_t format,
                                     int32_t arg1, const uint8_t *rows);
typedef int64_t (*GdsfSetColoursProc)(void *context, uint16_t first, int32_t count,
                                      const ColourRec *colours);
typedef int64_t (*GdsfQueryErrorProc)(void *context, int32_t wanted, int32_t *count,
                                      int16_t *codes);
typedef int64_t (*GdsfOpenWorkstationProc)(void *context, const char *outputName,
                                           const char *deviceName, int32_t flags,
                                           uint64_t hostValue, HostRecord *host);
typedef int64_t (*GdsfDeviceStringsProc)(void *context, const char *string1,
                                         const char *string2, const char *string3);

/* The open output library of one import (the setup's gdsf). */
typedef struct GdsfHandle {
    SharedLib *lib;
    void *context;
    GdsfTable *table;
} GdsfHandle;

/* ---- loading the output library ---------------------------------------- */

KX_API GdsfHandle *OpenGDSF(SharedLib *lib);
KX_API int32_t CloseGDSF(GdsfHandle *handle);

/* ---- picture and device control ---------------------------------------- */

KX_API void SetInterpretStructure(FilterSetup *setup, InterpretStructure *interp);
KX_API int32_t OpenDevice(FilterSetup *setup);
KX_API int32_t BeginPic(FilterSetup *setup, const char *name);
KX_API int32_t BeginPicBody(FilterSetup *setup);
KX_API int32_t EndPic(FilterSetup *setup);
KX_API int32_t SetBackgroundColor(FilterSetup *setup, const uint8_t *rgb);
KX_API int32_t SetColorTable(FilterSetup *setup, int16_t first, int32_t count,
                             const uint8_t *entries);
KX_API int64_t SetViewport(FilterSetup *setup, int32_t mode, const CoordRect *slots,
                           int16_t scaleMode);
KX_API int32_t CloseDevice(FilterSetup *setup);
KX_API int32_t esc_chk(FilterSetup *setup);
KX_API int32_t chk_esc(FilterSetup *setup);

/* ---- error and message reporting --------------------------------------- */

KX_API int32_t maperror(int32_t code, int32_t secondCode);
KX_API int32_t cgierror(FilterSetup *setup, int16_t *codes);
KX_API void set_err(FilterSetup *setup, int32_t code);
KX_API int32_t CallGetSet_Status(StatusProc proc, uint64_t userValue, int32_t kind, int32_t code,
                                 int32_t value1, int32_t value2, int32_t style,
                                 MessageArgs *args);
KX_API int32_t err_hand(FilterSetup *setup, int32_t code, int32_t kind, MessageArgs *args);

/* message, ask_yesno and qorgen_error take up to ten optional 64-bit
 * arguments as ten fixed parameters, copied in order into the MessageArgs
 * block sent to the host. C callers pass all ten (zero for unused ones);
 * C++ callers may leave out trailing ones, which default to zero. */
#ifdef __cplusplus
#define KX_OPT_ARG = 0
#else
#define KX_OPT_ARG
#endif
#define KX_MESSAGE_PARAMS                                                                      \
    FilterSetup *setup, int32_t code, uint64_t arg1 KX_OPT_ARG, uint64_t arg2 KX_OPT_ARG,      \
        uint64_t arg3 KX_OPT_ARG, uint64_t arg4 KX_OPT_ARG, uint64_t arg5 KX_OPT_ARG,          \
        uint64_t arg6 KX_OPT_ARG, uint64_t arg7 KX_OPT_ARG, uint64_t arg8 KX_OPT_ARG,          \
        uint64_t arg9 KX_OPT_ARG, uint64_t arg10 KX_OPT_ARG

KX_API int32_t message(KX_MESSAGE_PARAMS);
KX_API int32_t ask_yesno(KX_MESSAGE_PARAMS);
KX_API int32_t qorgen_error(KX_MESSAGE_PARAMS);

#undef KX_MESSAGE_PARAMS
#undef KX_OPT_ARG

KX_END_DECLS

KX_STATIC_ASSERT(sizeof(CoordPoint) == 16, "a point is two 8-byte slots");
KX_STATIC_ASSERT(sizeof(CoordRect) == 32, "a rectangle is four 8-byte slots");
KX_STATIC_ASSERT(sizeof(ColourRec) == 12, "a colour is three 32-bit components");
KX_STATIC_ASSERT(sizeof(GdsfTable) == KX_GDSF_SLOT_COUNT * sizeof(void *),
                 "the output table is an array of function pointers");

#endif
