// samples/sample.fpx is what the README says it is: made by fpxwrite with
// the command below, JPEG tiles with their tables in "\005Image Contents",
// three resolutions, under 200 KB, every tile decodable.
#include "oracles/fpx_parse.h"
#include "fpx/fpx_format.h"
#include "support.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

using namespace fpxw;
using namespace kxfpx::fpx;
using namespace fpxtest;

namespace {

// The command that made the sample, without the program name.
const std::vector<std::string> kSampleCommand = {"--synthetic", "640x480", "--resolutions", "3",
                                                 "--title", "fpxwrite sample", "samples/sample.fpx"};

std::string sample_path() { return kxtest::source_dir() + "/samples/sample.fpx"; }

std::string doc_path(const Document &doc, size_t i)
{
    std::string path = doc.entries[i].name;
    for (int p = doc.entries[i].parent; p > 0; p = doc.entries[size_t(p)].parent)
        path = doc.entries[size_t(p)].name + "/" + path;
    return path;
}

} // namespace

TEST(FpxSample, MadeByTheDocumentedCommand)
{
    struct stat st;
    ASSERT_EQ(::stat(sample_path().c_str(), &st), 0);
    EXPECT_LT(st.st_size, 200 * 1024);
    CommandLine cmd;
    ASSERT_EQ(parse_command_line(kSampleCommand, cmd), "");
    Document doc;
    ASSERT_EQ(build_document(cmd.options, make_synthetic(cmd.synthetic_width, cmd.synthetic_height), doc), "");
    for (size_t i = 1; i < doc.entries.size(); ++i) {
        if (doc.entries[i].storage)
            continue;
        bool ok = false;
        const std::vector<uint8_t> bytes = read_stream(sample_path(), doc_path(doc, i), ok);
        ASSERT_TRUE(ok) << doc_path(doc, i);
        EXPECT_TRUE(bytes == doc.entries[i].data) << doc_path(doc, i) << ": regenerate the sample";
    }
}

TEST(FpxSample, ThreeResolutionsOfJpegTilesThatDecode)
{
    bool ok = false;
    PropSet ic;
    ASSERT_TRUE(parse_propset(read_stream(sample_path(), "Data Object Store 000001/\005Image Contents", ok), ic));
    ASSERT_TRUE(ok);
    ASSERT_NE(ic.find(0x01000000), nullptr);
    EXPECT_EQ(ic.find(0x01000000)->u32(), 3u);
    ASSERT_NE(ic.find(0x03000002), nullptr);
    ASSERT_NE(ic.find(0x03010001), nullptr);
    const Prop &blob = *ic.find(0x03010001);
    const std::vector<uint8_t> tables(blob.value.begin() + 4, blob.value.begin() + 4 + blob.u32());
    // What the import's table loader accepts: SOI, DQT and DHT segments, EOI.
    const std::vector<uint8_t> markers = list_markers(tables);
    ASSERT_GE(markers.size(), 2u);
    EXPECT_EQ(markers.front(), 0xD8);
    EXPECT_EQ(markers.back(), 0xD9);
    for (uint8_t m : markers)
        EXPECT_TRUE(m == 0xD8 || m == 0xD9 || m == 0xDB || m == 0xC4) << int(m);
    for (int rr = 0; rr < 3; ++rr) {
        char res[64];
        std::snprintf(res, sizeof res, "Data Object Store 000001/Resolution %04d/", rr);
        Subimage sub;
        ASSERT_TRUE(parse_subimage(read_stream(sample_path(), std::string(res) + "Subimage 0000 Header", ok), sub));
        const std::vector<uint8_t> data = read_stream(sample_path(), std::string(res) + "Subimage 0000 Data", ok);
        ASSERT_TRUE(ok);
        EXPECT_EQ(sub.values[1], 640u >> (2 - rr));
        EXPECT_EQ(sub.values[2], 480u >> (2 - rr));
        for (const TileEntry &t : sub.tiles) {
            if (t.type == kTileSingleColour)
                continue;
            ASSERT_EQ(t.type, kTileJpeg);
            ASSERT_EQ(t.subtype[3], 1);
            const Decoded d = decode_jpeg(tables, tile_bytes(data, t));
            EXPECT_EQ(d.error, "");
            EXPECT_EQ(d.width, 64);
            EXPECT_EQ(d.h[0] << 4 | d.v[0], t.subtype[1]);
        }
    }
}
