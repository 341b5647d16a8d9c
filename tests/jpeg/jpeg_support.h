// Helpers of the JPEG tests: baseline tiles through fpxwrite, progressive streams through libjpeg-turbo,
// ReadJPEG into a guarded buffer, libjpeg-turbo's picture, a progressive scan driver.
#pragma once

#include "jpeg/decoder_tables.h"
#include "jpeg/jpeg_format.h"
#include "jpeg/jpeg_internal.h"
#include "jpeg/progressive_buffers.h"
#include "jpeg/progressive_decode.h"
#include "jpeg/read_jpeg.h"
#include "io/io_support.h"
#include "jpeg_tiles.h"
#include "oracles/fpx_parse.h"
#include "oracles/jpeg_coefficients.h"

#include <kxfpx/codes.h>

#include <gtest/gtest.h>
#include <jpeglib.h>

#include <random>

namespace jpegtest {

namespace kj = kxfpx::jpeg;
using Bytes = std::vector<uint8_t>;

// A big-endian memory QorFile over `bytes`.
struct MemStream : iotest::Reader {
    explicit MemStream(const Bytes &bytes) : iotest::Reader(bytes, 1) {}
    int32_t position() const { return qorSeek(file, 0, 1); }
};

struct TableSet {
    kj::JpegTableSet set{};
    ~TableSet()
    {
        for (HGLOBAL &h : set.slots)
            if (h)
                GlobalFree(h);
    }
};

// The tables of a tables-only stream, loaded as the driver loads them.
inline void load_tables(const Bytes &tables, TableSet &set)
{
    MemStream in(tables);
    uint16_t m = 0;
    qorReadShort(in.file, &m, 1);  // SOI
    while (qorReadShort(in.file, &m, 1) == 1 && (m == kj::kMarkerDHT || m == kj::kMarkerDQT))
        (void)(m == kj::kMarkerDHT ? kj::ReadHuffman(in.file, &set.set)
                                   : kj::ReadQuantization(in.file, &set.set.slots[8]));
}

// The literal reference decoder (reference_decoder.cpp): bit-serial through qorReadChar, the transform as
// written, expansion byte by byte.
inline constexpr int32_t kReferenceUnsupported = -999;  // progressive frames
int32_t reference_read_jpeg(QorFile data, kj::JpegTableSet *tables, uint8_t *destination, int32_t size,
                            uint8_t chromaSubsampling, int16_t **colourTableSlots, int32_t extraChannelFlag);
void reference_idct(int16_t *block);  // rows first, shortcut for rows only

// A generated baseline tile written by fpxwrite: random component count, sampling, quality, Huffman
// optimisation, restart interval, JFIF header, abbreviated form (tables apart), comment, size and texture.
struct Case {
    fpxw::JpegParams params;
    uint8_t chroma = 0x11;  // the MCU handed to ReadJPEG
    int width = 64, height = 64;
    bool abbreviated = false;
    Bytes tables, stream;
    static int padded(int n, int f) { return (n + 8 * f - 1) / (8 * f) * 8 * f; }
    uint32_t bytes() const  // the destination ReadJPEG fills
    {
        return uint32_t(padded(width, chroma >> 4) * padded(height, chroma & 15) * (params.components <= 2 ? 1 : 3));
    }
};

inline Case make_case(std::mt19937 &rng)
{
    Case c;
    auto pick = [&](int n) { return int(rng() % unsigned(n)); };
    fpxw::JpegParams &p = c.params;
    p.components = std::vector<int>{1, 3, 3, 4}[size_t(pick(4))];
    c.chroma = p.subsampling = uint8_t(std::vector<int>{0x11, 0x21, 0x22}[size_t(p.components == 1 ? 0 : pick(3))]);
    p.chroma.assign(size_t(p.components), false);
    for (int k = 1; k < p.components && k < 3; ++k)
        p.chroma[size_t(k)] = true;
    p.quality = 1 + pick(100);
    p.optimize_huffman = pick(3) == 0;
    p.restart_interval = std::vector<int>{0, 0, 1, 3, 4}[size_t(pick(5))];
    p.jfif = pick(4) == 0;
    c.abbreviated = !p.optimize_huffman && pick(2) == 0;
    const bool comment = pick(4) == 0;
    if (pick(3) == 0)
        c.width = 1 + pick(64), c.height = 1 + pick(64);
    std::vector<uint8_t> px(size_t(c.width) * size_t(c.height) * size_t(p.components));
    const int noise = pick(4) == 0 ? 255 : 1 + pick(40);
    for (size_t i = 0; i < px.size(); ++i) {
        const int x = int(i / size_t(p.components)) % c.width, y = int(i / size_t(p.components)) / c.width;
        px[i] = uint8_t((x * 3 + y * 5 + int(i % size_t(p.components)) * 70) + pick(noise));
    }
    EXPECT_EQ(fpxw::encode_tile(p, px.data(), c.width, c.height, c.abbreviated, c.stream), "");
    EXPECT_EQ(c.abbreviated ? fpxw::encode_tables(p, c.tables) : "", "");
    if (comment)
        c.stream.insert(c.stream.begin() + 2, {0xFF, 0xFE, 0x00, 0x05, 'a', 'b', 'c'});
    return c;
}

// A stream libjpeg-turbo writes of a textured picture, samples as they are.
struct Params {
    int width = 64, height = 64;
    std::vector<uint8_t> sampling = {0x22, 0x11, 0x11};  // one byte per component
    std::vector<jpeg_scan_info> scans;  // empty: the default progression
    int restart = 0;                    // in MCUs
    int quality = 90;
    std::vector<int> ids = {};  // component identifiers, empty: libjpeg-turbo's
};

// Empty when libjpeg-turbo refuses the parameters; 16-bit quantizers at low qualities.
inline Bytes encode(const Params &p)
{
    const int nc = int(p.sampling.size());
    Bytes px(size_t(p.width) * size_t(p.height) * size_t(nc));
    unsigned seed = 1;
    for (size_t i = 0; i < px.size(); ++i) {
        const int x = int(i / size_t(nc)) % p.width, y = int(i / size_t(nc)) / p.width, c = int(i % size_t(nc));
        seed = seed * 1103515245u + 12345u;
        px[i] = uint8_t(x * (3 + c) + y * (5 - c) + int((seed >> 16) % 48) + ((x / 7 + y / 5) % 3) * 40);
    }
    return fpxtest::libjpeg_encode(
        px.data(), p.width, p.height, nc, nc == 1 ? JCS_GRAYSCALE : nc == 3 ? JCS_YCbCr : JCS_CMYK,
        [&p, nc](jpeg_compress_struct &c) {
            jpeg_set_colorspace(&c, c.in_color_space);
            jpeg_set_quality(&c, p.quality, FALSE);
            for (int i = 0; i < nc; ++i) {
                c.comp_info[i].h_samp_factor = p.sampling[size_t(i)] >> 4;
                c.comp_info[i].v_samp_factor = p.sampling[size_t(i)] & 15;
                if (!p.ids.empty())
                    c.comp_info[i].component_id = p.ids[size_t(i)];
            }
            jpeg_simple_progression(&c);
            if (!p.scans.empty()) {
                c.scan_info = p.scans.data();
                c.num_scans = int(p.scans.size());
            }
            c.restart_interval = unsigned(p.restart);
        });
}

struct Outcome {
    int32_t result = 0, position = 0;
    Bytes out;  // the destination followed by 64 guard bytes
};

// ReadJPEG (or the reference) into `size` bytes; the guard must stay untouched.
inline Outcome read_jpeg(const Bytes &stream, const Bytes &tables, uint8_t chroma, uint32_t size,
                         int16_t **colourTables = nullptr, int32_t extra = 0, bool reference = false,
                         kj::ProgressiveBuffers *buffers = nullptr, kj::RgbOutput *rgb = nullptr)
{
    TableSet set;
    load_tables(tables, set);
    MemStream in(stream);
    Outcome r;
    r.out.assign(size + 64, 0xA5);
    r.result = reference ? reference_read_jpeg(in.file, &set.set, r.out.data(), int32_t(size), chroma,
                                               colourTables, extra)
                         : kj::ReadJPEG(in.file, nullptr, &set.set, r.out.data(), int32_t(size), nullptr, chroma,
                                        colourTables, extra, buffers, rgb);
    r.position = in.position();
    for (size_t i = size; i < r.out.size(); ++i)
        EXPECT_EQ(r.out[i], 0xA5) << "written beyond the destination at " << i;
    return r;
}

// Sample (x, y) of component c from libjpeg-turbo's coefficients, dequantized, through the reference transform.
struct ExpectedPlanes {
    explicit ExpectedPlanes(const Bytes &jpeg, const Bytes &tables = {}) : ref(fpxtest::read_coefficients(tables, jpeg))
    {
        for (const fpxtest::ComponentCoefficients &c : ref.components) {
            std::vector<int16_t> px = c.blocks;
            for (size_t b = 0; b < px.size(); b += 64) {
                for (size_t k = 0; k < 64; ++k)
                    px[b + k] = int16_t(uint16_t(px[b + k] * c.quant[k]));
                reference_idct(&px[b]);
            }
            planes_.push_back(std::move(px));
            maxH_ = std::max(maxH_, c.h);
            maxV_ = std::max(maxV_, c.v);
        }
    }
    uint8_t at(size_t c, int x, int y) const
    {
        const fpxtest::ComponentCoefficients &rc = ref.components[c];
        const int cx = x * rc.h / maxH_, cy = y * rc.v / maxV_;
        const size_t block = size_t(cy / 8) * size_t(rc.blocksWide) + size_t(cx / 8);
        return kj::range_limit(planes_[c][block * 64 + size_t(cy % 8) * 8 + size_t(cx % 8)]);
    }
    fpxtest::Coefficients ref;
    std::vector<std::vector<int16_t>> planes_;
    int maxH_ = 1, maxV_ = 1;
};

// What the scans made of a progressive stream.
struct Scans {
    std::vector<kj::FrameComponent> components;
    kj::FrameHeader frame{};
    std::vector<int16_t> coefficients;
    uint32_t N = 0;
    std::vector<int32_t> results;
    int32_t position = -1;
    TableSet tables;
};

// The table readers and scans over a progressive stream, marker by marker, up to EOI or the first failing
// scan; `literal` decodes the scans with the bit-serial reader instead of ProcessProgHufScans.
inline void decode_scans(const Bytes &jpeg, Scans &out, bool literal)
{
    MemStream s(jpeg);
    uint16_t word = 0, restart = 0;
    qorReadShort(s.file, &word, 1);  // SOI
    while (qorReadShort(s.file, &word, 1) == 1 && word != kj::kMarkerEOI) {
        if (word == kj::kMarkerDHT) {
            (void)kj::ReadHuffman(s.file, &out.tables.set);
        } else if (word == kj::kMarkerDQT) {
            (void)kj::ReadQuantization(s.file, &out.tables.set.slots[kj::kQuantSlot0]);
        } else if (word == kj::kMarkerDRI) {
            qorSeek(s.file, 2, 1);
            qorReadShort(s.file, &restart, 1);
        } else if (word == kj::kMarkerSOF2) {
            kj::FrameHeader &f = out.frame;
            qorReadShort(s.file, &f.length, 1);
            qorReadChar(s.file, &f.precision, 1);
            qorReadShort(s.file, &f.height, 1);
            qorReadShort(s.file, &f.width, 1);
            qorReadChar(s.file, &f.componentCount, 1);
            out.components.resize(f.componentCount);
            qorReadStruct(s.file, "3c", out.components.data(), f.componentCount);
            f.components = out.components.data();
            if (kj::ProgressiveFramePlan(f, 1 << 20, &out.N) != 0)  // 1 MB: no gigabytes for a corrupt header
                return;
            out.coefficients.assign(out.N, 0);
        } else if (word == kj::kMarkerSOS && !out.coefficients.empty()) {
            kj::ScanHeader h{};
            qorReadShort(s.file, &h.length, 1);
            qorReadChar(s.file, &h.componentCount, 1);
            if (h.componentCount > kj::kMaxScanComponents)
                break;
            qorReadStruct(s.file, "2c", h.components, h.componentCount);
            qorReadChar(s.file, &h.spectralStart, 1);
            qorReadChar(s.file, &h.spectralEnd, 1);
            qorReadChar(s.file, &h.approximation, 1);
            kj::prog::LiteralBits bits(s.file);
            const int32_t r = literal ? kj::prog::decode_scan(bits, out.coefficients.data(), out.frame, h,
                                                              &out.tables.set, out.N, restart)
                                      : kj::ProcessProgHufScans(s.file, out.coefficients.data(), &out.frame, h,
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

} // namespace jpegtest
