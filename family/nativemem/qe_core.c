/* libqe_core.so: the family's native memory library, a stand-in on the
 * process heap. A handle is the address of a zero-filled block; locking
 * yields that same address, so a block never moves. */
#include "qe_core.h"
#include <stdlib.h>

void *NativeBlockAlloc(uint32_t size)
{
    /* A size of 0 still yields a distinct block so that the handle is usable. */
    return calloc(1, size ? size : 1);
}

void *NativeBlockLock(void *handle) { return handle; }

int32_t NativeBlockUnlock(void *handle)
{
    (void)handle;
    return 0;
}

int32_t NativeBlockFree(void *handle)
{
    free(handle);
    return 0;
}
