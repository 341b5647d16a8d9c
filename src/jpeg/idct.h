// The three versions of the 8 x 8 inverse DCT (plain, SSE2, AVX2) behind
// IDCT8x8Block, which picks one at run time; all give identical results.
#pragma once

#include <cstdint>

namespace kxfpx::jpeg {

void idct_scalar(int16_t *block);
void idct_sse2(int16_t *block);
void idct_avx2(int16_t *block);  // only on processors with AVX2
bool cpu_has_avx2();

} // namespace kxfpx::jpeg
