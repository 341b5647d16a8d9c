// Loading a Compound File's tables when its root storage opens: the DIFAT
// (the list of FAT sectors, 109 in the header and 127 in each DIFAT sector),
// then the FAT, then the MiniFAT along its FAT chain, all with typed 32-bit
// reads. The counts the header claims are checked against the size of the
// source before anything is allocated, so a small file cannot make the
// reader allocate or read far more than it holds.
#include "io/cfb_internal.h"
#include "port/owner.h"

#include <algorithm>
#include <climits>
#include <cstring>

namespace kxfpx::io {

namespace {

// The most table sectors any count may claim: enough FAT sectors to address
// every sector that a signed 32-bit file offset reaches (2^31 / 512 / 128).
constexpr uint64_t kMaxTableSectors = 32768;

// A table block from qorPtrGlobalAlloc, freed unless released.
using TableBlock = kxfpx::port::Owner<uint32_t *, qorPtrGlobalFree>;

// A table of `bytes` bytes; empty when the size is 0, beyond 32 bits or
// cannot be had.
TableBlock table_block(uint64_t bytes)
{
    if (bytes == 0 || bytes > UINT32_MAX)
        return TableBlock();
    return TableBlock(static_cast<uint32_t *>(qorPtrGlobalAlloc(static_cast<uint32_t>(bytes))));
}

// Hangs a table in a new holder, which then owns it; null, the table still
// owned by `block`, when the holder cannot be made.
uint32_t **hang(TableBlock &block)
{
    uint32_t **holder = make_holder(block.get());
    if (holder)
        block.release();
    return holder;
}

// Reads `count` 32-bit entries at the current position; false on a short
// read.
bool read_here(QorFile file, uint32_t *dest, uint32_t count)
{
    return count == 0 || qorReadLong(file, dest, static_cast<int32_t>(count)) == static_cast<int32_t>(count);
}

// The same at a sector's start; false also when the sector cannot be
// reached.
bool read_entries(QorFile file, uint32_t sector, uint32_t *dest, uint32_t count)
{
    return seek_to(file, sector_offset(sector)) && read_here(file, dest, count);
}

// DIFAT: the header's entries, then the DIFAT chain, one sector per claimed
// DIFAT sector. Each sector gives min(remaining, 127) entries and then the
// word right after them is the next DIFAT sector.
bool load_difat(QorFile file, const HeaderImage &header, uint32_t *difat)
{
    const uint32_t total = header.numFatSectors;
    const uint32_t first = std::min(total, kHeaderDifatEntries);
    if (!seek_to(file, kHeaderDifatOffset) || !read_here(file, difat, first))
        return false;
    uint32_t filled = first;
    uint32_t next = header.firstDifatSector;
    for (uint32_t i = 0; i < header.numDifatSectors; ++i) {
        const uint32_t take = std::min(total - filled, kDifatEntriesPerSector);
        if (!read_entries(file, next, difat + filled, take))
            return false;
        filled += take;
        if (!read_here(file, &next, 1))
            return false;
    }
    return true;
}

} // namespace

bool load_tables(QorFile file, QorFileRec &rec, int64_t source_size)
{
    const HeaderImage &header = *header_of(rec);
    const uint64_t source_sectors =
        source_size >= 0 ? (static_cast<uint64_t>(source_size) + kSectorSize - 1) / kSectorSize : UINT64_MAX;
    const uint64_t most = std::min(source_sectors, kMaxTableSectors);
    const uint32_t fat_sectors = header.numFatSectors;
    const uint32_t mini_sectors = header.numMiniFatSectors;
    if (fat_sectors == 0 || fat_sectors > most || header.numDifatSectors > most || mini_sectors > most)
        return false;

    TableBlock difat = table_block(uint64_t{fat_sectors} * 4);
    TableBlock fat = table_block(uint64_t{fat_sectors} * kSectorSize);
    if (!difat.get() || !fat.get())
        return false;
    // The DIFAT is hung on the record while the FAT is read, then freed.
    rec.difatHolder = hang(difat);
    if (!rec.difatHolder)
        return false;
    const uint32_t *list = *rec.difatHolder;
    bool loaded = load_difat(file, header, *rec.difatHolder);
    for (uint32_t i = 0; loaded && i < fat_sectors; ++i)
        loaded = read_entries(file, list[i], fat.get() + uint64_t{i} * kEntriesPerSector, kEntriesPerSector);
    free_holder(rec.difatHolder);
    if (!loaded)
        return false;

    // MiniFAT: along the FAT chain from its first sector; a chain that
    // leaves the FAT fails. Without MiniFAT sectors the holder holds null.
    const uint32_t fat_entries = fat_sectors * kEntriesPerSector;
    TableBlock mini = table_block(uint64_t{mini_sectors} * kSectorSize);
    if (mini_sectors > 0 && !mini.get())
        return false;
    uint32_t sector = header.firstMiniFatSector;
    for (uint32_t i = 0; i < mini_sectors; ++i) {
        if (sector >= fat_entries ||
            !read_entries(file, sector, mini.get() + uint64_t{i} * kEntriesPerSector, kEntriesPerSector))
            return false;
        sector = fat.get()[sector];
    }

    rec.fatHolder = hang(fat);
    if (!rec.fatHolder)
        return false;
    rec.miniFatHolder = hang(mini);
    return rec.miniFatHolder != nullptr;
}

void free_root_state(QorFileRec &rec)
{
    free_holder(rec.fatHolder);
    free_holder(rec.miniFatHolder);
    free_holder(rec.difatHolder);
    qorPtrGlobalFree(rec.cfHeader);
    rec.cfHeader = nullptr;
    delete shared_of(rec);
    rec.cfbShared = nullptr;
}

bool seek_to(QorFile file, int64_t offset)
{
    if (offset < 0 || offset > INT32_MAX)
        return false;
    return qorSeek(file, static_cast<int32_t>(offset), SEEK_SET) == offset;
}

int32_t tell(QorFile file) { return qorSeek(file, 0, SEEK_CUR); }

} // namespace kxfpx::io
