// samples/sample.fpx is made byte for byte by the command below; its tiles decode.
#include "fpxwrite_fixture.h"

#include <sys/stat.h>

using namespace fpxtest;

namespace {

const std::vector<std::string> kSampleCommand = {"--synthetic", "640x480", "--resolutions", "3",
                                                 "--title", "fpxwrite sample", "samples/sample.fpx"};

std::string sample_path() { return kxtest::source_dir() + "/samples/sample.fpx"; }

} // namespace

TEST(FpxSample, MadeByTheDocumentedCommand)
{
    struct stat st;
    ASSERT_EQ(::stat(sample_path().c_str(), &st), 0);
    EXPECT_LT(st.st_size, 200 * 1024);
    CommandLine cmd;
    ASSERT_EQ(parse_command_line(kSampleCommand, cmd), "");
    const Document doc = build(cmd.options, make_synthetic(cmd.synthetic_width, cmd.synthetic_height));
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
    auto stream = [&](const std::string &path) { return read_stream(sample_path(), path, ok); };
    PropSet ic;
    ASSERT_TRUE(parse_propset(stream(kContents), ic));
    ASSERT_NE(ic.find(0x01000000), nullptr);
    EXPECT_EQ(ic.find(0x01000000)->u32(), 3u);
    ASSERT_NE(ic.find(0x03010001), nullptr);
    const Prop &blob = *ic.find(0x03010001);
    const std::vector<uint8_t> tables(blob.value.begin() + 4, blob.value.begin() + 4 + blob.u32());
    for (int rr = 0; rr < 3; ++rr) {
        Subimage sub;
        ASSERT_TRUE(parse_subimage(stream(res_path(rr, "Subimage 0000 Header")), sub));
        const std::vector<uint8_t> data = stream(res_path(rr, "Subimage 0000 Data"));
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
