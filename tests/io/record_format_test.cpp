// Record format strings: layouts, round trips, pad widths, union sizes, errors, absurd counts.
#include "io_support.h"

using namespace iotest;

namespace {

constexpr uint8_t kFill = 0xEE; // images are pre-filled to catch stray writes

struct ReadResult { int32_t result; Bytes image; int32_t consumed; };

// Reads `count` records into a pre-filled image; writes them into a block.
ReadResult read_records(const char *format, const Bytes &file, size_t size, int32_t count = 1, int16_t order = 0)
{
    Reader src(file, order);
    ReadResult r{0, Bytes(size, kFill), 0};
    r.result = qorReadStruct(src.file, format, r.image.data(), count);
    return r.consumed = qorSeek(src.file, 0, SEEK_CUR), r;
}
std::pair<int32_t, Bytes> write_records(const char *format, const Bytes &image, int32_t count = 1, int16_t order = 0)
{
    Sink sink(order);
    const int32_t result = qorWriteStruct(sink.file, format, image.data(), count);
    return {result, sink.written()};
}

Bytes fill(size_t n) { return Bytes(n, kFill); }
Bytes cat(Bytes a, const Bytes &b) { return a.insert(a.end(), b.begin(), b.end()), a; }

// Each format read from `file` gives `image`, and (if `writes`) written back gives `file`.
TEST(RecordLayout, LayoutsAndRoundTrips)
{
    const Bytes p126 = pattern(126), p76 = pattern(76), p16 = pattern(16);
    const struct { const char *format; Bytes file; Bytes image; int32_t count; int16_t order; bool writes; } cases[] = {
        // Fields at aligned places, padding zeroed before the D and up to the record's alignment of 8.
        {"64C1S2C3L16C1L2D2L2C", p126,
         cat(cat(cat(cat(Bytes(p126.begin(), p126.begin() + 100), Bytes(4, 0)), Bytes(p126.begin() + 100, p126.end())),
                 Bytes(6, 0)), fill(4)), 1, 0, true},
        {"8c16c5s10c8l", p76, cat(p76, fill(4)), 1, 0, true}, {"3L{4C}", p16, cat(p16, fill(4)), 1, 0, true},
        {"1C1L", {9, 1, 2, 3, 4}, {9, 0, 0, 0, 1, 2, 3, 4, kFill, kFill}, 1, 0, true},
        // The byte skipped before a short keeps its old value; the record's end is zeroed.
        {"1C1S", {7, 0x34, 0x12}, {7, kFill, 0x12, 0x34, kFill, kFill}, 1, 1, false},
        {"1L1C", {1, 0, 0, 0, 0xA, 2, 0, 0, 0, 0xB},
         {1, 0, 0, 0, 0xA, 0, 0, 0, 2, 0, 0, 0, 0xB, 0, 0, 0, kFill, kFill}, 2, 0, true},
        {"1S1L", {0x12, 0x34, 0xA1, 0xB2, 0xC3, 0xD4}, {0x34, 0x12, 0, 0, 0xD4, 0xC3, 0xB2, 0xA1}, 1, 1, true},
        // A skipped run is laid out but not moved.
        {"1L[2L]1L", {1, 0, 0, 0, 2, 0, 0, 0}, cat(cat({1, 0, 0, 0}, fill(8)), {2, 0, 0, 0}), 1, 0, true},
        // The reader steps over a union: aligned to 4, 8 bytes large.
        {"1C(2L|1S)1C", {5, 6}, cat(cat({5, 0, 0, 0}, fill(8)), {6, 0, 0, 0, kFill, kFill}), 1, 0, false}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.format);
        const ReadResult r = read_records(c.format, c.file, c.image.size(), c.count, c.order);
        EXPECT_EQ(r.result, c.count);
        EXPECT_EQ(r.consumed, int32_t(c.file.size()));
        EXPECT_EQ(r.image, c.image);
        if (c.writes) {
            EXPECT_EQ(write_records(c.format, r.image, c.count, c.order), std::make_pair(c.count, c.file));
        }
    }
    // The writer refuses unions and "P": the fields are written, the record does not count.
    EXPECT_EQ(write_records("1C(1L)", Bytes(8, 1)), std::make_pair(0, Bytes{1, 1, 1, 1, 1}));
    EXPECT_TRUE(write_records("1L1P", Bytes(8, 1)).first == 0 && read_records("1L1P", Bytes(4, 1), 4).result == 1);
}

