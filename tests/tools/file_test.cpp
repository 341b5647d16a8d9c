// fpxwrite's files read back by Python's olefile (skipped without it) and compared with the corpus.
// The Compound File layer itself is checked against olefile in tests/io.
#include "fpxwrite_fixture.h"

#include <algorithm>
#include <map>
#include <set>
#include <sstream>

using namespace fpxtest;

namespace {

struct Listing { // by path: hex bytes, (id, type) of each property, nine values, "offset length type subtype"
    std::map<std::string, std::string> streams, subimages;
    std::set<std::string> storages;
    std::map<std::string, std::vector<std::pair<uint32_t, uint32_t>>> props;
    std::map<std::string, std::set<uint32_t>> olefile_props;
    std::map<std::string, std::vector<std::string>> tiles;
    bool ok = false;
};

std::vector<std::string> split(const std::string &line, char sep)
{
    std::vector<std::string> parts;
    std::stringstream ss(line);
    for (std::string part; std::getline(ss, part, sep);)
        parts.push_back(part);
    return parts;
}

#define REQUIRE_OLEFILE()                                                                                  \
    if (std::system("/usr/bin/python3 -c 'import olefile' 2>/dev/null") != 0)                             \
    GTEST_SKIP() << "/usr/bin/python3 with olefile is not available"

Listing olefile_listing(const std::string &path)
{
    Listing l;
    kxtest::TempDir dir;
    const std::string dump = "/usr/bin/python3 " + kxtest::source_dir() + "/tests/oracles/fpx_dump.py '" + path + "'";
    l.ok = std::system((dump + " >" + dir.file("dump")).c_str()) == 0;
    auto hex = [](const std::string &s) { return uint32_t(std::stoul(s, nullptr, 16)); };
    for (const std::string &line : split(kxtest::read_file(dir.file("dump")), '\n')) {
        const std::vector<std::string> f = split(line, '\t');
        if (f.size() >= 3 && f[0] == "stream")
            l.streams[f[1]] = f.size() >= 4 ? f[3] : "";
        else if (f.size() == 2 && f[0] == "storage")
            l.storages.insert(f[1]);
        else if (f.size() == 4 && f[0] == "prop")
            l.props[f[1]].emplace_back(hex(f[2]), hex(f[3]));
        else if (f.size() == 3 && f[0] == "olefileprop")
            l.olefile_props[f[1]].insert(hex(f[2]));
        else if (f.size() == 3 && f[0] == "subimage")
            l.subimages[f[1]] = f[2];
        else if (f.size() == 7 && f[0] == "tile")
            l.tiles[f[1]].push_back(f[3] + " " + f[4] + " " + f[5] + " " + f[6]);
    }
    return l;
}

std::set<std::string> stream_names(const Listing &l)
{
    std::set<std::string> names;
    for (const auto &s : l.streams)
        names.insert(s.first);
    return names;
}

} // namespace

// olefile's own parser reads every property of every set (float vectors it skips); the transform options add the one
// set a default file lacks. Entries and bytes: tests/io checks the writer against olefile, the sample test reads back.
TEST(FpxFile, OlefileReadsEveryProperty)
{
    REQUIRE_OLEFILE();
    WriteOptions o;
    o.transform.aspect_ratio = 1.5f;
    o.transform.region = std::array<float, 4>{0.1f, 0.1f, 1.2f, 0.9f};
    o.transform.filtering = 3.0f;
    o.transform.affine = std::array<float, 16>{0.5f, 0, 0, 0, 0, 0.5f, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};
    o.transform.colour_twist = std::array<float, 16>{1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};
    o.transform.contrast = 0.8f;
    o.title = "transform test";
    const Document doc = build(o, make_synthetic(300, 200));
    kxtest::TempDir dir;
    ASSERT_EQ(write_document(doc, dir.file("out.fpx")), "");
    const Listing l = olefile_listing(dir.file("out.fpx"));
    ASSERT_TRUE(l.ok);
    EXPECT_EQ(l.props.size(), size_t(std::count_if(doc.entries.begin(), doc.entries.end(),
                                                   [](const auto &e) { return !e.storage && e.name[0] == '\005'; })));
    for (const auto &[path, pairs] : l.props)
        for (const auto &[id, type] : pairs)
            EXPECT_TRUE(type == (kVtVector | kVtR4) ||
                        (l.olefile_props.count(path) && l.olefile_props.at(path).count(id)))
                << path << " property " << std::hex << id;
}

