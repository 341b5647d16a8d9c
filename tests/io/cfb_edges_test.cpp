// Compound File reader and writer at their edges: the mini-stream cutoff,
// reads and seeks at the end of a stream, name look-ups (root name ignored,
// letter case, depth limit), the exact layout of small written files,
// chains followed through qorGetSect and qorGetEndSect, reads in any call
// size and order against the bytes written, writes that seek back, and the
// names the writer refuses.
#include "cfb_support.h"

#include <random>

using namespace cfbtest;

namespace {

// The inner record behind a stream handle (outer record -> context block).
QorFileRec &inner_of(QorFile stream)
{
    auto *context = static_cast<QorFile *>(GlobalLock(iotest::record(stream).hostHandle));
    return iotest::record(*context);
}

Bytes written_image(const std::vector<Node> &tree, size_t chunk = 4096)
{
    iotest::TempDir dir;
    EXPECT_TRUE(write_tree(dir.file("t.cfb"), tree, chunk));
    return iotest::read_file(dir.file("t.cfb"));
}

// Opens the root of an image (kept open by the fixture's members).
struct Opened {
    explicit Opened(const Bytes &image, SourceKind kind = SourceKind::Memory)
        : source(kind, image), root(qorOpenStorage_ex(source.file(), "Root Entry", 0))
    {
    }
    ~Opened()
    {
        if (root)
            qorCloseStorage(root);
    }
    Source source;
    QorFile root;
};

TEST(CfbEdges, MiniStreamCutoffDecidesWhereAStreamLives)
{
    Opened below(written_image({stream_node("s", iotest::pattern(4095))}));
    ASSERT_NE(below.root, nullptr);
    // 64 mini sectors, the last one padded; no regular data sector.
    EXPECT_EQ(iotest::record(below.root).miniStreamSize, 4096u);
    QorFile s = qorOpenStream(below.root, "s");
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(inner_of(s).startSector, 0u);
    EXPECT_EQ(inner_of(s).streamSize, 4095u);
    qorCloseStream(s);

    const Bytes image = written_image({stream_node("s", iotest::pattern(4096))});
    Opened at(image);
    ASSERT_NE(at.root, nullptr);
    EXPECT_EQ(iotest::record(at.root).miniStreamSize, 0u);
    // Header, 8 data sectors, directory, MiniFAT, two FAT sectors.
    EXPECT_EQ(image.size(), 512u * 13);
    s = qorOpenStream(at.root, "s");
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(inner_of(s).startSector, 0u);
    qorCloseStream(s);
}

TEST(CfbEdges, RootAndOneSmallStreamLayout)
{
    const Bytes data = iotest::pattern(100);
    const Bytes image = written_image({stream_node("Small", data)});
    // Header, mini stream sector, directory, MiniFAT, then 1 + 0 + 1 FAT sectors.
    ASSERT_EQ(image.size(), 512u * 6);
    EXPECT_EQ(get32(image, 44), 1u);           // Number of FAT Sectors
    EXPECT_EQ(get32(image, 48), 1u);           // First Directory Sector Location
    EXPECT_EQ(get32(image, 60), 2u);           // First Mini FAT Sector Location
    EXPECT_EQ(get32(image, 64), 1u);           // Number of Mini FAT Sectors
    EXPECT_EQ(get32(image, 68), Image::kEnd);  // no DIFAT sector
    EXPECT_EQ(get32(image, 72), 0u);
    EXPECT_EQ(get32(image, 76), 3u);           // FAT sectors 3 and 4
    EXPECT_EQ(get32(image, 80), 4u);
    EXPECT_EQ(get32(image, 84), 0u);            // the placeholder's zeros
    const uint32_t fat[] = {Image::kEnd, Image::kEnd, Image::kEnd, Image::kFatMark, Image::kFatMark, Image::kFree};
    for (uint32_t i = 0; i < 6; ++i)
        EXPECT_EQ(get32(image, 4 * 512 + 4 * i), fat[i]) << i;
    for (size_t i = 5 * 512; i < 6 * 512; ++i)
        ASSERT_EQ(image[i], 0xFF) << i;
    EXPECT_TRUE(std::equal(data.begin(), data.end(), image.begin() + 512));
    // Root entry: name, type 5, mini stream of two mini sectors at sector 0.
    const size_t root = 2 * 512;
    EXPECT_EQ(image[root], 'R');
    EXPECT_EQ(image[root + 1], 0);
    EXPECT_EQ(image[root + 64], 22);
    EXPECT_EQ(image[root + 66], 5);
    EXPECT_EQ(get32(image, root + 116), 0u);
    EXPECT_EQ(get32(image, root + 120), 128u);
    EXPECT_EQ(image[root + 126], 0x92);
    EXPECT_EQ(image[root + 127], 0x92);
    // Stream entry: type 2, mini sectors 0 and 1, 100 bytes.
    EXPECT_EQ(image[root + 128 + 66], 2);
    EXPECT_EQ(get32(image, root + 128 + 116), 0u);
    EXPECT_EQ(get32(image, root + 128 + 120), 100u);
    EXPECT_EQ(get32(image, 3 * 512), 1u);
    EXPECT_EQ(get32(image, 3 * 512 + 4), Image::kEnd);
    EXPECT_EQ(get32(image, 3 * 512 + 8), Image::kFree);
}

TEST(CfbEdges, FiveEntriesTakeTwoDirectorySectors)
{
    const Bytes image = written_image({stream_node("a", {}), stream_node("b", {}), stream_node("c", {}),
                                       stream_node("d", {})});
    const uint32_t first = get32(image, 48);
    const uint32_t second = get32(image, (get32(image, 76) + 1) * 512 + 4 * first);
    ASSERT_LT(second, 100u);
    const size_t at = (size_t{second} + 1) * 512;
    EXPECT_EQ(image[at + 66], 2);
    for (size_t i = 128; i < 512; ++i)
        ASSERT_EQ(image[at + i], 0) << i;
}

TEST(CfbEdges, ReadsAndSeeksAtTheEnd)
{
    for (size_t size : {1000u, 5000u}) {
        SCOPED_TRACE(size);
        const Bytes data = iotest::pattern(size);
        Opened file(written_image({stream_node("s", data)}));
        QorFile s = qorOpenStream(file.root, "s");
        ASSERT_NE(s, nullptr);
        const int32_t end = static_cast<int32_t>(size);
        uint8_t buf[200];
        EXPECT_EQ(qorSeek(s, end - 10, SEEK_SET), end - 10);
        EXPECT_EQ(qorRead(s, buf, 100), 10);
        EXPECT_TRUE(std::equal(buf, buf + 10, data.end() - 10));
        EXPECT_EQ(qorRead(s, buf, 100), 0);
        // Whence 2 counts backwards from the end; results are clamped.
        EXPECT_EQ(qorSeek(s, 10, SEEK_END), end - 10);
        EXPECT_EQ(qorSeek(s, -10, SEEK_END), end);
        EXPECT_EQ(qorSeek(s, end + 50, SEEK_SET), end);
        EXPECT_EQ(qorSeek(s, -5, SEEK_SET), 0);
        EXPECT_EQ(qorSeek(s, 7, SEEK_CUR), 7);
        EXPECT_EQ(qorSeek(s, -100, SEEK_CUR), 0);
        EXPECT_EQ(qorSeek(s, 3, 9), -1);
        EXPECT_EQ(qorSeek(s, 0, SEEK_CUR), 0);
        qorCloseStream(s);
    }
}

TEST(CfbEdges, LookUpRules)
{
    Opened file(written_image({stream_node("Small", iotest::pattern(10)), storage_node("Sub", {})}));
    ASSERT_NE(file.root, nullptr);
    // The root's name is not compared; other names compare without case.
    QorFile other_root = qorOpenStorage(file.source.file(), "Anything");
    ASSERT_NE(other_root, nullptr);
    qorCloseStorage(other_root);
    QorFile s = qorOpenStream(file.root, "sMALL");
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(qorOpenStream(file.source.file(), "Small"), nullptr); // not a storage
    EXPECT_EQ(qorOpenStream(s, "Small"), nullptr);                   // a stream handle
    qorCloseStream(s);
    EXPECT_EQ(qorOpenStream(file.root, "Absent"), nullptr);
    EXPECT_EQ(qorOpenStorage(file.root, "Absent"), nullptr);
    QorFile sub = qorOpenStorage(file.root, "SUB");
    ASSERT_NE(sub, nullptr);
    EXPECT_EQ(qorOpenStream(sub, "Small"), nullptr); // only the storage's own children
    qorCloseStorage(sub);
}

// 300 empty streams "s299" down to "s000": names of one length inserted in
// falling order hang as one left chain, entry sNNN (index 300 - NNN) at
// depth 300 - NNN.
std::vector<Node> falling_chain_tree()
{
    std::vector<Node> tree;
    for (int i = 299; i >= 0; --i) {
        char name[8];
        std::snprintf(name, sizeof name, "s%03d", i);
        tree.push_back(stream_node(name, {}));
    }
    return tree;
}

TEST(CfbEdges, LookUpStopsAtDepth256)
{
    Opened file(written_image(falling_chain_tree()));
    ASSERT_NE(file.root, nullptr);
    for (const auto &[name, found] : {std::pair<const char *, bool>{"s299", true}, {"s044", true}, {"s043", false},
                                      {"s000", false}}) {
        QorFile s = qorOpenStream(file.root, name);
        EXPECT_EQ(s != nullptr, found) << name;
        if (s) {
            qorCloseStream(s);
        }
    }
}

TEST(CfbEdges, HeaderChecksAndFatSectorLimit)
{
    Image good;
    good.entry(0, "Root Entry", 5, Image::kFree, Image::kFree, Image::kFree, Image::kEnd, 0);
    {
        Source source(SourceKind::Memory, good.bytes);
        QorFile root = qorOpenStorage_ex(source.file(), "Root Entry", 2);
        ASSERT_NE(root, nullptr);
        qorCloseStorage(root);
        // Number of FAT Sectors (1) at or above the limit refuses the file.
        EXPECT_EQ(qorOpenStorage_ex(source.file(), "Root Entry", 1), nullptr);
        EXPECT_EQ(iotest::record(source.file()).inCompound, 0u);
    }
    struct Broken {
        const char *what;
        size_t at;
        uint16_t value;
    };
    for (const Broken &b : {Broken{"sector shift 12", 30, 12}, Broken{"byte order", 28, 0xFEFF},
                            Broken{"mini sector shift", 32, 7}, Broken{"cutoff", 56, 2048}, Broken{"signature", 0, 0}}) {
        SCOPED_TRACE(b.what);
        Image image = good;
        put16(image.bytes, b.at, b.value);
        Source source(SourceKind::Memory, image.bytes);
        EXPECT_EQ(qorOpenStorage(source.file(), "Root Entry"), nullptr);
    }
}

TEST(CfbEdges, ChainsThroughGetSectAndGetEndSect)
{
    auto *table = static_cast<uint32_t *>(qorPtrGlobalAlloc(8 * 4));
    const uint32_t chain[8] = {1, 2, 0xFFFFFFFE, 5, 5, 4, 0xFFFFFFFF, 700};
    std::memcpy(table, chain, sizeof chain);
    struct Case {
        uint32_t start, offset, size, limit, expected;
    };
    for (const Case &c : {Case{0, 0, 512, 8, 0}, Case{0, 511, 512, 8, 0}, Case{0, 512, 512, 8, 1},
                          Case{0, 1024, 512, 8, 2}, Case{0, 5000, 512, 8, 0xFFFFFFFE}, Case{9, 5000, 512, 8, 9},
                          Case{7, 512, 512, 8, 700}, Case{3, 64, 64, 8, 5},
                          // 3 -> 5 <-> 4: an odd number of links ends on 5, an even one on 4.
                          Case{4, 0xFFFFFFFFu, 1, 8, 5}, Case{3, 0xFFFFFFFEu, 1, 8, 4}}) {
        EXPECT_EQ(qorGetSect(c.start, c.offset, c.size, table, c.limit), c.expected)
            << c.start << " " << c.offset << " " << c.size;
    }
    EXPECT_EQ(qorGetEndSect(0, table), 2u);
    EXPECT_EQ(qorGetEndSect(2, table), 2u);
    EXPECT_EQ(qorGetEndSect(7, table), 7u);  // 700 lies outside the table
    EXPECT_EQ(qorGetEndSect(6, table), 6u);  // a free entry ends the walk
    const uint32_t loop_end = qorGetEndSect(3, table); // 3 -> 5 <-> 4: ends
    EXPECT_TRUE(loop_end == 4 || loop_end == 5);
    qorPtrGlobalFree(table);
}

// Reads in random sizes from random positions give the bytes written.
TEST(CfbEdges, AnyCallSizeAndOrderReadsTheBytesWritten)
{
    const Bytes big = iotest::pattern(70000);
    const Bytes small = iotest::pattern(3000);
    const Bytes image = written_image({stream_node("big", big), stream_node("small", small),
                                       stream_node("other", iotest::pattern(2000))},
                                      777);
    for (SourceKind kind : kAllSources) {
        SCOPED_TRACE(source_name(kind));
        Opened file(image, kind);
        ASSERT_NE(file.root, nullptr);
        std::mt19937 rng(7);
        for (const auto &[name, data] : {std::pair<const char *, const Bytes *>{"big", &big}, {"small", &small}}) {
            QorFile s = qorOpenStream(file.root, name);
            ASSERT_NE(s, nullptr);
            Bytes buf(5000);
            for (int i = 0; i < 300; ++i) {
                const int32_t at = static_cast<int32_t>(rng() % data->size());
                if (rng() % 3) {
                    ASSERT_EQ(qorSeek(s, at, SEEK_SET), at);
                }
                const int32_t pos = qorSeek(s, 0, SEEK_CUR);
                const int32_t want = static_cast<int32_t>(rng() % (rng() % 2 ? 8 : 5000));
                const int32_t expect = std::min<int32_t>(want, static_cast<int32_t>(data->size()) - pos);
                ASSERT_EQ(qorRead(s, buf.data(), want), expect);
                ASSERT_TRUE(std::equal(buf.begin(), buf.begin() + expect, data->begin() + pos)) << pos << " " << want;
            }
            qorCloseStream(s);
        }
    }
}

TEST(CfbEdges, WritesThatSeekBackPatchTheStream)
{
    for (size_t size : {300u, 9000u}) {
        SCOPED_TRACE(size);
        iotest::TempDir dir;
        const std::string path = dir.file("p.cfb");
        Bytes expected = iotest::pattern(size);
        {
            QorFile out = qorOpen(path.c_str(), nullptr, QOR_CREATE | QOR_WRITE);
            QorFile root = qorCreateStorage(out, nullptr, "Root Entry");
            QorFile s = qorCreateStream(root, "patched");
            ASSERT_NE(s, nullptr);
            ASSERT_EQ(qorWrite(s, expected.data(), static_cast<int32_t>(size)), static_cast<int32_t>(size));
            // Patch a placed sector and the staged tail, then append.
            const uint8_t patch[4] = {1, 2, 3, 4};
            for (int32_t at : {10, static_cast<int32_t>(size) - 6}) {
                ASSERT_EQ(qorSeek(s, at, SEEK_SET), at);
                ASSERT_EQ(qorWrite(s, patch, 4), 4);
                std::copy(patch, patch + 4, expected.begin() + at);
            }
            EXPECT_EQ(qorSeek(s, 0, SEEK_END), static_cast<int32_t>(size));
            const Bytes tail = iotest::pattern(50);
            ASSERT_EQ(qorWrite(s, tail.data(), 50), 50);
            expected.insert(expected.end(), tail.begin(), tail.end());
            EXPECT_EQ(qorCloseStream(s), 0);
            EXPECT_EQ(qorCloseStorage(root), 0);
            EXPECT_EQ(qorClose(out), 0);
        }
        Source source(SourceKind::Path, iotest::read_file(path));
        bool ok = false;
        EXPECT_EQ(read_stream(source.file(), "patched", 4096, ok), expected);
        EXPECT_TRUE(ok);
    }
}

TEST(CfbEdges, WriterRefusesNamesItCannotKeepApart)
{
    iotest::TempDir dir;
    QorFile out = qorOpen(dir.file("n.cfb").c_str(), nullptr, QOR_CREATE | QOR_WRITE);
    ASSERT_NE(out, nullptr);
    EXPECT_EQ(qorCreateStorage(out, nullptr, "Root"), nullptr); // the root is "Root Entry"
    QorFile root = qorCreateStorage(out, nullptr, "Root Entry");
    ASSERT_NE(root, nullptr);
    EXPECT_EQ(qorCreateStorage(out, nullptr, "Root Entry"), nullptr); // one root a file
    const std::string longest(31, 'x');
    QorFile s = qorCreateStream(root, longest.c_str());
    ASSERT_NE(s, nullptr);
    qorCloseStream(s);
    EXPECT_EQ(qorCreateStream(root, std::string(32, 'y').c_str()), nullptr);
    EXPECT_EQ(qorCreateStream(root, ""), nullptr);
    EXPECT_EQ(qorCreateStream(root, nullptr), nullptr);
    QorFile sub = qorCreateStorage(out, root, "Data");
    ASSERT_NE(sub, nullptr);
    EXPECT_EQ(qorCreateStream(root, "DATA"), nullptr);  // same name, other case
    EXPECT_EQ(qorCreateStorage(out, root, "data"), nullptr);
    s = qorCreateStream(sub, "data");                   // another storage's child
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(qorCreateStream(s, "x"), nullptr);         // a stream has no children
    qorCloseStream(s);
    qorCloseStorage(sub);
    EXPECT_EQ(iotest::record(root).dirCountPtr[0], 4u);  // refusals left no entries
    EXPECT_EQ(qorCloseStorage(root), 0);
    EXPECT_EQ(qorClose(out), 0);
}

TEST(CfbEdges, WrittenIntoAMemoryBlockAndReadBack)
{
    iotest::MemoryBlock block(Bytes{}, 16);
    block.desc.growBy = 4096;
    QorFile out = qorOpen("", &block.desc, QOR_CREATE | QOR_WRITE);
    ASSERT_NE(out, nullptr);
    QorFile root = qorCreateStorage(out, nullptr, "Root Entry");
    ASSERT_TRUE(write_children(out, root, {stream_node("a", iotest::pattern(5000)), stream_node("b", iotest::pattern(9))}, 999));
    EXPECT_EQ(qorCloseStorage(root), 0);
    EXPECT_EQ(qorClose(out), 0);

    QorOpenDesc desc{};
    desc.blockPtr = &block.data;
    desc.blockSize = static_cast<int32_t>(block.size());
    QorFile in = qorOpen("", &desc, QOR_READ);
    ASSERT_NE(in, nullptr);
    qorSetDataFormat(in, 0, 0);
    bool ok = false;
    EXPECT_EQ(read_stream(in, "a", 100, ok), iotest::pattern(5000));
    EXPECT_TRUE(ok);
    EXPECT_EQ(read_stream(in, "b", 100, ok), iotest::pattern(9));
    qorClose(in);
}

} // namespace

