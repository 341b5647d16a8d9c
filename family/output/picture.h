// The picture the output library draws: a canvas the size of the picture
// extent on the background colour, the colour table, the clip regions, and
// bands of pixel rows placed through three corner points.
#pragma once

#include <kxfpx/output.h>

#include <cstdint>
#include <map>
#include <memory>
#include <vector>

namespace zo {

// Pictures larger than this many pixels are refused; a canvas grown for a
// turned image stays within the same bound.
constexpr int64_t kMaxCanvasPixels = int64_t{1} << 28;
// Image rows wider or taller than this are refused.
constexpr int64_t kMaxImageSide = int64_t{1} << 28;
// Polygons with more points than this are refused.
constexpr int32_t kMaxPolygonPoints = 1 << 20;
constexpr int kColourEntries = 256;

struct Point {
    double x, y;
};

// A coordinate as the library reads it: the low 32 bits of its 64-bit slot.
inline int32_t low32(int64_t slot) { return static_cast<int32_t>(static_cast<uint32_t>(slot)); }

class Picture {
public:
    Picture();

    // Forgets the canvas, the extent, the regions and the clip: a new picture.
    void begin();
    // Returns an output error code (0 when accepted). A refused extent leaves
    // the picture without one: drawing then answers with the same code.
    int32_t set_extent(const CoordRect &rect);
    void set_background(const ColourRec &colour);
    void set_colours(uint16_t first, int32_t count, const ColourRec *colours);

    void begin_region(int32_t index);
    void end_region();
    int32_t add_polygon(int32_t count, const CoordPoint *points);
    void set_region_indicator(int32_t index, int32_t indicator);

    // Allocates the canvas when the extent allows it; 0 or an error code.
    int32_t ensure_canvas();
    // Grows the canvas so that it covers the image placed by BeginImage's
    // three corner points as well as the extent; an upright placement keeps
    // the extent's canvas as it is. 0 or an error code.
    int32_t cover_image(const CoordPoint &p0, const CoordPoint &p1, const CoordPoint &p2);
    // Draws one band of rows that passed check_image; 0 or an error code.
    int32_t draw_rows(const CoordPoint &p0, const CoordPoint &p1, const CoordPoint &p2,
                      int32_t columns, int32_t rows, int32_t format, const uint8_t *data);
    // Notes the pixel format of an image about to be drawn.
    void note_format(int32_t format);

    bool has_canvas() const { return pixels_ != nullptr; }
    int32_t width() const { return width_; }
    int32_t height() const { return height_; }
    const uint8_t *pixels() const { return pixels_.get(); }
    // True when only indexed images were drawn and every pixel is grey.
    bool is_grey() const;
    bool drawn() const { return drawn_; }

private:
    struct FreeDeleter {
        void operator()(uint8_t *p) const;
    };
    struct Band;

    Point to_canvas(const CoordPoint &p) const;
    bool build_clip_mask();
    void draw_upright(const Band &band, int64_t left, int64_t top);
    void draw_general(const Band &band);
    void put_pixel(const Band &band, int64_t cx, int64_t cy, int32_t i, int32_t j);
    bool clipped_out(int64_t cx, int64_t cy) const;

    // 0 while an accepted extent stands; else why drawing is refused: the
    // refused extent's error, or the state error before any extent.
    int32_t extent_error_ = KX_GDSF_ERR_STATE;
    int32_t x1_ = 0, y1_ = 0, x2_ = 0, y2_ = 0;
    int32_t width_ = 0, height_ = 0;
    uint8_t background_[3] = {0, 0, 0};
    uint8_t colours_[kColourEntries][3];
    std::unique_ptr<uint8_t, FreeDeleter> pixels_;
    bool drawn_ = false;
    bool drew_rgb_ = false;
    bool drew_indexed_ = false;

    std::map<int32_t, std::vector<std::vector<CoordPoint>>> regions_;
    int32_t open_region_ = 0;
    bool region_open_ = false;
    int32_t clip_region_ = 0;
    bool clip_on_ = false;
    bool mask_valid_ = false;
    std::vector<uint8_t> mask_;
};

// Whether a band of size {columns, rows} in `format` can be drawn: 0, or
// the output error (an unknown format first, then a missing or bad size).
int32_t check_image(const int32_t *size, int32_t format);

// Bytes in one padded row of `columns` pixels of the format (-24 or -8):
// rounded up to a multiple of 4.
int64_t row_stride(int64_t columns, int32_t format);
// Bytes of pixel data in one row, without the padding.
int64_t row_bytes(int64_t columns, int32_t format);

} // namespace zo
