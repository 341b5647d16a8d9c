// Files written by fpxwrite through the project's Compound File writer, read
// back by Python's olefile (skipped when /usr/bin/python3 or olefile is
// missing): every storage, stream and property is there with the bytes we
// laid out, and the layout matches real files of the corpus field by field.
#include "oracles/fpx_parse.h"
#include "fpx/fpx_format.h"
#include "support.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <map>
#include <memory>
#include <set>
#include <sstream>
#include <unistd.h>

using namespace fpxw;
using namespace kxfpx::fpx;
using namespace fpxtest;

namespace {

struct Listing {
    std::map<std::string, std::string> streams;  // path -> hex bytes
    std::set<std::string> storages;
    std::map<std::string, std::vector<std::pair<uint32_t, uint32_t>>> props;  // path -> (id, type)
    std::map<std::string, std::set<uint32_t>> olefile_props;
    std::map<std::string, std::string> subimages;  // path -> nine values
    std::map<std::string, std::vector<std::string>> tiles;  // path -> "offset length type subtype"
    bool ok = false;
};

std::string escape(const std::string &name)
{
    std::string out;
    for (char c : name) {
        if (static_cast<unsigned char>(c) < 0x20) {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\x%02x", unsigned(static_cast<unsigned char>(c)));
            out += buf;
        } else {
            out += c;
        }
    }
    return out;
}

bool python_ready()
{
    static const bool ready =
        access("/usr/bin/python3", X_OK) == 0 && std::system("/usr/bin/python3 -c 'import olefile' 2>/dev/null") == 0;
    return ready;
}

#define REQUIRE_OLEFILE()                                                                                   \
    do {                                                                                                    \
        if (!python_ready())                                                                                \
            GTEST_SKIP() << "/usr/bin/python3 with olefile is not available";                               \
    } while (0)

std::vector<std::string> split(const std::string &line, char sep)
{
    std::vector<std::string> parts;
    std::stringstream ss(line);
    std::string part;
    while (std::getline(ss, part, sep))
        parts.push_back(part);
    return parts;
}

Listing olefile_listing(const std::string &path)
{
    Listing l;
    const std::string cmd = "/usr/bin/python3 " + kxtest::source_dir() + "/tests/oracles/fpx_dump.py '" + path + "'";
    std::unique_ptr<FILE, int (*)(FILE *)> pipe(popen(cmd.c_str(), "r"), pclose);
    if (!pipe)
        return l;
    std::string text;
    char buf[65536];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, pipe.get())) > 0)
        text.append(buf, n);
    l.ok = pclose(pipe.release()) == 0;
    for (const std::string &line : split(text, '\n')) {
        const std::vector<std::string> f = split(line, '\t');
        if (f.size() >= 4 && f[0] == "stream")
            l.streams[f[1]] = f[3];
        else if (f.size() == 3 && f[0] == "stream")
            l.streams[f[1]] = "";
        else if (f.size() == 2 && f[0] == "storage")
            l.storages.insert(f[1]);
        else if (f.size() == 4 && f[0] == "prop")
            l.props[f[1]].emplace_back(uint32_t(std::stoul(f[2], nullptr, 16)), uint32_t(std::stoul(f[3], nullptr, 16)));
        else if (f.size() == 3 && f[0] == "olefileprop")
            l.olefile_props[f[1]].insert(uint32_t(std::stoul(f[2], nullptr, 16)));
        else if (f.size() == 3 && f[0] == "subimage")
            l.subimages[f[1]] = f[2];
        else if (f.size() == 7 && f[0] == "tile")
            l.tiles[f[1]].push_back(f[3] + " " + f[4] + " " + f[5] + " " + f[6]);
    }
    return l;
}

std::string hex(const std::vector<uint8_t> &bytes)
{
    static const char digits[] = "0123456789abcdef";
    std::string out;
    out.reserve(bytes.size() * 2);
    for (uint8_t b : bytes) {
        out += digits[b >> 4];
        out += digits[b & 15];
    }
    return out;
}

std::string entry_path(const Document &doc, size_t i)
{
    std::string path = doc.entries[i].name;
    for (int p = doc.entries[i].parent; p > 0; p = doc.entries[size_t(p)].parent)
        path = doc.entries[size_t(p)].name + "/" + path;
    return escape(path);
}

