// Hostile Compound Files, each kind of corruption once: every open and read ends with a defined result.
#include "io_support.h"

using namespace iotest;

namespace {

// By hand: FAT in sector 0, directory in 1; "Data" (entry 1) in sectors 2..11, "Tiny" (entry 2) a
// 100-byte mini stream, MiniFAT in sector 20, mini stream in 21.
struct Hostile {
    static constexpr uint32_t kMiniFat = 20, kMiniStream = 21;
    Bytes image = Bytes(sector_at(kMiniStream) + 512, 0);
    Bytes data = pattern(5000), tiny = pattern(100);
    Hostile()
    {
        // Signature, version, byte order, sector shifts; FAT sectors, directory, cutoff, MiniFAT, DIFAT.
        using Field = std::tuple<size_t, uint32_t, int>;
        for (const auto &[at, v, size] : {Field{0, 0xE011CFD0u, 4}, {4, 0xE11AB1A1u, 4}, {24, 0x3E, 2}, {26, 3, 2},
                                          {28, 0xFFFE, 2}, {30, 9, 2}, {32, 6, 2}, {44, 1, 4}, {48, 1, 4},
                                          {56, 4096, 4}, {60, kMiniFat, 4}, {64, 1, 4}, {68, kEnd, 4}})
            put(image, at, v, size);
        for (uint32_t i = 0; i < 128; ++i) {
            if (i < 109)
                put(image, 76 + 4 * i, i == 0 ? 0 : kFree); // the header's list of FAT sectors
            fat(i, i == 0 ? 0xFFFFFFFDu : i == 1 || i == kMiniFat || i == kMiniStream ? kEnd : kFree);
            put(image, sector_at(kMiniFat) + 4 * i, i == 0 ? 1 : i == 1 ? kEnd : kFree);
        }
        entry(0, "Root Entry", kFree, kFree, 1, kMiniStream, 128, 5);
        entry(1, "Data", kFree, 2, kFree, 2, 5000);
        entry(2, "Tiny", kFree, kFree, kFree, 0, 100);
        std::copy(data.begin(), data.end(), image.begin() + sector_at(2));
        for (uint32_t s = 2; s < 12; ++s)
            fat(s, s < 11 ? s + 1 : kEnd);
        std::copy(tiny.begin(), tiny.end(), image.begin() + sector_at(kMiniStream));
    }
    void fat(uint32_t index, uint32_t value) { put(image, sector_at(0) + 4 * index, value); }
    size_t entry_at(uint32_t n) const { return sector_at(1) + 128 * n; }
    void entry(uint32_t n, const char *name, uint32_t left, uint32_t right, uint32_t child, uint32_t start,
               uint32_t size, uint8_t type = 2)
    {
        for (size_t i = 0; name[i]; ++i)
            image[entry_at(n) + 2 * i] = static_cast<uint8_t>(name[i]);
        put(image, entry_at(n) + 64, static_cast<uint32_t>(std::strlen(name) + 1) * 2, 2);
        image[entry_at(n) + 66] = type;
        using Field = std::pair<size_t, uint32_t>;
        for (const auto &[at, v] : {Field{68, left}, {72, right}, {76, child}, {116, start}, {120, size}})
            put(image, entry_at(n) + at, v);
    }
};

StreamRead read_all(const Bytes &image, const char *name, int32_t chunk)
{
    return read_stream(Source(SourceKind::Memory, image).file, name, chunk);
}

// A cut file does not open unless only the last (all free) FAT sector is cut.
TEST(CfbHostile, TruncatedFilesEndCleanly)
{
    const Bytes whole = written_image({stream_node("big", pattern(20000)),
                                       storage_node("sub", {stream_node("small", pattern(700))})});
    for (size_t length : {size_t{0}, size_t{511}, size_t{512}, whole.size() / 2, whole.size() - 1024,
                          whole.size() - 512}) {
        SCOPED_TRACE(length);
        const Bytes cut(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(length));
        for (SourceKind kind : {SourceKind::Path, SourceKind::Callback}) {
            QorFile root = qorOpenStorage(Source(kind, cut).file, "Root Entry");
            EXPECT_EQ(qorCloseStorage(root) == 0, length + 512 >= whole.size());
        }
    }
}

TEST(CfbHostile, BadHeadersAreRefused)
{
    const struct { const char *what; size_t at; uint32_t value; int size; } cases[] = {
        {"signature", 0, 0, 2}, {"byte order", 28, 0xFEFF, 2}, {"sector shift 12", 30, 12, 2},
        {"mini sector shift", 32, 7, 2}, {"cutoff", 56, 2048, 4}, {"FAT sectors", 44, 5000000, 4},
        {"FAT sectors past the file", 44, 20, 4}, {"no FAT sector", 44, 0, 4},
        {"DIFAT sectors", 72, 10000000, 4}, {"MiniFAT sectors", 64, 4000000, 4},
        {"MiniFAT past its FAT chain", 64, 2, 4}, {"MiniFAT start outside the FAT", 60, 9999, 4}};
    for (const auto &c : cases) {
        Hostile h;
        put(h.image, c.at, c.value, c.size);
        for (SourceKind kind : kAllSources)
            EXPECT_EQ(qorOpenStorage(Source(kind, h.image).file, "Root Entry"), nullptr) << c.what << " " << int(kind);
    }
}

// One field changed (entry n at 1024 + 128 n, FAT k at 512 + 4 k, MiniFAT k at 10752 + 4 k), then a
// stream read to its end: found or not, its size (-1: not checked) and its first read's result.
TEST(CfbHostile, BrokenChainsSizesAndEntriesEndCleanly)
{
    const struct { const char *what; size_t at; uint32_t value; int width; const char *name; int32_t chunk;
                   bool opened; int64_t size; int32_t first; } cases[] = {
        {"FAT chain cycle 2 -> 3 -> 2", 512 + 12, 2, 4, "Data", 4096, true, 5000, 4096},
        {"FAT link beyond the file (short reads)", 512 + 8, 100, 4, "Data", 1000, true, -1, 1000},
        {"FAT link outside the table", 512 + 8, 9999, 4, "Data", 1000, true, -1, -1},
        {"free FAT entry mid-chain", 512 + 8, kFree, 4, "Data", 1000, true, -1, -1},
        {"start outside the table", 1152 + 116, 5000, 4, "Data", 1000, true, 0, 0},
        {"size negative as signed", 1152 + 120, 0x80000000u, 4, "Data", 4096, true, 0, 0},
        {"mini stream's chain outside the table", 1024 + 116, 9999, 4, "Tiny", 64, true, 100, 64},
        {"mini chain looping on itself", 10752 + 4, 0, 4, "Tiny", 1, true, 100, 1},
        {"name claims 66 bytes", 1152 + 64, 66, 2, "Data", 64, false, -1, 0},
        {"name claims 66 bytes, sibling behind it", 1152 + 64, 66, 2, "Tiny", 64, false, -1, 0},
        {"unused entry", 1152 + 66, 0, 1, "Data", 64, false, -1, 0},
        {"unused entry, its sibling still searched", 1152 + 66, 0, 1, "Tiny", 64, true, 100, 64}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        Hostile h;
        put(h.image, c.at, c.value, c.width);
        const StreamRead r = read_all(h.image, c.name, c.chunk);
        EXPECT_TRUE(r.opened == c.opened && r.first == c.first && r.calls < 1000) << r.opened << " " << r.first;
        EXPECT_TRUE(c.size < 0 || int64_t(r.bytes.size()) == c.size) << r.bytes.size();
    }
}

// A cycle 2 -> 3 -> 2 can yield a sector at any index: a size needing more sectors than the
// FAT's 128 entries is refused, one needing exactly 128 still opens.
TEST(CfbHostile, CyclicChainLongerThanTheFatIsRefused)
{
    Hostile h;
    h.fat(3, 2);
    for (const auto &[size, opened] : {std::pair<uint32_t, bool>{128 * 512 + 1, false}, {128 * 512, true}}) {
        put(h.image, h.entry_at(1) + 120, size);
        EXPECT_EQ(read_all(h.image, "Data", 4096).opened, opened) << size;
    }
}

TEST(CfbHostile, SiblingTreesThatLoopOrPointNowhere)
{
    const struct { const char *what; uint32_t entry, left, right; } cases[] = {
        {"two-entry loop", 2, 1, 1}, {"index past the directory", 1, 0x7FFFFFF0u, 2}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        Hostile h;
        put(h.image, h.entry_at(c.entry) + 68, c.left);
        put(h.image, h.entry_at(c.entry) + 72, c.right);
        for (bool cyclic_directory : {false, true}) {
            if (cyclic_directory)
                h.fat(1, 1); // a directory chain looping on itself
            EXPECT_FALSE(read_all(h.image, "Absent", 64).opened);
            EXPECT_EQ(read_all(h.image, "Data", 512).bytes, h.data);
        }
    }
}

// 64 bytes of name without a terminator: 32 narrowed characters, then the field's upper half.
TEST(CfbHostile, NameFillingTheField)
{
    Hostile full;
    std::fill_n(full.image.begin() + static_cast<std::ptrdiff_t>(full.entry_at(2)), 64, 'A');
    put(full.image, full.entry_at(2) + 64, 64, 2);
    EXPECT_FALSE(read_all(full.image, std::string(32, 'a').c_str(), 64).opened);
    EXPECT_TRUE(read_all(full.image, std::string(64, 'a').c_str(), 64).opened);
    EXPECT_FALSE(read_all(full.image, "Tiny", 64).opened);
}

TEST(CfbHostile, StreamSizesPastTheFile)
{
    Hostile h; // 100000 bytes claimed along a chain 2 -> ... -> 127 mostly past the file
    for (uint32_t s = 2; s < 127; ++s)
        h.fat(s, s + 1);
    h.fat(127, kEnd);
    put(h.image, h.entry_at(1) + 120, 100000);
    const StreamRead r = read_all(h.image, "Data", 4096);
    ASSERT_GE(r.bytes.size(), h.data.size());
    EXPECT_TRUE(std::equal(h.data.begin(), h.data.end(), r.bytes.begin()));
    EXPECT_LE(r.bytes.size(), 100000u);
}

} // namespace
