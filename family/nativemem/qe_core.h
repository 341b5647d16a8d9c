/* libqe_core.so: the family's native memory library (stand-in).
 * Blocks are plain heap allocations; a handle is the block's address.
 * Lock returns the data pointer, unlock does nothing, free releases. */
#ifndef QE_CORE_H
#define QE_CORE_H
#include <stdint.h>
#ifdef __cplusplus
extern "C" {
#endif
void *NativeBlockAlloc(uint32_t size);      /* zero-filled; null on failure */
void *NativeBlockLock(void *handle);        /* data pointer; null for null  */
int32_t NativeBlockUnlock(void *handle);    /* always 0                      */
int32_t NativeBlockFree(void *handle);      /* 0; null is accepted           */
#ifdef __cplusplus
}
#endif
#endif
