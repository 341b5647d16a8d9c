// SSE2 and AVX2 versions of the inverse DCT. The block is transposed so that
// one register holds one coefficient position of eight rows; each 1-D pass
// is then eight pairwise multiply-adds (pmaddwd) per half on 16-bit inputs,
// with the odd-part products regrouped per input so that no sum of two
// inputs is ever formed in 16 bits. Every step is a ring operation mod 2^32,
// so the results equal the plain version bit for bit, corrupt input included.
#include "jpeg/idct.h"

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>

namespace kxfpx::jpeg {

namespace {

// Coefficients of each odd output per odd input, from the LLM odd part:
// o0 = i1*2260 - i3*6436 + i5*9633 - i7*11363, and so on.
constexpr int16_t kO0[4] = {2260, -6436, 9633, -11363};
constexpr int16_t kO1[4] = {6437, -11362, 2261, 9633};
constexpr int16_t kO2[4] = {9633, -2259, -11362, -6436};
constexpr int16_t kO3[4] = {11363, 9633, 6437, 2260};
constexpr int16_t kE0 = 8192, kC3 = 4433, kC3C4 = 4433 + 6270, kC3C8 = 4433 - 15137;

inline __m128i pair(int16_t a, int16_t b) { return _mm_setr_epi16(a, b, a, b, a, b, a, b); }

__attribute__((target("sse2"))) inline void transpose(__m128i r[8])
{
    const __m128i a0 = _mm_unpacklo_epi16(r[0], r[1]), a1 = _mm_unpackhi_epi16(r[0], r[1]);
    const __m128i a2 = _mm_unpacklo_epi16(r[2], r[3]), a3 = _mm_unpackhi_epi16(r[2], r[3]);
    const __m128i a4 = _mm_unpacklo_epi16(r[4], r[5]), a5 = _mm_unpackhi_epi16(r[4], r[5]);
    const __m128i a6 = _mm_unpacklo_epi16(r[6], r[7]), a7 = _mm_unpackhi_epi16(r[6], r[7]);
    const __m128i b0 = _mm_unpacklo_epi32(a0, a2), b1 = _mm_unpackhi_epi32(a0, a2);
    const __m128i b2 = _mm_unpacklo_epi32(a1, a3), b3 = _mm_unpackhi_epi32(a1, a3);
    const __m128i b4 = _mm_unpacklo_epi32(a4, a6), b5 = _mm_unpackhi_epi32(a4, a6);
    const __m128i b6 = _mm_unpacklo_epi32(a5, a7), b7 = _mm_unpackhi_epi32(a5, a7);
    r[0] = _mm_unpacklo_epi64(b0, b4);
    r[1] = _mm_unpackhi_epi64(b0, b4);
    r[2] = _mm_unpacklo_epi64(b1, b5);
    r[3] = _mm_unpackhi_epi64(b1, b5);
    r[4] = _mm_unpacklo_epi64(b2, b6);
    r[5] = _mm_unpackhi_epi64(b2, b6);
    r[6] = _mm_unpacklo_epi64(b3, b7);
    r[7] = _mm_unpackhi_epi64(b3, b7);
}

// Pass-1 store: (s + 1024) >> 11 kept to its low 16 bits (bits 11-26 of
// s + 1024, sign-extended), so the pack below never saturates.
template <int Pass> __attribute__((target("sse2"))) inline __m128i descale4(__m128i s)
{
    if (Pass == 1)
        return _mm_srai_epi32(_mm_slli_epi32(_mm_add_epi32(s, _mm_set1_epi32(1024)), 5), 16);
    return _mm_srai_epi32(_mm_add_epi32(s, _mm_set1_epi32(131072)), 18);  // fits 16 bits
}

// One pass over x[0..7] (x[k]: position k of eight lines); results replace x.
template <int Pass> __attribute__((target("sse2"))) void pass_sse2(__m128i x[8])
{
    __m128i out[8][2];
    for (int h = 0; h < 2; ++h) {
        auto unpack = [h](__m128i a, __m128i b) {
            return h == 0 ? _mm_unpacklo_epi16(a, b) : _mm_unpackhi_epi16(a, b);
        };
        const __m128i p04 = unpack(x[0], x[4]), p26 = unpack(x[2], x[6]);
        const __m128i p13 = unpack(x[1], x[3]), p57 = unpack(x[5], x[7]);
        const __m128i e0 = _mm_madd_epi16(p04, pair(kE0, kE0));
        const __m128i e1 = _mm_madd_epi16(p04, pair(kE0, -kE0));
        const __m128i e3 = _mm_madd_epi16(p26, pair(kC3C4, kC3));
        const __m128i e2 = _mm_madd_epi16(p26, pair(kC3, kC3C8));
        const __m128i t10 = _mm_add_epi32(e0, e3), t13 = _mm_sub_epi32(e0, e3);
        const __m128i t11 = _mm_add_epi32(e1, e2), t12 = _mm_sub_epi32(e1, e2);
        auto odd = [&](const int16_t k[4]) {
            return _mm_add_epi32(_mm_madd_epi16(p13, pair(k[0], k[1])),
                                 _mm_madd_epi16(p57, pair(k[2], k[3])));
        };
        const __m128i o0 = odd(kO0), o1 = odd(kO1), o2 = odd(kO2), o3 = odd(kO3);
        out[0][h] = descale4<Pass>(_mm_add_epi32(t10, o3));
        out[7][h] = descale4<Pass>(_mm_sub_epi32(t10, o3));
        out[1][h] = descale4<Pass>(_mm_add_epi32(t11, o2));
        out[6][h] = descale4<Pass>(_mm_sub_epi32(t11, o2));
        out[2][h] = descale4<Pass>(_mm_add_epi32(t12, o1));
        out[5][h] = descale4<Pass>(_mm_sub_epi32(t12, o1));
        out[3][h] = descale4<Pass>(_mm_add_epi32(t13, o0));
        out[4][h] = descale4<Pass>(_mm_sub_epi32(t13, o0));
    }
    for (int k = 0; k < 8; ++k)
        x[k] = _mm_packs_epi32(out[k][0], out[k][1]);
}

__attribute__((target("avx2"))) inline __m256i pair256(int16_t a, int16_t b)
{
    return _mm256_setr_epi16(a, b, a, b, a, b, a, b, a, b, a, b, a, b, a, b);
}

template <int Pass> __attribute__((target("avx2"))) inline __m256i descale8(__m256i s)
{
    if (Pass == 1)
        return _mm256_srai_epi32(_mm256_slli_epi32(_mm256_add_epi32(s, _mm256_set1_epi32(1024)), 5), 16);
    return _mm256_srai_epi32(_mm256_add_epi32(s, _mm256_set1_epi32(131072)), 18);
}

__attribute__((target("avx2"))) inline __m128i pack8(__m256i v)
{
    return _mm_packs_epi32(_mm256_castsi256_si128(v), _mm256_extracti128_si256(v, 1));
}

// The same pass with all eight lines in one 256-bit register per sum.
__attribute__((target("avx2"))) inline __m256i unpack256(__m128i a, __m128i b)
{
    return _mm256_set_m128i(_mm_unpackhi_epi16(a, b), _mm_unpacklo_epi16(a, b));
}

__attribute__((target("avx2"))) inline __m256i odd256(__m256i p13, __m256i p57, const int16_t k[4])
{
    return _mm256_add_epi32(_mm256_madd_epi16(p13, pair256(k[0], k[1])),
                            _mm256_madd_epi16(p57, pair256(k[2], k[3])));
}

// The same pass with all eight lines in one 256-bit register per sum.
template <int Pass> __attribute__((target("avx2"))) void pass_avx2(__m128i x[8])
{
    const __m256i p04 = unpack256(x[0], x[4]), p26 = unpack256(x[2], x[6]);
    const __m256i p13 = unpack256(x[1], x[3]), p57 = unpack256(x[5], x[7]);
    const __m256i e0 = _mm256_madd_epi16(p04, pair256(kE0, kE0));
    const __m256i e1 = _mm256_madd_epi16(p04, pair256(kE0, -kE0));
    const __m256i e3 = _mm256_madd_epi16(p26, pair256(kC3C4, kC3));
    const __m256i e2 = _mm256_madd_epi16(p26, pair256(kC3, kC3C8));
    const __m256i t10 = _mm256_add_epi32(e0, e3), t13 = _mm256_sub_epi32(e0, e3);
    const __m256i t11 = _mm256_add_epi32(e1, e2), t12 = _mm256_sub_epi32(e1, e2);
    const __m256i o0 = odd256(p13, p57, kO0), o1 = odd256(p13, p57, kO1);
    const __m256i o2 = odd256(p13, p57, kO2), o3 = odd256(p13, p57, kO3);
    x[0] = pack8(descale8<Pass>(_mm256_add_epi32(t10, o3)));
    x[7] = pack8(descale8<Pass>(_mm256_sub_epi32(t10, o3)));
    x[1] = pack8(descale8<Pass>(_mm256_add_epi32(t11, o2)));
    x[6] = pack8(descale8<Pass>(_mm256_sub_epi32(t11, o2)));
    x[2] = pack8(descale8<Pass>(_mm256_add_epi32(t12, o1)));
    x[5] = pack8(descale8<Pass>(_mm256_sub_epi32(t12, o1)));
    x[3] = pack8(descale8<Pass>(_mm256_add_epi32(t13, o0)));
    x[4] = pack8(descale8<Pass>(_mm256_sub_epi32(t13, o0)));
}

} // namespace

__attribute__((target("sse2"))) void idct_sse2(int16_t *block)
{
    __m128i r[8];
    for (int k = 0; k < 8; ++k)
        r[k] = _mm_loadu_si128(reinterpret_cast<const __m128i *>(block + 8 * k));
    transpose(r);        // r[k]: coefficient k of each row
    pass_sse2<1>(r);     // rows
    transpose(r);        // r[j]: row j of the intermediate, i.e. input j of each column
    pass_sse2<2>(r);     // columns
    for (int k = 0; k < 8; ++k)
        _mm_storeu_si128(reinterpret_cast<__m128i *>(block + 8 * k), r[k]);
}

__attribute__((target("avx2"))) void idct_avx2(int16_t *block)
{
    __m128i r[8];
    for (int k = 0; k < 8; ++k)
        r[k] = _mm_loadu_si128(reinterpret_cast<const __m128i *>(block + 8 * k));
    transpose(r);
    pass_avx2<1>(r);
    transpose(r);
    pass_avx2<2>(r);
    for (int k = 0; k < 8; ++k)
        _mm_storeu_si128(reinterpret_cast<__m128i *>(block + 8 * k), r[k]);
}

bool cpu_has_avx2()
{
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2");
}

} // namespace kxfpx::jpeg

#else  // other processors: the plain version serves every name

namespace kxfpx::jpeg {
void idct_sse2(int16_t *block) { idct_scalar(block); }
void idct_avx2(int16_t *block) { idct_scalar(block); }
bool cpu_has_avx2() { return false; }
} // namespace kxfpx::jpeg

#endif
