// bench_import_raw: speed and memory of a raw RGB import through the filter as
// a host loads it (dlopen, fltLoadPointers, ImportFile), into an output
// library that discards the rows (KXFPX_OUTPUT_DISCARD). For each side
// (1024 .. 16384 by default) one file is written with fpxwrite into a
// temporary folder; every import runs in a child process that reports its
// time and the peak memory it added during the import (VmHWM after the
// import less VmRSS before it), so the figures are the filter's own.
#include "fpxwrite.h"

#include <kxfpx/records.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dlfcn.h>
#include <fstream>
#include <libgen.h>
#include <limits.h>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

using ImportFileProc = int32_t (*)(uint64_t, const char *, const char *, const char *,
                                   InterpretStructure *);
using CreateSetupProc = HGLOBAL (*)(uint64_t, const char *, const char *);
using DestroySetupProc = int32_t (*)(HGLOBAL);

std::string bin_dir()
{
    char self[PATH_MAX] = {};
    if (readlink("/proc/self/exe", self, sizeof self - 1) <= 0)
        return ".";
    return dirname(self);
}

long status_kb(const char *field)
{
    std::ifstream in("/proc/self/status");
    for (std::string line; std::getline(in, line);)
        if (line.rfind(field, 0) == 0)
            return std::atol(line.c_str() + std::strlen(field));
    return -1;
}

void *entry(const SharedLib &lib, const char *name)
{
    for (int i = 0; i < lib.rowCount; ++i)
        if (lib.rows[i].name && std::strcmp(lib.rows[i].name, name) == 0)
            return lib.rows[i].entry;
    return nullptr;
}

struct Result {
    int code = -1;
    double seconds = 0;
    long peak_kb = 0;
};

// In the child: load the filter, import once, write "code seconds kb" to fd.
[[noreturn]] void import_child(const std::string &file, int fd)
{
    Result r;
    const std::string path = bin_dir() + "/libkx_fpx2.so";
    void *handle = dlopen(path.c_str(), RTLD_NOW);
    auto load = handle ? reinterpret_cast<FltLoadPointersProc>(dlsym(handle, "fltLoadPointers")) : nullptr;
    if (load) {
        SharedLib lib = {};
        load(&lib);
        auto create = reinterpret_cast<CreateSetupProc>(entry(lib, "CreateSetup"));
        auto destroy = reinterpret_cast<DestroySetupProc>(entry(lib, "DestroySetup"));
        auto import = reinterpret_cast<ImportFileProc>(entry(lib, "ImportFile"));
        HGLOBAL setup = create(0, nullptr, nullptr);
        HostRecord host = {};
        InterpretStructure interp = {};
        interp.setup = setup;
        interp.hostRecord = &host;
        const long before = status_kb("VmRSS:");
        const auto t0 = std::chrono::steady_clock::now();
        r.code = import(0, "png", "", file.c_str(), &interp);
        const auto t1 = std::chrono::steady_clock::now();
        r.peak_kb = status_kb("VmHWM:") - before;
        r.seconds = std::chrono::duration<double>(t1 - t0).count();
        destroy(setup);
    }
    char line[128];
    const int n = std::snprintf(line, sizeof line, "%d %.9f %ld\n", r.code, r.seconds, r.peak_kb);
    if (write(fd, line, size_t(n)) != n)
        _exit(2);
    _exit(0);
}

Result run_import(const std::string &file)
{
    Result r;
    int fds[2];
    if (pipe(fds) != 0)
        return r;
    const pid_t pid = fork();
    if (pid == 0) {
        close(fds[0]);
        import_child(file, fds[1]);
    }
    close(fds[1]);
    char buf[128] = {};
    const ssize_t got = read(fds[0], buf, sizeof buf - 1);
    close(fds[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    if (got > 0)
        std::istringstream(buf) >> r.code >> r.seconds >> r.peak_kb;
    return r;
}

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
        Result best;
        best.seconds = 1e30;
        long peak = 0;
        for (int k = 0; k < runs; ++k) {
            const Result r = run_import(file);
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
