// Compound File reader and writer at their edges.
#include "io_support.h"

#include <random>

using namespace iotest;

namespace {

struct Opened {
    explicit Opened(const Bytes &image, SourceKind kind = SourceKind::Memory) : source(kind, image) {}
    ~Opened() { qorCloseStorage(root); }
    bool has(const char *name) const { return qorCloseStream(qorOpenStream(root, name)) == 0; }
    Source source;
    QorFile root = qorOpenStorage_ex(source.file, "Root Entry", 0);
};

TEST(CfbEdges, SeeksAreClampedToTheStream)
{
    // SEEK_END counts backwards from the end; results are clamped (mini and regular streams seek alike).
    Opened file(written_image({stream_node("s", pattern(5000))}));
    QorFile s = qorOpenStream(file.root, "s");
    const struct { int32_t offset, whence, expected; } seeks[] = {
        {10, SEEK_END, 4990}, {-10, SEEK_END, 5000}, {5050, SEEK_SET, 5000}, {-5, SEEK_SET, 0},
        {7, SEEK_CUR, 7},     {-100, SEEK_CUR, 0},   {3, 9, -1},             {0, SEEK_CUR, 0}};
    for (const auto &k : seeks)
        EXPECT_EQ(qorSeek(s, k.offset, k.whence), k.expected) << k.offset << " " << k.whence;
    qorCloseStream(s);
}

TEST(CfbEdges, LookUpRules)
{
    Opened file(written_image({stream_node("Small", pattern(10)), storage_node("Sub", {})}));
    EXPECT_EQ(qorCloseStorage(qorOpenStorage(file.source.file, "Anything")), 0); // the root's name is not compared
    EXPECT_TRUE(file.has("sMALL") && !file.has("Absent")); // case is ignored
    EXPECT_EQ(qorOpenStorage(file.root, "Absent"), nullptr);
    EXPECT_EQ(qorOpenStream(file.source.file, "Small"), nullptr); // not a storage
    QorFile s = qorOpenStream(file.root, "Small"), sub = qorOpenStorage(file.root, "SUB");
    ASSERT_TRUE(s && sub);
    EXPECT_EQ(qorOpenStream(s, "Small"), nullptr);   // a stream handle
    EXPECT_EQ(qorOpenStream(sub, "Small"), nullptr); // only the storage's own children
    EXPECT_TRUE(qorCloseStream(s) == 0 && qorCloseStorage(sub) == 0);
    // The root's FAT sector count (1) at or above the caller's limit refuses the file.
    Source source(SourceKind::Memory, written_image({}));
    EXPECT_EQ(qorCloseStorage(qorOpenStorage_ex(source.file, "Root Entry", 2)), 0);
    EXPECT_EQ(qorOpenStorage_ex(source.file, "Root Entry", 1), nullptr);
}

// File offset of directory entry n of a small written file (one FAT sector).
size_t entry_offset(const Bytes &image, uint32_t n)
{
    uint32_t sector = get32(image, 48);
    for (uint32_t i = 0; i < n / 4; ++i)
        sector = get32(image, sector_at(get32(image, 76)) + 4 * size_t{sector});
    return sector_at(sector) + 128 * (n % 4);
}

// 300 names in falling order hang as one left chain, "sNNN" at depth 300 - NNN; the look-up stops at
// depth 256. A sibling link rejoining the chain higher up is searched from there.
TEST(CfbEdges, LookUpDepthLimit)
{
    std::vector<Node> tree;
    for (int i = 299; i >= 0; --i)
        tree.push_back(stream_node("s" + std::to_string(1000 + i).substr(1), {}));
    Bytes image = written_image(tree);
    using Found = std::pair<const char *, bool>;
    {
        Opened file(image);
        for (const auto &[name, found] : {Found{"s299", true}, {"s044", true}, {"s043", false}})
            EXPECT_EQ(file.has(name), found) << name;
    }
    ASSERT_EQ(image[entry_offset(image, 256) + 4], '4'); // entry 256 is "s044"
    put(image, entry_offset(image, 1) + 72, 256);     // right sibling of "s299", at depth 1
    Opened file(image);
    for (const auto &[name, found] : {Found{"s043", true}, {"s000", true}, {"absent", false}})
        EXPECT_EQ(file.has(name), found) << name;
}

// Siblings as inserted: shorter names first, equal lengths by bytes; nothing is rebalanced.
TEST(CfbEdges, SiblingTreeOrder)
{
    const Bytes image = written_image({stream_node("b", {}), stream_node("a", {}), stream_node("c", {}),
                                       stream_node("bb", {}), storage_node("D", {})});
    const struct { uint32_t entry; size_t field; uint32_t expected; } links[] = { // fields: 68 left, 72 right, 76 child
        {0, 76, 1}, {1, 68, 2}, {1, 72, 3}, {2, 68, 5}, {2, 72, kFree}, {3, 72, 4}, {3, 68, kFree}, {4, 68, kFree}};
    for (const auto &l : links)
        EXPECT_EQ(get32(image, entry_offset(image, l.entry) + l.field), l.expected) << l.entry << "@" << l.field;
}

TEST(CfbEdges, ChainsThroughGetSectAndGetEndSect)
{
    auto *table = static_cast<uint32_t *>(qorPtrGlobalAlloc(8 * 4));
    const uint32_t chain[8] = {1, 2, 0xFFFFFFFE, 5, 5, 4, 0xFFFFFFFF, 700}; // 3 -> 5 <-> 4 loops
    std::memcpy(table, chain, sizeof chain);
    const struct { uint32_t start, offset, size, expected; } cases[] = {
        {0, 0, 512, 0},    {0, 511, 512, 0}, {0, 512, 512, 1},           {0, 1024, 512, 2},
        {0, 5000, 512, 0xFFFFFFFE},          {9, 5000, 512, 9},          {7, 512, 512, 700},
        {3, 64, 64, 5},    {4, 0xFFFFFFFFu, 1, 5},                       {3, 0xFFFFFFFEu, 1, 4}};
    for (const auto &c : cases)
        EXPECT_EQ(qorGetSect(c.start, c.offset, c.size, table, 8), c.expected) << c.start << " " << c.offset;
    EXPECT_EQ(qorGetSect(0, 1024, 512, table, 2), 2u); // a link at the limit stops the walk
    EXPECT_EQ(qorGetEndSect(0, table), 2u);
    EXPECT_EQ(qorGetEndSect(7, table), 7u); // 700 lies outside the table
    EXPECT_EQ(qorGetEndSect(6, table), 6u); // a free entry ends the walk
    const uint32_t loop_end = qorGetEndSect(3, table);
    EXPECT_TRUE(loop_end == 4u || loop_end == 5u) << loop_end; // a loop ends, on 4 or 5
    qorPtrGlobalFree(table);
}

TEST(CfbEdges, AnyCallSizeAndOrderReadsTheBytesWritten)
{
    const Bytes big = pattern(70000), small = pattern(3000);
    const Bytes image = written_image({stream_node("big", big), stream_node("small", small),
                                       stream_node("other", pattern(2000))}, 777);
    for (SourceKind kind : kAllSources) {
        Opened file(image, kind);
        std::mt19937 rng(7);
        for (const auto &[name, data] : {std::pair<const char *, const Bytes *>{"big", &big}, {"small", &small}}) {
            QorFile s = qorOpenStream(file.root, name);
            Bytes buf(5000);
            for (int i = 0; i < 300; ++i) {
                const int32_t at = static_cast<int32_t>(rng() % data->size());
                ASSERT_TRUE(rng() % 3 == 0 || qorSeek(s, at, SEEK_SET) == at);
                const int32_t pos = qorSeek(s, 0, SEEK_CUR);
                const int32_t want = static_cast<int32_t>(rng() % (rng() % 2 ? 8 : 5000));
                const int32_t expect = std::min<int32_t>(want, static_cast<int32_t>(data->size()) - pos);
                ASSERT_EQ(qorRead(s, buf.data(), want), expect);
                ASSERT_TRUE(std::equal(buf.begin(), buf.begin() + expect, data->begin() + pos))
                    << pos << " " << int(kind);
            }
            qorCloseStream(s);
        }
    }
}

// Patches of a placed sector and of the staged tail, then an append.
TEST(CfbEdges, WritesThatSeekBackPatchTheStream)
{
    for (int32_t size : {300, 9000}) {
        SCOPED_TRACE(size);
        TempDir dir;
        const std::string path = dir.file("p.cfb");
        Bytes expected = pattern(size_t(size));
        const uint8_t patch[4] = {1, 2, 3, 4};
        QorFile out = qorOpen(path.c_str(), nullptr, QOR_CREATE | QOR_WRITE);
        QorFile root = qorCreateStorage(out, nullptr, "Root Entry");
        QorFile s = qorCreateStream(root, "patched");
        ASSERT_EQ(qorWrite(s, expected.data(), size), size);
        expected.resize(size_t(size) + 4);
        for (const auto &[offset, whence, at] : {std::tuple<int32_t, int, int32_t>{10, SEEK_SET, 10},
                                                 {size - 6, SEEK_SET, size - 6}, {0, SEEK_END, size}}) {
            ASSERT_EQ(qorSeek(s, offset, whence), at);
            ASSERT_EQ(qorWrite(s, patch, 4), 4);
            std::copy(patch, patch + 4, expected.begin() + at);
        }
        EXPECT_TRUE(qorCloseStream(s) == 0 && qorCloseStorage(root) == 0 && qorClose(out) == 0);
        EXPECT_EQ(read_stream(Source(SourceKind::Path, read_file(path)).file, "patched", 4096).whole(), expected);
    }
}

TEST(CfbEdges, WriterRefusesNamesItCannotKeepApart)
{
    TempDir dir;
    QorFile out = qorOpen(dir.file("n.cfb").c_str(), nullptr, QOR_CREATE | QOR_WRITE);
    EXPECT_EQ(qorCreateStorage(out, nullptr, "Root"), nullptr); // the root is "Root Entry"
    QorFile root = qorCreateStorage(out, nullptr, "Root Entry");
    ASSERT_NE(root, nullptr);
    EXPECT_EQ(qorCreateStorage(out, nullptr, "Root Entry"), nullptr); // one root a file
    EXPECT_EQ(qorCloseStream(qorCreateStream(root, std::string(31, 'x').c_str())), 0);
    for (const char *name : {"yyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyy", "", static_cast<const char *>(nullptr)})
        EXPECT_EQ(qorCreateStream(root, name), nullptr) << (name ? name : "null"); // 32 characters, empty, none
    QorFile sub = qorCreateStorage(out, root, "Data");
    EXPECT_EQ(qorCreateStream(root, "DATA"), nullptr); // same name, other case
    EXPECT_EQ(qorCreateStorage(out, root, "data"), nullptr);
    QorFile s = qorCreateStream(sub, "data"); // another storage's child
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(qorCreateStream(s, "x"), nullptr); // a stream has no children
    qorCloseStream(s);
    qorCloseStorage(sub);
    EXPECT_EQ(record(root).dirCountPtr[0], 4u); // refusals left no entries
    EXPECT_EQ(qorCloseStorage(root), 0);
    EXPECT_EQ(qorClose(out), 0);
}

// A block that cannot grow: failures free what they made and the root's close reports them.
TEST(CfbEdges, WriterFailuresAreReportedAndFreeWhatTheyMade)
{
    {
        MemoryBlock block(Bytes{}, 16);
        QorFile out = qorOpen("", &block.desc, QOR_CREATE | QOR_WRITE);
        EXPECT_EQ(qorCreateStorage(out, nullptr, "Root Entry"), nullptr); // no room for the header
        EXPECT_EQ(record(out).dirHolder, nullptr);
        qorClose(out);
    }
    MemoryBlock block(Bytes{}, 2048);
    QorFile out = qorOpen("", &block.desc, QOR_CREATE | QOR_WRITE);
    QorFile root = qorCreateStorage(out, nullptr, "Root Entry");
    QorFile s = qorCreateStream(root, "big");
    ASSERT_NE(s, nullptr);
    const Bytes data = pattern(5000);
    EXPECT_EQ(qorWrite(s, data.data(), 5000), 0); // the full staging buffer could not be placed
    // docClose answers 1 even so; the record and its context are freed by hand, as the callback would.
    HGLOBAL context = record(s).hostHandle;
    EXPECT_EQ(docClose(*static_cast<QorFile *>(GlobalLock(context))), 1);
    GlobalFree(context);
    GlobalFree(s);
    EXPECT_EQ(qorCloseStorage(root), -1);
    EXPECT_EQ(record(out).dirHolder, nullptr);
    qorClose(out);
}

TEST(CfbEdges, CompoundFileInsideAStream)
{
    const Bytes inner = written_image({stream_node("deep", pattern(6000))});
    Opened outer(written_image({stream_node("embedded", inner)}), SourceKind::Path);
    QorFile stream = qorOpenStream(outer.root, "embedded");
    EXPECT_EQ(read_stream(stream, "deep", 999).whole(), pattern(6000));
    qorCloseStream(stream);
}

} // namespace
