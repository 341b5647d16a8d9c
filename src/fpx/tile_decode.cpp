// Decoding one strip: each tile of the row of tiles, written at strip buffer
// + k x T, is read uncompressed (dropping or weighting an extra channel),
// filled with its single colour, or decoded by ReadJPEG (with the per-tile
// YCbCr conversion); invalid tiles stop the import, unknown kinds are skipped.
#include "fpx/fpx_format.h"
#include "fpx/tile_render.h"

#include "jpeg/read_jpeg.h"

#include <cstdio>
#include <cstring>

namespace kxfpx::fpx {

namespace {

// A table set of a tile's own, for a table index the file never defined:
// it starts empty and whatever tables the tile carries are freed with it.
struct FreshTableSet {
    jpeg::JpegTableSet set = {};
    ~FreshTableSet()
    {
        for (HGLOBAL &slot : set.slots)
            if (slot) {
                GlobalFree(slot);
                slot = nullptr;
            }
    }
};

// Seeks to the tile's data: its offset counts from byte 28 of the stream.
// The sum wraps as 32-bit arithmetic does; a negative result ends with 14.
[[nodiscard]] bool seek_tile(QorFile data, const TileEntry &e)
{
    const auto target =
        static_cast<int32_t>(static_cast<uint32_t>(e.tileOffset) + kStreamHeaderSize);
    return qorSeek(data, target, SEEK_SET) >= 0;
}

// ch + 1 bytes in, ch out, order kept, the dropped channel left out; in place.
void drop_channel(uint8_t *samples, int32_t pixels, int32_t channels, int32_t dropped)
{
    const uint8_t *in = samples;
    uint8_t *out = samples;
    for (int32_t i = 0; i < pixels; ++i, in += channels + 1)
        for (int32_t k = 0; k <= channels; ++k)
            if (k != dropped)
                *out++ = in[k];
}

[[nodiscard]] int32_t read_raw(TileRender &r, const TileEntry &e, uint8_t *dest)
{
    if (!seek_tile(r.data, e))
        return KX_MISSING_STRUCTURE;
    const TileGeometry &g = r.g;
    const int32_t pixels = g.tileWidth * g.tileHeight;
    if (!r.plan.extraChannel) {
        // A short read leaves the rest of the tile as it was.
        (void)qorRead(r.data, dest, static_cast<int32_t>(g.tileBytes));
        return KX_OK;
    }
    (void)qorRead(r.data, dest, static_cast<int32_t>(g.tileBytes) + pixels);
    if (r.plan.opacityYcc)
        OpacityYccToRgb(pixels, dest, dest, r.plan.dropIndex, r.colourTables.slots());
    else
        drop_channel(dest, pixels, g.channels, r.plan.dropIndex);
    return KX_OK;
}

void fill_single_colour(const TileGeometry &g, const TileEntry &e, uint8_t *dest)
{
    const int32_t ch = g.channels;
    for (int32_t x = 0; x < g.tileWidth; ++x)
        std::memcpy(dest + x * ch, e.compressionSubtype, static_cast<size_t>(ch));
    for (int32_t y = 1; y < g.tileHeight; ++y)
        std::memcpy(dest + y * g.tileRowBytes, dest, static_cast<size_t>(g.tileRowBytes));
}

[[nodiscard]] int32_t read_jpeg_tile(TileRender &r, const TileEntry &e, uint8_t *dest)
{
    const uint8_t subsampling = e.compressionSubtype[1];
    const uint8_t tableIndex = e.compressionSubtype[3];
    const bool convert = e.compressionSubtype[2] != 0 && r.plan.rgb;
    if (convert)
        if (const int32_t rc = prepare_ycbcr(r))
            return rc;
    if (!seek_tile(r.data, e))
        return KX_MISSING_STRUCTURE;
    // An index above the file's highest table index gets an empty set of its
    // own: the tile decodes when it carries its tables, else fails with 14.
    const int32_t setCount = r.info->jpegTableSetCount < 1 ? 1 : r.info->jpegTableSetCount;
    FreshTableSet fresh;
    jpeg::JpegTableSet *set = r.sets && tableIndex < setCount ? &r.sets[tableIndex] : &fresh.set;
    if (jpeg::ReadJPEG(r.data, r.info, set, dest, static_cast<int32_t>(r.g.tileBytes), r.setup,
                       subsampling, r.colourTables.slots(), r.plan.jpegExtraFlag) != KX_OK)
        return KX_MISSING_STRUCTURE;
    if (convert)
        YCbCrToRgb(r.g.tileWidth, r.g.tileHeight, 0, dest, r.colourTables.slots(), r.plan.invert);
    return KX_OK;
}

} // namespace

int32_t decode_strip(TileRender &r, int32_t s)
{
    const SubimageInfo &info = *r.info;
    const TileGeometry &g = r.g;
    for (int32_t k = 0; k < g.tilesAcross; ++k) {
        // The driver guarantees a table entry for every tile of the grid; a
        // record without one (only a direct caller can hand it) ends with 14.
        const int64_t index = int64_t{s} * g.tilesAcross + k;
        if (!info.tileTable || index >= info.tileCount)
            return KX_MISSING_STRUCTURE;
        const TileEntry &e = info.tileTable[index];
        uint8_t *dest = r.strip.data() + static_cast<size_t>(k) * g.tileBytes;
        if (e.tileLength == 0)
            return KX_MISSING_STRUCTURE;
        int32_t rc = KX_OK;
        switch (static_cast<uint32_t>(e.compressionType)) {
        case kTileRaw:
            rc = read_raw(r, e, dest);
            break;
        case kTileSingleColour:
            fill_single_colour(g, e, dest);
            break;
        case kTileJpeg:
            rc = read_jpeg_tile(r, e, dest);
            break;
        case kTileInvalid:
            rc = KX_MISSING_STRUCTURE;
            break;
        default:
            break;  // unknown kind: the tile's area keeps what it held
        }
        if (rc != KX_OK)
            return rc;
    }
    return KX_OK;
}

} // namespace kxfpx::fpx
