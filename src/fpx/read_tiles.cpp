// ReadTiles: placeholder until the tile renderer lands; draws nothing.
#include "fpx/subimage.h"

namespace kxfpx::fpx {

int32_t ReadTiles(QorFile, SubimageInfo *, jpeg::JpegTableSet *, FilterSetup *) { return 0; }

} // namespace kxfpx::fpx
