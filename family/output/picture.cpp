// Rendering of the picture: the canvas follows the picture extent (first
// corner to second corner; x grows from the first corner's x, the second
// corner's y is the top row, so a reversed corner mirrors that axis). A band
// of rows is placed by three corner points, the start of its first row, the
// opposite corner and the end of its first row; every canvas pixel whose
// centre falls inside the band takes the nearest source pixel. An upright
// band at scale 1 is copied row by row.
#include "picture.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>

namespace zo {

namespace {

// Canvas pixels whose centre c + 0.5 lies in [a, b): first and one-past-last.
void centre_span(double a, double b, int64_t limit, int64_t &first, int64_t &end)
{
    first = std::max<int64_t>(0, static_cast<int64_t>(std::ceil(a - 0.5)));
    end = std::min<int64_t>(limit, static_cast<int64_t>(std::ceil(b - 0.5)));
}

} // namespace

int32_t check_image(const int32_t *size, int32_t format)
{
    if (format != KX_PIXELS_RGB24 && format != KX_PIXELS_INDEX8)
        return KX_GDSF_ERR_UNSUPPORTED;
    if (!size || size[0] <= 0 || size[1] < 0 || size[0] > kMaxImageSide ||
        size[1] > kMaxImageSide)
        return KX_GDSF_ERR_PARAMETER;
    return KX_GDSF_ERR_NONE;
}

int64_t row_bytes(int64_t columns, int32_t format)
{
    return format == KX_PIXELS_INDEX8 ? columns : 3 * columns;
}

int64_t row_stride(int64_t columns, int32_t format)
{
    return (row_bytes(columns, format) + 3) & ~int64_t{3};
}

void Picture::FreeDeleter::operator()(uint8_t *p) const { std::free(p); }

struct Picture::Band {
    Point c0;          // start of the first row, canvas space
    Point u;           // along a row: from c0 to the end of the first row
    Point v;           // across rows: from the end of the first row to the opposite corner
    int32_t columns, rows, format;
    const uint8_t *data;
    int64_t stride;
};

Picture::Picture()
{
    for (int i = 0; i < kColourEntries; ++i)
        colours_[i][0] = colours_[i][1] = colours_[i][2] = static_cast<uint8_t>(i);
}

void Picture::begin()
{
    pixels_.reset();
    extent_error_ = KX_GDSF_ERR_STATE;
    drawn_ = drew_rgb_ = drew_indexed_ = false;
    regions_.clear();
    region_open_ = false;
    clip_on_ = false;
    mask_valid_ = false;
    mask_.clear();
}

int32_t Picture::set_extent(const CoordRect &rect)
{
    const int32_t x1 = low32(rect.x1), y1 = low32(rect.y1);
    const int32_t x2 = low32(rect.x2), y2 = low32(rect.y2);
    const int64_t w = std::llabs(int64_t{x2} - x1), h = std::llabs(int64_t{y2} - y1);
    pixels_.reset();
    mask_valid_ = false;
    // No canvas is drawn on after a refusal, neither a new one nor that of
    // an earlier extent: the refusal stands for the rest of the picture.
    if (w == 0 || h == 0)
        return extent_error_ = KX_GDSF_ERR_PARAMETER;
    if (w > kMaxCanvasPixels / h)
        return extent_error_ = KX_GDSF_ERR_MEMORY;
    extent_error_ = KX_GDSF_ERR_NONE;
    x1_ = x1;
    y1_ = y1;
    x2_ = x2;
    y2_ = y2;
    width_ = static_cast<int32_t>(w);
    height_ = static_cast<int32_t>(h);
    return KX_GDSF_ERR_NONE;
}

static uint8_t component(int32_t value)
{
    return static_cast<uint8_t>(std::clamp(value, 0, 255));
}

void Picture::set_background(const ColourRec &colour)
{
    background_[0] = component(colour.red);
    background_[1] = component(colour.green);
    background_[2] = component(colour.blue);
    // A background set before anything was drawn still paints the canvas.
    if (pixels_ && !drawn_)
        pixels_.reset();
}

void Picture::set_colours(uint16_t first, int32_t count, const ColourRec *colours)
{
    for (int32_t k = 0; k < count && first + k < kColourEntries; ++k) {
        colours_[first + k][0] = component(colours[k].red);
        colours_[first + k][1] = component(colours[k].green);
        colours_[first + k][2] = component(colours[k].blue);
    }
}

void Picture::begin_region(int32_t index)
{
    regions_[index].clear();
    open_region_ = index;
    region_open_ = true;
    mask_valid_ = false;
}

void Picture::end_region() { region_open_ = false; }

int32_t Picture::add_polygon(int32_t count, const CoordPoint *points)
{
    if (count < 3 || count > kMaxPolygonPoints || !points)
        return KX_GDSF_ERR_PARAMETER;
    // Outside a region there is nothing to fill a polygon with: ignored.
    if (!region_open_)
        return KX_GDSF_ERR_NONE;
    regions_[open_region_].emplace_back(points, points + count);
    mask_valid_ = false;
    return KX_GDSF_ERR_NONE;
}

// Indicator 0 draws everywhere; any other value clips drawing to the inside
// of the region (even-odd rule over all its polygons).
void Picture::set_region_indicator(int32_t index, int32_t indicator)
{
    clip_on_ = indicator != 0;
    clip_region_ = index;
    mask_valid_ = false;
}

int32_t Picture::ensure_canvas()
{
    if (pixels_)
        return KX_GDSF_ERR_NONE;
    if (extent_error_ != KX_GDSF_ERR_NONE)
        return extent_error_;
    const size_t count = static_cast<size_t>(width_) * static_cast<size_t>(height_);
    const bool black = !background_[0] && !background_[1] && !background_[2];
    auto *p = static_cast<uint8_t *>(black ? std::calloc(count, 3) : std::malloc(count * 3));
    if (!p)
        return KX_GDSF_ERR_MEMORY;
    if (!black) {
        // Paint the first row, then copy it down.
        const size_t row = static_cast<size_t>(width_) * 3;
        for (size_t i = 0; i < row; i += 3)
            std::memcpy(p + i, background_, 3);
        for (int32_t y = 1; y < height_; ++y)
            std::memcpy(p + y * row, p, row);
    }
    pixels_.reset(p);
    return KX_GDSF_ERR_NONE;
}

// The placed image is the parallelogram of p0 (start of the first row), p2
// (its end) and p1 (the opposite corner); its fourth corner is p0 + p1 - p2.
// Only a turned or sheared placement grows the canvas: rows that run along
// the x axis and columns along the y axis (upright, mirrored, scaled) keep
// exactly the extent's canvas. The grown canvas keeps the extent's
// orientation (a reversed corner still mirrors its axis) and what was drawn
// before, at its place.
int32_t Picture::cover_image(const CoordPoint &p0, const CoordPoint &p1, const CoordPoint &p2)
{
    if (extent_error_ != KX_GDSF_ERR_NONE)
        return KX_GDSF_ERR_NONE;
    const int64_t x0 = low32(p0.x), y0 = low32(p0.y), x1 = low32(p1.x), y1 = low32(p1.y);
    const int64_t x2 = low32(p2.x), y2 = low32(p2.y);
    if (y2 == y0 && x1 == x2)
        return KX_GDSF_ERR_NONE;
    const int64_t xs[4] = {x0, x1, x2, x0 + x1 - x2}, ys[4] = {y0, y1, y2, y0 + y1 - y2};
    int64_t left = std::min<int64_t>(x1_, x2_), right = std::max<int64_t>(x1_, x2_);
    int64_t bottom = std::min<int64_t>(y1_, y2_), top = std::max<int64_t>(y1_, y2_);
    for (int k = 0; k < 4; ++k) {
        left = std::min(left, xs[k]);
        right = std::max(right, xs[k]);
        bottom = std::min(bottom, ys[k]);
        top = std::max(top, ys[k]);
    }
    const int64_t w = right - left, h = top - bottom;
    if (w == width_ && h == height_)
        return KX_GDSF_ERR_NONE;
    // A canvas beyond the bound (or beyond 32-bit corners) stays as it is:
    // the part of the image outside the extent is then cut off.
    if (w > kMaxCanvasPixels / h || left < INT32_MIN || right > INT32_MAX || bottom < INT32_MIN ||
        top > INT32_MAX)
        return KX_GDSF_ERR_NONE;
    const bool mirrorX = x2_ < x1_, mirrorY = y2_ < y1_;
    const int32_t old_x1 = x1_, old_y2 = y2_, old_width = width_, old_height = height_;
    x1_ = static_cast<int32_t>(mirrorX ? right : left);
    x2_ = static_cast<int32_t>(mirrorX ? left : right);
    y1_ = static_cast<int32_t>(mirrorY ? top : bottom);
    y2_ = static_cast<int32_t>(mirrorY ? bottom : top);
    width_ = static_cast<int32_t>(w);
    height_ = static_cast<int32_t>(h);
    mask_valid_ = false;
    if (!pixels_)
        return KX_GDSF_ERR_NONE;
    // Re-make the canvas on the background and put the old one in place.
    std::unique_ptr<uint8_t, FreeDeleter> old(pixels_.release());
    if (const int32_t e = ensure_canvas())
        return e;
    const int64_t dx = (int64_t{old_x1} - x1_) * (mirrorX ? -1 : 1);
    const int64_t dy = (int64_t{y2_} - old_y2) * (mirrorY ? -1 : 1);
    const size_t old_row = static_cast<size_t>(old_width) * 3;
    for (int32_t y = 0; y < old_height; ++y)
        std::memcpy(pixels_.get() + ((y + dy) * width_ + dx) * 3, old.get() + y * old_row, old_row);
    return KX_GDSF_ERR_NONE;
}

Point Picture::to_canvas(const CoordPoint &p) const
{
    const double sx = x2_ >= x1_ ? 1.0 : -1.0, sy = y2_ >= y1_ ? 1.0 : -1.0;
    return {(static_cast<double>(low32(p.x)) - x1_) * sx,
            (static_cast<double>(y2_) - low32(p.y)) * sy};
}

bool Picture::build_clip_mask()
{
    mask_.assign(static_cast<size_t>(width_) * height_, 0);
    mask_valid_ = true;
    auto found = regions_.find(clip_region_);
    if (found == regions_.end())
        return true; // clipping to an empty region draws nothing
    struct Edge {
        Point a, b;
    };
    std::vector<Edge> edges;
    for (const auto &polygon : found->second)
        for (size_t k = 0; k < polygon.size(); ++k) {
            const Point a = to_canvas(polygon[k]);
            const Point b = to_canvas(polygon[(k + 1) % polygon.size()]);
            if (a.y != b.y)
                edges.push_back({a, b});
        }
    std::vector<double> crossings;
    for (int32_t cy = 0; cy < height_; ++cy) {
        const double y = cy + 0.5;
        crossings.clear();
        for (const Edge &e : edges)
            if ((e.a.y <= y && y < e.b.y) || (e.b.y <= y && y < e.a.y))
                crossings.push_back(e.a.x + (y - e.a.y) * (e.b.x - e.a.x) / (e.b.y - e.a.y));
        std::sort(crossings.begin(), crossings.end());
        for (size_t k = 0; k + 1 < crossings.size(); k += 2) {
            int64_t first, end;
            centre_span(crossings[k], crossings[k + 1], width_, first, end);
            if (first < end)
                std::memset(&mask_[static_cast<size_t>(cy) * width_ + first], 1,
                            static_cast<size_t>(end - first));
        }
    }
    return true;
}

bool Picture::clipped_out(int64_t cx, int64_t cy) const
{
    return clip_on_ && !mask_[static_cast<size_t>(cy) * width_ + cx];
}

void Picture::note_format(int32_t format)
{
    if (format == KX_PIXELS_INDEX8)
        drew_indexed_ = true;
    else
        drew_rgb_ = true;
}

int32_t Picture::draw_rows(const CoordPoint &p0, const CoordPoint &p1, const CoordPoint &p2,
                           int32_t columns, int32_t rows, int32_t format, const uint8_t *data)
{
    if (rows == 0)
        return KX_GDSF_ERR_NONE;
    if (!data)
        return KX_GDSF_ERR_PARAMETER;
    if (const int32_t e = ensure_canvas())
        return e;
    if (clip_on_ && !mask_valid_)
        build_clip_mask();
    note_format(format);
    drawn_ = true;

    const Point c0 = to_canvas(p0), c1 = to_canvas(p1), c2 = to_canvas(p2);
    const Band band = {c0,      {c2.x - c0.x, c2.y - c0.y},
                       {c1.x - c2.x, c1.y - c2.y},
                       columns, rows,
                       format,  data,
                       row_stride(columns, format)};
    if (band.u.x == columns && band.u.y == 0 && band.v.x == 0 && band.v.y == rows)
        draw_upright(band, static_cast<int64_t>(c0.x), static_cast<int64_t>(c0.y));
    else
        draw_general(band);
    return KX_GDSF_ERR_NONE;
}

void Picture::put_pixel(const Band &band, int64_t cx, int64_t cy, int32_t i, int32_t j)
{
    const uint8_t *row = band.data + j * band.stride;
    const uint8_t *rgb = band.format == KX_PIXELS_INDEX8 ? colours_[row[i]] : row + 3 * i;
    std::memcpy(pixels_.get() + (static_cast<size_t>(cy) * width_ + cx) * 3, rgb, 3);
}

// Upright at scale 1: source pixel (i, j) lands on canvas (left + i, top + j).
void Picture::draw_upright(const Band &band, int64_t left, int64_t top)
{
    const int64_t first_i = std::max<int64_t>(0, -left);
    const int64_t end_i = std::min<int64_t>(band.columns, int64_t{width_} - left);
    const int64_t first_j = std::max<int64_t>(0, -top);
    const int64_t end_j = std::min<int64_t>(band.rows, int64_t{height_} - top);
    if (first_i >= end_i)
        return;
    for (int64_t j = first_j; j < end_j; ++j) {
        const int64_t cy = top + j;
        if (band.format == KX_PIXELS_RGB24 && !clip_on_) {
            std::memcpy(pixels_.get() + (static_cast<size_t>(cy) * width_ + left + first_i) * 3,
                        band.data + j * band.stride + 3 * first_i,
                        static_cast<size_t>(end_i - first_i) * 3);
            continue;
        }
        for (int64_t i = first_i; i < end_i; ++i)
            if (!clipped_out(left + i, cy))
                put_pixel(band, left + i, cy, static_cast<int32_t>(i), static_cast<int32_t>(j));
    }
}

// Any affine placement: for each canvas row, the columns whose centres map
// inside the band are found from the two linear source coordinates, then
// each pixel is mapped back to its source pixel.
void Picture::draw_general(const Band &band)
{
    const double det = band.u.x * band.v.y - band.u.y * band.v.x;
    if (det == 0.0)
        return; // a band of no area covers no pixel centre
    const Point corners[4] = {band.c0,
                              {band.c0.x + band.u.x, band.c0.y + band.u.y},
                              {band.c0.x + band.u.x + band.v.x, band.c0.y + band.u.y + band.v.y},
                              {band.c0.x + band.v.x, band.c0.y + band.v.y}};
    double min_y = corners[0].y, max_y = corners[0].y;
    for (const Point &p : corners) {
        min_y = std::min(min_y, p.y);
        max_y = std::max(max_y, p.y);
    }
    int64_t first_row, end_row;
    centre_span(min_y, max_y, height_, first_row, end_row);
    const double nx = band.columns, ny = band.rows;
    // s (column) and t (row) of the source, linear in the canvas column.
    const double s_step = band.v.y * nx / det, t_step = -band.u.y * ny / det;
    for (int64_t cy = std::max<int64_t>(0, first_row - 1);
         cy < std::min<int64_t>(height_, end_row + 1); ++cy) {
        const double qy = cy + 0.5 - band.c0.y, qx0 = 0.5 - band.c0.x;
        const double s0 = (qx0 * band.v.y - qy * band.v.x) * nx / det;
        const double t0 = (band.u.x * qy - band.u.y * qx0) * ny / det;
        double lo = 0.0, hi = static_cast<double>(width_);
        auto narrow = [&](double start, double step, double limit) {
            if (step == 0.0) {
                if (!(start >= 0.0 && start < limit))
                    hi = lo - 1.0;
                return;
            }
            double a = (0.0 - start) / step, b = (limit - start) / step;
            if (a > b)
                std::swap(a, b);
            lo = std::max(lo, std::floor(a) - 1.0);
            hi = std::min(hi, std::ceil(b) + 1.0);
        };
        narrow(s0, s_step, nx);
        narrow(t0, t_step, ny);
        if (!(lo < hi))
            continue;
        const auto first = static_cast<int64_t>(lo), end = static_cast<int64_t>(hi);
        for (int64_t cx = first; cx < end; ++cx) {
            const double s = s0 + s_step * cx, t = t0 + t_step * cx;
            if (!(s >= 0.0 && s < nx && t >= 0.0 && t < ny))
                continue;
            if (clipped_out(cx, cy))
                continue;
            const auto i = std::min(static_cast<int32_t>(s), band.columns - 1);
            const auto j = std::min(static_cast<int32_t>(t), band.rows - 1);
            put_pixel(band, cx, cy, i, j);
        }
    }
}

bool Picture::is_grey() const
{
    if (!pixels_ || !drew_indexed_ || drew_rgb_)
        return false;
    const size_t count = static_cast<size_t>(width_) * height_;
    const uint8_t *p = pixels_.get();
    for (size_t k = 0; k < count; ++k, p += 3)
        if (p[0] != p[1] || p[1] != p[2])
            return false;
    return true;
}

} // namespace zo
