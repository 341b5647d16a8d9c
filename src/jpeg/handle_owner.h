// Owners of the decoder's movable blocks: HandleOwner frees a handle on every
// path unless it was handed on, LockedBlock pins one (GlobalLock) for a scope.
// Both keep "release everything on every path" true by construction.
#pragma once

#include <kxfpx/memory.h>

namespace kxfpx::jpeg {

class HandleOwner {
public:
    HandleOwner() = default;
    explicit HandleOwner(HGLOBAL handle) : handle_(handle) {}
    ~HandleOwner() { reset(); }
    HandleOwner(const HandleOwner &) = delete;
    HandleOwner &operator=(const HandleOwner &) = delete;

    HGLOBAL get() const { return handle_; }
    // Gives up ownership (the handle now belongs to a table slot or a caller).
    HGLOBAL release()
    {
        HGLOBAL h = handle_;
        handle_ = nullptr;
        return h;
    }
    // Takes a new handle (the old one, if any, is freed first).
    void reset(HGLOBAL handle = nullptr)
    {
        if (handle_)
            GlobalFree(handle_);
        handle_ = handle;
    }

private:
    HGLOBAL handle_ = nullptr;
};

// Pins a handle for a scope; unlocks on every path.
class LockedBlock {
public:
    LockedBlock() = default;
    explicit LockedBlock(HGLOBAL handle) { lock(handle); }
    ~LockedBlock() { unlock(); }
    LockedBlock(const LockedBlock &) = delete;
    LockedBlock &operator=(const LockedBlock &) = delete;

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
        data_ = nullptr;
        handle_ = nullptr;
    }
    template <typename T> T *as() const { return static_cast<T *>(data_); }

private:
    HGLOBAL handle_ = nullptr;
    void *data_ = nullptr;
};

} // namespace kxfpx::jpeg
