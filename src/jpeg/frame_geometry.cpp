// Frame geometry: the MCU grid of a frame, for progressive frames from the
// frame's own largest sampling factors (ProgGetImageAttributes), for
// sequential scans from the caller's chroma subsampling (GetImageAttributes).
// Integer divisions; a division by zero gives 0.
#include "jpeg/jpeg_format.h"
#include "jpeg/jpeg_internal.h"

namespace kxfpx::jpeg {

namespace {

uint32_t div0(uint32_t a, uint32_t b) { return b ? a / b : 0; }

} // namespace

int32_t ProgGetImageAttributes(uint8_t *maxH, uint8_t *maxV, uint16_t *blocksW, uint16_t *blocksH,
                               uint16_t *mcuCols, uint16_t *mcuRows, uint32_t *rowBytes,
                               FrameHeader frame)
{
    uint8_t h = 0, v = 0;
    for (uint32_t c = 0; c < frame.componentCount && frame.components; ++c) {
        const uint8_t s = frame.components[c].sampling;
        h = uint8_t(s >> kSamplingHShift) > h ? uint8_t(s >> kSamplingHShift) : h;
        v = uint8_t(s & kNibbleMask) > v ? uint8_t(s & kNibbleMask) : v;
    }
    *maxH = h;
    *maxV = v;
    const uint32_t X = frame.width, Y = frame.height;
    *blocksW = uint16_t((X + 7) / 8);
    *blocksH = uint16_t((Y + 7) / 8);
    *mcuCols = uint16_t(div0(X + 8u * h - 1, 8u * h));
    *mcuRows = uint16_t(div0(Y + 8u * v - 1, 8u * v));
    *rowBytes = uint32_t(*mcuCols) * h * 24;
    return 0;
}

int32_t GetImageAttributes(uint8_t *H, uint8_t *V, uint16_t *paddedWidth, uint16_t *paddedHeight,
                           uint16_t *mcuCols, uint16_t *mcuRows, FrameHeader *frame)
{
    const uint32_t h = *H, v = *V, X = frame->width, Y = frame->height;
    *paddedWidth = uint16_t(div0(X + 8 * h - 1, 8 * h) * h * 8);
    *paddedHeight = uint16_t(div0(Y + 8 * v - 1, 8 * v) * v * 8);
    *mcuCols = uint16_t(div0(*paddedWidth / 8u, h));
    *mcuRows = uint16_t(div0(*paddedHeight / 8u, v));
    return 0;
}

} // namespace kxfpx::jpeg
