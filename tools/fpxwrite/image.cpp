// Picture input and resampling for fpxwrite: PNG through libpng's simplified
// API, binary PPM/PGM by a small header parser, the synthetic picture (pure
// integer arithmetic, so it is the same on every machine), and 2 x 2 means.
#include "image.h"

#include <png.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>

namespace fpxw {

namespace {

struct FileCloser {
    void operator()(FILE *f) const { std::fclose(f); }
};
using FilePtr = std::unique_ptr<FILE, FileCloser>;

// Bytes that start every PNG file.
constexpr uint8_t kPngSignature[8] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};

} // namespace

std::string check_size(int64_t width, int64_t height)
{
    if (width < 1 || height < 1)
        return "the picture is empty";
    if (width > kMaxDimension || height > kMaxDimension)
        return "the picture is larger than 65535 pixels in a dimension";
    if (uint64_t(width) * uint64_t(height) > kMaxPixels)
        return "the picture has more than 2^28 pixels";
    return {};
}

std::string load_png(const std::string &path, Image &out)
{
    png_image png;
    std::memset(&png, 0, sizeof png);
    png.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&png, path.c_str()))
        return "cannot read PNG " + path + ": " + png.message;
    const bool alpha = (png.format & PNG_FORMAT_FLAG_ALPHA) != 0;
    const bool colour = (png.format & PNG_FORMAT_FLAG_COLOR) != 0;
    // Palette images count as colour; 16-bit samples are reduced to 8.
    png.format = colour ? (alpha ? PNG_FORMAT_RGBA : PNG_FORMAT_RGB)
                        : (alpha ? PNG_FORMAT_GA : PNG_FORMAT_GRAY);
    const std::string err = check_size(png.width, png.height);
    if (!err.empty()) {
        png_image_free(&png);
        return err;
    }
    Image img;
    img.width = int(png.width);
    img.height = int(png.height);
    img.channels = int(PNG_IMAGE_PIXEL_CHANNELS(png.format));
    img.samples.resize(PNG_IMAGE_SIZE(png));
    if (!png_image_finish_read(&png, nullptr, img.samples.data(), 0, nullptr)) {
        std::string msg = png.message;
        png_image_free(&png);
        return "cannot decode PNG " + path + ": " + msg;
    }
    out = std::move(img);
    return {};
}

namespace {

// Reads the next header token of a PNM file, skipping white space and
// comments; -1 when there is no number.
long pnm_number(FILE *f)
{
    int c = std::fgetc(f);
    for (;;) {
        if (c == '#') {
            while (c != EOF && c != '\n')
                c = std::fgetc(f);
        } else if (c == ' ' || c == '\t' || c == '\r' || c == '\n') {
            c = std::fgetc(f);
        } else {
            break;
        }
    }
    if (c < '0' || c > '9')
        return -1;
    long value = 0;
    while (c >= '0' && c <= '9') {
        if (value > 1000000)
            return -1;
        value = value * 10 + (c - '0');
        c = std::fgetc(f);
    }
    // c is the single white-space byte that ends the token (or the first
    // byte of the raster after maxval, which must be white space too).
    return value;
}

} // namespace