// The corpus picture written as the corpus file holds it, field by field (pixels of the full resolution only).
TEST(FpxFile, LayoutMatchesTheCorpus)
{
    KX_REQUIRE_CORPUS();
    REQUIRE_OLEFILE();
    const struct { const char *name; ColourSpace colour; std::vector<int> flat_tiles, flat_colour; } cases[] = {
        {"rose_rgb", ColourSpace::rgb, {}, {}},
        {"rose_grey", ColourSpace::monochrome, {}, {}},
        {"bw_fill", ColourSpace::monochrome, {0}, {255}}};
    const std::string store = "Data Object Store 000001/", contents = store + "\\x05Image Contents";
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        WriteOptions o;
        o.colour = c.colour;
        o.compression = Compression::raw;
        o.flat_tiles = FlatTiles::never;
        o.flat_tile_list = c.flat_tiles;
        o.flat_colour = c.flat_colour;
        Image img;
        ASSERT_EQ(load_image(kxtest::corpus_file(std::string(c.name) + ".expected.png"), img), "");
        kxtest::TempDir dir;
        ASSERT_EQ(write_document(build(o, img), dir.file("out.fpx")), "");
        const Listing ours = olefile_listing(dir.file("out.fpx"));
        const Listing real = olefile_listing(kxtest::corpus_file(std::string(c.name) + ".fpx"));
        ASSERT_TRUE(ours.ok);
        ASSERT_TRUE(real.ok);
        EXPECT_EQ(ours.storages, real.storages);
        EXPECT_EQ(stream_names(ours), stream_names(real));
        // Image Contents and Global Info byte for byte, the data object's property ids and types in order.
        for (const std::string &set : {std::string("\\x05Global Info"), contents})
            EXPECT_EQ(ours.streams.at(set), real.streams.at(set)) << set;
        EXPECT_EQ(ours.props.at("\\x05Data Object 000001"), real.props.at("\\x05Data Object 000001"));
        EXPECT_EQ(ours.subimages, real.subimages);
        EXPECT_EQ(ours.tiles, real.tiles);
        for (const std::string &res : {store + "Resolution 0000/", store + "Resolution 0001/"}) {
            const std::string header = res + "Subimage 0000 Header", data = res + "Subimage 0000 Data";
            EXPECT_EQ(ours.streams.at(header).substr(0, 112), real.streams.at(header).substr(0, 112));
            EXPECT_EQ(ours.streams.at(data).substr(0, 56), real.streams.at(data).substr(0, 56));
            EXPECT_EQ(ours.streams.at(data).size(), real.streams.at(data).size());
        }
        // Full-resolution raw tiles byte for byte (the corpus's gaps between tiles hold leftovers).
        const std::string data = store + "Resolution 0001/Subimage 0000 Data";
        for (const std::string &tile : real.tiles.at(store + "Resolution 0001/Subimage 0000 Header")) {
            const std::vector<std::string> f = split(tile, ' ');
            if (f[2] != "0")
                continue; // a single-colour tile keeps the pixels it was made from
            const size_t at = (std::stoul(f[0]) + 28) * 2, len = std::stoul(f[1]) * 2;
            EXPECT_EQ(ours.streams.at(data).substr(at, len), real.streams.at(data).substr(at, len)) << tile;
        }
    }
}
