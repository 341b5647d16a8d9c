/* libqe_core.so: the family's native memory library (stand-in). Each block
 * is a calloc'd header plus data; the handle is the header's address and the
 * header carries a tag, the size and a lock count (see qe_core.h). */
#include "qe_core.h"

#include <stddef.h>
#include <stdlib.h>

#define QE_TAG 0x4B4C4251u  /* "QBLK" */

struct qe_block {
    uint32_t tag;
    uint32_t size;
    uint32_t locks;
    uint32_t reserved;
    /* 16 bytes, so the data that follows keeps malloc's alignment */
    unsigned char data[];
};

static struct qe_block *live_block(void *handle)
{
    struct qe_block *b = handle;
    return (b && b->tag == QE_TAG) ? b : NULL;
}

void *NativeBlockAlloc(uint32_t size)
{
    struct qe_block *b = calloc(1, sizeof *b + (size_t)size);
    if (!b)
        return NULL;
    b->tag = QE_TAG;
    b->size = size;
    return b;
}

void *NativeBlockLock(void *handle)
{
    struct qe_block *b = live_block(handle);
    if (!b)
        return NULL;
    if (b->locks != UINT32_MAX)
        b->locks++;
    return b->data;
}

int32_t NativeBlockUnlock(void *handle)
{
    struct qe_block *b = live_block(handle);
    if (!b)
        return -1;
    if (b->locks)
        b->locks--;
    return b->locks > INT32_MAX ? INT32_MAX : (int32_t)b->locks;
}

int32_t NativeBlockFree(void *handle)
{
    if (!handle)
        return 0;
    struct qe_block *b = live_block(handle);
    if (!b)
        return -1;
    b->tag = 0;
    free(b);
    return 0;
}

uint32_t NativeBlockSize(void *handle)
{
    struct qe_block *b = live_block(handle);
    return b ? b->size : 0;
}
