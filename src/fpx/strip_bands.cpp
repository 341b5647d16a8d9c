// From a decoded strip to the output: the strip's colour steps, the rows
// assembled from the row segments of its tiles (the last tile cut at the
// image width), and ImageRows in bands of at most 32767 bytes. With filtering
// the rows go through the filter input with three context rows on each side
// (the image's top and bottom edges repeated, six rows carried from one strip
// to the next), so the sent image lags three rows behind the strips.
#include "fpx/filter.h"
#include "fpx/tile_render.h"

#include "output/gdsf.h"

#include <algorithm>
#include <cstring>

using namespace kxfpx::output;

namespace kxfpx::fpx {

namespace {

constexpr int32_t kCarryRows = 2 * kFilterContext;
// The top row of the image is repeated this many times above it.
constexpr int32_t kTopRepeats = kFilterContext;

// Row `row` of the strip as one image row: each tile's segment in turn.
void assemble_row(const TileRender &r, int32_t row, uint8_t *out)
{
    const TileGeometry &g = r.g;
    const uint8_t *src = r.strip.data() + static_cast<size_t>(row) * g.tileRowBytes;
    for (int32_t k = 0; k < g.tilesAcross; ++k, src += g.tileBytes, out += g.tileRowBytes) {
        const int32_t bytes = k == g.tilesAcross - 1 ? g.lastTileRowBytes : g.tileRowBytes;
        std::memcpy(out, src, static_cast<size_t>(bytes));
    }
}

// Rows per band: as many whole rows as 32767 bytes hold, at most `rows`.
int32_t band_rows(const TileGeometry &g, int32_t rows)
{
    const int64_t bytes = std::min<int64_t>(int64_t{rows} * g.stride, kMaxBandBytes);
    return static_cast<int32_t>(std::min<int64_t>(bytes / g.stride, rows));
}

void image_rows(TileRender &r, int32_t &top, int32_t rows, const uint8_t *pixels)
{
    CoordPoint corners[3] = {};
    place_corners(*r.info, r.g, top, rows, corners);
    const int32_t size[2] = {r.g.width, rows};
    ImageRows(r.setup->gdsf, corners, size, r.g.format, 1, pixels);
    top -= rows;
}

uint8_t *row_at(const MovableBlock &block, const TileGeometry &g, int32_t row)
{
    return block.data() + static_cast<size_t>(row) * static_cast<size_t>(g.stride);
}

} // namespace

void tile_to_rows(const TileRender &r, int32_t k, uint8_t *rows)
{
    const TileGeometry &g = r.g;
    const uint8_t *src = r.strip.data() + static_cast<size_t>(k) * g.tileBytes;
    const int32_t bytes = k == g.tilesAcross - 1 ? g.lastTileRowBytes : g.tileRowBytes;
    uint8_t *out = rows + static_cast<size_t>(k) * g.tileRowBytes;
    for (int32_t y = 0; y < g.tileHeight; ++y, src += g.tileRowBytes, out += g.stride)
        std::memcpy(out, src, static_cast<size_t>(bytes));
}

void send_rows(TileRender &r, const uint8_t *strip, int32_t rows, int32_t &top)
{
    const TileGeometry &g = r.g;
    const int32_t band = band_rows(g, rows);
    for (int32_t done = 0, B = band; B > 0; done += B, B = std::min(band, rows - done))
        image_rows(r, top, B, strip + static_cast<size_t>(done) * static_cast<size_t>(g.stride));
}

void send_strip(TileRender &r, int32_t /*s*/, int32_t rows, int32_t &top)
{
    const TileGeometry &g = r.g;
    // The strip buffer taken as TH rows of A x TW pixels: every step is per
    // pixel, so the tiles' own layout does not matter.
    colour_steps(r, g.tilesAcross * g.tileWidth, g.tileHeight, 0, r.strip.data());
    const int32_t band = band_rows(g, rows);
    for (int32_t done = 0, B = band; B > 0; done += B, B = std::min(band, rows - done)) {
        for (int32_t j = 0; j < B; ++j)
            assemble_row(r, done + j, row_at(r.band, g, j));
        image_rows(r, top, B, r.band.data());
    }
}

void filter_strip(TileRender &r, int32_t s, int32_t &top)
{
    const TileGeometry &g = r.g;
    const size_t S = static_cast<size_t>(g.stride);
    const bool first = s == 0, last = s == g.strips - 1;
    int32_t at = 0;
    if (!first) {
        std::memcpy(r.filterInput.data(), r.carryRows.data(), kCarryRows * S);
        at = kCarryRows;
    }
    const int32_t stripRows = std::min(g.tileHeight, g.height);
    for (int32_t j = 0; j < stripRows; ++j) {
        assemble_row(r, j, row_at(r.filterInput, g, at++));
        if (first && j == 0)
            for (int32_t k = 0; k < kTopRepeats; ++k)
                std::memcpy(row_at(r.filterInput, g, at++), r.filterInput.data(), S);
    }
    int32_t n = stripRows;
    if (last && !first)
        n = g.height - s * g.tileHeight;
    else if (first)
        n = stripRows - kFilterContext;
    // The bottom edge: input row n + 2 repeated below it. n is at least -2
    // (an image of one row), so the rows stay inside the buffer.
    if (last)
        for (int32_t k = 3; k <= 5; ++k)
            std::memcpy(row_at(r.filterInput, g, n + k), row_at(r.filterInput, g, n + 2), S);
    // The carry is needed by a next strip only; a single strip of fewer than
    // three rows (n < 0) has nothing to carry.
    if (n >= 0)
        std::memcpy(r.carryRows.data(), row_at(r.filterInput, g, n), kCarryRows * S);
    const SubimageInfo &info = *r.info;
    const int32_t pad = g.stride - g.width * g.channels;
    Filter(g.channels, g.width, static_cast<uint8_t>(pad), n + kCarryRows,
           FilterKernel{info.kernel, info.kernelSize}, r.filterInput.data(), r.filterOutput.data(),
           info.filteringValue);
    if (n <= 0)
        return;
    colour_steps(r, g.width, n, pad, r.filterOutput.data());
    // Each band is sent from its place in the filter output.
    const int32_t band = band_rows(g, n);
    for (int32_t done = 0, B = band; B > 0; done += B, B = std::min(band, n - done))
        image_rows(r, top, B, row_at(r.filterOutput, g, done));
}

} // namespace kxfpx::fpx
