// Sector chains of a Compound File: following a chain a given number of
// links (qorGetSect), finding its last sector (qorGetEndSect), and listing a
// whole chain once. Every walk is bounded by the table's size, so chains
// with cycles or sector numbers outside the table end instead of hanging.
#include "io/cfb_internal.h"

#include <kxfpx/storage.h>

#include <algorithm>
#include <new>

namespace kxfpx::io {

uint32_t follow_links(uint32_t sector, uint64_t links, const uint32_t *table, uint32_t count)
{
    // Brent: `mark` is a sector met earlier; meeting it again after `run`
    // links means the chain repeats with that period from there on.
    uint32_t mark = sector;
    uint64_t power = 1;
    uint64_t run = 0;
    while (links > 0) {
        if (sector >= count)
            return sector;
        sector = table[sector];
        --links;
        ++run;
        if (sector == mark) {
            links %= run;
            while (links > 0 && sector < count) {
                sector = table[sector];
                --links;
            }
            return sector;
        }
        if (run == power) {
            mark = sector;
            power <<= 1;
            run = 0;
        }
    }
    return sector;
}

uint32_t chain_end(uint32_t start, const uint32_t *table, uint32_t count)
{
    uint32_t sector = start;
    for (uint32_t steps = 0; sector < count && steps < count; ++steps) {
        const uint32_t next = table[sector];
        if (next == kEndOfChain || next >= count)
            return sector;
        sector = next;
    }
    return sector;
}

bool ChainMap::build(uint32_t start, const uint32_t *table, uint32_t count)
{
    sectors_.clear();
    cyclic_ = false;
    cycle_start_ = 0;
    try {
        std::vector<bool> seen(count);
        uint32_t sector = start;
        while (sector < count) {
            if (seen[sector]) {
                cyclic_ = true;
                cycle_start_ = static_cast<size_t>(
                    std::find(sectors_.begin(), sectors_.end(), sector) - sectors_.begin());
                return true;
            }
            seen[sector] = true;
            sectors_.push_back(sector);
            sector = table[sector];
        }
        terminal_ = sector;
        return true;
    } catch (const std::bad_alloc &) {
        sectors_.clear();
        return false;
    }
}

uint32_t ChainMap::at(uint64_t index) const
{
    if (index < sectors_.size())
        return sectors_[static_cast<size_t>(index)];
    if (!cyclic_)
        return terminal_;
    const uint64_t period = sectors_.size() - cycle_start_;
    return sectors_[cycle_start_ + static_cast<size_t>((index - cycle_start_) % period)];
}

uint32_t fat_count(const QorFileRec &rec)
{
    const HeaderImage *header = header_of(rec);
    if (!header || !fat_of(rec))
        return 0;
    return header->numFatSectors * kEntriesPerSector;
}

uint32_t minifat_count(const QorFileRec &rec)
{
    const HeaderImage *header = header_of(rec);
    if (!header || !minifat_of(rec))
        return 0;
    return header->numMiniFatSectors * kEntriesPerSector;
}

} // namespace kxfpx::io

using namespace kxfpx::io;

extern "C" {

KX_API uint32_t qorGetSect(uint32_t start, uint32_t offset, uint32_t sectorSize, const uint32_t *table,
                           uint32_t limit)
{
    // A sector size of 0 has no sector to step to: the start is the answer.
    if (start >= limit || sectorSize == 0 || offset < sectorSize || !table)
        return start;
    return follow_links(start, offset / sectorSize, table, limit);
}

// The table carries no length, so this takes it from the table's own block:
// every table of this layer is a block from qorPtrGlobalAlloc, whose size is
// kept in its header. The walk stops at the end of chain, before any value
// outside the table, and after as many links as the table has entries (a
// cycle), so it never reads outside the table and always ends.
KX_API uint32_t qorGetEndSect(uint32_t start, const uint32_t *table)
{
    if (!table)
        return start;
    const uint32_t count = GlobalSize(qorPtrGlobalHandle(table)) / 4u;
    return chain_end(start, table, count);
}

} // extern "C"
