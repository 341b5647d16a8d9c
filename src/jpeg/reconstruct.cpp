// Whole-image reconstruction: placeholders until the progressive decoder lands.
#include "jpeg/jpeg_internal.h"

namespace kxfpx::jpeg {

int32_t DeZigZapQTable(uint16_t *) { return 0; }
int32_t DequantizeWholeImage(int16_t *, HGLOBAL *, int32_t, FrameHeader *) { return 0; }
int32_t IDCTwholeImage(int16_t *, int32_t, FrameHeader *) { return 0; }
int32_t ExpandImage(uint8_t *, int16_t *, int32_t, FrameHeader *) { return 0; }
int32_t MapAndMixWholeImageColor(uint8_t *, int32_t, int32_t, uint8_t *, FrameHeader *) { return 0; }
int32_t PadBuf(void *, uint8_t *, FrameHeader *) { return 0; }
int32_t RepadBuffer(uint8_t *, int32_t, int32_t, int32_t) { return 0; }
int32_t ComponentExpansionModes(uint32_t *, FrameHeader) { return 0; }
int32_t ComponentBlockFactors(uint32_t *, uint32_t *, FrameHeader) { return 0; }
int32_t ComponentBlockCounts(uint32_t *, FrameHeader) { return 0; }
int32_t EdgeBlockCounts(uint32_t *, uint32_t *, FrameHeader) { return 0; }

} // namespace kxfpx::jpeg
