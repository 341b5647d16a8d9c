// Compound Files against Python's olefile: corpus files, and our writer's files read back through both.
#include "io_support.h"

using namespace iotest;

namespace {

TEST(CfbInterop, CorpusStreamsReadAsOlefileReadsThem)
{
    KX_REQUIRE_CORPUS();
    KX_REQUIRE_OLEFILE();
    for (const char *name : {"rose_rgb.fpx", "rose_grey.fpx", "rose_bw.fpx", "bw_one_band.fpx", "bw_fill.fpx",
                             "bw_five_bands.fpx", "not_flashpix.doc", "not_flashpix.mic"}) {
        SCOPED_TRACE(name);
        const OleView view = olefile_view(kxtest::corpus_file(name));
        ASSERT_TRUE(view.ok && !view.entries.empty());
        const Bytes image = read_file(kxtest::corpus_file(name));
        const int32_t chunks[] = {4096, 7, 1}; // one per source, crossing sectors differently
        for (SourceKind kind : kAllSources) {
            Source source(kind, image);
            for (const auto &[entry, data] : view.entries)
                if (data) {
                    EXPECT_EQ(read_stream(source.file, entry, chunks[static_cast<int>(kind)]).whole(), data) << entry;
                }
        }
    }
}

using Entries = std::map<std::string, std::optional<Bytes>>;
void flatten(const std::vector<Node> &nodes, const std::string &prefix, Entries &out)
{
    for (const Node &node : nodes) {
        const std::string path = prefix.empty() ? node.name : prefix + "/" + node.name;
        out[path] = node.storage ? std::nullopt : std::optional<Bytes>(node.data);
        flatten(node.children, path, out);
    }
}

// Writes the tree; olefile and our reader see the same entries. The image.
Bytes expect_round_trip(const std::vector<Node> &tree, size_t chunk)
{
    TempDir dir;
    EXPECT_TRUE(write_tree(dir.file("written.cfb"), tree, chunk));
    Entries expected;
    flatten(tree, "", expected);
    const OleView view = olefile_view(dir.file("written.cfb"));
    EXPECT_TRUE(view.ok);
    EXPECT_EQ(view.rootName, "Root Entry");
    EXPECT_TRUE(view.entries == expected);
    Source source(SourceKind::Path, read_file(dir.file("written.cfb")));
    for (const auto &[name, data] : expected)
        if (data) {
            EXPECT_EQ(read_stream(source.file, name, 1000).whole(), data) << name;
        }
    return read_file(dir.file("written.cfb"));
}

TEST(CfbInterop, WrittenTreesReadBackThroughOlefile)
{
    KX_REQUIRE_OLEFILE();
    std::vector<Node> forty;
    for (int i = 0; i < 39; ++i) // several directory sectors, names inserted out of order
        forty.push_back(stream_node("Stream " + std::to_string(10 + (i * 17) % 39), pattern(size_t(i) * 211)));
    const std::vector<Node> nested = {
        storage_node("Outer", {stream_node("x", pattern(10)), stream_node("Empty stream", {}),
                               storage_node("Inner", {stream_node("y", pattern(5000)), storage_node("Empty", {})})}),
        stream_node("\005Global Info", pattern(300))};
    const std::vector<Node> cutoff = {stream_node("Below", pattern(4095)), stream_node("At", pattern(4096)),
                                      stream_node("Above", pattern(4097))};
    const struct { std::vector<Node> tree; size_t chunk; } cases[] = {
        {{}, 4096}, {cutoff, 333}, {nested, 4096}, {forty, 100}};
    for (const auto &c : cases)
        expect_round_trip(c.tree, c.chunk);
}

// Past 109 FAT sectors they are listed in DIFAT sectors (one at about 7 MB, two at 20 MB).
TEST(CfbInterop, StreamsLargeEnoughForDifatSectors)
{
    KX_REQUIRE_OLEFILE();
    for (size_t size : {size_t{110} * 128 * 512 - 40000, size_t{20} * 1024 * 1024 + 12345}) {
        SCOPED_TRACE(size);
        const std::vector<Node> tree = {stream_node("Big", pattern(size)), stream_node("small", pattern(70))};
        const Bytes image = expect_round_trip(tree, 65536);
        EXPECT_GT(get32(image, 44), 109u);
        EXPECT_EQ(get32(image, 72), size > 10000000 ? 2u : 1u);
    }
}

} // namespace
