// ReorderAC: the AC scans of a full-resolution component leave its blocks in
// raster order of its block grid; the reconstruction reads MCU order, so the
// AC coefficients are moved there (the DC values already are in MCU order).
#include "jpeg/progressive_layout.h"

#include <kxfpx/codes.h>
#include <kxfpx/memory.h>

#include "port/global_lock.h"

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

    HGLOBAL handle = GlobalAlloc(KX_GHND, blocks * kBlockBytes);
    if (!handle)
        return kNoWorkBuffer;
    {
        LockedHandle lock(handle);
        if (!lock) {
            GlobalFree(handle);
            return kNoWorkBuffer;
        }
        int16_t *work = lock.as<int16_t>();
        int16_t *plane = coefficientBuffer + plane_start(N, *frame, component);
        for (uint32_t b = 0; b < blocks; ++b)
            work[b * kBlockCoefficients] = plane[b * kBlockCoefficients];
        const uint32_t hfac = f.hfac[component], vfac = f.vfac[component];
        const size_t acBytes = (kBlockCoefficients - 1) * sizeof(int16_t);
        int16_t *dst = work;
        for (uint32_t r = 0; r < g.mcuRows; ++r)
            for (uint32_t m = 0; m < g.mcuCols; ++m)
                for (uint32_t j = 0; j < vfac; ++j) {
                    const uint32_t src = (r * g.maxV + j) * g.gridCols() + m * g.maxH;
                    for (uint32_t b = 0; b < hfac; ++b, dst += kBlockCoefficients)
                        std::memcpy(dst + 1, plane + (src + b) * kBlockCoefficients + 1, acBytes);
                }
        std::memcpy(plane, work, size_t(blocks) * kBlockBytes);
    }
    GlobalFree(handle);
    return KX_OK;
}

} // namespace kxfpx::jpeg
