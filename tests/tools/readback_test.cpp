// fpxwrite's files read back through our own reader the way the import reads them ("9L", "3L{4C}").
#include "colour.h"
#include "fpxwrite_fixture.h"

#include <kxfpx/qorfile.h>
#include <kxfpx/storage.h>

using namespace fpxtest;

namespace {

struct Handle { QorFile h; int32_t (*close)(QorFile); ~Handle() { if (h) close(h); } };
struct TileEntryRec { int32_t offset, length, type; uint8_t subtype[4]; };
struct Picture { std::vector<uint8_t> pixels; int width = 0, height = 0, channels = 0; std::vector<TileEntryRec> tiles; };

// Reads one resolution's raw and single-colour tiles into a picture.
Picture read_resolution(const std::string &path, int rr)
{
    Picture pic;
    Handle file{qorOpen(path.c_str(), nullptr, QOR_READ), qorClose};
    if (!file.h) {
        ADD_FAILURE() << path;
        return pic;
    }
    qorSetDataFormat(file.h, 0, 0);
    Handle root{qorOpenStorage(file.h, "Root Entry"), qorCloseStorage};
    Handle store{qorOpenStorage(root.h, kStore.c_str()), qorCloseStorage};
    char name[32];
    std::snprintf(name, sizeof name, "Resolution %04d", rr);
    Handle res{qorOpenStorage(store.h, name), qorCloseStorage};
    Handle hs{qorOpenStream(res.h, "Subimage 0000 Header"), qorCloseStream};
    Handle ds{qorOpenStream(res.h, "Subimage 0000 Data"), qorCloseStream};
    if (!hs.h || !ds.h) {
        ADD_FAILURE() << name;
        return pic;
    }
    int32_t header[9] = {};
    EXPECT_EQ(qorSeek(hs.h, 28, 0), 28);
    EXPECT_EQ(qorReadStruct(hs.h, "9L", header, 1), 1);
    pic.tiles.resize(size_t(header[3]));
    EXPECT_EQ(qorSeek(hs.h, header[7] + 28, 0), header[7] + 28);
    EXPECT_EQ(qorReadStruct(hs.h, "3L{4C}", pic.tiles.data(), header[3]), header[3]);
    pic.width = header[1], pic.height = header[2], pic.channels = header[6];
    const size_t c = size_t(pic.channels);
    pic.pixels.assign(size_t(pic.width) * size_t(pic.height) * c, 0);
    const int across = (pic.width + 63) / 64;
    std::vector<uint8_t> tile(64 * 64 * c);
    for (size_t k = 0; k < pic.tiles.size(); ++k) {
        const TileEntryRec &t = pic.tiles[k];
        if (t.type == int32_t(kTileRaw)) {
            EXPECT_EQ(qorSeek(ds.h, t.offset + 28, 0), t.offset + 28);
            EXPECT_EQ(qorRead(ds.h, tile.data(), int32_t(tile.size())), int32_t(tile.size()));
        } else if (t.type == int32_t(kTileSingleColour)) {
            for (size_t i = 0; i < tile.size(); ++i)
                tile[i] = t.subtype[i % c];
        } else {
            continue;
        }
        const int tx = int(k) % across, ty = int(k) / across;
        for (int y = 0; y < 64 && ty * 64 + y < pic.height; ++y)
            for (int x = 0; x < 64 && tx * 64 + x < pic.width; ++x)
                std::copy_n(&tile[size_t(y * 64 + x) * c], c,
                            &pic.pixels[(size_t(ty * 64 + y) * size_t(pic.width) + size_t(tx * 64 + x)) * c]);
    }
    return pic;
}

} // namespace

// Raw tiles, and the single-colour tiles of a flat picture.
TEST(FpxReadBack, TilesThroughOurReaderCarryTheInputPixels)
{
    Image flat{100, 70, 3, {}};
    for (int i = 0; i < 100 * 70; ++i)
        flat.samples.insert(flat.samples.end(), {200, 100, 50});
    const struct { const char *tag; ColourSpace colour; Image img; int full /* full resolution's index */; bool flat; } cases[] = {{"rgb", ColourSpace::rgb, make_synthetic(150, 100), 2, false},
                 {"mono", ColourSpace::monochrome, make_synthetic(70, 46), 1, false},
                 {"flat", ColourSpace::rgb, flat, 1, true}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.tag);
        WriteOptions o;
        o.colour = c.colour;
        if (!c.flat)
            o.compression = Compression::raw;
        kxtest::TempDir dir;
        ASSERT_EQ(write_fpx(o, c.img, dir.file("out.fpx")), "");
        ASSERT_EQ(resolve_options(o, c.img), "");
        const Image work = working_picture(c.img, o);
        const Picture pic = read_resolution(dir.file("out.fpx"), c.full);
        ASSERT_EQ(pic.width, c.img.width);
        ASSERT_EQ(pic.height, c.img.height);
        ASSERT_EQ(pic.channels, work.channels);
        EXPECT_TRUE(pic.pixels == work.samples);
        for (const TileEntryRec &t : pic.tiles)
            EXPECT_TRUE(!c.flat || (t.type == int32_t(kTileSingleColour) && t.length == 64 * 64 * 3));
        EXPECT_TRUE(!c.flat || pic.tiles.size() == 4u);
    }
}
