// Helpers for the I/O tests: files and memory blocks, the four QorFile
// sources over one file image, trees written by our Compound File writer,
// whole-stream reads, Python's olefile as an independent reader, and a
// hand-made Compound File image for hostile cases.
#pragma once

#include "io/qorfile_rec.h"
#include "support.h"

#include <kxfpx/memory.h>
#include <kxfpx/qorfile.h>
#include <kxfpx/storage.h>
#include <options/yt_ut.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

using namespace kxfpx::io;

namespace iotest {

using Bytes = std::vector<uint8_t>;
using kxtest::TempDir;

inline void write_file(const std::string &path, const Bytes &bytes)
{
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char *>(bytes.data()),
                                                static_cast<std::streamsize>(bytes.size()));
}

inline Bytes read_file(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
}

inline Bytes pattern(size_t n) // does not repeat every 256 bytes
{
    Bytes out(n);
    for (size_t i = 0; i < n; i++)
        out[i] = static_cast<uint8_t>((i * 7 + i / 251) & 0xFF);
    return out;
}

// A caller's movable block as a host hands it to qorOpen: `data` holds the
// locked pointer and is rewritten when the block grows.
struct MemoryBlock {
    explicit MemoryBlock(const Bytes &contents, uint32_t size = 0)
    {
        const uint32_t n = size ? size : static_cast<uint32_t>(contents.size());
        data = GlobalLock(GlobalAlloc(KX_GHND, n));
        if (!contents.empty())
            std::memcpy(data, contents.data(), contents.size());
        desc.blockPtr = &data;
        desc.blockSize = static_cast<int32_t>(n);
    }
    ~MemoryBlock() { GlobalFree(GlobalHandle(data)); }
    MemoryBlock(const MemoryBlock &) = delete;
    MemoryBlock &operator=(const MemoryBlock &) = delete;
    uint32_t size() const { return GlobalSize(GlobalHandle(data)); }
    Bytes bytes(size_t n) const { return Bytes(static_cast<uint8_t *>(data), static_cast<uint8_t *>(data) + n); }

    void *data = nullptr;
    QorOpenDesc desc{};
};

inline QorFileRec &record(QorFile file) { return *static_cast<QorFileRec *>(GlobalLock(file)); }

} // namespace iotest

