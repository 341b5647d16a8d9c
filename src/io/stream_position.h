// Where a seek on a Compound File stream lands: the rule docSeek applies and
// that a stream view (stream_view.h) repeats for the bytes it holds.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstdio>

namespace kxfpx::io {

// The new position of a stream of `size` bytes at `current` after a seek by
// `offset` from `whence` (SEEK_END counts backwards from the end), clamped
// to [0, size]; -1 for an unknown origin.
inline int64_t stream_seek_target(uint32_t current, uint32_t size, int32_t offset, int32_t whence)
{
    int64_t position;
    switch (whence) {
    case SEEK_SET:
        position = offset;
        break;
    case SEEK_CUR:
        position = int64_t{current} + offset;
        break;
    case SEEK_END:
        position = int64_t{size} - offset;
        break;
    default:
        return -1;
    }
    return std::clamp<int64_t>(position, 0, size);
}

} // namespace kxfpx::io
