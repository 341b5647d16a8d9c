// Hostile Compound Files, made by hand in memory: truncated files, chains
// with cycles or sectors outside the file or the table, a MiniFAT chain that
// leaves the FAT, sibling trees that loop or point nowhere, over-long names,
// headers claiming millions of table sectors, streams longer than the file.
// Every open and read must end (no hang, no out-of-bounds access, no
// allocation far beyond the file) with the result the reader defines.
#include "cfb_support.h"

using namespace cfbtest;

namespace {

constexpr uint32_t kFree = Image::kFree;
constexpr uint32_t kEnd = Image::kEnd;

// Root (entry 0) with two children: "Data", a regular stream of `size`
// bytes in sectors 2.. (entry 1), and "Tiny", a 100-byte mini stream
// (entry 2) in the mini stream at sector 21, MiniFAT at sector 20.
struct Hostile {
    static constexpr uint32_t kMiniFat = 20, kMiniStream = 21;
    Image image;
    Bytes data;
    Bytes tiny = iotest::pattern(100);

    explicit Hostile(uint32_t size = 5000) : data(iotest::pattern(size))
    {
        image.entry(0, "Root Entry", 5, kFree, kFree, 1, 21, 128);
        image.entry(1, "Data", 2, kFree, 2, kFree, 2, size);
        image.entry(2, "Tiny", 2, kFree, kFree, kFree, 0, 100);
        image.regular_data(2, data); // sectors 2..11 for 5000 bytes
        put32(image.bytes, 60, kMiniFat);
        put32(image.bytes, 64, 1);
        image.ensure_sector(kMiniStream);
        image.fat(kMiniFat, kEnd);
        image.fat(kMiniStream, kEnd);
        for (uint32_t i = 0; i < 128; ++i)
            put32(image.bytes, image.sector_at(kMiniFat) + 4 * i, kFree);
        put32(image.bytes, image.sector_at(kMiniFat), 1);
        put32(image.bytes, image.sector_at(kMiniFat) + 4, kEnd);
        std::copy(tiny.begin(), tiny.end(), image.bytes.begin() + image.sector_at(kMiniStream));
    }
    size_t entry_at(uint32_t n) const { return image.sector_at(1) + 128 * n; }
};

// Opens the root and a stream, reads it to the end in `chunk` calls; the
// bytes read and the last result. The loop is bounded: it stops after a
// non-positive result or once far more calls than the data needs were made.
struct ReadAll {
    bool opened = false;
    Bytes bytes;
    int32_t last = 0;
};

ReadAll read_all(const Bytes &image, const char *name, int32_t chunk, SourceKind kind = SourceKind::Memory)
{
    ReadAll out;
    Source source(kind, image);
    QorFile root = qorOpenStorage(source.file(), "Root Entry");
    if (!root)
        return out;
    if (QorFile s = qorOpenStream(root, name)) {
        out.opened = true;
        Bytes buf(static_cast<size_t>(chunk), 0xEE);
        for (int calls = 0; calls < 1000000; ++calls) {
            out.last = qorRead(s, buf.data(), chunk);
            if (out.last <= 0)
                break;
            out.bytes.insert(out.bytes.end(), buf.begin(), buf.begin() + out.last);
        }
        qorCloseStream(s);
    }
    qorCloseStorage(root);
    return out;
}

TEST(CfbHostile, WellFormedBaseReadsOverEverySource)
{
    const Hostile h;
    for (SourceKind kind : kAllSources) {
        SCOPED_TRACE(source_name(kind));
        EXPECT_EQ(read_all(h.image.bytes, "Data", 300, kind).bytes, h.data);
        EXPECT_EQ(read_all(h.image.bytes, "Tiny", 7, kind).bytes, h.tiny);
    }
}

TEST(CfbHostile, TruncatedFilesEndCleanly)
{
    iotest::TempDir dir;
    ASSERT_TRUE(write_tree(dir.file("t.cfb"), {stream_node("big", iotest::pattern(20000)),
                                              storage_node("sub", {stream_node("small", iotest::pattern(700))})}));
    const Bytes whole = iotest::read_file(dir.file("t.cfb"));
    for (size_t length : {size_t{0}, size_t{1}, size_t{75}, size_t{76}, size_t{511}, size_t{512}, size_t{600},
                          size_t{4096}, whole.size() / 2, whole.size() - 1024, whole.size() - 512, whole.size() - 1}) {
        SCOPED_TRACE(length);
        const Bytes cut(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(length));
        for (SourceKind kind : {SourceKind::Path, SourceKind::Callback}) {
            Source source(kind, cut);
            QorFile root = qorOpenStorage(source.file(), "Root Entry");
            // The tables lie at the end of the file: a cut file does not
            // open, unless only the last FAT sector (all free, and not
            // counted in the header) is cut.
            if (length + 512 < whole.size()) {
                EXPECT_EQ(root, nullptr);
            } else {
                EXPECT_NE(root, nullptr);
            }
            if (root)
                qorCloseStorage(root);
        }
    }
}

TEST(CfbHostile, FatChainWithACycleReadsTheSizeAndEnds)
{
    Hostile h;
    h.image.fat(3, 2); // 2 -> 3 -> 2 -> ...
    const ReadAll r = read_all(h.image.bytes, "Data", 4096);
    ASSERT_EQ(r.bytes.size(), 5000u);
    EXPECT_EQ(r.last, 0);
    EXPECT_TRUE(std::equal(r.bytes.begin(), r.bytes.begin() + 1024, h.data.begin()));
    EXPECT_TRUE(std::equal(r.bytes.begin() + 1024, r.bytes.begin() + 2048, h.data.begin()));
}

TEST(CfbHostile, ChainsLeavingTheFileOrTheTable)
{
    struct Case {
        const char *what;
        uint32_t sector, value; // FAT entry changed
        uint32_t start;         // Data's start sector
        int32_t first;          // result of the first 1000-byte read
    };
    for (const Case &c : {
             // Sector 100 is in the table but past the file: the chunk there
             // counts as a short read and the read ends.
             Case{"beyond the file", 2, 100, 2, 1000},
             Case{"outside the table mid-chain", 2, 9999, 2, -1},
             Case{"start outside the table", 2, 3, 5000, 0},
             Case{"free entry mid-chain", 2, kFree, 2, -1},
         }) {
        SCOPED_TRACE(c.what);
        Hostile h;
        h.image.fat(c.sector, c.value);
        put32(h.image.bytes, h.entry_at(1) + 116, c.start);
        Source source(SourceKind::Memory, h.image.bytes);
        QorFile root = qorOpenStorage(source.file(), "Root Entry");
        ASSERT_NE(root, nullptr);
        QorFile s = qorOpenStream(root, "Data");
        ASSERT_NE(s, nullptr);
        Bytes buf(1000);
        EXPECT_EQ(qorRead(s, buf.data(), 1000), c.first);
        int calls = 0;
        while (qorRead(s, buf.data(), 1000) > 0 && calls < 100)
            ++calls;
        EXPECT_LT(calls, 100);
        qorCloseStream(s);
        qorCloseStorage(root);
    }
}

TEST(CfbHostile, MiniStreamsWithBrokenChains)
{
    {
        // A MiniFAT claimed over two sectors whose FAT chain ends after one.
        Hostile h;
        put32(h.image.bytes, 64, 2);
        Source source(SourceKind::Memory, h.image.bytes);
        EXPECT_EQ(qorOpenStorage(source.file(), "Root Entry"), nullptr);
    }
    {
        // MiniFAT chain starting outside the FAT.
        Hostile h;
        put32(h.image.bytes, 60, 9999);
        Source source(SourceKind::Memory, h.image.bytes);
        EXPECT_EQ(qorOpenStorage(source.file(), "Root Entry"), nullptr);
    }
    {
        // The mini stream's own chain starts outside the table: each chunk
        // is a short read; the reads still end at the stream's size.
        Hostile h;
        put32(h.image.bytes, h.entry_at(0) + 116, 9999);
        const ReadAll r = read_all(h.image.bytes, "Tiny", 64);
        EXPECT_TRUE(r.opened);
        EXPECT_EQ(r.bytes.size(), 100u);
    }
    {
        // A mini chain looping on itself: the size bounds the read.
        Hostile h;
        put32(h.image.bytes, h.image.sector_at(Hostile::kMiniFat) + 4, 0);
        const ReadAll r = read_all(h.image.bytes, "Tiny", 1);
        EXPECT_EQ(r.bytes.size(), 100u);
    }
}

TEST(CfbHostile, SiblingTreesThatLoopOrPointNowhere)
{
    struct Case {
        const char *what;
        uint32_t entry, left, right;
    };
    for (const Case &c : {Case{"self loop", 1, 1, 2}, Case{"two-entry loop", 2, 1, 1},
                          Case{"index past the directory", 1, 0x7FFFFFF0u, 2}, Case{"index 0xFFFFFFF0", 2, 0xFFFFFFF0u, 1}}) {
        SCOPED_TRACE(c.what);
        Hostile h;
        put32(h.image.bytes, h.entry_at(c.entry) + 68, c.left);
        put32(h.image.bytes, h.entry_at(c.entry) + 72, c.right);
        for (bool cyclic_directory : {false, true}) {
            // A directory chain that loops on itself maps every index to it.
            if (cyclic_directory)
                h.image.fat(1, 1);
            EXPECT_FALSE(read_all(h.image.bytes, "Absent", 64).opened);
            EXPECT_EQ(read_all(h.image.bytes, "Data", 512).bytes, h.data);
        }
    }
}

TEST(CfbHostile, NamesLongerThanTheField)
{
    Hostile h;
    put16(h.image.bytes, h.entry_at(1) + 64, 66); // "Data" claims 66 bytes
    EXPECT_FALSE(read_all(h.image.bytes, "Data", 64).opened);
    EXPECT_TRUE(read_all(h.image.bytes, "Tiny", 64).opened == false); // behind Data in the tree

    // 64 bytes of name without a terminator: narrowed in place, the 32
    // narrow characters are followed by the field's untouched upper half,
    // and the comparison stops at the field's end.
    Hostile full;
    for (uint32_t i = 0; i < 64; ++i)
        full.image.bytes[full.entry_at(2) + i] = 'A';
    put16(full.image.bytes, full.entry_at(2) + 64, 64);
    EXPECT_FALSE(read_all(full.image.bytes, std::string(32, 'a').c_str(), 64).opened);
    EXPECT_TRUE(read_all(full.image.bytes, std::string(64, 'a').c_str(), 64).opened);
    EXPECT_FALSE(read_all(full.image.bytes, "Tiny", 64).opened);
}

TEST(CfbHostile, HeadersClaimingMillionsOfTableSectors)
{
    struct Case {
        const char *what;
        size_t at;
        uint32_t value;
    };
    for (const Case &c : {Case{"FAT sectors", 44, 5000000}, Case{"FAT sectors just past the file", 44, 20},
                          Case{"DIFAT sectors", 72, 10000000}, Case{"MiniFAT sectors", 64, 4000000},
                          Case{"FAT sectors 0xFFFFFFFF", 44, 0xFFFFFFFFu}, Case{"no FAT sector", 44, 0}}) {
        SCOPED_TRACE(c.what);
        Hostile h;
        put32(h.image.bytes, c.at, c.value);
        for (SourceKind kind : kAllSources) {
            Source source(kind, h.image.bytes);
            EXPECT_EQ(qorOpenStorage(source.file(), "Root Entry"), nullptr) << source_name(kind);
        }
    }
}

TEST(CfbHostile, StreamSizesPastTheFile)
{
    {
        // 100000 bytes claimed along a chain 2 -> 3 -> ... -> 127 that
        // mostly lies past the file; reads end at the chain's end.
        Hostile h;
        for (uint32_t s = 2; s < 127; ++s)
            h.image.fat(s, s + 1);
        h.image.fat(127, kEnd);
        put32(h.image.bytes, h.entry_at(1) + 120, 100000);
        const ReadAll r = read_all(h.image.bytes, "Data", 4096);
        EXPECT_TRUE(std::equal(h.data.begin(), h.data.end(), r.bytes.begin()));
        EXPECT_LE(r.bytes.size(), 100000u);
    }
    {
        // A size that is negative as a signed 32-bit value reads nothing.
        Hostile h;
        put32(h.image.bytes, h.entry_at(1) + 120, 0x80000000u);
        const ReadAll r = read_all(h.image.bytes, "Data", 4096);
        EXPECT_TRUE(r.opened);
        EXPECT_TRUE(r.bytes.empty());
        EXPECT_EQ(r.last, 0);
    }
}

TEST(CfbHostile, UnusedEntriesAreNeverTaken)
{
    Hostile h;
    h.image.bytes[h.entry_at(1) + 66] = 0; // "Data" marked unused
    EXPECT_FALSE(read_all(h.image.bytes, "Data", 64).opened);
    EXPECT_TRUE(read_all(h.image.bytes, "Tiny", 64).opened); // its siblings are still searched
}

} // namespace
