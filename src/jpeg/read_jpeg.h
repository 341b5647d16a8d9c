// ReadJPEG: decodes one JPEG-compressed tile (baseline or progressive) from
// the data stream into the caller's buffer.
#pragma once

#include <kxfpx/qorfile.h>
#include <kxfpx/setup.h>

#include "jpeg/jpeg_tables.h"

#include <cstdint>

namespace kxfpx::fpx {
struct SubimageInfo;  // passed through, never read by the decoder
}

namespace kxfpx::jpeg {

// data: positioned on the tile's SOI, big-endian. tables: the tile's set.
// destination/size: the caller's buffer. chromaSubsampling: H in bits 4-7,
// V in bits 0-3. colourTableSlots: five pointers to 256-entry tables, read in
// output mode 5 only. extraChannelFlag: non-zero selects output mode 5.
// Result 0, 21, 27, -23 or a progressive scan's own code.
[[nodiscard]] int32_t ReadJPEG(QorFile data, fpx::SubimageInfo *info, JpegTableSet *tables,
                               uint8_t *destination, int32_t size, FilterSetup *setup,
                               uint8_t chromaSubsampling, int16_t **colourTableSlots,
                               int32_t extraChannelFlag);

} // namespace kxfpx::jpeg
