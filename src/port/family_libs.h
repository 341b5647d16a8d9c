// The filter's two companion libraries, linked beside it and found through
// its $ORIGIN run path: the option library (host options, the file hook,
// the temporary directory) and the native memory library. Their headers
// live with their sources under family/.
#pragma once

#include "../../family/nativemem/qe_core.h"
#include "../../family/options/yt_ut.h"
