// Building a Compound File's structure: the root storage with the writer's
// shared state (header image, FAT, MiniFAT, directory, entry count), then
// sub-storages and streams, each a directory entry hung in its parent's
// tree of siblings by the insertion rule, and a stream's staging buffer and
// outer record. The data itself is placed by the stream writer.
#include "io/cfb_internal.h"
#include "io/cfb_storage.h"

#include <kxfpx/storage.h>
#include <kxfpx/strings.h>

#include <cstring>
#include <new>
#include <vector>

namespace kxfpx::io {

namespace {

// Names are kept narrow and widened to UTF-16LE when written: at most 31
// characters fit the 64-byte field. Longer names are refused rather than
// shortened (a shortened name could collide with a sibling), and so are
// empty ones, which no look-up can ask for.
bool name_acceptable(const char *name)
{
    return name && name[0] != '\0' && std::strlen(name) <= kMaxNameChars;
}

uint16_t name_length_of(const char *name) { return static_cast<uint16_t>((std::strlen(name) + 1) * 2); }

// Where a new entry hangs in its parent's tree: the entry whose link is
// empty, and which link.
struct Slot {
    uint32_t entry;
    uint32_t EntryImage::*link;
};

// Order of the insertion rule: longer names go right, shorter left; equal
// lengths compare the stored bytes one by one, first byte first.
int compare_names(const EntryImage &a, const EntryImage &b)
{
    if (a.nameLength != b.nameLength)
        return a.nameLength < b.nameLength ? -1 : 1;
    for (uint32_t i = 0; i < a.nameLength && i < kNameField; ++i) {
        if (a.name[i] != b.name[i])
            return a.name[i] < b.name[i] ? -1 : 1;
    }
    return 0;
}

// Two siblings whose names differ only in letter case could not be told
// apart by the reader's case-insensitive look-up, so a name equal to any
// existing sibling's, letter case aside, is refused. The sibling tree is the
// writer's own (acyclic); the walk is still bounded by the entry count.
bool name_taken(const EntryImage *dir, uint32_t count, uint32_t first, const char *name)
{
    std::vector<uint32_t> pending;
    uint32_t seen = 0;
    if (first < count)
        pending.push_back(first);
    while (!pending.empty() && seen++ <= count) {
        const EntryImage &entry = dir[pending.back()];
        pending.pop_back();
        if (stricmp(reinterpret_cast<const char *>(entry.name), name) == 0)
            return true;
        for (uint32_t next : {entry.left, entry.right})
            if (next < count)
                pending.push_back(next);
    }
    return false;
}

Slot find_slot(const EntryImage *dir, uint32_t count, uint32_t parent, const EntryImage &fresh)
{
    if (dir[parent].child >= count)
        return {parent, &EntryImage::child};
    uint32_t at = dir[parent].child;
    for (uint32_t steps = 0; steps <= count; ++steps) {
        const auto link = compare_names(fresh, dir[at]) < 0 ? &EntryImage::left : &EntryImage::right;
        if (dir[at].*link >= count)
            return {at, link};
        at = dir[at].*link;
    }
    return {parent, nullptr};
}

EntryImage make_entry(const char *name, uint8_t type)
{
    EntryImage entry{};
    std::memcpy(entry.name, name, std::strlen(name));
    entry.nameLength = name_length_of(name);
    entry.type = type;
    entry.colour = type == kTypeStorage ? kColourBlack : kColourRed;
    entry.left = entry.right = entry.child = kNoEntry;
    if (type == kTypeRoot)
        std::memcpy(entry.clsid, ROOT_CLASSID, sizeof entry.clsid);
    else if (type == kTypeStorage)
        std::memcpy(entry.clsid, STORAGE_CLASSID, sizeof entry.clsid);
    entry.startSector = kNoEntry;
    if (type != kTypeStream)
        entry.tail[2] = entry.tail[3] = kStorageTailMark;
    return entry;
}

// Makes room for one more directory entry (grown by 4 entries), so that the
// append that follows cannot fail.
bool reserve_entry(QorFileRec &rec)
{
    const uint32_t count = *rec.dirCountPtr;
    const uint32_t capacity = GlobalSize(qorPtrGlobalHandle(*rec.dirHolder)) / sizeof(EntryImage);
    if (count < capacity)
        return true;
    const uint64_t bytes = (uint64_t{capacity} + kEntriesPerDirSector) * sizeof(EntryImage);
    return grow_block(*rec.dirHolder, capacity * static_cast<uint32_t>(sizeof(EntryImage)), bytes);
}

// Appends the entry (room reserved) and hangs it in its parent's tree.
uint32_t append_entry(QorFileRec &rec, const EntryImage &entry, const Slot *slot)
{
    EntryImage *dir = directory_of(rec);
    const uint32_t index = (*rec.dirCountPtr)++;
    dir[index] = entry;
    if (slot)
        dir[slot->entry].*(slot->link) = index;
    return index;
}

// Checks a new child's name against its parent's children and finds its
// slot; false when the name is refused.
bool prepare_child(const QorFileRec &parent, const char *name, uint8_t type, EntryImage &entry, Slot &slot)
{
    if (!name_acceptable(name))
        return false;
    const EntryImage *dir = directory_of(parent);
    const uint32_t count = *parent.dirCountPtr;
    if (parent.entryIndex >= count || name_taken(dir, count, dir[parent.entryIndex].child, name))
        return false;
    entry = make_entry(name, type);
    slot = find_slot(dir, count, parent.entryIndex, entry);
    return slot.link != nullptr;
}

// A writer record copied from `from`: a storage's, or a stream's when
// `stream`. Writer records never read through a buffer of their own: all
// their bytes go through the output file.
QorFile copy_writer_record(const QorFileRec &from, bool stream)
{
    QorFile handle = copy_record(from, false);
    if (auto *rec = static_cast<QorFileRec *>(GlobalLock(handle))) {
        rec->openedByName = 0;
        rec->inCompound = 1;
        rec->isStream = stream ? 1 : 0;
    }
    return handle;
}

// A copy of a writer storage for a new child entry (storage or stream),
// once its name is accepted and room for its entry is made; the entry and
// its slot in the parent's tree are returned for the append.
QorFile new_child(QorFile parent, const char *name, uint8_t type, EntryImage &entry, Slot &slot)
{
    RecordLock owner(parent);
    if (!owner || !is_writer(*owner.get()) || owner->isStream)
        return nullptr;
    if (!prepare_child(*owner.get(), name, type, entry, slot) || !reserve_entry(*owner.get()))
        return nullptr;
    return copy_writer_record(*owner.get(), type == kTypeStream);
}

// A new block of `bytes` bytes filled with `fill`, hung in a holder; null,
// with nothing left allocated, when either allocation fails.
template <typename T> T **new_held_block(uint32_t bytes, uint8_t fill)
{
    auto *block = static_cast<T *>(qorPtrGlobalAlloc(bytes));
    if (!block)
        return nullptr;
    std::memset(block, fill, bytes);
    T **holder = make_holder(block);
    if (!holder)
        qorPtrGlobalFree(block);
    return holder;
}

// The writer's shared state while it is being made: hung on the output
// file's record, freed unless the root is made.
class WriterState {
public:
    explicit WriterState(QorFileRec &file) : file_(file) {}
    ~WriterState()
    {
        if (!kept_)
            free_writer_state(file_);
    }
    WriterState(const WriterState &) = delete;
    WriterState &operator=(const WriterState &) = delete;

