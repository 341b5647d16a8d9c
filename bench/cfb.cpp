// Throughput of Compound File streams: one 64 MB stream written through our
// writer in 4096-byte calls and read back through our reader in 1-, 64- and
// 4096-byte calls, beside fwrite and fread of the same bytes in the same
// call sizes. Plain timers, best of a few runs; prints the ratios. The files
// live in a temporary folder removed at the end. KXFPX_BENCH_MB sets another
// size in MB, KXFPX_BENCH_RUNS the number of runs.
#include <kxfpx/qorfile.h>
#include <kxfpx/storage.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

std::vector<uint8_t> g_data;
std::string g_cfb;
std::string g_plain;
int g_runs = 3;
volatile uint32_t g_sink; // keeps the read loops from being optimised away

double best_seconds(const std::function<bool()> &pass)
{
    double best = 1e30;
    for (int i = 0; i < g_runs; ++i) {
        const auto start = std::chrono::steady_clock::now();
        if (!pass()) {
            std::fprintf(stderr, "a pass failed\n");
            std::exit(1);
        }
        best = std::min(best, std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    }
    return best;
}

bool write_cfb(size_t chunk)
{
    QorFile out = qorOpen(g_cfb.c_str(), nullptr, QOR_CREATE | QOR_WRITE);
    QorFile root = out ? qorCreateStorage(out, nullptr, "Root Entry") : nullptr;
    QorFile stream = root ? qorCreateStream(root, "Data") : nullptr;
    bool ok = stream != nullptr;
    for (size_t at = 0; ok && at < g_data.size(); at += chunk) {
        const int32_t n = static_cast<int32_t>(std::min(chunk, g_data.size() - at));
        ok = qorWrite(stream, g_data.data() + at, n) == n;
    }
    if (stream)
        qorCloseStream(stream);
    if (root)
        ok = qorCloseStorage(root) == 0 && ok;
    return out && qorClose(out) == 0 && ok;
}

bool write_plain(size_t chunk)
{
    FILE *f = std::fopen(g_plain.c_str(), "wb");
    bool ok = f != nullptr;
    for (size_t at = 0; ok && at < g_data.size(); at += chunk)
        ok = std::fwrite(g_data.data() + at, 1, std::min(chunk, g_data.size() - at), f) > 0;
    return f && std::fclose(f) == 0 && ok;
}

bool read_cfb(int32_t chunk)
{
    QorFile in = qorOpen(g_cfb.c_str(), nullptr, QOR_READ);
    qorSetDataFormat(in, 0, 0);
    QorFile root = qorOpenStorage_ex(in, "Root Entry", 0);
    QorFile stream = root ? qorOpenStream(root, "Data") : nullptr;
    std::vector<uint8_t> buf(static_cast<size_t>(chunk));
    size_t total = 0;
    uint32_t sum = 0;
    int32_t n = 0;
    while (stream && (n = qorRead(stream, buf.data(), chunk)) > 0) {
        total += static_cast<size_t>(n);
        sum += buf[0];
    }
    if (stream)
        qorCloseStream(stream);
    if (root)
        qorCloseStorage(root);
    qorClose(in);
    g_sink = sum;
    return total == g_data.size();
}

bool read_plain(size_t chunk)
{
    FILE *f = std::fopen(g_plain.c_str(), "rb");
    if (!f)
        return false;
    std::vector<uint8_t> buf(chunk);
    size_t total = 0;
    uint32_t sum = 0;
    size_t n;
    while ((n = std::fread(buf.data(), 1, chunk, f)) > 0) {
        total += n;
        sum += buf[0];
    }
    std::fclose(f);
    g_sink = sum;
    return total == g_data.size();
}

void report(const char *what, size_t chunk, double ours, double stdio)
{
    const double mb = static_cast<double>(g_data.size()) / (1024.0 * 1024.0);
    std::printf("%-6s %5zu-byte calls: stream %8.1f MB/s (%7.3f s), stdio %8.1f MB/s (%7.3f s), ratio %6.2f\n", what,
                chunk, mb / ours, ours, mb / stdio, stdio, ours / stdio);
}

} // namespace

int main()
{
    const char *mb = std::getenv("KXFPX_BENCH_MB");
    const char *runs = std::getenv("KXFPX_BENCH_RUNS");
    const size_t size = static_cast<size_t>(mb ? std::atoll(mb) : 64) * 1024 * 1024;
    g_runs = runs ? std::max(1, std::atoi(runs)) : 3;
    g_data.resize(size);
    uint32_t x = 12345;
    for (uint8_t &b : g_data) {
        x = x * 1103515245u + 12345u;
        b = static_cast<uint8_t>(x >> 16);
    }
    char dir[] = "/tmp/kxcfb_bench_XXXXXX";
    if (!::mkdtemp(dir)) {
        std::perror("mkdtemp");
        return 1;
    }
    g_cfb = std::string(dir) + "/stream.cfb";
    g_plain = std::string(dir) + "/plain.bin";

    std::printf("one %zu MB stream, best of %d runs; ratio = stream time / stdio time\n", size >> 20, g_runs);
    report("write", 4096, best_seconds([] { return write_cfb(4096); }), best_seconds([] { return write_plain(4096); }));
    for (size_t chunk : {size_t{1}, size_t{64}, size_t{4096}})
        report("read", chunk, best_seconds([chunk] { return read_cfb(static_cast<int32_t>(chunk)); }),
               best_seconds([chunk] { return read_plain(chunk); }));

    std::remove(g_cfb.c_str());
    std::remove(g_plain.c_str());
    ::rmdir(dir);
    return 0;
}
