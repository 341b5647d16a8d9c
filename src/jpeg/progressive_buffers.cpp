// ProgressiveBuffers: the coefficient and sample blocks of progressive frames,
// grown on demand and cleared per frame, so that the tiles of one import
// share one pair of blocks.
#include "jpeg/progressive_buffers.h"

#include <kxfpx/memory.h>

#include <cstring>

namespace kxfpx::jpeg {

namespace {
inline constexpr uint32_t kMaxCoefficients = 0x7FFFFFFF;
}

bool ProgressiveBuffers::prepare(uint32_t N)
{
    if (N > kMaxCoefficients)  // 2N bytes must fit a block size
        return false;
    if (N > capacity_ || !coefficients_.as<void>() || !samples_.as<void>()) {
        coefficients_.unlock();
        samples_.unlock();
        coefficientBlock_.reset(GlobalAlloc(KX_GHND, 2 * N));
        sampleBlock_.reset(GlobalAlloc(KX_GHND, N));
        capacity_ = 0;
        if (!coefficientBlock_.get() || !sampleBlock_.get() || !coefficients_.lock(coefficientBlock_.get()) ||
            !samples_.lock(sampleBlock_.get())) {
            coefficients_.unlock();
            samples_.unlock();
            coefficientBlock_.reset();
            sampleBlock_.reset();
            return false;
        }
        capacity_ = N;
        return true;  // fresh blocks are zero-filled
    }
    // The scans only add to the coefficients: they start at zero. The
    // samples are written whole by the reconstruction.
    std::memset(coefficients(), 0, size_t(N) * sizeof(int16_t));
    return true;
}

} // namespace kxfpx::jpeg
