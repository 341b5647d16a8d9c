// The Compound File writer and stream reader against plain models. The
// writer's model keeps the file as bytes, grows the FAT and MiniFAT one
// sector at a time, walks every chain from its start and places mini sectors
// exactly as the writer's rules say (including a mini stream that meets a
// sector of other data): random sequences of storages and streams, written
// in interleaved calls of random sizes, must come out byte for byte the
// same. The reader's model reads each chunk after walking the chain link by
// link from the stream's start: random seeks and reads over random, often
// broken or cyclic, chains must give the same results, bytes and positions.
#include "cfb_support.h"

#include <random>

using namespace cfbtest;

namespace {

constexpr uint32_t kFree = 0xFFFFFFFFu;
constexpr uint32_t kEnd = 0xFFFFFFFEu;

class Model {
public:
    Model()
    {
        fat_.assign(128, kFree);
        minifat_.assign(128, kFree);
        put(Bytes(512, 0));
        dir_.push_back(Entry{"Root Entry", 5, 0});
    }

    uint32_t add(uint32_t parent, const std::string &name, uint8_t type)
    {
        const uint32_t index = static_cast<uint32_t>(dir_.size());
        dir_.push_back(Entry{name, type, static_cast<uint8_t>(type == 1 ? 1 : 0)});
        uint32_t *link = &dir_[parent].child;
        while (*link != kFree) {
            Entry &at = dir_[*link];
            link = before(dir_[index], at) ? &at.left : &at.right;
        }
        *link = index;
        if (type == 2)
            streams_[index] = Stream{};
        return index;
    }

    void write(uint32_t entry, const Bytes &data)
    {
        Stream &s = streams_.at(entry);
        size_t done = 0;
        while (done < data.size()) {
            const size_t at = s.pos - s.bufBase;
            const size_t room = std::min(data.size() - done, size_t{4096} - at);
            std::copy(data.begin() + done, data.begin() + done + room, s.staging.begin() + at);
            s.bufIndex = static_cast<uint32_t>(at + room);
            s.pos += static_cast<uint32_t>(room);
            dir_[entry].size = std::max(dir_[entry].size, s.pos);
            done += room;
            if (s.bufIndex == 4096)
                to_fat(entry);
        }
    }

    void close(uint32_t entry)
    {
        Stream &s = streams_.at(entry);
        std::fill(s.staging.begin() + s.bufIndex, s.staging.end(), 0);
        if (dir_[entry].size >= 4096)
            to_fat(entry);
        else if (dir_[entry].size > 0) // the writer gives an empty stream no sector
            to_mini(entry);
    }

    Bytes finish()
    {
        // Directory, four entries a sector.
        uint32_t previous = kFree;
        for (size_t first = 0; first < dir_.size(); first += 4) {
            const uint32_t sector = end_sector();
            Bytes bytes(512, 0);
            for (size_t i = first; i < first + 4 && i < dir_.size(); ++i)
                encode(dir_[i], bytes, (i - first) * 128);
            put(bytes);
            chain(previous, sector, first_dir_);
        }
        previous = kFree;
        for (size_t i = 0; i < minifat_.size() / 128; ++i) {
            const uint32_t sector = end_sector();
            put(words(minifat_, i * 128, 128));
            chain(previous, sector, first_minifat_);
        }
        const uint32_t n = static_cast<uint32_t>(fat_.size() / 128);
        uint32_t total = n + n / 128 + 1;
        uint32_t difat_sectors = 0;
        if (total > 109) {
            const uint32_t d = (n + n / 128 - 108) / 127 + 1;
            total += d / 128 + 1;
            difat_sectors = std::max(d, (total - 109) / 127 + 1);
        }
        std::vector<uint32_t> difat(109 + 127 * size_t{difat_sectors}, kFree);
        const uint32_t first = static_cast<uint32_t>(file_.size() / 512 - 1);
        for (uint32_t i = 0; i < total + difat_sectors; ++i) {
            set_fat(first + i, i < total ? 0xFFFFFFFDu : 0xFFFFFFFCu);
            if (i < total)
                difat[i] = first + i;
        }
        const uint32_t fat_sectors = static_cast<uint32_t>(fat_.size() / 128);
        put(words(fat_, 0, fat_.size()));
        for (uint32_t i = fat_sectors; i < total; ++i)
            put(Bytes(512, 0xFF));
        uint32_t first_difat = kEnd;
        for (uint32_t j = 0; j < difat_sectors; ++j) {
            if (j == 0)
                first_difat = first + total;
            std::vector<uint32_t> sector(difat.begin() + 109 + 127 * j, difat.begin() + 109 + 127 * (j + 1));
            sector.push_back(j + 1 < difat_sectors ? first + total + j + 1 : kFree);
            put(words(sector, 0, 128));
        }
        // Header over the placeholder: 76 bytes and min(total, 109) entries.
        Bytes header(76, 0);
        const uint8_t signature[8] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};
        std::copy(signature, signature + 8, header.begin());
        put16(header, 24, 0x3E);
        put16(header, 26, 3);
        put16(header, 28, 0xFFFE);
        put16(header, 30, 9);
        put16(header, 32, 6);
        put32(header, 44, fat_sectors);
        put32(header, 48, first_dir_);
        put32(header, 56, 4096);
        put32(header, 60, first_minifat_);
        put32(header, 64, static_cast<uint32_t>(minifat_.size() / 128));
        put32(header, 68, first_difat);
        put32(header, 72, difat_sectors);
        std::copy(header.begin(), header.end(), file_.begin());
        const Bytes listed = words(difat, 0, std::min(total, 109u));
        std::copy(listed.begin(), listed.end(), file_.begin() + 76);
        return file_;
    }

private:
    struct Entry {
        std::string name;
        uint8_t type;
        uint8_t colour;
        uint32_t left = kFree, right = kFree, child = kFree;
        uint32_t start = kFree;
        uint32_t size = 0;
    };
    struct Stream {
        Bytes staging = Bytes(4096, 0);
        uint32_t bufIndex = 0, bufBase = 0, pos = 0;
    };

