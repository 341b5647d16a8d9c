// LoadString and the exported data: every row of the string table, the
// "Not Defined" answer, copies cut by short buffers, and the values a host
// reads from the library's data.
#include <kxfpx/filter.h>
#include <kxfpx/strings.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

constexpr char kFill = 0x7F;

struct Loaded {
    int16_t result;
    char buffer[160];
};

Loaded load(int16_t id, int32_t maximum)
{
    Loaded out;
    std::memset(out.buffer, kFill, sizeof out.buffer);
    out.result = LoadString(0x1234, id, out.buffer, maximum);
    return out;
}

TEST(LoadString, EveryRow)
{
    const struct {
        int16_t id;
        const char *text;
    } rows[] = {
        {0, "~Defaults"},  {1, "~Mode"}, {2, "~Header"},         {3, "~Default Mode"},
        {4, "Driver"},     {5, "ColorTableSource"}, {6, "DefaultFileSpec"}, {7, "Font"},
        {8, "Color"},      {9, "FILE"},  {10, "PROFILE"},        {-1, "Not Defined"},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.id);
        const Loaded l = load(row.id, 144);
        EXPECT_EQ(l.result, static_cast<int16_t>(std::strlen(row.text)));
        EXPECT_STREQ(l.buffer, row.text);
        EXPECT_EQ(l.buffer[std::strlen(row.text) + 1], kFill);
    }
}

TEST(LoadString, MissingIdentifiersReadNotDefinedAndReturnZero)
{
    for (int16_t id : {int16_t(5081), int16_t(11), int16_t(-2), int16_t(0x7FFF)}) {
        SCOPED_TRACE(id);
        const Loaded l = load(id, 144);
        EXPECT_EQ(l.result, 0);
        EXPECT_STREQ(l.buffer, "Not Defined");
    }
    // 0xFFFF and -1 are the same identifier: the table's last row.
    EXPECT_EQ(LoadString(0, static_cast<int16_t>(0xFFFF), nullptr, 0), 11);
}

TEST(LoadString, ShortBuffersGetThePrefixWithoutTerminator)
{
    Loaded l = load(4, 3);   // "Driver"
    EXPECT_EQ(l.result, 6);
    EXPECT_EQ(std::string(l.buffer, 4), std::string("Dri") + kFill);

    l = load(4, 6);          // exactly the length: still no terminator
    EXPECT_EQ(l.result, 6);
    EXPECT_EQ(std::string(l.buffer, 7), std::string("Driver") + kFill);

    l = load(4, 7);          // one more: the whole text with its terminator
    EXPECT_EQ(std::string(l.buffer, 8), std::string("Driver\0", 7) + kFill);

    l = load(5081, 4);
    EXPECT_EQ(l.result, 0);
    EXPECT_EQ(std::string(l.buffer, 5), std::string("Not ") + kFill);

    for (int32_t maximum : {0, -1}) {
        l = load(4, maximum);
        EXPECT_EQ(l.result, 6);
        EXPECT_EQ(l.buffer[0], kFill);
    }
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
    EXPECT_EQ(hDLLModule, 0u);
    EXPECT_EQ(lpCommon, 0u);
    EXPECT_EQ(lpDlgInterp, 0u);
    EXPECT_EQ(hAppAnchorBlock, 0u);
    EXPECT_EQ(QORGetFilterVersion(), 0x08000004u);
    EXPECT_EQ(GetOptionsSize(), 56);
}

TEST(ExportTable, RowsThroughFltLoadPointers)
{
    SharedLib lib{};
    fltLoadPointers(&lib);
    ASSERT_EQ(lib.rowCount, 8);
    ASSERT_NE(lib.rows, nullptr);
    EXPECT_EQ(lib.rows[0].entry, reinterpret_cast<void *>(&ImportFile));
    EXPECT_EQ(lib.rows[4].entry, reinterpret_cast<void *>(&xEscapeSetup));
    EXPECT_EQ(lib.rows[7].entry, static_cast<void *>(import_szDLLName));
    fltLoadPointers(nullptr);
    dummy_function();
}

} // namespace
