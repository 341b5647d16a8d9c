// The decoder's owners of movable blocks: HandleOwner frees a handle on every
// path unless it was handed on (to a table slot or a caller); LockedHandle
// pins one for a scope.
#pragma once

#include <kxfpx/memory.h>

#include "port/global_lock.h"
#include "port/owner.h"

namespace kxfpx::jpeg {

using HandleOwner = port::Owner<HGLOBAL, GlobalFree>;
using port::LockedHandle;

} // namespace kxfpx::jpeg
