// InfoPut: each id's rule, the record's size and the set-flags.
#include <kxfpx/codes.h>
#include <kxfpx/filter.h>

#include <gtest/gtest.h>

#include <string>

TEST(InfoPut, RulesSizesAndFlags)
{
    const struct {
        int32_t size, id;
        double real;   // ids 1 and 2
        int32_t value; // the others
        int32_t code;
        uint32_t flags;
    } cases[] = {
        {20, 3, 0, 5, KX_OK, 0},         // fits, but no flags word
        {20, 4, 0, 5, KX_INFO_FIELD, 0}, // past the record
        {60, 8, 0, 2, KX_INFO_VALUE, 0},  {60, 8, 0, 1, KX_OK, 0x80},    {60, 1, 0.0, 0, KX_INFO_VALUE, 0},
        {60, 2, 0.5, 0, KX_OK, 0x2},      {60, 10, 0, 1, KX_INFO_FIELD, 0}, {60, 0, 0, 1, KX_INFO_FIELD, 0},
        {60, 7, 0, 0, KX_INFO_VALUE, 0},  {57, 9, 0, 3, KX_OK, 0x100},   {56, 9, 0, 3, KX_OK, 0},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(std::to_string(c.size) + " " + std::to_string(c.id));
        FileInfo info{};
        info.size = c.size;
        const void *value = (c.id == 1 || c.id == 2) ? static_cast<const void *>(&c.real) : &c.value;
        EXPECT_EQ(InfoPut(&info, c.id, value), c.code);
        EXPECT_EQ(info.setFlags, c.flags);
    }
}
