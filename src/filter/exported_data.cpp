// The filter's exported data: identity and version values a host reads, the
// filter name that xCreateSetup upper-cases, and the buffer into which the
// family's loader writes the path this library was loaded from.
#include <kxfpx/filter.h>

namespace {

// One NUL byte, then the build marker: read as a string, `version` is empty,
// while the marker stays findable in the binary.
const char kVersionMarker[] = "\0VKT_VER=8.5.8.210.2512230113";

} // namespace

extern "C" {

KX_API int32_t nTitle = 5117;
KX_API int32_t FileType = 1;
KX_API int16_t IM_FilterVersion = 1;
KX_API const char *version = kVersionMarker;
KX_API char qorxxxx_str[32] = "8.4.0";
KX_API char szIM_Filter[7] = "kr_fpx";
KX_API char import_szDLLName[KX_PATH_SIZE] = "";
KX_API uint64_t hInst = 0;
KX_API uint64_t hDLLModule = 0;
KX_API uint64_t lpCommon = 0;
KX_API uint64_t lpDlgInterp = 0;
KX_API uint64_t hAppAnchorBlock = 0;

} // extern "C"
