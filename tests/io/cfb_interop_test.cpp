// Compound Files against an independent implementation, Python's olefile:
// every stream of every file in the shared corpus reads through our reader,
// over each kind of source, byte for byte as olefile reads it; files our
// writer makes read back through olefile (and through our reader) with the
// same names, tree and bytes.
#include "cfb_support.h"

#include "support.h"

using namespace cfbtest;

namespace {

const char *const kCorpusFiles[] = {"rose_rgb.fpx",     "rose_grey.fpx",     "rose_bw.fpx",
                                    "bw_one_band.fpx",  "bw_fill.fpx",       "bw_five_bands.fpx",
                                    "not_flashpix.doc", "not_flashpix.mic"};

// Call sizes that cross sector and mini-sector boundaries differently.
int32_t chunk_for(SourceKind kind)
{
    switch (kind) {
    case SourceKind::Path: return 4096;
    case SourceKind::Memory: return 7;
    case SourceKind::Callback: return 512;
    default: return 1;
    }
}

TEST(CfbCorpus, EveryStreamReadsAsOlefileReadsItOverEverySource)
{
    KX_REQUIRE_CORPUS();
    KX_REQUIRE_OLEFILE();
    for (const char *name : kCorpusFiles) {
        SCOPED_TRACE(name);
        const std::string path = kxtest::corpus_file(name);
        const OleView view = olefile_view(path);
        ASSERT_TRUE(view.ok) << view.error;
        ASSERT_FALSE(view.streams.empty());
        const Bytes image = iotest::read_file(path);
        for (SourceKind kind : kAllSources) {
            SCOPED_TRACE(source_name(kind));
            Source source(kind, image);
            ASSERT_NE(source.file(), nullptr);
            for (const auto &[stream, data] : view.streams) {
                bool ok = false;
                EXPECT_EQ(read_stream(source.file(), stream, chunk_for(kind), ok), data) << stream;
                EXPECT_TRUE(ok) << stream;
            }
        }
    }
}

// Writes the tree, then compares olefile's view and our reader's with it.
void expect_round_trip(const std::vector<Node> &tree, size_t chunk = 4096)
{
    iotest::TempDir dir;
    const std::string path = dir.file("written.cfb");
    ASSERT_TRUE(write_tree(path, tree, chunk));
    std::map<std::string, const Node *> expected;
    flatten(tree, "", expected);

    const OleView view = olefile_view(path);
    ASSERT_TRUE(view.ok) << view.error;
    EXPECT_EQ(view.rootName, "Root Entry");
    ASSERT_EQ(view.storages.size(), expected.size());
    for (const auto &[name, node] : expected) {
        ASSERT_TRUE(view.storages.count(name)) << name;
        EXPECT_EQ(view.storages.at(name), node->storage) << name;
        if (!node->storage) {
            EXPECT_EQ(view.streams.at(name), node->data) << name;
        }
    }

    Source source(SourceKind::Path, iotest::read_file(path));
    ASSERT_NE(source.file(), nullptr);
    for (const auto &[name, node] : expected) {
        if (node->storage)
            continue;
        bool ok = false;
        EXPECT_EQ(read_stream(source.file(), name, 1000, ok), node->data) << name;
        EXPECT_TRUE(ok) << name;
    }
}

TEST(CfbWriterInterop, EmptyRoot) { KX_REQUIRE_OLEFILE(); expect_round_trip({}); }

TEST(CfbWriterInterop, OneSmallStream)
{
    KX_REQUIRE_OLEFILE();
    expect_round_trip({stream_node("Small", iotest::pattern(100))});
}

TEST(CfbWriterInterop, StreamsAroundTheMiniStreamCutoff)
{
    KX_REQUIRE_OLEFILE();
    expect_round_trip({stream_node("Below", iotest::pattern(4095)), stream_node("At", iotest::pattern(4096)),
                       stream_node("Above", iotest::pattern(4097))},
                      333);
}

TEST(CfbWriterInterop, NestedStorages)
{
    KX_REQUIRE_OLEFILE();
    expect_round_trip({storage_node("Outer", {stream_node("x", iotest::pattern(10)),
                                              storage_node("Inner", {stream_node("y", iotest::pattern(5000)),
                                                                     storage_node("Empty", {})}),
                                              stream_node("Empty stream", {})}),
                       stream_node("\005Global Info", iotest::pattern(300))});
}

TEST(CfbWriterInterop, FortyEntries)
{
    KX_REQUIRE_OLEFILE();
    std::vector<Node> tree;
    for (int i = 0; i < 39; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "Stream %02d", (i * 17) % 39);
        tree.push_back(stream_node(name, iotest::pattern(static_cast<size_t>(i) * 211)));
    }
    expect_round_trip(tree, 100);
}

TEST(CfbWriterInterop, StreamLargeEnoughForDifatSectors)
{
    KX_REQUIRE_OLEFILE();
    const size_t size = 20u * 1024 * 1024 + 12345;
    expect_round_trip({stream_node("Big", iotest::pattern(size)), stream_node("small", iotest::pattern(70))}, 65536);

    // Past 109 FAT sectors the file lists its FAT sectors in DIFAT sectors.
    iotest::TempDir dir;
    ASSERT_TRUE(write_tree(dir.file("big.cfb"), {stream_node("Big", iotest::pattern(size))}, 65536));
    const Bytes image = iotest::read_file(dir.file("big.cfb"));
    ASSERT_GT(image.size(), 512u);
    EXPECT_GT(get32(image, 44), 109u);
    EXPECT_GT(get32(image, 72), 0u);
    EXPECT_NE(get32(image, 68), Image::kEnd);
}

} // namespace
