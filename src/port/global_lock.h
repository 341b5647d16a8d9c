// RAII over the movable memory handles: LockedHandle pins a handle with
// GlobalLock for the lifetime of a scope (or until unlock or another lock)
// and unlocks it on every path, so an entry that locks its setup or a table
// cannot leave it locked on an early return.
#pragma once

#include <kxfpx/memory.h>

namespace kxfpx::port {

class LockedHandle {
public:
    LockedHandle() = default;
    explicit LockedHandle(HGLOBAL handle) { lock(handle); }
    ~LockedHandle() { unlock(); }
    LockedHandle(const LockedHandle &) = delete;
    LockedHandle &operator=(const LockedHandle &) = delete;

    // Unlocks what is held, then pins `handle`; its data, or null.
    void *lock(HGLOBAL handle)
    {
        unlock();
        handle_ = handle;
        data_ = handle ? GlobalLock(handle) : nullptr;
        return data_;
    }
    void unlock()
    {
        if (data_)
            GlobalUnlock(handle_);
        handle_ = nullptr;
        data_ = nullptr;
    }

    template <typename T> T *as() const { return static_cast<T *>(data_); }
    explicit operator bool() const { return data_ != nullptr; }

private:
    HGLOBAL handle_ = nullptr;
    void *data_ = nullptr;
};

} // namespace kxfpx::port
