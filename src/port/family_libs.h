// The filter's two companion libraries, linked beside it and found through
// its $ORIGIN run path: the option library (host options, the file hook,
// the temporary directory) and the native memory library. Their headers
// live with their sources under family/. Also the look-up of the host's
// file hook that the I/O layer and the temporary names share.
#pragma once

#include "nativemem/qe_core.h"
#include "options/yt_ut.h"

#include <kxfpx/qorfile.h>

namespace kxfpx::port {

// The host's file hook (global option 67 holds one pointer), or null when
// none is installed or the option cannot be read.
inline HostFileHook host_file_hook()
{
    HostFileHook hook = nullptr;
    static_assert(sizeof hook == 8, "the file hook option holds 8 bytes");
    if (HostGetGlobalOption(YT_OPTION_FILE_HOOK, &hook, sizeof hook) != 0)
        return nullptr;
    return hook;
}

} // namespace kxfpx::port