namespace {

// A block that cannot grow: the writer's failures free what they made and
// the root's close reports them.
TEST(CfbEdges, WriterFailuresAreReportedAndFreeWhatTheyMade)
{
    {
        iotest::MemoryBlock block(Bytes{}, 16);
        QorFile out = qorOpen("", &block.desc, QOR_CREATE | QOR_WRITE);
        ASSERT_NE(out, nullptr);
        EXPECT_EQ(qorCreateStorage(out, nullptr, "Root Entry"), nullptr); // no room for the header
        EXPECT_EQ(iotest::record(out).dirHolder, nullptr);
        qorClose(out);
    }
    iotest::MemoryBlock block(Bytes{}, 2048);
    QorFile out = qorOpen("", &block.desc, QOR_CREATE | QOR_WRITE);
    ASSERT_NE(out, nullptr);
    QorFile root = qorCreateStorage(out, nullptr, "Root Entry");
    ASSERT_NE(root, nullptr);
    QorFile s = qorCreateStream(root, "big");
    ASSERT_NE(s, nullptr);
    const Bytes data = iotest::pattern(5000);
    EXPECT_EQ(qorWrite(s, data.data(), 5000), 0); // the full staging buffer could not be placed
    // docClose of a stream being written answers 1 even when its data could
    // not all be placed; the root's close reports the failure. (The outer
    // record and its context block are freed by hand: docClose is called
    // here without the callback.)
    HGLOBAL context = iotest::record(s).hostHandle;
    EXPECT_EQ(docClose(*static_cast<QorFile *>(GlobalLock(context))), 1);
    GlobalFree(context);
    GlobalFree(s);
    EXPECT_EQ(qorCloseStorage(root), -1);
    EXPECT_EQ(iotest::record(out).dirHolder, nullptr);
    qorClose(out);
}

} // namespace

