// The tile renderer's internal record and stages. ReadTiles (read_tiles.cpp)
// owns one TileRender for its call: the geometry of the chosen resolution,
// the colour plan set once before the first tile, the working buffers. The
// stages: placement and clip (tile_placement.cpp), colour plan
// (tile_colour_plan.cpp), decoding one strip of tiles (tile_decode.cpp), and
// the strip's colour steps and bands, with or without the filter
// (strip_bands.cpp).
#pragma once

#include "fpx/colour_steps.h"
#include "fpx/owners.h"
#include "fpx/subimage.h"

#include "jpeg/progressive_buffers.h"

#include <kxfpx/codes.h>
#include <kxfpx/output.h>

#include <cstdint>
#include <memory>

namespace kxfpx::fpx {

// Largest band of rows sent in one ImageRows call, in bytes.
inline constexpr int32_t kMaxBandBytes = 32767;
// Rows of context kept on each side of a strip when filtering.
inline constexpr int32_t kFilterContext = 3;
// Spare bytes after the strip's tiles (the extra channel of the last tile
// needs TW x TH of them).
inline constexpr uint32_t kStripSpare = 2;

struct TileGeometry {
    int32_t width = 0, height = 0;          // W, H
    int32_t tileWidth = 0, tileHeight = 0;  // TW, TH
    int32_t channels = 0;                   // ch: 1 monochrome, else 3
    int32_t format = 0;                     // -8 or -24
    int32_t stride = 0;                     // S: output row bytes, a multiple of 4
    uint32_t tileBytes = 0;                 // T = TW x ch x TH
    int32_t tilesAcross = 0;                // A
    int32_t strips = 0;                     // N
    int32_t span = 0;                       // X = H x R, truncated (low 32 bits)
    int32_t tileRowBytes = 0;               // TW x ch
    int32_t lastTileRowBytes = 0;           // the last tile's part inside the image
};

// What the colour flags select, set once from channelColour before the first
// tile (the YCbCr fields change at the first converted JPEG tile).
struct ColourPlan {
    int32_t space = 0;              // c: bits 0-5 of channel 0's colour space
    bool draw = true;               // false: nothing is drawn, the result is 0
    bool monochrome = false;        // bits 0-3 are 1
    bool rgb = false;               // bits 0-3 are 3 (YCbCr tiles convert)
    bool extraChannel = false;      // uncompressed tiles carry one channel more
    int32_t dropIndex = 0;          // the channel dropped from them
    bool opacityYcc = false;        // four-channel PhotoYCC: raw tiles weighted by opacity
    int32_t jpegExtraFlag = 0;      // ReadJPEG's extra-channel flag
    bool photoYccStrip = false;     // three-channel PhotoYCC: strip conversion
    bool reorder = false;           // RGB channels stored in another order
    int32_t iR = 0, iG = 1, iB = 2;
    bool invert = false;            // YCbCr output inverted (bit 15 of channel 0)
    bool ycbcrReady = false;        // YCbCr tables built
    bool twist = false;             // the colour twist is not the identity
    bool contrast = false;          // contrast != 1.0
};

class ParallelStrips;

// A table set of a tile's own, for a table index the file never defined:
// it starts empty and whatever tables the tile carries are freed with it.
struct FreshTableSet {
    jpeg::JpegTableSet set = {};
    FreshTableSet() = default;
    FreshTableSet(const FreshTableSet &) = delete;
    FreshTableSet &operator=(const FreshTableSet &) = delete;
    ~FreshTableSet();
};

// Everything one ReadTiles call works with. Buffers are declared in the
// reverse order of their release, so that they go band buffer first and the
// colour tables last.
struct TileRender {
    QorFile data = nullptr;
    SubimageInfo *info = nullptr;
    jpeg::JpegTableSet *sets = nullptr;
    FilterSetup *setup = nullptr;
    TileGeometry g;
    ColourPlan plan;
    bool filtering = false;

