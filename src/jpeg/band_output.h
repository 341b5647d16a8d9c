// Writing one band of sample planes into the destination: grey (mode 1),
// three interleaved components (mode 3) and opacity-weighted colour through
// the five colour tables (mode 5). Shared with the progressive frames.
#pragma once

#include <cstddef>
#include <cstdint>

namespace kxfpx::jpeg {

inline constexpr int kOutputGrey = 1;
inline constexpr int kOutputColour = 3;
inline constexpr int kOutputOpacity = 5;
inline constexpr int kColourTables = 5;  // CrR, CbB, CrG, CbG, Yscale

// planes: plane pointers (1, 3 or 4 of them), rows planeStride bytes apart;
// `width` pixels per row, `rows` rows; destination rows destStride apart.
void write_band_grey(const uint8_t *const *planes, size_t planeStride, uint8_t *dest,
                     size_t destStride, uint32_t width, uint32_t rows);
void write_band_colour(const uint8_t *const *planes, size_t planeStride, uint8_t *dest,
                       size_t destStride, uint32_t width, uint32_t rows);
// Mode 3 with the YCbCr to RGB conversion of ycbcr_lines.h done on the way:
// the bytes the colour mode and the conversion would give one after the
// other. flip: 0, or 255 for inverted output.
void write_band_rgb(const uint8_t *const *planes, size_t planeStride, uint8_t *dest,
                    size_t destStride, uint32_t width, uint32_t rows, uint8_t flip);
// The same for chroma kept at half resolution both ways (planes 1 and 2:
// sample x / 2 of row y / 2 for pixel x of row y).
void write_band_rgb_h2v2(const uint8_t *const *planes, size_t planeStride, uint8_t *dest,
                         size_t destStride, uint32_t width, uint32_t rows, uint8_t flip);
void write_band_opacity(const uint8_t *const *planes, size_t planeStride, uint8_t *dest,
                        size_t destStride, uint32_t width, uint32_t rows,
                        int16_t *const *colourTables);

} // namespace kxfpx::jpeg
