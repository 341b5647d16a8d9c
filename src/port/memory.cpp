// Movable memory handles on the process heap. A handle is the address of a
// 32-byte GlobalBlock header followed by the data area; the whole block is
// one calloc of ((size + 46) / 8) * 8 bytes (exactly 32 + size in sanitizer
// builds), so every block is zero-filled and even a block of size 0 has a
// data area. Blocks never move and locks are
// not counted: GlobalLock only (re)writes the back-link byte that lets
// GlobalHandle map a data pointer back to its header.
#include <kxfpx/memory.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

constexpr uint8_t kDataOffset = 32;  // header size: the data follows at this offset
constexpr uint32_t kAllocSlack = 46; // header plus rounding slack, in 8-byte units below

// Number of 8-byte elements of a block of `size` data bytes. Computed in 64
// bits so that sizes near 4 GiB do not wrap.
uint64_t block_elements(uint32_t size) { return (static_cast<uint64_t>(size) + kAllocSlack) / 8; }

// Bytes taken from the heap for a block of `size` data bytes. Sanitizer
// builds take exactly the header and the data, so that AddressSanitizer sees
// a read or write one byte past the requested size; the rounding slack of
// ordinary builds would hide overruns of up to 14 bytes.
uint64_t block_bytes(uint32_t size)
{
#ifdef KXFPX_EXACT_BLOCKS
    return uint64_t{kDataOffset} + size;
#else
    return block_elements(size) * 8;
#endif
}

GlobalBlock *header_of(HGLOBAL handle) { return static_cast<GlobalBlock *>(handle); }

} // namespace

extern "C" {

KX_API HGLOBAL GlobalAlloc(uint32_t flags, uint32_t size)
{
    void *raw = std::calloc(1, block_bytes(size));
    if (!raw) {
        std::printf("GlobalAlloc function failed due to insufficient memory: needs %ld bytes "
                    "memory!!\n",
                    static_cast<long>(block_elements(size) * 8));
        return nullptr;
    }
    GlobalBlock *block = static_cast<GlobalBlock *>(raw);
    block->size = size;
    block->flags = flags;
    block->reserved = 0;
    block->data = static_cast<uint8_t *>(raw) + kDataOffset;
    block->dataOffset = kDataOffset;
    return block;
}

KX_API void *GlobalLock(HGLOBAL handle)
{
    if (!handle)
        return nullptr;
    GlobalBlock *block = header_of(handle);
    const uintptr_t distance =
        reinterpret_cast<uintptr_t>(block->data) - reinterpret_cast<uintptr_t>(block);
    // The back-link byte sits just before the data area; a record whose data
    // lies farther away than one byte can express keeps it unwritten.
    // The byte is written only when it changes, so that threads locking one
    // block to read it (the tile decoders' shared tables) do not write to
    // memory they share.
    if (distance <= 255) {
        uint8_t &link = reinterpret_cast<uint8_t *>(block)[block->dataOffset - 1];
        if (link != static_cast<uint8_t>(distance))
            link = static_cast<uint8_t>(distance);
    }
    return block->data;
}

KX_API int32_t GlobalUnlock(HGLOBAL handle)
{
    (void)handle;
    return 0;
}

KX_API HGLOBAL GlobalFree(HGLOBAL handle)
{
    std::free(handle);
    return nullptr;
}

KX_API HGLOBAL GlobalReAlloc(HGLOBAL handle, uint32_t size, uint32_t flags)
{
    // A null handle has nothing to copy or free: the call is a plain
    // GlobalAlloc.
    HGLOBAL fresh = GlobalAlloc(flags, size);
    if (handle) {
        GlobalBlock *old = header_of(handle);
        if (fresh) {
            // The sizes are compared as signed values, as the callers expect;
            // a size of 2 GiB or more thus compares negative and copies nothing.
            const int32_t old_size = static_cast<int32_t>(old->size);
            const int32_t new_size = static_cast<int32_t>(size);
            const int32_t keep = old_size < new_size ? old_size : new_size;
            if (keep > 0)
                std::memcpy(header_of(fresh)->data, old->data, static_cast<size_t>(keep));
        }
        // The old block goes whether or not the new one could be made.
        GlobalFree(handle);
    }
    return fresh;
}

KX_API HGLOBAL GlobalHandle(const void *data)
{
    if (!data)
        return nullptr;
    const uint8_t *p = static_cast<const uint8_t *>(data);
    return const_cast<uint8_t *>(p - p[-1]);
}

KX_API uint32_t GlobalSize(HGLOBAL handle) { return header_of(handle)->size; }

KX_API uint32_t GlobalCompact(uint32_t wanted) { return wanted ? wanted : 0x10000u; }

KX_API HGLOBAL GlobalPointerToHandle(void *data, uint32_t size)
{
    GlobalBlock *block = static_cast<GlobalBlock *>(std::malloc(sizeof(GlobalBlock)));
    if (!block)
        return nullptr;
    block->size = size;
    block->reserved = 0;
    block->data = data;
    block->dataOffset = kDataOffset;
    return block;
}

KX_API void *qorPtrGlobalAlloc(uint32_t size)
{
    if (size == 0)
        return nullptr;
    HGLOBAL handle = GlobalAlloc(KX_GHND, size);
    return handle ? GlobalLock(handle) : nullptr;
}

KX_API HGLOBAL qorPtrGlobalHandle(const void *data) { return GlobalHandle(data); }

KX_API HGLOBAL qorPtrGlobalFree(void *data)
{
    if (!data)
        return nullptr;
    HGLOBAL handle = GlobalHandle(data);
    if (GlobalUnlock(handle) != 0)
        return handle;
    return GlobalFree(handle);
}

KX_API void *qorPtrGlobalReAlloc(void *data, uint32_t size, uint32_t flags)
{
    if (!data)
        return qorPtrGlobalAlloc(size);
    HGLOBAL handle = GlobalHandle(data);
    GlobalUnlock(handle);
    if (size == 0)
        return GlobalFree(handle);
    return GlobalLock(GlobalReAlloc(handle, size, flags | KX_GHND));
}

KX_API void qorHugeMemcpy(void *dest, const void *src, uint32_t count)
{
    // Copies upward from the first byte; memmove would differ for
    // overlapping blocks with dest above src, so keep the forward loop.
    uint8_t *d = static_cast<uint8_t *>(dest);
    const uint8_t *s = static_cast<const uint8_t *>(src);
    for (uint32_t i = 0; i < count; i++)
        d[i] = s[i];
}

KX_API void qorHugeMemset(void *dest, int value, uint32_t count)
{
    if (count)
        std::memset(dest, value, count);
}

KX_API int32_t qorHugeMemcmp(const void *a, const void *b, uint32_t count)
{
    const uint8_t *pa = static_cast<const uint8_t *>(a);
    const uint8_t *pb = static_cast<const uint8_t *>(b);
    for (uint32_t i = 0; i < count; i++) {
        if (pa[i] != pb[i])
            return pa[i] < pb[i] ? 1 : 0xFF;
    }
    return 0;
}

KX_API void *memalloc(uint32_t size) { return std::calloc(1, size ? size : 1); }

KX_API int32_t if_free(void **slot)
{
    if (slot && *slot) {
        std::free(*slot);
        *slot = nullptr;
    }
    return 0;
}

} // extern "C"
