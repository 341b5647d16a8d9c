// The picture extent of an import: the region and aspect ratio completed
// from the resolution's size, the affine translations scaled to pixels, and
// the rectangle that the transformed image frame covers.
#include "fpx/import_stages.h"
#include "fpx/truncate.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace kxfpx::fpx {

namespace {

constexpr float kUnset = -1.0f;
constexpr int kRegionRight = 2;
constexpr int kTranslateX = 3, kTranslateY = 7;
constexpr int kScaleX = 0, kShearX = 1;
// A matrix whose first row has a length within this of 1 leaves the frame
// unscaled, and the extent is the image's own.
constexpr double kUnscaledTolerance = 0.02;
constexpr int kFrameCorners = 4;

// The rectangle's slots carry their value in the low 32 bits only.
int64_t slot_of(int32_t value) { return static_cast<int64_t>(static_cast<uint32_t>(value)); }
int32_t low32(int64_t slot) { return static_cast<int32_t>(static_cast<uint32_t>(slot)); }

} // namespace


CoordRect picture_extent(SubimageInfo &info, int32_t width, int32_t height)
{
    const float ratio = static_cast<float>(width) / static_cast<float>(height);
    if (info.regionOfInterest[kRegionRight] == kUnset)
        info.regionOfInterest[kRegionRight] = ratio;
    if (info.aspectRatio == kUnset)
        info.aspectRatio = ratio;
    const float r = info.aspectRatio;
    const float h = static_cast<float>(height);
    info.affineMatrix[kTranslateX] *= h;
    info.affineMatrix[kTranslateY] *= h;

    const double m0 = info.affineMatrix[kScaleX], m1 = info.affineMatrix[kShearX];
    const double length = std::sqrt(m0 * m0 + m1 * m1);
    int32_t top = 0, bottom = height;
    CoordRect rect{};
    if (!(std::fabs(length - 1.0) <= kUnscaledTolerance)) {
        const int32_t x = truncate_saturated(h * r);
        const CoordPoint frame[kFrameCorners] = {
            {0, 0}, {0, slot_of(height)}, {slot_of(x), slot_of(height)}, {slot_of(x), 0}};
        CoordPoint moved[kFrameCorners] = {};
        TransformPts(frame, moved, kFrameCorners, info.affineMatrix);
        int32_t minX = low32(moved[0].x), maxX = minX, minY = low32(moved[0].y), maxY = minY;
        for (const CoordPoint &p : moved) {
            minX = std::min(minX, low32(p.x));
            maxX = std::max(maxX, low32(p.x));
            minY = std::min(minY, low32(p.y));
            maxY = std::max(maxY, low32(p.y));
        }
        if (minY > minX) {
            const float left = static_cast<float>(minX);
            rect.x1 = slot_of(minX);
            rect.y1 = slot_of(truncate_saturated(std::fabs(left) * (1.0f - r) + left));
            rect.x2 = slot_of(maxX);
            rect.y2 = slot_of(truncate_saturated(static_cast<float>(maxX) / r));
            return rect;
        }
        top = minY;
        bottom = maxY;
    }
    const float t = static_cast<float>(top);
    rect.x1 = slot_of(truncate_saturated(std::fabs(t) * (1.0f - r) + t));
    rect.y1 = slot_of(top);
    rect.x2 = slot_of(truncate_saturated(static_cast<float>(bottom) * r));
    rect.y2 = slot_of(bottom);
    return rect;
}

} // namespace kxfpx::fpx
