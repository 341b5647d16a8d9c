// Inputs a fuzz target hands to the filter: the bytes in a movable memory
// block closed by the end marker the memory reader looks for, a host I/O
// callback over the same bytes, and a cursor that takes control values off
// the front of the input.
#pragma once

#include "fpx/input_source.h"

#include <kxfpx/memory.h>
#include <kxfpx/qorfile.h>
#include <kxfpx/records.h>

#include <cstddef>
#include <cstdint>

namespace kxfuzz {

// Control bytes first, the rest is the document.
struct Cursor {
    const uint8_t *data;
    size_t size;
    uint8_t byte()  // 0 once the input is used up
    {
        if (size == 0)
            return 0;
        --size;
        return *data++;
    }
    uint16_t word() { return static_cast<uint16_t>(byte() | byte() << 8); }
};

// The bytes plus a non-zero end marker in one movable block: the memory
// reader drops trailing zeros and the marker, so the document keeps its
// length, zeros at its end included.
class MemoryBlock {
public:
    MemoryBlock(const uint8_t *data, size_t size);
    ~MemoryBlock() { GlobalFree(handle_); }
    MemoryBlock(const MemoryBlock &) = delete;
    MemoryBlock &operator=(const MemoryBlock &) = delete;
    HGLOBAL handle() const { return handle_; }

private:
    HGLOBAL handle_ = nullptr;
};

// A QorFile over the bytes, little-endian, opened as an import opens its
// memory input and closed at the end of the scope.
class MemoryFile {
public:
    MemoryFile(const uint8_t *data, size_t size) : block_(data, size) { input_.open_memory(block_.handle()); }
    QorFile get() const { return input_.get(); }

private:
    MemoryBlock block_;
    kxfpx::fpx::InputFile input_;  // closed before the block is freed
};

// The host I/O callback's handle: the bytes and a position.
struct HostBytes {
    const uint8_t *data;
    int64_t size;
    int64_t position = 0;
};
int64_t host_io(void *handle, int32_t operation, void *data, int64_t count);

// The largest input a target takes; libFuzzer's -max_len keeps to it too.
inline constexpr size_t kMaxInput = 1 << 20;

} // namespace kxfuzz
