// Compound File reader target: the input (after one control byte) opened as
// a storage from a memory block, every storage and stream of the directory
// listed and opened, and each stream read in small and large pieces with
// seeks between them. The control byte sets the FAT sector limit of the
// root open and the piece sizes.
#include "fuzz_input.h"
#include "fuzz_targets.h"

#include "io/cfb_storage.h"

#include <kxfpx/storage.h>

#include <cstdio>
#include <string>
#include <vector>

namespace kxfuzz {

namespace {

// Bounds that keep one input fast whatever its directory claims.
constexpr int kMaxDepth = 4;
constexpr int kMaxEntries = 64;
constexpr int64_t kMaxBytesRead = 256 << 10;
constexpr int32_t kSmallPieces[] = {1, 3, 64, 511};
constexpr int32_t kLargePieces[] = {4096, 12289, 65536, 1 << 20};
constexpr uint32_t kFatLimits[] = {0, 1, 2, 109};

struct Walk {
    int entries = 0;
    int64_t budget = kMaxBytesRead;
    int32_t small, large;
    uint8_t *buffer; // `large` bytes that end where the allocation ends
};

// One buffer for every input, as large as the largest piece: a fresh
// megabyte per input spent more time in the allocator and page faults than
// in the reader. Each read's destination ends at the buffer's end, so a
// write past the requested count still lands in the sanitizer's red zone.
uint8_t *piece_buffer(int32_t large)
{
    static std::vector<uint8_t> buffer(static_cast<size_t>(kLargePieces[3]));
    return buffer.data() + buffer.size() - static_cast<size_t>(large);
}

void read_stream(QorFile stream, Walk &w)
{
    // Small pieces from the start, a seek back, then large pieces to the end.
    for (int k = 0; k < 8 && w.budget > 0; ++k) {
        const int32_t n = qorRead(stream, w.buffer, w.small);
        if (n <= 0)
            break;
        w.budget -= n;
    }
    (void)qorSeek(stream, w.small, SEEK_SET);
    (void)qorSeek(stream, -1, SEEK_CUR);
    while (w.budget > 0) {
        const int32_t n = qorRead(stream, w.buffer, w.large);
        if (n <= 0)
            break;
        w.budget -= n;
    }
    const int32_t end = qorSeek(stream, 0, SEEK_END);
    if (end > 0) {
        (void)qorSeek(stream, end / 2, SEEK_SET);
        (void)qorRead(stream, w.buffer, w.small);
    }
}

void walk_storage(QorFile storage, int depth, Walk &w)
{
    std::vector<std::string> names;
    if (!kxfpx::io::list_children(storage, names))
        return;
    for (const std::string &name : names) {
        if (++w.entries > kMaxEntries)
            return;
        if (QorFile stream = qorOpenStream(storage, name.c_str())) {
            read_stream(stream, w);
            (void)qorCloseStream(stream);
        } else if (depth < kMaxDepth) {
            if (QorFile child = qorOpenStorage(storage, name.c_str())) {
                walk_storage(child, depth + 1, w);
                (void)qorCloseStorage(child);
            }
        }
    }
}

} // namespace

int cfb_target(const uint8_t *data, size_t size)
{
    if (size > kMaxInput)
        return 0;
    Cursor in{data, size};
    const uint8_t control = in.byte();
    Walk w;
    w.small = kSmallPieces[control & 3];
    w.large = kLargePieces[(control >> 2) & 3];
    w.buffer = piece_buffer(w.large);
    MemoryFile file(in.data, in.size);
    if (!file.get())
        return 0;
    QorFile root = qorOpenStorage_ex(file.get(), "Root Entry", kFatLimits[(control >> 4) & 3]);
    if (!root)
        return 0;
    walk_storage(root, 0, w);
    // A stream opened by a name that is not there, and one on the root.
    if (QorFile missing = qorOpenStream(root, "\005SummaryInformation"))
        (void)qorCloseStream(missing);
    (void)qorCloseStorage(root);
    return 0;
}

} // namespace kxfuzz
