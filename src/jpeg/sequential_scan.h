// The sequential (baseline) scan decoder that ReadJPEG runs at each SOS of
// an SOF0 frame.
#pragma once

#include "jpeg/jpeg_internal.h"

#include <cstdint>

namespace kxfpx::jpeg {

struct SequentialTarget {
    uint8_t *destination;
    int32_t size;
    uint8_t chromaSubsampling;      // the MCU: H in bits 4-7, V in bits 0-3
    int16_t **colourTableSlots;     // output mode 5 only
    int32_t extraChannelFlag;       // non-zero: output mode 5
    // Mode 3 written as RGB (band_output.h) when the scan fills the whole
    // destination; rgbFlip 0, or 255 for inverted output.
    bool toRgb = false;
    uint8_t rgbFlip = 0;
};

// Decodes one scan into target.destination: 0 with *written = the bytes the
// scan occupies (paddedHeight x row stride), or 21. *convertedToRgb (when
// given) says whether the scan wrote RGB. The stream is left after
// the last byte the bit-serial reader would have taken.
[[nodiscard]] int32_t DecodeSequentialScan(QorFile data, const FrameHeader &frame,
                                           const ScanHeader &scan, JpegTableSet *tables,
                                           uint16_t restartInterval, const SequentialTarget &target,
                                           uint32_t *written, bool *convertedToRgb = nullptr);

} // namespace kxfpx::jpeg
