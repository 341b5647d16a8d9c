// Internals shared by the Compound File stages (chains, tables, directory,
// streams, writer): chain walking that stays bounded on cyclic chains, the
// state a root shares with its storages and streams, record copies and
// positioned reads and writes on the QorFile beneath.
//
// The path of a stream read, the one place where the I/O layer calls back
// into itself:
//   qorRead(stream)                  the outer record, in callback mode
//   -> stream_callback               cfb_stream.cpp, the compound-stream callback
//   -> docRead(inner)                the inner record: the stream's entry and cursor
//   -> read_stream                   sector by sector along the FAT or MiniFAT
//   -> qorSeek/qorRead(file)         the record beneath read as a plain file, its
//                                    inCompound flag cleared by PlainAccess
#pragma once

#include "io/cfb_format.h"
#include "io/qorfile_rec.h"

#include <kxfpx/memory.h>
#include <kxfpx/qorfile.h>

#include <cstdint>
#include <cstring>
#include <unordered_map>
#include <vector>

namespace kxfpx::io {

// cursorFlags bits.
constexpr uint32_t kStreamCursor = 1u; // chainIndex/chainSector hold a sector of the stream's chain
constexpr uint32_t kMiniCursor = 2u;   // miniChainIndex/miniChainSector: the mini stream's chain

// The sector reached by following `links` links of a chain from `sector`,
// stopping at (and returning) the first value at or above `count`: exactly
// what a link-by-link walk gives. A cycle is detected on the way (Brent's
// method) and the remaining links are reduced modulo its length, so the cost
// is bounded by the chain's distinct sectors, never by `links`.
uint32_t follow_links(uint32_t sector, uint64_t links, const uint32_t *table, uint32_t count);

// The last sector of a chain: follows it until an entry holds the end of
// chain, a value outside the table (the sector before it is returned) or,
// after `count` links, a cycle (the sector reached is returned).
uint32_t chain_end(uint32_t start, const uint32_t *table, uint32_t count);

// A whole chain listed once: its sectors up to the end, or up to the first
// repeated sector (a cycle). at(k) is follow_links(start, k) in O(1).
class ChainMap {
public:
    [[nodiscard]] bool build(uint32_t start, const uint32_t *table, uint32_t count);
    uint32_t at(uint64_t index) const;

private:
    std::vector<uint32_t> sectors_;
    size_t cycle_start_ = 0;
    bool cyclic_ = false;
    uint32_t terminal_ = kEndOfChain;
};

// Made with the root storage, freed by its close; every storage and stream
// made from the root points to it (cfbShared).
struct SharedState {
    // Reader: the directory chain, listed at the first look-up, and the
    // mini stream's chain, listed at the first mini-stream read (a stream's
    // mini sectors may lie in any order in the mini stream).
    ChainMap directory;
    bool directoryReady = false;
    ChainMap miniStream;
    bool miniStreamReady = false;
    // Reader: the directory entries read so far, by entry number, in the
    // data format they were read in (a format change empties it). Every
    // stream open searches the tree from its storage's child again, so
    // without it the same entries are read and parsed over and over. It
    // holds at most what the directory chain holds, which the file bounds.
    std::unordered_map<uint32_t, EntryImage> entries;
    int16_t entriesByteOrder = 0;
    int16_t entriesFloatFormat = 0;
    // Writer: the mini stream's chain (last sector, length in sectors), the
    // lowest MiniFAT entry that may still be free, and whether a placement
    // failed since the root was made.
    uint32_t miniTail = kNoEntry;
    uint32_t miniLength = 0;
    uint32_t miniFreeHint = 0;
    bool failed = false;
};

inline SharedState *shared_of(const QorFileRec &rec) { return static_cast<SharedState *>(rec.cfbShared); }
inline HeaderImage *header_of(const QorFileRec &rec) { return reinterpret_cast<HeaderImage *>(rec.cfHeader); }
inline uint32_t *fat_of(const QorFileRec &rec) { return rec.fatHolder ? *rec.fatHolder : nullptr; }
inline uint32_t *minifat_of(const QorFileRec &rec) { return rec.miniFatHolder ? *rec.miniFatHolder : nullptr; }
inline EntryImage *directory_of(const QorFileRec &rec)
{
    return rec.dirHolder ? reinterpret_cast<EntryImage *>(*rec.dirHolder) : nullptr;
}
// Entry counts of the tables: 128 a sector, as the header counts them.
uint32_t fat_count(const QorFileRec &rec);
uint32_t minifat_count(const QorFileRec &rec);
// A writer's record: the shared in-memory directory exists only while a
// file is being written.
inline bool is_writer(const QorFileRec &rec) { return rec.dirHolder != nullptr; }
inline bool is_storage(const QorFileRec &rec) { return rec.inCompound == 1 && rec.isStream == 0; }

// Reads a record as plain file data for a scope: clears inCompound, so that
// qorRead and qorSeek on it reach the file beneath instead of the stream
// layer, and sets it to `after` on every path out.
class PlainAccess {
public:
    PlainAccess(QorFileRec &rec, uint32_t after) : rec_(rec), after_(after) { rec.inCompound = 0; }
    ~PlainAccess() { rec_.inCompound = after_; }
    PlainAccess(const PlainAccess &) = delete;
    PlainAccess &operator=(const PlainAccess &) = delete;

private:
    QorFileRec &rec_;
    uint32_t after_;
};

// 512 zero bytes: the header's placeholder, new mini stream sectors, the
// padding after mini sectors and unused directory entries.
inline constexpr uint8_t kZeroSector[kSectorSize] = {};

// File offset of a sector, and a seek there; false when the offset is past
// what a signed 32-bit position holds or the source refuses it.
inline int64_t sector_offset(uint32_t sector) { return (static_cast<int64_t>(sector) + 1) * kSectorSize; }
[[nodiscard]] bool seek_to(QorFile file, int64_t offset);
int32_t tell(QorFile file);

// Records made by copying another one. The copy's file buffer is reset, and
// a file opened by name gets a 12288-byte buffer of its own.
QorFile copy_record(const QorFileRec &from, bool own_buffer);
// Frees a record made by copy_record, with its own buffer.
void free_copied_record(QorFile handle);
inline bool owns_buffer(const QorFileRec &rec) { return rec.stream && rec.openedByName; }

// A block holding one pointer (holders of tables, of the staging buffer).
template <typename T> T **make_holder(T *array)
{
    auto **holder = static_cast<T **>(qorPtrGlobalAlloc(kHolderSize));
    if (holder)
        *holder = array;
    return holder;
}
template <typename T> void free_holder(T **&holder)
{
    if (holder) {
        qorPtrGlobalFree(*holder);
        qorPtrGlobalFree(holder);
    }
    holder = nullptr;
}

// The largest block the writer asks for: with its header and rounding the
// whole block still stays within 32 bits.
constexpr uint64_t kMaxBlockBytes = UINT32_MAX - 64;

// Replaces a writer's growing block (directory, FAT, MiniFAT) by a zeroed
// one of `bytes` bytes that starts with the old block's first `keep` bytes.
// False, the old block kept, when the size is too large or the heap
// refuses it.
template <typename T> bool grow_block(T *&block, uint32_t keep, uint64_t bytes)
{
    if (bytes > kMaxBlockBytes)
        return false;
    void *grown = qorPtrGlobalAlloc(static_cast<uint32_t>(bytes));
    if (!grown)
        return false;
    std::memcpy(grown, block, keep);
    qorPtrGlobalFree(block);
    block = static_cast<T *>(grown);
    return true;
}

// Reader stages.
[[nodiscard]] bool load_tables(QorFile file, QorFileRec &rec, int64_t source_size);
void free_root_state(QorFileRec &rec);
[[nodiscard]] bool look_up(QorFile file, QorFileRec &rec, uint8_t type, const char *name);

// The compound-stream callback and the outer record it serves.
int64_t stream_callback(void *context, int32_t operation, void *data, int64_t count);
QorFile open_outer(QorFile inner, QorFileRec &rec, uint32_t mode);

// Writer stages.
int32_t close_writer_root(QorFileRec &rec);
int32_t close_writer_stream(QorFile inner, QorFileRec &rec);
void free_writer_state(QorFileRec &rec);
[[nodiscard]] bool ensure_fat(QorFileRec &rec, uint32_t index);
// The sector that starts at `position` of the output file, counted after the
// header sector: false for a position inside the header (or -1, a failure).
[[nodiscard]] bool sector_at(int32_t position, uint32_t &sector);
// The sector at the output file's end, the FAT grown to hold it.
[[nodiscard]] bool end_sector(QorFileRec &rec, uint32_t &sector);
[[nodiscard]] bool ensure_minifat(QorFileRec &rec, uint32_t index);

} // namespace kxfpx::io
