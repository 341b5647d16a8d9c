// Baseline tile decoding speed: the tiles of a 4096 x 4096 picture (quality
// 90, 4:2:0, three components, one full JPEG stream per 64 x 64 tile) decoded
// by ReadJPEG from one memory QorFile, beside libjpeg-turbo decoding the same
// tiles in the same run (jpeg_read_scanlines, JDCT_ISLOW, no fancy
// upsampling, no colour conversion). Prints pixels per second and the ratio.
#include "jpeg/jpeg_tables.h"
#include "jpeg/read_jpeg.h"
#include "jpeg_errors.h"
#include "jpeg_tiles.h"

#include <kxfpx/memory.h>
#include <kxfpx/qorfile.h>

#include <jpeglib.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <vector>

namespace {

constexpr int kTile = 64;

double seconds_since(std::chrono::steady_clock::time_point t0)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

// A picture with smooth areas, edges and texture, tile by tile.
std::vector<uint8_t> make_tile(int tx, int ty, std::mt19937 &rng)
{
    std::vector<uint8_t> px(kTile * kTile * 3);
    for (int y = 0; y < kTile; ++y)
        for (int x = 0; x < kTile; ++x) {
            const double gx = tx * kTile + x, gy = ty * kTile + y;
            const double base = 128 + 60 * std::sin(gx / 97.0) * std::cos(gy / 61.0);
            const double edge = (int(gx / 37) + int(gy / 53)) % 2 ? 40 : -40;
            for (int c = 0; c < 3; ++c) {
                const double v = base + edge * (c == 1 ? -1 : 1) + int(rng() % 24) - 12 + 20 * c;
                px[size_t((y * kTile + x) * 3 + c)] = uint8_t(std::clamp(v, 0.0, 255.0));
            }
        }
    return px;
}

struct MemoryFile {
    void *data = nullptr;
    QorOpenDesc desc{};
    QorFile file = nullptr;
    explicit MemoryFile(const std::vector<uint8_t> &bytes)
    {
        data = GlobalLock(GlobalAlloc(KX_GHND, uint32_t(bytes.size() + 1)));
        std::memcpy(data, bytes.data(), bytes.size());
        static_cast<uint8_t *>(data)[bytes.size()] = 0xFF;  // the block's end marker
        desc.blockPtr = &data;
        desc.blockSize = int32_t(bytes.size() + 1);
        file = qorOpen(nullptr, &desc, QOR_READ);
        qorSetDataFormat(file, 1, 0);
    }
    ~MemoryFile()
    {
        qorClose(file);
        GlobalFree(GlobalHandle(data));
    }
};

} // namespace

// Decodes every tile with libjpeg-turbo (ISLOW, no fancy upsampling, no
// colour conversion) through one decompressor; its time in seconds, or -1
// when libjpeg-turbo reports an error. Kept apart from main so that the
// error jump clobbers nothing of the caller's.
double decode_with_libjpeg(const std::vector<uint8_t> &all, const std::vector<size_t> &offsets,
                           const std::vector<size_t> &lengths, std::vector<uint8_t> &out,
                           uint64_t &checksum)
{
    jpeg_decompress_struct d;
    fpxw::JpegErrorManager err;
    d.err = fpxw::install_jpeg_errors(err);
    jpeg_create_decompress(&d);
    if (setjmp(err.jump)) {
        std::fprintf(stderr, "libjpeg-turbo: %s\n", err.message);
        jpeg_destroy_decompress(&d);
        return -1;
    }
    const auto t0 = std::chrono::steady_clock::now();
    for (size_t t = 0; t < offsets.size(); ++t) {
        jpeg_mem_src(&d, all.data() + offsets[t], (unsigned long)lengths[t]);
        jpeg_read_header(&d, TRUE);
        d.dct_method = JDCT_ISLOW;
        d.do_fancy_upsampling = FALSE;
        d.out_color_space = d.jpeg_color_space;  // no colour conversion
        jpeg_start_decompress(&d);
        while (d.output_scanline < d.output_height) {
            JSAMPROW row = out.data() + size_t(d.output_scanline) * kTile * 3;
            jpeg_read_scanlines(&d, &row, 1);
        }
        jpeg_finish_decompress(&d);
        checksum += out[t % out.size()];
    }
    const double elapsed = seconds_since(t0);
    jpeg_destroy_decompress(&d);
    return elapsed;
}

int main(int argc, char **argv)
{
    const int side = argc > 1 ? std::atoi(argv[1]) : 4096;
    const int runs = argc > 2 ? std::atoi(argv[2]) : 5;
    const int tilesAcross = side / kTile, tileCount = tilesAcross * tilesAcross;

    fpxw::JpegParams p;
    p.components = 3;
    p.quality = 90;
    p.subsampling = 0x22;
    p.chroma = {false, true, true};
    std::vector<uint8_t> all;
    std::vector<size_t> offsets, lengths;
    std::mt19937 rng(1);
    for (int t = 0; t < tileCount; ++t) {
        const std::vector<uint8_t> px = make_tile(t % tilesAcross, t / tilesAcross, rng);
        std::vector<uint8_t> jpeg;
        if (!fpxw::encode_tile(p, px.data(), kTile, kTile, false, jpeg).empty()) {
            std::fprintf(stderr, "encoding failed\n");
            return 1;
        }
        offsets.push_back(all.size());
        lengths.push_back(jpeg.size());
        all.insert(all.end(), jpeg.begin(), jpeg.end());
    }
    std::printf("%d tiles of 64 x 64, %.1f MB of JPEG data, %d runs (best counts)\n", tileCount,
                double(all.size()) / 1e6, runs);

    std::vector<uint8_t> out(kTile * kTile * 3);
    double ours = 1e30, theirs = 1e30;
    uint64_t checksumOurs = 0, checksumTheirs = 0;
    MemoryFile mem(all);
    for (int r = 0; r < runs; ++r) {
        // Ours: one table set for the picture, each tile read from its offset.
        kxfpx::jpeg::JpegTableSet set{};
        auto t0 = std::chrono::steady_clock::now();
        for (int t = 0; t < tileCount; ++t) {
            qorSeek(mem.file, int32_t(offsets[size_t(t)]), 0);
            if (kxfpx::jpeg::ReadJPEG(mem.file, nullptr, &set, out.data(), int32_t(out.size()), nullptr,
                                      0x22, nullptr, 0) != 0) {
                std::fprintf(stderr, "ReadJPEG failed on tile %d\n", t);
                return 1;
            }
            checksumOurs += out[size_t(t) % out.size()];
        }
        ours = std::min(ours, seconds_since(t0));
        for (HGLOBAL &h : set.slots)
            if (h)
                GlobalFree(h);

        // libjpeg-turbo, one decompressor reused for every tile.
        const double t = decode_with_libjpeg(all, offsets, lengths, out, checksumTheirs);
        if (t < 0)
            return 1;
        theirs = std::min(theirs, t);
    }
    const double pixels = double(side) * side;
    std::printf("ReadJPEG       %8.1f Mpixel/s  (%.3f s)\n", pixels / ours / 1e6, ours);
    std::printf("libjpeg-turbo  %8.1f Mpixel/s  (%.3f s)\n", pixels / theirs / 1e6, theirs);
    std::printf("ratio          %8.3f  (ours / libjpeg-turbo)\n", theirs / ours);
    std::printf("(checksums %llu %llu)\n", (unsigned long long)checksumOurs, (unsigned long long)checksumTheirs);
    return 0;
}
