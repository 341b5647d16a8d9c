// The decoder's own records (frame header, frame component, scan header) and
// the stages that the sequential path, the progressive scans and the
// whole-image reconstruction share.
#pragma once

#include <kxfpx/qorfile.h>
#include <kxfpx/records.h>

#include "jpeg/jpeg_tables.h"

#include <cstdint>

namespace kxfpx::jpeg {

// One frame component as read with "3c".
struct FrameComponent {
    uint8_t id;          // Ci
    uint8_t sampling;    // H in bits 4-7, V in bits 0-3
    uint8_t quantId;     // Tq
};
static_assert(sizeof(FrameComponent) == 3, "frame components are read as three bytes");

// The frame header, handed by value to the geometry and progressive stages.
struct FrameHeader {
    uint16_t length;           // Lf, ignored
    uint8_t precision;         // P, ignored
    uint16_t height;           // Y
    uint16_t width;            // X
    uint8_t componentCount;    // Nf
    HGLOBAL componentHandle;
    FrameComponent *components;
};

// One scan component pair as read with "2c".
struct ScanComponent {
    uint8_t componentId;       // Cs
    uint8_t tables;            // Td in bits 4-7, Ta in bits 0-3
};

// The SOS segment as read.
struct ScanHeader {
    uint16_t length;           // Ls
    uint8_t componentCount;    // Ns
    ScanComponent components[4];
    uint8_t spectralStart;     // Ss
    uint8_t spectralEnd;       // Se
    uint8_t approximation;     // Ah in bits 4-7, Al in bits 0-3
};

// --- frame geometry ---------------------------------------------------------
int32_t ProgGetImageAttributes(uint8_t *maxH, uint8_t *maxV, uint16_t *blocksW, uint16_t *blocksH,
                               uint16_t *mcuCols, uint16_t *mcuRows, uint32_t *rowBytes,
                               FrameHeader frame);
int32_t GetImageAttributes(uint8_t *H, uint8_t *V, uint16_t *paddedWidth, uint16_t *paddedHeight,
                           uint16_t *mcuCols, uint16_t *mcuRows, FrameHeader *frame);

// --- sequential stages shared with the reconstruction -----------------------
int16_t NextBit(uint8_t *bitsLeft, uint16_t *bitBuffer, int16_t code, QorFile data);
int32_t GetNextCode(uint16_t *symbol, HuffmanTable *table, uint8_t *bitsLeft, uint16_t *bitBuffer,
                    QorFile data);
void IDCT8x8Block(int16_t *block);
int32_t DetermineExpansion(uint32_t *mode, FrameHeader frame, uint16_t component, uint8_t H,
                           uint8_t V);
int32_t ExpandBlock(uint8_t **planePointers, int16_t *blocks, uint32_t *modes, uint16_t component,
                    FrameHeader frame, int32_t planeWidth, uint8_t H);

// --- progressive scans --------------------------------------------------------
[[nodiscard]] int32_t ProcessProgHufScans(QorFile data, int16_t *coefficientBuffer,
                                          FrameHeader *frame, ScanHeader scan,
                                          JpegTableSet *tables, int32_t N);
int32_t ReorderAC(int16_t *coefficientBuffer, uint32_t N, int32_t component, FrameHeader *frame);

// --- whole-image reconstruction of a progressive frame ----------------------
int32_t DeZigZapQTable(uint16_t *q);
int32_t DequantizeWholeImage(int16_t *coefficients, HGLOBAL *quantSlots, int32_t N,
                             FrameHeader *frame);
int32_t IDCTwholeImage(int16_t *coefficients, int32_t N, FrameHeader *frame);
int32_t ExpandImage(uint8_t *samples, int16_t *coefficients, int32_t N, FrameHeader *frame);
int32_t MapAndMixWholeImageColor(uint8_t *samples, int32_t N, int32_t mode, uint8_t *destination,
                                 FrameHeader *frame);
int32_t PadBuf(void *unused, uint8_t *destination, FrameHeader *frame);
int32_t RepadBuffer(uint8_t *buffer, int32_t newStride, int32_t oldStride, int32_t rows);
int32_t ComponentExpansionModes(uint32_t *modes, FrameHeader frame);
int32_t ComponentBlockFactors(uint32_t *hfac, uint32_t *vfac, FrameHeader frame);
int32_t ComponentBlockCounts(uint32_t *counts, FrameHeader frame);
int32_t EdgeBlockCounts(uint32_t *cols, uint32_t *rows, FrameHeader frame);

} // namespace kxfpx::jpeg
