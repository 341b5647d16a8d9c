// The literal, slow baseline decoder the fast one is compared with: a
// bit-serial NextBit / GetNextCode through qorReadChar, the transform as
// written in 32-bit arithmetic, byte-by-byte expansion and band output, the
// marker loop step by step. The decisions for what the steps leave open are
// the same as the decoder's (see the decoder's comments).
#pragma once

#include "jpeg/jpeg_tables.h"

#include <kxfpx/qorfile.h>

#include <cstdint>

namespace jpegtest {

// Returned for streams outside the reference's reach (progressive frames).
inline constexpr int32_t kReferenceUnsupported = -999;

int32_t reference_read_jpeg(QorFile data, kxfpx::jpeg::JpegTableSet *tables, uint8_t *destination,
                            int32_t size, uint8_t chromaSubsampling, int16_t **colourTableSlots,
                            int32_t extraChannelFlag);

// The transform exactly as written (rows first, shortcut for rows only).
void reference_idct(int16_t *block);

} // namespace jpegtest
