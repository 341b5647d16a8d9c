// The directory look-up: finds an entry by type and name among a storage's
// children, depth first through the tree of siblings (left subtree, then
// right), reading each visited 128-byte entry from the file. The directory
// chain is listed once per root, so reaching entry n costs nothing however
// long or cyclic the chain is, and an entry whose search failed is not
// searched again at the same or a greater depth, so sibling links that loop
// or join end the search instead of hanging it, with the result of a plain
// depth-first walk.
#include "io/cfb_internal.h"
#include "io/cfb_storage.h"

#include <kxfpx/strings.h>

#include <algorithm>
#include <cstring>
#include <new>
#include <string>
#include <unordered_map>
#include <vector>

namespace kxfpx::io {

namespace {

class LookUp {
public:
    LookUp(QorFile file, QorFileRec &rec, uint8_t type, const char *name,
           std::vector<std::string> *seen = nullptr)
        : file_(file), rec_(rec), type_(type), name_(name ? name : ""), seen_(seen)
    {
    }

    bool run(uint32_t start, EntryImage &found)
    {
        fat_ = fat_of(rec_);
        count_ = fat_count(rec_);
        const HeaderImage *header = header_of(rec_);
        SharedState *shared = shared_of(rec_);
        if (!fat_ || !header || !shared)
            return complete_ = false;
        if (!shared->directoryReady) {
            if (!shared->directory.build(header->firstDirSector, fat_, count_))
                return complete_ = false;
            shared->directoryReady = true;
        }
        directory_ = &shared->directory;
        // A writer's file changes under its records: nothing is kept.
        entries_ = is_writer(rec_) ? &uncached_ : &shared->entries;
        int16_t byte_order = 0, float_format = 0;
        (void)qorGetDataFormat(file_, &byte_order, &float_format);
        if (byte_order != shared->entriesByteOrder || float_format != shared->entriesFloatFormat) {
            entries_->clear();
            shared->entriesByteOrder = byte_order;
            shared->entriesFloatFormat = float_format;
        }
        try {
            return visit(start, 1, found);
        } catch (const std::bad_alloc &) {
            return complete_ = false;
        }
    }

    // False when the walk stopped for want of memory or tables, rather than
    // at what the file holds.
    bool complete() const { return complete_; }

private:
    // Entry n lies in the directory chain's sector n / 4, at 128 x (n mod 4).
    // An entry read once is taken from the root's cache afterwards: the
    // reader's file does not change under it, and the cache is emptied
    // when the record's data format is not the one its entries were read in.
    bool read_entry(uint32_t n, EntryImage &entry)
    {
        const auto cached = entries_->find(n);
        if (cached != entries_->end()) {
            entry = cached->second;
        } else {
            const uint32_t sector = directory_->at(n / kEntriesPerDirSector);
            if (sector >= count_)
                return false;
            const int64_t offset = sector_offset(sector) + int64_t{kEntrySize} * (n % kEntriesPerDirSector);
            if (!seek_to(file_, offset) || qorReadStruct(file_, kEntryReadFormat, &entry, 1) != 1)
                return false;
            if (entries_ != &uncached_)
                entries_->emplace(n, entry);
        }
        return entry.nameLength <= kMaxNameLength;
    }

    bool accepts(const EntryImage &entry) const
    {
        // An unused entry belongs to no tree: well-formed files never link
        // one, and it is never taken for the entry asked for, whatever its
        // name or the type asked for.
        if (entry.type == kTypeUnused)
            return false;
        if (type_ == kTypeRoot && entry.type == kTypeRoot)
            return true;
        // The name narrowed in place, as (length - 1) / 2 + 1 code units
        // (terminator included), in a copy one byte longer than the field
        // so that a name without a terminator still ends.
        char narrow[kNameField + 1];
        std::memcpy(narrow, entry.name, kNameField);
        narrow[kNameField] = '\0';
        const int32_t units = (static_cast<int32_t>(entry.nameLength) - 1) / 2 + 1;
        for (int32_t i = 0; i < units; ++i)
            narrow[i] = static_cast<char>(entry.name[2 * i]);
        // A listing takes every name the search compares and accepts none,
        // so it visits what a search for a missing name visits.
        if (seen_) {
            seen_->emplace_back(narrow);
            return false;
        }
        return stricmp(narrow, name_) == 0;
    }

