/* Movable memory handles and block routines on the process heap.
 * A handle is the address of a GlobalBlock header; the data follows it at
 * offset 32, and the byte just before the data (the back-link byte) holds the
 * distance back to the header once the block was locked. Blocks never move
 * and locks are not counted. */
#ifndef KXFPX_MEMORY_H
#define KXFPX_MEMORY_H

#include "records.h"

KX_BEGIN_DECLS

typedef struct GlobalBlock {
    uint32_t size;        /* size asked for; GlobalSize returns it */
    uint32_t flags;       /* stored, never interpreted */
    uint64_t reserved;
    void *data;           /* the data area */
    uint8_t dataOffset;   /* 32: distance from the header to the data */
    uint8_t pad[6];
    uint8_t backLink;     /* the byte just before the data area */
} GlobalBlock;

#define KX_GMEM_MOVEABLE 0x0002u
#define KX_GMEM_ZEROINIT 0x0040u
#define KX_GHND (KX_GMEM_MOVEABLE | KX_GMEM_ZEROINIT)

KX_API HGLOBAL GlobalAlloc(uint32_t flags, uint32_t size);
KX_API void *GlobalLock(HGLOBAL handle);
KX_API int32_t GlobalUnlock(HGLOBAL handle);
KX_API HGLOBAL GlobalFree(HGLOBAL handle);
KX_API HGLOBAL GlobalReAlloc(HGLOBAL handle, uint32_t size, uint32_t flags);
KX_API HGLOBAL GlobalHandle(const void *data);
KX_API uint32_t GlobalSize(HGLOBAL handle);
KX_API uint32_t GlobalCompact(uint32_t wanted);
KX_API HGLOBAL GlobalPointerToHandle(void *data, uint32_t size);

KX_API void *qorPtrGlobalAlloc(uint32_t size);
KX_API HGLOBAL qorPtrGlobalHandle(const void *data);
KX_API HGLOBAL qorPtrGlobalFree(void *data);
KX_API void *qorPtrGlobalReAlloc(void *data, uint32_t size, uint32_t flags);

KX_API void qorHugeMemcpy(void *dest, const void *src, uint32_t count);
KX_API void qorHugeMemset(void *dest, int value, uint32_t count);
KX_API int32_t qorHugeMemcmp(const void *a, const void *b, uint32_t count);

KX_API void *memalloc(uint32_t size);
KX_API int32_t if_free(void **slot);

KX_END_DECLS

KX_STATIC_ASSERT(sizeof(GlobalBlock) == 32, "GlobalBlock header is 32 bytes");
KX_STATIC_ASSERT(offsetof(GlobalBlock, data) == 16, "GlobalBlock data pointer");
KX_STATIC_ASSERT(offsetof(GlobalBlock, dataOffset) == 24, "GlobalBlock data offset");
KX_STATIC_ASSERT(offsetof(GlobalBlock, backLink) == 31, "GlobalBlock back-link byte");

#endif
