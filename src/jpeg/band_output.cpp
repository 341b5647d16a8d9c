// Band output of the sequential scan: each finished band of sample planes
// goes to the destination as grey bytes, as three interleaved component
// bytes, or as opacity-weighted colour (the colour divided by the opacity,
// mapped through the five colour tables and weighted by the opacity again,
// in double precision as defined).
#include "jpeg/band_output.h"

#include "jpeg/idct.h"
#include "jpeg/ycbcr_lines.h"

#include <cstring>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#endif

namespace kxfpx::jpeg {

void write_band_grey(const uint8_t *const *planes, size_t planeStride, uint8_t *dest,
                     size_t destStride, uint32_t width, uint32_t rows)
{
    for (uint32_t y = 0; y < rows; ++y)
        std::memcpy(dest + y * destStride, planes[0] + y * planeStride, width);
}

#if defined(__x86_64__) || defined(__i386__)
namespace {

// Sixteen pixels of three planes interleaved with byte shuffles: output
// byte j of block b takes plane j % 3, sample (16 b + j) / 3.
__attribute__((target("ssse3"))) uint32_t interleave16_ssse3(const uint8_t *p0, const uint8_t *p1,
                                                             const uint8_t *p2, uint8_t *d,
                                                             uint32_t width)
{
    alignas(16) static const int8_t kMask[3][3][16] = {
        {{0, -1, -1, 1, -1, -1, 2, -1, -1, 3, -1, -1, 4, -1, -1, 5},
         {-1, 0, -1, -1, 1, -1, -1, 2, -1, -1, 3, -1, -1, 4, -1, -1},
         {-1, -1, 0, -1, -1, 1, -1, -1, 2, -1, -1, 3, -1, -1, 4, -1}},
        {{-1, -1, 6, -1, -1, 7, -1, -1, 8, -1, -1, 9, -1, -1, 10, -1},
         {5, -1, -1, 6, -1, -1, 7, -1, -1, 8, -1, -1, 9, -1, -1, 10},
         {-1, 5, -1, -1, 6, -1, -1, 7, -1, -1, 8, -1, -1, 9, -1, -1}},
        {{-1, 11, -1, -1, 12, -1, -1, 13, -1, -1, 14, -1, -1, 15, -1, -1},
         {-1, -1, 11, -1, -1, 12, -1, -1, 13, -1, -1, 14, -1, -1, 15, -1},
         {10, -1, -1, 11, -1, -1, 12, -1, -1, 13, -1, -1, 14, -1, -1, 15}}};
    uint32_t x = 0;
    for (; x + 16 <= width; x += 16, d += 48) {
        const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i *>(p0 + x));
        const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i *>(p1 + x));
        const __m128i c = _mm_loadu_si128(reinterpret_cast<const __m128i *>(p2 + x));
        for (int k = 0; k < 3; ++k) {
            const __m128i v = _mm_or_si128(
                _mm_or_si128(_mm_shuffle_epi8(a, _mm_load_si128(reinterpret_cast<const __m128i *>(kMask[k][0]))),
                             _mm_shuffle_epi8(b, _mm_load_si128(reinterpret_cast<const __m128i *>(kMask[k][1])))),
                _mm_shuffle_epi8(c, _mm_load_si128(reinterpret_cast<const __m128i *>(kMask[k][2]))));
            _mm_storeu_si128(reinterpret_cast<__m128i *>(d + 16 * k), v);
        }
    }
    return x;
}

bool has_ssse3()
{
    __builtin_cpu_init();
    return __builtin_cpu_supports("ssse3");
}

} // namespace
#endif

void write_band_colour(const uint8_t *const *planes, size_t planeStride, uint8_t *dest,
                       size_t destStride, uint32_t width, uint32_t rows)
{
#if defined(__x86_64__) || defined(__i386__)
    static const bool ssse3 = has_ssse3();
#endif
    for (uint32_t y = 0; y < rows; ++y) {
        const uint8_t *p0 = planes[0] + y * planeStride, *p1 = planes[1] + y * planeStride,
                      *p2 = planes[2] + y * planeStride;
        uint8_t *d = dest + y * destStride;
        uint32_t x = 0;
#if defined(__x86_64__) || defined(__i386__)
        if (ssse3) {
            x = interleave16_ssse3(p0, p1, p2, d, width);
            d += 3 * size_t(x);
        }
#endif
        for (; x < width; ++x, d += 3) {
            d[0] = p0[x];
            d[1] = p1[x];
            d[2] = p2[x];
        }
    }
}

