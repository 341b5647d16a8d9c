// LockedBlock: a zero-filled movable block taken with the flags of the
// system's sizeable buffers and kept locked until it is released.
#include "fpx/owners.h"

namespace kxfpx::fpx {

namespace {
constexpr uint32_t kZeroFilledMoveable = KX_GHND;  // 0x42
}

bool LockedBlock::allocate(uint32_t size)
{
    reset();
    handle_ = GlobalAlloc(kZeroFilledMoveable, size);
    if (!handle_)
        return false;
    data_ = GlobalLock(handle_);
    if (!data_) {
        GlobalFree(handle_);
        handle_ = nullptr;
        return false;
    }
    return true;
}

void LockedBlock::reset()
{
    if (data_)
        GlobalUnlock(handle_);
    if (handle_)
        GlobalFree(handle_);
    handle_ = nullptr;
    data_ = nullptr;
}

} // namespace kxfpx::fpx