std::string load_pnm(const std::string &path, Image &out)
{
    FilePtr f(std::fopen(path.c_str(), "rb"));
    if (!f)
        return "cannot open " + path;
    char magic[2];
    if (std::fread(magic, 1, 2, f.get()) != 2 || magic[0] != 'P' || (magic[1] != '5' && magic[1] != '6'))
        return path + " is not a binary PPM or PGM file";
    const long w = pnm_number(f.get());
    const long h = pnm_number(f.get());
    const long maxval = pnm_number(f.get());
    if (w < 1 || h < 1 || maxval < 1 || maxval > 255)
        return path + ": unsupported PNM header (only maxval up to 255)";
    std::string err = check_size(w, h);
    if (!err.empty())
        return err;
    // The raster must be in the file before any memory is taken for it.
    const int channels = magic[1] == '6' ? 3 : 1;
    const long raster_start = std::ftell(f.get());
    if (raster_start < 0 || std::fseek(f.get(), 0, SEEK_END) != 0)
        return path + ": cannot size the file";
    const long file_end = std::ftell(f.get());
    if (file_end < raster_start ||
        uint64_t(file_end - raster_start) < uint64_t(w) * uint64_t(h) * uint64_t(channels) ||
        std::fseek(f.get(), raster_start, SEEK_SET) != 0)
        return path + ": the raster is truncated";
    Image img;
    img.width = int(w);
    img.height = int(h);
    img.channels = channels;
    img.samples.resize(size_t(w) * size_t(h) * size_t(img.channels));
    if (std::fread(img.samples.data(), 1, img.samples.size(), f.get()) != img.samples.size())
        return path + ": the raster is truncated";
    if (maxval != 255)
        for (uint8_t &s : img.samples)
            s = uint8_t((std::min<long>(s, maxval) * 255 + maxval / 2) / maxval);
    out = std::move(img);
    return {};
}

std::string load_image(const std::string &path, Image &out)
{
    uint8_t head[8] = {};
    {
        FilePtr f(std::fopen(path.c_str(), "rb"));
        if (!f)
            return "cannot open " + path;
        if (std::fread(head, 1, sizeof head, f.get()) < 2)
            return path + " is too short to be a picture";
    }
    if (std::memcmp(head, kPngSignature, sizeof kPngSignature) == 0)
        return load_png(path, out);
    if (head[0] == 'P' && (head[1] == '5' || head[1] == '6'))
        return load_pnm(path, out);
    return path + " is neither a PNG nor a binary PPM/PGM file";
}

std::string save_png(const std::string &path, const Image &image)
{
    png_image png;
    std::memset(&png, 0, sizeof png);
    png.version = PNG_IMAGE_VERSION;
    png.width = uint32_t(image.width);
    png.height = uint32_t(image.height);
    static const uint32_t formats[5] = {0, PNG_FORMAT_GRAY, PNG_FORMAT_GA, PNG_FORMAT_RGB, PNG_FORMAT_RGBA};
    if (image.channels < 1 || image.channels > 4)
        return "bad channel count";
    png.format = formats[image.channels];
    if (!png_image_write_to_file(&png, path.c_str(), 0, image.samples.data(), 0, nullptr))
        return "cannot write PNG " + path + ": " + png.message;
    return {};
}

namespace {

uint32_t hash2(uint32_t x, uint32_t y)
{
    uint32_t h = x * 0x9E3779B1u ^ (y + 0x7F4A7C15u) * 0x85EBCA77u;
    h ^= h >> 15;
    h *= 0x2C1B3C6Du;
    h ^= h >> 12;
    h *= 0x297A2D39u;
    h ^= h >> 15;
    return h;
}

uint8_t clamp255(int v) { return uint8_t(v < 0 ? 0 : v > 255 ? 255 : v); }

// a + (b - a) * t / scale for t in 0 .. scale.
int lerp(int a, int b, int64_t t, int64_t scale) { return int(a + (int64_t(b - a) * t) / scale); }

} // namespace

