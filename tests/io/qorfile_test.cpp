// QorFile over paths and caller memory blocks: random operations against plain bytes, and edges.
#include "io_support.h"

#include <random>

using namespace iotest;

namespace {

// Random seeks, reads (and writes) against `model`; seeks reach `beyond` bytes past the end.
void random_ops(QorFile f, Bytes &model, uint32_t seed, int steps, bool writes, size_t beyond, int32_t most)
{
    std::mt19937 rng(seed);
    int64_t pos = qorSeek(f, 0, SEEK_CUR);
    for (int step = 0; step < steps; step++) {
        const unsigned what = rng() % (writes ? 3 : 2);
        if (what == 0) {
            const int32_t target = static_cast<int32_t>(rng() % (model.size() + beyond + 1));
            const int whence = writes ? SEEK_SET : static_cast<int>(rng() % 3);
            const int64_t base = whence == SEEK_SET ? 0 : whence == SEEK_CUR ? pos : int64_t(model.size());
            ASSERT_EQ(qorSeek(f, static_cast<int32_t>(target - base), whence), target);
            pos = target;
        } else if (what == 1) {
            const int32_t want = static_cast<int32_t>(rng() % 3 == 0 ? rng() % most : rng() % 70);
            const int64_t left = int64_t(model.size()) - pos;
            const int32_t expect = static_cast<int32_t>(std::max<int64_t>(0, std::min<int64_t>(want, left)));
            Bytes buf(size_t(want) + 1, 0xEE);
            ASSERT_EQ(qorRead(f, buf.data(), want), expect);
            ASSERT_TRUE(std::equal(buf.begin(), buf.begin() + expect, model.begin() + pos)) << pos;
            ASSERT_EQ(buf[size_t(expect)], 0xEE);
            pos += expect;
        } else {
            const Bytes chunk = pattern(1 + rng() % size_t(most));
            ASSERT_EQ(qorWrite(f, chunk.data(), int32_t(chunk.size())), int32_t(chunk.size()));
            model.resize(std::max(model.size(), size_t(pos) + chunk.size()));
            std::copy(chunk.begin(), chunk.end(), model.begin() + pos);
            pos += int64_t(chunk.size());
        }
    }
}

// A file at `path` holding `contents`, opened in `mode`.
class QorPath : public ::testing::Test {
protected:
    QorFile open(const Bytes &contents, uint32_t mode)
    {
        write_file(path, contents);
        return qorOpen(path.c_str(), nullptr, mode);
    }
    TempDir dir;
    const std::string path = dir.file("f");
};

TEST_F(QorPath, RandomReadsSeeksAndWritesMatchTheFile)
{
    Bytes data = pattern(5 * kQorBufferSize + 777), model;
    QorFile f = open(data, QOR_READ);
    random_ops(f, data, 1234, 2000, false, 0, 40000);
    qorClose(f);
    f = open({}, QOR_CREATE | QOR_WRITE);
    random_ops(f, model, 99, 600, true, 0, 5000);
    ASSERT_EQ(qorClose(f), 0);
    EXPECT_EQ(read_file(path), model);
}

TEST(QorMemory, RandomWritesMatchTheBlockAndThePointerFollows)
{
    MemoryBlock block(Bytes(), 8);
    block.desc.growBy = 7;
    QorFile f = qorOpen(nullptr, &block.desc, QOR_CREATE | QOR_READWRITE);
    ASSERT_NE(f, nullptr);
    Bytes model;
    for (uint32_t round = 0; round < 100; ++round) {
        random_ops(f, model, round, 30, true, 40, 50);
        ASSERT_EQ(block.bytes(model.size()), model); // through the caller's pointer, wherever the block moved
    }
    ASSERT_EQ(qorClose(f), 0);
    EXPECT_EQ(static_cast<uint8_t *>(block.data)[model.size()], 0xFF);
}

TEST_F(QorPath, ShortFilesAndWindowEdges)
{
    QorFile f = open(pattern(kQorBufferSize + 100), QOR_READ); // windows of kQorBufferSize, nothing read at open
    EXPECT_TRUE(FillQorIOBuf(f) == kQorBufferSize && FillQorIOBuf(f) == 100 && FillQorIOBuf(f) == 0);
    EXPECT_EQ(qorSeek(f, kQorBufferSize + 90, SEEK_SET), kQorBufferSize + 90);
    EXPECT_EQ(qorCheckBuf(f, kQorBufferSize + 100), kQorBufferSize + 100); // against the file's length
    EXPECT_EQ(qorCheckBuf(f, kQorBufferSize + 101), 0);
    qorClose(f);
    // A read ending at a window's end, then a write: it lands at the position, not the window's start.
    Bytes data = pattern(2 * kQorBufferSize), window(kQorBufferSize);
    f = open(data, QOR_READWRITE);
    ASSERT_EQ(qorRead(f, window.data(), kQorBufferSize), kQorBufferSize);
    ASSERT_TRUE(qorWrite(f, "\xAB", 1) == 1 && qorClose(f) == 0);
    data[kQorBufferSize] = 0xAB;
    EXPECT_EQ(read_file(path), data);
}

// Read-only seeks: a file allows its end; a block's end offset is its last byte's index, and its end is refused.
TEST_F(QorPath, SeekBoundsOfReadOnlyFilesAndBlocks)
{
    MemoryBlock block({'A', 'B', 'C', 'D', 'E', 'F', 0xFF, 0});
    QorFile file = open(pattern(100), QOR_READ), memory = qorOpen(nullptr, &block.desc, QOR_READ);
    const struct { QorFile f; int32_t offset, whence, expected; } cases[] = {
        {file, 101, SEEK_SET, -1},  {file, -1, SEEK_SET, -1},   {file, 1, 3, -1},          {file, -1, SEEK_CUR, -1},
        {file, 100, SEEK_SET, 100}, {file, 1, SEEK_CUR, -1},    {file, -100, SEEK_CUR, 0}, {memory, 6, SEEK_SET, -1},
        {memory, -1, SEEK_SET, -1}, {memory, -2, SEEK_END, 4},  {memory, 0, SEEK_END, 6},  {memory, -7, SEEK_END, -1},
        {memory, 0, SEEK_CUR, 6}};
    for (const auto &c : cases)
        EXPECT_EQ(qorSeek(c.f, c.offset, c.whence), c.expected) << (c.f == file) << " " << c.offset << " " << c.whence;
    uint8_t byte = 0;
    EXPECT_EQ(qorRead(memory, &byte, 1), 0);
    EXPECT_TRUE(qorClose(memory) == 0 && qorClose(file) == 0);
}

TEST_F(QorPath, FlushesAndFailedFlushes)
{
    const Bytes data = pattern(kQorBufferSize + 10);
    QorFile f = open({}, QOR_CREATE | QOR_READWRITE);
    ASSERT_EQ(qorWrite(f, data.data(), int32_t(data.size())), int32_t(data.size()));
    EXPECT_EQ(FlushQorIO(f), 10); // the full window went out when the next byte needed room
    EXPECT_EQ(FlushQorIO(f), 0);  // nothing dirty
    EXPECT_EQ(read_file(path), data);
    EXPECT_EQ(qorClose(f), 0);
    f = open(pattern(10), QOR_READ); // "r": writes cannot reach the file
    EXPECT_EQ(qorWrite(f, data.data(), int32_t(data.size())), -1);
    EXPECT_EQ(qorWrite(f, data.data(), 1), 0); // once failed, a write that needs a flush gives 0
    EXPECT_EQ(qorClose(f), -1);
    EXPECT_EQ(read_file(path), pattern(10));
}

// "r" for a low byte of 0, "r+" with the read-write bit, "w+" with the write bit alone or the create bit.
TEST_F(QorPath, OpenModes)
{
    const Bytes five = pattern(5);
    const Bytes patched = {0xAA, five[1], five[2], five[3], five[4]};
    // Only the write and read-write bits allow a seek past the end (the create bit alone does not).
    const struct { uint32_t mode; int32_t closeResult; Bytes after; int32_t pastEnd; } cases[] = {
        {QOR_READ, -1, five, -1},       {QOR_WRITE, 0, {0xAA}, 500},
        {QOR_READWRITE, 0, patched, 500}, {QOR_READWRITE | QOR_WRITE, 0, patched, 500},
        {QOR_CREATE, 0, {0xAA}, -1},    {QOR_CREATE | QOR_READWRITE, 0, {0xAA}, 500}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.mode);
        QorFile f = open(five, c.mode);
        EXPECT_EQ(qorSeek(f, 500, SEEK_SET), c.pastEnd);
        EXPECT_TRUE(qorSeek(f, 0, SEEK_SET) == 0 && qorWrite(f, "\xAA", 1) == 1);
        EXPECT_EQ(qorClose(f), c.closeResult);
        EXPECT_EQ(read_file(path), c.after);
    }
    const std::string missing = dir.file("missing");
    for (const char *refused : {missing.c_str(), "", static_cast<const char *>(nullptr)})
        EXPECT_EQ(qorOpen(refused, nullptr, QOR_READ), nullptr);
    EXPECT_EQ(qorOpen(path.c_str(), nullptr, 0x4), nullptr); // unsupported low byte
    MemoryBlock block({'m', 'e', 'm', 0xFF}); // a path wins over the descriptor's block
    write_file(path, {'f', 'i', 'l', 'e'});
    QorFile f = qorOpen(path.c_str(), &block.desc, QOR_READ);
    char buf[8] = {};
    EXPECT_EQ(qorRead(f, buf, 8), 4);
    EXPECT_STREQ(buf, "file");
    EXPECT_EQ(block.desc.blockSize, 4); // the block was not looked at
    qorClose(f);
    // Exist and delete answer -1 / 1 by path, with or without a descriptor that has no callback.
    QorOpenDesc desc{};
    const QorFile there = qorOpen(path.c_str(), nullptr, QOR_EXIST);
    EXPECT_TRUE(there != nullptr && there != reinterpret_cast<QorFile>(-1));
    EXPECT_EQ(qorOpen(path.c_str(), nullptr, QOR_DELETE), reinterpret_cast<QorFile>(1));
    EXPECT_FALSE(kxtest::path_exists(path));
    EXPECT_EQ(qorOpen(path.c_str(), nullptr, QOR_DELETE), nullptr);
    EXPECT_TRUE(qorOpen(path.c_str(), nullptr, QOR_EXIST) == reinterpret_cast<QorFile>(-1) &&
                qorOpen(path.c_str(), &desc, QOR_EXIST) == reinterpret_cast<QorFile>(-1));
}

