// fpxwrite's files read back by Python's olefile (skipped without it) and compared with the corpus.
#include "fpxwrite_fixture.h"

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
    const std::string cmd = "/usr/bin/python3 " + kxtest::source_dir() + "/tests/oracles/fpx_dump.py '" + path + "'";
    FILE *pipe = popen(cmd.c_str(), "r");
    if (!pipe)
        return l;
    std::string text;
    char buf[65536];
    for (size_t n; (n = std::fread(buf, 1, sizeof buf, pipe)) > 0;)
        text.append(buf, n);
    l.ok = pclose(pipe) == 0;
    auto hex = [](const std::string &s) { return uint32_t(std::stoul(s, nullptr, 16)); };
    for (const std::string &line : split(text, '\n')) {
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

std::string hex(const std::vector<uint8_t> &bytes)
{
    std::string out;
    char two[3];
    for (uint8_t b : bytes)
        std::snprintf(two, sizeof two, "%02x", b), out += two;
    return out;
}

std::string escaped_path(const Document &doc, size_t i)
{
    std::string out;
    char esc[8];
    for (char c : doc_path(doc, i))
        out += static_cast<unsigned char>(c) < 0x20 ? (std::snprintf(esc, sizeof esc, "\\x%02x", unsigned(c)), esc)
                                                    : std::string(1, c);
    return out;
}

// olefile sees exactly our entries and bytes, and parses every property set (float vectors it skips).
void expect_listing_matches(const Document &doc, const Listing &l)
{
    ASSERT_TRUE(l.ok);
    std::set<std::string> streams, storages;
    for (size_t i = 1; i < doc.entries.size(); ++i) {
        const std::string path = escaped_path(doc, i);
        if (doc.entries[i].storage) {
            storages.insert(path);
            continue;
        }
        streams.insert(path);
        ASSERT_EQ(l.streams.count(path), 1u) << path;
        EXPECT_EQ(l.streams.at(path), hex(doc.entries[i].data)) << path;
        if (doc.entries[i].name[0] != '\005')
            continue;
        PropSet set;
        ASSERT_TRUE(parse_propset(doc.entries[i].data, set)) << path;
        std::vector<std::pair<uint32_t, uint32_t>> ours;
        for (const Prop &p : set.props) {
            ours.emplace_back(p.id, p.type);
            EXPECT_TRUE(p.type == (kVtVector | kVtR4) ||
                        (l.olefile_props.count(path) && l.olefile_props.at(path).count(p.id)))
                << path << " property " << std::hex << p.id;
        }
        EXPECT_EQ(l.props.count(path) ? l.props.at(path) : decltype(ours){}, ours) << path;
    }
    EXPECT_EQ(l.storages, storages);
    EXPECT_EQ(stream_names(l), streams);
}

} // namespace

TEST(FpxFile, OlefileListsEveryStreamAndProperty)
{
    REQUIRE_OLEFILE();
    using Set = void (*)(WriteOptions &);
    const struct { const char *tag; Set set; int w, h; } cases[] = {
        {"default", [](WriteOptions &) {}, 300, 200},
        {"transform",
         [](WriteOptions &o) {
             o.transform.aspect_ratio = 1.5f;
             o.transform.region = std::array<float, 4>{0.1f, 0.1f, 1.2f, 0.9f};
             o.transform.filtering = 3.0f;
             o.transform.affine = std::array<float, 16>{0.5f, 0, 0, 0, 0, 0.5f, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};
             o.transform.colour_twist = std::array<float, 16>{1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};
             o.transform.contrast = 0.8f;
             o.title = "transform test";
         },
         100, 90},
        {"tablesets", [](WriteOptions &o) { o.table_sets = 4, o.progressive = true, o.opacity = true; }, 260, 140},
        {"mono", [](WriteOptions &o) { o.colour = ColourSpace::monochrome, o.compression = Compression::raw; }, 70, 46},
        {"ycc", [](WriteOptions &o) { o.colour = ColourSpace::photoycc, o.compression = Compression::mixed; }, 129, 65},
        // 2.7 MB of raw tiles: streams far beyond the mini-stream cutoff.
        {"large", [](WriteOptions &o) { o.compression = Compression::raw, o.flat_tiles = FlatTiles::never; }, 700, 300},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.tag);
        WriteOptions o;
        c.set(o);
        const Document doc = build(o, make_synthetic(c.w, c.h));
        kxtest::TempDir dir;
        ASSERT_EQ(write_document(doc, dir.file("out.fpx")), "");
        expect_listing_matches(doc, olefile_listing(dir.file("out.fpx")));
    }
}

// The corpus picture written as the corpus file holds it, field by field (pixels of the full resolution only).
TEST(FpxFile, LayoutMatchesTheCorpus)
{
    KX_REQUIRE_CORPUS();
    REQUIRE_OLEFILE();
    const struct { const char *name; ColourSpace colour; std::vector<int> flat_tiles, flat_colour; } cases[] = {{"rose_rgb", ColourSpace::rgb, {}, {}},
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
        // Property ids and types in order; Image Contents and Global Info byte for byte.
        for (const std::string &set : {std::string("\\x05Global Info"), std::string("\\x05Data Object 000001"), contents})
            EXPECT_EQ(ours.props.at(set), real.props.at(set)) << set;
        for (const std::string &set : {std::string("\\x05Global Info"), contents})
            EXPECT_EQ(ours.streams.at(set), real.streams.at(set)) << set;
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
