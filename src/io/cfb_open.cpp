// Opening and closing storages and streams of a Compound File. The root
// storage checks the header and loads the shared tables; a sub-storage or a
// stream is a copy of its parent's record that the directory look-up points
// at its entry; a stream handle is an outer record in callback mode over the
// compound-stream callback and an inner record describing the stream.
#include "io/cfb_internal.h"
#include "port/owner.h"

#include <kxfpx/storage.h>

#include <cstring>
#include <new>

using namespace kxfpx::io;

extern "C" {
const uint8_t SIGNATURE[8] = {KX_CFB_SIGNATURE_BYTES};
const uint8_t ROOT_CLASSID[16] = {KX_CFB_ROOT_CLASSID_BYTES};
const uint8_t STORAGE_CLASSID[16] = {KX_CFB_STORAGE_CLASSID_BYTES};
}


namespace kxfpx::io {

QorFile copy_record(const QorFileRec &from, bool own_buffer)
{
    QorFile handle = GlobalAlloc(KX_GHND, sizeof(QorFileRec));
    auto *rec = static_cast<QorFileRec *>(GlobalLock(handle));
    if (!rec)
        return nullptr;
    std::memcpy(rec, &from, sizeof(QorFileRec));
    if (rec->stream) {
        start_window(*rec, 0);
        rec->dirty = 0;
        if (own_buffer) {
            rec->bufHandle = GlobalAlloc(KX_GHND, kQorBufferSize);
            if (!rec->bufHandle) {
                GlobalFree(handle);
                return nullptr;
            }
        }
    }
    rec->ownsTables = 0;
    rec->streamPos = 0;
    rec->cursorFlags = 0;
    rec->streamCtx = nullptr;
    rec->stagingHandle = nullptr;
    return handle;
}

void free_copied_record(QorFile handle)
{
    if (auto *rec = static_cast<QorFileRec *>(GlobalLock(handle))) {
        if (owns_buffer(*rec))
            GlobalFree(rec->bufHandle);
    }
    GlobalFree(handle);
}

} // namespace kxfpx::io

namespace {

// Frees a storage or inner stream record under construction, with the root's
// tables when it loaded them.
void free_unfinished_record(QorFile handle)
{
    if (auto *rec = static_cast<QorFileRec *>(GlobalLock(handle))) {
        if (rec->ownsTables)
            free_root_state(*rec);
    }
    free_copied_record(handle);
}
using RecordGuard = kxfpx::port::Owner<QorFile, free_unfinished_record>;

bool header_acceptable(const HeaderImage &header, const QorFileRec &given, uint32_t limit)
{
    if (limit != 0 && header.numFatSectors >= limit)
        return false;
    if (std::memcmp(header.signature, SIGNATURE, sizeof header.signature) != 0)
        return false;
    if (given.isStream)
        return false;
    if (header.byteOrder != kByteOrderMark || header.sectorShift != kSectorShift)
        return false;
    return header.miniSectorShift == kMiniSectorShift && header.miniStreamCutoff == kMiniStreamCutoff;
}

QorFile open_storage(QorFile file, const char *name, uint32_t limit)
{
    RecordLock given(file);
    if (!given)
        return nullptr;
    // Its header and tables are read as plain file data.
    PlainAccess plain(*given.get(), given->inCompound);
    const bool root = given->fatHolder == nullptr;

    // The source's size bounds what the header may claim (-1: unknown).
    int64_t source_size = -1;
    if (root)
        source_size = qorSeek(file, 0, SEEK_END);
    HeaderImage header{};
    if (!seek_to(file, 0) || qorReadStruct(file, kHeaderFormat, &header, 1) != 1)
        return nullptr;
    if (!header_acceptable(header, *given.get(), limit))
        return nullptr;

    QorFile handle = copy_record(*given.get(), owns_buffer(*given.get()));
    if (!handle)
        return nullptr;
    RecordGuard owner(handle);
    auto *rec = static_cast<QorFileRec *>(GlobalLock(handle));
    rec->inCompound = 0;
    rec->isStream = 0;
    if (root) {
        rec->ownsTables = 1;
        rec->cfHeader = static_cast<uint8_t *>(qorPtrGlobalAlloc(kHeaderImageSize));
        rec->cfbShared = new (std::nothrow) SharedState();
        if (!rec->cfHeader || !rec->cfbShared)
            return nullptr;
        std::memcpy(rec->cfHeader, &header, kHeaderImageSize);
        if (!load_tables(handle, *rec, source_size))
            return nullptr;
    }
    if (!look_up(handle, *rec, root ? kTypeRoot : kTypeStorage, name))
        return nullptr;
    return owner.release();
}

} // namespace

extern "C" {

KX_API QorFile qorOpenStorage_ex(QorFile file, const char *name, uint32_t fatSectorLimit)
{
    return open_storage(file, name, fatSectorLimit);
}

KX_API QorFile qorOpenStorage(QorFile file, const char *name) { return open_storage(file, name, 0); }

KX_API QorFile qorOpenStream(QorFile storage, const char *name)
{
    RecordLock parent(storage);
    // A writer's storages have no directory in the file yet to look in.
    if (!parent || !is_storage(*parent.get()) || is_writer(*parent.get()))
        return nullptr;
    QorFile inner = copy_record(*parent.get(), owns_buffer(*parent.get()));
    if (!inner)
        return nullptr;
    RecordGuard guard(inner);
    auto *rec = static_cast<QorFileRec *>(GlobalLock(inner));
    rec->inCompound = 1;
    rec->isStream = 1;
    if (!look_up(inner, *rec, kTypeStream, name))
        return nullptr;
    // A regular stream that needs more sectors than the FAT has entries, and
    // whose chain still yields a sector at its last index, can only be a
    // chain that cycles: it would repeat the same sectors for as long as its
    // size claims (up to 4 GB). Such a stream is refused like a missing one.
    // A chain that ends or leaves the table early is kept: its reads end
    // there, as those of a file cut short do.
    if (static_cast<int32_t>(rec->streamSize) >= static_cast<int32_t>(kMiniStreamCutoff)) {
        const uint32_t limit = fat_count(*rec);
        const uint32_t last = (rec->streamSize - 1) / kSectorSize;
        if (last >= limit && follow_links(rec->startSector, last, fat_of(*rec), limit) < limit)
            return nullptr;
    }
    QorFile outer = open_outer(inner, *rec, QOR_READ);
    if (!outer)
        return nullptr;
    guard.release();
    return outer;
}

KX_API int32_t qorCloseStream(QorFile stream) { return qorClose(stream); }

KX_API int32_t qorCloseStorage(QorFile storage)
{
    int32_t result = 0;
    {
        RecordLock rec(storage);
        if (!rec)
            return -1;
        if (is_writer(*rec.get())) {
            // A writer's sub-storage has nothing to write; its root writes
            // the tables and the header.
            if (rec->ownsTables)
                result = close_writer_root(*rec.get());
        } else {
            if (rec->ownsTables)
                free_root_state(*rec.get());
            if (owns_buffer(*rec.get()))
                GlobalFree(rec->bufHandle);
        }
    }
    GlobalFree(storage);
    return result;
}

} // extern "C"
