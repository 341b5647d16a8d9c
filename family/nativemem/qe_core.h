/* libqe_core.so: the family's native memory library (stand-in), plain C on
 * libc. A block is one heap allocation: a small header followed by the data.
 *
 *   void *NativeBlockAlloc(size)   a new zero-filled block of `size` bytes
 *                                  (0 is allowed); its handle, or null when
 *                                  the heap is exhausted.
 *   void *NativeBlockLock(handle)  the block's data pointer; null for a null
 *                                  handle or one that is not a live block
 *                                  of this library. Locks are counted.
 *   int32_t NativeBlockUnlock(handle)  undoes one lock; returns the locks
 *                                  still held (0 when none), -1 for a handle
 *                                  that is not a live block.
 *   int32_t NativeBlockFree(handle)    releases the block whether or not it
 *                                  is locked; 0, also for null; -1 (and
 *                                  nothing freed) for a handle that is not a
 *                                  live block.
 *   uint32_t NativeBlockSize(handle)   the size asked for; 0 for a handle
 *                                  that is not a live block.
 *
 * A handle is not the data pointer. A tag in the header catches the usual
 * mistakes (a data pointer of at least 4 bytes passed where a handle
 * belongs, a second free of a block whose memory was not reused yet); it is
 * a check, not a guarantee: a handle must come from NativeBlockAlloc. Any
 * thread may use the calls on distinct blocks. */
#ifndef QE_CORE_H
#define QE_CORE_H
#include <stdint.h>
#ifdef __cplusplus
extern "C" {
#endif
void *NativeBlockAlloc(uint32_t size);
void *NativeBlockLock(void *handle);
int32_t NativeBlockUnlock(void *handle);
int32_t NativeBlockFree(void *handle);
uint32_t NativeBlockSize(void *handle);
#ifdef __cplusplus
}
#endif
#endif
