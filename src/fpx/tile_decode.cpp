// Decoding one strip on the calling thread: each tile of the row of tiles,
// written at strip buffer + k x T, is read uncompressed (dropping or
// weighting an extra channel), filled with its single colour, or decoded by
// ReadJPEG (with the per-tile YCbCr conversion); invalid tiles stop the
// import, unknown kinds are skipped. parallel_strip.cpp reuses the stages.
#include "fpx/fpx_format.h"
#include "fpx/tile_render.h"

#include "jpeg/progressive_buffers.h"

#include <cstdio>
#include <cstring>

namespace kxfpx::fpx {

namespace {

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
    if (jpeg_tile_converts(r, e))
        if (const int32_t rc = prepare_ycbcr(r))
            return rc;
    FreshTableSet fresh;
    jpeg::JpegTableSet *set = shared_table_set(r, e);
    return decode_jpeg_tile(r, r.data, e, set ? set : &fresh.set, &r.progressive, dest);
}

} // namespace

FreshTableSet::~FreshTableSet()
{
    for (HGLOBAL &slot : set.slots)
        if (slot) {
            GlobalFree(slot);
            slot = nullptr;
        }
}

// Seeks to the tile's data: its offset counts from byte 28 of the stream.
// The sum wraps as 32-bit arithmetic does; a negative result ends with 14.
bool seek_tile(QorFile data, const TileEntry &e)
{
    const auto target =
        static_cast<int32_t>(static_cast<uint32_t>(e.tileOffset) + kStreamHeaderSize);
    return qorSeek(data, target, SEEK_SET) >= 0;
}

const TileEntry *tile_entry(const TileRender &r, int32_t s, int32_t k)
{
    // The driver guarantees a table entry for every tile of the grid; a
    // record without one (only a direct caller can hand it) ends with 14.
    const int64_t index = int64_t{s} * r.g.tilesAcross + k;
    if (!r.info->tileTable || index >= r.info->tileCount)
        return nullptr;
    return &r.info->tileTable[index];
}

bool jpeg_tile_converts(const TileRender &r, const TileEntry &e)
{
    return e.compressionSubtype[2] != 0 && r.plan.rgb;
}

jpeg::JpegTableSet *shared_table_set(const TileRender &r, const TileEntry &e)
{
    // An index above the file's highest table index gets an empty set of its
    // own: the tile decodes when it carries its tables, else fails with 14.
    const uint8_t tableIndex = e.compressionSubtype[3];
    const int32_t setCount = r.info->jpegTableSetCount < 1 ? 1 : r.info->jpegTableSetCount;
    return r.sets && tableIndex < setCount ? &r.sets[tableIndex] : nullptr;
}

int32_t decode_jpeg_tile(TileRender &r, QorFile data, const TileEntry &e, jpeg::JpegTableSet *set,
                         jpeg::ProgressiveBuffers *buffers, uint8_t *dest)
{
    if (!seek_tile(data, e))
        return KX_MISSING_STRUCTURE;
    // The decoder writes RGB itself when it can, with the same arithmetic as
    // the tables (while they are the YCbCr tables); else the tile is
    // converted after decoding.
    const bool convert = jpeg_tile_converts(r, e);
    jpeg::RgbOutput rgb;
    rgb.invert = r.plan.invert;
    const bool onTheWay = convert && standard_ycbcr_tables(r.colourTables.slots());
    if (jpeg::ReadJPEG(data, r.info, set, dest, static_cast<int32_t>(r.g.tileBytes), r.setup,
                       e.compressionSubtype[1], r.colourTables.slots(), r.plan.jpegExtraFlag,
                       buffers, onTheWay ? &rgb : nullptr) != KX_OK)
        return KX_MISSING_STRUCTURE;
    if (convert && !rgb.done)
        YCbCrToRgb(r.g.tileWidth, r.g.tileHeight, 0, dest, r.colourTables.slots(), r.plan.invert);
    return KX_OK;
}

int32_t decode_tile(TileRender &r, int32_t s, int32_t k)
{
    const TileEntry *e = tile_entry(r, s, k);
    if (!e || e->tileLength == 0)
        return KX_MISSING_STRUCTURE;
    uint8_t *dest = r.strip.data() + static_cast<size_t>(k) * r.g.tileBytes;
    switch (static_cast<uint32_t>(e->compressionType)) {
    case kTileRaw:
        return read_raw(r, *e, dest);
    case kTileSingleColour:
        fill_single_colour(r.g, *e, dest);
        return KX_OK;
    case kTileJpeg:
        return read_jpeg_tile(r, *e, dest);
    case kTileInvalid:
        return KX_MISSING_STRUCTURE;
    default:
        return KX_OK;  // unknown kind: the tile's area keeps what it held
    }
}

int32_t decode_strip(TileRender &r, int32_t s)
{
    for (int32_t k = 0; k < r.g.tilesAcross; ++k)
        if (const int32_t rc = decode_tile(r, s, k))
            return rc;
    return KX_OK;
}

} // namespace kxfpx::fpx