    // A search from entry n at depth d covers what a search from n at any
    // greater depth covers (the depth limit only cuts more), so once it has
    // failed, n is skipped at d and below. Each entry is then searched at
    // most once per depth: at most 256 times, however the links loop or
    // join, and a shallower meeting still searches deeper than the first.
    bool visit(uint32_t n, uint32_t depth, EntryImage &found)
    {
        if (n == kNoEntry)
            return false;
        const auto failed = failed_at_.find(n);
        if (failed != failed_at_.end() && failed->second <= depth)
            return false;
        if (search(n, depth, found))
            return true;
        uint32_t &mark = failed_at_.emplace(n, depth).first->second;
        mark = std::min(mark, depth);
        return false;
    }

    bool search(uint32_t n, uint32_t depth, EntryImage &found)
    {
        EntryImage entry{};
        if (!read_entry(n, entry))
            return false;
        if (accepts(entry)) {
            found = entry;
            return true;
        }
        if (depth >= kMaxLookupDepth)
            return false;
        return visit(entry.left, depth + 1, found) || visit(entry.right, depth + 1, found);
    }

    QorFile file_;
    QorFileRec &rec_;
    uint8_t type_;
    const char *name_;
    std::vector<std::string> *seen_;
    bool complete_ = true;
    const uint32_t *fat_ = nullptr;
    uint32_t count_ = 0;
    const ChainMap *directory_ = nullptr;
    std::unordered_map<uint32_t, EntryImage> *entries_ = nullptr;
    std::unordered_map<uint32_t, EntryImage> uncached_; // stays empty
    std::unordered_map<uint32_t, uint32_t> failed_at_; // entry -> least depth its search failed at
};

} // namespace

bool look_up(QorFile file, QorFileRec &rec, uint8_t type, const char *name)
{
    // The entries are read as plain file data; a record that has been
    // looked up is a storage's or a stream's, compound from then on.
    PlainAccess plain(rec, 1);
    EntryImage entry{};
    const bool found = LookUp(file, rec, type, name).run(rec.childEntry, entry);
    if (found) {
        if (rec.ownsTables) {
            // The root entry describes the mini stream.
            rec.miniStreamStart = entry.startSector;
            rec.miniStreamSize = entry.size;
        }
        rec.startSector = entry.startSector;
        rec.streamSize = entry.size;
        rec.childEntry = entry.child;
    }
    return found;
}

bool list_children(QorFile storage, std::vector<std::string> &names)
{
    names.clear();
    RecordLock parent(storage);
    if (!parent || !is_storage(*parent.get()) || is_writer(*parent.get()))
        return false;
    // The entries are read through a copy of the storage's record, as a
    // stream open reads them, so the storage itself is left as it was.
    QorFile copy = copy_record(*parent.get(), owns_buffer(*parent.get()));
    if (!copy)
        return false;
    bool listed = false;
    {
        RecordLock rec(copy);
        if (rec) {
            PlainAccess plain(*rec.get(), 1);
            EntryImage unused{};
            LookUp walk(copy, *rec.get(), kTypeStream, "", &names);
            (void)walk.run(rec->childEntry, unused);
            // An entry that cannot be read ends a look-up at the same place,
            // so the list still holds every name a look-up can find; only a
            // walk cut short for want of memory or tables is no list.
            listed = walk.complete();
        }
    }
    free_copied_record(copy);
    if (!listed)
        names.clear();
    return listed;
}

} // namespace kxfpx::io