    static bool before(const Entry &fresh, const Entry &at)
    {
        if (fresh.name.size() != at.name.size())
            return fresh.name.size() < at.name.size();
        return fresh.name < at.name; // equal names are refused by the writer
    }

    // Writes at the current position (always the end here, but for the mini
    // stream's own sectors).
    void put(const Bytes &bytes)
    {
        if (file_.size() < pos_ + bytes.size())
            file_.resize(pos_ + bytes.size(), 0);
        std::copy(bytes.begin(), bytes.end(), file_.begin() + pos_);
        pos_ += bytes.size();
    }
    static Bytes words(const std::vector<uint32_t> &table, size_t from, size_t count)
    {
        Bytes bytes(count * 4);
        for (size_t i = 0; i < count; ++i)
            put32(bytes, 4 * i, table[from + i]);
        return bytes;
    }
    // One sector more whenever an index reaches the entry count.
    static void grow(std::vector<uint32_t> &table, uint32_t index)
    {
        if (index >= table.size())
            table.resize(table.size() + 128, kFree);
        ASSERT_LT(index, table.size()) << "one sector of entries at a time suffices";
    }
    void set_fat(uint32_t sector, uint32_t value)
    {
        grow(fat_, sector);
        fat_[sector] = value;
    }
    uint32_t end_sector()
    {
        pos_ = file_.size();
        const uint32_t sector = static_cast<uint32_t>(pos_ / 512 - 1);
        grow(fat_, sector);
        return sector;
    }
    static uint32_t last_of(const std::vector<uint32_t> &table, uint32_t start)
    {
        while (table[start] != kEnd)
            start = table[start];
        return start;
    }
    void chain(uint32_t &previous, uint32_t sector, uint32_t &first)
    {
        if (previous == kFree)
            first = sector;
        else
            fat_[previous] = sector;
        fat_[sector] = kEnd;
        previous = sector;
    }

    void to_fat(uint32_t entry)
    {
        Stream &s = streams_.at(entry);
        uint32_t sectors = 0;
        for (uint32_t k = 0; k * 512 < s.bufIndex; ++k) {
            const uint32_t sector = end_sector();
            put(Bytes(s.staging.begin() + k * 512, s.staging.begin() + (k + 1) * 512));
            if (dir_[entry].start == kFree)
                dir_[entry].start = sector;
            else
                fat_[last_of(fat_, dir_[entry].start)] = sector;
            fat_[sector] = kEnd;
            ++sectors;
        }
        uint32_t length = 0;
        for (uint32_t x = dir_[entry].start; x != kEnd && x != kFree; x = fat_[x])
            ++length;
        std::fill(s.staging.begin(), s.staging.end(), 0);
        s.bufIndex = 0;
        s.bufBase = length * 512;
    }