struct TempFile {
    std::string path;
    explicit TempFile(const std::string &tag)
        : path(kxtest::bin_dir() + "/fpxwrite_test_" + tag + "_" + std::to_string(getpid()) + ".fpx") {}
    ~TempFile() { std::remove(path.c_str()); }
};

// Writes the document, or skips when the Compound File writer is not
// available in this build.
bool write_or_skip(const Document &doc, const std::string &path, std::string &error)
{
    error = write_document(doc, path);
    return error.empty();
}

// The checks that hold for any document: olefile sees exactly our entries,
// with our bytes, and parses every property set.
void expect_listing_matches(const Document &doc, const Listing &l)
{
    ASSERT_TRUE(l.ok);
    std::set<std::string> streams, storages;
    for (size_t i = 1; i < doc.entries.size(); ++i) {
        const std::string path = entry_path(doc, i);
        if (doc.entries[i].storage) {
            storages.insert(path);
            continue;
        }
        streams.insert(path);
        ASSERT_EQ(l.streams.count(path), 1u) << path;
        EXPECT_EQ(l.streams.at(path), hex(doc.entries[i].data)) << path;
        if (doc.entries[i].name[0] == '\005') {
            PropSet set;
            ASSERT_TRUE(parse_propset(doc.entries[i].data, set)) << path;
            std::vector<std::pair<uint32_t, uint32_t>> ours;
            for (const Prop &p : set.props)
                ours.emplace_back(p.id, p.type);
            EXPECT_EQ(l.props.count(path) ? l.props.at(path) : decltype(ours){}, ours) << path;
            // olefile's own parser finds every property whose type it knows
            // (vectors of floats it skips).
            std::set<uint32_t> expected;
            for (const Prop &p : set.props)
                if (p.type != (kVtVector | kVtR4))
                    expected.insert(p.id);
            const std::set<uint32_t> found = l.olefile_props.count(path) ? l.olefile_props.at(path) : std::set<uint32_t>{};
            for (uint32_t id : expected)
                EXPECT_EQ(found.count(id), 1u) << path << " property " << std::hex << id;
        }
    }
    EXPECT_EQ(l.storages, storages);
    std::set<std::string> listed;
    for (const auto &s : l.streams)
        listed.insert(s.first);
    EXPECT_EQ(listed, streams);
}

} // namespace

TEST(FpxFile, OlefileListsEveryStreamAndProperty)
{
    REQUIRE_OLEFILE();
    struct Case {
        const char *tag;
        void (*set)(WriteOptions &);
        int w, h;
    } cases[] = {
        {"default", [](WriteOptions &) {}, 300, 200},
        {"transform", [](WriteOptions &o) {
             o.transform.aspect_ratio = 1.5f;
             o.transform.region = std::array<float, 4>{0.1f, 0.1f, 1.2f, 0.9f};
             o.transform.filtering = 3.0f;
             o.transform.affine = std::array<float, 16>{0.5f, 0, 0, 0, 0, 0.5f, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};
             o.transform.colour_twist = std::array<float, 16>{1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};
             o.transform.contrast = 0.8f;
             o.title = "transform test";
         }, 100, 90},
        {"tablesets", [](WriteOptions &o) { o.table_sets = 4, o.progressive = true, o.opacity = true; }, 260, 140},
        {"mono", [](WriteOptions &o) { o.colour = ColourSpace::monochrome, o.compression = Compression::raw; }, 70, 46},
        {"ycc", [](WriteOptions &o) { o.colour = ColourSpace::photoycc, o.compression = Compression::mixed; }, 129, 65},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.tag);
        WriteOptions o;
        c.set(o);
        Document doc;
        ASSERT_EQ(build_document(o, make_synthetic(c.w, c.h), doc), "");
        TempFile file(c.tag);
        std::string error;
        if (!write_or_skip(doc, file.path, error))
            GTEST_SKIP() << "Compound File writer not available: " << error;
        expect_listing_matches(doc, olefile_listing(file.path));
    }
}

TEST(FpxFile, LargeStreamsCrossTheMiniStreamCutoff)
{
    REQUIRE_OLEFILE();
    WriteOptions o;
    o.compression = Compression::raw;
    o.flat_tiles = FlatTiles::never;
    Document doc;
    ASSERT_EQ(build_document(o, make_synthetic(700, 300), doc), "");  // 2.7 MB of raw tiles
    TempFile file("large");
    std::string error;
    if (!write_or_skip(doc, file.path, error))
        GTEST_SKIP() << "Compound File writer not available: " << error;
    expect_listing_matches(doc, olefile_listing(file.path));
}

