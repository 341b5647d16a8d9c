// Upsampling of the transformed blocks into a component's sample plane:
// DetermineExpansion picks how a component fills the MCU (as is, doubled
// across, doubled both ways) and ExpandBlock writes one MCU's blocks of a
// component through the range limit (RANGE_ARRAY at 1152 + value), eight
// samples at a time.
#include "jpeg/decoder_tables.h"
#include "jpeg/jpeg_format.h"
#include "jpeg/jpeg_internal.h"
#include "jpeg/sample_rows.h"

#include <kxfpx/codes.h>

#include <cstring>

namespace kxfpx::jpeg {

int32_t DetermineExpansion(uint32_t *mode, FrameHeader frame, uint16_t component, uint8_t H, uint8_t V)
{
    const uint8_t s = frame.components[component].sampling;
    const uint8_t h = uint8_t(s >> kSamplingHShift), v = s & kNibbleMask;
    if (s != kSampling11 && s != kSampling21 && s != kSampling22)
        return KX_BAD_DATA;
    if (h == H && v == V) {
        *mode = kExpandNone;
        return KX_OK;
    }
    if (h + 1 == H) {
        *mode = v + 1 == V ? kExpandBoth : kExpandAcross;
        return KX_OK;
    }
    return KX_NOT_FLASHPIX;  // -23: no expansion for these factors; mode unchanged
}

int32_t ExpandBlock(uint8_t **planePointers, int16_t *blocks, uint32_t *modes, uint16_t component,
                    FrameHeader frame, int32_t planeWidth, uint8_t H)
{
    uint8_t *p = planePointers[component];
    const uint32_t rows = 8u * (frame.components[component].sampling & kNibbleMask);
    const size_t P = size_t(planeWidth);
    switch (modes[component]) {
    case kExpandNone:
        for (uint32_t y = 0; y < rows; ++y)
            for (uint32_t b = 0; b < H; ++b)
                limit_row8(blocks + 64 * ((y / 8) * 2 + b) + 8 * (y % 8), p + y * P + 8 * b);
        break;
    case kExpandAcross:
        for (uint32_t y = 0; y < rows; ++y)
            limit_row8_doubled(blocks + 8 * y, p + y * P);
        break;
    case kExpandBoth:
        for (uint32_t y = 0; y < rows; ++y) {
            uint8_t *row = p + 2 * y * P;
            limit_row8_doubled(blocks + 8 * y, row);
            std::memcpy(row + P, row, 16);
        }
        break;
    case kExpandLater:
        for (uint32_t y = 0; y < rows; ++y)
            limit_row8(blocks + 8 * y, p + y * P);
        planePointers[component] = p + 8;
        return 0;
    default:
        break;
    }
    planePointers[component] = p + 8u * H;
    return 0;
}

} // namespace kxfpx::jpeg