    std::vector<uint32_t> mini_chain() const
    {
        std::vector<uint32_t> sectors;
        for (uint32_t x = dir_[0].start; x != kEnd; x = fat_[x])
            sectors.push_back(x);
        return sectors;
    }
    void link_mini(uint32_t sector)
    {
        grow(fat_, sector);
        fat_[last_of(fat_, dir_[0].start)] = sector;
        fat_[sector] = kEnd;
    }

    void to_mini(uint32_t entry)
    {
        Stream &s = streams_.at(entry);
        uint32_t m = 0;
        uint32_t current;
        if (dir_[0].start == kFree) {
            current = end_sector();
            put(Bytes(512, 0));
            fat_[current] = kEnd;
            dir_[0].start = current;
        } else {
            while (m < minifat_.size() && minifat_[m] != kFree)
                ++m;
            grow(minifat_, m);
            std::vector<uint32_t> sectors = mini_chain();
            if (sectors.size() <= m / 8) {
                const uint32_t sector = end_sector();
                put(Bytes(512, 0));
                link_mini(sector);
                sectors.push_back(sector);
            }
            current = sectors[m / 8];
        }
        pos_ = (size_t{current} + 1) * 512 + (m % 8) * 64;
        for (uint32_t k = 0; k * 64 < s.bufIndex; ++k, ++m) {
            uint32_t sector = static_cast<uint32_t>(pos_ / 512 - 1);
            if (sector != current) {
                if (sector < fat_.size() && fat_[sector] != kFree) {
                    pos_ = file_.size();
                    sector = static_cast<uint32_t>(pos_ / 512 - 1);
                }
                link_mini(sector);
                current = sector;
            }
            put(Bytes(s.staging.begin() + k * 64, s.staging.begin() + (k + 1) * 64));
            grow(minifat_, m);
            if (dir_[entry].start == kFree)
                dir_[entry].start = m;
            else
                minifat_[last_of(minifat_, dir_[entry].start)] = m;
            minifat_[m] = kEnd;
            dir_[0].size += 64;
        }
        std::fill(s.staging.begin(), s.staging.end(), 0);
        if (pos_ % 512 != 0)
            put(Bytes(512 - pos_ % 512, 0));
        pos_ = file_.size();
    }

    static void encode(const Entry &e, Bytes &bytes, size_t at)
    {
        for (size_t c = 0; c < e.name.size(); ++c)
            bytes[at + 2 * c] = static_cast<uint8_t>(e.name[c]);
        put16(bytes, at + 64, static_cast<uint16_t>((e.name.size() + 1) * 2));
        bytes[at + 66] = e.type;
        bytes[at + 67] = e.colour;
        put32(bytes, at + 68, e.left);
        put32(bytes, at + 72, e.right);
        put32(bytes, at + 76, e.child);
        const uint8_t root_class[16] = {0x70, 0xAE, 0x7B, 0xEA, 0x3B, 0xFB, 0xCD, 0x11,
                                        0xA9, 0x03, 0x00, 0xAA, 0x00, 0x51, 0x0E, 0xA3};
        const uint8_t storage_class[16] = {0x01, 0x08, 0x02, 0x00, 0x00, 0x00, 0x00, 0x00,
                                           0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46};
        if (e.type == 5)
            std::copy(root_class, root_class + 16, bytes.begin() + at + 80);
        if (e.type == 1)
            std::copy(storage_class, storage_class + 16, bytes.begin() + at + 80);
        put32(bytes, at + 116, e.start);
        put32(bytes, at + 120, e.size);
        if (e.type != 2)
            bytes[at + 126] = bytes[at + 127] = 0x92;
    }

    Bytes file_;
    size_t pos_ = 0;
    std::vector<uint32_t> fat_, minifat_;
    std::vector<Entry> dir_;
    std::map<uint32_t, Stream> streams_;
    uint32_t first_dir_ = kFree, first_minifat_ = kFree;
};

// One scenario: storages and streams made in a random order, several
// streams open at once and written in interleaved calls of random sizes,
// closed in a random order; our writer and the model do the same steps.
struct Scenario {
    uint32_t seed;
    std::vector<uint32_t> sizes; // one stream each
    uint32_t storages;
    uint32_t open_at_once;
};