// Writes the corpus picture the way the corpus file holds it and compares
// the two files field by field. Only the full resolution's pixels are
// compared: the corpus made its lower resolution another way.
void compare_with_corpus(const std::string &name, const WriteOptions &o)
{
    KX_REQUIRE_CORPUS();
    REQUIRE_OLEFILE();
    Image img;
    ASSERT_EQ(load_image(kxtest::corpus_file(name + ".expected.png"), img), "");
    Document doc;
    ASSERT_EQ(build_document(o, img, doc), "");
    TempFile file(name);
    std::string error;
    if (!write_or_skip(doc, file.path, error))
        GTEST_SKIP() << "Compound File writer not available: " << error;
    const Listing ours = olefile_listing(file.path);
    const Listing real = olefile_listing(kxtest::corpus_file(name + ".fpx"));
    ASSERT_TRUE(ours.ok);
    ASSERT_TRUE(real.ok);
    EXPECT_EQ(ours.storages, real.storages);
    std::set<std::string> a, b;
    for (const auto &s : ours.streams)
        a.insert(s.first);
    for (const auto &s : real.streams)
        b.insert(s.first);
    EXPECT_EQ(a, b);
    // Property identifiers and types of the FlashPix sets, in their order.
    for (const char *set : {"\\x05Global Info", "\\x05Data Object 000001",
                            "Data Object Store 000001/\\x05Image Contents"})
        EXPECT_EQ(ours.props.at(set), real.props.at(set)) << set;
    // Values: Image Contents and Global Info byte for byte.
    for (const char *set : {"\\x05Global Info", "Data Object Store 000001/\\x05Image Contents"})
        EXPECT_EQ(ours.streams.at(set), real.streams.at(set)) << set;
    EXPECT_EQ(ours.subimages, real.subimages);
    EXPECT_EQ(ours.tiles, real.tiles);
    for (const char *res : {"Data Object Store 000001/Resolution 0000", "Data Object Store 000001/Resolution 0001"}) {
        const std::string header = std::string(res) + "/Subimage 0000 Header";
        const std::string data = std::string(res) + "/Subimage 0000 Data";
        EXPECT_EQ(ours.streams.at(header).substr(0, 56 * 2), real.streams.at(header).substr(0, 56 * 2));
        EXPECT_EQ(ours.streams.at(data).substr(0, 56), real.streams.at(data).substr(0, 56));  // 28-byte header
        EXPECT_EQ(ours.streams.at(data).size(), real.streams.at(data).size());
    }
    // Full-resolution tiles: the same bytes, padding included. (The gaps
    // between tiles hold leftovers in the corpus files; ours are zero.)
    const std::string data = "Data Object Store 000001/Resolution 0001/Subimage 0000 Data";
    for (const std::string &tile : real.tiles.at("Data Object Store 000001/Resolution 0001/Subimage 0000 Header")) {
        const std::vector<std::string> f = split(tile, ' ');
        if (f[2] != "0")
            continue;  // a single-colour tile keeps the pixels it was made from
        const size_t at = (std::stoul(f[0]) + 28) * 2, len = std::stoul(f[1]) * 2;
        EXPECT_EQ(ours.streams.at(data).substr(at, len), real.streams.at(data).substr(at, len)) << tile;
    }
}

TEST(FpxFile, RgbLayoutMatchesTheCorpus)
{
    WriteOptions o;
    o.compression = Compression::raw;
    o.flat_tiles = FlatTiles::never;
    compare_with_corpus("rose_rgb", o);
}

TEST(FpxFile, MonochromeLayoutMatchesTheCorpus)
{
    WriteOptions o;
    o.colour = ColourSpace::monochrome;
    o.compression = Compression::raw;
    o.flat_tiles = FlatTiles::never;
    compare_with_corpus("rose_grey", o);
}

TEST(FpxFile, SingleColourTileMatchesTheCorpus)
{
    WriteOptions o;
    o.colour = ColourSpace::monochrome;
    o.compression = Compression::raw;
    o.flat_tiles = FlatTiles::never;
    o.flat_tile_list = {0};
    o.flat_colour = {255};
    compare_with_corpus("bw_fill", o);
}
