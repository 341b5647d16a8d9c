// Opening and closing a QorFile. qorOpen picks one of four sources (a file
// by path or a standard stream, a caller's memory block, a host I/O callback,
// a host stream object from the host's file hook) and fills the record;
// qorClose flushes, marks the end of a written memory block and frees it.
#include "io/qorfile_rec.h"

#include "port/family_libs.h"
#include "port/owner.h"

#include <cstring>
#include <unistd.h>

namespace {

using namespace kxfpx::io;
using kxfpx::port::host_file_hook;

constexpr int32_t kRequestPathUsed = 6;                  // host object request: path taken
constexpr uint32_t kLowByteMask = 0xFFu;
constexpr intptr_t kExistsFound = 1;   // exist mode: any value but 0 and -1
constexpr intptr_t kExistsMissing = -1;
FILE *const kNoStream = reinterpret_cast<FILE *>(-1); // "no handed-in stream"

QorFile as_handle(intptr_t value) { return reinterpret_cast<QorFile>(value); }

// A half-made record, freed on every failure path of qorOpen.
using RecordOwner = kxfpx::port::Owner<QorFile, GlobalFree>;

// A new zero-filled record for an open in `mode`; empty when memory is out.
RecordOwner new_record(uint32_t mode)
{
    RecordOwner owner(GlobalAlloc(KX_GHND, sizeof(QorFileRec)));
    if (RecordLock rec{owner.get()})
        rec->openMode = mode;
    return owner;
}

bool is_standard_stream(const FILE *stream)
{
    return stream == stdin || stream == stdout || stream == stderr;
}

// Object mode through the host's file hook, for creating opens without a
// descriptor. Null when the hook is absent or declines.
QorFile open_host_object(const char *path, uint32_t mode)
{
    HostFileHook hook = host_file_hook();
    if (!hook)
        return nullptr;
    QorHostStream *object = nullptr;
    // The hook and the object's request take the caller's path buffer, which
    // they may empty; a creating open therefore needs a writable path.
    char *path_buffer = const_cast<char *>(path);
    // A hook that answers 0 but hands back no object is treated as declining
    // (there is nothing to call), and the open goes on as without a hook.
    if (hook(&object, path_buffer, mode) != 0 || !object)
        return nullptr;
    RecordOwner owner = new_record(mode);
    RecordLock rec(owner.get());
    if (!rec) {
        // The host made the object for us: give it back rather than leak it.
        if (object->close)
            object->close(object);
        return nullptr;
    }
    rec->hostHandle = object;
    if (object->request && object->request(object, kRequestPathUsed, path) != 0 && path_buffer)
        path_buffer[0] = '\0';
    return owner.release();
}

// The stdio mode string of a path open, or null for an unsupported mode.
const char *stdio_mode(uint32_t mode)
{
    if (mode & QOR_CREATE)
        return "w+";
    const uint32_t low = mode & kLowByteMask;
    if (low == 0)
        return "r";
    if (low & QOR_READWRITE)
        return "r+";
    if (low & QOR_WRITE)
        return "w+";
    return nullptr;
}

// A stdio stream behind a 12288-byte buffer, positioned at offset 0.
bool setup_buffered_file(QorFileRec &rec, FILE *stream)
{
    HGLOBAL buffer = GlobalAlloc(KX_GHND, kQorBufferSize);
    if (!buffer)
        return false;
    rec.stream = stream;
    rec.bufHandle = buffer;
    start_window(rec, 0);
    rec.lastError = 0;
    rec.lineFormat = kLineLf;
    rec.endOffset = measure_end(stream);
    return true;
}

bool open_by_name(QorFileRec &rec, const char *path, uint32_t mode)
{
    rec.openedByName = 1;
    FILE *stream = nullptr;
    if (std::strcmp(path, "stdin") == 0) {
        stream = stdin;
    } else if (std::strcmp(path, "stdout") == 0) {
        stream = stdout;
    } else {
        const char *how = stdio_mode(mode);
        if (!how)
            return false;
        stream = std::fopen(path, how);
        if (!stream)
            return false;
    }
    if (setup_buffered_file(rec, stream))
        return true;
    if (!is_standard_stream(stream))
        std::fclose(stream);
    return false;
}

// The caller's memory block: read and written in place, its logical length
// found from the end marker unless the open creates it afresh.
bool open_memory_block(QorFileRec &rec, QorOpenDesc &desc, uint32_t mode)
{
    // A negative size is refused like 0: there is no block to read.
    if (desc.blockSize <= 0 || !desc.blockPtr)
        return false;
    void **slot = static_cast<void **>(desc.blockPtr);
    uint8_t *data = static_cast<uint8_t *>(*slot);
    if (!data)
        return false;
    HGLOBAL block = GlobalHandle(data);
    // Never look past the block itself, whatever size the caller claims.
    int64_t usable = desc.blockSize;
    if (static_cast<int64_t>(GlobalSize(block)) < usable)
        usable = GlobalSize(block);

    rec.bufHandle = block;
    rec.blockPtrSlot = slot;
    int32_t limit_size = static_cast<int32_t>(usable);
    if (mode & QOR_CREATE) {
        rec.bufLast = -1;
    } else {
        // Drop the zero tail, then the last non-zero byte: the end marker.
        int32_t marker = static_cast<int32_t>(usable) - 1;
        while (marker >= 0 && data[marker] == 0)
            marker--;
        desc.blockSize = marker;
        limit_size = marker;
        rec.bufLast = marker - 1;
    }
    rec.bufIndex = 0;
    rec.bufLimit = limit_size - 1;
    rec.bufBase = 0;
    rec.nextOffset = kMemoryBlockMark;
    rec.growBy = desc.growBy;
    rec.endOffset = rec.bufLast;
    rec.lineFormat = kLineLf;
    return true;
}

QorFile open_record(const char *path, QorOpenDesc *desc, uint32_t mode)
{
    RecordOwner owner = new_record(mode);
    RecordLock rec(owner.get());
    if (!rec)
        return nullptr;

    if (mode == QOR_HANDED) {
        if (!desc)
            return nullptr;
        rec->borrowedStream = 1;
        if (desc->ioCallback) {
            rec->hostIo = desc->ioCallback;
            rec->hostHandle = desc->ioContext;
            return owner.release();
        }
        if (desc->handedStream == kNoStream || !desc->handedStream)
            return nullptr;
        // Storages and streams of a handed-in stream get buffers of their
        // own, as those of a file opened by path do: two records refilling
        // one shared buffer would read each other's windows.
        rec->openedByName = 1;
        if (!setup_buffered_file(*rec, desc->handedStream))
            return nullptr;
        return owner.release();
    }

    if (desc && desc->ioCallback) {
        const int64_t host = desc->ioCallback(desc->blockPtr, QOR_IO_OPEN, const_cast<char *>(path),
                                              static_cast<int64_t>(mode));
        if (host != 0) {
            rec->hostIo = desc->ioCallback;
            rec->hostHandle = reinterpret_cast<void *>(static_cast<intptr_t>(host));
            return owner.release();
        }
    }

    if (path && path[0]) {
        if (!open_by_name(*rec, path, mode))
            return nullptr;
        return owner.release();
    }
    if (!desc || !open_memory_block(*rec, *desc, mode))
        return nullptr;
    return owner.release();
}

} // namespace

