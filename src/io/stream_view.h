// A stream view: a QorFile over bytes of a Compound File stream already read
// into memory, answering reads and seeks exactly as the stream itself would.
// A tile decoder on a worker thread reads through it without touching the
// file; a read reaching bytes the view does not hold is flagged instead.
#pragma once

#include <kxfpx/qorfile.h>

#include <cstdint>

namespace kxfpx::io {

class StreamView {
public:
    StreamView() = default;
    ~StreamView();
    StreamView(const StreamView &) = delete;
    StreamView &operator=(const StreamView &) = delete;

    // Makes the view's record (a callback record, byte order and float
    // format as given); false when there is no memory for it.
    [[nodiscard]] bool open(int16_t byteOrder, int16_t floatFormat);

    // Shows `length` bytes that sit at `base` in a stream of `streamSize`
    // bytes, positions the view at `base` and clears the overrun flag. The
    // bytes stay the caller's and must outlive the reads.
    void show(const uint8_t *bytes, uint32_t base, uint32_t length, uint32_t streamSize);

    QorFile file() const { return file_; }
    // True when a read wanted stream bytes outside the shown ones: what it
    // returned then is not what the stream would have returned.
    bool overran() const { return overran_; }

private:
    static int64_t callback(void *self, int32_t operation, void *data, int64_t count);
    int32_t read(void *out, int32_t count);

    QorFile file_ = nullptr;
    const uint8_t *bytes_ = nullptr;
    uint32_t base_ = 0, length_ = 0, size_ = 0, position_ = 0;
    bool overran_ = false;
};

} // namespace kxfpx::io
