// LoadString's rows, missing identifiers and short buffers.
#include <kxfpx/filter.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

TEST(LoadString, RowsMissingIdentifiersAndShortBuffers)
{
    // The table's first and last rows; the rows between are constants (the profile code reads most of them).
    const struct {
        int16_t id;
        int32_t maximum;
        int16_t result;
        std::string bytes; // the buffer's start; a '~' after the text is a byte not written
    } cases[] = {
        {0, 144, 9, std::string("~Defaults\0~", 11)}, {10, 144, 7, std::string("PROFILE\0~", 9)},
        {-1, 144, 11, std::string("Not Defined\0~", 13)},
        // Missing identifiers read "Not Defined" and return 0; a short buffer gets the prefix without a terminator.
        {11, 144, 0, std::string("Not Defined\0~", 13)},     {-2, 144, 0, std::string("Not Defined\0~", 13)},
        {4, 6, 6, "Driver~"}, {4, 7, 6, std::string("Driver\0~", 8)}, {5081, 4, 0, "Not ~"}, {4, 0, 6, "~"},
        {4, -1, 6, "~"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(std::to_string(c.id) + " " + std::to_string(c.maximum));
        char buffer[160];
        std::memset(buffer, '~', sizeof buffer);
        EXPECT_EQ(LoadString(0x1234, c.id, buffer, c.maximum), c.result);
        EXPECT_EQ(std::string(buffer, c.bytes.size()), c.bytes);
    }
    // 0xFFFF and -1 are the same identifier: the table's last row.
    EXPECT_EQ(LoadString(0, static_cast<int16_t>(0xFFFF), nullptr, 0), 11);
}

} // namespace
