// Typed reads and writes in both byte orders, 16.16 fixed-point floats both
// ways, qorNativeToLE/BE, and text lines with all three line ends, including
// lines longer than the buffer and line ends split across buffer windows.
#include "qorfile_support.h"

#include <cmath>
#include <limits>

using namespace iotest;

namespace {

// Bytes to read from: a memory block closed by its end marker.
class Source {
public:
    explicit Source(const Bytes &bytes, int16_t byteOrder = 0, int16_t floatFormat = 0)
        : block_(with_marker(bytes))
    {
        file = qorOpen(nullptr, &block_.desc, QOR_READ);
        qorSetDataFormat(file, byteOrder, floatFormat);
    }
    ~Source() { qorClose(file); }
    QorFile file;

private:
    static Bytes with_marker(Bytes b)
    {
        b.push_back(0xFF);
        return b;
    }
    MemoryBlock block_;
};

// A growing memory block to write into.
class Sink {
public:
    explicit Sink(int16_t byteOrder = 0, int16_t floatFormat = 0, uint32_t growBy = 64, uint32_t size = 16)
        : block_(Bytes(), size)
    {
        block_.desc.growBy = growBy;
        file = qorOpen(nullptr, &block_.desc, QOR_CREATE | QOR_WRITE);
        qorSetDataFormat(file, byteOrder, floatFormat);
    }
    ~Sink() { qorClose(file); }
    Bytes written() const { return block_.bytes(static_cast<size_t>(record(file).bufLast + 1)); }
    QorFile file;

private:
    MemoryBlock block_;
};

template <typename T> T read_one(int32_t (*read)(QorFile, void *, int32_t), const Bytes &bytes, int16_t order,
                                 int16_t floats = 0)
{
    Source src(bytes, order, floats);
    T value{};
    EXPECT_EQ(read(src.file, &value, 1), 1);
    return value;
}

template <typename T> Bytes write_one(int32_t (*write)(QorFile, const void *, int32_t), T value, int16_t order,
                                      int16_t floats = 0)
{
    Sink sink(order, floats);
    EXPECT_EQ(write(sink.file, &value, 1), 1);
    return sink.written();
}

TEST(TypedRead, ByteOrders)
{
    EXPECT_EQ(read_one<uint16_t>(qorReadShort, {0x12, 0x34}, 1), 0x1234);
    EXPECT_EQ(read_one<uint16_t>(qorReadShort, {0x12, 0x34}, 0), 0x3412);
    EXPECT_EQ(read_one<uint16_t>(qorReadShort, {0x12, 0x34}, 7), 0x3412); // any other value: little-endian
    EXPECT_EQ(read_one<uint32_t>(qorReadLong, {1, 2, 3, 4}, 1), 0x01020304u);
    EXPECT_EQ(read_one<uint32_t>(qorReadLong, {1, 2, 3, 4}, 0), 0x04030201u);
    EXPECT_EQ(read_one<double>(qorReadDouble, {0x3F, 0xF0, 0, 0, 0, 0, 0, 0}, 1), 1.0);
    EXPECT_EQ(read_one<double>(qorReadDouble, {0, 0, 0, 0, 0, 0, 0xF0, 0x3F}, 0), 1.0);
    EXPECT_EQ(read_one<float>(qorReadFloat, {0x3F, 0xC0, 0, 0}, 1), 1.5f);
    EXPECT_EQ(read_one<float>(qorReadFloat, {0, 0, 0xC0, 0x3F}, 0), 1.5f);
}

TEST(TypedRead, FixedPointFloats)
{
    EXPECT_EQ(read_one<float>(qorReadFloat, {0x00, 0x80, 0x01, 0x00}, 0, 1), 1.5f);
    EXPECT_EQ(read_one<float>(qorReadFloat, {0x00, 0x01, 0x80, 0x00}, 1, 1), 1.5f);
    EXPECT_EQ(read_one<float>(qorReadFloat, {0x00, 0x80, 0xFE, 0xFF}, 0, 1), -1.5f); // -98304
    EXPECT_EQ(read_one<float>(qorReadFloat, {0x01, 0, 0, 0}, 0, 1), 1.0f / 65536.0f);
    // 0x7FFFFFFF / 65536 rounds once, to the nearest single: 32768.
    EXPECT_EQ(read_one<float>(qorReadFloat, {0xFF, 0xFF, 0xFF, 0x7F}, 0, 1), 32768.0f);
    EXPECT_EQ(read_one<float>(qorReadFloat, {0, 0, 0, 0x80}, 0, 1), -32768.0f);
}

TEST(TypedWrite, ByteOrders)
{
    EXPECT_EQ(write_one<uint16_t>(qorWriteShort, 0x1234, 1), (Bytes{0x12, 0x34}));
    EXPECT_EQ(write_one<uint16_t>(qorWriteShort, 0x1234, 0), (Bytes{0x34, 0x12}));
    EXPECT_EQ(write_one<uint32_t>(qorWriteLong, 0x01020304u, 1), (Bytes{1, 2, 3, 4}));
    EXPECT_EQ(write_one<uint32_t>(qorWriteLong, 0x01020304u, 0), (Bytes{4, 3, 2, 1}));
    EXPECT_EQ(write_one<double>(qorWriteDouble, 1.0, 1), (Bytes{0x3F, 0xF0, 0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(write_one<double>(qorWriteDouble, 1.0, 0), (Bytes{0, 0, 0, 0, 0, 0, 0xF0, 0x3F}));
    EXPECT_EQ(write_one<float>(qorWriteFloat, 1.5f, 1), (Bytes{0x3F, 0xC0, 0, 0}));
    EXPECT_EQ(write_one<float>(qorWriteFloat, 1.5f, 0), (Bytes{0, 0, 0xC0, 0x3F}));
}

TEST(TypedWrite, FixedPointFloats)
{
    EXPECT_EQ(write_one<float>(qorWriteFloat, 1.5f, 0, 1), (Bytes{0x00, 0x80, 0x01, 0x00}));
    EXPECT_EQ(write_one<float>(qorWriteFloat, 1.5f, 1, 1), (Bytes{0x00, 0x01, 0x80, 0x00}));
    const struct {
        float value;
        int32_t fixed;
    } cases[] = {
        {-1.5f, -98304},
        {1.0f / 3.0f, 21845},   // 21845.33 truncated
        {-1.0f / 3.0f, -21845}, // toward zero
        {1e10f, INT32_MAX},     // saturated instead of undefined
        {-1e10f, INT32_MIN},
        {std::numeric_limits<float>::quiet_NaN(), 0},
    };
    for (const auto &c : cases) {
        const Bytes b = write_one<float>(qorWriteFloat, c.value, 0, 1);
        ASSERT_EQ(b.size(), 4u);
        int32_t fixed;
        std::memcpy(&fixed, b.data(), 4);
        EXPECT_EQ(fixed, c.fixed) << c.value;
    }
}

TEST(TypedRead, ArraysRoundTripInBothOrders)
{
    for (int16_t order : {0, 1}) {
        const int16_t shorts[3] = {1, -2, 0x7ABC};
        const int32_t longs[3] = {7, -8, 0x12345678};
        const double doubles[2] = {-0.125, 1e300};
        Sink sink(order);
        EXPECT_EQ(qorWriteShort(sink.file, shorts, 3), 3);
        EXPECT_EQ(qorWriteLong(sink.file, longs, 3), 3);
        EXPECT_EQ(qorWriteDouble(sink.file, doubles, 2), 2);
        Source src(sink.written(), order);
        int16_t s[3];
        int32_t l[3];
        double d[2];
        EXPECT_EQ(qorReadShort(src.file, s, 3), 3);
        EXPECT_EQ(qorReadLong(src.file, l, 3), 3);
        EXPECT_EQ(qorReadDouble(src.file, d, 2), 2);
        EXPECT_EQ(0, std::memcmp(s, shorts, sizeof s));
        EXPECT_EQ(0, std::memcmp(l, longs, sizeof l));
        EXPECT_EQ(0, std::memcmp(d, doubles, sizeof d));
    }
}

TEST(TypedRead, ShortReadGivesZeroAndLeavesRawBytes)
{
    Source src({0x12, 0x34, 0x56}, 1);
    uint8_t dest[4] = {0xEE, 0xEE, 0xEE, 0xEE};
    EXPECT_EQ(qorReadShort(src.file, dest, 2), 0);
    EXPECT_EQ((Bytes(dest, dest + 4)), (Bytes{0x12, 0x34, 0x56, 0xEE}));
    EXPECT_EQ(qorSeek(src.file, 0, SEEK_CUR), 3); // the position moved past what was read
}

TEST(TypedRead, CountsOutOfRange)
{
    Source src({1, 2, 3, 4, 5, 6, 7, 8});
    uint8_t dest[8] = {};
    EXPECT_EQ(qorReadShort(src.file, dest, 0), 0);
    EXPECT_EQ(qorReadLong(src.file, dest, -1), 0);
    EXPECT_EQ(qorReadDouble(src.file, dest, std::numeric_limits<int32_t>::max()), 0);
    EXPECT_EQ(qorReadShort(nullptr, dest, 1), 0);
    EXPECT_EQ(qorSeek(src.file, 0, SEEK_CUR), 0); // nothing was read
    EXPECT_EQ(qorWriteShort(nullptr, dest, 1), 0);
    EXPECT_EQ(qorWriteLong(src.file, dest, 0), 0);
}

TEST(TypedWrite, StopsAtTheFirstFailingElement)
{
    Sink sink(0, 0, /*growBy=*/0, /*size=*/5);
    const int16_t values[3] = {0x0102, 0x0304, 0x0506};
    EXPECT_EQ(qorWriteShort(sink.file, values, 3), -1);
    EXPECT_EQ(sink.written(), (Bytes{2, 1, 4, 3, 6})); // the two before stay written
}

TEST(TypedFormat, SetAndGet)
{
    Source src({0});
    int16_t order = 9, floats = 9;
    EXPECT_EQ(qorGetDataFormat(src.file, &order, &floats), 0);
    EXPECT_EQ(order, 0);
    EXPECT_EQ(floats, 0);
    EXPECT_EQ(qorSetDataFormat(src.file, 1, 1), 0);
    EXPECT_EQ(qorGetDataFormat(src.file, &order, &floats), 0);
    EXPECT_EQ(order, 1);
    EXPECT_EQ(floats, 1);
    EXPECT_EQ(qorSetDataFormat(nullptr, 1, 1), 0);
    EXPECT_EQ(qorGetDataFormat(nullptr, &order, &floats), -1);
}

TEST(TypedFormat, NativeToLEAndBE)
{
    const struct {
        int32_t count;
        Bytes le;
        Bytes be;
    } cases[] = {
        {0, {}, {}},
        {-3, {}, {}},
        {1, {0x04}, {0x04}},
        {2, {0x04, 0x03}, {0x03, 0x04}},
        {4, {0x04, 0x03, 0x02, 0x01}, {0x01, 0x02, 0x03, 0x04}},
        {6, {0x04, 0x03, 0x02, 0x01, 0, 0}, {0, 0, 0x01, 0x02, 0x03, 0x04}},
    };
    for (const auto &c : cases) {
        uint8_t le[8], be[8];
        std::memset(le, 0xEE, sizeof le);
        std::memset(be, 0xEE, sizeof be);
        qorNativeToLE(le, 0x01020304u, c.count);
        qorNativeToBE(be, 0x01020304u, c.count);
        const size_t n = c.le.size();
        EXPECT_EQ(Bytes(le, le + n), c.le) << c.count;
        EXPECT_EQ(Bytes(be, be + n), c.be) << c.count;
        EXPECT_EQ(le[n], 0xEE);
        EXPECT_EQ(be[n], 0xEE);
    }
}

// ----------------------------------------------------------------- lines

std::string text(const char *buf, int32_t n) { return std::string(buf, static_cast<size_t>(n)); }

TEST(Lines, AllThreeLineEndsAndTheEnd)
{
    const std::string data = "ab\rcd";
    Source src(Bytes(data.begin(), data.end()));
    char buf[16];
    EXPECT_EQ(qorReadLine(src.file, buf, 16), 2);
    EXPECT_STREQ(buf, "ab");
    EXPECT_EQ(qorReadLine(src.file, buf, 16), -1);
    EXPECT_STREQ(buf, "cd");

    const std::string mixed = "ab\r\nxy\nz\r\r\n";
    Source m(Bytes(mixed.begin(), mixed.end()));
    EXPECT_EQ(qorReadLine(m.file, buf, 16), 2);
    EXPECT_STREQ(buf, "ab");
    EXPECT_EQ(qorSeek(m.file, 0, SEEK_CUR), 4); // just after the LF
    EXPECT_EQ(qorReadLine(m.file, buf, 16), 2);
    EXPECT_STREQ(buf, "xy");
    EXPECT_EQ(qorReadLine(m.file, buf, 16), 1);
    EXPECT_STREQ(buf, "z");
    EXPECT_EQ(qorSeek(m.file, 0, SEEK_CUR), 9); // the CR after z was not swallowed
    EXPECT_EQ(qorReadLine(m.file, buf, 16), 0);
    EXPECT_STREQ(buf, "");
    EXPECT_EQ(qorReadLine(m.file, buf, 16), -1);
    EXPECT_STREQ(buf, "");
}

TEST(Lines, CrAtTheVeryEnd)
{
    const std::string data = "end\r";
    Source src(Bytes(data.begin(), data.end()));
    char buf[8];
    EXPECT_EQ(qorReadLine(src.file, buf, 8), 3);
    EXPECT_STREQ(buf, "end");
    EXPECT_EQ(qorReadLine(src.file, buf, 8), -1);
}

TEST(Lines, LongerThanTheBuffer)
{
    const std::string data = "abcdefgh\nij\n";
    Source src(Bytes(data.begin(), data.end()));
    char buf[6];
    std::memset(buf, '#', sizeof buf);
    EXPECT_EQ(qorReadLine(src.file, buf, 4), 4);
    EXPECT_EQ(text(buf, 6), "abcd##"); // no terminator, nothing past the size
    EXPECT_EQ(qorReadLine(src.file, buf, 4), 4);
    EXPECT_EQ(text(buf, 6), "efgh##");
    EXPECT_EQ(qorReadLine(src.file, buf, 4), 0);
    EXPECT_EQ(buf[0], '\0');
    EXPECT_EQ(qorReadLine(src.file, buf, 4), 2);
    EXPECT_STREQ(buf, "ij");

    std::memset(buf, '#', sizeof buf);
    EXPECT_EQ(qorReadLine(src.file, buf, 0), 0);
    EXPECT_EQ(buf[0], '#');
    EXPECT_EQ(qorReadLine(src.file, buf, -1), -1);
    EXPECT_EQ(qorReadLine(src.file, nullptr, 4), -1);
    EXPECT_EQ(buf[0], '#');
}

// A CR that ends one buffer window: the look-ahead and the step back cross
// into the next window and back again.
TEST(Lines, LineEndsAcrossBufferWindows)
{
    TempDir dir;
    const std::string path = dir.file("lines");
    const std::string first(kQorBufferSize - 1, 'x');
    write_text(path, first + "\ry\n" + first + "\r\nz");
    QorFile f = qorOpen(path.c_str(), nullptr, QOR_READ);
    ASSERT_NE(f, nullptr);
    std::vector<char> buf(3 * kQorBufferSize);
    const int32_t size = static_cast<int32_t>(buf.size());
    EXPECT_EQ(qorReadLine(f, buf.data(), size), kQorBufferSize - 1);
    EXPECT_EQ(std::string(buf.data()), first);
    EXPECT_EQ(qorReadLine(f, buf.data(), size), 1);
    EXPECT_STREQ(buf.data(), "y");
    EXPECT_EQ(qorReadLine(f, buf.data(), size), kQorBufferSize - 1);
    EXPECT_EQ(qorReadLine(f, buf.data(), size), -1);
    EXPECT_STREQ(buf.data(), "z");
    qorClose(f);
}

TEST(Lines, GuessTheLineEnd)
{
    const struct {
        std::string data;
        int32_t start;
        int32_t format;
    } cases[] = {
        {"abc\ndef", 0, 2},  {"abc\r\ndef", 0, 0}, {"abc\rdef", 0, 1}, {"abc\r", 0, 1},
        {"abc", 0, -1},      {"", 0, -1},          {"a\r\nb\nc", 3, 2},  {"\n\r", 0, 2},
    };
    TempDir dir;
    for (const auto &c : cases) {
        const std::string path = dir.file("guess");
        write_text(path, c.data);
        QorFile f = qorOpen(path.c_str(), nullptr, QOR_READ);
        ASSERT_NE(f, nullptr);
        if (c.start) {
            ASSERT_EQ(qorSeek(f, c.start, SEEK_SET), c.start);
        }
        EXPECT_EQ(qorGetLineFormat(f), c.format) << c.data;
        EXPECT_EQ(qorSeek(f, 0, SEEK_CUR), 0);
        qorClose(f);
    }
}

TEST(Lines, WriteWithEachLineEnd)
{
    const struct {
        int16_t format;
        std::string expected;
    } cases[] = {{0, "hi\r\n"}, {1, "hi\r"}, {2, "hi\n"}, {5, "hi\r\n"}};
    for (const auto &c : cases) {
        Sink sink;
        EXPECT_EQ(qorSetLineFormat(sink.file, c.format), 0);
        EXPECT_EQ(qorWriteLine(sink.file, "hi", 2), 2);
        const Bytes out = sink.written();
        EXPECT_EQ(std::string(out.begin(), out.end()), c.expected);
    }
    Sink fresh;
    EXPECT_EQ(record(fresh.file).lineFormat, 2);
    EXPECT_EQ(qorWriteLine(nullptr, "hi", 2), 0);
}

TEST(Lines, WriteFailureReportsTheLineEnd)
{
    Sink full(0, 0, /*growBy=*/0, /*size=*/3);
    qorSetLineFormat(full.file, 0);
    EXPECT_EQ(qorWriteLine(full.file, "abc", 3), -1); // the CR finds no room
    EXPECT_EQ(full.written(), (Bytes{'a', 'b', 'c'}));
}

} // namespace
