// Owners for the resources an import holds: Compound File storages and
// streams, the input file, locked movable blocks; and the checked size
// arithmetic for every allocation whose size comes from the file.
#pragma once

#include <kxfpx/memory.h>
#include <kxfpx/qorfile.h>
#include <kxfpx/storage.h>

#include <cstdint>
#include <utility>

namespace kxfpx::fpx {

// Holds one handle and releases it with Free when the scope ends, unless
// it was released earlier with reset().
template <auto Free> class Owner {
public:
    Owner() = default;
    explicit Owner(QorFile handle) : handle_(handle) {}
    ~Owner() { reset(); }
    Owner(const Owner &) = delete;
    Owner &operator=(const Owner &) = delete;

    QorFile get() const { return handle_; }
    explicit operator bool() const { return handle_ != nullptr; }
    void reset(QorFile handle = nullptr)
    {
        if (handle_)
            (void)Free(handle_);
        handle_ = handle;
    }

private:
    QorFile handle_ = nullptr;
};

using StorageOwner = Owner<&qorCloseStorage>;
using StreamOwner = Owner<&qorCloseStream>;

// A zero-filled movable block, locked for as long as it is owned.
class LockedBlock {
public:
    LockedBlock() = default;
    ~LockedBlock() { reset(); }
    LockedBlock(const LockedBlock &) = delete;
    LockedBlock &operator=(const LockedBlock &) = delete;

    // False (nothing held) when the block cannot be made or locked.
    [[nodiscard]] bool allocate(uint32_t size);
    void reset();
    HGLOBAL handle() const { return handle_; }
    template <typename T> T *as() const { return static_cast<T *>(data_); }

private:
    HGLOBAL handle_ = nullptr;
    void *data_ = nullptr;
};

// count * size as a 32-bit block size; false when it does not fit.
inline bool block_size(uint64_t count, uint64_t size, uint32_t &out)
{
    uint64_t bytes;
    if (__builtin_mul_overflow(count, size, &bytes) || bytes > UINT32_MAX)
        return false;
    out = static_cast<uint32_t>(bytes);
    return true;
}

} // namespace kxfpx::fpx