namespace cfbtest {

using iotest::Bytes;

struct Node {
    std::string name;
    bool storage = false;
    Bytes data;
    std::vector<Node> children;
};
inline Node stream_node(const std::string &name, Bytes data) { return Node{name, false, std::move(data), {}}; }
inline Node storage_node(const std::string &name, std::vector<Node> children)
{
    return Node{name, true, {}, std::move(children)};
}

// Writes the children of `parent` with our writer, data in calls of `chunk`.
inline bool write_children(QorFile out, QorFile parent, const std::vector<Node> &children, size_t chunk)
{
    for (const Node &node : children) {
        if (node.storage) {
            QorFile storage = qorCreateStorage(out, parent, node.name.c_str());
            const bool ok = storage && write_children(out, storage, node.children, chunk);
            if (!storage || qorCloseStorage(storage) != 0 || !ok)
                return false;
            continue;
        }
        QorFile stream = qorCreateStream(parent, node.name.c_str());
        if (!stream)
            return false;
        bool ok = true;
        for (size_t at = 0; ok && at < node.data.size(); at += chunk) {
            const int32_t n = static_cast<int32_t>(std::min(chunk, node.data.size() - at));
            ok = qorWrite(stream, node.data.data() + at, n) == n;
        }
        if (qorCloseStream(stream) != 0 || !ok)
            return false;
    }
    return true;
}

inline bool write_tree(const std::string &path, const std::vector<Node> &children, size_t chunk = 4096)
{
    QorFile out = qorOpen(path.c_str(), nullptr, QOR_CREATE | QOR_WRITE);
    if (!out)
        return false;
    QorFile root = qorCreateStorage(out, nullptr, "Root Entry");
    bool ok = root && write_children(out, root, children, chunk);
    if (root)
        ok = qorCloseStorage(root) == 0 && ok;
    return qorClose(out) == 0 && ok;
}

inline Bytes written_image(const std::vector<Node> &tree, size_t chunk = 4096)
{
    iotest::TempDir dir;
    EXPECT_TRUE(write_tree(dir.file("t.cfb"), tree, chunk));
    return iotest::read_file(dir.file("t.cfb"));
}

// ---------------------------------------------------------------- sources

enum class SourceKind { Path, Memory, Callback, Object };
constexpr SourceKind kAllSources[] = {SourceKind::Path, SourceKind::Memory, SourceKind::Callback, SourceKind::Object};

// A file image served through a host callback or a host stream object.
struct ImageState : QorHostStream {
    Bytes bytes;
    int64_t position = 0;
    int64_t seek_to(int64_t offset, int32_t whence)
    {
        const int64_t base = whence == SEEK_SET ? 0 : whence == SEEK_CUR ? position : static_cast<int64_t>(bytes.size());
        if (whence < 0 || whence > 2 || base + offset < 0)
            return -1;
        return position = base + offset;
    }
    int32_t read_into(void *buffer, int64_t count)
    {
        const int64_t n = std::max<int64_t>(0, std::min<int64_t>(count, static_cast<int64_t>(bytes.size()) - position));
        if (n > 0)
            std::memcpy(buffer, bytes.data() + position, static_cast<size_t>(n));
        position += n;
        return static_cast<int32_t>(n);
    }
};

inline int64_t image_callback(void *handle, int32_t op, void *data, int64_t count)
{
    auto *state = static_cast<ImageState *>(handle);
    switch (op) {
    case QOR_IO_OPEN: return reinterpret_cast<intptr_t>(handle);
    case QOR_IO_READ: return state->read_into(data, count);
    case QOR_IO_SEEK: return state->seek_to(*static_cast<int32_t *>(data), static_cast<int32_t>(count));
    default: return 0;
    }
}

inline ImageState *g_object_image = nullptr;
inline int32_t image_hook(QorHostStream **object, char *, uint32_t)
{
    ImageState *state = g_object_image;
    state->close = [](QorHostStream *) { return 0; };
    state->read = [](QorHostStream *s, void *buffer, int32_t count, int32_t *done) {
        *done = static_cast<ImageState *>(s)->read_into(buffer, count);
        return 0;
    };
    state->write = [](QorHostStream *, const void *, int32_t, int32_t *done) { return *done = 0, -9; };
    state->seek = [](QorHostStream *s, int32_t whence, int32_t offset) {
        return static_cast<ImageState *>(s)->seek_to(offset, whence) < 0 ? -1 : 0;
    };
    state->tell = [](QorHostStream *s, int32_t *position) {
        *position = static_cast<int32_t>(static_cast<ImageState *>(s)->position);
        return 0;
    };
    state->request = [](QorHostStream *, int32_t, const char *) { return 0; };
    *object = state;
    return 0;
}

// A file image opened as a QorFile of the given kind, little-endian.
class Source {
public:
    Source(SourceKind kind, const Bytes &image)
    {
        QorOpenDesc desc{};
        state_.bytes = image;
        if (kind == SourceKind::Path) {
            iotest::write_file(dir_.file("image.cfb"), image);
            file_ = qorOpen(dir_.file("image.cfb").c_str(), nullptr, QOR_READ);
        } else if (kind == SourceKind::Memory) {
            Bytes marked = image;
            marked.push_back(0xFF); // a memory block ends with its end marker
            block_ = std::make_unique<iotest::MemoryBlock>(marked);
            file_ = qorOpen("", &block_->desc, QOR_READ);
        } else if (kind == SourceKind::Callback) {
            desc.blockPtr = &state_;
            desc.ioCallback = image_callback;
            file_ = qorOpen("image.cfb", &desc, QOR_READ);
        } else {
            g_object_image = &state_;
            const HostFileHook hook = image_hook;
            HostSetGlobalOption(YT_OPTION_FILE_HOOK, &hook, sizeof hook);
            char path[] = "image.cfb";
            file_ = qorOpen(path, nullptr, QOR_CREATE);
            HostSetGlobalOption(YT_OPTION_FILE_HOOK, nullptr, 0);
        }
        if (file_)
            qorSetDataFormat(file_, 0, 0);
    }
    ~Source()
    {
        if (file_)
            qorClose(file_);
    }
    Source(const Source &) = delete;
    Source &operator=(const Source &) = delete;
    QorFile file() const { return file_; }

private:
    iotest::TempDir dir_;
    std::unique_ptr<iotest::MemoryBlock> block_;
    ImageState state_;
    QorFile file_ = nullptr;
};

// Reads a whole stream named by its path ("a/b/c") through our reader in
// calls of `chunk` bytes; `ok` is false when an open or a read failed.
inline Bytes read_stream(QorFile file, const std::string &path, int32_t chunk, bool &ok)
{
    ok = false;
    Bytes out;
    std::vector<std::string> parts;
    std::stringstream in(path);
    for (std::string part; std::getline(in, part, '/');)
        parts.push_back(part);
    std::vector<QorFile> storages;
    for (QorFile s = qorOpenStorage_ex(file, "Root Entry", 0); s && storages.size() < parts.size();) {
        storages.push_back(s);
        if (storages.size() < parts.size())
            s = qorOpenStorage(s, parts[storages.size() - 1].c_str());
    }
    if (storages.size() == parts.size()) {
        if (QorFile stream = qorOpenStream(storages.back(), parts.back().c_str())) {
            Bytes buf(static_cast<size_t>(chunk));
            int32_t n;
            while ((n = qorRead(stream, buf.data(), chunk)) > 0)
                out.insert(out.end(), buf.begin(), buf.begin() + n);
            ok = n == 0;
            qorCloseStream(stream);
        }
    }
    for (auto it = storages.rbegin(); it != storages.rend(); ++it)
        qorCloseStorage(*it);
    return out;
}

// ---------------------------------------------------------------- olefile

inline bool olefile_available() { return std::system("/usr/bin/python3 -c 'import olefile' >/dev/null 2>&1") == 0; }
#define KX_REQUIRE_OLEFILE()                                                                                      \
    if (!cfbtest::olefile_available())                                                                            \
    GTEST_SKIP() << "python3-olefile is not installed"

// olefile's view: the root's name, every entry by path (names narrowed to
// the low bytes of their UTF-16 units) and the bytes of every stream.
struct OleView {
    bool ok = false;
    std::string rootName;
    std::map<std::string, bool> storages; // path -> is a storage
    std::map<std::string, Bytes> streams;
};

constexpr const char kOleScript[] = R"PY(
import sys, olefile
def enc(name): return ''.join(chr(ord(c) & 0xFF) for c in name).encode('latin-1').hex()
ole = olefile.OleFileIO(sys.argv[1])
with open(sys.argv[2], 'w') as m:
    m.write('root %s x\n' % enc(ole.root.name))
    for entry in ole.listdir(streams=True, storages=True):
        p = enc('/'.join(entry))
        if ole.get_type(entry) == olefile.STGTY_STREAM:
            m.write('stream %s x%s\n' % (p, ole.openstream(entry).read().hex()))
        else:
            m.write('storage %s x\n' % p)
)PY";

