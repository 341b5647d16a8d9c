// LoadString's rows, missing identifiers and short buffers; the exported data's values.
#include <kxfpx/filter.h>
#include <kxfpx/strings.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

TEST(LoadString, RowsMissingIdentifiersAndShortBuffers)
{
    const struct {
        int16_t id;
        int32_t maximum;
        int16_t result;
        std::string bytes; // the buffer's start; '~' is a byte not written
    } cases[] = {
        {0, 144, 9, std::string("~Defaults\0~", 11)},   {1, 144, 5, std::string("~Mode\0~", 7)},
        {2, 144, 7, std::string("~Header\0~", 9)},      {3, 144, 13, std::string("~Default Mode\0~", 15)},
        {4, 144, 6, std::string("Driver\0~", 8)},       {5, 144, 16, std::string("ColorTableSource\0~", 18)},
        {6, 144, 15, std::string("DefaultFileSpec\0~", 17)}, {7, 144, 4, std::string("Font\0~", 6)},
        {8, 144, 5, std::string("Color\0~", 7)},        {9, 144, 4, std::string("FILE\0~", 6)},
        {10, 144, 7, std::string("PROFILE\0~", 9)},     {-1, 144, 11, std::string("Not Defined\0~", 13)},
        // Missing identifiers read "Not Defined" and return 0; a short buffer gets the prefix without a terminator.
        {5081, 144, 0, std::string("Not Defined\0~", 13)}, {11, 144, 0, std::string("Not Defined\0~", 13)},
        {-2, 144, 0, std::string("Not Defined\0~", 13)},   {4, 6, 6, "Driver~"},
        {4, 7, 6, std::string("Driver\0~", 8)},            {5081, 4, 0, "Not ~"},
        {4, 0, 6, "~"},                                    {4, -1, 6, "~"},
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

TEST(ExportedData, Values)
{
    EXPECT_EQ(nTitle, 5117);
    EXPECT_EQ(FileType, 1);
    EXPECT_EQ(IM_FilterVersion, 1);
    ASSERT_NE(version, nullptr);
    EXPECT_STREQ(version, "");
    EXPECT_STREQ(version + 1, "VKT_VER=8.5.8.210.2512230113");
    EXPECT_STREQ(qorxxxx_str, "8.4.0");
    EXPECT_EQ(sizeof qorxxxx_str, 32u);
    EXPECT_EQ(sizeof szIM_Filter, 7u);
    EXPECT_EQ(stricmp(szIM_Filter, "kr_fpx"), 0);
    EXPECT_EQ(sizeof import_szDLLName, 260u);
    EXPECT_EQ(hDLLModule | lpCommon | lpDlgInterp | hAppAnchorBlock, 0u);
    EXPECT_EQ(QORGetFilterVersion(), 0x08000004u);
    EXPECT_EQ(GetOptionsSize(), 56);
}

} // namespace