#if defined(__x86_64__)
namespace {

__attribute__((target("avx2"))) uint32_t rgb16_avx2(const uint8_t *y, const uint8_t *cb, const uint8_t *cr,
                                                    uint8_t *d, uint32_t width, uint8_t flip)
{
    const __m128i f = _mm_set1_epi8(char(flip));
    uint32_t x = 0;
    for (; x + 16 <= width; x += 16, d += 48)
        ycbcr_store16(_mm_loadu_si128(reinterpret_cast<const __m128i *>(y + x)),
                      ycbcr_terms(_mm_loadu_si128(reinterpret_cast<const __m128i *>(cb + x)),
                                  _mm_loadu_si128(reinterpret_cast<const __m128i *>(cr + x))),
                      f, d);
    return x;
}

// Two rows of 32 pixels at a time sharing one row of 16 chroma samples,
// each used for 2 x 2 pixels.
__attribute__((target("avx2"))) uint32_t rgb32_h2v2_avx2(const uint8_t *y0, const uint8_t *y1,
                                                         const uint8_t *cb, const uint8_t *cr, uint8_t *d0,
                                                         uint8_t *d1, uint32_t width, uint8_t flip)
{
    const __m128i f = _mm_set1_epi8(char(flip));
    uint32_t x = 0;
    for (; x + 32 <= width; x += 32, d0 += 96, d1 += 96) {
        const YCbCrTerms t = ycbcr_terms(_mm_loadu_si128(reinterpret_cast<const __m128i *>(cb + x / 2)),
                                         _mm_loadu_si128(reinterpret_cast<const __m128i *>(cr + x / 2)));
        YCbCrTerms first, second;
        ycbcr_double(t.r, first.r, second.r);
        ycbcr_double(t.g, first.g, second.g);
        ycbcr_double(t.b, first.b, second.b);
        for (int row = 0; row < 2; ++row) {
            const uint8_t *y = row ? y1 : y0;
            uint8_t *d = row ? d1 : d0;
            ycbcr_store16(_mm_loadu_si128(reinterpret_cast<const __m128i *>(y + x)), first, f, d);
            ycbcr_store16(_mm_loadu_si128(reinterpret_cast<const __m128i *>(y + x + 16)), second, f, d + 48);
        }
    }
    return x;
}

} // namespace

#endif

void write_band_rgb_h2v2(const uint8_t *const *planes, size_t planeStride, uint8_t *dest,
                         size_t destStride, uint32_t width, uint32_t rows, uint8_t flip)
{
    static const bool avx2 = cpu_has_avx2();
    for (uint32_t r = 0; r < rows; r += 2) {
        const uint8_t *cb = planes[1] + (r / 2) * planeStride, *cr = planes[2] + (r / 2) * planeStride;
        const uint32_t pair = r + 1 < rows ? 2 : 1;
        uint32_t x = 0;
#if defined(__x86_64__)
        if (avx2 && pair == 2)
            x = rgb32_h2v2_avx2(planes[0] + r * planeStride, planes[0] + (r + 1) * planeStride, cb, cr,
                                dest + r * destStride, dest + (r + 1) * destStride, width, flip);
#endif
        for (uint32_t k = 0; k < pair; ++k) {
            const uint8_t *y = planes[0] + (r + k) * planeStride;
            uint8_t *d = dest + (r + k) * destStride + 3 * size_t(x);
            for (uint32_t i = x; i < width; ++i, d += 3)
                ycbcr_pixel(y[i], cb[i / 2], cr[i / 2], flip, d);
        }
    }
}

void write_band_rgb(const uint8_t *const *planes, size_t planeStride, uint8_t *dest,
                    size_t destStride, uint32_t width, uint32_t rows, uint8_t flip)
{
    static const bool avx2 = cpu_has_avx2();
    for (uint32_t r = 0; r < rows; ++r) {
        const uint8_t *y = planes[0] + r * planeStride, *cb = planes[1] + r * planeStride,
                      *cr = planes[2] + r * planeStride;
        uint8_t *d = dest + r * destStride;
        uint32_t x = 0;
#if defined(__x86_64__)
        if (avx2) {
            x = rgb16_avx2(y, cb, cr, d, width, flip);
            d += 3 * size_t(x);
        }
#endif
        for (; x < width; ++x, d += 3)
            ycbcr_pixel(y[x], cb[x], cr[x], flip, d);
    }
}

namespace {

inline uint8_t weighted(int32_t sum, double a)
{
    const int16_t v = int16_t(int32_t(double(sum) * a));  // truncated, then 16 bits
    return uint8_t(v < 0 ? 0 : v > 255 ? 255 : v);
}

inline int32_t unweighted(uint8_t sample, double a)
{
    const int32_t c = int32_t(double(sample) / a);  // truncated toward zero
    return c > 255 ? 255 : c;
}

} // namespace

void write_band_opacity(const uint8_t *const *planes, size_t planeStride, uint8_t *dest,
                        size_t destStride, uint32_t width, uint32_t rows,
                        int16_t *const *colourTables)
{
    const int16_t *crR = colourTables[0], *cbB = colourTables[1], *crG = colourTables[2],
                  *cbG = colourTables[3], *yScale = colourTables[4];
    for (uint32_t y = 0; y < rows; ++y) {
        const size_t at = y * planeStride;
        uint8_t *d = dest + y * destStride;
        for (uint32_t x = 0; x < width; ++x, d += 3) {
            const double a = planes[3][at + x] / 255.0;
            if (a == 0) {
                d[0] = d[1] = d[2] = 0;
                continue;
            }
            const int32_t c0 = unweighted(planes[0][at + x], a);
            const int32_t c1 = unweighted(planes[1][at + x], a);
            const int32_t c2 = unweighted(planes[2][at + x], a);
            const int32_t L = yScale[c0];
            d[0] = weighted(L + crR[c2], a);
            d[1] = weighted(L + crG[c2] + cbG[c1], a);
            d[2] = weighted(L + cbB[c1], a);
        }
    }
}

} // namespace kxfpx::jpeg
