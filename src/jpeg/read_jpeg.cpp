// ReadJPEG: placeholder until the tile decoder lands; every stream is refused.
#include "jpeg/read_jpeg.h"

#include <kxfpx/codes.h>

namespace kxfpx::jpeg {

int32_t ReadJPEG(QorFile, fpx::SubimageInfo *, JpegTableSet *, uint8_t *, int32_t, FilterSetup *,
                 uint8_t, int16_t **, int32_t)
{
    return KX_BAD_DATA;
}

} // namespace kxfpx::jpeg
