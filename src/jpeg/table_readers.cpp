// ReadHuffman, ReadQuantization: placeholders until the table readers land.
#include "jpeg/jpeg_tables.h"

#include <kxfpx/codes.h>

namespace kxfpx::jpeg {

int32_t ReadHuffman(QorFile, JpegTableSet *) { return KX_BAD_DATA; }
int32_t ReadQuantization(QorFile, HGLOBAL *) { return KX_BAD_DATA; }

} // namespace kxfpx::jpeg
