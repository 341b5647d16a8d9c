// QorFile over files opened by path: reads across windows, seeks inside and
// outside the window, writes and flushes, open modes, exist and delete,
// handed-in and standard streams, qorCopy, and null or negative arguments.
#include "qorfile_support.h"

#include <random>

using namespace iotest;

namespace {

// Closes a handle at the end of a test, whatever happens.
struct Handle {
    explicit Handle(QorFile f) : file(f) {}
    ~Handle()
    {
        if (file)
            qorClose(file);
    }
    QorFile release()
    {
        QorFile f = file;
        file = nullptr;
        return f;
    }
    QorFile file;
};

TEST(QorFileRead, ShortFileGivesWhatItHolds)
{
    TempDir dir;
    const std::string path = dir.file("ten");
    write_file(path, pattern(10));
    Handle f(qorOpen(path.c_str(), nullptr, QOR_READ));
    ASSERT_NE(f.file, nullptr);
    uint8_t buf[20];
    EXPECT_EQ(qorRead(f.file, buf, 20), 10);
    EXPECT_EQ(Bytes(buf, buf + 10), pattern(10));
    EXPECT_EQ(qorRead(f.file, buf, 20), 0);
    EXPECT_EQ(record(f.file).endOffset, 10);
    EXPECT_EQ(record(f.file).lineFormat, 2);
    EXPECT_EQ(record(f.file).openedByName, 1u);
    EXPECT_EQ(qorCheckBuf(f.file, 10), 10);
    EXPECT_EQ(qorCheckBuf(f.file, 11), 0);
}

TEST(QorFileRead, OneWindowPerFill)
{
    TempDir dir;
    const std::string path = dir.file("big");
    const Bytes data = pattern(3 * kQorBufferSize + 100);
    write_file(path, data);
    Handle f(qorOpen(path.c_str(), nullptr, QOR_READ));
    ASSERT_NE(f.file, nullptr);
    uint8_t b = 0;
    ASSERT_EQ(qorRead(f.file, &b, 1), 1);
    QorFileRec &rec = record(f.file);
    EXPECT_EQ(rec.bufBase, 0);
    EXPECT_EQ(rec.bufLast, kQorBufferSize - 1);
    EXPECT_EQ(rec.nextOffset, kQorBufferSize);
    EXPECT_EQ(rec.bufIndex, 1);

    // Inside the window: only bufIndex moves.
    EXPECT_EQ(qorSeek(f.file, 12000, SEEK_SET), 12000);
    EXPECT_EQ(rec.bufBase, 0);
    EXPECT_EQ(rec.nextOffset, kQorBufferSize);
    EXPECT_EQ(rec.bufIndex, 12000);
    EXPECT_EQ(qorSeek(f.file, -11000, SEEK_CUR), 1000);
    EXPECT_EQ(rec.bufIndex, 1000);

    // Whence 1 with offset 0 reports the position and changes nothing.
    const QorFileRec before = rec;
    EXPECT_EQ(qorSeek(f.file, 0, SEEK_CUR), 1000);
    EXPECT_EQ(std::memcmp(&before, &rec, sizeof rec), 0);

    // Outside: one fill at the target.
    EXPECT_EQ(qorSeek(f.file, 20000, SEEK_SET), 20000);
    EXPECT_EQ(rec.bufBase, 20000);
    EXPECT_EQ(rec.bufIndex, 0);
    EXPECT_EQ(rec.nextOffset, 20000 + kQorBufferSize);
    ASSERT_EQ(qorRead(f.file, &b, 1), 1);
    EXPECT_EQ(b, data[20000]);

    // A read across the window's end continues in the next window.
    uint8_t run[kQorBufferSize];
    ASSERT_EQ(qorRead(f.file, run, kQorBufferSize), kQorBufferSize);
    EXPECT_EQ(Bytes(run, run + kQorBufferSize), Bytes(data.begin() + 20001, data.begin() + 20001 + kQorBufferSize));

    // Whence 2 goes through fseek and refills at the end.
    EXPECT_EQ(qorSeek(f.file, -50, SEEK_END), static_cast<int32_t>(data.size()) - 50);
    EXPECT_EQ(qorRead(f.file, run, 100), 50);
}

// Random reads and seeks against the file contents: every byte must come
// from the right place, whatever the call sizes and window boundaries.
TEST(QorFileRead, RandomReadsAndSeeksMatchTheFile)
{
    TempDir dir;
    const std::string path = dir.file("random");
    const Bytes data = pattern(5 * kQorBufferSize + 777);
    write_file(path, data);
    Handle f(qorOpen(path.c_str(), nullptr, QOR_READ));
    ASSERT_NE(f.file, nullptr);
    std::mt19937 rng(1234);
    int64_t pos = 0;
    std::vector<uint8_t> buf(40000);
    for (int step = 0; step < 2000; step++) {
        if (rng() % 3 == 0) {
            const int32_t target = static_cast<int32_t>(rng() % (data.size() + 1));
            const int whence = static_cast<int>(rng() % 3);
            int32_t offset = target;
            if (whence == SEEK_CUR)
                offset = static_cast<int32_t>(target - pos);
            else if (whence == SEEK_END)
                offset = static_cast<int32_t>(target - static_cast<int64_t>(data.size()));
            ASSERT_EQ(qorSeek(f.file, offset, whence), target);
            pos = target;
        } else {
            const int32_t want = static_cast<int32_t>(rng() % 3 == 0 ? rng() % 40000 : rng() % 70);
            const int32_t expect = static_cast<int32_t>(std::min<int64_t>(want, data.size() - pos));
            ASSERT_EQ(qorRead(f.file, buf.data(), want), expect);
            ASSERT_EQ(0, std::memcmp(buf.data(), data.data() + pos, static_cast<size_t>(expect)));
            pos += expect;
        }
    }
}

TEST(QorFileRead, FillReadsTheNextWindow)
{
    TempDir dir;
    const std::string path = dir.file("fill");
    write_file(path, pattern(kQorBufferSize + 100));
    Handle f(qorOpen(path.c_str(), nullptr, QOR_READ));
    ASSERT_NE(f.file, nullptr);
    QorFileRec &rec = record(f.file);
    EXPECT_EQ(rec.bufLast, -1); // nothing is read at open
    EXPECT_EQ(FillQorIOBuf(f.file), kQorBufferSize);
    EXPECT_EQ(FillQorIOBuf(f.file), 100);
    EXPECT_EQ(rec.bufBase, kQorBufferSize);
    EXPECT_EQ(rec.bufLast, 99);
    EXPECT_EQ(rec.nextOffset, kQorBufferSize + 100);
    EXPECT_EQ(FillQorIOBuf(f.file), 0);
    EXPECT_EQ(rec.bufLast, -1);
    EXPECT_EQ(rec.bufBase, kQorBufferSize + 100);
}

TEST(QorFileSeek, BoundsDependOnAccess)
{
    TempDir dir;
    const std::string path = dir.file("f");
    write_file(path, pattern(100));
    {
        Handle f(qorOpen(path.c_str(), nullptr, QOR_READ));
        ASSERT_NE(f.file, nullptr);
        EXPECT_EQ(qorSeek(f.file, 100, SEEK_SET), 100); // the end itself is allowed
        EXPECT_EQ(record(f.file).lastError, 0);
        EXPECT_EQ(qorSeek(f.file, 101, SEEK_SET), -1);
        EXPECT_EQ(record(f.file).lastError, -1);
        EXPECT_EQ(qorSeek(f.file, -1, SEEK_SET), -1);
        EXPECT_EQ(qorSeek(f.file, 50, SEEK_SET), 50);
        EXPECT_EQ(qorSeek(f.file, -51, SEEK_CUR), -1);
        EXPECT_EQ(qorSeek(f.file, 51, SEEK_CUR), -1);
        EXPECT_EQ(qorSeek(f.file, 1, 3), -1); // unknown origin
        EXPECT_EQ(qorSeek(f.file, 0, SEEK_CUR), 50);
    }
    {
        Handle f(qorOpen(path.c_str(), nullptr, QOR_READWRITE));
        ASSERT_NE(f.file, nullptr);
        EXPECT_EQ(qorSeek(f.file, 500, SEEK_SET), 500);
        EXPECT_EQ(qorSeek(f.file, -1, SEEK_SET), -1);
    }
}

// Writes, seeks back and overwrites through the buffer, compared with a
// model of the file; the file on disk must match after close.
TEST(QorFileWrite, RandomWritesMatchAModel)
{
    TempDir dir;
    const std::string path = dir.file("w");
    Bytes model;
    Handle f(qorOpen(path.c_str(), nullptr, QOR_CREATE | QOR_WRITE));
    ASSERT_NE(f.file, nullptr);
    EXPECT_EQ(record(f.file).endOffset, 0);
    std::mt19937 rng(99);
    int64_t pos = 0;
    for (int step = 0; step < 600; step++) {
        const unsigned what = rng() % 4;
        if (what == 0 && !model.empty()) {
            const int32_t target = static_cast<int32_t>(rng() % model.size());
            ASSERT_EQ(qorSeek(f.file, target, SEEK_SET), target);
            pos = target;
        } else if (what == 1) {
            const int32_t want = static_cast<int32_t>(rng() % 3000);
            std::vector<uint8_t> got(static_cast<size_t>(want));
            const int32_t expect = static_cast<int32_t>(std::min<int64_t>(want, static_cast<int64_t>(model.size()) - pos));
            const int32_t got_n = qorRead(f.file, got.data(), want);
            ASSERT_EQ(got_n, std::max(expect, 0));
            if (got_n > 0) {
                ASSERT_EQ(0, std::memcmp(got.data(), model.data() + pos, static_cast<size_t>(got_n)));
            }
            pos += got_n;
        } else {
            const int32_t n = static_cast<int32_t>(rng() % 5000);
            Bytes chunk(static_cast<size_t>(n));
            for (auto &c : chunk)
                c = static_cast<uint8_t>(rng());
            ASSERT_EQ(qorWrite(f.file, chunk.data(), n), n);
            if (model.size() < static_cast<size_t>(pos + n))
                model.resize(static_cast<size_t>(pos + n));
            std::memcpy(model.data() + pos, chunk.data(), chunk.size());
            pos += n;
        }
    }
    ASSERT_EQ(qorClose(f.release()), 0);
    EXPECT_EQ(read_file(path), model);
}

// A read that ends exactly at a window's end followed by a write: the write
// lands at the position, not over the window's first bytes.
TEST(QorFileWrite, WriteAfterAFullReadWindow)
{
    TempDir dir;
    const std::string path = dir.file("rw");
    Bytes data = pattern(2 * kQorBufferSize);
    write_file(path, data);
    Handle f(qorOpen(path.c_str(), nullptr, QOR_READWRITE));
    ASSERT_NE(f.file, nullptr);
    std::vector<uint8_t> buf(kQorBufferSize);
    ASSERT_EQ(qorRead(f.file, buf.data(), kQorBufferSize), kQorBufferSize);
    const uint8_t mark[3] = {0xAB, 0xCD, 0xEF};
    ASSERT_EQ(qorWrite(f.file, mark, 3), 3);
    ASSERT_EQ(qorClose(f.release()), 0);
    std::memcpy(data.data() + kQorBufferSize, mark, 3);
    EXPECT_EQ(read_file(path), data);
}

TEST(QorFileWrite, FlushMovesTheWindowAndMeasuresTheEnd)
{
    TempDir dir;
    const std::string path = dir.file("flush");
    Handle f(qorOpen(path.c_str(), nullptr, QOR_CREATE | QOR_READWRITE));
    ASSERT_NE(f.file, nullptr);
    const Bytes data = pattern(kQorBufferSize + 10);
    ASSERT_EQ(qorWrite(f.file, data.data(), static_cast<int32_t>(data.size())), static_cast<int32_t>(data.size()));
    QorFileRec &rec = record(f.file);
    // The full window went out when the next byte needed room.
    EXPECT_EQ(rec.bufBase, kQorBufferSize);
    EXPECT_EQ(rec.endOffset, kQorBufferSize);
    EXPECT_EQ(rec.bufLast, 9);
    EXPECT_EQ(rec.dirty, 1u);
    EXPECT_EQ(FlushQorIO(f.file), 10);
    EXPECT_EQ(rec.endOffset, kQorBufferSize + 10);
    EXPECT_EQ(rec.bufLast, -1);
    EXPECT_EQ(rec.dirty, 0u);
    EXPECT_EQ(FlushQorIO(f.file), 0); // nothing dirty
    EXPECT_EQ(read_file(path), data);
}

TEST(QorFileWrite, FailedFlushSticks)
{
    TempDir dir;
    const std::string path = dir.file("ro");
    write_file(path, pattern(10));
    Handle f(qorOpen(path.c_str(), nullptr, QOR_READ)); // "r": writes cannot reach the file
    ASSERT_NE(f.file, nullptr);
    const Bytes data = pattern(kQorBufferSize + 1);
    EXPECT_EQ(qorWrite(f.file, data.data(), static_cast<int32_t>(data.size())), -1);
    EXPECT_EQ(record(f.file).lastError, -1);
    // Once failed, a write that needs a flush returns 0.
    EXPECT_EQ(qorWrite(f.file, data.data(), 1), 0);
    EXPECT_EQ(qorClose(f.release()), -1);
    EXPECT_EQ(read_file(path), pattern(10));
}

// Each mode's stdio stream: "r" for a low byte of 0 (writes cannot reach the
// file), "r+" with the read-write bit, "w+" with the write bit alone and
// whenever the create bit is set, even beside the read-write bit.
TEST(QorFileOpen, ModeStrings)
{
    const struct {
        uint32_t mode;
        int32_t endAtOpen; // 5 kept, 0 truncated
        int32_t closeResult;
        Bytes after;
    } cases[] = {
        {QOR_READ, 5, -1, pattern(5)},
        {QOR_WRITE, 0, 0, {0xAA}},
        {QOR_READWRITE, 5, 0, {0xAA, pattern(5)[1], pattern(5)[2], pattern(5)[3], pattern(5)[4]}},
        {QOR_READWRITE | QOR_WRITE, 5, 0, {0xAA, pattern(5)[1], pattern(5)[2], pattern(5)[3], pattern(5)[4]}},
        {QOR_CREATE, 0, 0, {0xAA}},
        {QOR_CREATE | QOR_READWRITE, 0, 0, {0xAA}},
    };
    TempDir dir;
    for (const auto &c : cases) {
        SCOPED_TRACE(c.mode);
        const std::string path = dir.file("mode");
        write_file(path, pattern(5));
        QorFile f = qorOpen(path.c_str(), nullptr, c.mode);
        ASSERT_NE(f, nullptr);
        EXPECT_EQ(record(f).endOffset, c.endAtOpen);
        EXPECT_EQ(record(f).openMode, c.mode);
        const uint8_t byte = 0xAA;
        EXPECT_EQ(qorWrite(f, &byte, 1), 1);
        EXPECT_EQ(qorClose(f), c.closeResult);
        EXPECT_EQ(read_file(path), c.after);
    }
}

// Only the write and read-write bits allow a seek past the end: a file
// opened with the create bit alone cannot seek beyond what it holds.
TEST(QorFileSeek, CreateBitAloneIsNotWriteAccess)
{
    TempDir dir;
    const std::string path = dir.file("c");
    Handle f(qorOpen(path.c_str(), nullptr, QOR_CREATE));
    ASSERT_NE(f.file, nullptr);
    EXPECT_EQ(qorSeek(f.file, 10, SEEK_SET), -1);
    EXPECT_EQ(record(f.file).lastError, -1);
    Handle g(qorOpen(dir.file("cw").c_str(), nullptr, QOR_CREATE | QOR_WRITE));
    ASSERT_NE(g.file, nullptr);
    EXPECT_EQ(qorSeek(g.file, 10, SEEK_SET), 10);
}

TEST(QorFileOpen, ModesAndFailures)
{
    TempDir dir;
    const std::string path = dir.file("m");
    write_file(path, pattern(5));
    EXPECT_EQ(qorOpen(dir.file("missing").c_str(), nullptr, QOR_READ), nullptr);
    EXPECT_EQ(qorOpen(path.c_str(), nullptr, 0x4), nullptr); // unsupported low byte
    EXPECT_EQ(qorOpen("", nullptr, QOR_READ), nullptr);
    EXPECT_EQ(qorOpen(nullptr, nullptr, QOR_READ), nullptr);

    // Write without read-write truncates ("w+"); read-write keeps ("r+").
    {
        Handle f(qorOpen(path.c_str(), nullptr, QOR_READWRITE));
        ASSERT_NE(f.file, nullptr);
        EXPECT_EQ(record(f.file).endOffset, 5);
        EXPECT_EQ(record(f.file).openMode, QOR_READWRITE);
    }
    EXPECT_EQ(read_file(path).size(), 5u);
    {
        Handle f(qorOpen(path.c_str(), nullptr, QOR_WRITE));
        ASSERT_NE(f.file, nullptr);
        EXPECT_EQ(record(f.file).endOffset, 0);
    }
    EXPECT_EQ(read_file(path).size(), 0u);
}

TEST(QorFileOpen, PathWinsOverTheDescriptorsBlock)
{
    TempDir dir;
    const std::string path = dir.file("p");
    write_file(path, {'f', 'i', 'l', 'e'});
    MemoryBlock block({'m', 'e', 'm', 0xFF});
    Handle f(qorOpen(path.c_str(), &block.desc, QOR_READ));
    ASSERT_NE(f.file, nullptr);
    char buf[8] = {};
    EXPECT_EQ(qorRead(f.file, buf, 8), 4);
    EXPECT_STREQ(buf, "file");
    EXPECT_EQ(block.desc.blockSize, 4); // the block was not looked at
}

TEST(QorFileOpen, ExistAndDeleteByPath)
{
    TempDir dir;
    const std::string path = dir.file("e");
    write_file(path, pattern(1));
    const QorFile there = qorOpen(path.c_str(), nullptr, QOR_EXIST);
    EXPECT_NE(there, nullptr);
    EXPECT_NE(there, reinterpret_cast<QorFile>(-1));
    EXPECT_EQ(qorOpen(dir.file("none").c_str(), nullptr, QOR_EXIST), reinterpret_cast<QorFile>(-1));
    EXPECT_EQ(qorOpen(path.c_str(), nullptr, QOR_DELETE), reinterpret_cast<QorFile>(1));
    EXPECT_NE(::access(path.c_str(), F_OK), 0);
    EXPECT_EQ(qorOpen(path.c_str(), nullptr, QOR_DELETE), nullptr);
    // A descriptor without a callback behaves the same way.
    QorOpenDesc desc{};
    EXPECT_EQ(qorOpen(path.c_str(), &desc, QOR_EXIST), reinterpret_cast<QorFile>(-1));
}

TEST(QorFileOpen, HandedInStreamIsFlushedNotClosed)
{
    FILE *stream = std::tmpfile();
    ASSERT_NE(stream, nullptr);
    QorOpenDesc desc{};
    desc.handedStream = stream;
    QorFile f = qorOpen(nullptr, &desc, QOR_HANDED);
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(record(f).borrowedStream, 1u);
    EXPECT_EQ(record(f).openedByName, 1u); // its storages get buffers of their own
    EXPECT_EQ(qorWrite(f, "hello", 5), 5);
    EXPECT_EQ(qorClose(f), 0);
    // The stream is still open and holds what was written.
    std::rewind(stream);
    char back[6] = {};
    EXPECT_EQ(std::fread(back, 1, 5, stream), 5u);
    EXPECT_STREQ(back, "hello");
    std::fclose(stream);

    desc.handedStream = reinterpret_cast<FILE *>(-1);
    EXPECT_EQ(qorOpen(nullptr, &desc, QOR_HANDED), nullptr);
    EXPECT_EQ(qorOpen(nullptr, nullptr, QOR_HANDED), nullptr);
}

TEST(QorFileOpen, StandardStreamNamesWhateverTheMode)
{
    QorFile in = qorOpen("stdin", nullptr, QOR_CREATE | QOR_WRITE);
    ASSERT_NE(in, nullptr);
    EXPECT_EQ(record(in).stream, stdin);
    EXPECT_EQ(qorClose(in), 0);
    QorFile out = qorOpen("stdout", nullptr, QOR_READ);
    ASSERT_NE(out, nullptr);
    EXPECT_EQ(record(out).stream, stdout);
    EXPECT_EQ(qorClose(out), 0);
    // Still usable by the process afterwards.
    EXPECT_NE(std::fflush(stdout), EOF);
    EXPECT_GE(::fileno(stdout), 0);
}

TEST(QorFileNull, EveryOperationAcceptsANullHandle)
{
    uint8_t buf[4] = {1, 2, 3, 4};
    EXPECT_EQ(qorRead(nullptr, buf, 4), 0);
    EXPECT_EQ(qorWrite(nullptr, buf, 4), 0);
    EXPECT_EQ(qorCheckBuf(nullptr, 4), 0);
    EXPECT_EQ(qorSeek(nullptr, 0, SEEK_SET), -1);
    EXPECT_EQ(qorClose(nullptr), -1);
    EXPECT_EQ(FillQorIOBuf(nullptr), -1);
    EXPECT_EQ(FlushQorIO(nullptr), -1);
    EXPECT_EQ(unxSeek(nullptr, 0, SEEK_SET), -1);
}

TEST(QorFileNull, NegativeCounts)
{
    TempDir dir;
    const std::string path = dir.file("n");
    write_file(path, pattern(10));
    Handle f(qorOpen(path.c_str(), nullptr, QOR_READWRITE));
    ASSERT_NE(f.file, nullptr);
    uint8_t buf[4] = {};
    EXPECT_EQ(qorRead(f.file, buf, -1), -1);
    EXPECT_EQ(qorWrite(f.file, buf, -5), -1);
    EXPECT_EQ(qorRead(f.file, buf, 0), 0);
    EXPECT_EQ(record(f.file).bufIndex, 0);
}

TEST(QorFileCopy, CopiesAndReportsTheDifference)
{
    TempDir dir;
    const std::string src = dir.file("src");
    const std::string dst = dir.file("dst");
    const Bytes data = pattern(3 * 4096 + 17);
    write_file(src, data);
    EXPECT_EQ(qorCopy(src.c_str(), dst.c_str()), 0);
    EXPECT_EQ(read_file(dst), data);
    write_file(src, Bytes());
    EXPECT_EQ(qorCopy(src.c_str(), dst.c_str()), 0);
    EXPECT_TRUE(read_file(dst).empty());
    EXPECT_EQ(qorCopy(dir.file("absent").c_str(), dst.c_str()), -1);
    EXPECT_EQ(qorCopy(src.c_str(), dir.file("no/such/dir").c_str()), -1);
}

TEST(QorFileUnxSeek, SeekThenTell)
{
    FILE *stream = std::tmpfile();
    ASSERT_NE(stream, nullptr);
    std::fwrite("0123456789", 1, 10, stream);
    EXPECT_EQ(unxSeek(stream, 3, SEEK_SET), 3);
    EXPECT_EQ(unxSeek(stream, 0, SEEK_END), 10);
    EXPECT_EQ(unxSeek(stream, -20, SEEK_CUR), -1);
    std::fclose(stream);
}

} // namespace
