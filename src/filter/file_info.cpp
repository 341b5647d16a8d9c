// GetFileInfo: the entry a host calls for the width, height and depth of a
// FlashPix file without importing it; and InfoPut, which checks each value
// against its rule and the record's size before storing it.
#include <kxfpx/codes.h>
#include <kxfpx/filter.h>

#include "fpx/file_attributes.h"
#include "fpx/input_source.h"

#include <cstring>

namespace {

constexpr int32_t kSizeWordBytes = 4;    // the host's size word, left as it is
constexpr int32_t kFlagsOffset = offsetof(FileInfo, setFlags);
constexpr int32_t kFirstId = 1;
constexpr int32_t kLastId = 9;

// Where each id's field lies; ids 1 and 2 are doubles, the others 32-bit.
constexpr int32_t kFieldOffset[kLastId + 1] = {
    0,
    offsetof(FileInfo, value1),
    offsetof(FileInfo, value2),
    offsetof(FileInfo, width),
    offsetof(FileInfo, height),
    offsetof(FileInfo, value5),
    offsetof(FileInfo, value6),
    offsetof(FileInfo, bitsPerPixel),
    offsetof(FileInfo, value8),
    offsetof(FileInfo, value9),
};
constexpr int32_t kIdValue1 = 1, kIdValue2 = 2, kIdValue8 = 8;

bool value_allowed(int32_t id, const void *value)
{
    if (id == kIdValue1 || id == kIdValue2) {
        double v;
        std::memcpy(&v, value, sizeof v);
        return v > 0.0;
    }
    int32_t v;
    std::memcpy(&v, value, sizeof v);
    if (id == kIdValue8)
        return static_cast<uint32_t>(v) <= 1;
    return v >= 1;
}

} // namespace

extern "C" {

KX_API int32_t InfoPut(FileInfo *info, int32_t id, const void *value)
{
    if (id < kFirstId || id > kLastId)
        return KX_INFO_FIELD;
    if (!value_allowed(id, value))
        return KX_INFO_VALUE;
    const int32_t offset = kFieldOffset[id];
    if (info->size <= offset)
        return KX_INFO_FIELD;
    const size_t bytes = (id == kIdValue1 || id == kIdValue2) ? sizeof(double) : sizeof(int32_t);
    std::memcpy(reinterpret_cast<char *>(info) + offset, value, bytes);
    if (info->size > kFlagsOffset)
        info->setFlags |= 1u << (id - 1);
    return KX_OK;
}

KX_API int32_t GetFileInfo(const char *path, FileInfo *info, HGLOBAL handle, HostIoProc ioProc)
{
    // Without a record there is nothing to answer into.
    if (!info)
        return KX_MISSING_STRUCTURE;
    if (info->size > kFlagsOffset)
        info->setFlags = 0;

    kxfpx::fpx::InputFile input;
    // A null path counts as an empty one.
    const bool emptyPath = !path || path[0] == '\0';
    if (ioProc)
        input.open_callback(path, ioProc, handle);
    else if (handle && emptyPath)
        input.open_memory(handle);
    else
        input.open_path(path);

    // The record is cleared after its size word whatever the outcome; the
    // host's size says how many bytes it owns.
    if (info->size > kSizeWordBytes)
        std::memset(reinterpret_cast<char *>(info) + kSizeWordBytes, 0,
                    static_cast<size_t>(info->size - kSizeWordBytes));
    uint64_t extra = 0;
    return kxfpx::fpx::iGetFileInfo(input.get(), info, &extra);
}

} // extern "C"
