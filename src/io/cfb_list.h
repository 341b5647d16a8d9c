// Listing a storage's children by name, for callers that would otherwise try
// names one by one: the names come as the directory look-up compares them
// (narrowed to bytes), so a name the list lacks is one no look-up can find.
#pragma once

#include <kxfpx/records.h>

#include <string>
#include <vector>

namespace kxfpx::io {

// The names of `storage`'s children in the order a depth-first look-up meets
// them; false (and an empty list) when the storage cannot be listed.
[[nodiscard]] bool list_children(QorFile storage, std::vector<std::string> &names);

} // namespace kxfpx::io
