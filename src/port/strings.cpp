// ASCII-only case conversion and case-insensitive comparison, and the small
// floating-point comparisons the filter's code uses. Only the letters a-z and
// A-Z fold; every other byte, including those above 127, compares by value.
#include <kxfpx/strings.h>

#include <cmath>
#include <cstdint>

namespace {

inline unsigned fold_upper(unsigned char c) { return (c >= 'a' && c <= 'z') ? c - 32u : c; }

// Compares at most `limit` bytes after folding a-z to A-Z: the first
// difference decides (fold(a) - fold(b), the end of a string counting as 0);
// 0 when both strings end together or the limit is reached.
int32_t compare_folded(const char *a, const char *b, uint64_t limit)
{
    const unsigned char *pa = reinterpret_cast<const unsigned char *>(a);
    const unsigned char *pb = reinterpret_cast<const unsigned char *>(b);
    for (uint64_t n = 0; n < limit; ++n) {
        const int ca = static_cast<int>(fold_upper(pa[n]));
        const int cb = static_cast<int>(fold_upper(pb[n]));
        if (ca != cb)
            return ca - cb;
        if (ca == 0)
            return 0;
    }
    return 0;
}

} // namespace

extern "C" {

KX_API void strupr(char *text)
{
    for (; *text; ++text)
        *text = static_cast<char>(fold_upper(static_cast<unsigned char>(*text)));
}

KX_API void strlwr(char *text)
{
    for (; *text; ++text) {
        if (*text >= 'A' && *text <= 'Z')
            *text = static_cast<char>(*text + 32);
    }
}

KX_API void strlower(char *text) { strlwr(text); }

KX_API int32_t stricmp(const char *a, const char *b) { return compare_folded(a, b, UINT64_MAX); }

KX_API int32_t strnicmp(const char *a, const char *b, int32_t count)
{
    // The count is an unsigned byte budget; 0 compares nothing.
    return compare_folded(a, b, static_cast<uint32_t>(count));
}

KX_API double dabs(double x) { return x > 0 ? x : -x; }

KX_API int32_t feqf(double a, double b, double tolerance)
{
    const double d = a - b;
    return (-tolerance <= d && d <= tolerance) ? 1 : 0;
}

KX_API int32_t fabseqf(double a, double b, double tolerance)
{
    const double d = a - b;
    const double magnitude = d < 0 ? b - a : d;
    return magnitude <= tolerance ? 1 : 0;
}

KX_API double hypolen(double x, double y) { return std::sqrt(x * x + y * y); }

} // extern "C"
