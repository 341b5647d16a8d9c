// Progressive scans: placeholders until the progressive decoder lands.
#include "jpeg/jpeg_internal.h"

#include <kxfpx/codes.h>

namespace kxfpx::jpeg {

int32_t ProcessProgHufScans(QorFile, int16_t *, FrameHeader *, ScanHeader, JpegTableSet *, int32_t)
{
    return KX_BAD_DATA;
}
int32_t ReorderAC(int16_t *, uint32_t, int32_t, FrameHeader *) { return 0; }

} // namespace kxfpx::jpeg
