// iGetFileInfo: walks Global Info, the marked data object, Image Contents
// and the highest resolution (with the import's two fallbacks) and puts the
// width, height and bits per pixel into the host's information record.
#include "fpx/file_attributes.h"

#include "fpx/fpx_format.h"
#include "fpx/image_walk.h"
#include "fpx/owners.h"
#include "fpx/property_values.h"
#include "fpx/subimage.h"

#include <kxfpx/codes.h>
#include <kxfpx/filter.h>
#include <kxfpx/storage.h>

namespace kxfpx::fpx {

namespace {

constexpr int32_t kInfoWidth = 3;
constexpr int32_t kInfoHeight = 4;
constexpr int32_t kInfoBitsPerPixel = 7;
constexpr int32_t kMonochromeBits = 8;
constexpr int32_t kColourBits = 24;

} // namespace

int32_t iGetFileInfo(QorFile file, FileInfo *record, uint64_t *extra)
{
    (void)extra;
    if (!file)
        return KX_MISSING_STRUCTURE;
    (void)qorSetDataFormat(file, QOR_LITTLE_ENDIAN, QOR_IEEE_FLOATS);
    // Owners in the order of opening; they close in reverse.
    StorageOwner root(qorOpenStorage(file, kRootName));
    if (!root)
        return KX_MISSING_STRUCTURE;
    int32_t object = 0;
    {
        StreamOwner global(qorOpenStream(root.get(), kGlobalInfoName));
        if (!global)
            return KX_MISSING_STRUCTURE;
        const uint32_t ids[] = {kPidMaxDataObjectIndex};
        uint32_t pos[1];
        FindProperties(global.get(), 1, ids, pos);
        int32_t highest = kDataObjectIndex;
        if (pos[0] != 0)
            (void)read_long_at(global.get(), pos[0], highest);
        object = marked_data_object(root.get(), highest);
        if (object == 0)
            return KX_MISSING_STRUCTURE;
    }
    StorageOwner store(qorOpenStorage(root.get(), NumberedName(kStoreFormat, object).text));
    if (!store)
        return KX_MISSING_STRUCTURE;
    StreamOwner contents(qorOpenStream(store.get(), kImageContentsName));
    if (!contents)
        return KX_MISSING_STRUCTURE;
    const ContentsFacts facts = read_contents_facts(contents.get());
    // Always the highest resolution: the setup's choice is not consulted.
    int32_t opened = facts.highest;
    StorageOwner resolution(
        open_resolution(store.get(), facts.highest, facts.width, facts.height, opened));
    if (!resolution)
        return KX_MISSING_STRUCTURE;
    SubimageInfo info{};
    const ResolutionFacts res = read_resolution_facts(contents.get(), opened, info);
    int32_t width = facts.width, height = facts.height;
    if (res.hasSize) {
        width = res.width;
        height = res.height;
    }
    // Without the colour property channel 0 has no space: 24 bits.
    int32_t bits = (info.channelColour[0].colourSpace & kColourSpaceBits) == kColourSpaceMono
                       ? kMonochromeBits
                       : kColourBits;
    const int32_t code = (InfoPut(record, kInfoWidth, &width) != KX_OK ||
                          InfoPut(record, kInfoHeight, &height) != KX_OK ||
                          InfoPut(record, kInfoBitsPerPixel, &bits) != KX_OK)
                             ? KX_INFO_VALUE
                             : KX_OK;
    // The Image Contents stream closes first, then the storages.
    contents.reset();
    return code;
}

} // namespace kxfpx::fpx
