// QorFile over the host's I/O callback and the file hook's host stream object, logged call by call.
#include "io_support.h"

#include <options/yt_ut.h>

using namespace iotest;

namespace {

// A host file that logs every call it receives.
using Log = std::vector<std::string>;

struct HostFile {
    Log log;
    std::vector<void *> handles;
    Bytes contents;
    int64_t pos = 0, open_answer = 0x5150, query_answer = 42;
};
HostFile *g_host = nullptr;

int64_t host_io(void *handle, int32_t op, void *data, int64_t count)
{
    HostFile &h = *g_host;
    h.handles.push_back(handle);
    const char *names[] = {"", "open ", "read ", "write ", "seek ", "close", "exists ", "delete "};
    std::string &line = (h.log.push_back(names[op]), h.log.back());
    if (op == QOR_IO_OPEN || op == QOR_IO_EXISTS || op == QOR_IO_DELETE)
        return line += static_cast<const char *>(data), op == QOR_IO_OPEN ? h.open_answer : h.query_answer;
    line += op == QOR_IO_CLOSE ? "" : std::to_string(count);
    if (op == QOR_IO_READ) {
        const int64_t n = std::max<int64_t>(0, std::min<int64_t>(count, int64_t(h.contents.size()) - h.pos));
        std::copy_n(h.contents.data() + h.pos, n, static_cast<uint8_t *>(data));
        return h.pos += n, n;
    }
    if (op == QOR_IO_WRITE) {
        h.contents.resize(std::max(h.contents.size(), size_t(h.pos + count)));
        std::copy_n(static_cast<const uint8_t *>(data), count, h.contents.data() + h.pos);
        return h.pos += count, count;
    }
    if (op == QOR_IO_SEEK) {
        const int32_t offset = *static_cast<int32_t *>(data);
        line += " " + std::to_string(offset);
        return h.pos = (count == SEEK_SET ? 0 : count == SEEK_CUR ? h.pos : int64_t(h.contents.size())) + offset;
    }
    return data ? -1 : 0; // close gets no data
}

class QorHost : public ::testing::Test {
protected:
    void SetUp() override { g_host = &host, desc.blockPtr = &context, desc.ioCallback = host_io; }
    void TearDown() override { HostSetGlobalOption(YT_OPTION_FILE_HOOK, nullptr, 0); }
    HostFile host;
    int context = 0;
    QorOpenDesc desc{};
    TempDir dir;
};

TEST_F(QorHost, CallbackGetsEveryOperation)
{
    host.contents = {1, 2, 3, 4, 5, 6, 7, 8};
    QorFile f = qorOpen("image.fpx", &desc, QOR_READ);
    uint8_t buf[8];
    EXPECT_EQ(qorRead(f, buf, 3), 3);
    EXPECT_EQ(qorSeek(f, 2, SEEK_CUR), 5);
    EXPECT_EQ(qorWrite(f, "xy", 2), 2);
    EXPECT_EQ(qorSeek(f, 0, SEEK_SET), 0);
    int16_t shorts[4];
    EXPECT_EQ(qorReadShort(f, shorts, 4), 4); // one read call of the whole array
    EXPECT_EQ(qorClose(f), 0);
    EXPECT_EQ(host.contents[5], 'x');
    // Exist and delete answer what the callback answers, without a handle.
    EXPECT_EQ(qorOpen("a.fpx", &desc, QOR_EXIST), reinterpret_cast<QorFile>(42));
    host.query_answer = 0;
    EXPECT_EQ(qorOpen("b.fpx", &desc, QOR_DELETE), nullptr);
    EXPECT_EQ(host.log, (Log{"open image.fpx", "read 3", "seek 1 2", "write 2", "seek 0 0", "read 8", "close",
                             "exists a.fpx", "delete b.fpx"}));
    void *const h = reinterpret_cast<void *>(host.open_answer); // the open's answer is the handle of every later call
    EXPECT_EQ(host.handles, (std::vector<void *>{&context, h, h, h, h, h, h, nullptr, nullptr}));
}

TEST_F(QorHost, HandedInHandleAndRefusedOpen)
{
    host.contents = {9, 8, 7};
    QorOpenDesc handed{};
    handed.ioCallback = host_io, handed.ioContext = &context;
    QorFile f = qorOpen(nullptr, &handed, QOR_HANDED);
    char b[4] = {};
    EXPECT_TRUE(qorRead(f, b, 3) == 3 && qorClose(f) == 0);
    EXPECT_EQ(host.log, (Log{"read 3", "close"}));
    EXPECT_EQ(host.handles[0], &context);
    host = HostFile(); // a refused open falls back to the descriptor's memory block
    host.open_answer = 0;
    MemoryBlock block({'h', 'i', 0xFF});
    block.desc.ioCallback = host_io;
    f = qorOpen("", &block.desc, QOR_READ);
    std::fill_n(b, 4, '\0');
    EXPECT_TRUE(qorRead(f, b, 4) == 2 && qorClose(f) == 0);
    EXPECT_STREQ(b, "hi");
    EXPECT_EQ(host.log, Log{"open "}); // only the refused open
}

struct HostObject : QorHostStream { int32_t request_answer = 1, read_status = 0; } g_object;
int32_t g_hook_answer = 0;
bool g_hook_gives_object = true;

int32_t file_hook(QorHostStream **object, char *path, uint32_t mode)
{
    g_host->log.push_back("hook " + std::string(path) + " " + std::to_string(mode));
    *object = g_hook_gives_object ? &g_object : nullptr;
    return g_hook_answer;
}

void install_hook(int32_t answer, bool gives_object)
{
    g_hook_answer = answer;
    g_hook_gives_object = gives_object;
    g_object = HostObject();
    g_object.close = [](QorHostStream *) { return int32_t(host_io(nullptr, QOR_IO_CLOSE, nullptr, 0)); };
    g_object.read = [](QorHostStream *, void *buffer, int32_t count, int32_t *done) {
        return *done = int32_t(host_io(nullptr, QOR_IO_READ, buffer, count)), g_object.read_status;
    };
    g_object.write = [](QorHostStream *, const void *buffer, int32_t count, int32_t *done) {
        return *done = int32_t(host_io(nullptr, QOR_IO_WRITE, const_cast<void *>(buffer), count)), 0;
    };
    g_object.seek = [](QorHostStream *, int32_t whence, int32_t offset) {
        return host_io(nullptr, QOR_IO_SEEK, &offset, whence), 0;
    };
    g_object.tell = [](QorHostStream *, int32_t *position) {
        return g_host->log.push_back("tell"), *position = int32_t(g_host->pos), 0;
    };
    g_object.request = [](QorHostStream *, int32_t code, const char *path) {
        return g_host->log.push_back("request " + std::to_string(code) + " " + path), g_object.request_answer;
    };
    const HostFileHook hook = file_hook;
    ASSERT_EQ(HostSetGlobalOption(YT_OPTION_FILE_HOOK, &hook, sizeof hook), 0);
}

TEST_F(QorHost, CreatingOpenGoesThroughTheFileHook)
{
    install_hook(0, true);
    char path[] = "out.fpx";
    QorFile f = qorOpen(path, nullptr, QOR_CREATE | QOR_WRITE);
    EXPECT_EQ(path[0], '\0'); // the request answered non-zero: the path was taken
    uint8_t b[8];
    EXPECT_TRUE(qorWrite(f, "abcde", 5) == 5 && qorSeek(f, 1, SEEK_SET) == 1 && qorRead(f, b, 8) == 4);
    g_object.read_status = -9;
    EXPECT_TRUE(qorRead(f, b, 8) == 0 && qorClose(f) == 0);
    EXPECT_EQ(host.log, (Log{"hook out.fpx 4097", "request 6 out.fpx", "write 5", "seek 2 0", "tell", "seek 0 1",
                             "tell", "read 8", "read 8", "close"}));
    g_object.request_answer = 0;
    char keep[] = "keep.fpx";
    EXPECT_EQ(qorClose(qorOpen(keep, nullptr, QOR_CREATE | QOR_WRITE)), 0);
    EXPECT_STREQ(keep, "keep.fpx"); // a request answering zero keeps the path
}

// A hook that declines, or answers without an object, leaves the file to qorOpen.
TEST_F(QorHost, DecliningHookOpensTheFileItself)
{
    for (const auto &[answer, gives_object] : {std::pair<int32_t, bool>{1, true}, {0, false}}) {
        install_hook(answer, gives_object);
        host.log.clear();
        QorFile f = qorOpen(dir.file("real").c_str(), nullptr, QOR_CREATE | QOR_WRITE);
        EXPECT_TRUE(qorWrite(f, "q", 1) == 1 && qorClose(f) == 0);
        EXPECT_EQ(read_file(dir.file("real")), Bytes{'q'});
        EXPECT_EQ(host.log.size(), 1u); // the hook only
    }
    // The hook is only asked without a descriptor and for create or delete.
    host.log.clear();
    const std::string path = dir.file("plain");
    write_file(path, pattern(3));
    EXPECT_EQ(qorClose(qorOpen(path.c_str(), nullptr, QOR_READ)), 0);
    MemoryBlock block(Bytes(), 8);
    block.desc.growBy = 8;
    EXPECT_EQ(qorClose(qorOpen(nullptr, &block.desc, QOR_CREATE | QOR_WRITE)), 0);
    EXPECT_TRUE(host.log.empty());
    // Deleting with a hook installed deletes nothing and answers 1.
    EXPECT_EQ(qorOpen(path.c_str(), nullptr, QOR_DELETE), reinterpret_cast<QorFile>(1));
    EXPECT_EQ(read_file(path), pattern(3));
}

} // namespace
