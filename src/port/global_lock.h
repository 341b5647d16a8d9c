// RAII over the movable memory handles: LockedHandle pins a handle with
// GlobalLock for the lifetime of a scope and unlocks it on every path, so an
// entry that locks its setup cannot leave it locked on an early return.
#pragma once

#include <kxfpx/memory.h>

namespace kxfpx::port {

class LockedHandle {
public:
    explicit LockedHandle(HGLOBAL handle) : handle_(handle), data_(GlobalLock(handle)) {}
    ~LockedHandle()
    {
        if (data_)
            GlobalUnlock(handle_);
    }
    LockedHandle(const LockedHandle &) = delete;
    LockedHandle &operator=(const LockedHandle &) = delete;

    template <typename T> T *as() const { return static_cast<T *>(data_); }
    explicit operator bool() const { return data_ != nullptr; }

private:
    HGLOBAL handle_;
    void *data_;
};

} // namespace kxfpx::port
