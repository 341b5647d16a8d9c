// Record format strings: the memory layout of "64C1S2C3L16C1L2D2L2C" and
// "3L{4C}", padding zeroed or left, skipped runs, unions, several records,
// format errors and absurd counts, and writer round trips.
#include "qorfile_support.h"

using namespace iotest;

namespace {

constexpr uint8_t kFill = 0xEE; // the image is pre-filled to catch stray writes

// A read-only file holding the given bytes, in the given byte order.
class FileSource {
public:
    explicit FileSource(const Bytes &bytes, int16_t order = 0)
    {
        write_file(dir_.file("src"), bytes);
        file = qorOpen(dir_.file("src").c_str(), nullptr, QOR_READ);
        qorSetDataFormat(file, order, 0);
    }
    ~FileSource() { qorClose(file); }
    int32_t position() const { return qorSeek(file, 0, SEEK_CUR); }
    QorFile file;

private:
    TempDir dir_;
};

// Reads `count` records into a pre-filled image of `size` bytes.
struct ReadResult {
    int32_t result;
    Bytes image;
    int32_t consumed;
};

ReadResult read_records(const char *format, const Bytes &file, size_t size, int32_t count = 1,
                        int16_t order = 0)
{
    FileSource src(file, order);
    Bytes image(size, kFill);
    const int32_t result = qorReadStruct(src.file, format, image.data(), count);
    return {result, image, src.position()};
}

// Writes `count` records from an image into a growing memory block.
struct WriteResult {
    int32_t result;
    Bytes file;
};

WriteResult write_records(const char *format, const Bytes &image, int32_t count = 1, int16_t order = 0)
{
    MemoryBlock block(Bytes(), 16);
    block.desc.growBy = 256;
    QorFile f = qorOpen(nullptr, &block.desc, QOR_CREATE | QOR_WRITE);
    qorSetDataFormat(f, order, 0);
    const int32_t result = qorWriteStruct(f, format, image.data(), count);
    const Bytes out = block.bytes(static_cast<size_t>(record(f).bufLast + 1));
    qorClose(f);
    return {result, out};
}

bool all_are(const Bytes &b, size_t from, size_t to, uint8_t value)
{
    for (size_t i = from; i < to; i++)
        if (b[i] != value)
            return false;
    return true;
}

TEST(RecordLayout, SixtyFourCharRecord)
{
    const char *format = "64C1S2C3L16C1L2D2L2C";
    const Bytes file = pattern(126);
    const ReadResult r = read_records(format, file, 140);
    EXPECT_EQ(r.result, 1);
    EXPECT_EQ(r.consumed, 126);
    const Bytes &m = r.image;
    // Fields at their aligned places, padding zeroed, nothing past 136.
    EXPECT_TRUE(std::equal(file.begin(), file.begin() + 100, m.begin())); // 64C 1S 2C 3L 16C 1L
    EXPECT_TRUE(all_are(m, 100, 104, 0));                                  // before the first D
    EXPECT_TRUE(std::equal(file.begin() + 100, file.begin() + 126, m.begin() + 104));
    EXPECT_TRUE(all_are(m, 130, 136, 0)); // the record's own alignment, 8
    EXPECT_TRUE(all_are(m, 136, 140, kFill));

    // Written back, the same 126 bytes come out.
    const WriteResult w = write_records(format, m);
    EXPECT_EQ(w.result, 1);
    EXPECT_EQ(w.file, file);
}

TEST(RecordLayout, PackedSmallFields)
{
    const Bytes file = pattern(76);
    for (const char *format : {"8c16c5s10c8l", "8C16C5S10C8L"}) {
        const ReadResult r = read_records(format, file, 80);
        EXPECT_EQ(r.result, 1);
        EXPECT_EQ(r.consumed, 76);
        EXPECT_TRUE(std::equal(file.begin(), file.end(), r.image.begin()));
        EXPECT_TRUE(all_are(r.image, 76, 80, kFill));
    }
}

TEST(RecordLayout, GroupAndAlignment)
{
    const Bytes file = pattern(16);
    for (const char *format : {"3L{4C}", "3l{4c}"}) {
        const ReadResult r = read_records(format, file, 20);
        EXPECT_EQ(r.result, 1);
        EXPECT_EQ(r.consumed, 16);
        EXPECT_TRUE(std::equal(file.begin(), file.end(), r.image.begin()));
        EXPECT_TRUE(all_are(r.image, 16, 20, kFill));
    }
    // 1C1L: 5 bytes from the file into 8 of memory, 3 zero bytes after the first.
    const ReadResult r = read_records("1C1L", {9, 1, 2, 3, 4}, 10);
    EXPECT_EQ(r.result, 1);
    EXPECT_EQ(r.consumed, 5);
    EXPECT_EQ(Bytes(r.image.begin(), r.image.begin() + 10), (Bytes{9, 0, 0, 0, 1, 2, 3, 4, kFill, kFill}));
}

TEST(RecordLayout, PaddingBeforeAShortIsLeftAlone)
{
    const ReadResult r = read_records("1C1S", {7, 0x34, 0x12}, 6, 1, 1);
    EXPECT_EQ(r.result, 1);
    // The byte skipped before S keeps its old value; the record's end is zeroed.
    EXPECT_EQ(r.image, (Bytes{7, kFill, 0x12, 0x34, kFill, kFill}));
}

TEST(RecordLayout, RecordsFollowAtTheRecordAlignment)
{
    const ReadResult r = read_records("1L1C", {1, 0, 0, 0, 0xA, 2, 0, 0, 0, 0xB}, 18, 2);
    EXPECT_EQ(r.result, 2);
    EXPECT_EQ(r.consumed, 10);
    const Bytes expected = {1, 0, 0, 0, 0xA, 0, 0, 0, 2, 0, 0, 0, 0xB, 0, 0, 0, kFill, kFill};
    EXPECT_EQ(r.image, expected);
    EXPECT_EQ(write_records("1L1C", r.image, 2).file, (Bytes{1, 0, 0, 0, 0xA, 2, 0, 0, 0, 0xB}));
}

TEST(RecordLayout, BigEndianFields)
{
    const ReadResult r = read_records("1S1L", {0x12, 0x34, 0xA1, 0xB2, 0xC3, 0xD4}, 8, 1, 1);
    EXPECT_EQ(r.result, 1);
    uint16_t s;
    uint32_t l;
    std::memcpy(&s, r.image.data(), 2);
    std::memcpy(&l, r.image.data() + 4, 4);
    EXPECT_EQ(s, 0x1234);
    EXPECT_EQ(l, 0xA1B2C3D4u);
    EXPECT_EQ(write_records("1S1L", r.image, 1, 1).file, (Bytes{0x12, 0x34, 0xA1, 0xB2, 0xC3, 0xD4}));
}

TEST(RecordLayout, SkippedRunsAreLaidOutButNotMoved)
{
    const ReadResult r = read_records("1L[2L]1L", {1, 0, 0, 0, 2, 0, 0, 0}, 16);
    EXPECT_EQ(r.result, 1);
    EXPECT_EQ(r.consumed, 8);
    EXPECT_EQ(r.image, (Bytes{1, 0, 0, 0, kFill, kFill, kFill, kFill, kFill, kFill, kFill, kFill, 2, 0, 0, 0}));
    EXPECT_EQ(write_records("1L[2L]1L", r.image).file, (Bytes{1, 0, 0, 0, 2, 0, 0, 0}));
}

TEST(RecordLayout, UnionsAreSteppedOverByTheReader)
{
    // C at 0, the union aligned to 4 and 8 bytes large, C at 12, end at 16.
    const ReadResult r = read_records("1C(2L|1S)1C", {5, 6}, 18);
    EXPECT_EQ(r.result, 1);
    EXPECT_EQ(r.consumed, 2);
    Bytes expected(18, kFill);
    expected[0] = 5;
    expected[1] = expected[2] = expected[3] = 0;
    expected[12] = 6;
    expected[13] = expected[14] = expected[15] = 0;
    EXPECT_EQ(r.image, expected);
    // The writer refuses unions and "P": the fields are written, the record
    // does not count.
    EXPECT_EQ(write_records("1C(1L)", Bytes(8, 1)).result, 0);
    EXPECT_EQ(write_records("1C(1L)", Bytes(8, 1)).file.size(), 5u);
    EXPECT_EQ(write_records("1L1P", Bytes(8, 1)).result, 0);
    EXPECT_EQ(read_records("1L1P", Bytes(4, 1), 4).result, 1);
}

TEST(RecordLayout, PadWidth)
{
    const struct {
        const char *format;
        int32_t width;
    } cases[] = {
        {"", 1},         {"4C", 1},       {"1S2C", 2},      {"3L{4C}", 4},   {"{4C}", 1},
        {"{2S}1L", 2},   {"C{S}D", 8},    {"2C}1L", 1},     {"1f", 4},       {"(1C|2S)1L", 2},
        {"[1D]", 8},     {"1C{1S{1L}}", 4}, {"x y 99", 1},
    };
    for (const auto &c : cases)
        EXPECT_EQ(GetPadWidth(c.format), c.width) << c.format;
    EXPECT_EQ(GetPadWidth(nullptr), 1);
}

TEST(RecordLayout, UnionSize)
{
    const struct {
        const char *format;
        int32_t size;
        size_t close; // index of the closing ")"
    } cases[] = {
        {"(2L|1D)", 8, 6},
        {"(1C|2S)", 4, 6},
        {"(1C|1L)", 4, 6},      // the alternative before ")" counts too
        {"(1C1L|6C)1L", 8, 8},
        {"(1C(2L|1C)|1S)", 12, 13},
        {"(3C", 3, 3},          // no closer: the end of the string
    };
    for (const auto &c : cases) {
        int32_t size = -1;
        const char *close = GetUnionSize(c.format, &size);
        EXPECT_EQ(size, c.size) << c.format;
        EXPECT_EQ(static_cast<size_t>(close - c.format), c.close) << c.format;
    }
}

TEST(RecordErrors, UnknownCharactersSpoilTheRecord)
{
    // "2 L": the fields around the space are read, the record does not count.
    const ReadResult r = read_records("2 L", {1, 2, 3, 4, 5, 6, 7, 8}, 8);
    EXPECT_EQ(r.result, 0);
    EXPECT_EQ(r.consumed, 4);
    EXPECT_EQ(Bytes(r.image.begin(), r.image.begin() + 4), (Bytes{1, 2, 3, 4}));
    EXPECT_EQ(read_records("1C#", {1, 2}, 4, 2).result, 0);
    EXPECT_EQ(write_records("1L?", Bytes(4, 3)).result, 0);
}

TEST(RecordErrors, AbsurdCounts)
{
    const std::string hundred_digits(100, '9');
    for (const std::string &format : {std::string("268435456L"), hundred_digits + "C", hundred_digits + "D"}) {
        const ReadResult r = read_records(format.c_str(), pattern(8), 8);
        EXPECT_EQ(r.result, -1) << format;
        EXPECT_TRUE(all_are(r.image, 0, 8, kFill)) << format;
        EXPECT_EQ(write_records(format.c_str(), Bytes(8, 0)).result, -1) << format;
    }
    EXPECT_EQ(write_records("0L", Bytes(8, 0)).result, -1);
    EXPECT_EQ(read_records("0L", pattern(8), 8).result, 0);
    // Up to the limit a count is accepted (and here meets the end of the file).
    EXPECT_EQ(read_records("1C268435455C", pattern(1), 4).result, 0);
}

TEST(RecordErrors, FailureStopsPartWay)
{
    const ReadResult r = read_records("1L1L", {1, 0, 0, 0, 2, 0}, 8);
    EXPECT_EQ(r.result, 0);
    EXPECT_EQ(r.image, (Bytes{1, 0, 0, 0, 2, 0, kFill, kFill})); // raw bytes of the short field
    EXPECT_EQ(read_records("1L", {1, 2, 3, 4}, 8, 3).result, 0);
    EXPECT_EQ(read_records("1L", {}, 4, 0).result, 0); // a count of 0
    EXPECT_EQ(read_records("", {}, 4, 3).result, 3);  // records with no fields
    EXPECT_EQ(qorReadStruct(nullptr, "1L", nullptr, 1), -1);
    Bytes image(4, 0);
    EXPECT_EQ(qorReadStruct(nullptr, "1L", image.data(), 1), 0);
    EXPECT_EQ(qorWriteStruct(nullptr, nullptr, image.data(), 1), -1);
}

} // namespace