inline Bytes unhex(const std::string &hex, size_t from = 0)
{
    auto nibble = [](char c) { return c <= '9' ? c - '0' : c - 'a' + 10; };
    Bytes out;
    out.reserve(hex.size() / 2);
    for (size_t i = from; i + 1 < hex.size(); i += 2)
        out.push_back(static_cast<uint8_t>(nibble(hex[i]) << 4 | nibble(hex[i + 1])));
    return out;
}

inline OleView olefile_view(const std::string &path)
{
    OleView view;
    iotest::TempDir dir;
    std::ofstream(dir.file("dump.py")) << kOleScript;
    const std::string command = "/usr/bin/python3 " + dir.file("dump.py") + " '" + path + "' " + dir.file("out");
    if (std::system(command.c_str()) != 0)
        return view;
    std::ifstream in(dir.file("out"));
    for (std::string kind, name, data; in >> kind >> name >> data;) {
        const Bytes raw = unhex(name);
        const std::string text(raw.begin(), raw.end());
        if (kind == "root")
            view.rootName = text;
        else
            view.storages[text] = kind == "storage";
        if (kind == "stream")
            view.streams[text] = unhex(data, 1);
    }
    view.ok = true;
    return view;
}

// ------------------------------------------------------- hand-made images

inline void put32(Bytes &b, size_t at, uint32_t v)
{
    b.resize(std::max(b.size(), at + 4));
    for (int i = 0; i < 4; ++i)
        b[at + i] = static_cast<uint8_t>(v >> (8 * i));
}
inline void put16(Bytes &b, size_t at, uint16_t v)
{
    b.resize(std::max(b.size(), at + 2));
    b[at] = static_cast<uint8_t>(v);
    b[at + 1] = static_cast<uint8_t>(v >> 8);
}
inline uint32_t get32(const Bytes &b, size_t at)
{
    return uint32_t{b[at]} | uint32_t{b[at + 1]} << 8 | uint32_t{b[at + 2]} << 16 | uint32_t{b[at + 3]} << 24;
}