TEST(QorFilePath, HandedInAndStandardStreams)
{
    FILE *stream = std::tmpfile();
    QorOpenDesc desc{};
    desc.handedStream = stream;
    QorFile f = qorOpen(nullptr, &desc, QOR_HANDED);
    EXPECT_TRUE(qorWrite(f, "hello", 5) == 5 && qorClose(f) == 0);
    std::rewind(stream); // flushed, not closed
    char back[6] = {};
    EXPECT_EQ(std::fread(back, 1, 5, stream), 5u);
    EXPECT_STREQ(back, "hello");
    std::fclose(stream);
    desc.handedStream = reinterpret_cast<FILE *>(-1);
    EXPECT_TRUE(qorOpen(nullptr, &desc, QOR_HANDED) == nullptr && qorOpen(nullptr, nullptr, QOR_HANDED) == nullptr);
    for (const auto &[name, std_stream] : {std::pair<const char *, FILE *>{"stdin", stdin}, {"stdout", stdout}}) {
        QorFile s = qorOpen(name, nullptr, name[3] == 'i' ? QOR_CREATE | QOR_WRITE : QOR_READ); // whatever the mode
        ASSERT_NE(s, nullptr);
        EXPECT_EQ(record(s).stream, std_stream);
        EXPECT_EQ(qorClose(s), 0);
    }
    EXPECT_NE(std::fflush(stdout), EOF); // still usable afterwards
}

