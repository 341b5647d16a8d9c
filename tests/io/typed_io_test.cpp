// Typed reads and writes in both byte orders, 16.16 floats, qorNativeToLE/BE, and text lines.
#include "io_support.h"

#include <limits>

using namespace iotest;

namespace {

Bytes text(const std::string &s) { return Bytes(s.begin(), s.end()); }

template <typename T> Bytes native(std::initializer_list<T> values)
{
    Bytes b(sizeof(T) * values.size());
    std::memcpy(b.data(), values.begin(), b.size());
    return b;
}

// Two elements of each type; order 1 is big-endian, 0 and any other value little-endian.
TEST(TypedIo, ByteOrders)
{
    const struct { int32_t (*read)(QorFile, void *, int32_t); int32_t (*write)(QorFile, const void *, int32_t);
                   Bytes big_endian, value; } cases[] = {
        {qorReadShort, qorWriteShort, {0x12, 0x34, 0xFE, 0xDC}, native<uint16_t>({0x1234, 0xFEDC})},
        {qorReadLong, qorWriteLong, {1, 2, 3, 4, 0xF8, 0, 0, 7}, native<uint32_t>({0x01020304u, 0xF8000007u})},
        {qorReadDouble, qorWriteDouble, {0x3F, 0xF0, 0, 0, 0, 0, 0, 0, 0xC0, 0, 0, 0, 0, 0, 0, 0}, native({1.0, -2.0})},
        {qorReadFloat, qorWriteFloat, {0x3F, 0xC0, 0, 0, 0xBE, 0, 0, 0}, native({1.5f, -0.125f})}};
    for (const auto &c : cases) {
        const size_t half = c.value.size() / 2;
        Bytes little(c.big_endian.rend() - half, c.big_endian.rend());
        little.insert(little.end(), c.big_endian.rbegin(), c.big_endian.rbegin() + half);
        for (const auto &[order, file] : {std::pair<int16_t, Bytes>{1, c.big_endian}, {0, little}, {7, little}}) {
            SCOPED_TRACE(order);
            Reader src(file, order);
            Bytes value(c.value.size());
            EXPECT_EQ(c.read(src.file, value.data(), 2), 2);
            EXPECT_EQ(value, c.value);
            Sink sink(order);
            EXPECT_EQ(c.write(sink.file, c.value.data(), 2), 2);
            EXPECT_EQ(sink.written(), file);
        }
    }
}

// 16.16 read to floats (0x7FFFFFFF / 65536 rounds once) and floats written truncated and saturated.
TEST(TypedIo, FixedPointFloats)
{
    const struct { int32_t fixed; float value; bool reads, writes; } cases[] = {
        {0x18000, 1.5f, true, true},        {1, 1.0f / 65536.0f, true, true},     {INT32_MIN, -32768.0f, true, true},
        {INT32_MAX, 32768.0f, true, false}, {21845, 1.0f / 3.0f, false, true},    {-21845, -1.0f / 3.0f, false, true},
        {INT32_MAX, 1e10f, false, true},    {INT32_MIN, -1e10f, false, true},
        {0, std::numeric_limits<float>::quiet_NaN(), false, true}};
    for (const auto &c : cases) {
        for (int16_t order : {0, 1}) {
            Bytes bytes = native({c.fixed});
            if (order == 1)
                std::reverse(bytes.begin(), bytes.end());
            float value = 0;
            Sink sink(order, 1);
            if (c.reads) {
                EXPECT_TRUE(qorReadFloat(Reader(bytes, order, 1).file, &value, 1) == 1 && value == c.value) << c.fixed;
            }
            if (c.writes) {
                EXPECT_TRUE(qorWriteFloat(sink.file, &c.value, 1) == 1 && sink.written() == bytes) << c.value;
            }
        }
    }
}

TEST(TypedIo, ShortReadsCountsAndFailingWrites)
{
    Reader src(Bytes{0x12, 0x34, 0x56}, 1);
    uint8_t dest[4] = {0xEE, 0xEE, 0xEE, 0xEE};
    EXPECT_TRUE(qorReadShort(src.file, dest, 2) == 0 && qorSeek(src.file, 0, SEEK_CUR) == 3);
    EXPECT_EQ((Bytes(dest, dest + 4)), (Bytes{0x12, 0x34, 0x56, 0xEE})); // raw bytes left
    Reader eight(Bytes{1, 2, 3, 4, 5, 6, 7, 8});
    EXPECT_TRUE(qorReadShort(eight.file, dest, 0) == 0 && qorReadLong(eight.file, dest, -1) == 0);
    EXPECT_TRUE(qorReadDouble(eight.file, dest, INT32_MAX) == 0 && qorReadShort(nullptr, dest, 1) == 0);
    EXPECT_EQ(qorSeek(eight.file, 0, SEEK_CUR), 0); // nothing was read
    EXPECT_TRUE(qorWriteShort(nullptr, dest, 1) == 0 && qorWriteLong(eight.file, dest, 0) == 0);
    Sink full(0, 0, /*growBy=*/0, /*size=*/5);
    const int16_t values[3] = {0x0102, 0x0304, 0x0506};
    EXPECT_EQ(qorWriteShort(full.file, values, 3), -1);
    EXPECT_EQ(full.written(), (Bytes{2, 1, 4, 3, 6})); // the elements before the failure stay
}

TEST(TypedIo, NullDataFormatAndNativeToLEAndBE)
{
    int16_t order = 9, floats = 9;
    EXPECT_TRUE(qorSetDataFormat(nullptr, 1, 1) == 0 && qorGetDataFormat(nullptr, &order, &floats) == -1);
    const struct { int32_t count; Bytes le, be; } cases[] = {
        {0, {}, {}}, {-3, {}, {}}, {2, {0x04, 0x03}, {0x03, 0x04}},
        {6, {0x04, 0x03, 0x02, 0x01, 0, 0}, {0, 0, 1, 2, 3, 4}}};
    for (const auto &c : cases) {
        Bytes le(8, 0xEE), be(8, 0xEE), want_le = c.le, want_be = c.be;
        qorNativeToLE(le.data(), 0x01020304u, c.count);
        qorNativeToBE(be.data(), 0x01020304u, c.count);
        want_le.resize(8, 0xEE); // nothing written past the count
        want_be.resize(8, 0xEE);
        EXPECT_TRUE(le == want_le && be == want_be) << c.count;
    }
}

// A full buffer gets no terminator and nothing past its size; a CR ending a window makes the
// look-ahead and the step back cross windows.
TEST(Lines, ReadEachLineEnd)
{
    const std::string x(kQorBufferSize - 1, 'x');
    const struct { std::string data; int32_t size; std::vector<std::pair<int32_t, std::string>> reads; } cases[] = {
        {"ab\r\nxy\nz\r\rq\r", 16, {{2, "ab"}, {2, "xy"}, {1, "z"}, {0, ""}, {1, "q"}, {-1, ""}}},
        {"ab\rcd", 16, {{2, "ab"}, {-1, "cd"}}}, // the last line without an end gives -1
        {"abcdefgh\nij\n", 4, {{4, "abcd"}, {4, "efgh"}, {0, ""}, {2, "ij"}}},
        {x + "\ry\n" + x + "\r\nz", 3 * kQorBufferSize,
         {{kQorBufferSize - 1, x}, {1, "y"}, {kQorBufferSize - 1, x}, {-1, "z"}}},
    };
    TempDir dir;
    for (const auto &c : cases) {
        write_file(dir.file("lines"), text(c.data));
        QorFile f = qorOpen(dir.file("lines").c_str(), nullptr, QOR_READ);
        std::string buf(size_t(c.size) + 1, '#');
        for (const auto &[result, line] : c.reads) {
            std::fill(buf.begin(), buf.end(), '#');
            EXPECT_EQ(qorReadLine(f, buf.data(), c.size), result) << line;
            EXPECT_EQ(buf.substr(0, line.size() + 1), line + (result == c.size ? '#' : '\0'));
        }
        std::fill(buf.begin(), buf.end(), '#');
        EXPECT_TRUE(qorReadLine(f, buf.data(), 0) == 0 && qorReadLine(f, buf.data(), -1) == -1);
        EXPECT_EQ(qorReadLine(f, nullptr, 4), -1);
        EXPECT_EQ(buf[0], '#');
        qorClose(f);
    }
}

// Each line end written, then guessed back from the written bytes (5: CR LF; -1: the default, LF).
TEST(Lines, WriteEachLineEndAndGuessItBack)
{
    const struct { int16_t format; std::string written; int32_t guessed; } cases[] = {
        {0, "hi\r\n", 0}, {1, "hi\r", 1}, {2, "hi\n", 2}, {5, "hi\r\n", 0}, {-1, "hi\n", 2}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.format);
        Sink sink;
        EXPECT_TRUE(c.format < 0 || qorSetLineFormat(sink.file, c.format) == 0);
        EXPECT_EQ(qorWriteLine(sink.file, "hi", 2), 2);
        EXPECT_EQ(sink.written(), text(c.written));
        EXPECT_EQ(qorGetLineFormat(Reader(sink.written()).file), c.guessed);
    }
    // The guess starts at the position, ends back at the start; the first end wins; no end is -1.
    for (const auto &[data, start, format] : {std::tuple<std::string, int32_t, int32_t>{"abc\rdef", 0, 1},
                                              {"a\r\nb\nc", 3, 2}, {"\n\r", 0, 2}, {"abc", 0, -1}}) {
        Reader src(text(data));
        ASSERT_TRUE(start == 0 || qorSeek(src.file, start, SEEK_SET) == start);
        EXPECT_EQ(qorGetLineFormat(src.file), format) << data;
        EXPECT_EQ(qorSeek(src.file, 0, SEEK_CUR), 0);
    }
    EXPECT_EQ(qorWriteLine(nullptr, "hi", 2), 0);
    Sink full(0, 0, /*growBy=*/0, /*size=*/3);
    qorSetLineFormat(full.file, 0);
    EXPECT_EQ(qorWriteLine(full.file, "abc", 3), -1); // the CR finds no room
    EXPECT_EQ(full.written(), (Bytes{'a', 'b', 'c'}));
}

} // namespace
