// Eight transform outputs of one block row to sample bytes through the range
// limit (RANGE_ARRAY[1152 + v]: v + 128 clamped to 0..255 up to v = 255, 0
// above), as is or each sample doubled; and the expansion modes.
#pragma once

#include "jpeg/decoder_tables.h"

#include <cstdint>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace kxfpx::jpeg {

// expansionMode values.
inline constexpr uint32_t kExpandNone = 0;    // the component has the MCU's resolution
inline constexpr uint32_t kExpandAcross = 1;  // doubled horizontally
inline constexpr uint32_t kExpandBoth = 3;    // doubled both ways
// Doubled both ways by the band writer instead: the plane keeps the 8 x 8
// samples of each MCU side by side (8 bytes of each row per MCU).
inline constexpr uint32_t kExpandLater = 4;

#if defined(__SSE2__)
// Values above 255 give 0 (the table's last 256 entries, and the decision
// for values beyond the table); the saturating pack does the rest.
inline __m128i limit8x16(__m128i v)
{
    const __m128i shifted = _mm_adds_epi16(v, _mm_set1_epi16(128));
    const __m128i high = _mm_cmpgt_epi16(v, _mm_set1_epi16(255));
    return _mm_andnot_si128(high, shifted);
}
#endif

inline void limit_row8(const int16_t *in, uint8_t *out)
{
#if defined(__SSE2__)
    const __m128i t = limit8x16(_mm_loadu_si128(reinterpret_cast<const __m128i *>(in)));
    _mm_storel_epi64(reinterpret_cast<__m128i *>(out), _mm_packus_epi16(t, t));
#else
    for (int x = 0; x < 8; ++x)
        out[x] = range_limit(in[x]);
#endif
}

inline void limit_row8_doubled(const int16_t *in, uint8_t *out)
{
#if defined(__SSE2__)
    const __m128i t = limit8x16(_mm_loadu_si128(reinterpret_cast<const __m128i *>(in)));
    const __m128i bytes = _mm_packus_epi16(t, t);
    _mm_storeu_si128(reinterpret_cast<__m128i *>(out), _mm_unpacklo_epi8(bytes, bytes));
#else
    for (int x = 0; x < 8; ++x)
        out[2 * x] = out[2 * x + 1] = range_limit(in[x]);
#endif
}

} // namespace kxfpx::jpeg
