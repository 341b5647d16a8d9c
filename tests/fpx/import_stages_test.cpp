// The import driver's own stages: FindProperties over property sets made by
// fpxwrite (absent, repeated and hostile entries), the filter kernel of a
// filtering value, and the data-object walk's bound.
#include "fpx/import_stages.h"
#include "fpx/image_walk.h"
#include "fpx/subimage.h"

#include "propset.h"

#include <kxfpx/memory.h>
#include <kxfpx/qorfile.h>

#include <gtest/gtest.h>

#include <cstring>

using namespace kxfpx::fpx;

namespace {

// A memory QorFile over `bytes`, with the end marker the memory reader
// expects after the data.
class MemoryFile {
public:
    explicit MemoryFile(std::vector<uint8_t> bytes)
    {
        bytes.push_back(0xFF);
        handle_ = GlobalAlloc(KX_GHND, uint32_t(bytes.size()));
        data_ = GlobalLock(handle_);
        std::memcpy(data_, bytes.data(), bytes.size());
        QorOpenDesc desc{};
        desc.blockPtr = &data_;
        desc.blockSize = int32_t(bytes.size());
        file_ = qorOpen(nullptr, &desc, QOR_READ);
    }
    ~MemoryFile()
    {
        if (file_)
            qorClose(file_);
        GlobalUnlock(handle_);
        GlobalFree(handle_);
    }
    QorFile get() const { return file_; }

private:
    HGLOBAL handle_;
    void *data_;
    QorFile file_ = nullptr;
};

uint32_t le32(const std::vector<uint8_t> &b, size_t at)
{
    uint32_t v;
    std::memcpy(&v, b.data() + at, 4);
    return v;
}

} // namespace

TEST(FindProperties, PositionsOfPresentAbsentAndRepeatedProperties)
{
    fpxw::PropertySet set;
    set.add_ui4(0x10, 111);
    set.add_r4(0x20, 2.5f);
    set.add_ui4(0x10, 333);  // a repeated identifier: the last one counts
    const std::vector<uint8_t> bytes = set.serialize(kFmtidGlobalInfo);
    MemoryFile file(bytes);
    ASSERT_NE(file.get(), nullptr);
    const uint32_t ids[] = {0x10, 0x30, 0x20};
    uint32_t pos[3] = {7, 7, 7};
    FindProperties(file.get(), 3, ids, pos);
    EXPECT_EQ(pos[1], 0u);
    ASSERT_NE(pos[0], 0u);
    EXPECT_EQ(le32(bytes, pos[0]), 333u);
    float v;
    std::memcpy(&v, bytes.data() + pos[2], 4);
    EXPECT_EQ(v, 2.5f);
}

TEST(FindProperties, AHostileCountStopsAtTheStreamsEnd)
{
    fpxw::PropertySet set;
    set.add_ui4(0x10, 1);
    std::vector<uint8_t> bytes = set.serialize(kFmtidGlobalInfo);
    const uint32_t section = le32(bytes, 44);
    const uint32_t huge = 0x7FFFFFFF;
    std::memcpy(bytes.data() + section + 4, &huge, 4);
    MemoryFile file(bytes);
    const uint32_t ids[] = {0x10, 0x99};
    uint32_t pos[2];
    FindProperties(file.get(), 2, ids, pos);
    EXPECT_NE(pos[0], 0u);
    EXPECT_EQ(pos[1], 0u);
    // A stream too short for the section offset finds nothing.
    MemoryFile tiny(std::vector<uint8_t>(20, 1));
    FindProperties(tiny.get(), 2, ids, pos);
    EXPECT_EQ(pos[0], 0u);
}

TEST(FilterKernel, BlurAndSharpenWeights)
{
    struct Case {
        float filtering;
        int32_t size;
        float centre, ring1, ring2, ring3;
    } cases[] = {
        {-7.0f, 5, 3.6f, 1.0f, 0.6f, 0.0f},      // blur: 5 x 5
        {3.0f, 3, 12.4f, -1.0f, 0.0f, 0.0f},     // sharpen: 3 x 3, centre + 8
        {-2.0f, 3, 4.6f, 1.0f, 0.0f, 0.0f},
        {-40.0f, 7, 0.0f, 1.0f, 1.5f, 3.0f},     // capped at 25
        {0.0f, 3, 13.0f, -1.0f, 0.0f, 0.0f},     // 0 sharpens
    };
    for (const Case &c : cases) {
        SubimageInfo info{};
        set_subimage_defaults(info);
        info.filteringValue = c.filtering;
        build_kernel(info);
        EXPECT_EQ(info.kernelSize, c.size) << c.filtering;
        EXPECT_FLOAT_EQ(info.kernel[24], c.centre) << c.filtering;
        EXPECT_FLOAT_EQ(info.kernel[23], c.ring1) << c.filtering;
        EXPECT_FLOAT_EQ(info.kernel[8], c.ring2) << c.filtering;
        EXPECT_FLOAT_EQ(info.kernel[0], c.ring3) << c.filtering;
        float sum = 0;
        for (int k = 0; k < 49; ++k)
            if (k != 24)
                sum += info.kernel[k];
        EXPECT_FLOAT_EQ(info.kernelSum, info.kernel[24] + sum) << c.filtering;
    }
}

TEST(PictureExtent, FillsTheRegionAndAspectAndScalesTranslations)
{
    SubimageInfo info{};
    set_subimage_defaults(info);
    info.affineMatrix[3] = 0.5f;
    const CoordRect rect = picture_extent(info, 100, 40);
    EXPECT_EQ(info.aspectRatio, 2.5f);
    EXPECT_EQ(info.regionOfInterest[2], 2.5f);
    EXPECT_EQ(info.affineMatrix[3], 20.0f);
    EXPECT_EQ(rect.x2, 100);
    EXPECT_EQ(rect.y2, 40);
    // A zero height gives no undefined conversion: the sides saturate or vanish.
    SubimageInfo flat{};
    set_subimage_defaults(flat);
    (void)picture_extent(flat, 100, 0);
    EXPECT_EQ(halved(-7, 1), -3);
    EXPECT_EQ(halved(1 << 30, 2000000000), 0);
}
