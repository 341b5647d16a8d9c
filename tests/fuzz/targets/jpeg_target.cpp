// JPEG tile target: ReadJPEG on a tile stream, with a table set loaded first
// from a prefix of the input (marker segments read as the import reads the
// file's JPEG tables). Input: a control byte, the prefix length (16 bits,
// little-endian), the prefix, then the tile. The control byte chooses
//   bits 0-1  the destination: 64 x 64 pixels of 1, 3 or 4 bytes, or a size
//             that is no whole tile
//   bit  2    the extra-channel flag (opacity-weighted colour)
//   bits 3-5  the chroma subsampling byte of the tile-table entry
//   bit  6    a second tile decoded from the same stream position with the
//             tables the first one left (tables inside a tile persist)
#include "fuzz_input.h"
#include "fuzz_targets.h"

#include "fpx/colour_steps.h"
#include "jpeg/jpeg_format.h"
#include "jpeg/read_jpeg.h"

#include <kxfpx/codes.h>

#include <vector>

namespace kxfuzz {

namespace {

constexpr int32_t kTilePixels = 64 * 64;
constexpr int32_t kDestinationSizes[] = {kTilePixels, 3 * kTilePixels, 4 * kTilePixels, 3 * kTilePixels - 7};
constexpr uint8_t kSubsamplings[] = {0x11, 0x21, 0x22, 0x12, 0x41, 0x14, 0x44, 0x00};

// Frees every handle of a set at the end of the scope.
struct OwnedSet {
    kxfpx::jpeg::JpegTableSet set{};
    ~OwnedSet()
    {
        for (HGLOBAL &slot : set.slots)
            if (slot)
                GlobalFree(slot);
    }
};

// The file's table data: marker words until EOI, DHT and DQT segments to
// the readers, SOI skipped; anything else ends the prefix.
void load_tables(QorFile prefix, kxfpx::jpeg::JpegTableSet &set)
{
    (void)qorSetDataFormat(prefix, QOR_BIG_ENDIAN, QOR_IEEE_FLOATS);
    for (;;) {
        uint16_t marker;
        if (qorReadShort(prefix, &marker, 1) != 1)
            return;
        if (marker == kxfpx::jpeg::kMarkerDHT)
            (void)kxfpx::jpeg::ReadHuffman(prefix, &set);
        else if (marker == kxfpx::jpeg::kMarkerDQT)
            (void)kxfpx::jpeg::ReadQuantization(prefix, &set.slots[kxfpx::jpeg::kQuantSlot0]);
        else if (marker != kxfpx::jpeg::kMarkerSOI)
            return;
    }
}

} // namespace

int jpeg_target(const uint8_t *data, size_t size)
{
    if (size > kMaxInput)
        return 0;
    Cursor in{data, size};
    const uint8_t control = in.byte();
    size_t prefixSize = in.word();
    if (prefixSize > in.size)
        prefixSize = in.size;

    OwnedSet tables;
    {
        MemoryFile prefix(in.data, prefixSize);
        if (prefix.get())
            load_tables(prefix.get(), tables.set);
    }
    MemoryFile tile(in.data + prefixSize, in.size - prefixSize);
    if (!tile.get())
        return 0;
    (void)qorSetDataFormat(tile.get(), QOR_BIG_ENDIAN, QOR_IEEE_FLOATS);

    kxfpx::fpx::ColourTables colour;
    if (!colour.ensure(kxfpx::fpx::kColourSlots))
        return 0;
    kxfpx::fpx::FillPhotoYccTables(colour.slots());
    const int32_t extra = (control >> 2) & 1;
    const uint8_t subsampling = kSubsamplings[(control >> 3) & 7];
    // Exactly the destination's size, so that a write past it is caught.
    std::vector<uint8_t> destination(static_cast<size_t>(kDestinationSizes[control & 3]));
    const int passes = control & 0x40 ? 2 : 1;
    for (int pass = 0; pass < passes; ++pass) {
        (void)qorSeek(tile.get(), 0, SEEK_SET);
        (void)kxfpx::jpeg::ReadJPEG(tile.get(), nullptr, &tables.set, destination.data(),
                                    static_cast<int32_t>(destination.size()), nullptr, subsampling,
                                    colour.slots(), extra);
    }
    return 0;
}

} // namespace kxfuzz
