// Geometry of the chosen resolution (row stride, tile and strip counts, the
// image span X) and the placement of the image on the output: the three
// corner points of every band and the region-of-interest clip polygon, all
// passed through the affine matrix.
#include "fpx/fpx_format.h"
#include "fpx/tile_render.h"
#include "fpx/truncate.h"

#include "output/gdsf.h"

#include <cmath>

using namespace kxfpx::output;

namespace kxfpx::fpx {

namespace {

constexpr int32_t kBitsMono = 8, kBitsColour = 24;
// The driver refuses larger images with 21; a direct caller gets nothing drawn.
constexpr int32_t kMaxSide = 65535;
constexpr int32_t kClipRegion = 1;
constexpr int32_t kClipIndicator = 2;
constexpr int32_t kClipPoints = 4;
constexpr float kSpanLimit = 4294967296.0f;

CoordPoint point(int64_t x, int64_t y)
{
    // Only the low 32 bits of a slot are read; wrap explicitly.
    return CoordPoint{static_cast<int32_t>(static_cast<uint32_t>(x)),
                      static_cast<int32_t>(static_cast<uint32_t>(y))};
}

// X = H x R converted to an unsigned integer: a negative or NaN product (a
// hostile aspect ratio) gives 0 and one beyond 32 bits saturates, instead of
// an undefined conversion.
int32_t image_span(int32_t height, float aspect)
{
    const float v = static_cast<float>(height) * aspect;
    if (!(v >= 0.0f))
        return 0;
    if (v >= kSpanLimit)
        return static_cast<int32_t>(UINT32_MAX);
    return static_cast<int32_t>(static_cast<uint32_t>(v));
}

} // namespace

bool compute_geometry(const SubimageInfo &info, TileGeometry &g)
{
    g.width = info.width;
    g.height = info.height;
    // The driver fixes the tile size at 64 x 64; every buffer size follows
    // the constant rather than the record.
    g.tileWidth = g.tileHeight = static_cast<int32_t>(kTileSize);
    const bool mono = (info.channelColour[0].colourSpace & kColourSpaceBits) == kColourSpaceMono;
    g.channels = mono ? 1 : 3;
    g.format = mono ? KX_PIXELS_INDEX8 : KX_PIXELS_RGB24;
    g.span = image_span(info.height, info.aspectRatio);
    if (g.width < 1 || g.height < 1 || g.width > kMaxSide || g.height > kMaxSide)
        return false;
    const int32_t bits = mono ? kBitsMono : kBitsColour;
    g.stride = ((g.width * bits + 7) / 8 + 3) & ~3;
    g.tileBytes = static_cast<uint32_t>(g.tileWidth * g.channels * g.tileHeight);
    g.tilesAcross = (g.width + g.tileWidth - 1) / g.tileWidth;
    g.strips = static_cast<int32_t>(std::ceil(static_cast<double>(g.height) / g.tileHeight));
    g.tileRowBytes = g.tileWidth * g.channels;
    g.lastTileRowBytes = g.channels * (g.width - (g.tilesAcross - 1) * g.tileWidth);
    return true;
}

void place_corners(const SubimageInfo &info, const TileGeometry &g, int32_t top, int32_t rows,
                   CoordPoint out[3])
{
    const CoordPoint in[3] = {point(0, top), point(g.span, int64_t{top} - rows),
                              point(g.span, top)};
    TransformPts(in, out, 3, info.affineMatrix);
}

void send_clip_polygon(GdsfHandle *gdsf, const SubimageInfo &info)
{
    const float *g = info.regionOfInterest;
    // The third value (the right edge) is not part of the test.
    if (g[0] == 0.0f && g[1] == 0.0f && g[3] == 1.0f)
        return;
    const int32_t H = info.height;
    // Each product is truncated first, then subtracted from H.
    auto edge = [H](float v) { return int64_t{truncate_saturated(static_cast<float>(H) * v)}; };
    const int64_t left = edge(g[0]), right = edge(g[2]);
    const int64_t top = H - edge(g[1]), bottom = H - edge(g[3]);
    const CoordPoint in[kClipPoints] = {point(left, top), point(left, bottom),
                                        point(right, bottom), point(right, top)};
    CoordPoint out[kClipPoints] = {};
    TransformPts(in, out, kClipPoints, info.affineMatrix);
    BeginRegion(gdsf, kClipRegion);
    Polygon(gdsf, kClipPoints, out);
    EndRegion(gdsf);
    SetRegionIndicator(gdsf, kClipRegion, kClipIndicator);
}

} // namespace kxfpx::fpx
