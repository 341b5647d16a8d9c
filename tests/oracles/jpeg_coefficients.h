// libjpeg-turbo as the oracle of entropy decoding: every block's quantized
// coefficients of a JPEG stream, read with jpeg_read_coefficients.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace fpxtest {

struct ComponentCoefficients {
    int h = 0, v = 0;                  // sampling factors
    int blocksWide = 0, blocksHigh = 0;  // the coded grid, padded to whole MCUs
    uint16_t quant[64] = {};           // quantizer, natural order
    std::vector<int16_t> blocks;       // blocksWide x blocksHigh blocks of 64, natural order
};

struct Coefficients {
    std::string error;
    int width = 0, height = 0;
    std::vector<ComponentCoefficients> components;
};

// tables (may be empty) is read first as a tables-only stream.
Coefficients read_coefficients(const std::vector<uint8_t> &tables, const std::vector<uint8_t> &jpeg);

} // namespace fpxtest
