// String and numeric routines: ASCII-only folding, comparison results at the
// first difference and at the ends of the texts, the float comparisons.
#include <kxfpx/strings.h>

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <memory>
#include <string>

namespace {

// A heap copy of exactly the text and its terminator, so that the sanitizer
// build reports any read beyond the end.
std::unique_ptr<char[]> exact(const char *text)
{
    const size_t n = std::strlen(text) + 1;
    std::unique_ptr<char[]> copy(new char[n]);
    std::memcpy(copy.get(), text, n);
    return copy;
}

struct CompareCase {
    const char *a;
    const char *b;
    int32_t expected;
};

TEST(Stricmp, ResultIsTheFoldedDifference)
{
    const CompareCase cases[] = {
        {"abc", "ABD", -1},        // 'C' - 'D'
        {"ab", "AB", 0},
        {"abc", "ab", 67},         // 'C' - end of text
        {"", "a", -65},            // end - 'A'
        {"", "", 0},
        {"[", "{", 91 - 123},      // only letters fold
        {"[", "a", 91 - 65},
        {"{", "A", 123 - 65},
        {"@", "`", 64 - 96},       // the neighbours of the letter ranges
        {"Z", "z", 0},
        {"\xE9", "\xC9", 0xE9 - 0xC9}, // bytes above 127 compare by value
        {"a\xFF", "A", 255},
        {"MiXeD", "mIxEd", 0},
    };
    for (const CompareCase &c : cases) {
        SCOPED_TRACE(std::string(c.a) + " / " + c.b);
        EXPECT_EQ(stricmp(exact(c.a).get(), exact(c.b).get()), c.expected);
    }
}

TEST(Strnicmp, StopsAtTheCountOrTheEnds)
{
    struct Case {
        const char *a;
        const char *b;
        int32_t count;
        int32_t expected;
    };
    const Case cases[] = {
        {"ab", "AB", 10, 0},       // reads nothing beyond the terminators
        {"abc", "abd", 2, 0},
        {"abc", "abd", 3, -1},
        {"abc", "ABX", 3, 'C' - 'X'},
        {"x", "y", 0, 0},
        {"abc", "ab", 3, 'C'},
        {"ab", "abc", 5, -'C'},
        {"[", "{", 1, 91 - 123},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(std::string(c.a) + " / " + c.b + " / " + std::to_string(c.count));
        EXPECT_EQ(strnicmp(exact(c.a).get(), exact(c.b).get(), c.count), c.expected);
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

    char empty[] = "";
    strupr(empty);
    EXPECT_STREQ(empty, "");
}

TEST(Numeric, AbsAndComparisons)
{
    EXPECT_EQ(dabs(-3.5), 3.5);
    EXPECT_EQ(dabs(2.0), 2.0);
    EXPECT_FALSE(std::signbit(dabs(-0.0)));
    EXPECT_EQ(dabs(0.0), 0.0);

    EXPECT_EQ(feqf(2.0, 1.0, 1.0), 1);
    EXPECT_EQ(feqf(1.0, 2.0, 1.0), 1);
    EXPECT_EQ(feqf(1.0, 2.5, 1.0), 0);
    // 1.0 - 1.02 is -0.020000000000000018 in double: just outside 0.02.
    EXPECT_EQ(feqf(1.0, 1.02, 0.02), 0);
    EXPECT_EQ(feqf(1.0, 1.02, 0.0200001), 1);

    EXPECT_EQ(fabseqf(1.0, 1.5, 0.5), 1);
    EXPECT_EQ(fabseqf(1.5, 1.0, 0.5), 1);
    EXPECT_EQ(fabseqf(1.0, 1.5, 0.49), 0);
    EXPECT_EQ(fabseqf(-1.0, 1.0, 2.0), 1);

    EXPECT_EQ(hypolen(3.0, 4.0), 5.0);
    EXPECT_EQ(hypolen(-5.0, 12.0), 13.0);
    EXPECT_EQ(hypolen(0.0, 0.0), 0.0);
}

} // namespace
