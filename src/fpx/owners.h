// Owners for the resources an import holds: Compound File storages and
// streams, locked movable blocks, and the checked size arithmetic for every
// allocation whose size comes from the file.
#pragma once

#include <kxfpx/qorfile.h>
#include <kxfpx/storage.h>

#include "port/movable_block.h"
#include "port/owner.h"

namespace kxfpx::fpx {

using StorageOwner = port::Owner<QorFile, qorCloseStorage>;
using StreamOwner = port::Owner<QorFile, qorCloseStream>;
using port::block_size;
using port::checked_size;
using port::MovableBlock;

} // namespace kxfpx::fpx
