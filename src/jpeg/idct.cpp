// IDCT8x8Block: the integer Loeffler-Ligtenberg-Moschytz inverse DCT with
// 13-bit constants (T.81 A.3.3 in the form of libjpeg's "islow"), rows first
// with two extra bits between the passes. All arithmetic is signed 32-bit
// with wrap-around (done here in unsigned arithmetic), results stored as 16
// bits without clamping; the SIMD versions (idct_simd.cpp) compute the same
// sums in another order, which wrap-around arithmetic makes identical.
#include "jpeg/idct.h"

#include "jpeg/jpeg_internal.h"

namespace kxfpx::jpeg {

namespace {

// 13-bit constants: value times 8192, rounded.
constexpr uint32_t C1 = 2446;    // 0.298631336
constexpr uint32_t C2 = 3196;    // 0.390180644
constexpr uint32_t C3 = 4433;    // 0.541196100
constexpr uint32_t C4 = 6270;    // 0.765366865
constexpr uint32_t C5 = 7373;    // 0.899976223
constexpr uint32_t C6 = 9633;    // 1.175875602
constexpr uint32_t C7 = 12299;   // 1.501321110
constexpr uint32_t C8 = 15137;   // 1.847759065
constexpr uint32_t C9 = 16069;   // 1.961570560
constexpr uint32_t C10 = 16819;  // 2.053119869
constexpr uint32_t C11 = 20995;  // 2.562915447
constexpr uint32_t C12 = 25172;  // 3.072711026

constexpr int kPass1Shift = 11;  // keeps two extra bits
constexpr int kPass2Shift = 18;

// One 1-D pass on in[0], in[stride], ... in[7 * stride]; sums s0..s7 mod 2^32.
inline void pass(const int16_t *in, int stride, uint32_t s[8])
{
    const uint32_t i0 = uint32_t(int32_t(in[0])), i1 = uint32_t(int32_t(in[stride])),
                   i2 = uint32_t(int32_t(in[2 * stride])), i3 = uint32_t(int32_t(in[3 * stride])),
                   i4 = uint32_t(int32_t(in[4 * stride])), i5 = uint32_t(int32_t(in[5 * stride])),
                   i6 = uint32_t(int32_t(in[6 * stride])), i7 = uint32_t(int32_t(in[7 * stride]));
    // Even part.
    const uint32_t z = (i2 + i6) * C3;
    const uint32_t e2 = z - i6 * C8, e3 = z + i2 * C4;
    const uint32_t e0 = (i0 + i4) << 13, e1 = (i0 - i4) << 13;
    const uint32_t t10 = e0 + e3, t13 = e0 - e3, t11 = e1 + e2, t12 = e1 - e2;
    // Odd part.
    const uint32_t a = i7 + i1, b = i5 + i3, c = i7 + i3, d = i5 + i1;
    const uint32_t m = (c + d) * C6;
    const uint32_t a2 = a * (0u - C5), b2 = b * (0u - C11);
    const uint32_t c2 = c * (0u - C9) + m, d2 = d * (0u - C2) + m;
    const uint32_t o0 = i7 * C1 + a2 + c2, o1 = i5 * C10 + b2 + d2;
    const uint32_t o2 = i3 * C12 + b2 + c2, o3 = i1 * C7 + a2 + d2;
    s[0] = t10 + o3;
    s[7] = t10 - o3;
    s[1] = t11 + o2;
    s[6] = t11 - o2;
    s[2] = t12 + o1;
    s[5] = t12 - o1;
    s[3] = t13 + o0;
    s[4] = t13 - o0;
}

inline int16_t descale(uint32_t s, uint32_t round, int shift)
{
    return int16_t(int32_t(s + round) >> shift);
}

using IdctFn = void (*)(int16_t *);

IdctFn choose_idct()
{
    return cpu_has_avx2() ? idct_avx2 : idct_sse2;
}

} // namespace

void idct_scalar(int16_t *block)
{
    uint32_t s[8];
    for (int r = 0; r < 8; ++r) {
        int16_t *row = block + 8 * r;
        if ((row[1] | row[2] | row[3] | row[4] | row[5] | row[6] | row[7]) == 0) {
            // Only the first coefficient: i0 * 4 in all eight places.
            const int16_t dc = int16_t(uint32_t(int32_t(row[0])) * 4u);
            for (int x = 0; x < 8; ++x)
                row[x] = dc;
            continue;
        }
        pass(row, 1, s);
        for (int x = 0; x < 8; ++x)
            row[x] = descale(s[x], 1u << (kPass1Shift - 1), kPass1Shift);
    }
    for (int x = 0; x < 8; ++x) {
        int16_t *col = block + x;
        if ((col[8] | col[16] | col[24] | col[32] | col[40] | col[48] | col[56]) == 0) {
            // The general sums reduce to i0 << 13 in every place.
            const int16_t v = descale(uint32_t(int32_t(col[0])) << 13, 1u << (kPass2Shift - 1),
                                      kPass2Shift);
            for (int y = 0; y < 8; ++y)
                col[8 * y] = v;
            continue;
        }
        pass(col, 8, s);
        for (int y = 0; y < 8; ++y)
            col[8 * y] = descale(s[y], 1u << (kPass2Shift - 1), kPass2Shift);
    }
}

void IDCT8x8Block(int16_t *block)
{
    static const IdctFn fn = choose_idct();
    fn(block);
}

} // namespace kxfpx::jpeg
