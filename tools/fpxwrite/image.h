// The pictures fpxwrite works on: 8-bit interleaved samples with one (grey),
// two (grey, alpha), three (RGB) or four (RGBA) channels; loading from PNG
// or PPM/PGM, the built-in synthetic picture, and 2 x 2 averaging for the
// lower resolutions.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace fpxw {

struct Image {
    int width = 0;
    int height = 0;
    int channels = 0;  // 1 grey, 2 grey+alpha, 3 RGB, 4 RGBA
    std::vector<uint8_t> samples;  // rows top to bottom, channels interleaved

    bool has_alpha() const { return channels == 2 || channels == 4; }
    bool is_grey() const { return channels <= 2; }
    const uint8_t *pixel(int x, int y) const
    {
        return samples.data() + (size_t(y) * size_t(width) + size_t(x)) * size_t(channels);
    }
};

// Largest width or height accepted (the FlashPix reader refuses more) and
// the largest pixel count, which bounds the memory the writer takes.
inline constexpr int kMaxDimension = 65535;
inline constexpr uint64_t kMaxPixels = uint64_t(1) << 28;

// An empty string on success, else what went wrong. The sides are taken as
// read from a file header, so none is cut to an int before it is checked.
std::string check_size(int64_t width, int64_t height);

// Reads a PNG (any colour type or depth, reduced to 8 bits; alpha kept) or a
// binary PPM/PGM (P6/P5, maxval up to 255), chosen by the file's signature.
std::string load_image(const std::string &path, Image &out);
std::string load_png(const std::string &path, Image &out);
std::string load_pnm(const std::string &path, Image &out);

// Writes an 8-bit PNG of an image (used by tests and --dump).
std::string save_png(const std::string &path, const Image &image);

// A deterministic photo-like RGBA picture: a sky gradient, a sun with a soft
// rim, hills with sharp edges, textured ground, stripes and a checker block;
// the alpha channel falls off towards the corners.
Image make_synthetic(int width, int height);

// The next lower resolution: floor(width / 2) x floor(height / 2) (at least
// 1), every sample the rounded mean of its 2 x 2 source block; an odd last
// column or row of the source is dropped.
Image halve(const Image &source);

} // namespace fpxw
