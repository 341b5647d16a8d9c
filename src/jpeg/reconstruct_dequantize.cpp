// Dequantization of a whole progressive frame: each component's blocks are
// multiplied, coefficient by coefficient, by its quantization table brought
// into natural order (DeZigZapQTable on a copy; the stored table stays).
#include "jpeg/progressive_layout.h"

#include <kxfpx/codes.h>
#include <kxfpx/memory.h>

#include "port/global_lock.h"

#include <cstring>

namespace kxfpx::jpeg {

int32_t DeZigZapQTable(uint16_t *q)
{
    uint16_t natural[kBlockCoefficients];
    for (int k = 0; k < kBlockCoefficients; ++k)
        natural[DE_ZIGZAG[k]] = q[k];
    std::memcpy(q, natural, sizeof natural);
    return KX_OK;
}

namespace {

// coefficient x quantizer, kept to 16 bits as the stored product is; the
// low 16 bits of the product do not depend on the operands' signedness, so
// the loop vectorises to 16-bit multiplies. The product is formed unsigned:
// two 16-bit operands promoted to int could overflow it.
void dequantize_blocks(int16_t *blocks, uint32_t count, const uint16_t *q)
{
    for (uint32_t b = 0; b < count; ++b, blocks += kBlockCoefficients)
        for (int k = 0; k < kBlockCoefficients; ++k)
            blocks[k] = int16_t(uint16_t(uint32_t(uint16_t(blocks[k])) * q[k]));
}

} // namespace

int32_t DequantizeWholeImage(int16_t *coefficients, HGLOBAL *quantSlots, int32_t N,
                             FrameHeader *frame)
{
    uint32_t counts[kProgMaxComponents] = {};
    (void)ComponentBlockCounts(counts, *frame);
    const uint32_t planeBlocks = plane_size(uint32_t(N), *frame) / kBlockCoefficients;
    for (int c = 0; c < prog_component_count(*frame); ++c) {
        const uint8_t id = frame->components[c].quantId;
        // A missing table or a plane too small for the count leaves the
        // component as it is (ReconstructProgressiveFrame refuses the first
        // before it gets here; the second cannot happen with a planned N).
        if (id >= kQuantSlots || !quantSlots[id] || counts[c] > planeBlocks)
            continue;
        port::LockedHandle table(quantSlots[id]);
        if (!table)
            continue;
        uint16_t q[kBlockCoefficients];
        std::memcpy(q, table.as<QuantTable>()->q, sizeof q);
        (void)DeZigZapQTable(q);
        dequantize_blocks(coefficients + plane_start(uint32_t(N), *frame, c), counts[c], q);
    }
    return KX_OK;
}

} // namespace kxfpx::jpeg
