// qorCopy: copies one file to another through two QorFile handles, 4096
// bytes per step, and reports how many bytes were not written.
#include "io/open_file.h"

#include <climits>
#include <string>

namespace {

constexpr int32_t kCopyChunk = 4096;
constexpr uint32_t kCopyDestinationMode = QOR_CREATE | QOR_WRITE; // 0x1001

} // namespace

extern "C" {

// Returns the bytes written minus the bytes read: 0 when everything was
// copied. A source or destination that cannot be opened gives -1, so that a
// copy that never started cannot pass for a complete one.
KX_API int32_t qorCopy(const char *source, const char *destination)
{
    if (!source || !destination)
        return -1;
    // A creating open may let the host's file hook empty the path buffer;
    // the caller's string is left alone by handing over a copy.
    std::string target(destination);
    int64_t read_total = 0;
    int64_t written_total = 0;
    {
        kxfpx::io::OpenFile in(qorOpen(source, nullptr, QOR_READ));
        if (!in)
            return -1;
        // The destination is closed before the source, as a scope unwinds.
        kxfpx::io::OpenFile out(qorOpen(&target[0], nullptr, kCopyDestinationMode));
        if (!out)
            return -1;
        uint8_t chunk[kCopyChunk];
        for (;;) {
            const int32_t got = qorRead(in.get(), chunk, kCopyChunk);
            if (got <= 0)
                break;
            read_total += got;
            const int32_t put = qorWrite(out.get(), chunk, got);
            if (put > 0)
                written_total += put;
        }
    }
    const int64_t difference = written_total - read_total;
    return difference < INT32_MIN ? INT32_MIN : static_cast<int32_t>(difference);
}

} // extern "C"
