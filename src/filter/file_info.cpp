// GetFileInfo: the entry a host calls for the width, height and depth of a
// FlashPix file without importing it.
#include <kxfpx/codes.h>
#include <kxfpx/filter.h>

#include <cstring>

namespace {

constexpr int32_t kSizeWordBytes = 4;    // the host's size word, left as it is
constexpr int32_t kFlagsOffset = offsetof(FileInfo, setFlags);

} // namespace

extern "C" {

KX_API int32_t GetFileInfo(const char *path, FileInfo *info, HGLOBAL handle, HostIoProc ioProc)
{
    (void)path;
    (void)handle;
    (void)ioProc;
    if (!info)
        return KX_MISSING_STRUCTURE;
    // The record is cleared after its size word whatever the outcome; the
    // host's size says how many bytes it owns.
    if (info->size > kFlagsOffset)
        info->setFlags = 0;
    if (info->size > kSizeWordBytes)
        std::memset(reinterpret_cast<char *>(info) + kSizeWordBytes, 0,
                    static_cast<size_t>(info->size - kSizeWordBytes));
    // The file-information reader is not part of the library yet: until it
    // is, every query answers that the file's structure cannot be read.
    return KX_MISSING_STRUCTURE;
}

} // extern "C"