extern "C" {

KX_API QorFile qorOpen(const char *path, QorOpenDesc *desc, uint32_t mode)
{
    // Existence and deletion go to the host's callback when it has one.
    if (desc && desc->ioCallback) {
        if (mode == QOR_EXIST)
            return as_handle(static_cast<intptr_t>(
                desc->ioCallback(nullptr, QOR_IO_EXISTS, const_cast<char *>(path), 0)));
        if (mode == QOR_DELETE)
            return as_handle(static_cast<intptr_t>(
                desc->ioCallback(nullptr, QOR_IO_DELETE, const_cast<char *>(path), 0)));
    }

    // Without a descriptor the host's file hook has the first word.
    if (!desc) {
        if (mode & QOR_CREATE) {
            if (QorFile object = open_host_object(path, mode))
                return object;
        }
        // Deleting is the host's business when it handles files: nothing
        // is deleted here.
        if ((mode & QOR_DELETE) && host_file_hook())
            return as_handle(1);
    }

    if (mode == QOR_EXIST) {
        FILE *probe = path ? std::fopen(path, "r") : nullptr;
        if (!probe)
            return as_handle(kExistsMissing);
        std::fclose(probe);
        return as_handle(kExistsFound);
    }
    if (mode == QOR_DELETE)
        return as_handle(path && ::unlink(path) == 0 ? 1 : 0);

    return open_record(path, desc, mode);
}

KX_API int32_t qorClose(QorFile file)
{
    if (!file)
        return -1;
    int32_t result = 0;
    {
        RecordLock rec(file);
        if (!rec)
            return -1;
        if (is_callback(*rec)) {
            rec->hostIo(rec->hostHandle, QOR_IO_CLOSE, nullptr, 0);
        } else if (is_object(*rec)) {
            QorHostStream *object = host_object(*rec);
            if (object->close)
                object->close(object);
        } else if (rec->stream) {
            const int32_t flushed = FlushQorIO(file);
            int32_t closed = 0;
            if (!rec->borrowedStream) {
                // The process's standard streams are shared with the host and
                // are only flushed, never closed, when a record lets go of them.
                closed = is_standard_stream(rec->stream) ? std::fflush(rec->stream)
                                                         : std::fclose(rec->stream);
            }
            rec->stream = nullptr;
            GlobalFree(rec->bufHandle);
            rec->bufHandle = nullptr;
            result = flushed == -1 ? -1 : closed;
        } else if (is_memory(*rec) && has_write_access(rec->openMode)) {
            // The block stays the caller's; it only gains its end marker.
            const uint8_t marker = kEndMarker;
            qorSeek(file, 0, SEEK_END);
            result = qorWrite(file, &marker, 1) == 1 ? 0 : -1;
        }
    }
    GlobalFree(file);
    return result;
}

} // extern "C"
