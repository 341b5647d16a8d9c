// The record behind a QorFile handle: one movable block (flags 0x42) holding
// the state of an open file, memory block, host callback, host stream object,
// Compound File storage or stream. Field order is fixed; every operation
// locks the handle for its own duration only.
#pragma once

#include "port/global_lock.h"

#include <kxfpx/memory.h>
#include <kxfpx/qorfile.h>
#include <kxfpx/records.h>

#include <cstdint>
#include <cstdio>

namespace kxfpx::io {

struct QorFileRec {
    FILE *stream;               // path-opened or handed-in stdio stream; null for memory
    HGLOBAL bufHandle;          // file: the 12288-byte buffer; memory: the caller's block
    void **blockPtrSlot;        // memory: the caller's variable holding the data pointer
    int32_t bufIndex;           // next byte to read or write in the buffer
    int32_t bufLast;            // last valid byte in the buffer; -1 when empty
    int32_t bufLimit;           // last usable byte: 12287 for a file, size - 1 for memory
    int32_t bufBase;            // file offset of the buffer's first byte
    int32_t nextOffset;         // file offset of the next fill; -1 marks a memory block
    uint32_t dirty;             // 1 when the buffer holds unwritten bytes
    uint32_t growBy;            // memory: growth increment
    int32_t endOffset;          // file size / memory last index / host object size
    HGLOBAL stagingHandle;      // stream being created: 8-byte block -> 4096-byte staging
    HostIoProc hostIo;          // host I/O callback or the compound-stream callback
    void *hostHandle;           // callback handle, or the host stream object
    uint32_t openMode;          // the mode given to qorOpen
    uint32_t borrowedStream;    // 1: the stdio stream was handed in, never closed here
    int32_t lastError;          // 0, or -1 after a failure
    int16_t dataFormat;         // 1 big-endian, else little-endian
    int16_t floatFormat;        // 1: floats stored as 16.16 fixed point
    int16_t lineFormat;         // 0 CR LF, 1 CR, 2 LF
    uint8_t *cfHeader;          // Compound File: copy of the 76 header bytes
    uint32_t openedByName;      // 1 when opened by path: storages get own buffers
    uint32_t streamPos;         // Compound File stream position
    uint32_t ownsTables;        // 1 on the root storage
    uint32_t inCompound;        // 1 on storages and inner stream records
    uint32_t isStream;          // 1 on a stream record
    uint32_t **fatHolder;       // 8-byte block holding the FAT array pointer
    uint32_t **miniFatHolder;   // 8-byte block holding the MiniFAT array pointer
    uint32_t miniStreamStart;   // first sector of the mini stream
    uint32_t miniStreamSize;    // size of the mini stream
    uint32_t startSector;       // this storage's or stream's first sector
    uint32_t streamSize;        // this stream's size
    uint32_t childEntry;        // root of this storage's children tree
    HGLOBAL streamCtx;          // 8-byte block holding the inner stream record's handle
    uint32_t **difatHolder;     // the DIFAT while it is in use
    uint32_t *dirCountPtr;      // writer: shared count of directory entries
    uint32_t entryIndex;        // writer: this entry's directory index
    uint8_t **dirHolder;        // writer: the shared in-memory directory
    QorFile outFile;            // writer: the file being written
    // Compound File cursors (added after the fields above): where the last
    // read or append stopped in this stream's sector chain, so that
    // sequential access never walks a chain from its start again.
    uint32_t chainIndex;        // stream: index in its chain of chainSector
    uint32_t chainSector;       // stream: sector number at chainIndex
    uint32_t miniChainIndex;    // mini stream read: index in the mini stream's chain
    uint32_t miniChainSector;   // mini stream read: sector number at miniChainIndex
    uint32_t cursorFlags;       // which of the two cursors above are valid
    void *cfbShared;            // state shared by a root and its storages and streams
};

// Buffer size of a path-opened file and of every storage and stream record
// of such a file.
constexpr int32_t kQorBufferSize = 12288;

// Internals shared by the stages of the I/O layer (open/close, buffered
// read/write/seek, fill/flush, typed and record I/O).

constexpr int32_t kMemoryBlockMark = -1; // nextOffset of a memory block
constexpr uint8_t kEndMarker = 0xFF;     // appended when a written memory block closes
constexpr int16_t kLineCrLf = QOR_LINE_CRLF; // lineFormat values
constexpr int16_t kLineCr = QOR_LINE_CR;
constexpr int16_t kLineLf = QOR_LINE_LF;
constexpr int16_t kBigEndian = QOR_BIG_ENDIAN; // dataFormat: most significant byte first
constexpr int16_t kFixedPoint = 1;       // floatFormat: 16.16 fixed point
constexpr int32_t kObjectFailed = -9;    // host stream object: read failed

// Pins a QorFile record for the duration of one operation.
class RecordLock {
public:
    explicit RecordLock(QorFile handle) : lock_(handle) {}

    QorFileRec *get() const { return lock_.as<QorFileRec>(); }
    QorFileRec *operator->() const { return get(); }
    QorFileRec &operator*() const { return *get(); }
    explicit operator bool() const { return static_cast<bool>(lock_); }

private:
    kxfpx::port::LockedHandle lock_;
};

// The source a record stands for. Callback mode wins over everything (a
// Compound File stream is a callback record); object mode is a record that
// holds a host stream object but no callback.
inline bool is_callback(const QorFileRec &r) { return r.hostIo != nullptr; }
inline bool is_object(const QorFileRec &r) { return !r.hostIo && r.hostHandle; }
inline bool is_memory(const QorFileRec &r) { return !r.stream && r.nextOffset == kMemoryBlockMark; }
inline bool has_write_access(uint32_t mode) { return (mode & 0x3u) != 0; } // write or read-write bit
inline QorHostStream *host_object(const QorFileRec &r)
{
    return static_cast<QorHostStream *>(r.hostHandle);
}

// Marks the record as failed (lastError -1, which later writes see) and
// gives the -1 that the failing operation returns.
inline int32_t fail(QorFileRec &rec)
{
    rec.lastError = -1;
    return -1;
}

// Empties a file's buffer window and starts it at file offset `base`, where
// the next fill reads and the next flush writes.
inline void start_window(QorFileRec &rec, int32_t base)
{
    rec.bufIndex = 0;
    rec.bufLast = -1;
    rec.bufLimit = kQorBufferSize - 1;
    rec.bufBase = base;
    rec.nextOffset = base;
}

// Size of a stdio stream: note the position, seek to the end, seek back.
// -1 when the stream cannot seek (a pipe, a terminal).
int32_t measure_end(FILE *stream);

// Grows a memory block by `extra` bytes past bufLimit (GlobalReAlloc, flags
// 0), rewrites the caller's data pointer and bufLimit. False when the new
// size does not fit a signed 32-bit index (the block is left as it was) or
// when the heap refuses it (the block is then gone; see the definition).
bool grow_memory_block(QorFileRec &rec, uint64_t extra);

} // namespace kxfpx::io