void run(const Scenario &sc)
{
    SCOPED_TRACE(sc.seed);
    std::mt19937 rng(sc.seed);
    iotest::TempDir tmp;
    const std::string path = tmp.file("m.cfb");
    QorFile out = qorOpen(path.c_str(), nullptr, QOR_CREATE | QOR_WRITE);
    ASSERT_NE(out, nullptr);
    QorFile root = qorCreateStorage(out, nullptr, "Root Entry");
    ASSERT_NE(root, nullptr);
    Model model;

    std::vector<QorFile> storages{root};
    std::vector<uint32_t> storage_entries{0};
    for (uint32_t i = 0; i < sc.storages; ++i) {
        const size_t parent = rng() % storages.size();
        const std::string name = "St" + std::string(rng() % 6, 'x') + std::to_string(i);
        QorFile storage = qorCreateStorage(out, storages[parent], name.c_str());
        ASSERT_NE(storage, nullptr);
        storages.push_back(storage);
        storage_entries.push_back(model.add(storage_entries[parent], name, 1));
    }

    struct Open {
        QorFile handle;
        uint32_t entry;
        Bytes data;
        size_t done;
    };
    std::vector<Open> open;
    size_t next = 0;
    while (next < sc.sizes.size() || !open.empty()) {
        if (next < sc.sizes.size() && open.size() < sc.open_at_once) {
            const size_t parent = rng() % storages.size();
            const std::string name = std::string(1 + rng() % 8, 'a' + static_cast<char>(rng() % 26)) + std::to_string(next);
            Bytes data(sc.sizes[next]);
            for (auto &b : data)
                b = static_cast<uint8_t>(rng());
            QorFile stream = qorCreateStream(storages[parent], name.c_str());
            ASSERT_NE(stream, nullptr) << name;
            open.push_back({stream, model.add(storage_entries[parent], name, 2), std::move(data), 0});
            ++next;
            continue;
        }
        Open &s = open[rng() % open.size()];
        if (s.done < s.data.size()) {
            const size_t n = std::min<size_t>(s.data.size() - s.done, 1 + rng() % 5000);
            const Bytes piece(s.data.begin() + s.done, s.data.begin() + s.done + n);
            ASSERT_EQ(qorWrite(s.handle, piece.data(), static_cast<int32_t>(n)), static_cast<int32_t>(n));
            model.write(s.entry, piece);
            s.done += n;
        } else {
            ASSERT_EQ(qorCloseStream(s.handle), 0);
            model.close(s.entry);
            open.erase(open.begin() + (&s - open.data()));
        }
    }
    for (size_t i = storages.size(); i-- > 1;)
        ASSERT_EQ(qorCloseStorage(storages[i]), 0);
    ASSERT_EQ(qorCloseStorage(root), 0);
    ASSERT_EQ(qorClose(out), 0);

    const Bytes ours = iotest::read_file(path);
    const Bytes expected = model.finish();
    ASSERT_EQ(ours.size(), expected.size());
    for (size_t i = 0; i < ours.size(); ++i)
        ASSERT_EQ(ours[i], expected[i]) << "first difference at byte " << i << " (sector " << (i / 512) - 1 << ")";
}

std::vector<uint32_t> random_sizes(uint32_t seed, size_t count, uint32_t most)
{
    std::mt19937 rng(seed);
    const uint32_t edges[] = {0, 1, 63, 64, 65, 511, 512, 513, 4095, 4096, 4097, 8191, 8192};
    std::vector<uint32_t> sizes;
    for (size_t i = 0; i < count; ++i)
        sizes.push_back(rng() % 3 == 0 ? edges[rng() % 13] : rng() % most);
    return sizes;
}

TEST(CfbWriterModel, SmallAndRegularStreamsInterleaved)
{
    for (uint32_t seed = 1; seed <= 40; ++seed)
        run({seed, random_sizes(seed, 3 + seed % 12, seed % 2 ? 6000 : 20000), seed % 5, 1 + seed % 4});
}

TEST(CfbWriterModel, MiniStreamMeetsOtherDataAndMiniFatGrows)
{
    // Many small streams while large ones are written between them: the
    // mini stream's sectors are scattered, the MiniFAT passes 128 entries.
    for (uint32_t seed = 100; seed < 110; ++seed) {
        std::vector<uint32_t> sizes;
        std::mt19937 rng(seed);
        for (int i = 0; i < 60; ++i)
            sizes.push_back(i % 7 == 3 ? 4096 + rng() % 9000 : 1 + rng() % 4095);
        run({seed, sizes, 3, 3});
    }
}

TEST(CfbWriterModel, FatPastOneSectorAndManyEntries)
{
    // 300 KB and 70 entries: several FAT sectors, directory of 18 sectors.
    std::vector<uint32_t> sizes(70, 100);
    sizes[10] = 300000;
    sizes[40] = 150000;
    run({7, sizes, 5, 2});
}

