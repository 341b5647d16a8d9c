// Opening and closing storages and streams of a Compound File. The root
// storage checks the header and loads the shared tables; a sub-storage or a
// stream is a copy of its parent's record that the directory look-up points
// at its entry; a stream handle is an outer record in callback mode over the
// compound-stream callback and an inner record describing the stream.
#include "io/cfb_internal.h"

#include <kxfpx/storage.h>

#include <cstring>
#include <new>

using namespace kxfpx::io;

extern "C" {
const uint8_t SIGNATURE[8] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};
const uint8_t ROOT_CLASSID[16] = {0x70, 0xAE, 0x7B, 0xEA, 0x3B, 0xFB, 0xCD, 0x11,
                                         0xA9, 0x03, 0x00, 0xAA, 0x00, 0x51, 0x0E, 0xA3};
const uint8_t STORAGE_CLASSID[16] = {0x01, 0x08, 0x02, 0x00, 0x00, 0x00, 0x00, 0x00,
                                            0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46};
}

namespace kxfpx::io {

QorFile copy_record(const QorFileRec &from, bool own_buffer)
{
    QorFile handle = GlobalAlloc(kBlockFlags, sizeof(QorFileRec));
    auto *rec = static_cast<QorFileRec *>(GlobalLock(handle));
    if (!rec)
        return nullptr;
    std::memcpy(rec, &from, sizeof(QorFileRec));
    if (rec->stream) {
        start_window(*rec, 0);
        rec->dirty = 0;
        if (own_buffer) {
            rec->bufHandle = GlobalAlloc(kBlockFlags, kQorBufferSize);
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

// A storage or inner stream record under construction: freed, with the
// root's tables when it loaded them, unless released.
class RecordGuard {
public:
    explicit RecordGuard(QorFile handle) : handle_(handle) {}
    ~RecordGuard()
    {
        if (!handle_)
            return;
        if (auto *rec = static_cast<QorFileRec *>(GlobalLock(handle_))) {
            if (rec->ownsTables)
                free_root_state(*rec);
        }
        free_copied_record(handle_);
    }
    RecordGuard(const RecordGuard &) = delete;
    RecordGuard &operator=(const RecordGuard &) = delete;
    QorFile release()
    {
        QorFile handle = handle_;
        handle_ = nullptr;
        return handle;
    }

private:
    QorFile handle_;
};

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
