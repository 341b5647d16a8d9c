// The property-set steps shared by kxfpx and iGetFileInfo: the data-object
// walk, the Image Contents facts, opening the resolution storage with its
// two fallbacks, and the resolution's colour and size properties.
#include "fpx/image_walk.h"

#include "fpx/fpx_format.h"
#include "fpx/owners.h"
#include "fpx/property_values.h"
#include "io/cfb_storage.h"

#include <kxfpx/storage.h>
#include <kxfpx/strings.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace kxfpx::fpx {

namespace {

// The walk tries the indices from the highest down, and each index that
// names no stream costs a failed directory look-up (some 40 us): a hostile
// highest index (two thousand million) would keep it going for hours. So the
// root's children are listed once and only the indices whose name a look-up
// can find are tried, in the same order: the same data object is chosen,
// however high the index. Only when the root cannot be listed (no memory)
// does the walk try every index, from 9999 at most.
constexpr int32_t kMaxDataObjectWalk = 9999;

// The data-object indices to try, highest first: those of the root's
// children named as the walk names them (compared as the look-up compares).
std::vector<int32_t> data_object_indices(QorFile root, int32_t highest)
{
    std::vector<int32_t> indices;
    std::vector<std::string> names;
    if (!io::list_children(root, names)) {
        for (int32_t i = std::min(highest, kMaxDataObjectWalk); i >= 1; --i)
            indices.push_back(i);
        return indices;
    }
    for (const std::string &name : names) {
        const size_t digits = name.find_last_not_of("0123456789") + 1;
        if (digits >= name.size() || name.size() - digits > 10)
            continue;
        const long long value = std::strtoll(name.c_str() + digits, nullptr, 10);
        if (value < 1 || value > highest)
            continue;
        const auto i = static_cast<int32_t>(value);
        if (stricmp(NumberedName(kDataObjectFormat, i).text, name.c_str()) == 0)
            indices.push_back(i);
    }
    std::sort(indices.rbegin(), indices.rend());
    indices.erase(std::unique(indices.begin(), indices.end()), indices.end());
    return indices;
}

constexpr int32_t kDefaultWidth = 640;
constexpr int32_t kDefaultHeight = 480;
// A fallback resolution is the last halving of the larger side still above
// this size (one tile).
constexpr int32_t kFallbackSideLimit = 63;
// After 32 halvings every 32-bit value is 0.
constexpr int32_t kHalvingsToZero = 32;

uint32_t per_resolution(uint32_t base, int32_t resolution)
{
    return (static_cast<uint32_t>(resolution) << 16) | base;
}

} // namespace

NumberedName::NumberedName(const char *format, int32_t index)
{
    std::snprintf(text, sizeof text, format, index);
}

int32_t halved(int32_t value, int32_t times)
{
    for (int32_t k = 0; k < std::min(times, kHalvingsToZero); ++k)
        value /= 2;
    return value;
}

int32_t marked_data_object(QorFile root, int32_t highest)
{
    for (const int32_t i : data_object_indices(root, highest)) {
        StreamOwner object(qorOpenStream(root, NumberedName(kDataObjectFormat, i).text));
        if (!object)
            continue;
        const uint32_t ids[] = {kPidDataObjectFlag};
        uint32_t pos[1];
        FindProperties(object.get(), 1, ids, pos);
        int16_t flag = 0;
        if (pos[0] != 0)
            (void)read_short_at(object.get(), pos[0], flag);
        if (flag != 0)
            return i;
    }
    return 0;
}

ContentsFacts read_contents_facts(QorFile contents)
{
    enum { kCount, kWidth, kHeight, kMaxTable, kIds };
    const uint32_t ids[kIds] = {kPidResolutionCount, kPidFullWidth, kPidFullHeight,
                                kPidMaxJpegTableIndex};
    uint32_t pos[kIds];
    FindProperties(contents, kIds, ids, pos);

    ContentsFacts facts;
    int32_t count = 1;
    if (pos[kCount] != 0 && read_long_at(contents, pos[kCount], count))
        facts.highest = static_cast<int32_t>(static_cast<uint32_t>(count) - 1u);
    facts.width = kDefaultWidth;
    facts.height = kDefaultHeight;
    if (pos[kWidth] != 0 && pos[kHeight] != 0) {
        // The width is used only together with the height.
        int32_t w = 0, h = 0;
        (void)read_long_at(contents, pos[kWidth], w);
        (void)read_long_at(contents, pos[kHeight], h);
        facts.width = w;
        facts.height = h;
    }
    facts.maxTablePos = pos[kMaxTable];
    return facts;
}

QorFile open_resolution(QorFile store, int32_t index, int32_t width, int32_t height, int32_t &opened)
{
    opened = index;
    if (QorFile res = qorOpenStorage(store, NumberedName(kResolutionFormat, index).text))
        return res;
    int32_t fallback = 0;
    for (int32_t side = std::max(width, height); side / 2 > kFallbackSideLimit; side /= 2)
        ++fallback;
    for (int32_t tried : {fallback, fallback + 1}) {
        opened = tried;
        if (QorFile res = qorOpenStorage(store, NumberedName(kResolutionFormat, tried).text))
            return res;
    }
    return nullptr;
}

ResolutionFacts read_resolution_facts(QorFile contents, int32_t resolution, SubimageInfo &info)
{
    enum { kColour, kWidth, kHeight, kIds };
    const uint32_t ids[kIds] = {per_resolution(kPidResColourBase, resolution),
                                per_resolution(kPidResWidthBase, resolution),
                                per_resolution(kPidResHeightBase, resolution)};
    uint32_t pos[kIds];
    FindProperties(contents, kIds, ids, pos);

    ResolutionFacts facts;
    if (pos[kColour] != 0) {
        facts.hasColour = true;
        int32_t head[2] = {0, 0};
        if (seek_to(contents, pos[kColour] + kValueCountSize))
            (void)qorReadLong(contents, head, 2);
        facts.colourCount = head[0];
        facts.channelCount = std::min(head[1], kMaxChannels);
        info.colourCount = facts.colourCount;
        info.channelCount = facts.channelCount;
        for (int32_t c = 0; c < facts.channelCount; ++c)
            (void)qorReadStruct(contents, "2S", &info.channelColour[c], 1);
    }
    if (pos[kWidth] != 0 && pos[kHeight] != 0) {
        facts.hasSize = true;
        (void)read_long_at(contents, pos[kWidth], facts.width);
        (void)read_long_at(contents, pos[kHeight], facts.height);
    }
    return facts;
}

} // namespace kxfpx::fpx
