// The whole-image layout of a progressive frame, shared by the progressive
// scans and the reconstruction: frame geometry, where each component's plane
// starts in the coefficient and sample buffers, and the block factors.
#pragma once

#include <cstddef>

#include "jpeg/decoder_tables.h"
#include "jpeg/jpeg_internal.h"
#include "jpeg/sample_rows.h"

#include <algorithm>
#include <cstdint>

namespace kxfpx::jpeg {

inline constexpr int kProgMaxComponents = 4;
inline constexpr int kBlockCoefficients = 64;
inline constexpr int kBlockSide = 8;

// The mode a component keeps when DetermineExpansion finds none for it
// (sampling other than 0x11, 0x21, 0x22 or no matching doubling): such a
// component has no block factors and its frame is refused.
inline constexpr uint32_t kNoExpansion = 0xFFFFFFFFu;

// Output modes of MapAndMixWholeImageColor beyond the interleave (0) and the
// grey-into-three-bytes mode (1).
inline constexpr int32_t kMixInterleave = 0;
inline constexpr int32_t kMixGreyTriple = 1;
inline constexpr int32_t kMixGrey = 2;            // one byte per pixel, rows of W bytes
inline constexpr int32_t kMixOpacityWeighted = 5; // four planes, colour tables

// ProgGetImageAttributes in one record, with the derived plane sizes.
struct ProgGeometry {
    uint8_t maxH = 0, maxV = 0;
    uint16_t blocksW = 0, blocksH = 0, mcuCols = 0, mcuRows = 0;
    uint32_t rowBytes = 0;

    explicit ProgGeometry(const FrameHeader &frame)
    {
        (void)ProgGetImageAttributes(&maxH, &maxV, &blocksW, &blocksH, &mcuCols, &mcuRows,
                                     &rowBytes, frame);
    }
    // Blocks per row of a full-resolution plane (the grid of the AC scans).
    uint32_t gridCols() const { return uint32_t(mcuCols) * maxH; }
    uint32_t gridRows() const { return uint32_t(mcuRows) * maxV; }
    uint32_t mcuCount() const { return uint32_t(mcuCols) * mcuRows; }
    uint32_t blocksPerMcu() const { return uint32_t(maxH) * maxV; }
    // W, the padded width in pixels, and the padded height of a sample plane.
    uint32_t planeWidth() const { return gridCols() * kBlockSide; }
    uint32_t planeRows() const { return gridRows() * kBlockSide; }
};

// Components the whole-image stages look at: never more than the four that
// their per-component arrays hold, none without a component array.
inline int prog_component_count(const FrameHeader &frame)
{
    return frame.components ? std::min<int>(frame.componentCount, kProgMaxComponents) : 0;
}

// Start of component c's plane: c x (N / Nf), in coefficients or in bytes.
inline uint32_t plane_start(uint32_t N, const FrameHeader &frame, int c)
{
    return frame.componentCount ? uint32_t(c) * (N / frame.componentCount) : 0;
}
inline uint32_t plane_size(uint32_t N, const FrameHeader &frame)
{
    return frame.componentCount ? N / frame.componentCount : 0;
}

// Block factors of every component, or ok = false when one has none.
struct ProgFactors {
    uint32_t hfac[kProgMaxComponents] = {};
    uint32_t vfac[kProgMaxComponents] = {};
    bool ok = false;

    explicit ProgFactors(const FrameHeader &frame)
    {
        ok = ComponentBlockFactors(hfac, vfac, frame) == 0;
    }
    uint32_t blocks(int c) const { return hfac[c] * vfac[c]; }
};

// A component of more than one block per MCU at full resolution: its AC
// scans visit its own block grid row by row (blocksW x blocksH).
inline bool prog_full_grid(const ProgGeometry &g, const ProgFactors &f, int c)
{
    return f.hfac[c] == g.maxH && f.vfac[c] == g.maxV;
}

// The frame component whose identifier a scan selector names, or -1.
inline int prog_component_index(const FrameHeader &frame, uint8_t id)
{
    for (int c = 0; c < prog_component_count(frame); ++c)
        if (frame.components[c].id == id)
            return c;
    return -1;
}

// Checks a progressive frame once its header is read, before any scan:
// component count (1, 3 or 4), samplings that have block factors, the
// coefficient count N (checked arithmetic, at most what a 32-bit signed
// count and a 32-bit byte size of 2N hold) and a destination large enough for
// what the reconstruction writes. 0 with *coefficientCount set, else 21.
[[nodiscard]] int32_t ProgressiveFramePlan(const FrameHeader &frame, int32_t destinationSize,
                                           uint32_t *coefficientCount);

// Bytes the reconstruction writes into the destination for this frame.
[[nodiscard]] bool ProgressiveOutputBytes(const FrameHeader &frame, uint64_t *bytes);

// The end of a progressive frame, at EOI: every full-resolution component's
// AC coefficients into MCU order (ReorderAC), dequantization, inverse DCT,
// expansion to full resolution, interleave into the destination and row
// repacking. extraChannelFlag selects the opacity-weighted colour for four
// components (colourTableSlots: five 256-entry tables). 0, or 21 when a
// component's quantization table is missing.
[[nodiscard]] int32_t ReconstructProgressiveFrame(int16_t *coefficients, uint8_t *samples,
                                                  uint32_t N, JpegTableSet *tables,
                                                  uint8_t *destination, FrameHeader *frame,
                                                  int16_t **colourTableSlots,
                                                  int32_t extraChannelFlag);

// ProcessProgHufScans with the restart interval of the stream's DRI
// segment (0: none): restart markers in a progressive scan are honoured,
// each resetting the EOB run and the DC predictions.
[[nodiscard]] int32_t ProcessProgHufScans(QorFile data, int16_t *coefficientBuffer,
                                          FrameHeader *frame, ScanHeader scan,
                                          JpegTableSet *tables, int32_t N,
                                          uint16_t restartInterval);

// MapAndMixWholeImageColor with the colour tables that mode 5 reads.
int32_t MapAndMixWholeImageColor(uint8_t *samples, int32_t N, int32_t mode, uint8_t *destination,
                                 FrameHeader *frame, int16_t **colourTableSlots);

} // namespace kxfpx::jpeg
