// QorFile over the three other sources: a caller's memory block (end marker,
// logical length, growth through the caller's pointer), the host I/O
// callback (recorded operation by operation) and the host stream object
// reached through global option 67.
#include "qorfile_support.h"

#include "options/yt_ut.h"

#include <algorithm>
#include <random>
#include <string>

using namespace iotest;

namespace {

// ---------------------------------------------------------------- memory

TEST(QorMemory, EndMarkerAndLogicalLength)
{
    struct Case {
        Bytes block;
        int32_t blockSize; // as rewritten by qorOpen
        Bytes readable;
    };
    const Case cases[] = {
        {{0x41, 0x42, 0xFF, 0, 0}, 2, {0x41, 0x42}},
        {{0x41, 0x42, 0x43}, 2, {0x41, 0x42}},      // no zero tail: only the last byte goes
        {{0xFF, 0, 0, 0}, 0, {}},
        {{0, 0, 0, 0, 0, 0, 0, 0}, -1, {}},       // all zeros
        {{0, 7, 0, 9, 0}, 3, {0, 7, 0}},           // inner zeros are data
    };
    for (const Case &c : cases) {
        MemoryBlock block(c.block);
        QorFile f = qorOpen("", &block.desc, QOR_READ);
        ASSERT_NE(f, nullptr);
        EXPECT_EQ(block.desc.blockSize, c.blockSize);
        const QorFileRec &rec = record(f);
        EXPECT_EQ(rec.nextOffset, -1);
        EXPECT_EQ(rec.bufLast, c.blockSize - 1);
        EXPECT_EQ(rec.bufLimit, c.blockSize - 1);
        EXPECT_EQ(rec.endOffset, c.blockSize - 1);
        EXPECT_EQ(rec.lineFormat, 2);
        uint8_t buf[16];
        std::memset(buf, 0xEE, sizeof buf);
        const int32_t got = qorRead(f, buf, 16);
        EXPECT_EQ(Bytes(buf, buf + std::max(got, 0)), c.readable);
        EXPECT_EQ(buf[c.readable.size()], 0xEE);
        EXPECT_EQ(qorRead(f, buf, 16), 0);
        EXPECT_EQ(qorClose(f), 0);
        EXPECT_EQ(block.bytes(c.block.size()), c.block); // read-only: no marker
    }
}

TEST(QorMemory, GrowsThroughTheCallersPointerAndMarksTheEnd)
{
    MemoryBlock block(Bytes(), 16);
    block.desc.growBy = 1024;
    void *const first = block.data;
    QorFile f = qorOpen(nullptr, &block.desc, QOR_CREATE | QOR_WRITE);
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(record(f).bufLast, -1);
    EXPECT_EQ(record(f).bufLimit, 15);
    const Bytes data = pattern(20);
    ASSERT_EQ(qorWrite(f, data.data(), 16), 16);
    EXPECT_EQ(block.data, first); // exactly full: not grown yet
    ASSERT_EQ(qorWrite(f, data.data() + 16, 4), 4);
    EXPECT_NE(block.data, first);
    EXPECT_EQ(block.size(), 16u + 1024u);
    EXPECT_EQ(GlobalLock(GlobalHandle(block.data)), block.data);
    EXPECT_EQ(record(f).bufLimit, 16 + 1024 - 1);
    EXPECT_EQ(block.bytes(20), data);
    EXPECT_EQ(block.desc.blockSize, 16); // a created block keeps the given size
    ASSERT_EQ(qorClose(f), 0);
    const Bytes after = block.bytes(24);
    EXPECT_EQ(after[20], 0xFF);
    EXPECT_EQ(after[21], 0);

    // Reopened for reading, the block gives back exactly what was written.
    block.desc.blockSize = static_cast<int32_t>(block.size());
    QorFile g = qorOpen(nullptr, &block.desc, QOR_READ);
    ASSERT_NE(g, nullptr);
    EXPECT_EQ(block.desc.blockSize, 20);
    uint8_t back[64];
    EXPECT_EQ(qorRead(g, back, 64), 20);
    EXPECT_EQ(Bytes(back, back + 20), data);
    EXPECT_EQ(qorClose(g), 0);
}

TEST(QorMemory, ZeroGrowthIncrementFailsInsteadOfSpinning)
{
    MemoryBlock block(Bytes(), 8);
    void *const first = block.data;
    QorFile f = qorOpen(nullptr, &block.desc, QOR_CREATE | QOR_WRITE);
    ASSERT_NE(f, nullptr);
    const Bytes data = pattern(10);
    EXPECT_EQ(qorWrite(f, data.data(), 10), -1);
    EXPECT_EQ(record(f).lastError, -1);
    EXPECT_EQ(block.data, first);
    EXPECT_EQ(block.bytes(8), Bytes(data.begin(), data.begin() + 8));
    EXPECT_EQ(FlushQorIO(f), -1);
    EXPECT_EQ(qorClose(f), -1); // the end marker has no room either
    EXPECT_EQ(block.data, first);
}

TEST(QorMemory, SeeksWithinAndBeyondTheBlock)
{
    MemoryBlock block({'A', 'B', 'C', 'D', 'E', 'F', 0xFF, 0});
    QorFile f = qorOpen(nullptr, &block.desc, QOR_READ);
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(qorSeek(f, 5, SEEK_SET), 5);
    uint8_t c = 0;
    EXPECT_EQ(qorRead(f, &c, 1), 1);
    EXPECT_EQ(c, 'F');
    // endOffset is the index of the last byte, so for a read-only block even
    // the position just past it is out of bounds.
    EXPECT_EQ(qorSeek(f, 6, SEEK_SET), -1);
    EXPECT_EQ(qorSeek(f, -1, SEEK_SET), -1);
    EXPECT_EQ(qorSeek(f, -2, SEEK_END), 4);
    EXPECT_EQ(qorSeek(f, 0, SEEK_END), 6);
    EXPECT_EQ(qorRead(f, &c, 1), 0);
    EXPECT_EQ(qorSeek(f, -7, SEEK_END), -1); // before the start
    EXPECT_EQ(qorSeek(f, 0, SEEK_CUR), 6);
    EXPECT_EQ(qorClose(f), 0);
}

TEST(QorMemory, SeekPastTheLimitGrowsTheBlock)
{
    MemoryBlock block({'A', 'B', 0xFF, 0, 0, 0, 0, 0});
    block.desc.growBy = 4;
    QorFile f = qorOpen(nullptr, &block.desc, QOR_READWRITE);
    ASSERT_NE(f, nullptr);
    void *const first = block.data;
    EXPECT_EQ(qorSeek(f, 20, SEEK_SET), 20);
    EXPECT_NE(block.data, first);
    EXPECT_EQ(block.size(), 25u); // target + 1 + growBy
    EXPECT_EQ(record(f).bufLimit, 24);
    EXPECT_EQ(record(f).bufLast, 1); // not moved by the seek
    ASSERT_EQ(qorWrite(f, "Z", 1), 1);
    ASSERT_EQ(qorClose(f), 0);
    const Bytes after = block.bytes(22);
    EXPECT_EQ(after[0], 'A');
    EXPECT_EQ(after[20], 'Z');
    EXPECT_EQ(after[21], 0xFF);
}

TEST(QorMemory, WriteFarPastTheEndGrowsInWholeIncrements)
{
    MemoryBlock block(Bytes(), 4);
    block.desc.growBy = 2;
    QorFile f = qorOpen(nullptr, &block.desc, QOR_CREATE | QOR_WRITE);
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(qorSeek(f, 100, SEEK_END), 100);
    ASSERT_EQ(qorWrite(f, "x", 1), 1);
    EXPECT_EQ(block.size(), 102u); // 4 + 49 increments of 2
    EXPECT_EQ(static_cast<uint8_t *>(block.data)[100], 'x');
    ASSERT_EQ(qorClose(f), 0);
    EXPECT_EQ(static_cast<uint8_t *>(block.data)[101], 0xFF);
}

// Random writes, seeks and reads on a growing block against a model: the
// block's bytes, its logical length and the caller's pointer stay right.
TEST(QorMemory, RandomWritesMatchAModel)
{
    MemoryBlock block(Bytes(), 8);
    block.desc.growBy = 7;
    QorFile f = qorOpen(nullptr, &block.desc, QOR_CREATE | QOR_READWRITE);
    ASSERT_NE(f, nullptr);
    Bytes model;
    int64_t pos = 0;
    std::mt19937 rng(7);
    for (int step = 0; step < 3000; step++) {
        const unsigned what = rng() % 3;
        if (what == 0) {
            const int32_t target = static_cast<int32_t>(rng() % (model.size() + 40));
            ASSERT_EQ(qorSeek(f, target, SEEK_SET), target);
            pos = target;
        } else if (what == 1) {
            const int32_t want = static_cast<int32_t>(rng() % 50);
            Bytes got(static_cast<size_t>(want) + 1, 0xEE);
            const int32_t expect = static_cast<int32_t>(
                std::max<int64_t>(0, std::min<int64_t>(want, static_cast<int64_t>(model.size()) - pos)));
            ASSERT_EQ(qorRead(f, got.data(), want), expect);
            ASSERT_TRUE(std::equal(got.begin(), got.begin() + expect, model.begin() + pos));
            ASSERT_EQ(got[static_cast<size_t>(expect)], 0xEE);
            pos += expect;
        } else {
            const Bytes chunk = pattern(rng() % 30 + 1);
            ASSERT_EQ(qorWrite(f, chunk.data(), static_cast<int32_t>(chunk.size())),
                      static_cast<int32_t>(chunk.size()));
            if (model.size() < pos + chunk.size())
                model.resize(static_cast<size_t>(pos) + chunk.size());
            std::copy(chunk.begin(), chunk.end(), model.begin() + pos);
            pos += static_cast<int64_t>(chunk.size());
        }
        ASSERT_EQ(record(f).bufLast + 1, static_cast<int32_t>(model.size()));
        ASSERT_EQ(GlobalHandle(block.data), record(f).bufHandle);
        ASSERT_EQ(static_cast<int64_t>(block.size()), record(f).bufLimit + 1);
    }
    EXPECT_EQ(block.bytes(model.size()), model);
    ASSERT_EQ(qorClose(f), 0);
    EXPECT_EQ(static_cast<uint8_t *>(block.data)[model.size()], 0xFF);
}

// The end marker goes with the write and read-write bits only: a block
// opened with the create bit alone is written but left unmarked.
TEST(QorMemory, EndMarkerNeedsWriteAccess)
{
    for (const uint32_t mode : {QOR_CREATE, QOR_CREATE | QOR_WRITE, QOR_CREATE | QOR_READWRITE}) {
        SCOPED_TRACE(mode);
        MemoryBlock block(Bytes(), 8);
        block.desc.growBy = 8;
        QorFile f = qorOpen(nullptr, &block.desc, mode);
        ASSERT_NE(f, nullptr);
        ASSERT_EQ(qorWrite(f, "abc", 3), 3);
        EXPECT_EQ(qorClose(f), 0);
        const uint8_t marker = (mode & 0x3u) ? 0xFF : 0x00;
        EXPECT_EQ(block.bytes(5), (Bytes{'a', 'b', 'c', marker, 0}));
    }
}

TEST(QorMemory, BadDescriptors)
{
    MemoryBlock block({1, 2, 3});
    QorOpenDesc desc = block.desc;
    desc.blockSize = 0;
    EXPECT_EQ(qorOpen(nullptr, &desc, QOR_READ), nullptr);
    desc.blockSize = -5;
    EXPECT_EQ(qorOpen(nullptr, &desc, QOR_READ), nullptr);
    desc = block.desc;
    desc.blockPtr = nullptr;
    EXPECT_EQ(qorOpen(nullptr, &desc, QOR_READ), nullptr);
    EXPECT_EQ(qorOpen(nullptr, nullptr, QOR_READ), nullptr);
    // A size larger than the block is held to the block.
    desc = block.desc;
    desc.blockSize = 1 << 20;
    QorFile f = qorOpen(nullptr, &desc, QOR_READ);
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(desc.blockSize, 2);
    EXPECT_EQ(qorClose(f), 0);
}

// -------------------------------------------------------------- callback

struct Call {
    void *handle;
    int32_t op;
    const void *data;
    int64_t count;
    std::string text; // path of open, exists and delete
    int32_t offset;   // the offset a seek points at
};

struct HostFile {
    std::vector<Call> calls;
    Bytes contents;
    int64_t pos = 0;
    int64_t open_answer = 0x5150;
    int64_t query_answer = 42;
};

HostFile *g_host = nullptr;

int64_t host_io(void *handle, int32_t op, void *data, int64_t count)
{
    HostFile &h = *g_host;
    Call call{handle, op, data, count, std::string(), 0};
    int64_t result = 0;
    switch (op) {
    case QOR_IO_OPEN:
    case QOR_IO_EXISTS:
    case QOR_IO_DELETE:
        call.text = data ? static_cast<const char *>(data) : "";
        result = op == QOR_IO_OPEN ? h.open_answer : h.query_answer;
        break;
    case QOR_IO_READ: {
        const int64_t n = std::min<int64_t>(count, static_cast<int64_t>(h.contents.size()) - h.pos);
        std::memcpy(data, h.contents.data() + h.pos, static_cast<size_t>(n));
        h.pos += n;
        result = n;
        break;
    }
    case QOR_IO_WRITE:
        if (h.contents.size() < static_cast<size_t>(h.pos + count))
            h.contents.resize(static_cast<size_t>(h.pos + count));
        std::memcpy(h.contents.data() + h.pos, data, static_cast<size_t>(count));
        h.pos += count;
        result = count;
        break;
    case QOR_IO_SEEK:
        call.offset = *static_cast<int32_t *>(data);
        h.pos = (count == SEEK_SET ? 0 : count == SEEK_CUR ? h.pos : static_cast<int64_t>(h.contents.size())) +
                call.offset;
        result = h.pos;
        break;
    default:
        break;
    }
    h.calls.push_back(call);
    return result;
}

class QorCallback : public ::testing::Test {
protected:
    void SetUp() override { g_host = &host; }
    void TearDown() override { g_host = nullptr; }
    HostFile host;
    int context = 0;
};

TEST_F(QorCallback, EveryOperationIsForwarded)
{
    host.contents = {1, 2, 3, 4, 5, 6, 7, 8};
    QorOpenDesc desc{};
    desc.blockPtr = &context;
    desc.ioCallback = host_io;
    QorFile f = qorOpen("image.fpx", &desc, QOR_READ);
    ASSERT_NE(f, nullptr);
    ASSERT_EQ(host.calls.size(), 1u);
    EXPECT_EQ(host.calls[0].handle, &context);
    EXPECT_EQ(host.calls[0].op, QOR_IO_OPEN);
    EXPECT_EQ(host.calls[0].text, "image.fpx");
    EXPECT_EQ(host.calls[0].count, 0);
    void *const handle = reinterpret_cast<void *>(host.open_answer);
    EXPECT_EQ(record(f).hostHandle, handle);

    uint8_t buf[8];
    EXPECT_EQ(qorRead(f, buf, 3), 3);
    EXPECT_EQ(qorSeek(f, 2, SEEK_CUR), 5);
    EXPECT_EQ(qorWrite(f, "xy", 2), 2);
    // A typed array read is one read call of the whole array.
    EXPECT_EQ(qorSeek(f, 0, SEEK_SET), 0);
    int16_t shorts[4];
    EXPECT_EQ(qorReadShort(f, shorts, 4), 4);
    EXPECT_EQ(qorClose(f), 0);

    const struct {
        int32_t op;
        int64_t count;
        int32_t offset;
    } expected[] = {{QOR_IO_OPEN, 0, 0}, {QOR_IO_READ, 3, 0},     {QOR_IO_SEEK, SEEK_CUR, 2},
                    {QOR_IO_WRITE, 2, 0}, {QOR_IO_SEEK, SEEK_SET, 0}, {QOR_IO_READ, 8, 0},
                    {QOR_IO_CLOSE, 0, 0}};
    ASSERT_EQ(host.calls.size(), sizeof expected / sizeof expected[0]);
    for (size_t i = 1; i < host.calls.size(); i++) {
        SCOPED_TRACE(i);
        EXPECT_EQ(host.calls[i].handle, handle);
        EXPECT_EQ(host.calls[i].op, expected[i].op);
        EXPECT_EQ(host.calls[i].count, expected[i].count);
        EXPECT_EQ(host.calls[i].offset, expected[i].offset);
    }
    EXPECT_EQ(host.calls[1].data, buf);
    EXPECT_EQ(host.calls.back().data, nullptr);
    EXPECT_EQ(host.contents[5], 'x');
}

TEST_F(QorCallback, ExistsAndDeleteReturnTheCallbacksAnswer)
{
    QorOpenDesc desc{};
    desc.blockPtr = &context;
    desc.ioCallback = host_io;
    EXPECT_EQ(qorOpen("a.fpx", &desc, QOR_EXIST), reinterpret_cast<QorFile>(42));
    host.query_answer = 0;
    EXPECT_EQ(qorOpen("b.fpx", &desc, QOR_DELETE), nullptr);
    ASSERT_EQ(host.calls.size(), 2u);
    EXPECT_EQ(host.calls[0].op, QOR_IO_EXISTS);
    EXPECT_EQ(host.calls[0].handle, nullptr);
    EXPECT_EQ(host.calls[0].text, "a.fpx");
    EXPECT_EQ(host.calls[1].op, QOR_IO_DELETE);
    EXPECT_EQ(host.calls[1].text, "b.fpx");
}

TEST_F(QorCallback, HandedInHandleSkipsTheOpen)
{
    host.contents = {9, 8, 7};
    QorOpenDesc desc{};
    desc.ioCallback = host_io;
    desc.ioContext = &context;
    QorFile f = qorOpen(nullptr, &desc, QOR_HANDED);
    ASSERT_NE(f, nullptr);
    EXPECT_TRUE(host.calls.empty());
    EXPECT_EQ(record(f).borrowedStream, 1u);
    uint8_t b[3];
    EXPECT_EQ(qorRead(f, b, 3), 3);
    EXPECT_EQ(qorClose(f), 0);
    ASSERT_EQ(host.calls.size(), 2u);
    EXPECT_EQ(host.calls[0].handle, &context);
    EXPECT_EQ(host.calls[1].op, QOR_IO_CLOSE);
}

TEST_F(QorCallback, RefusedOpenFallsBackToTheMemoryBlock)
{
    host.open_answer = 0;
    MemoryBlock block({'h', 'i', 0xFF});
    block.desc.ioCallback = host_io;
    QorFile f = qorOpen("", &block.desc, QOR_READ);
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(record(f).hostIo, nullptr);
    char b[4] = {};
    EXPECT_EQ(qorRead(f, b, 4), 2);
    EXPECT_STREQ(b, "hi");
    EXPECT_EQ(qorClose(f), 0);
    EXPECT_EQ(host.calls.size(), 1u); // only the refused open
}

// ---------------------------------------------------------------- object

struct TestObject : QorHostStream {
    std::vector<std::string> log;
    Bytes contents;
    int32_t pos = 0;
    int32_t request_answer = 1;
    int32_t read_status = 0;
};

TestObject *self_of(QorHostStream *s) { return static_cast<TestObject *>(s); }

int32_t object_close(QorHostStream *s)
{
    self_of(s)->log.push_back("close");
    return 0;
}
int32_t object_read(QorHostStream *s, void *buffer, int32_t count, int32_t *done)
{
    TestObject *o = self_of(s);
    o->log.push_back("read " + std::to_string(count));
    const int32_t n = std::min<int32_t>(count, static_cast<int32_t>(o->contents.size()) - o->pos);
    std::memcpy(buffer, o->contents.data() + o->pos, static_cast<size_t>(n));
    o->pos += n;
    *done = n;
    return o->read_status;
}
int32_t object_write(QorHostStream *s, const void *buffer, int32_t count, int32_t *done)
{
    TestObject *o = self_of(s);
    o->log.push_back("write " + std::to_string(count));
    const uint8_t *in = static_cast<const uint8_t *>(buffer);
    o->contents.insert(o->contents.begin() + o->pos, in, in + count);
    o->pos += count;
    *done = count;
    return 0;
}
int32_t object_seek(QorHostStream *s, int32_t whence, int32_t offset)
{
    TestObject *o = self_of(s);
    o->log.push_back("seek " + std::to_string(whence) + " " + std::to_string(offset));
    o->pos = (whence == SEEK_END ? static_cast<int32_t>(o->contents.size()) : whence == SEEK_CUR ? o->pos : 0) + offset;
    return 0;
}
int32_t object_tell(QorHostStream *s, int32_t *position)
{
    self_of(s)->log.push_back("tell");
    *position = self_of(s)->pos;
    return 0;
}
int32_t object_request(QorHostStream *s, int32_t code, const char *path)
{
    self_of(s)->log.push_back("request " + std::to_string(code) + " " + path);
    return self_of(s)->request_answer;
}

struct HookState {
    TestObject *object = nullptr;
    int32_t answer = 0;
    std::vector<std::string> calls;
};
HookState g_hook;

int32_t file_hook(QorHostStream **object, char *path, uint32_t mode)
{
    g_hook.calls.push_back(std::string(path) + " " + std::to_string(mode));
    *object = g_hook.object;
    return g_hook.answer;
}

class QorObject : public ::testing::Test {
protected:
    void SetUp() override
    {
        object.close = object_close;
        object.read = object_read;
        object.write = object_write;
        object.seek = object_seek;
        object.tell = object_tell;
        object.request = object_request;
        g_hook = HookState();
        g_hook.object = &object;
        const HostFileHook hook = file_hook;
        ASSERT_EQ(HostSetGlobalOption(YT_OPTION_FILE_HOOK, &hook, sizeof hook), 0);
    }
    void TearDown() override { HostSetGlobalOption(YT_OPTION_FILE_HOOK, nullptr, 0); }
    TestObject object;
    TempDir dir;
};

TEST_F(QorObject, CreatingOpenGoesThroughTheFileHook)
{
    char path[] = "out.fpx";
    QorFile f = qorOpen(path, nullptr, QOR_CREATE | QOR_WRITE);
    ASSERT_NE(f, nullptr);
    ASSERT_EQ(g_hook.calls.size(), 1u);
    EXPECT_EQ(g_hook.calls[0], "out.fpx 4097");
    EXPECT_EQ(path[0], '\0'); // the request answered non-zero: the path was taken
    EXPECT_EQ(record(f).hostHandle, &object);
    EXPECT_EQ(record(f).stream, nullptr);

    EXPECT_EQ(qorWrite(f, "abcde", 5), 5);
    EXPECT_EQ(record(f).endOffset, 5);
    EXPECT_EQ(qorSeek(f, 1, SEEK_SET), 1);
    uint8_t b[8];
    EXPECT_EQ(qorRead(f, b, 8), 4);
    object.read_status = -9;
    EXPECT_EQ(qorRead(f, b, 8), 0);
    EXPECT_EQ(qorClose(f), 0);
    const std::vector<std::string> expected = {
        "request 6 out.fpx", "write 5", "seek 2 0", "tell", "seek 0 1", "tell", "read 8", "read 8", "close"};
    EXPECT_EQ(object.log, expected);
}

TEST_F(QorObject, RequestAnsweringZeroKeepsThePath)
{
    object.request_answer = 0;
    char path[] = "keep.fpx";
    QorFile f = qorOpen(path, nullptr, QOR_CREATE | QOR_WRITE);
    ASSERT_NE(f, nullptr);
    EXPECT_STREQ(path, "keep.fpx");
    EXPECT_EQ(qorClose(f), 0);
}

TEST_F(QorObject, DecliningHookOpensTheFileItself)
{
    g_hook.answer = 1;
    const std::string path = dir.file("real");
    QorFile f = qorOpen(path.c_str(), nullptr, QOR_CREATE | QOR_WRITE);
    ASSERT_NE(f, nullptr);
    EXPECT_NE(record(f).stream, nullptr);
    EXPECT_EQ(qorWrite(f, "q", 1), 1);
    EXPECT_EQ(qorClose(f), 0);
    EXPECT_EQ(read_file(path), Bytes{'q'});
    EXPECT_TRUE(object.log.empty());
}

TEST_F(QorObject, HookIsOnlyAskedWithoutADescriptorAndForCreateOrDelete)
{
    const std::string path = dir.file("plain");
    write_file(path, pattern(3));
    QorFile f = qorOpen(path.c_str(), nullptr, QOR_READ);
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(qorClose(f), 0);
    MemoryBlock block(Bytes(), 8);
    block.desc.growBy = 8;
    QorFile g = qorOpen(nullptr, &block.desc, QOR_CREATE | QOR_WRITE);
    ASSERT_NE(g, nullptr);
    EXPECT_EQ(qorClose(g), 0);
    EXPECT_TRUE(g_hook.calls.empty());

    // Deleting with a hook installed deletes nothing and answers 1.
    EXPECT_EQ(qorOpen(path.c_str(), nullptr, QOR_DELETE), reinterpret_cast<QorFile>(1));
    EXPECT_EQ(read_file(path), pattern(3));
}

TEST_F(QorObject, HookWithoutAnObjectCountsAsDeclining)
{
    g_hook.object = nullptr;
    const std::string path = dir.file("no-object");
    QorFile f = qorOpen(path.c_str(), nullptr, QOR_CREATE | QOR_WRITE);
    ASSERT_NE(f, nullptr);
    EXPECT_NE(record(f).stream, nullptr);
    EXPECT_EQ(qorClose(f), 0);
}

} // namespace
