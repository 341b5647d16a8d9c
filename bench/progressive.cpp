// Progressive tile decoding: a 4096 x 4096 picture cut into 64 x 64 tiles,
// each a progressive JPEG stream (quality 90, 4:2:0, libjpeg-turbo's default
// progression), decoded by ReadJPEG one tile after the other from one stream
// (whole-image buffers kept across tiles, and made per tile) and by libjpeg-turbo from the same bytes in the same run. Prints both in
// megapixels per second and their ratio (thread CPU time, best of several runs).
#include "jpeg/progressive_buffers.h"
#include "jpeg/read_jpeg.h"

#include <kxfpx/memory.h>
#include <kxfpx/qorfile.h>

#include <ctime>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include <jpeglib.h>

namespace {

constexpr int kSide = 4096, kTile = 64, kTiles = (kSide / kTile) * (kSide / kTile);
constexpr int kBytesPerTile = kTile * kTile * 3;

// A photograph-like picture: smooth gradients, edges and some fine texture.
std::vector<uint8_t> picture()
{
    std::vector<uint8_t> px(size_t(kSide) * kSide * 3);
    uint32_t seed = 7;
    for (int y = 0; y < kSide; ++y)
        for (int x = 0; x < kSide; ++x)
            for (int c = 0; c < 3; ++c) {
                seed = seed * 1664525u + 1013904223u;
                const double v = 128 + 60 * std::sin(x * 0.011 * (c + 1) + y * 0.007) +
                                 40 * std::cos(y * 0.023 - x * 0.005 * c) +
                                 (((x / 97) + (y / 61)) % 2 ? 20 : -20) + double(seed >> 28) - 8;
                px[(size_t(y) * kSide + x) * 3 + size_t(c)] = uint8_t(std::min(255.0, std::max(0.0, v)));
            }
    return px;
}

std::vector<uint8_t> encode_tile(const std::vector<uint8_t> &px, int tx, int ty)
{
    jpeg_compress_struct c{};
    jpeg_error_mgr err{};
    c.err = jpeg_std_error(&err);
    jpeg_create_compress(&c);
    unsigned char *buffer = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&c, &buffer, &size);
    c.image_width = c.image_height = kTile;
    c.input_components = 3;
    c.in_color_space = JCS_RGB;
    jpeg_set_defaults(&c);
    jpeg_set_quality(&c, 90, TRUE);
    c.comp_info[0].h_samp_factor = c.comp_info[0].v_samp_factor = 2;
    jpeg_simple_progression(&c);
    jpeg_start_compress(&c, TRUE);
    while (c.next_scanline < kTile) {
        JSAMPROW row = const_cast<JSAMPROW>(
            &px[((size_t(ty) * kTile + c.next_scanline) * kSide + size_t(tx) * kTile) * 3]);
        jpeg_write_scanlines(&c, &row, 1);
    }
    jpeg_finish_compress(&c);
    jpeg_destroy_compress(&c);
    std::vector<uint8_t> out(buffer, buffer + size);
    free(buffer);
    return out;
}

// Thread CPU time: the machine may be shared, and preemption should not
// count against either decoder.
double cpu_now()
{
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) * 1e-9;
}

// Every tile through ReadJPEG, read one after the other from one memory
// stream, as the tile renderer reads a FlashPix tile stream.
double run_ours(std::vector<uint8_t> &stream, std::vector<uint8_t> &out, bool keepBuffers)
{
    // A memory QorFile reads a movable block.
    HGLOBAL handle = GlobalAlloc(KX_GHND, uint32_t(stream.size()));
    void *block = GlobalLock(handle);
    std::memcpy(block, stream.data(), stream.size());
    QorOpenDesc desc{};
    desc.blockPtr = &block;
    desc.blockSize = int32_t(stream.size());
    QorFile f = qorOpen(nullptr, &desc, QOR_READ);
    qorSetDataFormat(f, 1, 0);
    kxfpx::jpeg::JpegTableSet tables{};
    kxfpx::jpeg::ProgressiveBuffers buffers;
    const double t0 = cpu_now();
    for (int t = 0; t < kTiles; ++t)
        if (kxfpx::jpeg::ReadJPEG(f, nullptr, &tables, out.data() + size_t(t % 64) * kBytesPerTile,
                                  kBytesPerTile, nullptr, 0x22, nullptr, 0,
                                  keepBuffers ? &buffers : nullptr) != 0) {
            std::fprintf(stderr, "ReadJPEG failed on tile %d\n", t);
            std::exit(1);
        }
    const double s = cpu_now() - t0;
    for (HGLOBAL &h : tables.slots)
        if (h)
            GlobalFree(h);
    qorClose(f);
    GlobalUnlock(handle);
    GlobalFree(handle);
    return s;
}

