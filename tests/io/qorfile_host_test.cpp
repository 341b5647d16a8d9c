// QorFile over the host's sources: the I/O callback, recorded operation by
// operation, and the host stream object reached through the file hook
// (global option 67).
#include "io_support.h"

using namespace iotest;

namespace {

struct Call {
    void *handle;
    int32_t op;
    const void *data;
    int64_t count;
    std::string text; // path of open, exists and delete
    int32_t offset;   // where a seek points
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
    if (op == QOR_IO_OPEN || op == QOR_IO_EXISTS || op == QOR_IO_DELETE) {
        call.text = data ? static_cast<const char *>(data) : "";
        result = op == QOR_IO_OPEN ? h.open_answer : h.query_answer;
    } else if (op == QOR_IO_READ) {
        result = std::min<int64_t>(count, int64_t(h.contents.size()) - h.pos);
        std::memcpy(data, h.contents.data() + h.pos, size_t(result));
        h.pos += result;
    } else if (op == QOR_IO_WRITE) {
        h.contents.resize(std::max(h.contents.size(), size_t(h.pos + count)));
        std::memcpy(h.contents.data() + h.pos, data, size_t(count));
        h.pos += result = count;
    } else if (op == QOR_IO_SEEK) {
        call.offset = *static_cast<int32_t *>(data);
        h.pos = result = (count == SEEK_SET ? 0 : count == SEEK_CUR ? h.pos : int64_t(h.contents.size())) + call.offset;
    }
    h.calls.push_back(call);
    return result;
}

class QorCallback : public ::testing::Test {
protected:
    void SetUp() override
    {
        g_host = &host;
        desc.blockPtr = &context;
        desc.ioCallback = host_io;
    }
    HostFile host;
    int context = 0;
    QorOpenDesc desc{};
};

TEST_F(QorCallback, EveryOperationIsForwarded)
{
    host.contents = {1, 2, 3, 4, 5, 6, 7, 8};
    QorFile f = qorOpen("image.fpx", &desc, QOR_READ);
    ASSERT_NE(f, nullptr);
    uint8_t buf[8];
    EXPECT_EQ(qorRead(f, buf, 3), 3);
    EXPECT_EQ(qorSeek(f, 2, SEEK_CUR), 5);
    EXPECT_EQ(qorWrite(f, "xy", 2), 2);
    EXPECT_EQ(qorSeek(f, 0, SEEK_SET), 0);
    int16_t shorts[4];
    EXPECT_EQ(qorReadShort(f, shorts, 4), 4); // one read call of the whole array
    EXPECT_EQ(qorClose(f), 0);

    const struct {
        int32_t op;
        int64_t count;
        int32_t offset;
    } expected[] = {{QOR_IO_OPEN, 0, 0},  {QOR_IO_READ, 3, 0},        {QOR_IO_SEEK, SEEK_CUR, 2}, {QOR_IO_WRITE, 2, 0},
                    {QOR_IO_SEEK, SEEK_SET, 0}, {QOR_IO_READ, 8, 0}, {QOR_IO_CLOSE, 0, 0}};
    ASSERT_EQ(host.calls.size(), std::size(expected));
    void *const handle = reinterpret_cast<void *>(host.open_answer);
    for (size_t i = 0; i < host.calls.size(); i++) {
        SCOPED_TRACE(i);
        EXPECT_EQ(host.calls[i].handle, i == 0 ? static_cast<void *>(&context) : handle);
        EXPECT_EQ(host.calls[i].op, expected[i].op);
        EXPECT_EQ(host.calls[i].count, expected[i].count);
        EXPECT_EQ(host.calls[i].offset, expected[i].offset);
    }
    EXPECT_EQ(host.calls[0].text, "image.fpx");
    EXPECT_EQ(host.calls[1].data, buf);
    EXPECT_EQ(host.calls.back().data, nullptr);
    EXPECT_EQ(host.contents[5], 'x');
}

TEST_F(QorCallback, ExistsAndDeleteReturnTheCallbacksAnswer)
{
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
    QorOpenDesc handed{};
    handed.ioCallback = host_io;
    handed.ioContext = &context;
    QorFile f = qorOpen(nullptr, &handed, QOR_HANDED);
    ASSERT_NE(f, nullptr);
    uint8_t b[3];
    EXPECT_EQ(qorRead(f, b, 3), 3);
    EXPECT_EQ(qorClose(f), 0);
    ASSERT_EQ(host.calls.size(), 2u);
    EXPECT_EQ(host.calls[0].handle, &context);
    EXPECT_EQ(host.calls[0].op, QOR_IO_READ);
    EXPECT_EQ(host.calls[1].op, QOR_IO_CLOSE);
}

TEST_F(QorCallback, RefusedOpenFallsBackToTheMemoryBlock)
{
    host.open_answer = 0;
    MemoryBlock block({'h', 'i', 0xFF});
    block.desc.ioCallback = host_io;
    QorFile f = qorOpen("", &block.desc, QOR_READ);
    ASSERT_NE(f, nullptr);
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
        object.close = [](QorHostStream *s) { return self_of(s)->log.push_back("close"), 0; };
        object.read = [](QorHostStream *s, void *buffer, int32_t count, int32_t *done) {
            TestObject *o = self_of(s);
            o->log.push_back("read " + std::to_string(count));
            *done = std::min<int32_t>(count, int32_t(o->contents.size()) - o->pos);
            std::memcpy(buffer, o->contents.data() + o->pos, size_t(*done));
            o->pos += *done;
            return o->read_status;
        };
        object.write = [](QorHostStream *s, const void *buffer, int32_t count, int32_t *done) {
            TestObject *o = self_of(s);
            o->log.push_back("write " + std::to_string(count));
            o->contents.insert(o->contents.begin() + o->pos, static_cast<const uint8_t *>(buffer),
                               static_cast<const uint8_t *>(buffer) + count);
            o->pos += *done = count;
            return 0;
        };
        object.seek = [](QorHostStream *s, int32_t whence, int32_t offset) {
            TestObject *o = self_of(s);
            o->log.push_back("seek " + std::to_string(whence) + " " + std::to_string(offset));
            o->pos = (whence == SEEK_END ? int32_t(o->contents.size()) : whence == SEEK_CUR ? o->pos : 0) + offset;
            return 0;
        };
        object.tell = [](QorHostStream *s, int32_t *position) {
            self_of(s)->log.push_back("tell");
            return *position = self_of(s)->pos, 0;
        };
        object.request = [](QorHostStream *s, int32_t code, const char *path) {
            self_of(s)->log.push_back("request " + std::to_string(code) + " " + path);
            return self_of(s)->request_answer;
        };
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
    EXPECT_EQ(g_hook.calls, std::vector<std::string>{"out.fpx 4097"});
    EXPECT_EQ(path[0], '\0'); // the request answered non-zero: the path was taken
    EXPECT_EQ(qorWrite(f, "abcde", 5), 5);
    EXPECT_EQ(qorSeek(f, 1, SEEK_SET), 1);
    uint8_t b[8];
    EXPECT_EQ(qorRead(f, b, 8), 4);
    object.read_status = -9;
    EXPECT_EQ(qorRead(f, b, 8), 0);
    EXPECT_EQ(qorClose(f), 0);
    const std::vector<std::string> expected = {"request 6 out.fpx", "write 5", "seek 2 0", "tell", "seek 0 1",
                                               "tell",              "read 8",  "read 8",   "close"};
    EXPECT_EQ(object.log, expected);

    object.request_answer = 0;
    char keep[] = "keep.fpx";
    f = qorOpen(keep, nullptr, QOR_CREATE | QOR_WRITE);
    ASSERT_NE(f, nullptr);
    EXPECT_STREQ(keep, "keep.fpx"); // a request answering zero keeps the path
    EXPECT_EQ(qorClose(f), 0);
}

// A hook that declines, or answers without an object, leaves the file to qorOpen.
TEST_F(QorObject, DecliningHookOpensTheFileItself)
{
    for (const auto &[answer, with_object] : {std::pair<int32_t, bool>{1, true}, {0, false}}) {
        g_hook.answer = answer;
        g_hook.object = with_object ? &object : nullptr;
        const std::string path = dir.file("real");
        QorFile f = qorOpen(path.c_str(), nullptr, QOR_CREATE | QOR_WRITE);
        ASSERT_NE(f, nullptr);
        EXPECT_EQ(qorWrite(f, "q", 1), 1);
        EXPECT_EQ(qorClose(f), 0);
        EXPECT_EQ(read_file(path), Bytes{'q'});
        EXPECT_TRUE(object.log.empty());
    }
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

} // namespace
