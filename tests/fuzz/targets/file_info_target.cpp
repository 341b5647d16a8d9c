// File-information target: GetFileInfo on the document. The first byte
// chooses the input (bit 0: the host's I/O procedure, else a memory handle)
// and the size the host gives its record (bits 1-3), so that short records
// refuse fields.
#include "fuzz_input.h"
#include "fuzz_targets.h"

#include <kxfpx/filter.h>

#include <cstddef>

namespace kxfuzz {

namespace {
constexpr int32_t kRecordSizes[] = {
    sizeof(FileInfo), 0, 4, offsetof(FileInfo, width), offsetof(FileInfo, height) + 4,
    offsetof(FileInfo, bitsPerPixel), offsetof(FileInfo, setFlags), sizeof(FileInfo) - 1,
};
}

int file_info_target(const uint8_t *data, size_t size)
{
    if (size > kMaxInput)
        return 0;
    Cursor in{data, size};
    const uint8_t control = in.byte();
    FileInfo info{};
    info.size = kRecordSizes[(control >> 1) & 7];
    if (control & 1) {
        HostBytes bytes{in.data, static_cast<int64_t>(in.size)};
        (void)GetFileInfo("input.fpx", &info, reinterpret_cast<HGLOBAL>(&bytes), host_io);
    } else {
        MemoryBlock block(in.data, in.size);
        (void)GetFileInfo("", &info, block.handle(), nullptr);
    }
    return 0;
}

} // namespace kxfuzz
