// The whole-image buffers of progressive frames (coefficients, samples),
// made once per import and reused from tile to tile: ReadJPEG grows them
// when a frame needs more and clears the coefficients for every frame.
#pragma once

#include "jpeg/handle_owner.h"
#include "jpeg/read_jpeg.h"

#include <cstdint>

namespace kxfpx::jpeg {

class ProgressiveBuffers {
public:
    ProgressiveBuffers() = default;
    ProgressiveBuffers(const ProgressiveBuffers &) = delete;
    ProgressiveBuffers &operator=(const ProgressiveBuffers &) = delete;

    // Buffers for a frame of N coefficients: 2N bytes of coefficients, all
    // zero, and N bytes of samples (movable blocks, zero-filled when made).
    // False when a block cannot be made; the buffers are then released.
    [[nodiscard]] bool prepare(uint32_t N);
    int16_t *coefficients() const { return coefficients_.as<int16_t>(); }
    uint8_t *samples() const { return samples_.as<uint8_t>(); }

private:
    // Declared in this order so that the locks go before their blocks.
    HandleOwner coefficientBlock_, sampleBlock_;
    LockedHandle coefficients_, samples_;
    uint32_t capacity_ = 0;  // coefficients the blocks hold
};

// A request to write a baseline tile's YCbCr samples as RGB on the way (the
// conversion of ycbcr_lines.h); `done` comes back true when the whole
// destination was written converted, else the caller converts it.
struct RgbOutput {
    bool invert = false;
    bool done = false;
};

// ReadJPEG with whole-image buffers kept by the caller across tiles (null:
// made and released within the call), and optionally RGB output.
[[nodiscard]] int32_t ReadJPEG(QorFile data, fpx::SubimageInfo *info, JpegTableSet *tables,
                               uint8_t *destination, int32_t size, FilterSetup *setup,
                               uint8_t chromaSubsampling, int16_t **colourTableSlots,
                               int32_t extraChannelFlag, ProgressiveBuffers *buffers,
                               RgbOutput *rgb = nullptr);

} // namespace kxfpx::jpeg