    ColourTables colourTables;
    MovableBlock contrastTable;
    MovableBlock strip;
    MovableBlock filterInput;
    MovableBlock filterOutput;
    MovableBlock carryRows;
    MovableBlock band;
    // Progressive frames' whole-tile buffers, kept from tile to tile.
    jpeg::ProgressiveBuffers progressive;
    // The worker threads and their buffers; null on one thread.
    std::unique_ptr<ParallelStrips> parallel;

    TileRender();
    ~TileRender();
    TileRender(const TileRender &) = delete;
    TileRender &operator=(const TileRender &) = delete;
};

// --- geometry and placement (tile_placement.cpp) -----------------------------
// False when the image has no pixels to send (W or H below 1).
[[nodiscard]] bool compute_geometry(const SubimageInfo &info, TileGeometry &g);
// P0 = (0, top), P1 = (X, top - rows), P2 = (X, top) through the affine matrix.
void place_corners(const SubimageInfo &info, const TileGeometry &g, int32_t top, int32_t rows,
                   CoordPoint out[3]);
// The region-of-interest clip polygon, when the region is not the default.
void send_clip_polygon(GdsfHandle *gdsf, const SubimageInfo &info);

// --- colour plan (tile_colour_plan.cpp) ---------------------------------------
void plan_colour(const SubimageInfo &info, const TileGeometry &g, ColourPlan &plan);
// Builds the tables and the twist the plan needs: 0 or 27.
[[nodiscard]] int32_t prepare_colour(TileRender &r);
// Prepares the YCbCr conversion of a JPEG tile: 0 or 27.
[[nodiscard]] int32_t prepare_ycbcr(TileRender &r);
// Twist, PhotoYCC conversion, reordering and contrast over a block of pixels.
void colour_steps(TileRender &r, int32_t count, int32_t rows, int32_t pad, uint8_t *samples);

// --- tiles (tile_decode.cpp) -------------------------------------------------------
// Decodes the A tiles of strip s into the strip buffer: 0 or 14 (or 27).
[[nodiscard]] int32_t decode_strip(TileRender &r, int32_t s);
// Tile k of strip s, as decode_strip decodes it: 0 or 14 (or 27).
[[nodiscard]] int32_t decode_tile(TileRender &r, int32_t s, int32_t k);
// The table entry of tile k of strip s; null when the table lacks it.
const TileEntry *tile_entry(const TileRender &r, int32_t s, int32_t k);
// Positions `data` on the tile's first byte; false when the seek fails.
[[nodiscard]] bool seek_tile(QorFile data, const TileEntry &e);
// Whether a JPEG tile's YCbCr samples are converted to RGB.
bool jpeg_tile_converts(const TileRender &r, const TileEntry &e);
// The file's table set a JPEG tile names; null when it names none.
jpeg::JpegTableSet *shared_table_set(const TileRender &r, const TileEntry &e);
// Seeks to and decodes a JPEG tile from `data` with `set` (and converts it
// when it is YCbCr; the tables are ready): 0 or 14.
[[nodiscard]] int32_t decode_jpeg_tile(TileRender &r, QorFile data, const TileEntry &e,
                                       jpeg::JpegTableSet *set, jpeg::ProgressiveBuffers *buffers,
                                       uint8_t *dest);

// --- strips on several threads (parallel_strip.cpp) --------------------------------
// The thread count of the import: the key "Threads" of the setup's mode
// section (0: one per processor; absent: 1).
int32_t import_threads(const FilterSetup &setup);
// Starts the workers for `threads` threads; r.parallel stays null when
// there are none to start.
void start_parallel(TileRender &r, int32_t threads);
// Decodes strip s as decode_strip does, its JPEG tiles on every thread.
[[nodiscard]] int32_t decode_strip_parallel(TileRender &r, int32_t s);

// --- bands (strip_bands.cpp) ----------------------------------------------------------
// Sends strip s (rows of it) without filtering; top moves down by the rows sent.
void send_strip(TileRender &r, int32_t s, int32_t rows, int32_t &top);
// Filters strip s with its context rows and sends what is ready.
void filter_strip(TileRender &r, int32_t s, int32_t &top);

} // namespace kxfpx::fpx
