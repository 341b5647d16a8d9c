// MovableBlock: a zero-filled movable block (flags 0x42) locked for as long
// as it is held, unlocked and freed on every path; and the checked size
// arithmetic for every block whose size comes from file values.
#pragma once

#include <kxfpx/memory.h>

#include <cstdint>

namespace kxfpx::port {

// a * b + c as a 32-bit block size; false when it overflows or exceeds 32 bits.
[[nodiscard]] inline bool checked_size(uint64_t a, uint64_t b, uint64_t c, uint32_t &out)
{
    uint64_t product = 0, sum = 0;
    if (__builtin_mul_overflow(a, b, &product) || __builtin_add_overflow(product, c, &sum) ||
        sum > UINT32_MAX)
        return false;
    out = static_cast<uint32_t>(sum);
    return true;
}

// count * size as a 32-bit block size.
[[nodiscard]] inline bool block_size(uint64_t count, uint64_t size, uint32_t &out)
{
    return checked_size(count, size, 0, out);
}

class MovableBlock {
public:
    MovableBlock() = default;
    ~MovableBlock() { reset(); }
    MovableBlock(const MovableBlock &) = delete;
    MovableBlock &operator=(const MovableBlock &) = delete;

    // Takes a new zero-filled block and locks it; false, holding nothing,
    // when either fails.
    [[nodiscard]] bool allocate(uint32_t size)
    {
        reset();
        handle_ = GlobalAlloc(KX_GHND, size);
        if (!handle_)
            return false;
        data_ = static_cast<uint8_t *>(GlobalLock(handle_));
        if (!data_) {
            GlobalFree(handle_);
            handle_ = nullptr;
            return false;
        }
        size_ = size;
        return true;
    }

    // Unlocks and frees what is held.
    void reset()
    {
        if (!handle_)
            return;
        GlobalUnlock(handle_);
        GlobalFree(handle_);
        handle_ = nullptr;
        data_ = nullptr;
        size_ = 0;
    }

    HGLOBAL handle() const { return handle_; }
    uint8_t *data() const { return data_; }
    template <typename T> T *as() const { return reinterpret_cast<T *>(data_); }
    uint32_t size() const { return size_; }
    explicit operator bool() const { return data_ != nullptr; }

private:
    HGLOBAL handle_ = nullptr;
    uint8_t *data_ = nullptr;
    uint32_t size_ = 0;
};

} // namespace kxfpx::port
