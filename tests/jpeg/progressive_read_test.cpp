// Progressive tiles through ReadJPEG: the same picture coded progressively
// and as a baseline stream with the same quantization decodes to the same
// bytes (whole-image buffers kept across tiles); the stream is left after
// EOI; a destination one byte short is refused before anything is written;
// damaged streams end in a defined code without writing outside it.
#include "progressive_support.h"

#include "jpeg/progressive_buffers.h"
#include "jpeg/read_jpeg.h"

#include <gtest/gtest.h>

using namespace progtest;

namespace {

constexpr size_t kGuard = 32;
constexpr uint8_t kFill = 0x5A;

struct ReadOutcome {
    int32_t result = 0;
    int32_t position = 0;
    std::vector<uint8_t> out;
};

ReadOutcome read_jpeg(const Bytes &jpeg, size_t size, uint8_t chroma,
                      kxfpx::jpeg::ProgressiveBuffers *buffers = nullptr)
{
    ReadOutcome r;
    jpegtest::MemStream s(jpeg);
    jpegtest::TableSet tables;
    r.out.assign(size + kGuard, kFill);
    r.result = kxfpx::jpeg::ReadJPEG(s.file, nullptr, &tables.set, r.out.data(), int32_t(size),
                                     nullptr, chroma, nullptr, 0, buffers);
    r.position = s.position();
    for (size_t i = size; i < r.out.size(); ++i)
        EXPECT_EQ(r.out[i], kFill) << "byte " << i << " beyond the destination was written";
    r.out.resize(size);
    return r;
}

struct Tile {
    const char *name;
    std::vector<uint8_t> sampling;
    uint8_t chroma;  // the baseline call's chromaSubsampling
};

const Tile kTiles[] = {
    {"grey", {0x11}, 0x11},
    {"colour_420", {0x22, 0x11, 0x11}, 0x22},
    {"colour_444", {0x11, 0x11, 0x11}, 0x11},
};

// The progressive tiles share one set of whole-image buffers, grown and
// cleared from tile to tile as an import's tiles do.
TEST(ProgressiveReadJPEG, SamePixelsAsTheBaselineStreamOfTheSamePicture)
{
    kxfpx::jpeg::ProgressiveBuffers kept;
    for (const Tile &t : kTiles) {
        const int nc = int(t.sampling.size());
        const size_t size = 64 * 64 * size_t(nc);
        const Bytes px = test_picture(64, 64, nc, 11);
        Params p{64, 64, t.sampling, {}, 0, 85, {}, true};
        const Bytes progressive = encode(p, px);
        p.progressive = false;
        const Bytes baseline = encode(p, px);
        const ReadOutcome a = read_jpeg(progressive, size, t.chroma, &kept);
        const ReadOutcome b = read_jpeg(baseline, size, t.chroma);
        EXPECT_EQ(a.result, 0) << t.name;
        EXPECT_EQ(b.result, 0) << t.name;
        EXPECT_EQ(a.position, int32_t(progressive.size())) << t.name;
        EXPECT_EQ(a.out, b.out) << t.name;

        const ReadOutcome small = read_jpeg(progressive, size - 1, t.chroma);
        EXPECT_EQ(small.result, 21) << t.name;
        EXPECT_EQ(small.out, std::vector<uint8_t>(size - 1, kFill)) << t.name;
    }
}

TEST(ProgressiveReadJPEG, DamagedStreamsEndInADefinedCode)
{
    const Params p{64, 64, {0x22, 0x11, 0x11}, {}, 2, 90, {}, true};
    const Bytes good = encode(p, test_picture(64, 64, 3, 5));
    unsigned seed = 99;
    auto next = [&seed](size_t n) {
        seed = seed * 1103515245u + 12345u;
        return size_t(seed >> 8) % n;
    };
    for (int trial = 0; trial < 200; ++trial) {
        Bytes bad = good;
        if (trial % 4 == 0)
            bad.resize(next(good.size()));
        else
            for (int hits = 0; hits < 1 + trial % 5; ++hits)
                bad[next(good.size())] = uint8_t(next(256));
        const int32_t r = read_jpeg(bad, 64 * 64 * 3, 0x22).result;
        EXPECT_TRUE(r == 0 || r == 21 || r == 27 || r == -23) << "trial " << trial << ": " << r;
    }
}

} // namespace
