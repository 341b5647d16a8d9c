// String and numeric routines: ASCII-only folding, comparison results, float comparisons.
#include <kxfpx/strings.h>

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

namespace {

TEST(Stricmp, ResultIsTheFoldedDifferenceAtTheCountOrTheEnds)
{
    const struct {
        const char *a, *b;
        int32_t count; // -1: stricmp, else strnicmp
        int32_t expected;
    } cases[] = {
        {"abc", "ABD", -1, -1},       {"ab", "AB", -1, 0},         {"abc", "ab", -1, 67},
        {"", "a", -1, -65},           {"", "", -1, 0},             {"[", "{", -1, 91 - 123},
        {"[", "a", -1, 91 - 65},      {"{", "A", -1, 123 - 65},    {"@", "`", -1, 64 - 96},
        {"Z", "z", -1, 0},            {"\xE9", "\xC9", -1, 0xE9 - 0xC9}, {"a\xFF", "A", -1, 255},
        {"ab", "AB", 10, 0},          {"abc", "abd", 2, 0},        {"abc", "abd", 3, -1},
        {"abc", "ABX", 3, 'C' - 'X'}, {"x", "y", 0, 0},            {"abc", "ab", 3, 'C'},
        {"ab", "abc", 5, -'C'},       {"[", "{", 1, 91 - 123},
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
    char other[] = "Kr_FPX";
    strlower(other);
    EXPECT_STREQ(other, "kr_fpx");
}

TEST(Numeric, AbsAndComparisons)
{
    EXPECT_EQ(dabs(-3.5), 3.5);
    EXPECT_FALSE(std::signbit(dabs(-0.0)));
    EXPECT_EQ(hypolen(-5.0, 12.0), 13.0);
    EXPECT_EQ(hypolen(0.0, 0.0), 0.0);
    // The bound is included, either way round; 1.0 - 1.02 is -0.020000000000000018 in double.
    const struct {
        int32_t (*compare)(double, double, double);
        double a, b, tolerance;
        int32_t expected;
    } cases[] = {
        {feqf, 2.0, 1.0, 1.0, 1},     {feqf, 1.0, 2.0, 1.0, 1},         {feqf, 1.0, 2.5, 1.0, 0},
        {feqf, 1.0, 1.02, 0.02, 0},   {feqf, 1.0, 1.02, 0.0200001, 1},  {fabseqf, 1.0, 1.5, 0.5, 1},
        {fabseqf, 1.5, 1.0, 0.5, 1},  {fabseqf, 1.0, 1.5, 0.49, 0},     {fabseqf, -1.0, 1.0, 2.0, 1},
    };
    for (const auto &c : cases)
        EXPECT_EQ(c.compare(c.a, c.b, c.tolerance), c.expected) << c.a << " " << c.b << " " << c.tolerance;
}

} // namespace
