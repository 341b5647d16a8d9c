// Writing a Compound File stream's data front to back as it arrives: 4096
// bytes are staged at a time and placed as 8 regular sectors at the end of
// the file; a stream under 4096 bytes is placed in 64-byte mini sectors
// inside the mini stream when it closes. The last sector of each chain is
// kept (in the stream's record, and for the mini stream in the shared
// state), so appending a sector never walks a chain.
#include "io/cfb_internal.h"

#include <kxfpx/storage.h>

#include <algorithm>
#include <cstring>

namespace kxfpx::io {

namespace {

// Grows a writer table (FAT or MiniFAT) so that it has an entry `index`,
// one sector of free entries at a time as the header counts it. The block
// beneath grows geometrically, so a long file does not copy its table once
// per sector.
bool ensure_table(uint32_t **holder, uint32_t &sectors, uint32_t index)
{
    if (!holder || !*holder)
        return false;
    while (uint64_t{index} >= uint64_t{sectors} * kEntriesPerSector) {
        const uint64_t need = (uint64_t{sectors} + 1) * kSectorSize;
        const uint32_t have = GlobalSize(qorPtrGlobalHandle(*holder));
        if (need > have) {
            const uint64_t grown = std::max<uint64_t>(need, uint64_t{have} * 2);
            if (!grow_block(*holder, have, grown))
                return false;
            std::memset(reinterpret_cast<uint8_t *>(*holder) + have, kFreeSectorByte, static_cast<size_t>(grown - have));
        }
        ++sectors;
    }
    return true;
}

uint8_t *staging_of(const QorFileRec &rec)
{
    auto **holder = static_cast<uint8_t **>(GlobalLock(rec.stagingHandle));
    return holder ? *holder : nullptr;
}

// Writes 512 zero bytes at the output file's end and returns that sector's
// number (the FAT grown to hold it), or kNoEntry on failure.
uint32_t append_zero_sector(QorFileRec &rec)
{
    uint32_t sector;
    if (!end_sector(rec, sector) || qorWrite(rec.outFile, kZeroSector, kSectorSize) != static_cast<int32_t>(kSectorSize))
        return kNoEntry;
    return sector;
}

// Links `sector` after the mini stream's last sector.
void link_mini_stream(QorFileRec &rec, SharedState &shared, uint32_t sector)
{
    uint32_t *fat = fat_of(rec);
    if (shared.miniLength > 0)
        fat[shared.miniTail] = sector;
    fat[sector] = kEndOfChain;
    shared.miniTail = sector;
    ++shared.miniLength;
}

int32_t place_regular(QorFileRec &rec)
{
    uint8_t *staging = staging_of(rec);
    EntryImage *dir = directory_of(rec);
    if (!staging || !dir)
        return -1;
    const uint32_t staged = static_cast<uint32_t>(std::max(rec.bufIndex, 0));
    const uint32_t sectors = (staged + kSectorSize - 1) / kSectorSize;
    int32_t written = 0;
    for (uint32_t i = 0; i < sectors; ++i) {
        uint32_t sector;
        if (!end_sector(rec, sector))
            return written;
        const int32_t put = qorWrite(rec.outFile, staging + i * kSectorSize, kSectorSize);
        if (put != static_cast<int32_t>(kSectorSize))
            return written + std::max(put, 0);
        written += put;
        uint32_t *fat = fat_of(rec);
        if (rec.startSector == kNoEntry) {
            rec.startSector = sector;
            dir[rec.entryIndex].startSector = sector;
            rec.chainIndex = 0;
        } else {
            fat[rec.chainSector] = sector;
            ++rec.chainIndex;
        }
        rec.chainSector = sector;
        fat[sector] = kEndOfChain;
    }
    std::memset(staging, 0, kStagingSize);
    rec.bufIndex = 0;
    rec.bufLast = 0;
    rec.bufBase = rec.startSector == kNoEntry ? 0 : static_cast<int32_t>((rec.chainIndex + 1) * kSectorSize);
    return written;
}

// The first mini sector to place, and the mini stream's sector holding it.
bool first_mini_sector(QorFileRec &rec, SharedState &shared, EntryImage &root, uint32_t &mini, uint32_t &current)
{
    if (root.startSector == kNoEntry) {
        current = append_zero_sector(rec);
        if (current == kNoEntry)
            return false;
        link_mini_stream(rec, shared, current);
        root.startSector = current;
        mini = 0;
        return true;
    }
    // Mini sectors are taken in order and never released, so the first free
    // entry is never below the last one taken.
    const uint32_t *table = minifat_of(rec);
    mini = shared.miniFreeHint;
    while (mini < minifat_count(rec) && table[mini] != kFreeSect)
        ++mini;
    if (!ensure_minifat(rec, mini))
        return false;
    const uint32_t index = mini / kMiniPerSector;
    if (shared.miniLength <= index) {
        current = append_zero_sector(rec);
        if (current == kNoEntry)
            return false;
        link_mini_stream(rec, shared, current);
    } else if (index + 1 == shared.miniLength) {
        current = shared.miniTail;
    } else {
        current = follow_links(root.startSector, index, fat_of(rec), fat_count(rec));
    }
    return current < fat_count(rec);
}

int32_t place_mini(QorFileRec &rec)
{
    uint8_t *staging = staging_of(rec);
    EntryImage *dir = directory_of(rec);
    SharedState *shared = shared_of(rec);
    if (!staging || !dir || !shared || *rec.dirCountPtr == 0)
        return -1;
    // Entry 0 is the root, which is always named "Root Entry".
    EntryImage &root = dir[0];
    const uint32_t staged = static_cast<uint32_t>(std::max(rec.bufIndex, 0));
    const uint32_t pieces = (staged + kMiniSectorSize - 1) / kMiniSectorSize;
    uint32_t mini = 0;
    uint32_t current = 0;
    if (!first_mini_sector(rec, *shared, root, mini, current) ||
        !seek_to(rec.outFile, sector_offset(current) + int64_t{mini % kMiniPerSector} * kMiniSectorSize))
        return -1;

    uint32_t previous = kNoEntry;
    for (uint32_t i = 0; i < pieces; ++i) {
        uint32_t sector;
        if (!sector_at(tell(rec.outFile), sector))
            return -1;
        if (sector != current) {
            if (!ensure_fat(rec, sector))
                return -1;
            if (fat_of(rec)[sector] != kFreeSect) {
                // Taken by other data: the mini stream goes on at the end.
                if (!sector_at(qorSeek(rec.outFile, 0, SEEK_END), sector) || !ensure_fat(rec, sector))
                    return -1;
            }
            link_mini_stream(rec, *shared, sector);
            current = sector;
        }
        if (qorWrite(rec.outFile, staging + i * kMiniSectorSize, kMiniSectorSize) !=
            static_cast<int32_t>(kMiniSectorSize))
            return -1;
        if (!ensure_minifat(rec, mini))
            return -1;
        uint32_t *table = minifat_of(rec);
        if (previous == kNoEntry) {
            rec.startSector = mini;
            dir[rec.entryIndex].startSector = mini;
        } else {
            table[previous] = mini;
        }
        table[mini] = kEndOfChain;
        previous = mini;
        root.size += kMiniSectorSize;
        shared->miniFreeHint = ++mini;
    }

    std::memset(staging, 0, kStagingSize);
    const int32_t at = tell(rec.outFile);
    if (at < 0)
        return -1;
    const uint32_t rest = static_cast<uint32_t>(at) % kSectorSize;
    if (rest != 0) {
        if (qorWrite(rec.outFile, kZeroSector, static_cast<int32_t>(kSectorSize - rest)) !=
            static_cast<int32_t>(kSectorSize - rest))
            return -1;
    }
    FlushQorIO(rec.outFile);
    if (qorSeek(rec.outFile, 0, SEEK_END) < 0)
        return -1;
    return static_cast<int32_t>(pieces * kMiniSectorSize);
}

// Writes into data already placed in sectors: at most the rest of one
// sector, straight into the output file, which returns to where it was.
int32_t rewrite_placed(QorFileRec &rec, const uint8_t *data, uint32_t count)
{
    const uint32_t sector =
        follow_links(rec.startSector, rec.streamPos / kSectorSize, fat_of(rec), fat_count(rec));
    if (sector >= fat_count(rec))
        return -1;
    const uint32_t offset = rec.streamPos % kSectorSize;
    const uint32_t piece = std::min(count, kSectorSize - offset);
    FlushQorIO(rec.outFile);
    const int32_t here = tell(rec.outFile);
    if (here < 0 || !seek_to(rec.outFile, sector_offset(sector) + offset))
        return -1;
    const int32_t put = qorWrite(rec.outFile, data, static_cast<int32_t>(piece));
    FlushQorIO(rec.outFile);
    if (!seek_to(rec.outFile, here) || put != static_cast<int32_t>(piece))
        return -1;
    return put;
}

int32_t write_stream(QorFile inner, QorFileRec &rec, const uint8_t *data, int32_t count)
{
    uint8_t *staging = staging_of(rec);
    EntryImage *dir = directory_of(rec);
    if (!staging || !dir || count < 0)
        return -1;
    int32_t done = 0;
    while (done < count) {
        const uint32_t left = static_cast<uint32_t>(count - done);
        int32_t piece;
        bool staging_full = false;
        if (rec.streamPos < static_cast<uint32_t>(rec.bufBase)) {
            piece = rewrite_placed(rec, data + done, left);
            if (piece <= 0) {
                shared_of(rec)->failed = true;
                return done;
            }
        } else {
            const uint32_t at = rec.streamPos - static_cast<uint32_t>(rec.bufBase);
            const uint32_t room = std::min(left, kStagingSize - at);
            std::memcpy(staging + at, data + done, room);
            rec.bufIndex = static_cast<int32_t>(at + room);
            rec.bufLast = std::max(rec.bufLast, rec.bufIndex - 1);
            piece = static_cast<int32_t>(room);
            staging_full = rec.bufIndex == static_cast<int32_t>(kStagingSize);
        }
        rec.streamPos += static_cast<uint32_t>(piece);
        rec.streamSize = std::max(rec.streamSize, rec.streamPos);
        dir[rec.entryIndex].size = rec.streamSize;
        rec.dirty = 1;
        // A full staging buffer is placed at once; a failed placement
        // answers 0 for the whole call.
        if (staging_full && qorDocWriteToFAT(inner) != static_cast<int32_t>(kStagingSize)) {
            shared_of(rec)->failed = true;
            return 0;
        }
        done += piece;
    }
    return done;
}

} // namespace

bool ensure_fat(QorFileRec &rec, uint32_t index)
{
    HeaderImage *header = header_of(rec);
    return header && ensure_table(rec.fatHolder, header->numFatSectors, index);
}

bool ensure_minifat(QorFileRec &rec, uint32_t index)
{
    HeaderImage *header = header_of(rec);
    return header && ensure_table(rec.miniFatHolder, header->numMiniFatSectors, index);
}

bool sector_at(int32_t position, uint32_t &sector)
{
    if (position < static_cast<int32_t>(kSectorSize))
        return false;
    sector = static_cast<uint32_t>(position) / kSectorSize - 1;
    return true;
}

bool end_sector(QorFileRec &rec, uint32_t &sector)
{
    return sector_at(tell(rec.outFile), sector) && ensure_fat(rec, sector);
}

int32_t close_writer_stream(QorFile inner, QorFileRec &rec)
{
    uint8_t *staging = staging_of(rec);
    bool placed = staging != nullptr;
    if (staging) {
        // What is staged runs from bufBase to the size written (a seek back
        // may have left the write index below it).
        const uint32_t base = static_cast<uint32_t>(rec.bufBase);
        const uint32_t staged = rec.streamSize > base ? std::min(rec.streamSize - base, kStagingSize) : 0;
        rec.bufIndex = static_cast<int32_t>(staged);
        std::memset(staging + staged, 0, kStagingSize - staged);
        if (rec.streamSize >= kMiniStreamCutoff)
            placed = qorDocWriteToFAT(inner) ==
                     static_cast<int32_t>((staged + kSectorSize - 1) / kSectorSize * kSectorSize);
        else if (rec.streamSize > 0)
            placed = qorDocWriteToMiniFAT(inner) >= 0;
        // An empty stream takes no sector: its entry keeps no start sector.
        qorPtrGlobalFree(staging);
    }
    GlobalFree(rec.stagingHandle);
    rec.stagingHandle = nullptr;
    // The close itself answers 1 whatever happened; a placement that
    // failed is kept in the shared state and reported by the root's close.
    if (!placed && shared_of(rec))
        shared_of(rec)->failed = true;
    GlobalFree(inner);
    return 1;
}

} // namespace kxfpx::io

using namespace kxfpx::io;

extern "C" {

KX_API int32_t docWrite(QorFile inner, const void *data, int32_t count)
{
    RecordLock rec(inner);
    if (!rec || !is_writer(*rec.get()) || !rec->stagingHandle || (count > 0 && !data))
        return rec ? -1 : 0;
    return write_stream(inner, *rec.get(), static_cast<const uint8_t *>(data), count);
}

KX_API int32_t qorDocWriteToFAT(QorFile inner)
{
    RecordLock rec(inner);
    if (!rec || !is_writer(*rec.get()))
        return -1;
    return place_regular(*rec.get());
}

KX_API int32_t qorDocWriteToMiniFAT(QorFile inner)
{
    RecordLock rec(inner);
    if (!rec || !is_writer(*rec.get()))
        return -1;
    return place_mini(*rec.get());
}

} // extern "C"
