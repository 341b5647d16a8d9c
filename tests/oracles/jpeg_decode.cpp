// libjpeg-turbo as the independent decoder of the writer's JPEG tiles, and a
// marker walker over JPEG streams.
#include "oracles/fpx_parse.h"
#include "jpeg_errors.h"

#include <algorithm>
#include <cmath>
#include <csetjmp>
#include <cstdlib>

#include <jpeglib.h>

using fpxw::install_jpeg_errors;
using fpxw::JpegErrorManager;

namespace fpxtest {

namespace {

struct Decompressor {
    jpeg_decompress_struct cinfo;
    JpegErrorManager err;
    bool created = false;
    ~Decompressor()
    {
        if (created)
            jpeg_destroy_decompress(&cinfo);
    }
};

} // namespace

Decoded decode_jpeg(const std::vector<uint8_t> &tables, const std::vector<uint8_t> &tile)
{
    Decoded out;
    Decompressor d;
    d.cinfo.err = install_jpeg_errors(d.err);
    if (setjmp(d.err.jump)) {
        out.error = d.err.message;
        return out;
    }
    jpeg_create_decompress(&d.cinfo);
    d.created = true;
    if (!tables.empty()) {
        jpeg_mem_src(&d.cinfo, tables.data(), (unsigned long)tables.size());
        if (jpeg_read_header(&d.cinfo, FALSE) != JPEG_HEADER_TABLES_ONLY) {
            out.error = "the tables are not a tables-only datastream";
            return out;
        }
    }
    jpeg_mem_src(&d.cinfo, tile.data(), (unsigned long)tile.size());
    jpeg_read_header(&d.cinfo, TRUE);
    d.cinfo.out_color_space = d.cinfo.jpeg_color_space;  // samples as stored
    out.width = int(d.cinfo.image_width);
    out.height = int(d.cinfo.image_height);
    out.components = d.cinfo.num_components;
    out.progressive = d.cinfo.progressive_mode != 0;
    out.restart_interval = d.cinfo.restart_interval;
    for (int i = 0; i < out.components && i < 4; ++i) {
        out.h[i] = d.cinfo.comp_info[i].h_samp_factor;
        out.v[i] = d.cinfo.comp_info[i].v_samp_factor;
        out.quant[i] = d.cinfo.comp_info[i].quant_tbl_no;
    }
    jpeg_start_decompress(&d.cinfo);
    const size_t stride = size_t(d.cinfo.output_width) * size_t(d.cinfo.output_components);
    out.samples.resize(stride * d.cinfo.output_height);
    while (d.cinfo.output_scanline < d.cinfo.output_height) {
        JSAMPROW row = out.samples.data() + d.cinfo.output_scanline * stride;
        jpeg_read_scanlines(&d.cinfo, &row, 1);
    }
    jpeg_finish_decompress(&d.cinfo);
    return out;
}

std::vector<uint8_t> libjpeg_encode(const uint8_t *samples, int width, int height, int components,
                                    int in_colour_space, const std::function<void(jpeg_compress_struct &)> &configure)
{
    jpeg_compress_struct c{};
    JpegErrorManager err;
    unsigned char *buffer = nullptr;
    unsigned long size = 0;
    c.err = install_jpeg_errors(err);
    if (setjmp(err.jump)) {
        jpeg_destroy_compress(&c);
        free(buffer);
        return {};
    }
    jpeg_create_compress(&c);
    jpeg_mem_dest(&c, &buffer, &size);
    c.image_width = JDIMENSION(width);
    c.image_height = JDIMENSION(height);
    c.input_components = components;
    c.in_color_space = J_COLOR_SPACE(in_colour_space);
    jpeg_set_defaults(&c);
    configure(c);
    jpeg_start_compress(&c, TRUE);
    const size_t stride = size_t(width) * size_t(components);
    while (c.next_scanline < c.image_height) {
        JSAMPROW row = const_cast<JSAMPROW>(samples + c.next_scanline * stride);
        jpeg_write_scanlines(&c, &row, 1);
    }
    jpeg_finish_compress(&c);
    jpeg_destroy_compress(&c);
    std::vector<uint8_t> stream(buffer, buffer + size);
    free(buffer);
    return stream;
}

std::vector<uint8_t> reference_roundtrip(const std::vector<uint8_t> &tile, int channels, int quality,
                                         int subsampling, bool keep_rgb)
{
    const std::vector<uint8_t> stream =
        libjpeg_encode(tile.data(), 64, 64, channels, channels == 3 ? JCS_RGB : JCS_GRAYSCALE,
                       [&](jpeg_compress_struct &c) {
                           if (keep_rgb && channels == 3)
                               jpeg_set_colorspace(&c, JCS_RGB);
                           jpeg_set_quality(&c, quality, TRUE);
                           c.comp_info[0].h_samp_factor = subsampling >> 4;
                           c.comp_info[0].v_samp_factor = subsampling & 15;
                       });
    if (stream.empty())
        return {};
    Decoded d = decode_jpeg({}, stream);
    if (!d.error.empty())
        return {};
    if (channels == 3 && !keep_rgb) {
        // decode_jpeg keeps YCbCr; convert as a JFIF decoder does.
        for (size_t i = 0; i + 2 < d.samples.size(); i += 3) {
            const double y = d.samples[i], cb = d.samples[i + 1] - 128.0, cr = d.samples[i + 2] - 128.0;
            const double v[3] = {y + 1.402 * cr, y - 0.344136 * cb - 0.714136 * cr, y + 1.772 * cb};
            for (int k = 0; k < 3; ++k)
                d.samples[i + size_t(k)] = uint8_t(std::lround(std::min(255.0, std::max(0.0, v[k]))));
        }
    }
    return d.samples;
}

std::vector<uint8_t> list_markers(const std::vector<uint8_t> &jpeg)
{
    // Entropy-coded bytes after an SOS header are passed over one by one:
    // inside them 0xFF is always followed by 0 (stuffing) or an RST marker.
    std::vector<uint8_t> markers;
    size_t i = 0;
    while (i + 1 < jpeg.size()) {
        if (jpeg[i] != 0xFF) {
            ++i;
            continue;
        }
        const uint8_t m = jpeg[i + 1];
        if (m == 0x00 || m == 0xFF) {  // stuffed byte or fill
            i += m == 0x00 ? 2 : 1;
            continue;
        }
        markers.push_back(m);
        if ((m >= 0xD0 && m <= 0xD7) || m == 0xD8 || m == 0xD9) {
            i += 2;
            continue;
        }
        if (i + 3 >= jpeg.size())
            break;
        i += 2 + (size_t(jpeg[i + 2]) << 8 | jpeg[i + 3]);
    }
    return markers;
}

int count_marker(const std::vector<uint8_t> &jpeg, uint8_t marker)
{
    int count = 0;
    for (uint8_t m : list_markers(jpeg))
        if (m == marker || (marker == 0xD0 && m >= 0xD0 && m <= 0xD7))
            ++count;
    return count;
}

} // namespace fpxtest
