// FindProperties over property sets made by fpxwrite (absent, repeated, hostile) and the picture extent.
#include "fpx/import_stages.h"
#include "fpx/image_walk.h"
#include "fpx/subimage.h"

#include "io/io_support.h"
#include "oracles/fpx_parse.h"
#include "propset.h"

using namespace kxfpx::fpx;
using fpxtest::le32;
using iotest::Source;
using iotest::SourceKind;

TEST(FindProperties, PositionsOfPresentAbsentAndRepeatedProperties)
{
    fpxw::PropertySet set;
    set.add_ui4(0x10, 111);
    set.add_r4(0x20, 2.5f);
    set.add_ui4(0x10, 333);  // a repeated identifier: the last one counts
    const std::vector<uint8_t> bytes = set.serialize(kFmtidGlobalInfo);
    Source file(SourceKind::Memory, bytes);
    ASSERT_NE(file.file, nullptr);
    const uint32_t ids[] = {0x10, 0x30, 0x20};
    uint32_t pos[3] = {7, 7, 7};
    FindProperties(file.file, 3, ids, pos);
    EXPECT_EQ(pos[1], 0u);
    ASSERT_NE(pos[0], 0u);
    EXPECT_EQ(le32(bytes, pos[0]), 333u);
    EXPECT_EQ(fpxtest::lef32(bytes, pos[2]), 2.5f);
}

TEST(FindProperties, AHostileCountStopsAtTheStreamsEnd)
{
    fpxw::PropertySet set;
    set.add_ui4(0x10, 1);
    std::vector<uint8_t> bytes = set.serialize(kFmtidGlobalInfo);
    const uint32_t huge = 0x7FFFFFFF;
    std::memcpy(bytes.data() + le32(bytes, 44) + 4, &huge, 4);
    const uint32_t ids[] = {0x10, 0x99};
    uint32_t pos[2];
    FindProperties(Source(SourceKind::Memory, bytes).file, 2, ids, pos);
    EXPECT_NE(pos[0], 0u);
    EXPECT_EQ(pos[1], 0u);
    // A stream too short for the section offset finds nothing.
    FindProperties(Source(SourceKind::Memory, std::vector<uint8_t>(20, 1)).file, 2, ids, pos);
    EXPECT_EQ(pos[0], 0u);
}

// The extent itself shows in the import's extent calls; here a zero height converts nothing undefined (the
// sanitizer build watches) and halving truncates toward zero and survives any count.
TEST(PictureExtent, ZeroHeightAndHalving)
{
    SubimageInfo flat{};
    set_subimage_defaults(flat);
    (void)picture_extent(flat, 100, 0);
    EXPECT_EQ(halved(-7, 1), -3);
    EXPECT_EQ(halved(1 << 30, 2000000000), 0);
}
