// The buffer beneath a QorFile: filling a file's 12288-byte window with one
// fread, flushing written bytes back (or growing a memory block by its
// increment), the fseek/ftell pair unxSeek, and qorCheckBuf.
#include "io/qorfile_rec.h"

#include <climits>

namespace kxfpx::io {

int32_t measure_end(FILE *stream)
{
    const int32_t position = unxSeek(stream, 0, SEEK_CUR);
    const int32_t end = unxSeek(stream, 0, SEEK_END);
    unxSeek(stream, position, SEEK_SET);
    return end;
}

bool grow_memory_block(QorFileRec &rec, uint64_t extra)
{
    if (!rec.bufHandle)
        return false;
    const int64_t new_size = static_cast<int64_t>(rec.bufLimit) + 1 + static_cast<int64_t>(extra);
    // Indices are signed 32-bit: a block that would outgrow them is refused
    // before anything is reallocated, so it stays intact.
    if (new_size < 0 || new_size > INT32_MAX)
        return false;
    HGLOBAL grown = GlobalReAlloc(rec.bufHandle, static_cast<uint32_t>(new_size), 0);
    if (!grown) {
        // GlobalReAlloc has released the old block. Nothing of it may be
        // touched again: the caller's variable is cleared rather than left
        // dangling, and the record describes an empty block of size 0.
        rec.bufHandle = nullptr;
        if (rec.blockPtrSlot)
            *rec.blockPtrSlot = nullptr;
        rec.bufIndex = 0;
        rec.bufLast = -1;
        rec.bufLimit = -1;
        rec.endOffset = -1;
        rec.dirty = 0;
        return false;
    }
    rec.bufHandle = grown;
    void *data = GlobalLock(grown);
    if (rec.blockPtrSlot)
        *rec.blockPtrSlot = data;
    rec.bufLimit = static_cast<int32_t>(new_size - 1);
    rec.dirty = 0;
    return true;
}

} // namespace kxfpx::io

using namespace kxfpx::io;

extern "C" {

KX_API int32_t unxSeek(FILE *stream, int32_t offset, int32_t whence)
{
    if (!stream || std::fseek(stream, offset, whence) != 0)
        return -1;
    const long told = std::ftell(stream);
    // Offsets are signed 32-bit throughout; a position past them is an error.
    if (told < 0 || told > INT32_MAX)
        return -1;
    return static_cast<int32_t>(told);
}

KX_API int32_t qorCheckBuf(QorFile file, int32_t count)
{
    RecordLock rec(file);
    if (!rec)
        return 0;
    return rec->endOffset >= count ? count : 0;
}

// A null handle has no buffer to fill or flush: both answer -1.
KX_API int32_t FillQorIOBuf(QorFile file)
{
    RecordLock rec(file);
    if (!rec)
        return -1;
    if (is_memory(*rec))
        return 0;
    if (!rec->stream || !rec->bufHandle)
        return -1;
    if (rec->dirty && FlushQorIO(file) == -1)
        rec->lastError = -1;
    if (rec->nextOffset < 0 || unxSeek(rec->stream, rec->nextOffset, SEEK_SET) == -1)
        return fail(*rec);
    // The window never reaches past the largest signed 32-bit offset.
    size_t want = static_cast<size_t>(kQorBufferSize);
    const int64_t room = static_cast<int64_t>(INT32_MAX) - rec->nextOffset;
    if (room < static_cast<int64_t>(want))
        want = static_cast<size_t>(room);
    const size_t got = std::fread(GlobalLock(rec->bufHandle), 1, want, rec->stream);
    const int32_t read = static_cast<int32_t>(got);
    rec->bufIndex = 0;
    rec->bufLast = read - 1;
    rec->bufLimit = kQorBufferSize - 1;
    rec->bufBase = rec->nextOffset;
    rec->nextOffset += read;
    return read;
}

KX_API int32_t FlushQorIO(QorFile file)
{
    RecordLock rec(file);
    if (!rec)
        return -1;
    if (is_memory(*rec)) {
        // An increment of 0 cannot make room: report the block as not
        // growable instead of letting a write spin on a full block.
        if (rec->growBy == 0 || !grow_memory_block(*rec, rec->growBy))
            return -1;
        return 1;
    }
    if (!rec->dirty)
        return 0;
    if (!rec->stream || !rec->bufHandle || unxSeek(rec->stream, rec->bufBase, SEEK_SET) == -1)
        return fail(*rec);
    const size_t want = rec->bufLast >= 0 ? static_cast<size_t>(rec->bufLast) + 1 : 0;
    // Bytes past the largest signed 32-bit offset cannot be addressed.
    if (static_cast<int64_t>(rec->bufBase) + static_cast<int64_t>(want) > INT32_MAX)
        return fail(*rec);
    const size_t wrote = std::fwrite(GlobalLock(rec->bufHandle), 1, want, rec->stream);
    int32_t result;
    if (wrote < want) {
        result = fail(*rec);
    } else {
        start_window(*rec, rec->bufBase + static_cast<int32_t>(wrote));
        rec->dirty = 0;
        result = static_cast<int32_t>(wrote);
    }
    rec->endOffset = measure_end(rec->stream);
    return result;
}

} // extern "C"
