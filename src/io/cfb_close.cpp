// Finishing a Compound File when its root storage closes: the directory
// (four entries a sector, widened to UTF-16LE), the MiniFAT, the FAT with
// its own sectors and, past 109 FAT sectors, the DIFAT sectors, all appended
// at the end of the file; then the header over the placeholder sector.
#include "io/cfb_internal.h"

#include <kxfpx/storage.h>

#include <algorithm>
#include <cstring>
#include <new>
#include <vector>

namespace kxfpx::io {

namespace {

// Writes 32-bit entries little-endian, one sector's worth at a time.
bool write_entries(QorFile out, const uint32_t *entries, uint32_t count)
{
    uint8_t bytes[kSectorSize];
    while (count > 0) {
        const uint32_t run = std::min(count, kEntriesPerSector);
        for (uint32_t i = 0; i < run; ++i) {
            bytes[4 * i] = static_cast<uint8_t>(entries[i]);
            bytes[4 * i + 1] = static_cast<uint8_t>(entries[i] >> 8);
            bytes[4 * i + 2] = static_cast<uint8_t>(entries[i] >> 16);
            bytes[4 * i + 3] = static_cast<uint8_t>(entries[i] >> 24);
        }
        if (qorWrite(out, bytes, static_cast<int32_t>(run * 4)) != static_cast<int32_t>(run * 4))
            return false;
        entries += run;
        count -= run;
    }
    return true;
}

// Chains sectors as they are written: the first goes to the header field,
// later ones after the previous one; each ends the chain until the next.
class ChainWriter {
public:
    ChainWriter(QorFileRec &rec, uint32_t &first) : rec_(rec), first_(first) {}
    void add(uint32_t sector)
    {
        uint32_t *fat = fat_of(rec_);
        if (previous_ == kNoEntry)
            first_ = sector;
        else
            fat[previous_] = sector;
        fat[sector] = kEndOfChain;
        previous_ = sector;
    }

private:
    QorFileRec &rec_;
    uint32_t &first_;
    uint32_t previous_ = kNoEntry;
};

bool write_directory(QorFileRec &rec, HeaderImage &header)
{
    const EntryImage *dir = directory_of(rec);
    const uint32_t count = *rec.dirCountPtr;
    ChainWriter chain(rec, header.firstDirSector);
    for (uint32_t first = 0; first < count; first += kEntriesPerDirSector) {
        uint32_t sector;
        if (!end_sector(rec, sector))
            return false;
        for (uint32_t i = first; i < first + kEntriesPerDirSector; ++i) {
            if (i >= count) {
                if (qorWrite(rec.outFile, kZeroSector, kEntrySize) != static_cast<int32_t>(kEntrySize))
                    return false;
                continue;
            }
            // Names are narrow while the file is built: widen to UTF-16LE.
            EntryImage wide = dir[i];
            std::memset(wide.name, 0, kNameField);
            for (uint32_t c = 0; c < kNameField / 2 && dir[i].name[c] != 0; ++c)
                wide.name[2 * c] = dir[i].name[c];
            if (qorWriteStruct(rec.outFile, kEntryWriteFormat, &wide, 1) != 1)
                return false;
        }
        chain.add(sector);
    }
    return true;
}

bool write_minifat(QorFileRec &rec, HeaderImage &header)
{
    ChainWriter chain(rec, header.firstMiniFatSector);
    for (uint32_t i = 0; i < header.numMiniFatSectors; ++i) {
        uint32_t sector;
        if (!end_sector(rec, sector) ||
            !write_entries(rec.outFile, minifat_of(rec) + uint64_t{i} * kEntriesPerSector, kEntriesPerSector))
            return false;
        chain.add(sector);
    }
    return true;
}

// FAT sizing: the FAT's own sectors need FAT entries too, and past 109 FAT
// sectors the DIFAT sectors do as well (all divisions truncate).
void size_fat(uint32_t fat_sectors, uint32_t &total, uint32_t &difat_sectors)
{
    const uint32_t n = fat_sectors;
    total = n + n / kEntriesPerSector + 1;
    difat_sectors = 0;
    if (total > kHeaderDifatEntries) {
        const uint32_t d = (n + n / kEntriesPerSector - (kHeaderDifatEntries - 1)) / kDifatEntriesPerSector + 1;
        total += d / kEntriesPerSector + 1;
        difat_sectors = std::max(d, (total - kHeaderDifatEntries) / kDifatEntriesPerSector + 1);
    }
}

bool write_tables(QorFileRec &rec, HeaderImage &header)
{
    uint32_t total = 0;
    uint32_t difat_sectors = 0;
    size_fat(header.numFatSectors, total, difat_sectors);
    std::vector<uint32_t> difat(kHeaderDifatEntries + size_t{kDifatEntriesPerSector} * difat_sectors, kFreeSect);

    uint32_t first = 0;
    if (!end_sector(rec, first))
        return false;
    for (uint32_t i = 0; i < total + difat_sectors; ++i) {
        if (!ensure_fat(rec, first + i))
            return false;
        fat_of(rec)[first + i] = i < total ? kFatSect : kDifatSect;
        if (i < total)
            difat[i] = first + i;
    }
    // The FAT as it stands, then free sectors up to the count reserved.
    // Past about 8190 FAT sectors (files over half a gigabyte) whose last FAT
    // sector is nearly full, the sizing above reserves one sector fewer than
    // the marking needs; writing the grown FAT would then run over the first
    // DIFAT sector, so the close fails instead of writing a broken file.
    const uint32_t written = header.numFatSectors;
    if (written > total || !write_entries(rec.outFile, fat_of(rec), written * kEntriesPerSector))
        return false;
    std::vector<uint8_t> all_free(kSectorSize, kFreeSectorByte);
    for (uint32_t i = written; i < total; ++i) {
        if (qorWrite(rec.outFile, all_free.data(), kSectorSize) != static_cast<int32_t>(kSectorSize))
            return false;
    }

    if (difat_sectors > 0) {
        header.firstDifatSector = first + total;
        header.numDifatSectors = difat_sectors;
        for (uint32_t j = 0; j < difat_sectors; ++j) {
            const uint32_t next = j + 1 < difat_sectors ? first + total + j + 1 : kFreeSect;
            if (!write_entries(rec.outFile, difat.data() + kHeaderDifatEntries + size_t{j} * kDifatEntriesPerSector,
                               kDifatEntriesPerSector) ||
                !write_entries(rec.outFile, &next, 1))
                return false;
        }
    }

    FlushQorIO(rec.outFile);
    if (!seek_to(rec.outFile, 0) || qorWriteStruct(rec.outFile, kHeaderFormat, &header, 1) != 1)
        return false;
    return write_entries(rec.outFile, difat.data(), std::min(total, kHeaderDifatEntries));
}

} // namespace

int32_t close_writer_root(QorFileRec &rec)
{
    HeaderImage *header = header_of(rec);
    const SharedState *shared = shared_of(rec);
    bool ok = header && fat_of(rec) && minifat_of(rec) && directory_of(rec) && rec.dirCountPtr && shared;
    try {
        ok = ok && write_directory(rec, *header) && write_minifat(rec, *header) && write_tables(rec, *header);
    } catch (const std::bad_alloc &) {
        ok = false;
    }
    // A stream whose data could not all be placed leaves the file
    // incomplete: the tables are still written, and the close says so.
    ok = ok && !shared->failed;
    free_writer_state(rec);
    return ok ? 0 : -1;
}

namespace {

void unhang(QorFileRec &rec)
{
    rec.fatHolder = nullptr;
    rec.miniFatHolder = nullptr;
    rec.dirHolder = nullptr;
    rec.cfHeader = nullptr;
    rec.dirCountPtr = nullptr;
    rec.cfbShared = nullptr;
}

} // namespace

void free_writer_state(QorFileRec &rec)
{
    uint8_t **const directory = rec.dirHolder;
    free_holder(rec.fatHolder);
    free_holder(rec.miniFatHolder);
    free_holder(rec.dirHolder);
    qorPtrGlobalFree(rec.cfHeader);
    qorPtrGlobalFree(rec.dirCountPtr);
    delete shared_of(rec);
    // The same state hangs on the output file's record: unhang it there.
    if (auto *file = static_cast<QorFileRec *>(GlobalLock(rec.outFile))) {
        if (file != &rec && file->dirHolder == directory)
            unhang(*file);
    }
    unhang(rec);
}

} // namespace kxfpx::io
