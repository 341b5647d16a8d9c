// The stream layer behind a Compound File stream handle: the compound-stream
// callback that the outer record calls, and docRead, docSeek and docClose on
// the inner record. A read goes sector by sector (512-byte sectors along the
// FAT, or 64-byte mini sectors along the MiniFAT inside the mini stream),
// one seek and one read of the inner record per run of sectors that follow
// each other in the file (per mini sector in the mini stream). The inner record
// keeps where the last read stopped in both chains, so a read continues the
// chain from there instead of walking it from the stream's start.
#include "io/cfb_internal.h"
#include "io/stream_position.h"

#include <kxfpx/storage.h>

#include <algorithm>
#include <climits>

namespace kxfpx::io {

namespace {

// Sector `index` of a chain, continued from the record's cursor for that
// chain when the cursor does not lie beyond it. The cursor always holds the
// exact value of follow_links(start, cursor index), so the result is that of
// a walk from the start.
uint32_t chain_sector(uint32_t start, uint32_t index, const uint32_t *table, uint32_t count, uint32_t &cursor_index,
                      uint32_t &cursor_sector, uint32_t &flags, uint32_t flag)
{
    uint32_t sector;
    if ((flags & flag) && cursor_index <= index)
        sector = follow_links(cursor_sector, index - cursor_index, table, count);
    else
        sector = follow_links(start, index, table, count);
    cursor_index = index;
    cursor_sector = sector;
    flags |= flag;
    return sector;
}

// File offset of byte `offset` of a stream chunk held in `sector`.
int64_t chunk_offset(QorFileRec &rec, bool regular, uint32_t sector, uint32_t offset)
{
    if (regular)
        return sector_offset(sector) + offset;
    // Mini sector: its place in the mini stream, then the mini stream's own
    // regular sector holding it.
    // The mini stream's chain is listed once per root, so that a stream
    // whose mini sectors go backwards costs no walk from the start; without
    // memory for the list the record's own cursor serves.
    const uint64_t in_mini = uint64_t{sector} * kMiniSectorSize + offset;
    const uint32_t index = static_cast<uint32_t>(in_mini / kSectorSize);
    SharedState *shared = shared_of(rec);
    if (shared && !shared->miniStreamReady)
        shared->miniStreamReady = shared->miniStream.build(rec.miniStreamStart, fat_of(rec), fat_count(rec));
    const uint32_t holder = shared && shared->miniStreamReady
                                ? shared->miniStream.at(index)
                                : chain_sector(rec.miniStreamStart, index, fat_of(rec), fat_count(rec),
                                               rec.miniChainIndex, rec.miniChainSector, rec.cursorFlags, kMiniCursor);
    return sector_offset(holder) + static_cast<int64_t>(in_mini % kSectorSize);
}

int32_t read_stream(QorFile inner, QorFileRec &rec, uint8_t *out, int32_t count)
{
    if (count < 0)
        return -1;
    if (static_cast<int32_t>(rec.streamSize) < 0)
        return 0;
    // A stream being written has no chain to read yet (its data is staged
    // and placed as it goes): reading it back gives nothing.
    if (is_writer(rec))
        return 0;
    // The sectors are read from the file beneath; the record is a stream
    // again when the read ends, whichever way it ends.
    PlainAccess plain(rec, 1);
    uint32_t remaining = rec.streamPos < rec.streamSize ? rec.streamSize - rec.streamPos : 0;
    remaining = std::min(remaining, static_cast<uint32_t>(count));

    const bool regular = rec.streamSize >= kMiniStreamCutoff;
    const uint32_t size = regular ? kSectorSize : kMiniSectorSize;
    const uint32_t *table = regular ? fat_of(rec) : minifat_of(rec);
    const uint32_t limit = regular ? fat_count(rec) : minifat_count(rec);
    uint32_t index = rec.streamPos / size;
    uint32_t sector = chain_sector(rec.startSector, index, table, limit, rec.chainIndex, rec.chainSector,
                                   rec.cursorFlags, kStreamCursor);
    if (sector >= limit || remaining == 0)
        return 0;

    int32_t result = 0;
    while (remaining > 0) {
        const uint32_t offset = rec.streamPos % size;
        // Regular sectors that follow each other in the file are read as one
        // run: one seek and one read instead of one of each per sector. The
        // run stops where the chain leaves the next sector in line, so the
        // bytes, the counts and the cursor are those of a read per sector.
        uint32_t chunks = 1;
        uint64_t run = std::min(remaining, size - offset);
        if (regular) {
            uint32_t last = sector;
            while (run < remaining && table[last] == last + 1 && last + 1 < limit) {
                ++last;
                ++chunks;
                run += std::min<uint64_t>(remaining - run, size);
            }
        }
        // A position the source refuses counts as a short read: the chunk is
        // counted and the read ends, as it does when fewer bytes arrive.
        const int32_t want = static_cast<int32_t>(run);
        int32_t got = 0;
        if (seek_to(inner, chunk_offset(rec, regular, sector, offset)))
            got = std::max(qorRead(inner, out + result, want), 0);
        if (got < want) {
            // The chunk that came short is counted whole and ends the read;
            // the chunks before it arrived complete.
            const uint32_t first = size - offset;
            const uint32_t short_chunk =
                static_cast<uint32_t>(got) < first ? 0 : 1 + (static_cast<uint32_t>(got) - first) / size;
            uint64_t counted = std::min<uint64_t>(first, remaining);
            for (uint32_t k = 0; k < short_chunk; ++k) {
                sector = table[sector];
                counted += std::min<uint64_t>(remaining - counted, size);
            }
            if (short_chunk > 0) {
                rec.chainIndex = index + short_chunk;
                rec.chainSector = sector;
            }
            rec.streamPos += static_cast<uint32_t>(counted);
            return result + static_cast<int32_t>(counted);
        }
        rec.streamPos += static_cast<uint32_t>(run);
        result += want;
        remaining -= static_cast<uint32_t>(run);
        // Step the cursor to the run's last sector, then on along the chain.
        for (uint32_t k = 1; k < chunks; ++k)
            sector = table[sector];
        index += chunks - 1;
        if (chunks > 1) {
            rec.chainIndex = index;
            rec.chainSector = sector;
        }
        if (remaining > 0) {
            sector = table[sector];
            ++index;
            rec.chainIndex = index;
            rec.chainSector = sector;
            if (sector >= limit)
                return -1;
        }
    }
    return result;
}

int32_t seek_stream(QorFileRec &rec, int32_t offset, int32_t whence)
{
    const int64_t position = stream_seek_target(rec.streamPos, rec.streamSize, offset, whence);
    if (position < 0)
        return -1;
    rec.streamPos = static_cast<uint32_t>(position);
    return static_cast<int32_t>(position);
}

} // namespace

int64_t stream_callback(void *context, int32_t operation, void *data, int64_t count)
{
    auto *slot = static_cast<QorFile *>(GlobalLock(context));
    if (!slot)
        return -1;
    const int32_t amount = static_cast<int32_t>(std::clamp<int64_t>(count, INT32_MIN, INT32_MAX));
    switch (operation) {
    case QOR_IO_OPEN:
        return static_cast<int64_t>(reinterpret_cast<intptr_t>(context));
    case QOR_IO_READ:
        return docRead(*slot, data, amount);
    case QOR_IO_WRITE:
        return docWrite(*slot, data, amount);
    case QOR_IO_SEEK:
        return data ? docSeek(*slot, *static_cast<int32_t *>(data), amount) : -1;
    case QOR_IO_CLOSE: {
        const int32_t result = docClose(*slot);
        GlobalFree(context);
        return result;
    }
    default:
        return -1;
    }
}

QorFile open_outer(QorFile inner, QorFileRec &rec, uint32_t mode)
{
    HGLOBAL context = GlobalAlloc(KX_GHND, kHolderSize);
    auto *slot = static_cast<QorFile *>(GlobalLock(context));
    if (!slot)
        return nullptr;
    *slot = inner;
    rec.streamCtx = context;
    QorOpenDesc desc{};
    desc.blockPtr = context;
    desc.ioCallback = stream_callback;
    QorFile outer = qorOpen("", &desc, mode);
    if (!outer) {
        rec.streamCtx = nullptr;
        GlobalFree(context);
    }
    return outer;
}

} // namespace kxfpx::io

using namespace kxfpx::io;

extern "C" {

KX_API int32_t docRead(QorFile inner, void *buffer, int32_t count)
{
    RecordLock rec(inner);
    if (!rec || (count > 0 && !buffer))
        return rec ? -1 : 0;
    return read_stream(inner, *rec.get(), static_cast<uint8_t *>(buffer), count);
}

KX_API int32_t docSeek(QorFile inner, int32_t offset, int32_t whence)
{
    RecordLock rec(inner);
    if (!rec)
        return -1;
    return seek_stream(*rec.get(), offset, whence);
}

// Reading side: frees the inner record and its own buffer; 0. A stream
// being written places its remaining data first; 1.
KX_API int32_t docClose(QorFile inner)
{
    {
        RecordLock rec(inner);
        if (!rec)
            return -1;
        if (is_writer(*rec.get()))
            return close_writer_stream(inner, *rec.get());
    }
    free_copied_record(inner);
    return 0;
}

} // extern "C"