    bool make()
    {
        // One sector of free FAT and MiniFAT entries; directory room for
        // one sector of entries.
        file_.cfHeader = static_cast<uint8_t *>(qorPtrGlobalAlloc(kHeaderImageSize));
        file_.fatHolder = new_held_block<uint32_t>(kSectorSize, kFreeSectorByte);
        file_.miniFatHolder = new_held_block<uint32_t>(kSectorSize, kFreeSectorByte);
        file_.dirHolder = new_held_block<uint8_t>(kEntriesPerDirSector * sizeof(EntryImage), 0);
        file_.dirCountPtr = static_cast<uint32_t *>(qorPtrGlobalAlloc(sizeof(uint32_t)));
        file_.cfbShared = new (std::nothrow) SharedState();
        HeaderImage *header = header_of(file_);
        if (!header || !file_.fatHolder || !file_.miniFatHolder || !file_.dirHolder || !file_.dirCountPtr ||
            !file_.cfbShared)
            return false;
        std::memcpy(header->signature, SIGNATURE, sizeof header->signature);
        header->minorVersion = kMinorVersion;
        header->majorVersion = kMajorVersion;
        header->byteOrder = kByteOrderMark;
        header->sectorShift = kSectorShift;
        header->miniSectorShift = kMiniSectorShift;
        header->numFatSectors = 1;
        header->firstDirSector = kNoEntry;
        header->miniStreamCutoff = kMiniStreamCutoff;
        header->firstMiniFatSector = kNoEntry;
        header->numMiniFatSectors = 1;
        header->firstDifatSector = kEndOfChain;
        header->numDifatSectors = 0;
        *file_.dirCountPtr = 0;
        return true;
    }
    void keep() { kept_ = true; }

private:
    QorFileRec &file_;
    bool kept_ = false;
};

QorFile create_root(QorFile out_file, const char *name)
{
    RecordLock file(out_file);
    // The mini-stream writer finds the root by its name, so the root must
    // carry it; a file already being written cannot get a second root.
    if (!file || is_writer(*file.get()) || file->fatHolder || !name || std::strcmp(name, kRootName) != 0)
        return nullptr;
    WriterState state(*file.get());
    if (!state.make())
        return nullptr;
    QorFile handle = copy_writer_record(*file.get(), false);
    auto *rec = static_cast<QorFileRec *>(GlobalLock(handle));
    if (!rec)
        return nullptr;
    rec->ownsTables = 1;
    rec->outFile = out_file;
    if (qorWrite(out_file, kZeroSector, kSectorSize) != static_cast<int32_t>(kSectorSize)) {
        GlobalFree(handle);
        return nullptr;
    }
    rec->entryIndex = append_entry(*rec, make_entry(name, kTypeRoot), nullptr);
    state.keep();
    return handle;
}

} // namespace

bool set_storage_class(QorFile storage, const uint8_t clsid[16])
{
    RecordLock rec(storage);
    if (!rec || !clsid || !is_writer(*rec.get()) || rec->isStream || !rec->dirCountPtr)
        return false;
    EntryImage *dir = directory_of(*rec.get());
    if (!dir || rec->entryIndex >= *rec->dirCountPtr || dir[rec->entryIndex].type == kTypeStream)
        return false;
    std::memcpy(dir[rec->entryIndex].clsid, clsid, sizeof dir[rec->entryIndex].clsid);
    return true;
}

} // namespace kxfpx::io

