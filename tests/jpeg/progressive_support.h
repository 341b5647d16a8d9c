// Helpers of the progressive decoder tests: libjpeg-turbo writes progressive
// streams with any sampling, scan script and restart interval (the oracle
// fpxtest::read_coefficients reads their coefficients back); a small driver
// runs our table readers and progressive scans over a stream, stopping
// before the reconstruction, so both sets of coefficients can be compared.
#pragma once

#include "jpeg/jpeg_format.h"
#include "jpeg/progressive_decode.h"
#include "jpeg_test_support.h"
#include "oracles/jpeg_coefficients.h"

#include <kxfpx/memory.h>

#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <jpeglib.h>

namespace progtest {

using jpegtest::Bytes;
using kxfpx::jpeg::FrameComponent;
using kxfpx::jpeg::FrameHeader;
using kxfpx::jpeg::ScanHeader;

struct Script {
    std::vector<jpeg_scan_info> scans;  // empty: libjpeg-turbo's default progression
};

struct Params {
    int width = 64, height = 64;
    std::vector<uint8_t> sampling = {0x22, 0x11, 0x11};  // one byte per component
    Script script;
    int restart = 0;        // restart interval in MCUs
    int quality = 90;
    std::vector<int> ids;   // component identifiers, empty: libjpeg-turbo's
    bool progressive = true;  // false: a baseline stream of the same tables
};

// A smooth picture with some texture, so that every band has coefficients.
inline Bytes test_picture(int w, int h, int nc, unsigned seed = 1)
{
    Bytes px(size_t(w) * size_t(h) * size_t(nc));
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            for (int c = 0; c < nc; ++c) {
                seed = seed * 1103515245u + 12345u;
                const int v = (x * (3 + c) + y * (5 - c) + int((seed >> 16) % 48) + ((x / 7 + y / 5) % 3) * 40);
                px[(size_t(y) * w + x) * nc + c] = uint8_t(v & 255);
            }
    return px;
}

struct ErrorJump {
    jpeg_error_mgr mgr;
    jmp_buf jump;
};
inline void error_exit(j_common_ptr c) { longjmp(reinterpret_cast<ErrorJump *>(c->err)->jump, 1); }

// A progressive stream of the picture, samples taken as they are (no colour
// conversion); empty when libjpeg-turbo refuses the parameters.
inline Bytes encode(const Params &p, const Bytes &px)
{
    const int nc = int(p.sampling.size());
    jpeg_compress_struct c{};
    ErrorJump err{};
    c.err = jpeg_std_error(&err.mgr);
    err.mgr.error_exit = error_exit;
    unsigned char *buffer = nullptr;
    unsigned long size = 0;
    if (setjmp(err.jump)) {
        jpeg_destroy_compress(&c);
        free(buffer);
        return {};
    }
    jpeg_create_compress(&c);
    jpeg_mem_dest(&c, &buffer, &size);
    c.image_width = JDIMENSION(p.width);
    c.image_height = JDIMENSION(p.height);
    c.input_components = nc;
    c.in_color_space = nc == 1 ? JCS_GRAYSCALE : nc == 3 ? JCS_YCbCr : JCS_CMYK;
    jpeg_set_defaults(&c);
    jpeg_set_colorspace(&c, c.in_color_space);
    jpeg_set_quality(&c, p.quality, TRUE);
    for (int i = 0; i < nc; ++i) {
        c.comp_info[i].h_samp_factor = p.sampling[size_t(i)] >> 4;
        c.comp_info[i].v_samp_factor = p.sampling[size_t(i)] & 15;
        if (!p.ids.empty())
            c.comp_info[i].component_id = p.ids[size_t(i)];
    }
    if (!p.progressive) {
        c.optimize_coding = TRUE;
    } else if (p.script.scans.empty()) {
        jpeg_simple_progression(&c);
    } else {
        c.scan_info = p.script.scans.data();
        c.num_scans = int(p.script.scans.size());
    }
    c.restart_interval = unsigned(p.restart);
    jpeg_start_compress(&c, TRUE);
    const size_t stride = size_t(p.width) * size_t(nc);
    while (c.next_scanline < c.image_height) {
        JSAMPROW row = const_cast<JSAMPROW>(px.data() + c.next_scanline * stride);
        jpeg_write_scanlines(&c, &row, 1);
    }
    jpeg_finish_compress(&c);
    jpeg_destroy_compress(&c);
    Bytes out(buffer, buffer + size);
    free(buffer);
    return out;
}

// What our scans made of a stream: the frame, the whole-image coefficient
// buffer and N, each scan's result, the stream position at the end.
struct Decoded {
    std::vector<FrameComponent> components;
    FrameHeader frame{};
    std::vector<int16_t> coefficients;
    uint32_t N = 0;
    std::vector<int32_t> results;
    int32_t position = -1;
    jpegtest::TableSet tables;
};

// The destination the driver offers: ample for the test frames, small enough
// that a corrupt frame header cannot ask for gigabytes.
inline constexpr int32_t kMaxDestination = 1 << 20;

// Runs our table readers and scans over a progressive stream, marker by
// marker, up to EOI or the first failing scan. `scan_fn` decodes one scan
// (the real ProcessProgHufScans or a reference over another bit reader).
template <typename ScanFn> void decode_scans(const Bytes &jpeg, Decoded &out, ScanFn scan_fn)
{
    using namespace kxfpx::jpeg;
    jpegtest::MemStream s(jpeg);
    uint16_t word = 0, restart = 0;
    qorReadShort(s.file, &word, 1);  // SOI
    while (qorReadShort(s.file, &word, 1) == 1 && word != kMarkerEOI) {
        if (word == kMarkerDHT) {
            (void)ReadHuffman(s.file, &out.tables.set);
        } else if (word == kMarkerDQT) {
            (void)ReadQuantization(s.file, &out.tables.set.slots[kQuantSlot0]);
        } else if (word == kMarkerDRI) {
            qorReadShort(s.file, &word, 1);
            qorReadShort(s.file, &restart, 1);
        } else if (word == kMarkerSOF2) {
            FrameHeader &f = out.frame;
            qorReadShort(s.file, &f.length, 1);
            qorReadChar(s.file, &f.precision, 1);
            qorReadShort(s.file, &f.height, 1);
            qorReadShort(s.file, &f.width, 1);
            qorReadChar(s.file, &f.componentCount, 1);
            out.components.resize(f.componentCount);
            qorReadStruct(s.file, "3c", out.components.data(), f.componentCount);
            f.components = out.components.data();
            if (ProgressiveFramePlan(f, kMaxDestination, &out.N) != 0)
                return;
            out.coefficients.assign(out.N, 0);
        } else if (word == kMarkerSOS && !out.coefficients.empty()) {
            ScanHeader h{};
            qorReadShort(s.file, &h.length, 1);
            qorReadChar(s.file, &h.componentCount, 1);
            if (h.componentCount > kMaxScanComponents)
                break;
            qorReadStruct(s.file, "2c", h.components, h.componentCount);
            qorReadChar(s.file, &h.spectralStart, 1);
            qorReadChar(s.file, &h.spectralEnd, 1);
            qorReadChar(s.file, &h.approximation, 1);
            const int32_t r = scan_fn(s.file, out.coefficients.data(), &out.frame, h,
                                      &out.tables.set, int32_t(out.N), restart);
            out.results.push_back(r);
            if (r != 0)
                break;
        } else if (qorReadShort(s.file, &word, 1) != 1 || word < 2 || qorSeek(s.file, word - 2, 1) < 0) {
            break;
        }
    }
    out.position = s.position();
}

inline int32_t literal_scan(QorFile f, int16_t *c, FrameHeader *fr, ScanHeader h,
                            kxfpx::jpeg::JpegTableSet *t, int32_t n, uint16_t restart)
{
    kxfpx::jpeg::prog::LiteralBits in(f);
    return kxfpx::jpeg::prog::decode_scan(in, c, *fr, h, t, uint32_t(n), restart);
}

inline int32_t real_scan(QorFile f, int16_t *c, FrameHeader *fr, ScanHeader h,
                         kxfpx::jpeg::JpegTableSet *t, int32_t n, uint16_t restart)
{
    return kxfpx::jpeg::ProcessProgHufScans(f, c, fr, h, t, n, restart);
}

// The block (bx, by) of component c in MCU order, the layout the
// reconstruction reads (after ReorderAC).
inline const int16_t *mcu_block(const Decoded &d, int c, int bx, int by)
{
    const kxfpx::jpeg::ProgGeometry g(d.frame);
    const kxfpx::jpeg::ProgFactors f(d.frame);
    const uint32_t h = f.hfac[c], v = f.vfac[c];
    const uint32_t mcu = (uint32_t(by) / v) * g.mcuCols + uint32_t(bx) / h;
    const uint32_t index = mcu * h * v + (uint32_t(by) % v) * h + uint32_t(bx) % h;
    return d.coefficients.data() + kxfpx::jpeg::plane_start(d.N, d.frame, c) + index * 64;
}

} // namespace progtest
