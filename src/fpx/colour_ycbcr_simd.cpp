// The YCbCr conversion with AVX2, sixteen pixels at a time: the table terms
// are computed as the tables are filled ((start + i * step) >> 16 in 32-bit
// lanes), the sums mapped as RANGE_ARRAY maps them (0 up to 0, the value up
// to 254, 255 up to 383, 0 above), so that each byte equals the table path's.
// Used only while the four slots hold exactly the YCbCr tables.
#include "fpx/colour_steps.h"
#include "fpx/colour_ycbcr.h"

#if defined(__x86_64__)
#include <immintrin.h>

#include <array>

namespace kxfpx::fpx {

namespace {

// pshufb masks: for each of the three 16-byte input registers, the bytes of
// channel ch that it holds, moved to their pixel's place (0x80: none).
using Mask = std::array<int8_t, 16>;
constexpr Mask gather_mask(int ch, int reg)
{
    Mask m{};
    for (int q = 0; q < 16; ++q) {
        const int at = 3 * q + ch;
        m[size_t(q)] = at / 16 == reg ? int8_t(at % 16) : int8_t(-128);
    }
    return m;
}
// For each of the three output registers, where its bytes of channel ch
// come from (the pixel's index in the channel register).
constexpr Mask scatter_mask(int ch, int reg)
{
    Mask m{};
    for (int j = 0; j < 16; ++j) {
        const int at = 16 * reg + j;
        m[size_t(j)] = at % 3 == ch ? int8_t(at / 3) : int8_t(-128);
    }
    return m;
}

template <size_t... I> constexpr std::array<Mask, 9> masks(bool gather, std::index_sequence<I...>)
{
    return {{(gather ? gather_mask(int(I / 3), int(I % 3)) : scatter_mask(int(I / 3), int(I % 3)))...}};
}
constexpr std::array<Mask, 9> kGather = masks(true, std::make_index_sequence<9>());
constexpr std::array<Mask, 9> kScatter = masks(false, std::make_index_sequence<9>());

__attribute__((target("avx2"))) inline __m128i mask(const Mask &m)
{
    return _mm_loadu_si128(reinterpret_cast<const __m128i *>(m.data()));
}

// One table term for 16 samples: (start + v * step) >> 16 as 16-bit lanes.
__attribute__((target("avx2"))) inline __m256i term(__m128i v, FixedLine line)
{
    const __m256i start = _mm256_set1_epi32(line.start), step = _mm256_set1_epi32(line.step);
    const __m256i lo = _mm256_cvtepu8_epi32(v);
    const __m256i hi = _mm256_cvtepu8_epi32(_mm_srli_si128(v, 8));
    const __m256i tlo = _mm256_srai_epi32(_mm256_add_epi32(start, _mm256_mullo_epi32(lo, step)), 16);
    const __m256i thi = _mm256_srai_epi32(_mm256_add_epi32(start, _mm256_mullo_epi32(hi, step)), 16);
    return _mm256_permute4x64_epi64(_mm256_packs_epi32(tlo, thi), 0xD8);
}

// RANGE_ARRAY[1024 + v] for 16 sums, as bytes, then the inversion.
__attribute__((target("avx2"))) inline __m128i to_bytes(__m256i v, __m128i flip)
{
    const __m256i clamped = _mm256_min_epi16(_mm256_max_epi16(v, _mm256_setzero_si256()), _mm256_set1_epi16(255));
    const __m256i wrapped = _mm256_andnot_si256(_mm256_cmpgt_epi16(v, _mm256_set1_epi16(383)), clamped);
    const __m256i packed = _mm256_permute4x64_epi64(_mm256_packus_epi16(wrapped, wrapped), 0xD8);
    return _mm_xor_si128(_mm256_castsi256_si128(packed), flip);
}

} // namespace

__attribute__((target("avx2"))) int32_t YCbCrRunAvx2(uint8_t *p, int32_t pixels, bool invert)
{
    const __m128i flip = _mm_set1_epi8(invert ? char(-1) : 0);
    int32_t done = 0;
    for (; done + 16 <= pixels; done += 16, p += 48) {
        __m128i in[3], ch[3];
        for (int r = 0; r < 3; ++r)
            in[r] = _mm_loadu_si128(reinterpret_cast<const __m128i *>(p + 16 * r));
        for (int c = 0; c < 3; ++c)
            ch[c] = _mm_or_si128(_mm_or_si128(_mm_shuffle_epi8(in[0], mask(kGather[size_t(3 * c)])),
                                              _mm_shuffle_epi8(in[1], mask(kGather[size_t(3 * c + 1)]))),
                                 _mm_shuffle_epi8(in[2], mask(kGather[size_t(3 * c + 2)])));
        const __m256i y = _mm256_cvtepu8_epi16(ch[0]);
        const __m128i r = to_bytes(_mm256_add_epi16(y, term(ch[2], kCrRLine)), flip);
        const __m128i g = to_bytes(
            _mm256_add_epi16(y, _mm256_add_epi16(term(ch[1], kCbGLine), term(ch[2], kCrGLine))), flip);
        const __m128i b = to_bytes(_mm256_add_epi16(y, term(ch[1], kCbBLine)), flip);
        for (int o = 0; o < 3; ++o) {
            const __m128i out =
                _mm_or_si128(_mm_or_si128(_mm_shuffle_epi8(r, mask(kScatter[size_t(o)])),
                                          _mm_shuffle_epi8(g, mask(kScatter[size_t(3 + o)]))),
                             _mm_shuffle_epi8(b, mask(kScatter[size_t(6 + o)])));
            _mm_storeu_si128(reinterpret_cast<__m128i *>(p + 16 * o), out);
        }
    }
    return done;
}

bool CpuHasAvx2()
{
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2");
}

} // namespace kxfpx::fpx

#else

namespace kxfpx::fpx {
int32_t YCbCrRunAvx2(uint8_t *, int32_t, bool) { return 0; }
bool CpuHasAvx2() { return false; }
} // namespace kxfpx::fpx

#endif