// The same tiles through libjpeg-turbo: samples as stored (YCbCr, no colour
// conversion, as ours), one decompressor reused for every tile.
double run_libjpeg(const std::vector<std::vector<uint8_t>> &tiles, std::vector<uint8_t> &out,
                   bool fancy)
{
    jpeg_decompress_struct d{};
    jpeg_error_mgr err{};
    d.err = jpeg_std_error(&err);
    jpeg_create_decompress(&d);
    const double t0 = cpu_now();
    for (int t = 0; t < kTiles; ++t) {
        jpeg_mem_src(&d, tiles[size_t(t)].data(), (unsigned long)tiles[size_t(t)].size());
        jpeg_read_header(&d, TRUE);
        d.out_color_space = JCS_YCbCr;
        d.do_fancy_upsampling = fancy ? TRUE : FALSE;
        jpeg_start_decompress(&d);
        uint8_t *base = out.data() + size_t(t % 64) * kBytesPerTile;
        while (d.output_scanline < d.output_height) {
            JSAMPROW row = base + size_t(d.output_scanline) * kTile * 3;
            jpeg_read_scanlines(&d, &row, 1);
        }
        jpeg_finish_decompress(&d);
    }
    const double s = cpu_now() - t0;
    jpeg_destroy_decompress(&d);
    return s;
}

} // namespace

int main()
{
    const int runs = std::getenv("KXFPX_BENCH_RUNS") ? std::atoi(std::getenv("KXFPX_BENCH_RUNS")) : 5;
    const std::vector<uint8_t> px = picture();
    std::vector<std::vector<uint8_t>> tiles;
    std::vector<uint8_t> stream;
    for (int ty = 0; ty < kSide / kTile; ++ty)
        for (int tx = 0; tx < kSide / kTile; ++tx) {
            tiles.push_back(encode_tile(px, tx, ty));
            stream.insert(stream.end(), tiles.back().begin(), tiles.back().end());
        }
    stream.push_back(0xFF);  // a memory QorFile's end mark
    std::vector<uint8_t> out(size_t(64) * kBytesPerTile);
    double ours = 1e9, oursFresh = 1e9, theirs = 1e9, theirsFancy = 1e9;
    for (int r = 0; r < runs; ++r) {
        ours = std::min(ours, run_ours(stream, out, true));
        oursFresh = std::min(oursFresh, run_ours(stream, out, false));
        theirs = std::min(theirs, run_libjpeg(tiles, out, false));
        theirsFancy = std::min(theirsFancy, run_libjpeg(tiles, out, true));
    }
    const double mp = double(kSide) * kSide / 1e6;
    std::printf("%d progressive tiles of 64 x 64, %.1f MB of JPEG data, best of %d runs\n", kTiles,
                double(stream.size()) / 1e6, runs);
    std::printf("ReadJPEG (buffers kept)           %8.1f Mpixel/s\n", mp / ours);
    std::printf("ReadJPEG (buffers per tile)       %8.1f Mpixel/s\n", mp / oursFresh);
    std::printf("libjpeg-turbo (box upsampling)    %8.1f Mpixel/s   ratio %.2f\n", mp / theirs,
                theirs / ours);
    std::printf("libjpeg-turbo (fancy upsampling)  %8.1f Mpixel/s   ratio %.2f\n", mp / theirsFancy,
                theirsFancy / ours);
    return 0;
}
