// Sequential stages: placeholders until the baseline decoder lands (its
// owner replaces this file with the real stages).
#include "jpeg/jpeg_internal.h"

namespace kxfpx::jpeg {

int32_t ProgGetImageAttributes(uint8_t *, uint8_t *, uint16_t *, uint16_t *, uint16_t *, uint16_t *,
                               uint32_t *, FrameHeader) { return 0; }
int32_t GetImageAttributes(uint8_t *, uint8_t *, uint16_t *, uint16_t *, uint16_t *, uint16_t *,
                           FrameHeader *) { return 0; }
int16_t NextBit(uint8_t *, uint16_t *, int16_t code, QorFile) { return code; }
int32_t GetNextCode(uint16_t *, HuffmanTable *, uint8_t *, uint16_t *, QorFile) { return -23; }
void IDCT8x8Block(int16_t *) {}
int32_t DetermineExpansion(uint32_t *, FrameHeader, uint16_t, uint8_t, uint8_t) { return 0; }
int32_t ExpandBlock(uint8_t **, int16_t *, uint32_t *, uint16_t, FrameHeader, int32_t, uint8_t) { return 0; }

} // namespace kxfpx::jpeg
