// iGetFileInfo: the width, height and bits per pixel of an open FlashPix
// file, read along the import's property-set path to the highest
// resolution, for the file-information query.
#pragma once

#include <kxfpx/qorfile.h>
#include <kxfpx/records.h>

#include <cstdint>

namespace kxfpx::fpx {

// 0; 14 when `file` is null or a storage or stream is missing; 17922 when
// the record refuses a value. `extra` is not read.
[[nodiscard]] int32_t iGetFileInfo(QorFile file, FileInfo *record, uint64_t *extra);

} // namespace kxfpx::fpx
