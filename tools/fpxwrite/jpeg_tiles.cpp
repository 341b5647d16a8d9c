// JPEG encoding of tiles through libjpeg-turbo. The samples are already in
// the colour space the file declares, so libjpeg is set to null conversion
// (JCS_UNKNOWN in and out) and the component sampling and table choices are
// set by hand. libjpeg's errors are turned into messages with setjmp.
#include "jpeg_tiles.h"

#include "jpeg_errors.h"

#include <cstdlib>

namespace fpxw {

namespace {

// Owns a compress object and the memory destination's buffer.
struct Compressor {
    jpeg_compress_struct cinfo;
    JpegErrorManager err;
    unsigned char *buffer = nullptr;
    unsigned long size = 0;
    bool created = false;

    ~Compressor()
    {
        if (created)
            jpeg_destroy_compress(&cinfo);
        std::free(buffer);
    }
};

std::string check_params(const JpegParams &p)
{
    if (p.components < 1 || p.components > 4)
        return "JPEG tiles need 1 to 4 components";
    if (p.quality < 1 || p.quality > 100)
        return "JPEG quality must be 1 to 100";
    if (p.subsampling != 0x11 && p.subsampling != 0x21 && p.subsampling != 0x22)
        return "chroma subsampling must be 0x11, 0x21 or 0x22";
    if (p.restart_interval < 0 || p.restart_interval > 65535)
        return "restart interval must be 0 to 65535";
    return {};
}

// Sets up the object for the parameters; must run inside the setjmp scope.
void configure(Compressor &c, const JpegParams &p, int width, int height)
{
    jpeg_compress_struct &ci = c.cinfo;
    ci.image_width = JDIMENSION(width);
    ci.image_height = JDIMENSION(height);
    ci.input_components = p.components;
    ci.in_color_space = JCS_UNKNOWN;
    jpeg_set_defaults(&ci);
    jpeg_set_colorspace(&ci, JCS_UNKNOWN);
    jpeg_set_quality(&ci, p.quality, TRUE);
    ci.write_JFIF_header = p.jfif ? TRUE : FALSE;
    ci.write_Adobe_marker = FALSE;
    ci.optimize_coding = p.optimize_huffman ? TRUE : FALSE;
    ci.restart_interval = unsigned(p.restart_interval);
    const int h = p.subsampling >> 4, v = p.subsampling & 0x0F;
    for (int i = 0; i < p.components; ++i) {
        jpeg_component_info &comp = ci.comp_info[i];
        const bool chroma = size_t(i) < p.chroma.size() && p.chroma[size_t(i)];
        comp.component_id = i + 1;
        comp.h_samp_factor = chroma ? 1 : h;
        comp.v_samp_factor = chroma ? 1 : v;
        comp.quant_tbl_no = chroma ? 1 : 0;
        comp.dc_tbl_no = chroma ? 1 : 0;
        comp.ac_tbl_no = chroma ? 1 : 0;
    }
    if (p.progressive)
        jpeg_simple_progression(&ci);
}

// One compression: the tables alone (samples null) or one picture, written
// whole or abbreviated. setjmp stays in this frame, which outlives every
// libjpeg call that may jump back to it.
std::string encode(const JpegParams &params, const uint8_t *samples, int width, int height, bool abbreviated,
                   std::vector<uint8_t> &out)
{
    std::string bad = check_params(params);
    if (!bad.empty())
        return bad;
    Compressor c;
    c.cinfo.err = install_jpeg_errors(c.err);
    if (setjmp(c.err.jump))
        return std::string("libjpeg: ") + c.err.message;
    jpeg_create_compress(&c.cinfo);
    c.created = true;
    jpeg_mem_dest(&c.cinfo, &c.buffer, &c.size);
    configure(c, params, width, height);
    if (!samples) {
        jpeg_write_tables(&c.cinfo);
    } else {
        // Marking the tables as sent leaves them out of the stream; optimized
        // Huffman tables (and those of progressive coding, which are always
        // optimized) are made afresh and always written.
        if (abbreviated)
            jpeg_suppress_tables(&c.cinfo, TRUE);
        jpeg_start_compress(&c.cinfo, abbreviated ? FALSE : TRUE);
        const size_t stride = size_t(width) * size_t(params.components);
        while (c.cinfo.next_scanline < c.cinfo.image_height) {
            JSAMPROW row = const_cast<JSAMPROW>(samples + c.cinfo.next_scanline * stride);
            jpeg_write_scanlines(&c.cinfo, &row, 1);
        }
        jpeg_finish_compress(&c.cinfo);
    }
    out.assign(c.buffer, c.buffer + c.size);
    return {};
}

} // namespace

std::string encode_tables(const JpegParams &params, std::vector<uint8_t> &out)
{
    return encode(params, nullptr, 64, 64, false, out);
}

std::string encode_tile(const JpegParams &params, const uint8_t *samples, int width, int height,
                        bool abbreviated, std::vector<uint8_t> &out)
{
    if (!samples || width < 1 || height < 1 || width > 65535 || height > 65535)
        return "no tile samples";
    return encode(params, samples, width, height, abbreviated, out);
}

} // namespace fpxw