namespace {

// File offset of directory entry n of a small written file (one FAT sector).
size_t entry_offset(const Bytes &image, uint32_t n)
{
    const uint32_t fat_sector = get32(image, 76);
    uint32_t sector = get32(image, 48);
    for (uint32_t i = 0; i < n / 4; ++i)
        sector = get32(image, (size_t{fat_sector} + 1) * 512 + 4 * size_t{sector});
    return (size_t{sector} + 1) * 512 + 128 * (n % 4);
}

TEST(CfbEdges, SiblingTreeFollowsTheInsertionRule)
{
    // Entries 1..5: equal lengths compare bytes (case-sensitive), longer
    // names go right; nothing is rebalanced.
    const Bytes image = written_image({stream_node("b", {}), stream_node("a", {}), stream_node("c", {}),
                                       stream_node("bb", {}), storage_node("D", {})});
    struct Link {
        uint32_t entry;
        size_t field;
        uint32_t expected;
    };
    for (const Link &l : {Link{0, 76, 1}, Link{1, 68, 2}, Link{1, 72, 3}, Link{2, 68, 5}, Link{2, 72, Image::kFree},
                          Link{3, 72, 4}, Link{3, 68, Image::kFree}, Link{4, 68, Image::kFree}}) {
        EXPECT_EQ(get32(image, entry_offset(image, l.entry) + l.field), l.expected) << l.entry << "@" << l.field;
    }
    EXPECT_EQ(image[entry_offset(image, 5) + 66], 1);   // storage
    EXPECT_EQ(image[entry_offset(image, 5) + 67], 1);   // black
    EXPECT_EQ(image[entry_offset(image, 4) + 67], 0);   // streams are red
    EXPECT_EQ(image[entry_offset(image, 5) + 126], 0x92);
    EXPECT_EQ(image[entry_offset(image, 4) + 126], 0);
}

// A sibling link that joins the tree again: "s044" (entry 256) is first met
// at depth 256, where the depth limit ends its branch, and then again as the
// right sibling of "s299" (entry 1, depth 1). The second meeting searches
// its subtree from depth 2, so names under it are found, as a plain
// depth-first walk finds them.
TEST(CfbEdges, LookUpSearchesAgainWhereAJoinIsShallower)
{
    Bytes image = written_image(falling_chain_tree());
    ASSERT_EQ(image[entry_offset(image, 256) + 2], '0');
    ASSERT_EQ(image[entry_offset(image, 256) + 4], '4');
    put32(image, entry_offset(image, 1) + 72, 256);
    Opened file(image);
    ASSERT_NE(file.root, nullptr);
    for (const auto &[name, found] : {std::pair<const char *, bool>{"s043", true}, {"s000", true},
                                      {"s045", true}, {"absent", false}}) {
        QorFile s = qorOpenStream(file.root, name);
        EXPECT_EQ(s != nullptr, found) << name;
        if (s)
            qorCloseStream(s);
    }
}

// A Compound File kept as a stream of another one opens through the stream
// handle (a callback record over the compound-stream callback).
TEST(CfbEdges, CompoundFileInsideAStream)
{
    const Bytes inner_file = written_image({stream_node("deep", iotest::pattern(6000))});
    Opened outer(written_image({stream_node("embedded", inner_file)}), SourceKind::Path);
    ASSERT_NE(outer.root, nullptr);
    QorFile stream = qorOpenStream(outer.root, "embedded");
    ASSERT_NE(stream, nullptr);
    bool ok = false;
    EXPECT_EQ(read_stream(stream, "deep", 999, ok), iotest::pattern(6000));
    EXPECT_TRUE(ok);
    qorCloseStream(stream);
}

} // namespace
