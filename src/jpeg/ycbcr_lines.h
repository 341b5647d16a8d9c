// The YCbCr to RGB conversion as fixed-point lines: entry i of each table is
// (start + i * step) >> 16, and an output byte is RANGE_ARRAY[1024 + sum]
// (0 up to 0, the sum up to 254, 255 up to 383, 0 above). The tile renderer
// fills its tables from these lines; the vector helpers below compute the
// same entries in their lanes, so that either path gives the same bytes.
#pragma once

#include <array>
#include <cstdint>
#include <utility>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

namespace kxfpx::jpeg {

struct FixedLine {
    int32_t start, step;
};
// Cr * 1.402, Cb * 1.772, Cr * -0.71414, Cb * -0.34414 around 128, in 16.16.
inline constexpr FixedLine kCrRLine = {-11682187, 91882};
inline constexpr FixedLine kCbBLine = {-14773807, 116130};
inline constexpr FixedLine kCrGLine = {5967255, -46802};
inline constexpr FixedLine kCbGLine = {2908148, -22552};

// The arithmetic shift keeps the sign: it rounds toward minus infinity.
constexpr int16_t fixed_entry(FixedLine line, int i)
{
    return static_cast<int16_t>((line.start + i * line.step) >> 16);
}

// RANGE_ARRAY[1024 + v] for the sums the lines can give (-226 .. 480).
constexpr uint8_t range_byte(int v) { return uint8_t(v <= 0 ? 0 : v <= 254 ? v : v <= 383 ? 255 : 0); }

// One pixel: y, cb, cr to r, g, b, then the inversion (flip 0 or 255).
inline void ycbcr_pixel(int y, int cb, int cr, uint8_t flip, uint8_t *out)
{
    out[0] = range_byte(y + fixed_entry(kCrRLine, cr)) ^ flip;
    out[1] = range_byte(y + fixed_entry(kCbGLine, cb) + fixed_entry(kCrGLine, cr)) ^ flip;
    out[2] = range_byte(y + fixed_entry(kCbBLine, cb)) ^ flip;
}

#if defined(__x86_64__)
// pshufb masks between three 16-byte channel registers and 48 interleaved
// bytes: gather(ch, reg) takes channel ch's bytes out of input register reg,
// scatter(ch, reg) places them into output register reg (0x80: none).
using ShuffleMask = std::array<int8_t, 16>;
constexpr ShuffleMask gather_mask(int ch, int reg)
{
    ShuffleMask m{};
    for (int q = 0; q < 16; ++q) {
        const int at = 3 * q + ch;
        m[size_t(q)] = at / 16 == reg ? int8_t(at % 16) : int8_t(-128);
    }
    return m;
}
constexpr ShuffleMask scatter_mask(int ch, int reg)
{
    ShuffleMask m{};
    for (int j = 0; j < 16; ++j) {
        const int at = 16 * reg + j;
        m[size_t(j)] = at % 3 == ch ? int8_t(at / 3) : int8_t(-128);
    }
    return m;
}
template <size_t... I>
constexpr std::array<ShuffleMask, 9> shuffle_masks(bool gather, std::index_sequence<I...>)
{
    return {{(gather ? gather_mask(int(I / 3), int(I % 3)) : scatter_mask(int(I / 3), int(I % 3)))...}};
}
inline constexpr std::array<ShuffleMask, 9> kGatherMasks = shuffle_masks(true, std::make_index_sequence<9>());
inline constexpr std::array<ShuffleMask, 9> kScatterMasks = shuffle_masks(false, std::make_index_sequence<9>());

__attribute__((target("avx2"))) inline __m128i load_mask(const ShuffleMask &m)
{
    return _mm_loadu_si128(reinterpret_cast<const __m128i *>(m.data()));
}

// One table term for 16 samples in 16-bit lanes, without 32-bit products:
// with step = lo + k * 65536 (lo a 16-bit value) and start = hi * 65536 + low,
// (start + v * step) >> 16 = hi + k * v + ((v * lo) >> 16) + carry, where
// carry is 1 when low plus the low half of v * lo reaches 65536.
__attribute__((target("avx2"))) inline __m256i ycbcr_term(__m256i v, FixedLine line)
{
    const int32_t k = (line.step + 32768) >> 16;
    const __m256i lo = _mm256_set1_epi16(int16_t(line.step - k * 65536));
    const uint32_t low = uint32_t(line.start) & 0xFFFFu;
    __m256i t = _mm256_add_epi16(_mm256_mulhi_epi16(v, lo), _mm256_set1_epi16(int16_t(line.start >> 16)));
    if (low != 0) {
        // The low halves reach 65536 - low exactly when the sum carries.
        const __m256i product = _mm256_mullo_epi16(v, lo);
        const __m256i threshold = _mm256_set1_epi16(int16_t(uint16_t(65536u - low)));
        t = _mm256_sub_epi16(t, _mm256_cmpeq_epi16(_mm256_max_epu16(product, threshold), product));
    }
    return _mm256_add_epi16(t, _mm256_mullo_epi16(v, _mm256_set1_epi16(int16_t(k))));
}

// range_byte for 16 sums, then the inversion: sums above 383 become 0 and
// the unsigned saturation of the pack clamps the rest to 0 .. 255.
__attribute__((target("avx2"))) inline __m256i ycbcr_wrap(__m256i v)
{
    return _mm256_andnot_si256(_mm256_cmpgt_epi16(v, _mm256_set1_epi16(383)), v);
}
// Two channels of 16 sums each: the bytes of the first in the low half.
__attribute__((target("avx2"))) inline __m256i ycbcr_bytes2(__m256i a, __m256i b, __m256i flip)
{
    const __m256i packed = _mm256_packus_epi16(ycbcr_wrap(a), ycbcr_wrap(b));
    return _mm256_xor_si256(_mm256_permute4x64_epi64(packed, 0xD8), flip);
}

// The three sums' terms of 16 pixels: red (CrR), green (CbG + CrG), blue (CbB).
struct YCbCrTerms {
    __m256i r, g, b;
};
__attribute__((target("avx2"))) inline YCbCrTerms ycbcr_terms(__m128i cb, __m128i cr)
{
    const __m256i b16 = _mm256_cvtepu8_epi16(cb), r16 = _mm256_cvtepu8_epi16(cr);
    return {ycbcr_term(r16, kCrRLine), _mm256_add_epi16(ycbcr_term(b16, kCbGLine), ycbcr_term(r16, kCrGLine)),
            ycbcr_term(b16, kCbBLine)};
}

// Sixteen pixels from their luma and terms to 48 interleaved RGB bytes.
__attribute__((target("avx2"))) inline void ycbcr_store16(__m128i y8, const YCbCrTerms &t, __m128i flip,
                                                          uint8_t *out)
{
    const __m256i y = _mm256_cvtepu8_epi16(y8);
    const __m256i f = _mm256_broadcastsi128_si256(flip);
    const __m256i rg = ycbcr_bytes2(_mm256_add_epi16(y, t.r), _mm256_add_epi16(y, t.g), f);
    const __m256i b = _mm256_add_epi16(y, t.b);
    const __m128i ch[3] = {_mm256_castsi256_si128(rg), _mm256_extracti128_si256(rg, 1),
                           _mm256_castsi256_si128(ycbcr_bytes2(b, b, f))};
    for (int o = 0; o < 3; ++o) {
        const __m128i v = _mm_or_si128(
            _mm_or_si128(_mm_shuffle_epi8(ch[0], load_mask(kScatterMasks[size_t(o)])),
                         _mm_shuffle_epi8(ch[1], load_mask(kScatterMasks[size_t(3 + o)]))),
            _mm_shuffle_epi8(ch[2], load_mask(kScatterMasks[size_t(6 + o)])));
        _mm_storeu_si128(reinterpret_cast<__m128i *>(out + 16 * o), v);
    }
}

// Each of 16 terms twice: the first 8 doubled, then the last 8.
__attribute__((target("avx2"))) inline void ycbcr_double(__m256i t, __m256i &first, __m256i &second)
{
    const __m256i lo = _mm256_unpacklo_epi16(t, t), hi = _mm256_unpackhi_epi16(t, t);
    first = _mm256_permute2x128_si256(lo, hi, 0x20);
    second = _mm256_permute2x128_si256(lo, hi, 0x31);
}
#endif

} // namespace kxfpx::jpeg