TEST_F(QorPath, NullHandlesNegativeCountsAndCopy)
{
    uint8_t buf[4] = {1, 2, 3, 4};
    EXPECT_TRUE(qorRead(nullptr, buf, 4) == 0 && qorWrite(nullptr, buf, 4) == 0 && qorCheckBuf(nullptr, 4) == 0);
    EXPECT_TRUE(qorSeek(nullptr, 0, SEEK_SET) == -1 && qorClose(nullptr) == -1);
    EXPECT_TRUE(FillQorIOBuf(nullptr) == -1 && FlushQorIO(nullptr) == -1 && unxSeek(nullptr, 0, SEEK_SET) == -1);
    const Bytes data = pattern(3 * 4096 + 17);
    const std::string dst = dir.file("dst");
    QorFile f = open(data, QOR_READWRITE);
    EXPECT_TRUE(qorRead(f, buf, -1) == -1 && qorWrite(f, buf, -5) == -1 && qorRead(f, buf, 0) == 0);
    EXPECT_EQ(qorSeek(f, 0, SEEK_CUR), 0);
    qorClose(f);
    for (const Bytes &contents : {data, Bytes()}) {
        write_file(path, contents);
        EXPECT_EQ(qorCopy(path.c_str(), dst.c_str()), 0);
        EXPECT_EQ(read_file(dst), contents);
    }
    EXPECT_EQ(qorCopy(dir.file("absent").c_str(), dst.c_str()), -1);
    EXPECT_EQ(qorCopy(path.c_str(), dir.file("no/such/dir").c_str()), -1);
}