// A small Compound File laid out by hand: FAT in sector 0, directory in
// sector 1, no MiniFAT. Sector s starts at (s + 1) * 512.
struct Image {
    static constexpr uint32_t kFree = 0xFFFFFFFFu, kEnd = 0xFFFFFFFEu, kFatMark = 0xFFFFFFFDu;
    Bytes bytes = Bytes(512 * 3, 0);

    Image()
    {
        static const uint8_t signature[8] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};
        std::memcpy(bytes.data(), signature, 8);
        const std::pair<size_t, uint16_t> shorts[] = {{24, 0x3E}, {26, 3}, {28, 0xFFFE}, {30, 9}, {32, 6}};
        for (const auto &[at, v] : shorts)
            put16(bytes, at, v);
        // FAT sectors, directory, cutoff, MiniFAT start and count, DIFAT start and count.
        const std::pair<size_t, uint32_t> longs[] = {{44, 1}, {48, 1}, {56, 4096}, {60, kEnd}, {64, 0}, {68, kEnd}, {72, 0}};
        for (const auto &[at, v] : longs)
            put32(bytes, at, v);
        for (uint32_t i = 0; i < 109; ++i)
            put32(bytes, 76 + 4 * i, i == 0 ? 0 : kFree);
        for (uint32_t i = 0; i < 128; ++i)
            fat(i, i == 0 ? kFatMark : i == 1 ? kEnd : kFree);
    }
    static size_t sector_at(uint32_t sector) { return (size_t{sector} + 1) * 512; }
    void ensure_sector(uint32_t sector) { bytes.resize(std::max(bytes.size(), sector_at(sector) + 512), 0); }
    void fat(uint32_t index, uint32_t value) { put32(bytes, sector_at(0) + 4 * index, value); }

    // Directory entry n of the directory sector (0..3).
    void entry(uint32_t n, const std::string &name, uint8_t type, uint32_t left, uint32_t right, uint32_t child,
               uint32_t start, uint32_t size)
    {
        const size_t at = sector_at(1) + 128 * n;
        std::fill(bytes.begin() + at, bytes.begin() + at + 128, 0);
        for (size_t i = 0; i < name.size() && i < 31; ++i)
            bytes[at + 2 * i] = static_cast<uint8_t>(name[i]);
        put16(bytes, at + 64, static_cast<uint16_t>((name.size() + 1) * 2));
        bytes[at + 66] = type;
        for (const auto &[off, v] : {std::pair<size_t, uint32_t>{68, left}, {72, right}, {76, child}, {116, start}, {120, size}})
            put32(bytes, at + off, v);
    }

    // A regular stream's data in consecutive chained sectors from `first`.
    void regular_data(uint32_t first, const Bytes &data)
    {
        const uint32_t sectors = static_cast<uint32_t>((data.size() + 511) / 512);
        for (uint32_t i = 0; i < sectors; ++i) {
            ensure_sector(first + i);
            const size_t n = std::min<size_t>(512, data.size() - size_t{i} * 512);
            std::memcpy(bytes.data() + sector_at(first + i), data.data() + size_t{i} * 512, n);
            fat(first + i, i + 1 < sectors ? first + i + 1 : kEnd);
        }
    }
};

} // namespace cfbtest
