// The record behind a QorFile handle: one movable block (flags 0x42) holding
// the state of an open file, memory block, host callback, host stream object,
// Compound File storage or stream. Field order is fixed; every operation
// locks the handle for its own duration only.
#pragma once

#include <kxfpx/records.h>

#include <cstdint>
#include <cstdio>

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
};

// Buffer size of a path-opened file and of every storage and stream record
// of such a file.
constexpr int32_t kQorBufferSize = 12288;
