// ReadTiles: draws the chosen resolution. Places the image (and its clip
// polygon) through the affine matrix, begins the image, takes the working
// buffers, then decodes, colours, optionally filters and sends the image one
// strip (row of tiles) at a time, its JPEG tiles on as many threads as the
// profile asks for, reporting progress and letting the host cancel after
// each strip. EndImage and the release of every buffer happen on
// every path after BeginImage, by construction.
#include "fpx/colour_steps.h"
#include "fpx/tile_render.h"

#include "output/gdsf.h"

#include <algorithm>

using namespace kxfpx::output;

namespace kxfpx::fpx {

namespace {

constexpr int32_t kPercentAll = 100;
constexpr int32_t kImageArg1 = 1, kImageArg2 = 1, kImageArg3 = 3, kImageArg4 = 0;

// Sends EndImage when it goes out of scope: declared after the buffers, it
// runs before they are released.
class ImageScope {
public:
    explicit ImageScope(GdsfHandle *gdsf) : gdsf_(gdsf) {}
    ~ImageScope() { EndImage(gdsf_); }
    ImageScope(const ImageScope &) = delete;
    ImageScope &operator=(const ImageScope &) = delete;

private:
    GdsfHandle *gdsf_;
};

[[nodiscard]] bool take(MovableBlock &block, uint64_t a, uint64_t b, uint64_t c = 0)
{
    uint32_t size = 0;
    return checked_size(a, b, c, size) && block.allocate(size);
}

// The working buffers, in the order they are taken: 0 or 27.
[[nodiscard]] int32_t take_buffers(TileRender &r)
{
    const TileGeometry &g = r.g;
    const int64_t bandBytes = std::min<int64_t>(int64_t{g.tileHeight} * g.stride, kMaxBandBytes);
    if (!take(r.band, 1, static_cast<uint64_t>(bandBytes)))
        return KX_NO_MEMORY;
    if (r.filtering) {
        const uint64_t filterRows = static_cast<uint64_t>(g.tileHeight) + 2 * kFilterContext;
        if (!take(r.filterInput, filterRows, static_cast<uint64_t>(g.stride)) ||
            !take(r.filterOutput, filterRows, static_cast<uint64_t>(g.stride)) ||
            !take(r.carryRows, 2 * kFilterContext, static_cast<uint64_t>(g.stride)))
            return KX_NO_MEMORY;
    }
    if (r.info->contrast != 1.0f) {
        if (!take(r.contrastTable, 1, kContrastEntries))
            return KX_NO_MEMORY;
        BuildContrastTable(r.info->contrast, r.contrastTable.data());
    }
    const uint64_t tilePixels = static_cast<uint64_t>(g.tileWidth) * g.tileHeight;
    if (!take(r.strip, static_cast<uint64_t>(g.tilesAcross), g.tileBytes, kStripSpare + tilePixels))
        return KX_NO_MEMORY;
    return KX_OK;
}

} // namespace

int32_t ReadTiles(QorFile dataStream, SubimageInfo *info, jpeg::JpegTableSet *sets,
                  FilterSetup *setup)
{
    // The driver always hands both records; without them there is nothing to
    // draw on or from.
    if (!info || !setup)
        return KX_MISSING_STRUCTURE;
    TileRender r;
    r.data = dataStream;
    r.info = info;
    r.sets = sets;
    r.setup = setup;
    GdsfHandle *gdsf = setup->gdsf;

    // Placement and clip, then the image begins.
    const bool drawable = compute_geometry(*info, r.g);
    send_clip_polygon(gdsf, *info);
    CoordPoint corners[3] = {};
    place_corners(*info, r.g, info->height, info->height, corners);
    if (r.g.format == KX_PIXELS_INDEX8)
        // SetColorTable reports its own failure; the image goes on without it.
        (void)SetColorTable(setup, 0, kPaletteEntries, FPXMonoTable.data());
    const int32_t size[2] = {info->width, info->height};
    BeginImage(gdsf, corners, size, r.g.format, kImageArg1, kImageArg2, kImageArg3, kImageArg4);
    ImageScope image(gdsf);
    // An image without a row or a column (only a record the driver did not
    // check can hold one) draws nothing.
    if (!drawable)
        return KX_OK;

    r.filtering = info->filteringValue != 0.0f;
    if (const int32_t rc = take_buffers(r))
        return rc;
    plan_colour(*info, r.g, r.plan);
    if (!r.plan.draw)
        return KX_OK;
    if (const int32_t rc = prepare_colour(r))
        return rc;
    start_parallel(r, import_threads(*setup));

    const TileGeometry &g = r.g;
    int32_t top = g.height;
    for (int32_t s = 0; s < g.strips; ++s) {
        if (const int32_t rc = decode_strip_parallel(r, s))
            return rc;
        const int32_t rows =
            s == g.strips - 1 ? g.height - s * g.tileHeight : std::min(g.tileHeight, g.height);
        if (r.filtering)
            filter_strip(r, s, top);
        else
            send_strip(r, s, rows, top);
        setup->progressPercent = kPercentAll / (g.strips - s);
        if (const int32_t rc = esc_chk(setup))
            return rc;
    }
    return KX_OK;
}

} // namespace kxfpx::fpx
