// The in-place YCbCr conversion of interleaved pixels with AVX2, sixteen at
// a time: the channels are gathered out of the 48 bytes with shuffles and
// converted by the decoder's vector helpers (jpeg/ycbcr_lines.h), which
// compute the table entries in their lanes.
#include "fpx/colour_steps.h"

#include "jpeg/ycbcr_lines.h"

namespace kxfpx::fpx {

#if defined(__x86_64__)
__attribute__((target("avx2"))) int32_t YCbCrRunAvx2(uint8_t *p, int32_t pixels, bool invert)
{
    using jpeg::kGatherMasks;
    using jpeg::load_mask;
    const __m128i flip = _mm_set1_epi8(invert ? char(-1) : 0);
    int32_t done = 0;
    for (; done + 16 <= pixels; done += 16, p += 48) {
        __m128i in[3], ch[3];
        for (int r = 0; r < 3; ++r)
            in[r] = _mm_loadu_si128(reinterpret_cast<const __m128i *>(p + 16 * r));
        for (int c = 0; c < 3; ++c)
            ch[c] = _mm_or_si128(
                _mm_or_si128(_mm_shuffle_epi8(in[0], load_mask(kGatherMasks[size_t(3 * c)])),
                             _mm_shuffle_epi8(in[1], load_mask(kGatherMasks[size_t(3 * c + 1)]))),
                _mm_shuffle_epi8(in[2], load_mask(kGatherMasks[size_t(3 * c + 2)])));
        jpeg::ycbcr_store16(ch[0], jpeg::ycbcr_terms(ch[1], ch[2]), flip, p);
    }
    return done;
}
#else
int32_t YCbCrRunAvx2(uint8_t *, int32_t, bool) { return 0; }
#endif

} // namespace kxfpx::fpx