using namespace kxfpx::io;

extern "C" {

KX_API QorFile qorCreateStorage(QorFile outFile, QorFile parent, const char *name)
{
    if (!parent)
        return create_root(outFile, name);
    EntryImage entry{};
    Slot slot{};
    QorFile handle = new_child(parent, name, kTypeStorage, entry, slot);
    if (auto *rec = static_cast<QorFileRec *>(GlobalLock(handle)))
        rec->entryIndex = append_entry(*rec, entry, &slot);
    return handle;
}

KX_API QorFile qorCreateStream(QorFile storage, const char *name)
{
    EntryImage entry{};
    Slot slot{};
    QorFile inner = new_child(storage, name, kTypeStream, entry, slot);
    auto *rec = static_cast<QorFileRec *>(GlobalLock(inner));
    if (!rec)
        return nullptr;
    auto *staging = static_cast<uint8_t *>(qorPtrGlobalAlloc(kStagingSize));
    rec->stagingHandle = GlobalAlloc(KX_GHND, kHolderSize);
    auto **holder = static_cast<uint8_t **>(GlobalLock(rec->stagingHandle));
    if (holder && staging) {
        *holder = staging;
        rec->bufIndex = 0;
        rec->bufLast = -1;
        rec->bufLimit = static_cast<int32_t>(kStagingSize);
        rec->bufBase = 0;
        rec->startSector = kNoEntry;
        rec->streamSize = 0;
        if (QorFile outer = open_outer(inner, *rec, QOR_WRITE)) {
            rec->entryIndex = append_entry(*rec, entry, &slot);
            return outer;
        }
    }
    qorPtrGlobalFree(staging);
    GlobalFree(rec->stagingHandle);
    GlobalFree(inner);
    return nullptr;
}

} // extern "C"
