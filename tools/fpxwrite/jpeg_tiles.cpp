// JPEG encoding of tiles through libjpeg-turbo. The samples are already in
// the colour space the file declares, so libjpeg is set to null conversion
// (JCS_UNKNOWN in and out) and the component sampling and table choices are
// set by hand. libjpeg's errors are turned into messages with setjmp.
#include "jpeg_tiles.h"

#include <csetjmp>
#include <cstdio>
#include <cstdlib>

#include <jpeglib.h>

namespace fpxw {

namespace {

struct ErrorManager {
    jpeg_error_mgr pub;
    jmp_buf jump;
    char message[JMSG_LENGTH_MAX];
};

void error_exit(j_common_ptr cinfo)
{
    auto *err = reinterpret_cast<ErrorManager *>(cinfo->err);
    (*cinfo->err->format_message)(cinfo, err->message);
    longjmp(err->jump, 1);
}

void output_message(j_common_ptr) {}

// Owns a compress object and the memory destination's buffer.
struct Compressor {
    jpeg_compress_struct cinfo;
    ErrorManager err;
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
    ci.write_JFIF_header = FALSE;
    ci.write_Adobe_marker = FALSE;
    ci.optimize_coding = FALSE;
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

} // namespace

std::string encode_tables(const JpegParams &params, std::vector<uint8_t> &out)
{
    std::string bad = check_params(params);
    if (!bad.empty())
        return bad;
    Compressor c;
    c.cinfo.err = jpeg_std_error(&c.err.pub);
    c.err.pub.error_exit = error_exit;
    c.err.pub.output_message = output_message;
    if (setjmp(c.err.jump))
        return std::string("libjpeg: ") + c.err.message;
    jpeg_create_compress(&c.cinfo);
    c.created = true;
    jpeg_mem_dest(&c.cinfo, &c.buffer, &c.size);
    configure(c, params, 64, 64);
    jpeg_write_tables(&c.cinfo);
    out.assign(c.buffer, c.buffer + c.size);
    return {};
}

std::string encode_tile(const JpegParams &params, const uint8_t *samples, int width, int height,
                        bool abbreviated, std::vector<uint8_t> &out)
{
    std::string bad = check_params(params);
    if (!bad.empty())
        return bad;
    Compressor c;
    c.cinfo.err = jpeg_std_error(&c.err.pub);
    c.err.pub.error_exit = error_exit;
    c.err.pub.output_message = output_message;
    if (setjmp(c.err.jump))
        return std::string("libjpeg: ") + c.err.message;
    jpeg_create_compress(&c.cinfo);
    c.created = true;
    jpeg_mem_dest(&c.cinfo, &c.buffer, &c.size);
    configure(c, params, width, height);
    // Marking the tables as sent leaves them out of the stream; tables that
    // progressive coding optimizes are made afresh and always written.
    if (abbreviated)
        jpeg_suppress_tables(&c.cinfo, TRUE);
    jpeg_start_compress(&c.cinfo, abbreviated ? FALSE : TRUE);
    const size_t stride = size_t(width) * size_t(params.components);
    while (c.cinfo.next_scanline < c.cinfo.image_height) {
        JSAMPROW row = const_cast<JSAMPROW>(samples + c.cinfo.next_scanline * stride);
        jpeg_write_scanlines(&c.cinfo, &row, 1);
    }
    jpeg_finish_compress(&c.cinfo);
    out.assign(c.buffer, c.buffer + c.size);
    return {};
}

} // namespace fpxw