Image make_synthetic(int width, int height)
{
    Image img;
    if (!check_size(width, height).empty())
        return img;
    img.width = width;
    img.height = height;
    img.channels = 4;
    img.samples.resize(size_t(width) * size_t(height) * 4);

    const int64_t w = width, h = height;
    const int64_t sun_x = w * 3 / 4, sun_y = h / 4;
    const int64_t sun_r = std::max<int64_t>(2, std::min(w, h) / 9);
    const int64_t rim = std::max<int64_t>(1, sun_r / 3);
    for (int64_t y = 0; y < h; ++y) {
        uint8_t *row = img.samples.data() + size_t(y) * size_t(w) * 4;
        for (int64_t x = 0; x < w; ++x) {
            int r, g, b;
            // Horizon: a triangle wave of two periods over the width.
            const int64_t period = std::max<int64_t>(2, w / 2);
            const int64_t phase = x % period;
            const int64_t tri = phase < period / 2 ? phase : period - phase;  // 0 .. period/2
            const int64_t horizon = h * 11 / 20 - (tri * h / 5) / std::max<int64_t>(1, period / 2) + h / 10;
            if (y < horizon) {
                // Sky gradient, then the sun with a soft rim.
                const int64_t sky = std::max<int64_t>(1, h * 7 / 10);
                r = lerp(60, 200, y, sky);
                g = lerp(110, 220, y, sky);
                b = lerp(200, 245, y, sky);
                const int64_t dx = x - sun_x, dy = y - sun_y;
                const int64_t d2 = dx * dx + dy * dy;
                const int64_t inner = (sun_r - rim) * (sun_r - rim), outer = sun_r * sun_r;
                if (d2 <= inner) {
                    r = 255, g = 232, b = 150;
                } else if (d2 < outer) {
                    const int64_t t = outer - d2, span = outer - inner;
                    r = lerp(r, 255, t, span);
                    g = lerp(g, 232, t, span);
                    b = lerp(b, 150, t, span);
                }
            } else {
                // Textured ground, darker towards the bottom.
                const int noise = int(hash2(uint32_t(x), uint32_t(y)) % 41) - 20;
                const int64_t depth = y - horizon;
                r = lerp(70, 40, depth, std::max<int64_t>(1, h - horizon)) + noise / 2;
                g = lerp(150, 95, depth, std::max<int64_t>(1, h - horizon)) + noise;
                b = lerp(60, 35, depth, std::max<int64_t>(1, h - horizon)) + noise / 3;
                // A flat wall on the left, stripes and a checker block on
                // the right: flat areas, fine detail and hard edges.
                if (x >= w / 20 && x < w * 7 / 20 && y >= h * 7 / 10 && y < h * 19 / 20) {
                    r = 150, g = 96, b = 64;
                } else if (x >= w * 11 / 20 && x < w * 14 / 20 && y >= h * 3 / 4) {
                    const int v = (x / 2) % 2 ? 235 : 25;
                    r = g = b = v;
                } else if (x >= w * 15 / 20 && x < w * 19 / 20 && y >= h * 3 / 4) {
                    const bool on = ((x / 8) + (y / 8)) % 2 != 0;
                    r = on ? 220 : 30, g = on ? 40 : 30, b = on ? 40 : 160;
                }
            }
            // Alpha: opaque in the middle, down to 64 at the corners.
            const int64_t cx = 2 * x - (w - 1), cy = 2 * y - (h - 1);
            const int64_t n = cx * cx * h * h + cy * cy * w * w;  // normalised radius^2
            const int64_t full = 2 * w * w * h * h;
            const int a = 255 - int(191 * std::min<int64_t>(n, full) / full);
            uint8_t *p = row + x * 4;
            p[0] = clamp255(r);
            p[1] = clamp255(g);
            p[2] = clamp255(b);
            p[3] = clamp255(a);
        }
    }
    return img;
}

Image halve(const Image &source)
{
    Image out;
    out.width = std::max(1, source.width / 2);
    out.height = std::max(1, source.height / 2);
    out.channels = source.channels;
    out.samples.resize(size_t(out.width) * size_t(out.height) * size_t(out.channels));
    const int c = source.channels;
    for (int y = 0; y < out.height; ++y) {
        const int y0 = std::min(2 * y, source.height - 1), y1 = std::min(2 * y + 1, source.height - 1);
        uint8_t *dst = out.samples.data() + size_t(y) * size_t(out.width) * size_t(c);
        for (int x = 0; x < out.width; ++x) {
            const int x0 = std::min(2 * x, source.width - 1), x1 = std::min(2 * x + 1, source.width - 1);
            const uint8_t *a = source.pixel(x0, y0), *b = source.pixel(x1, y0);
            const uint8_t *d = source.pixel(x0, y1), *e = source.pixel(x1, y1);
            for (int k = 0; k < c; ++k)
                dst[x * c + k] = uint8_t((a[k] + b[k] + d[k] + e[k] + 2) / 4);
        }
    }
    return out;
}

} // namespace fpxw
