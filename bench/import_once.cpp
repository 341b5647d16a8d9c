// bench_import_once FILE [THREADS]: one import of FILE through the filter as
// a host loads it, into the output library's row sink; prints "code seconds
// peak_kb" (import_host.h). bench/compare runs it beside the other readers.
#include "import_host.h"

int main(int argc, char **argv)
{
    if (argc < 2 || argc > 3) {
        std::fprintf(stderr, "usage: bench_import_once FILE [THREADS]\n");
        return 2;
    }
    setenv("KXFPX_OUTPUT_DISCARD", "1", 1);
    unsetenv("KXFPX_OUTPUT_LOG");
    const benchhost::Result r = benchhost::run_import(argv[1], argc == 3 ? std::atoi(argv[2]) : 1);
    std::printf("%d %.9f %ld\n", r.code, r.seconds, r.peak_kb);
    return r.code == 0 ? 0 : 1;
}