// The size a block descriptor claims (0: the block's own) as qorOpen rewrites it (0: refused), and what reads.
TEST(QorMemory, EndMarkerAndLogicalLength)
{
    const struct { Bytes block; int32_t claimed, blockSize; Bytes readable; } cases[] = {
        {{0x41, 0x42, 0xFF, 0, 0}, 0, 2, {0x41, 0x42}},
        {{0x41, 0x42, 0x43}, 0, 2, {0x41, 0x42}}, // no zero tail: only the last byte goes
        {{0xFF, 0, 0, 0}, 0, 0, {}}, {{0, 0, 0, 0, 0, 0, 0, 0}, 0, -1, {}},
        {{0, 7, 0, 9, 0}, 0, 3, {0, 7, 0}},       // inner zeros are data
        {{1, 2, 3}, 1 << 20, 2, {1, 2}},         // held to the block
        {{1, 2, 3}, -5, 0, {}}};
    for (const auto &c : cases) {
        MemoryBlock block(c.block);
        if (c.claimed)
            block.desc.blockSize = c.claimed;
        QorFile f = qorOpen("", &block.desc, QOR_READ);
        ASSERT_EQ(f != nullptr, c.claimed >= 0);
        if (!f)
            continue;
        EXPECT_EQ(block.desc.blockSize, c.blockSize);
        Bytes buf(16, 0xEE), want = c.readable;
        want.resize(16, 0xEE);
        EXPECT_EQ(qorRead(f, buf.data(), 16), int32_t(c.readable.size()));
        EXPECT_EQ(buf, want);
        EXPECT_EQ(qorClose(f), 0);
        EXPECT_EQ(block.bytes(c.block.size()), c.block); // read-only: no marker written
    }
    MemoryBlock block({1, 2, 3});
    for (void **pointer : {&block.data, static_cast<void **>(nullptr)}) {
        QorOpenDesc desc = block.desc;
        desc.blockPtr = pointer, desc.blockSize = pointer ? 0 : 3; // a zero size, then no block
        EXPECT_EQ(qorOpen(nullptr, &desc, QOR_READ), nullptr);
    }
}

// Growth by whole increments (none with 0), seeks past the limit, the end marker with the write bits only.
TEST(QorMemory, GrowthAndTheEndMarker)
{
    const Bytes ab = {'A', 'B', 0xFF, 0, 0, 0, 0, 0}, twenty = pattern(20), abc = {'a', 'b', 'c'};
    const struct {
        Bytes initial; uint32_t size, growBy, mode; int32_t seek, whence; Bytes data; int32_t written;
        uint32_t grown; int32_t closed; size_t from; Bytes after;
    } cases[] = {
        {{}, 16, 1024, QOR_CREATE | QOR_WRITE, 0, SEEK_CUR, twenty, 20, 16 + 1024, 0, 20, {0xFF}},
        {{}, 8, 0, QOR_CREATE | QOR_WRITE, 0, SEEK_CUR, pattern(10), -1, 8, -1, 0, pattern(8)}, // no room left
        {ab, 0, 4, QOR_READWRITE, 20, SEEK_SET, {'Z'}, 1, 25, 0, 20, {'Z', 0xFF}},           // target + 1 + growBy
        {{}, 4, 2, QOR_CREATE | QOR_WRITE, 100, SEEK_END, {'x'}, 1, 102, 0, 100, {'x', 0xFF}}, // 49 increments of 2
        {{}, 8, 8, QOR_CREATE, 0, SEEK_CUR, abc, 3, 8, 0, 0, {'a', 'b', 'c', 0, 0}},
        {{}, 8, 8, QOR_CREATE | QOR_WRITE, 0, SEEK_CUR, abc, 3, 8, 0, 0, {'a', 'b', 'c', 0xFF, 0}}};
    for (const auto &c : cases) {
        SCOPED_TRACE(&c - cases);
        MemoryBlock block(c.initial, c.size);
        block.desc.growBy = c.growBy;
        QorFile f = qorOpen(nullptr, &block.desc, c.mode);
        EXPECT_EQ(qorSeek(f, c.seek, c.whence), c.seek);
        EXPECT_EQ(qorWrite(f, c.data.data(), int32_t(c.data.size())), c.written);
        EXPECT_EQ(block.size(), c.grown);
        EXPECT_EQ(qorClose(f), c.closed);
        const Bytes got = block.bytes(c.from + c.after.size());
        EXPECT_EQ(Bytes(got.begin() + std::ptrdiff_t(c.from), got.end()), c.after);
    }
}

} // namespace
