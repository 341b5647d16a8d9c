// String and numeric routines: ASCII-only folding, comparison results, float comparisons.
#include <kxfpx/strings.h>

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

namespace {

// The folded difference at the first mismatch, the count or the end; only a-z/A-Z fold.
TEST(Stricmp, ResultIsTheFoldedDifferenceAtTheCountOrTheEnds)
{
    const struct {
        const char *a, *b;
        int32_t count; // -1: stricmp, else strnicmp
        int32_t expected;
    } cases[] = {
        {"abc", "ABD", -1, -1},            {"abc", "ab", -1, 67},             {"", "a", -1, -65},
        {"", "", -1, 0},                   {"[", "{", -1, 91 - 123},          {"@", "`", -1, 64 - 96},
        {"Z", "z", -1, 0},                 {"a\xFF", "A", -1, 255},           {"\xE9", "\xC9", -1, 0xE9 - 0xC9},
        {"abc", "abd", 2, 0},              {"abc", "ABX", 3, 'C' - 'X'},      {"x", "y", 0, 0},
        {"ab", "abc", 5, -'C'},            {"ab", "AB", 10, 0},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(std::string(c.a) + " / " + c.b + " / " + std::to_string(c.count));
        // Heap copies of exactly the text and its NUL: the sanitizer build reports reads beyond.
        std::vector<char> a(c.a, c.a + std::strlen(c.a) + 1), b(c.b, c.b + std::strlen(c.b) + 1);
        EXPECT_EQ(c.count < 0 ? stricmp(a.data(), b.data()) : strnicmp(a.data(), b.data(), c.count), c.expected);
    }
}

TEST(CaseConversion, OnlyAsciiLettersChange)
{
    char upper[] = "az AZ 09 [`{@] \xE9\xFF";
    strupr(upper);
    EXPECT_STREQ(upper, "AZ AZ 09 [`{@] \xE9\xFF");
    char lower[] = "az AZ 09 [`{@] \xC9\xDF";
    strlwr(lower);
    EXPECT_STREQ(lower, "az az 09 [`{@] \xC9\xDF");
}

// The tolerance bound is included either way round; 1.0 - 1.02 is -0.020000000000000018 in double.
TEST(Numeric, ToleranceComparisons)
{
    EXPECT_FALSE(std::signbit(dabs(-0.0)));
    const struct {
        int32_t (*compare)(double, double, double);
        double a, b, tolerance;
        int32_t expected;
    } cases[] = {
        {feqf, 2.0, 1.0, 1.0, 1},    {feqf, 1.0, 2.0, 1.0, 1},    {feqf, 1.0, 1.02, 0.02, 0},
        {fabseqf, 1.0, 1.5, 0.5, 1}, {fabseqf, 1.5, 1.0, 0.5, 1}, {fabseqf, 1.0, 1.5, 0.49, 0},
    };
    for (const auto &c : cases)
        EXPECT_EQ(c.compare(c.a, c.b, c.tolerance), c.expected) << c.a << " " << c.b << " " << c.tolerance;
}

} // namespace
