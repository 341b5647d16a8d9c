// Reading, writing and seeking a QorFile. Callback and host-object records
// forward each call; Compound File records go to the stream layer; files and
// memory blocks are served from the buffer in whole runs (memcpy), refilled
// one 12288-byte window at a time, and a seek inside the window costs nothing.
#include "io/qorfile_rec.h"

#include <kxfpx/storage.h>

#include <algorithm>
#include <climits>
#include <cstring>

namespace {

using namespace kxfpx::io;

// The answer of qorRead and qorWrite to a call they refuse: 0 for a null
// handle, -1 for a negative count.
int32_t refused(QorFile file) { return file ? -1 : 0; }

int32_t call_host(const QorFileRec &rec, int32_t operation, void *buffer, int32_t count)
{
    return static_cast<int32_t>(rec.hostIo(rec.hostHandle, operation, buffer, count));
}

uint8_t *buffer_data(const QorFileRec &rec) { return static_cast<uint8_t *>(GlobalLock(rec.bufHandle)); }

// Makes room for the next byte when bufIndex has passed bufLimit: flushes a
// file's window, or grows a memory block by as many increments as it takes
// (one reallocation standing for the successive growths). 1 when there is
// room, -1 on failure.
int32_t make_room(QorFile file, QorFileRec &rec)
{
    if (is_memory(rec)) {
        if (rec.growBy == 0)
            return -1; // see FlushQorIO: a zero increment never makes room
        const uint64_t missing = static_cast<uint64_t>(static_cast<int64_t>(rec.bufIndex) - rec.bufLimit);
        const uint64_t steps = (missing + rec.growBy - 1) / rec.growBy;
        return grow_memory_block(rec, steps * rec.growBy) ? 1 : -1;
    }
    if (FlushQorIO(file) == -1)
        return -1;
    if (rec.bufIndex > rec.bufLimit) {
        // Nothing was dirty (a read window used up to its end): the window
        // moves on to the current position, so the write lands where the
        // position says rather than over the window's first bytes.
        rec.bufBase += rec.bufIndex;
        rec.nextOffset = rec.bufBase;
        rec.bufIndex = 0;
        rec.bufLast = -1;
    }
    return 1;
}

// A file seek outside the window: flush, unxSeek, refill at the target.
// A read of a window's size or more past a consumed window goes straight
// from the file into the caller's memory (one fread instead of one per
// window); the window is left empty at the position after it. -1 when the
// file cannot be positioned, as a fill answers.
int32_t read_through(QorFileRec &rec, uint8_t *out, int32_t count)
{
    if (rec.nextOffset < 0 || unxSeek(rec.stream, rec.nextOffset, SEEK_SET) == -1)
        return -1;
    const int64_t room = static_cast<int64_t>(INT32_MAX) - rec.nextOffset;
    const size_t want = static_cast<size_t>(std::min<int64_t>(count, room));
    const auto got = static_cast<int32_t>(std::fread(out, 1, want, rec.stream));
    start_window(rec, rec.nextOffset + got);
    return got;
}

int32_t reposition_file(QorFile file, QorFileRec &rec, int32_t offset, int32_t whence)
{
    if (rec.dirty && FlushQorIO(file) == -1)
        rec.lastError = -1;
    const int32_t told = unxSeek(rec.stream, offset, whence);
    if (told == -1)
        return fail(rec);
    rec.nextOffset = told;
    if (FillQorIOBuf(file) == -1)
        return fail(rec);
    return told;
}

int32_t seek_buffered(QorFile file, QorFileRec &rec, int32_t offset, int32_t whence)
{
    const bool memory = is_memory(rec);
    if (!memory && !rec.stream)
        return -1;
    const int64_t position = static_cast<int64_t>(rec.bufBase) + rec.bufIndex;
    if (whence == SEEK_CUR && offset == 0)
        return static_cast<int32_t>(position);

    if (whence == SEEK_END) {
        if (!memory)
            return reposition_file(file, rec, offset, SEEK_END);
        // A target before the block's start would index outside it.
        const int64_t target = static_cast<int64_t>(rec.bufLast) + 1 + offset;
        if (target < 0 || target > INT32_MAX)
            return fail(rec);
        rec.bufIndex = static_cast<int32_t>(target);
        return rec.bufIndex;
    }

    const int64_t target = whence == SEEK_CUR ? position + offset : offset;
    if (target < 0 || target > INT32_MAX)
        return fail(rec);
    if (target > rec.endOffset && !has_write_access(rec.openMode))
        return fail(rec);
    if (target >= rec.bufBase && target <= static_cast<int64_t>(rec.bufBase) + rec.bufLast) {
        rec.bufIndex = static_cast<int32_t>(target - rec.bufBase);
        return static_cast<int32_t>(target);
    }
    if (!memory)
        return reposition_file(file, rec, static_cast<int32_t>(target), SEEK_SET);
    if (target > rec.bufLimit) {
        // Room up to the target plus one increment.
        const uint64_t extra = static_cast<uint64_t>(target - rec.bufLimit) + rec.growBy;
        if (!grow_memory_block(rec, extra))
            return -1;
    }
    rec.bufIndex = static_cast<int32_t>(target);
    return rec.bufIndex;
}

} // namespace

