// Strips on several threads. The calling thread reads the bytes of a strip's
// JPEG tiles from the file (merged into runs); a strip whose bytes hold a
// table segment goes on one thread, so the tables stay as they are while
// the workers and the calling thread decode the tiles through stream views
// into their places in the strip buffer (and, without filtering, do each
// tile's colour steps and copy it into the strip's image rows). Last, the
// calling thread goes through the strip in tile order as one thread would:
// it takes each decoded tile, or restores the tile's area and decodes it
// again from the file when its view could not answer a read (a tile running
// past its bytes) or an earlier tile, decoded again, replaced the tables it
// used; tiles of other kinds it reads itself. The first failing tile decides
// the result, and only the calling thread reads the file or calls the host.
#include "fpx/fpx_format.h"
#include "fpx/tile_render.h"

#include "io/stream_position.h"
#include "io/stream_view.h"
#include "jpeg/jpeg_format.h"
#include "port/worker_pool.h"

#include <kxfpx/profile.h>

#include <algorithm>
#include <cstring>
#include <exception>
#include <vector>

namespace kxfpx::fpx {

namespace {

constexpr char kThreadsKey[] = "Threads";
constexpr int32_t kThreadsAbsent = 1;       // a host that sets nothing gets one thread
constexpr int32_t kThreadsPerProcessor = 0;
constexpr int32_t kMaxThreads = 64;
// Bytes read past a tile's stated length: the fast bit reader reads ahead up
// to the next 512-byte boundary, and the last markers may follow the data.
constexpr uint32_t kViewSlack = 2048;
// Largest strip of tile bytes read ahead, and largest strip buffer copy;
// beyond them a strip is decoded on the calling thread alone.
constexpr uint64_t kMaxStripBytes = uint64_t{64} << 20;

// A table segment's marker (DHT or DQT) in the bytes of a strip: its tiles
// change the tables for the tiles after them, so the strip is decoded on
// one thread. Entropy-coded data never holds these byte pairs, and a view
// never gives bytes outside the runs: no tile on a worker reads a table.
constexpr uint8_t kMarkerPrefix = 0xFF;
constexpr uint8_t kDhtCode = jpeg::kMarkerDHT & 0xFF;
constexpr uint8_t kDqtCode = jpeg::kMarkerDQT & 0xFF;

// One thread's view and progressive buffers.
struct Participant {
    io::StreamView view;
    jpeg::ProgressiveBuffers buffers;
};

// Bytes of the stream at `base`, kept at `offset` in the read-ahead buffer.
struct Run {
    uint32_t base = 0;
    uint32_t length = 0;
    size_t offset = 0;
};

struct Task {
    int32_t k = 0;                        // tile of the strip
    const TileEntry *entry = nullptr;
    uint32_t position = 0;                // where the tile's seek lands
    size_t run = 0;                       // the run holding its bytes
    jpeg::JpegTableSet *shared = nullptr; // the file's set it names, or null
    int32_t rc = KX_OK;
    bool overran = false;
};

bool has_table_marker(const uint8_t *bytes, uint32_t length)
{
    // An empty run (a tile past the stream's end) may have no buffer at all.
    if (length < 2)
        return false;
    const uint8_t *end = bytes + length;
    for (const uint8_t *p = bytes; p + 1 < end; ++p) {
        p = static_cast<const uint8_t *>(std::memchr(p, kMarkerPrefix, size_t(end - p - 1)));
        if (!p)
            return false;
        if (p[1] == kDhtCode || p[1] == kDqtCode)
            return true;
    }
    return false;
}

} // namespace

// A strip's JPEG tiles and their bytes, read ahead of its decoding.
struct StripPlan {
    int32_t strip = -1;   // the strip planned; -1 none
    bool usable = false;  // false: the strip goes on one thread
    std::vector<Task> tasks;
    std::vector<Run> runs;
    std::vector<uint8_t> readAhead;
};

class ParallelStrips {
public:
    explicit ParallelStrips(int32_t workers) : pool(workers) {}