TEST(CfbWriterModel, FatNeedingDifatSectors)
{
    // 110 FAT sectors and more: the FAT's own sectors, DIFAT sectors.
    for (uint32_t size : {110u * 128 * 512 - 40000, 112u * 128 * 512, 127u * 128 * 512 + 300})
        run({size, {3000, size, 200}, 1, 2});
}

// ------------------------------------------------------------- reader --

// A stream as the reader's model sees it: the file image, the tables, the
// stream's entry and its position.
struct ReadModel {
    const Bytes *file;
    std::vector<uint32_t> fat, minifat;
    uint32_t mini_start, start, size, pos = 0;

    // A link-by-link walk: start unchanged when it is outside the table or
    // the offset lies in the first sector, else k links, stopping at the
    // first link outside the table.
    static uint32_t get_sect(uint32_t start, uint32_t offset, uint32_t sector_size,
                             const std::vector<uint32_t> &table)
    {
        const uint32_t limit = static_cast<uint32_t>(table.size());
        if (start >= limit || offset < sector_size)
            return start;
        uint32_t sector = start;
        for (uint32_t k = offset / sector_size; k > 0; --k) {
            sector = table[sector];
            if (sector >= limit)
                return sector;
        }
        return sector;
    }

    int32_t read(uint8_t *out, uint32_t count)
    {
        if (static_cast<int32_t>(size) < 0)
            return 0;
        uint32_t remaining = pos + count > size ? size - pos : count;
        const bool regular = size >= 4096;
        const uint32_t ss = regular ? 512 : 64;
        const std::vector<uint32_t> &table = regular ? fat : minifat;
        uint32_t sector = get_sect(start, pos, ss, table);
        if (sector >= table.size())
            return 0;
        int32_t result = 0;
        while (remaining > 0) {
            const uint32_t offset = pos % ss;
            const uint32_t chunk = std::min(remaining, ss - offset);
            uint64_t at;
            if (regular) {
                at = (uint64_t{sector} + 1) * 512 + offset;
            } else {
                const uint32_t in_mini = sector * 64 + offset;
                at = (uint64_t{get_sect(mini_start, in_mini, 512, fat)} + 1) * 512 + in_mini % 512;
            }
            const uint64_t have = at < file->size() ? std::min<uint64_t>(chunk, file->size() - at) : 0;
            std::copy(file->begin() + static_cast<ptrdiff_t>(at), file->begin() + static_cast<ptrdiff_t>(at + have),
                      out + result);
            pos += chunk;
            result += static_cast<int32_t>(chunk);
            remaining -= chunk;
            if (have < chunk)
                break;
            if (remaining > 0) {
                sector = table[sector];
                if (sector >= table.size())
                    return -1;
            }
        }
        return result;
    }

    int32_t seek(int32_t offset, int32_t whence)
    {
        int64_t p;
        if (whence == 0)
            p = offset;
        else if (whence == 1)
            p = std::max<int64_t>(int64_t{pos} + offset, 0);
        else if (whence == 2)
            p = int64_t{size} - offset;
        else
            return -1;
        pos = static_cast<uint32_t>(std::clamp<int64_t>(p, 0, size));
        return static_cast<int32_t>(pos);
    }
};

// A random next-sector value: mostly the next sector, sometimes the end, a
// free entry, a sector met before (a cycle), one past the file or past the
// table, or a far value.
uint32_t random_link(std::mt19937 &rng, uint32_t self, uint32_t lowest, uint32_t highest, uint32_t table)
{
    switch (rng() % 12) {
    case 0: return kEnd;
    case 1: return kFree;
    case 2: return lowest + rng() % (highest - lowest + 1);
    case 3: return table + rng() % 4;
    case 4: return rng() % table;
    case 5: return 0x80000000u + rng() % 100;
    default: return self + 1;
    }
}

