// kxfpx, the body of one import: opens the input, checks that it is a
// FlashPix file, starts the output, walks the property sets into the
// SubimageInfo, picks a resolution, sets the picture's extent and viewport,
// loads the tile table and hands the tile data to ReadTiles. Every resource
// is an owner declared in the order of making, so that each path releases
// them in the reverse order before the final code is reported.
#include "fpx/fpx_format.h"
#include "fpx/image_walk.h"
#include "fpx/import_stages.h"
#include "fpx/input_source.h"
#include "fpx/jpeg_table_sets.h"
#include "fpx/output_session.h"
#include "fpx/owners.h"
#include "fpx/property_values.h"
#include "fpx/subimage.h"

#include "output/gdsf.h"

#include <kxfpx/codes.h>
#include <kxfpx/output.h>
#include <kxfpx/storage.h>

#include <cstdio>
#include <cstring>

using namespace kxfpx::output;

namespace kxfpx::fpx {

namespace {

// The class test reads the summary stream's class identifier, 8 bytes past
// the stream's start.
constexpr int32_t kSummaryClassSkip = 8;
constexpr int32_t kClassBytes = 16;
// Above this, a stored width or height is refused.
constexpr uint32_t kMaxSide = 65535;
// resolutionChoice: 0 the lowest resolution, 1 the middle one, else the highest.
constexpr int16_t kChooseLowest = 0;
constexpr int16_t kChooseMiddle = 1;
// SetScaling: mode 1 and the bit pattern of the double 0.2645833333333333,
// millimetres per pixel at 96 pixels per inch.
constexpr int32_t kScalingMode = 1;
constexpr uint64_t kMillimetresPerPixelBits = 0x3FD0EEEEEEEEEEEEull;
constexpr int32_t kViewportMode = 0;
constexpr int16_t kViewportScaleMode = 1;

// -23 unless "\005SummaryInformation" carries the summary format
// identifier. The identifier is compared as a string: up to its first zero
// byte (byte 11) and that zero.
int32_t check_class(QorFile file, int32_t fatSectorLimit)
{
    StorageOwner root(qorOpenStorage_ex(file, kRootName, static_cast<uint32_t>(fatSectorLimit)));
    if (!root)
        return KX_NOT_FLASHPIX;
    StreamOwner summary(qorOpenStream(root.get(), kSummaryName));
    if (!summary)
        return KX_NOT_FLASHPIX;
    (void)qorSeek(summary.get(), kSummaryClassSkip, SEEK_CUR);
    char read[kClassBytes] = {};
    (void)qorRead(summary.get(), read, kClassBytes);
    const char *expected = reinterpret_cast<const char *>(kFmtidSummary.data());
    return std::strncmp(read, expected, kClassBytes) == 0 ? KX_OK : KX_NOT_FLASHPIX;
}

// Opens the input the way the setup says: the host's I/O procedure when the
// options hold one, the host's memory handle when the path is empty, else
// the path.
void open_input(const FilterSetup &setup, InputFile &input)
{
    if (setup.options.hostReadProc) {
        void *ioHandle = setup.interpretStructure ? setup.interpretStructure->hostIoHandle : nullptr;
        input.open_callback(setup.importPath, setup.options.hostReadProc, ioHandle);
    } else if (setup.importPath[0] == '\0') {
        // A missing memory handle (or host record) is a failed open: the
        // handle has no size to read.
        if (setup.hostRecord && setup.hostRecord->inputBlock)
            input.open_memory(setup.hostRecord->inputBlock);
    } else {
        input.open_path(setup.importPath);
    }
}

// The data object holding the image and the transform index, from
// "\005Global Info"; 14 when the stream or a marked data object is missing.
int32_t choose_data_object(QorFile root, int32_t &object, int32_t &transform)
{
    StreamOwner global(qorOpenStream(root, kGlobalInfoName));
    if (!global)
        return KX_MISSING_STRUCTURE;
    enum { kHighest, kTransform, kIds };
    const uint32_t ids[kIds] = {kPidMaxDataObjectIndex, kPidTransformIndex};
    uint32_t pos[kIds];
    FindProperties(global.get(), kIds, ids, pos);
    int32_t highest = kDataObjectIndex;
    if (pos[kHighest] != 0)
        (void)read_long_at(global.get(), pos[kHighest], highest);
    object = marked_data_object(root, highest);
    if (object == 0)
        return KX_MISSING_STRUCTURE;
    transform = 0;
    // Only the first data object's view has a transform.
    if (pos[kTransform] != 0 && object < 2)
        (void)read_long_at(global.get(), pos[kTransform], transform);
    return KX_OK;
}

// The resolution index the setup asks for, with the full size halved to it.
int32_t choose_resolution(int16_t choice, int32_t highest, int32_t &width, int32_t &height)
{
    if (highest <= 0)
        return highest;
    if (choice == kChooseLowest) {
        width = halved(width, highest);
        height = halved(height, highest);
        return 0;
    }
    if (choice == kChooseMiddle) {
        const int32_t middle = highest / 2;
        width = halved(width, middle);
        height = halved(height, middle);
        return middle;
    }
    return highest;
}

// The tile table is bounded by the picture's tile grid and by the header
// stream: fewer entries than the grid has tiles would make the renderer read
// entries past the table, and a table running past the stream's end cannot
// be what the file holds. Both are refused with 21 before anything is
// allocated.
bool tile_table_fits(QorFile header, const SubimageInfo &info)
{
    const int64_t across = (int64_t{info.width} + kTileSize - 1) / kTileSize;
    const int64_t down = (int64_t{info.height} + kTileSize - 1) / kTileSize;
    if (info.tileCount < 0 || info.tileCount < across * down || info.tileTableOffset < 0)
        return false;
    const int32_t size = qorSeek(header, 0, SEEK_END);
    const int64_t end = int64_t{info.tileTableOffset} + kStreamHeaderSize +
                        int64_t{info.tileCount} * kTileEntrySize;
    return size >= 0 && end <= size;
}

int32_t run_import(FilterSetup &setup)
{
    InputFile input;
    open_input(setup, input);
    QorFile file = input.get();
    if (!file)
        return KX_CANNOT_OPEN;
    if (const int32_t code = check_class(file, setup.fatSectorLimit))
        return code;

    // Owners in the order of making; the reverse is the order of release.
    StorageOwner root, store, resolution;
    StreamOwner stream;
    JpegTableSets tables;
    OutputSession output(setup);
    MovableBlock tileTable;
    SubimageInfo info{};

    if (const int32_t code = output.start())
        return code;

    root.reset(qorOpenStorage(file, kRootName));
    if (!root)
        return KX_MISSING_STRUCTURE;
    int32_t object = 0, transform = 0;
    if (const int32_t code = choose_data_object(root.get(), object, transform))
        return code;

    set_subimage_defaults(info);
    if (transform != 0)
        read_transform(root.get(), transform, info);

    store.reset(qorOpenStorage(root.get(), NumberedName(kStoreFormat, object).text));
    if (!store)
        return KX_MISSING_STRUCTURE;
    stream.reset(qorOpenStream(store.get(), kImageContentsName));
    if (!stream)
        return KX_MISSING_STRUCTURE;
    const ContentsFacts contents = read_contents_facts(stream.get());
    if (const int32_t code = tables.load(stream.get(), contents.maxTablePos))
        return code;
    info.jpegTableSetCount = tables.count();

    int32_t width = contents.width, height = contents.height;
    const int32_t wanted =
        choose_resolution(setup.options.resolutionChoice, contents.highest, width, height);
    int32_t chosen = wanted;
    resolution.reset(open_resolution(store.get(), wanted, width, height, chosen));
    if (!resolution)
        return KX_MISSING_STRUCTURE;
    const ResolutionFacts facts = read_resolution_facts(stream.get(), chosen, info);
    if (facts.hasColour && (facts.colourCount < 1 || facts.channelCount <= 0)) {
        output.end_picture_on_exit();
        return KX_BAD_DATA;
    }
    if (facts.hasSize) {
        width = facts.width;
        height = facts.height;
    }
    stream.reset();

    stream.reset(qorOpenStream(resolution.get(), kSubimageHeaderName));
    if (!stream)
        return KX_MISSING_STRUCTURE;
    (void)seek_to(stream.get(), kStreamHeaderSize);

    const CoordRect rect = picture_extent(info, width, height);
    (void)SetPictureExtent(setup.gdsf, &rect);
    (void)SetScaling(setup.gdsf, kScalingMode, kMillimetresPerPixelBits);
    (void)SetViewport(&setup, kViewportMode, &rect, kViewportScaleMode);
    (void)BeginPicBody(&setup);
    (void)SetBodyRectangle(setup.gdsf, &rect);
    // Every failure from here on ends the picture as the normal end does.
    output.end_picture_on_exit();

    (void)qorReadStruct(stream.get(), "9L", &info, 1);
    // Compared as unsigned: a negative side is refused with the too large.
    if (static_cast<uint32_t>(info.width) > kMaxSide || static_cast<uint32_t>(info.height) > kMaxSide)
        return KX_BAD_DATA;
    info.tileWidth = kTileSize;
    info.tileHeight = kTileSize;
    if (!tile_table_fits(stream.get(), info))
        return KX_BAD_DATA;
    uint32_t tableBytes;
    if (!block_size(static_cast<uint32_t>(info.tileCount), kTileEntrySize, tableBytes) ||
        !tileTable.allocate(tableBytes))
        return KX_NO_MEMORY;
    info.tileTableHandle = tileTable.handle();
    info.tileTable = tileTable.as<TileEntry>();
    if (seek_to(stream.get(), static_cast<uint32_t>(info.tileTableOffset) + kStreamHeaderSize))
        (void)qorReadStruct(stream.get(), "3L{4C}", info.tileTable, info.tileCount);
    stream.reset();

    stream.reset(qorOpenStream(resolution.get(), kSubimageDataName));
    if (!stream)
        return KX_MISSING_STRUCTURE;
    (void)seek_to(stream.get(), kStreamHeaderSize);
    (void)qorSetDataFormat(stream.get(), QOR_BIG_ENDIAN, QOR_IEEE_FLOATS);
    int32_t code = ReadTiles(stream.get(), &info, tables.sets(), &setup);

    tileTable.reset();
    info.tileTableHandle = nullptr;
    info.tileTable = nullptr;
    const int32_t closed = output.end();
    return code != KX_OK ? code : closed;
}

} // namespace

int32_t kxfpx(FilterSetup *setup)
{
    // Without a setup there is no record to report through.
    if (!setup)
        return KX_CANNOT_OPEN;
    const int32_t code = run_import(*setup);
    if (code != KX_OK && code != KX_CANCELLED)
        (void)qorgen_error(setup, code);
    return code;
}

} // namespace kxfpx::fpx
