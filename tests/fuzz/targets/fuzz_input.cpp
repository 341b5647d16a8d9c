// The memory block, memory file and host I/O callback of fuzz_input.h.
#include "fuzz_input.h"

#include <cstdio>
#include <cstring>

namespace kxfuzz {

namespace {
constexpr uint8_t kEndMarker = 0xFF;
}

MemoryBlock::MemoryBlock(const uint8_t *data, size_t size)
{
    handle_ = GlobalAlloc(KX_GHND, static_cast<uint32_t>(size + 1));
    auto *bytes = static_cast<uint8_t *>(GlobalLock(handle_));
    if (!bytes)
        return;
    if (size)
        std::memcpy(bytes, data, size);
    bytes[size] = kEndMarker;
    GlobalUnlock(handle_);
}

int64_t host_io(void *handle, int32_t operation, void *data, int64_t count)
{
    auto &h = *static_cast<HostBytes *>(handle);
    switch (operation) {
    case QOR_IO_OPEN:
        h.position = 0;
        return reinterpret_cast<intptr_t>(handle);
    case QOR_IO_READ: {
        if (count <= 0 || h.position >= h.size)
            return 0;
        const int64_t n = count < h.size - h.position ? count : h.size - h.position;
        std::memcpy(data, h.data + h.position, static_cast<size_t>(n));
        h.position += n;
        return n;
    }
    case QOR_IO_SEEK: {
        const int64_t base = count == SEEK_SET ? 0 : count == SEEK_CUR ? h.position : h.size;
        const int64_t to = base + *static_cast<int32_t *>(data);
        if (count < SEEK_SET || count > SEEK_END || to < 0)
            return -1;
        return h.position = to;
    }
    default:
        return 0;
    }
}

} // namespace kxfuzz
