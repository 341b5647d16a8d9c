// Colour of the stored channels: channel codes, and the sample conversions
// that make a stored image decode back to the input through the reader's
// colour steps (PhotoYCC and YCbCr tables, opacity weighting, reordering).
#include "colour.h"

#include "fpx/fpx_format.h"

#include <cmath>

namespace fpxw {

using namespace kxfpx::fpx;

namespace {

uint8_t round_clamp(double v)
{
    if (v <= 0.0)
        return 0;
    if (v >= 255.0)
        return 255;
    return uint8_t(v + 0.5);
}

int colour_channels(const WriteOptions &o) { return o.colour == ColourSpace::monochrome ? 1 : 3; }

} // namespace

std::vector<ChannelSpec> channel_layout(const WriteOptions &o)
{
    std::vector<ChannelSpec> layout;
    const int colours = colour_channels(o);
    if (o.colour == ColourSpace::rgb) {
        for (char c : o.channel_order) {
            switch (c) {
            case 'R': layout.push_back({0, kSpaceRgb, 0, false}); break;
            case 'G': layout.push_back({1, kSpaceRgb, 1, false}); break;
            case 'B': layout.push_back({2, kSpaceRgb, 2, false}); break;
            default: layout.push_back({kChannelOpacity, kSpaceRgb, 3, false}); break;
            }
        }
        if (o.colour_conversion == 1) {
            layout[1].chroma = true;
            layout[2].chroma = true;
        }
    } else {
        const uint16_t space = o.colour == ColourSpace::monochrome ? kSpaceMonochrome : kSpacePhotoYcc;
        for (int i = 0; i < colours; ++i)
            layout.push_back({uint16_t(i), space, i, o.colour == ColourSpace::photoycc && i > 0});
        if (o.opacity)
            layout.push_back({kChannelOpacity, space, colours, false});
    }
    if (o.invert)
        layout[0].code = uint16_t(layout[0].code | kChannelInvertBit);
    return layout;
}

Image working_picture(const Image &in, const WriteOptions &o)
{
    Image out;
    out.width = in.width;
    out.height = in.height;
    const int colours = colour_channels(o);
    out.channels = colours + (o.opacity ? 1 : 0);
    out.samples.resize(size_t(in.width) * size_t(in.height) * size_t(out.channels));
    const size_t n = size_t(in.width) * size_t(in.height);
    for (size_t i = 0; i < n; ++i) {
        const uint8_t *p = in.samples.data() + i * size_t(in.channels);
        uint8_t *q = out.samples.data() + i * size_t(out.channels);
        uint8_t r, g, b, a = 255;
        if (in.is_grey()) {
            r = g = b = p[0];
        } else {
            r = p[0], g = p[1], b = p[2];
        }
        if (in.has_alpha())
            a = p[in.channels - 1];
        if (colours == 1) {
            q[0] = in.is_grey() ? p[0] : uint8_t((299 * r + 587 * g + 114 * b + 500) / 1000);
        } else {
            q[0] = r, q[1] = g, q[2] = b;
        }
        if (o.opacity)
            q[colours] = a;
    }
    return out;
}

void rgb_to_photoycc(const uint8_t rgb[3], uint8_t ycc[3])
{
    const double r = rgb[0], g = rgb[1], b = rgb[2];
    const double luma = 0.299 * r + 0.587 * g + 0.114 * b;
    ycc[0] = round_clamp(luma / 1.358);
    ycc[1] = round_clamp((b - luma) / 2.2179 + 156.0);
    ycc[2] = round_clamp((r - luma) / 1.8215 + 137.0);
}

void rgb_to_ycbcr(const uint8_t rgb[3], uint8_t ycc[3])
{
    const double r = rgb[0], g = rgb[1], b = rgb[2];
    ycc[0] = round_clamp(0.299 * r + 0.587 * g + 0.114 * b);
    ycc[1] = round_clamp(-0.168735892 * r - 0.331264108 * g + 0.5 * b + 128.0);
    ycc[2] = round_clamp(0.5 * r - 0.418687589 * g - 0.081312411 * b + 128.0);
}

std::vector<uint8_t> stored_samples(const Image &level, const WriteOptions &o,
                                    const std::vector<ChannelSpec> &layout)
{
    const size_t n = size_t(level.width) * size_t(level.height);
    const int channels = int(layout.size());
    const int colours = colour_channels(o);
    std::vector<uint8_t> out(n * size_t(channels));
    for (size_t i = 0; i < n; ++i) {
        const uint8_t *p = level.samples.data() + i * size_t(level.channels);
        uint8_t work[4] = {p[0], colours == 3 ? p[1] : uint8_t(0), colours == 3 ? p[2] : uint8_t(0), 255};
        if (o.opacity)
            work[colours == 3 ? 3 : 1] = p[colours];
        if (o.colour == ColourSpace::photoycc) {
            uint8_t ycc[3];
            rgb_to_photoycc(work, ycc);
            work[0] = ycc[0], work[1] = ycc[1], work[2] = ycc[2];
        }
        if (o.opacity) {
            // Colours are stored weighted by their opacity.
            const int a = work[colours == 3 ? 3 : 1];
            for (int k = 0; k < colours; ++k)
                work[k] = uint8_t((work[k] * a + 127) / 255);
        }
        uint8_t *q = out.data() + i * size_t(channels);
        for (int k = 0; k < channels; ++k)
            q[k] = work[layout[size_t(k)].source];
    }
    return out;
}

std::vector<uint8_t> jpeg_samples(const std::vector<uint8_t> &tile, const WriteOptions &o, int channels)
{
    if (o.colour != ColourSpace::rgb || o.colour_conversion != 1)
        return tile;
    std::vector<uint8_t> out(tile);
    for (size_t i = 0; i + size_t(channels) <= out.size(); i += size_t(channels)) {
        uint8_t rgb[3] = {out[i], out[i + 1], out[i + 2]};
        if (o.invert)
            for (uint8_t &v : rgb)
                v = uint8_t(255 - v);
        rgb_to_ycbcr(rgb, &out[i]);
    }
    return out;
}

} // namespace fpxw
