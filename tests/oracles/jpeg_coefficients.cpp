// read_coefficients: libjpeg-turbo's jpeg_read_coefficients over a memory
// stream, copied out block by block over the whole padded MCU grid.
#include "oracles/jpeg_coefficients.h"

#include "jpeg_errors.h"

#include <csetjmp>

#include <jpeglib.h>

namespace fpxtest {

Coefficients read_coefficients(const std::vector<uint8_t> &tables, const std::vector<uint8_t> &jpeg)
{
    Coefficients out;
    jpeg_decompress_struct d;
    fpxw::JpegErrorManager err;
    d.err = fpxw::install_jpeg_errors(err);
    jpeg_create_decompress(&d);
    if (setjmp(err.jump)) {
        out.error = err.message;
        jpeg_destroy_decompress(&d);
        return out;
    }
    if (!tables.empty()) {
        jpeg_mem_src(&d, tables.data(), (unsigned long)tables.size());
        jpeg_read_header(&d, FALSE);
    }
    jpeg_mem_src(&d, jpeg.data(), (unsigned long)jpeg.size());
    jpeg_read_header(&d, TRUE);
    jvirt_barray_ptr *arrays = jpeg_read_coefficients(&d);
    out.width = int(d.image_width);
    out.height = int(d.image_height);
    for (int c = 0; c < d.num_components; ++c) {
        jpeg_component_info &ci = d.comp_info[c];
        ComponentCoefficients cc;
        cc.h = ci.h_samp_factor;
        cc.v = ci.v_samp_factor;
        const int mh = d.max_h_samp_factor * 8, mv = d.max_v_samp_factor * 8;
        cc.blocksWide = (int(d.image_width) + mh - 1) / mh * ci.h_samp_factor;
        cc.blocksHigh = (int(d.image_height) + mv - 1) / mv * ci.v_samp_factor;
        if (d.num_components == 1) {
            cc.blocksWide = int(ci.width_in_blocks);
            cc.blocksHigh = int(ci.height_in_blocks);
        }
        for (int k = 0; k < 64; ++k)
            cc.quant[k] = ci.quant_table ? ci.quant_table->quantval[k] : 0;
        cc.blocks.resize(size_t(cc.blocksWide) * size_t(cc.blocksHigh) * 64);
        for (int by = 0; by < cc.blocksHigh; ++by) {
            JBLOCKARRAY row = (*d.mem->access_virt_barray)((j_common_ptr)&d, arrays[c], JDIMENSION(by), 1, FALSE);
            for (int bx = 0; bx < cc.blocksWide; ++bx)
                for (int k = 0; k < 64; ++k)
                    cc.blocks[(size_t(by) * size_t(cc.blocksWide) + size_t(bx)) * 64 + size_t(k)] = row[0][bx][k];
        }
        out.components.push_back(std::move(cc));
    }
    jpeg_finish_decompress(&d);
    jpeg_destroy_decompress(&d);
    return out;
}

} // namespace fpxtest
