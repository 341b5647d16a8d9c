// ProcessProgHufScans: one SOS of a progressive frame, decoded into the
// whole-image coefficient buffer by the scan decoder of progressive_decode.h
// over the decoder's bit reader.
#include "jpeg/progressive_decode.h"

namespace kxfpx::jpeg {

int32_t ProcessProgHufScans(QorFile data, int16_t *coefficientBuffer, FrameHeader *frame,
                            ScanHeader scan, JpegTableSet *tables, int32_t N,
                            uint16_t restartInterval)
{
    if (!frame || !coefficientBuffer || !tables || N < 0)
        return KX_BAD_DATA;
    prog::FastBits in(data);
    return prog::decode_scan(in, coefficientBuffer, *frame, scan, tables, uint32_t(N),
                             restartInterval);
}

int32_t ProcessProgHufScans(QorFile data, int16_t *coefficientBuffer, FrameHeader *frame,
                            ScanHeader scan, JpegTableSet *tables, int32_t N)
{
    return ProcessProgHufScans(data, coefficientBuffer, frame, scan, tables, N, 0);
}

} // namespace kxfpx::jpeg
