// bench_import_raw: speed and memory of a raw RGB import through the filter as
// a host loads it (dlopen, fltLoadPointers, ImportFile), into an output
// library that discards the rows (KXFPX_OUTPUT_DISCARD). For each side
// (1024 .. 16384 by default) one file is written with fpxwrite into a
// temporary folder; every import runs in a child process (import_host.h).
#include "fpxwrite.h"
#include "import_host.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

// A raw RGB file of side x side pixels in `dir`; the tile data size in bytes.
bool write_file(const std::string &path, int side, double &tile_bytes)
{
    fpxw::Image img;
    img.width = img.height = side;
    img.channels = 3;
    img.samples.resize(size_t(side) * size_t(side) * 3);
    for (size_t i = 0; i < img.samples.size(); ++i)
        img.samples[i] = uint8_t((i * 2654435761u) >> 24);
    fpxw::WriteOptions o;
    o.compression = fpxw::Compression::raw;
    o.flat_tiles = fpxw::FlatTiles::never;
    o.resolutions = 1;
    const std::string err = fpxw::write_fpx(o, img, path);
    if (!err.empty()) {
        std::fprintf(stderr, "bench_import_raw: %s\n", err.c_str());
        return false;
    }
    const double tiles = double((side + 63) / 64) * double((side + 63) / 64);
    tile_bytes = tiles * 64 * 64 * 3;
    return true;
}

} // namespace

int main()
{
    std::vector<int> sides = {1024, 2048, 4096, 8192, 16384};
    if (const char *s = std::getenv("KXFPX_BENCH_SIDES")) {
        sides.clear();
        std::istringstream in(s);
        for (int v; in >> v;)
            sides.push_back(v);
    }
    int runs = 3;
    if (const char *s = std::getenv("KXFPX_BENCH_RUNS"))
        runs = std::max(1, std::atoi(s));
    setenv("KXFPX_OUTPUT_DISCARD", "1", 1);
    unsetenv("KXFPX_OUTPUT_LOG");

    char dir[] = "/tmp/kxfpx-bench-XXXXXX";
    if (!mkdtemp(dir))
        return 1;
    std::printf("%8s %12s %10s %12s %10s %12s\n", "side", "tile MB", "best s", "GB/s", "ns/pixel",
                "peak MB");
    int rc = 0;
    for (int side : sides) {
        const std::string file = std::string(dir) + "/raw" + std::to_string(side) + ".fpx";
        double tile_bytes = 0;
        if (!write_file(file, side, tile_bytes)) {
            rc = 1;
            break;
        }
        benchhost::Result best;
        best.seconds = 1e30;
        long peak = 0;
        for (int k = 0; k < runs; ++k) {
            const benchhost::Result r = benchhost::run_import(file, 1);
            if (r.code != 0) {
                std::fprintf(stderr, "bench_import_raw: import of %d x %d ended with %d\n", side,
                             side, r.code);
                rc = 1;
            }
            if (r.seconds < best.seconds)
                best = r;
            peak = std::max(peak, r.peak_kb);
        }
        std::printf("%8d %12.1f %10.4f %12.3f %10.3f %12.1f\n", side, tile_bytes / 1e6,
                    best.seconds, tile_bytes / best.seconds / 1e9,
                    best.seconds * 1e9 / (double(side) * side), peak / 1024.0);
        std::fflush(stdout);
        std::remove(file.c_str());
    }
    rmdir(dir);
    return rc;
}
