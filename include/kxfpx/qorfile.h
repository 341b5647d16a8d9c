/* QorFile: one buffered I/O handle over files (by path, "stdin", "stdout" or
 * a handed-in stdio stream), caller memory blocks, host I/O callbacks and
 * host stream objects; typed reads and writes in either byte order, record
 * format strings and text lines on top of it. */
#ifndef KXFPX_QORFILE_H
#define KXFPX_QORFILE_H

#include "records.h"

KX_BEGIN_DECLS

/* qorOpen modes (the Windows OpenFile flag values). */
#define QOR_READ 0x0000u
#define QOR_WRITE 0x0001u
#define QOR_READWRITE 0x0002u
#define QOR_DELETE 0x0200u
#define QOR_CREATE 0x1000u
#define QOR_EXIST 0x4000u
#define QOR_HANDED 0xFFFFFFFFu

/* Byte orders and float format of qorSetDataFormat and qorGetDataFormat. */
#define QOR_LITTLE_ENDIAN 0
#define QOR_BIG_ENDIAN 1
#define QOR_IEEE_FLOATS 0
/* Line ends of qorSetLineFormat and qorGetLineFormat. */
#define QOR_LINE_CRLF 0
#define QOR_LINE_CR 1
#define QOR_LINE_LF 2

/* Host I/O callback operations. */
#define QOR_IO_OPEN 1
#define QOR_IO_READ 2
#define QOR_IO_WRITE 3
#define QOR_IO_SEEK 4
#define QOR_IO_CLOSE 5
#define QOR_IO_EXISTS 6
#define QOR_IO_DELETE 7

/* The host stream object handed back by the host's file hook: its first
 * members are six entries, each taking the object first. */
typedef struct QorHostStream QorHostStream;
struct QorHostStream {
    int32_t (*close)(QorHostStream *self);
    int32_t (*read)(QorHostStream *self, void *buffer, int32_t count, int32_t *done); /* -9 fails */
    int32_t (*write)(QorHostStream *self, const void *buffer, int32_t count, int32_t *done);
    int32_t (*seek)(QorHostStream *self, int32_t whence, int32_t offset);
    int32_t (*tell)(QorHostStream *self, int32_t *position);
    int32_t (*request)(QorHostStream *self, int32_t code, const char *path);
};

/* The host's file hook, global option 67 of the option library: called with
 * (address for the object, path, mode); 0 means the object was made. */
typedef int32_t (*HostFileHook)(QorHostStream **object, char *path, uint32_t mode);

/* Byte operations. */
KX_API QorFile qorOpen(const char *path, QorOpenDesc *desc, uint32_t mode);
KX_API int32_t qorRead(QorFile file, void *buffer, int32_t count);
KX_API int32_t qorWrite(QorFile file, const void *buffer, int32_t count);
KX_API int32_t qorSeek(QorFile file, int32_t offset, int32_t whence);
KX_API int32_t qorClose(QorFile file);
KX_API int32_t qorCopy(const char *source, const char *destination);
KX_API int32_t qorCheckBuf(QorFile file, int32_t count);
KX_API int32_t unxSeek(FILE *stream, int32_t offset, int32_t whence);
KX_API int32_t FillQorIOBuf(QorFile file);
KX_API int32_t FlushQorIO(QorFile file);

/* Typed reads: (file, destination, element count) -> count or 0. */
KX_API int32_t qorReadChar(QorFile file, void *dest, int32_t count);
KX_API int32_t qorReadShort(QorFile file, void *dest, int32_t count);
KX_API int32_t qorReadLong(QorFile file, void *dest, int32_t count);
KX_API int32_t qorReadFloat(QorFile file, void *dest, int32_t count);
KX_API int32_t qorReadDouble(QorFile file, void *dest, int32_t count);

/* Typed writes: (file, source, element count). */
KX_API int32_t qorWriteChar(QorFile file, const void *src, int32_t count);
KX_API int32_t qorWriteShort(QorFile file, const void *src, int32_t count);
KX_API int32_t qorWriteLong(QorFile file, const void *src, int32_t count);
KX_API int32_t qorWriteFloat(QorFile file, const void *src, int32_t count);
KX_API int32_t qorWriteDouble(QorFile file, const void *src, int32_t count);

/* Format control. */
KX_API int32_t qorSetDataFormat(QorFile file, int16_t byteOrder, int16_t floatFormat);
KX_API int32_t qorGetDataFormat(QorFile file, int16_t *byteOrder, int16_t *floatFormat);
KX_API int32_t qorSetLineFormat(QorFile file, int16_t lineFormat);
KX_API int32_t qorGetLineFormat(QorFile file);
KX_API void qorNativeToLE(void *buffer, uint32_t value, int32_t count);
KX_API void qorNativeToBE(void *buffer, uint32_t value, int32_t count);

/* Lines. */
KX_API int32_t qorReadLine(QorFile file, char *buffer, int32_t size);
KX_API int32_t qorWriteLine(QorFile file, const char *text, int32_t length);

/* Records described by format strings such as "3L{4C}". */
KX_API int32_t qorReadStruct(QorFile file, const char *format, void *dest, int32_t count);
KX_API int32_t qorWriteStruct(QorFile file, const char *format, const void *src, int32_t count);
KX_API int32_t GetPadWidth(const char *format);
KX_API const char *GetUnionSize(const char *format, int32_t *size);

KX_END_DECLS

#endif