extern "C" {

KX_API int32_t qorRead(QorFile file, void *buffer, int32_t count)
{
    if (!file || count < 0)
        return refused(file);
    RecordLock rec(file);
    if (!rec)
        return 0;
    if (is_callback(*rec))
        return call_host(*rec, QOR_IO_READ, buffer, count);
    if (is_object(*rec)) {
        QorHostStream *object = host_object(*rec);
        int32_t done = 0;
        if (!object->read || object->read(object, buffer, count, &done) == kObjectFailed)
            return 0;
        return done;
    }
    if (rec->inCompound)
        return docRead(file, buffer, count);

    if (count > 0 && !buffer)
        return -1;
    uint8_t *out = static_cast<uint8_t *>(buffer);
    int32_t done = 0;
    while (done < count) {
        const int64_t available = static_cast<int64_t>(rec->bufLast) - rec->bufIndex + 1;
        if (available > 0 && rec->bufIndex >= 0 && rec->bufHandle) {
            const int32_t run = static_cast<int32_t>(std::min<int64_t>(available, count - done));
            std::memcpy(out + done, buffer_data(*rec) + rec->bufIndex, static_cast<size_t>(run));
            rec->bufIndex += run;
            done += run;
            continue;
        }
        if (count - done >= kQorBufferSize && !rec->dirty && rec->stream && rec->bufIndex == rec->bufLast + 1) {
            const int32_t got = read_through(*rec, out + done, count - done);
            if (got == -1)
                return fail(*rec);
            done += got;
            if (got == 0)
                break;
            continue;
        }
        const int32_t filled = FillQorIOBuf(file);
        if (filled == -1)
            return fail(*rec);
        if (filled == 0)
            break;
    }
    return done;
}

// A negative count is refused with -1, as qorRead refuses it.
KX_API int32_t qorWrite(QorFile file, const void *buffer, int32_t count)
{
    if (!file || count < 0)
        return refused(file);
    RecordLock rec(file);
    if (!rec)
        return 0;
    if (is_callback(*rec))
        return call_host(*rec, QOR_IO_WRITE, const_cast<void *>(buffer), count);
    if (is_object(*rec)) {
        QorHostStream *object = host_object(*rec);
        int32_t done = 0;
        if (object->write)
            object->write(object, buffer, count, &done);
        if (object->seek)
            object->seek(object, SEEK_END, 0);
        if (object->tell)
            object->tell(object, &rec->endOffset);
        return done;
    }

    if (count > 0 && !buffer)
        return -1;
    const uint8_t *in = static_cast<const uint8_t *>(buffer);
    int32_t done = 0;
    if (rec->bufIndex < 0)
        return fail(*rec);
    while (done < count) {
        if (rec->bufIndex > rec->bufLimit) {
            if (rec->lastError == -1)
                return 0;
            if (make_room(file, *rec) == -1)
                return fail(*rec);
            continue;
        }
        const int32_t run =
            static_cast<int32_t>(std::min<int64_t>(static_cast<int64_t>(rec->bufLimit) - rec->bufIndex + 1,
                                                   count - done));
        std::memcpy(buffer_data(*rec) + rec->bufIndex, in + done, static_cast<size_t>(run));
        rec->bufIndex += run;
        done += run;
        if (rec->bufIndex - 1 > rec->bufLast)
            rec->bufLast = rec->bufIndex - 1;
        rec->dirty = 1;
    }
    return done;
}

KX_API int32_t qorSeek(QorFile file, int32_t offset, int32_t whence)
{
    if (!file)
        return -1;
    RecordLock rec(file);
    if (!rec)
        return -1;
    if (is_callback(*rec)) {
        int32_t where = offset;
        return static_cast<int32_t>(rec->hostIo(rec->hostHandle, QOR_IO_SEEK, &where, whence));
    }
    if (is_object(*rec)) {
        QorHostStream *object = host_object(*rec);
        if (object->seek)
            object->seek(object, whence, offset);
        int32_t told = -1;
        if (object->tell)
            object->tell(object, &told);
        return told;
    }
    if (rec->inCompound)
        return docSeek(file, offset, whence);
    // Only set, current and end are known origins.
    if (whence != SEEK_SET && whence != SEEK_CUR && whence != SEEK_END)
        return -1;
    return seek_buffered(file, *rec, offset, whence);
}

} // extern "C"
