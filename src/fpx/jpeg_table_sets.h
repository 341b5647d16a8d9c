// The JPEG table sets of an import: one zero-filled array of M + 1 sets (M
// from the highest-table-index property; one empty set without it), filled
// from the Image Contents' marker data, and freed handle by handle.
#pragma once

#include "fpx/owners.h"

#include "jpeg/jpeg_tables.h"

#include <kxfpx/qorfile.h>

#include <cstdint>

namespace kxfpx::fpx {

class JpegTableSets {
public:
    JpegTableSets() = default;
    // Every non-zero slot of every set, in order, is unlocked and freed,
    // then the array itself.
    ~JpegTableSets();
    JpegTableSets(const JpegTableSets &) = delete;
    JpegTableSets &operator=(const JpegTableSets &) = delete;

    // Loads the sets from the Image Contents stream; `maxTablePos` is the
    // position of the highest table index, 0 when the file has none.
    // 0, 21 (index above 255, a bad marker or a short read) or 27.
    [[nodiscard]] int32_t load(QorFile contents, uint32_t maxTablePos);

    jpeg::JpegTableSet *sets() const { return array_.as<jpeg::JpegTableSet>(); }
    int32_t count() const { return count_; }

private:
    [[nodiscard]] int32_t read_set(QorFile contents, uint32_t position, jpeg::JpegTableSet &set);

    MovableBlock array_;
    int32_t count_ = 0;
};

} // namespace kxfpx::fpx
