// The working record of one import (SubimageInfo), the 16-byte tile-table
// entry, and the stages of the import that share them: the driver, the
// property finder and the tile renderer.
#pragma once

#include <kxfpx/output.h>
#include <kxfpx/qorfile.h>
#include <kxfpx/setup.h>

#include "jpeg/jpeg_tables.h"

#include <cstdint>

namespace kxfpx::fpx {

inline constexpr int kMaxChannels = 4;
inline constexpr int kKernelMax = 7;

// One channel's colour: code within its space (0x7FFE opacity; bit 15 of
// channel 0 inverts YCbCr output) and the colour space in bits 0-3.
struct ChannelColour {
    uint16_t channelCode;
    uint16_t colourSpace;
};

// Tile-table entry as read with "3L{4C}".
struct TileEntry {
    int32_t tileOffset;              // from byte 28 of the data stream
    int32_t tileLength;
    int32_t compressionType;         // 0 raw, 1 single colour, 2 JPEG, -1 invalid
    uint8_t compressionSubtype[4];   // interleave, subsampling, conversion, table index
};
static_assert(sizeof(TileEntry) == 16, "tile-table entries are 16 bytes");

// Filled by kxfpx on its own stack (zero-filled at entry); ReadTiles reads it
// and may rewrite the colour twist.
struct SubimageInfo {
    // The nine values of the subimage header ("9L").
    int32_t headerLength;
    int32_t width;
    int32_t height;
    int32_t tileCount;
    int32_t tileWidth;
    int32_t tileHeight;
    int32_t headerChannels;
    int32_t tileTableOffset;
    int32_t tileEntryLength;
    HGLOBAL tileTableHandle;
    TileEntry *tileTable;
    int32_t colourCount;
    int32_t channelCount;            // capped at 4
    ChannelColour channelColour[kMaxChannels];
    float aspectRatio;
    float regionOfInterest[4];       // left, top, right, bottom in image heights
    float filteringValue;
    float affineMatrix[16];          // row-major 4 x 4
    float colourTwist[16];           // row-major 4 x 4
    float contrast;
    float kernel[kKernelMax * kKernelMax];
    float kernelSum;
    int32_t kernelSize;              // 3, 5 or 7
    // Sets in the JPEG table array (highest table index + 1; 1 without the
    // property), so that ReadTiles can tell a table index the file never
    // defined. 0 is read as 1: only the empty set 0 is known.
    int32_t jpegTableSetCount;
};

// The body of one import: 0 or a host code.
[[nodiscard]] int32_t kxfpx(FilterSetup *setup);

// Positions of the values of the given properties in the first section of a
// property-set stream, 0 for absent ones.
void FindProperties(QorFile stream, int32_t count, const uint32_t ids[], uint32_t positions[]);

// Maps points through the first two rows of a row-major 4 x 4 matrix (elements
// 0, 1, 3 for x and 4, 5, 7 for y); returns in. in and out must not overlap.
const CoordPoint *TransformPts(const CoordPoint *in, CoordPoint *out, int32_t count,
                               const float matrix[16]);

// Draws the chosen resolution; dataStream at byte 28, big-endian.
[[nodiscard]] int32_t ReadTiles(QorFile dataStream, SubimageInfo *info, jpeg::JpegTableSet *sets,
                                FilterSetup *setup);

} // namespace kxfpx::fpx