    void plan_strip(TileRender &r, int32_t s, StripPlan &plan);
    [[nodiscard]] bool read_plan(TileRender &r, int32_t s, StripPlan &plan);
    void decode(TileRender &r, const StripPlan &plan, Task &t, Participant &who);
    [[nodiscard]] int32_t finish(TileRender &r, int32_t s, StripPlan &plan);
    // Colour steps of tile k (per pixel, as send_strip does them over the
    // whole strip) and its rows into place.
    void assemble(TileRender &r, int32_t k);
    // Whether tile k's area before the strip is in the previous strip's
    // image rows (else it is copied aside); restore() puts it back.
    bool kept_in_rows(const TileRender &r, int32_t k) const
    {
        return previousInRows && k < r.g.tilesAcross - 1;
    }
    void restore(TileRender &r, int32_t k);
    uint8_t *rows_of(int32_t s) const { return rows[s % 2].get(); }

    port::WorkerPool pool;
    std::vector<std::unique_ptr<Participant>> participants;
    uint32_t streamSize = 0;
    // Strip s is planned in plans[s % 2]: the calling thread reads the next
    // strip's bytes while the threads decode this one.
    StripPlan plans[2];
    // Each tile's area as it was before the strip, kept for a tile decoded
    // again. Where the previous strip's image rows hold it (every tile but
    // the last, cut at the image width), it is not copied.
    std::unique_ptr<uint8_t[]> saved;
    // The strip as whole image rows (zero padding at the row ends), put
    // together by the threads when there is no filtering: two, so that the
    // previous strip's stay while the next one is made.
    std::unique_ptr<uint8_t[]> rows[2];
    int32_t current = 0;          // the strip being decoded
    int32_t lastAssembled = -1;   // the strip whose image rows are in rows[strip % 2]
    bool previousInRows = false;  // the strip being decoded finds its tiles' past there
};

void ParallelStrips::assemble(TileRender &r, int32_t k)
{
    if (r.filtering)
        return;  // the filter takes the strip as decoded; its steps come after it
    colour_steps(r, r.g.tileWidth, r.g.tileHeight, 0, r.strip.data() + size_t(k) * r.g.tileBytes);
    tile_to_rows(r, k, rows_of(current));
}

TileRender::TileRender() = default;
TileRender::~TileRender() = default;

int32_t import_threads(const FilterSetup &setup)
{
    const int32_t n = GetPrivateProfileInt(setup.modeName, kThreadsKey, kThreadsAbsent,
                                           setup.profileName);
    // A negative count is taken as one thread; more than kMaxThreads as that.
    if (n == kThreadsPerProcessor)
        return std::min(port::processor_count(), kMaxThreads);
    return std::clamp(n, 1, kMaxThreads);
}

void start_parallel(TileRender &r, int32_t threads)
{
    const TileGeometry &g = r.g;
    if (threads < 2 || uint64_t{g.tileBytes} * uint64_t(g.tilesAcross) > kMaxStripBytes)
        return;
    // Workers only pay when tiles are JPEG-compressed.
    bool jpegTiles = false;
    for (int32_t i = 0; i < r.info->tileCount && r.info->tileTable && !jpegTiles; ++i)
        jpegTiles = static_cast<uint32_t>(r.info->tileTable[i].compressionType) == kTileJpeg;
    if (!jpegTiles)
        return;
    const int32_t size = qorSeek(r.data, 0, SEEK_END);
    int16_t byteOrder = 0, floatFormat = 0;
    if (size < 0 || qorGetDataFormat(r.data, &byteOrder, &floatFormat) < 0)
        return;
    // No memory or no thread for the workers: the strips go on one thread.
    try {
        auto p = std::make_unique<ParallelStrips>(threads - 1);
        if (p->pool.participants() < 2)
            return;
        for (int32_t i = 0; i < p->pool.participants(); ++i) {
            p->participants.push_back(std::make_unique<Participant>());
            if (!p->participants.back()->view.open(byteOrder, floatFormat))
                return;
        }
        p->streamSize = static_cast<uint32_t>(size);
        // Written before they are read: no clearing but the rows' padding.
        p->saved.reset(new uint8_t[size_t(g.tileBytes) * size_t(g.tilesAcross)]);
        if (!r.filtering) {
            const size_t used = size_t(g.width) * size_t(g.channels);
            for (auto &buffer : p->rows) {
                buffer.reset(new uint8_t[size_t(g.stride) * size_t(g.tileHeight)]);
                for (int32_t y = 0; y < g.tileHeight; ++y)
                    std::memset(buffer.get() + size_t(y) * size_t(g.stride) + used, 0, size_t(g.stride) - used);
            }
        }
        r.parallel = std::move(p);
    } catch (const std::exception &) {
    }
}

// Plans strip s: no memory for it leaves the strip to one thread.
void ParallelStrips::plan_strip(TileRender &r, int32_t s, StripPlan &plan)
{
    plan.strip = s;
    try {
        plan.usable = read_plan(r, s, plan);
    } catch (const std::exception &) {
        plan.usable = false;
    }
}

// Lists the strip's JPEG tiles up to the first tile that ends the strip and
// reads their bytes in runs. False when the strip is better decoded on one
// thread. Only the calling thread reads the file, and nothing here changes
// what a strip before this one does.
bool ParallelStrips::read_plan(TileRender &r, int32_t s, StripPlan &plan)
{
    std::vector<Task> &tasks = plan.tasks;
    std::vector<Run> &runs = plan.runs;
    std::vector<uint8_t> &readAhead = plan.readAhead;
    tasks.clear();
    runs.clear();
    bool rawTiles = false;
    for (int32_t k = 0; k < r.g.tilesAcross; ++k) {
        const TileEntry *e = tile_entry(r, s, k);
        if (!e || e->tileLength == 0)
            break;
        const auto kind = static_cast<uint32_t>(e->compressionType);
        if (kind == kTileInvalid)
            break;
        rawTiles |= kind == kTileRaw;
        if (kind != kTileJpeg)
            continue;
        Task t;
        t.k = k;
        t.entry = e;
        const auto target =
            static_cast<int32_t>(static_cast<uint32_t>(e->tileOffset) + kStreamHeaderSize);
        t.position = static_cast<uint32_t>(io::stream_seek_target(0, streamSize, target, SEEK_SET));
        t.shared = shared_table_set(r, *e);
        tasks.push_back(t);
    }
    // An uncompressed tile with an extra channel spills into the next tile's
    // area before it is packed: its order against the JPEG tiles matters.
    if (tasks.size() < 2 || (rawTiles && r.plan.extraChannel))
        return false;

    // Runs: each tile's bytes with some slack, merged where they meet.
    std::vector<size_t> order(tasks.size());
    for (size_t i = 0; i < order.size(); ++i)
        order[i] = i;
    std::sort(order.begin(), order.end(),
              [&](size_t a, size_t b) { return tasks[a].position < tasks[b].position; });
    uint64_t total = 0;
    for (size_t i : order) {
        Task &t = tasks[i];
        const uint64_t end = std::min<uint64_t>(
            streamSize, uint64_t{t.position} + uint32_t(std::max(t.entry->tileLength, 0)) + kViewSlack);
        if (runs.empty() || t.position > uint64_t{runs.back().base} + runs.back().length) {
            runs.push_back({t.position, 0, 0});
        }
        Run &run = runs.back();
        if (end > uint64_t{run.base} + run.length) {
            total += end - (uint64_t{run.base} + run.length);
            run.length = static_cast<uint32_t>(end - run.base);
        }
        t.run = runs.size() - 1;
        if (total > kMaxStripBytes)
            return false;
    }
    readAhead.resize(total);
    size_t offset = 0;
    for (Run &run : runs) {
        run.offset = offset;
        offset += run.length;
        // A short read shortens the run: a tile reaching past it is decoded
        // again from the file, which gives what one thread would get.
        int32_t got = -1;
        if (qorSeek(r.data, static_cast<int32_t>(run.base), SEEK_SET) == static_cast<int32_t>(run.base))
            got = qorRead(r.data, readAhead.data() + run.offset, static_cast<int32_t>(run.length));
        run.length = got > 0 ? std::min(static_cast<uint32_t>(got), run.length) : 0;
        if (has_table_marker(readAhead.data() + run.offset, run.length))
            return false;
    }
    return true;
}

// One tile on a worker (or the calling thread): its area is kept first, so
// that a tile decoded again starts from what one thread would have found.
void ParallelStrips::decode(TileRender &r, const StripPlan &plan, Task &t, Participant &who)
{
    const size_t at = size_t(t.k) * r.g.tileBytes;
    uint8_t *dest = r.strip.data() + at;
    if (!kept_in_rows(r, t.k))
        std::memcpy(saved.get() + at, dest, r.g.tileBytes);
    const Run &run = plan.runs[t.run];
    who.view.show(plan.readAhead.data() + run.offset, run.base, run.length, streamSize);
    FreshTableSet fresh;
    t.rc = decode_jpeg_tile(r, who.view.file(), *t.entry, t.shared ? t.shared : &fresh.set,
                            &who.buffers, dest);
    t.overran = who.view.overran();
    // A tile that failed or will be decoded again is never sent from here.
    if (t.rc == KX_OK && !t.overran)
        assemble(r, t.k);
}

// The strip in tile order, on the calling thread.
int32_t ParallelStrips::finish(TileRender &r, int32_t s, StripPlan &plan)
{
    std::vector<Task> &tasks = plan.tasks;
    std::vector<const jpeg::JpegTableSet *> replaced;
    const auto was_replaced = [&](const jpeg::JpegTableSet *set) {
        return set && std::find(replaced.begin(), replaced.end(), set) != replaced.end();
    };
    size_t next = 0;
    int32_t rc = KX_OK;
    for (int32_t k = 0; k < r.g.tilesAcross && rc == KX_OK; ++k) {
        if (next == tasks.size() || tasks[next].k != k) {
            if ((rc = decode_tile(r, s, k)) == KX_OK)
                assemble(r, k);
            continue;
        }
        Task &t = tasks[next++];
        if (!t.overran && !was_replaced(t.shared)) {
            rc = t.rc;
            continue;
        }
        restore(r, k);
        const jpeg::JpegTableSet before = t.shared ? *t.shared : jpeg::JpegTableSet{};
        if ((rc = decode_tile(r, s, k)) == KX_OK)
            assemble(r, k);
        if (t.shared && std::memcmp(&before, t.shared, sizeof before) != 0)
            replaced.push_back(t.shared);
    }
    return rc;
}

void ParallelStrips::restore(TileRender &r, int32_t k)
{
    const TileGeometry &g = r.g;
    uint8_t *dest = r.strip.data() + size_t(k) * g.tileBytes;
    if (!kept_in_rows(r, k)) {
        std::memcpy(dest, saved.get() + size_t(k) * g.tileBytes, g.tileBytes);
        return;
    }
    const uint8_t *src = rows_of(current - 1) + size_t(k) * size_t(g.tileRowBytes);
    for (int32_t y = 0; y < g.tileHeight; ++y, src += g.stride, dest += g.tileRowBytes)
        std::memcpy(dest, src, size_t(g.tileRowBytes));
}

int32_t decode_strip_parallel(TileRender &r, int32_t s, const uint8_t **rows)
{
    *rows = nullptr;
    ParallelStrips *p = r.parallel.get();
    if (!p)
        return decode_strip(r, s);
    StripPlan &plan = p->plans[s % 2];
    if (plan.strip != s)
        p->plan_strip(r, s, plan);
    if (!plan.usable)
        return decode_strip(r, s);
    // The YCbCr tables are made before the first converted tile, as on one
    // thread; when they cannot be, the strip goes on one thread and meets
    // the failure at its tile.
    for (const Task &t : plan.tasks)
        if (jpeg_tile_converts(r, *t.entry)) {
            if (prepare_ycbcr(r) != KX_OK)
                return decode_strip(r, s);
            break;
        }
    p->current = s;
    p->previousInRows = !r.filtering && s > 0 && p->lastAssembled == s - 1;
    StripPlan &next = p->plans[(s + 1) % 2];
    p->pool.run(
        static_cast<int32_t>(plan.tasks.size()),
        [&](int32_t i, int32_t who) { p->decode(r, plan, plan.tasks[size_t(i)], *p->participants[size_t(who)]); },
        [&] {
            if (s + 1 < r.g.strips)
                p->plan_strip(r, s + 1, next);
        });
    const int32_t rc = p->finish(r, s, plan);
    if (rc == KX_OK && !r.filtering) {
        p->lastAssembled = s;
        *rows = p->rows_of(s);
    }
    return rc;
}

} // namespace kxfpx::fpx
