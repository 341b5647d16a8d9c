// Throughput of buffered reading: qorRead in 1-, 64- and 4096-byte calls
// against fread with the same call sizes, over one 256 MB file made in a
// temporary folder (and removed afterwards). Prints the ratios at the end.
#include <kxfpx/qorfile.h>

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <random>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

std::string g_path;
int64_t g_size = 0;

bool make_file(const std::string &path, int64_t size)
{
    FILE *f = std::fopen(path.c_str(), "wb");
    if (!f)
        return false;
    std::mt19937 rng(42);
    std::vector<uint32_t> chunk(1 << 18); // 1 MB
    bool ok = true;
    for (int64_t done = 0; ok && done < size;) {
        for (uint32_t &w : chunk)
            w = rng();
        const size_t n = static_cast<size_t>(std::min<int64_t>(size - done, chunk.size() * 4));
        ok = std::fwrite(chunk.data(), 1, n, f) == n;
        done += static_cast<int64_t>(n);
    }
    return std::fclose(f) == 0 && ok;
}

void BM_qorRead(benchmark::State &state)
{
    const int32_t chunk = static_cast<int32_t>(state.range(0));
    std::vector<uint8_t> buf(static_cast<size_t>(chunk));
    for (auto _ : state) {
        QorFile f = qorOpen(g_path.c_str(), nullptr, QOR_READ);
        int64_t total = 0;
        uint32_t sum = 0;
        int32_t n;
        while ((n = qorRead(f, buf.data(), chunk)) > 0) {
            total += n;
            sum += buf[0];
        }
        benchmark::DoNotOptimize(sum);
        qorClose(f);
        if (total != g_size)
            state.SkipWithError("qorRead came back short");
    }
    state.SetBytesProcessed(state.iterations() * g_size);
}

void BM_fread(benchmark::State &state)
{
    const size_t chunk = static_cast<size_t>(state.range(0));
    std::vector<uint8_t> buf(chunk);
    for (auto _ : state) {
        FILE *f = std::fopen(g_path.c_str(), "rb");
        int64_t total = 0;
        uint32_t sum = 0;
        size_t n;
        while ((n = std::fread(buf.data(), 1, chunk, f)) > 0) {
            total += static_cast<int64_t>(n);
            sum += buf[0];
        }
        benchmark::DoNotOptimize(sum);
        std::fclose(f);
        if (total != g_size)
            state.SkipWithError("fread came back short");
    }
    state.SetBytesProcessed(state.iterations() * g_size);
}

BENCHMARK(BM_qorRead)->Arg(1)->Arg(64)->Arg(4096)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_fread)->Arg(1)->Arg(64)->Arg(4096)->Unit(benchmark::kMillisecond);

// The console report, plus the CPU time per pass of every run for the
// ratios (the file is in the page cache, and CPU time is steadier than wall
// time on a shared machine).
class RatioReporter : public benchmark::ConsoleReporter {
public:
    explicit RatioReporter(OutputOptions options) : ConsoleReporter(options) {}
    void ReportRuns(const std::vector<Run> &runs) override
    {
        for (const Run &run : runs)
            if (!run.error_occurred && run.run_type == Run::RT_Iteration)
                times_[run.benchmark_name()] = run.GetAdjustedCPUTime();
        ConsoleReporter::ReportRuns(runs);
    }
    void print_ratios() const
    {
        std::printf("\nqorRead CPU time / fread CPU time (same call size, and fread of 4096-byte calls):\n");
        for (const char *size : {"1", "64", "4096"}) {
            const double q = lookup(std::string("BM_qorRead/") + size);
            const double same = lookup(std::string("BM_fread/") + size);
            const double base = lookup("BM_fread/4096");
            if (q > 0 && same > 0 && base > 0)
                std::printf("  %4s-byte calls: %6.2f x fread/%s, %6.2f x fread/4096\n", size, q / same, size,
                            q / base);
        }
    }

private:
    double lookup(const std::string &name) const
    {
        const auto it = times_.find(name);
        return it == times_.end() ? 0.0 : it->second;
    }
    std::map<std::string, double> times_;
};

} // namespace

int main(int argc, char **argv)
{
    const char *mb = std::getenv("KXFPX_BENCH_MB");
    g_size = (mb ? std::atoll(mb) : 256) * 1024 * 1024;
    char dir[] = "/tmp/kxbench_XXXXXX";
    if (!::mkdtemp(dir)) {
        std::perror("mkdtemp");
        return 1;
    }
    g_path = std::string(dir) + "/read.bin";
    int status = 0;
    if (!make_file(g_path, g_size)) {
        std::fprintf(stderr, "cannot write %s\n", g_path.c_str());
        status = 1;
    } else {
        benchmark::Initialize(&argc, argv);
        RatioReporter reporter(::isatty(STDOUT_FILENO) ? benchmark::ConsoleReporter::OO_Defaults
                                                       : benchmark::ConsoleReporter::OO_Tabular);
        benchmark::RunSpecifiedBenchmarks(&reporter);
        reporter.print_ratios();
        benchmark::Shutdown();
    }
    std::remove(g_path.c_str());
    ::rmdir(dir);
    return status;
}
