// JPEG encoding of FlashPix tiles with libjpeg-turbo: the shared tables of a
// table set (SOI, DQT, DHT, EOI, as the "\005Image Contents" property holds
// them), and one 64 x 64 tile as a full or an abbreviated datastream,
// baseline or progressive, with any restart interval and chroma subsampling.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace fpxw {

struct JpegParams {
    int components = 3;        // 1 to 4, samples handed over as they are
    int quality = 90;          // 1 to 100
    uint8_t subsampling = 0x11;  // H in bits 4-7, V in bits 0-3: 0x11, 0x21, 0x22
    // Which components are chroma: they get 1 x 1 sampling and the second
    // quantization and Huffman tables; the others get H x V and the first.
    std::vector<bool> chroma;
    bool progressive = false;
    int restart_interval = 0;  // in MCUs; 0 for none
    bool optimize_huffman = false;  // per-tile Huffman tables, always written in the tile
    bool jfif = false;              // a JFIF APP0 segment after SOI
};

// SOI, the DQT and DHT segments of every table the parameters define, EOI.
std::string encode_tables(const JpegParams &params, std::vector<uint8_t> &out);

// One tile of width x height pixels, params.components bytes per pixel.
// With abbreviated set, the tile carries no DQT; a baseline tile carries no
// DHT either (a progressive tile always carries its optimized DHTs).
std::string encode_tile(const JpegParams &params, const uint8_t *samples, int width, int height,
                        bool abbreviated, std::vector<uint8_t> &out);

} // namespace fpxw