TEST(CfbReaderModel, RandomSeeksAndReadsOverRandomChains)
{
    for (uint32_t seed = 1; seed <= 300; ++seed) {
        SCOPED_TRACE(seed);
        std::mt19937 rng(seed);
        // Sector 0 FAT, 1 directory, 2..49 regular data, 50 MiniFAT, 51..58
        // the mini stream's sectors; the file ends at sector 58 or earlier.
        Image image;
        const uint32_t last = 40 + rng() % 19;
        image.ensure_sector(last);
        for (size_t i = image.sector_at(2); i < image.bytes.size(); ++i)
            image.bytes[i] = static_cast<uint8_t>(rng());
        ReadModel m;
        m.fat.assign(128, kFree);
        m.fat[0] = 0xFFFFFFFDu;
        m.fat[1] = kEnd;
        for (uint32_t s = 2; s < 128; ++s)
            m.fat[s] = random_link(rng, s, 2, 60, 128);
        m.fat[50] = kEnd;
        const uint32_t mini_sectors = rng() % 2 ? 128 : 256; // MiniFAT of one or two sectors
        m.minifat.assign(mini_sectors, kFree);
        for (uint32_t s = 0; s < mini_sectors; ++s)
            m.minifat[s] = random_link(rng, s, 0, 70, mini_sectors);
        for (uint32_t i = 0; i < 128; ++i)
            image.fat(i, m.fat[i]);
        // A MiniFAT of two sectors goes on in sector 59 (chained from 50).
        if (mini_sectors == 256) {
            image.fat(50, 59);
            image.fat(59, kEnd);
            m.fat[50] = 59;
            m.fat[59] = kEnd;
            image.ensure_sector(59);
        }
        for (uint32_t i = 0; i < mini_sectors; ++i)
            put32(image.bytes, image.sector_at(i < 128 ? 50 : 59) + 4 * (i % 128), m.minifat[i]);
        put32(image.bytes, 60, 50);
        put32(image.bytes, 64, mini_sectors / 128);

        m.mini_start = rng() % 8 ? 51 + rng() % 8 : 200;
        const bool mini = rng() % 2;
        m.size = mini ? 1 + rng() % 4095 : 4096 + rng() % 30000;
        m.start = mini ? rng() % (mini_sectors + 4) : 2 + rng() % 60;
        if (rng() % 16 == 0)
            m.size |= 0x80000000u; // negative as a signed size: nothing to read
        image.entry(0, "Root Entry", 5, kFree, kFree, 1, m.mini_start, 64 * 64);
        image.entry(1, "S", 2, kFree, kFree, kFree, m.start, m.size);
        m.file = &image.bytes;

        Source source(SourceKind::Path, image.bytes);
        QorFile root = qorOpenStorage(source.file(), "Root Entry");
        ASSERT_NE(root, nullptr);
        QorFile s = qorOpenStream(root, "S");
        ASSERT_NE(s, nullptr);
        for (int op = 0; op < 120; ++op) {
            if (rng() % 3 == 0) {
                const int32_t whence = static_cast<int32_t>(rng() % 4);
                const int32_t offset = static_cast<int32_t>(rng() % 40000) - 5000;
                ASSERT_EQ(qorSeek(s, offset, whence), m.seek(offset, whence)) << op;
            } else {
                const uint32_t count = rng() % 4 == 0 ? rng() % 70 : rng() % 3000;
                Bytes ours(count + 16, 0xA5), expected(count + 16, 0xA5);
                ASSERT_EQ(qorRead(s, ours.data(), static_cast<int32_t>(count)), m.read(expected.data(), count))
                    << op;
                ASSERT_EQ(ours, expected) << op;
            }
            ASSERT_EQ(static_cast<uint32_t>(qorSeek(s, 0, SEEK_CUR)), m.pos) << op;
        }
        qorCloseStream(s);
        qorCloseStorage(root);
    }
}

// qorGetSect against a link-by-link walk, with limits below the table's
// size too (a link at or above the limit stops the walk even when the table
// has that entry), over tables full of cycles.
TEST(CfbReaderModel, GetSectIsALinkByLinkWalk)
{
    std::mt19937 rng(5);
    auto *table = static_cast<uint32_t *>(qorPtrGlobalAlloc(64 * 4));
    for (int round = 0; round < 2000; ++round) {
        for (uint32_t i = 0; i < 64; ++i)
            table[i] = rng() % 5 == 0 ? 0xFFFFFFFEu : rng() % 70;
        const uint32_t limit = 1 + rng() % 64;
        const uint32_t start = rng() % 72;
        const uint32_t size = rng() % 2 ? 512 : 64;
        const uint32_t offset = round % 100 == 0 ? rng() : rng() % (size * 200);
        uint32_t expected = start;
        if (start < limit && offset >= size) {
            for (uint32_t k = offset / size; k > 0 && expected < limit; --k)
                expected = table[expected];
        }
        ASSERT_EQ(qorGetSect(start, offset, size, table, limit), expected)
            << start << " " << offset << " " << size << " " << limit;
    }
    qorPtrGlobalFree(table);
}

} // namespace
