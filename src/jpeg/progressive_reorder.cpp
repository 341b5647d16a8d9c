// ReorderAC: the AC scans of a full-resolution component leave its blocks in
// raster order of its block grid; the reconstruction reads MCU order, so the
// AC coefficients are moved there (the DC values already are in MCU order).
#include "jpeg/progressive_layout.h"

#include <kxfpx/codes.h>
#include <kxfpx/memory.h>

#include "jpeg/handle_owner.h"

#include <cstring>

namespace kxfpx::jpeg {

namespace {
inline constexpr int32_t kNoWorkBuffer = -1;
inline constexpr uint32_t kBlockBytes = kBlockCoefficients * sizeof(int16_t);
}

int32_t ReorderAC(int16_t *coefficientBuffer, uint32_t N, int32_t component, FrameHeader *frame)
{
    const ProgGeometry g(*frame);
    const ProgFactors f(*frame);
    // Only a full-resolution component of several blocks per MCU is in raster
    // order; any other component's blocks are already in MCU order (one block
    // per MCU, or a one-block MCU), and moving them would scramble them.
    if (!f.ok || component < 0 || component >= prog_component_count(*frame) ||
        !prog_full_grid(g, f, component) || f.blocks(component) <= 1)
        return KX_OK;
    const uint32_t blocks = g.mcuCount() * g.blocksPerMcu();
    if (uint64_t(blocks) * kBlockCoefficients > plane_size(N, *frame) || blocks == 0)
        return KX_OK;

    // The blocks of one MCU row are the same maxV grid rows in either order,
    // so the move is done band by band through a work buffer of one band;
    // the DC values stay where they are.
    const uint32_t bandBlocks = g.gridCols() * g.maxV;
    HGLOBAL handle = GlobalAlloc(KX_GHND, bandBlocks * kBlockBytes);
    if (!handle)
        return kNoWorkBuffer;
    {
        LockedHandle lock(handle);
        int16_t *work = lock.as<int16_t>();
        if (!work) {
            lock.unlock();
            GlobalFree(handle);
            return kNoWorkBuffer;
        }
        const uint32_t hfac = f.hfac[component], vfac = f.vfac[component];
        const size_t acBytes = (kBlockCoefficients - 1) * sizeof(int16_t);
        int16_t *band = coefficientBuffer + plane_start(N, *frame, component);
        for (uint32_t r = 0; r < g.mcuRows; ++r, band += size_t(bandBlocks) * kBlockCoefficients) {
            std::memcpy(work, band, size_t(bandBlocks) * kBlockBytes);
            int16_t *dst = band;
            for (uint32_t m = 0; m < g.mcuCols; ++m)
                for (uint32_t j = 0; j < vfac; ++j) {
                    const int16_t *src = work + (size_t(j) * g.gridCols() + m * g.maxH) * kBlockCoefficients;
                    for (uint32_t b = 0; b < hfac; ++b, dst += kBlockCoefficients, src += kBlockCoefficients)
                        std::memcpy(dst + 1, src + 1, acBytes);
                }
        }
    }
    GlobalFree(handle);
    return KX_OK;
}

} // namespace kxfpx::jpeg
