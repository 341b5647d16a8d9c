// Owners for the tile renderer's working memory: a zero-filled movable block
// locked for its whole life (unlocked and freed on every path), and checked
// size arithmetic for every buffer whose size comes from file values.
#pragma once

#include <kxfpx/memory.h>

#include <cstdint>

namespace kxfpx::fpx {

// a * b + c without overflow, below 2^32 (movable blocks have 32-bit sizes).
[[nodiscard]] inline bool checked_size(uint64_t a, uint64_t b, uint64_t c, uint32_t &out)
{
    uint64_t product = 0, sum = 0;
    if (__builtin_mul_overflow(a, b, &product) || __builtin_add_overflow(product, c, &sum) ||
        sum > UINT32_MAX)
        return false;
    out = static_cast<uint32_t>(sum);
    return true;
}

class MovableBlock {
public:
    MovableBlock() = default;
    ~MovableBlock() { release(); }
    MovableBlock(const MovableBlock &) = delete;
    MovableBlock &operator=(const MovableBlock &) = delete;

    // Takes a zero-filled movable block (flags 0x42) and locks it; false when
    // either fails (nothing is then held).
    [[nodiscard]] bool allocate(uint32_t size)
    {
        release();
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

    void release()
    {
        if (!handle_)
            return;
        GlobalUnlock(handle_);
        GlobalFree(handle_);
        handle_ = nullptr;
        data_ = nullptr;
        size_ = 0;
    }

    uint8_t *data() const { return data_; }
    uint32_t size() const { return size_; }
    explicit operator bool() const { return data_ != nullptr; }

private:
    HGLOBAL handle_ = nullptr;
    uint8_t *data_ = nullptr;
    uint32_t size_ = 0;
};

} // namespace kxfpx::fpx