TEST(RecordLayout, PadWidth)
{
    const std::pair<const char *, int32_t> cases[] = {
        {"", 1},     {"4C", 1},  {"1S2C", 2}, {"3L{4C}", 4},      {"{4C}", 1},     {"{2S}1L", 2}, {"C{S}D", 8},
        {"2C}1L", 1}, {"1f", 4}, {"(1C|2S)1L", 2}, {"[1D]", 8}, {"1C{1S{1L}}", 4}, {"x y 99", 1}};
    for (const auto &[format, width] : cases)
        EXPECT_EQ(GetPadWidth(format), width) << format;
    EXPECT_EQ(GetPadWidth(nullptr), 1);
}

TEST(RecordLayout, UnionSize)
{
    const struct { const char *format; int32_t size; size_t close; } cases[] = { // close: the index of ")"
        {"(2L|1D)", 8, 6},     {"(1C|2S)", 4, 6},           {"(1C|1L)", 4, 6}, // the last alternative counts too
        {"(1C1L|6C)1L", 8, 8}, {"(1C(2L|1C)|1S)", 12, 13}, {"(3C", 3, 3},     // no closer: the string's end
    };
    for (const auto &c : cases) {
        int32_t size = -1;
        const char *close = GetUnionSize(c.format, &size);
        EXPECT_EQ(size, c.size) << c.format;
        EXPECT_EQ(static_cast<size_t>(close - c.format), c.close) << c.format;
    }
}

TEST(RecordErrors, UnknownCharactersAndShortFiles)
{
    // "2 L": the fields around the space are read, the record does not count.
    const ReadResult r = read_records("2 L", {1, 2, 3, 4, 5, 6, 7, 8}, 8);
    EXPECT_EQ(r.result, 0);
    EXPECT_EQ(r.consumed, 4);
    EXPECT_EQ(Bytes(r.image.begin(), r.image.begin() + 4), (Bytes{1, 2, 3, 4}));
    EXPECT_EQ(read_records("1C#", {1, 2}, 4, 2).result, 0);
    EXPECT_EQ(write_records("1L?", Bytes(4, 3)).first, 0);
    const ReadResult s = read_records("1L1L", {1, 0, 0, 0, 2, 0}, 8);
    EXPECT_EQ(s.result, 0);
    EXPECT_EQ(s.image, (Bytes{1, 0, 0, 0, 2, 0, kFill, kFill})); // raw bytes of the short field
    EXPECT_TRUE(read_records("1L", {1, 2, 3, 4}, 8, 3).result == 0 && read_records("1L", {}, 4, 0).result == 0);
    EXPECT_EQ(read_records("", {}, 4, 3).result, 3); // records with no fields
    Bytes image(4, 0);
    EXPECT_TRUE(qorReadStruct(nullptr, "1L", nullptr, 1) == -1 && qorReadStruct(nullptr, "1L", image.data(), 1) == 0);
    EXPECT_EQ(qorWriteStruct(nullptr, nullptr, image.data(), 1), -1);
}

TEST(RecordErrors, AbsurdCounts)
{
    const std::string hundred_digits(100, '9');
    for (const std::string &format : {std::string("268435456L"), hundred_digits + "C", hundred_digits + "D"}) {
        const ReadResult r = read_records(format.c_str(), pattern(8), 8);
        EXPECT_EQ(r.result, -1) << format;
        EXPECT_EQ(r.image, fill(8)) << format;
        EXPECT_EQ(write_records(format.c_str(), Bytes(8, 0)).first, -1) << format;
    }
    EXPECT_EQ(write_records("0L", Bytes(8, 0)).first, -1);
    EXPECT_EQ(read_records("0L", pattern(8), 8).result, 0);
    EXPECT_EQ(read_records("1C268435455C", pattern(1), 4).result, 0); // accepted, meets the file's end
}

} // namespace
