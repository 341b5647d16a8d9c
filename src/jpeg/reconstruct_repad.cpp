// Row repacking of a progressive frame's destination: rows of rowBytes
// (the padded width) shortened in place to 3 x width bytes rounded up to a
// multiple of 4, row after row from the top.
#include "jpeg/progressive_layout.h"

#include <kxfpx/codes.h>

#include <cstring>

namespace kxfpx::jpeg {

namespace {
inline constexpr int32_t kRowAlignMask = 0x7FFFC;  // 3 x (X + 1), down to a multiple of 4
}

int32_t RepadBuffer(uint8_t *buffer, int32_t newStride, int32_t oldStride, int32_t rows)
{
    if (oldStride <= newStride || newStride <= 0 || rows <= 0)
        return KX_OK;
    // Each row moves towards the start; a row may overlap its own old place
    // (memmove gives what copying it aside and back gives).
    for (int32_t i = 1; i < rows; ++i)
        std::memmove(buffer + size_t(i) * size_t(newStride), buffer + size_t(i) * size_t(oldStride),
                     size_t(newStride));
    return KX_OK;
}

int32_t PadBuf(void *, uint8_t *destination, FrameHeader *frame)
{
    const ProgGeometry g(*frame);
    // Never more rows than the reconstruction wrote (a planned frame has
    // height <= the padded height anyway).
    const int32_t rows = int32_t(std::min<uint32_t>(frame->height, g.planeRows()));
    return RepadBuffer(destination, int32_t((3 * (uint32_t(frame->width) + 1)) & kRowAlignMask),
                       int32_t(g.rowBytes), rows);
}

} // namespace kxfpx::jpeg
