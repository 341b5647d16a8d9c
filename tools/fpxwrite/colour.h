// Colour of the stored channels: which channels a file holds and in which
// order (codes and colour spaces of the "\005Image Contents" colour
// property), and the conversions from the input picture to stored samples
// (grey, PhotoYCC, premultiplied opacity, channel order) and from stored
// samples to the components of a JPEG tile (YCbCr, inverted output).
#pragma once

#include "fpxwrite.h"

#include <cstdint>
#include <vector>

namespace fpxw {

struct ChannelSpec {
    uint16_t code;   // 0, 1, 2 for the colours, 0x7FFE opacity; bit 15 inverts
    uint16_t space;  // colour-space code, the same for every channel
    int source;      // index into the working picture's channels
    bool chroma;     // a chroma component of a JPEG tile
};

// Needs resolved options.
std::vector<ChannelSpec> channel_layout(const WriteOptions &options);

// The input reduced to what the file holds before colour conversion: grey or
// RGB, then alpha when the options ask for opacity (255 when the input has
// none). The pyramid is built from this picture.
Image working_picture(const Image &input, const WriteOptions &options);

// Stored samples of one resolution, channels in file order: PhotoYCC made
// from RGB, colours premultiplied by opacity, channels permuted.
std::vector<uint8_t> stored_samples(const Image &level, const WriteOptions &options,
                                    const std::vector<ChannelSpec> &layout);

// The samples a JPEG tile encodes, from a tile of stored samples: the same,
// or for RGB with internal colour conversion YCbCr (of the complement when
// the output is inverted), opacity kept.
std::vector<uint8_t> jpeg_samples(const std::vector<uint8_t> &stored_tile, const WriteOptions &options,
                                  int channels);

// PhotoYCC of one RGB pixel, the inverse of the reader's conversion.
void rgb_to_photoycc(const uint8_t rgb[3], uint8_t ycc[3]);
// JFIF YCbCr of one RGB pixel.
void rgb_to_ycbcr(const uint8_t rgb[3], uint8_t ycc[3]);

} // namespace fpxw
