// Compound File operations beyond the C entry points: listing a storage's
// children by name, for callers that would otherwise try names one by one
// (the names come as the directory look-up compares them, narrowed to bytes,
// so a name the list lacks is one no look-up can find); and giving a storage
// being written a class id of its own.
#pragma once

#include <kxfpx/records.h>

#include <cstdint>
#include <string>
#include <vector>

namespace kxfpx::io {

// The names of `storage`'s children in the order a depth-first look-up meets
// them; false (and an empty list) when the storage cannot be listed.
[[nodiscard]] bool list_children(QorFile storage, std::vector<std::string> &names);

// Sets the class id of a storage made by qorCreateStorage (the root
// included) in place of the writer's default; false for any other handle.
[[nodiscard]] bool set_storage_class(QorFile storage, const uint8_t clsid[16]);

} // namespace kxfpx::io
