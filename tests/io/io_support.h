// I/O test helpers: files, memory blocks, QorFile sources, written trees, olefile as independent reader.
#pragma once

#include "io/qorfile_rec.h"
#include "support.h"

#include <kxfpx/memory.h>
#include <kxfpx/qorfile.h>
#include <kxfpx/storage.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <map>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

using namespace kxfpx::io;

namespace iotest {

using Bytes = std::vector<uint8_t>;
using kxtest::TempDir;

inline void write_file(const std::string &path, const Bytes &b)
{
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char *>(b.data()), std::streamsize(b.size()));
}
inline Bytes read_file(const std::string &path)
{
    const std::string text = kxtest::read_file(path);
    return Bytes(text.begin(), text.end());
}

inline Bytes pattern(size_t n) // does not repeat every 256 bytes
{
    Bytes out(n);
    for (size_t i = 0; i < n; i++)
        out[i] = static_cast<uint8_t>(i * 7 + i / 251);
    return out;
}

// A caller's movable block as a host hands it to qorOpen; `data` is rewritten when the block grows.
struct MemoryBlock {
    explicit MemoryBlock(const Bytes &contents, uint32_t size = 0)
    {
        const uint32_t n = size ? size : static_cast<uint32_t>(contents.size());
        data = GlobalLock(GlobalAlloc(KX_GHND, n));
        std::copy(contents.begin(), contents.end(), static_cast<uint8_t *>(data));
        desc.blockPtr = &data, desc.blockSize = static_cast<int32_t>(n);
    }
    ~MemoryBlock() { GlobalFree(GlobalHandle(data)); }
    uint32_t size() const { return GlobalSize(GlobalHandle(data)); }
    Bytes bytes(size_t n) const { return Bytes(static_cast<uint8_t *>(data), static_cast<uint8_t *>(data) + n); }
    void *data = nullptr;
    QorOpenDesc desc{};
};

inline QorFileRec &record(QorFile file) { return *static_cast<QorFileRec *>(GlobalLock(file)); }

// Writes into a growing memory block.
struct Sink {
    explicit Sink(int16_t byteOrder = 0, int16_t floatFormat = 0, uint32_t growBy = 64, uint32_t size = 16)
        : block(Bytes(), size)
    {
        block.desc.growBy = growBy;
        file = qorOpen(nullptr, &block.desc, QOR_CREATE | QOR_WRITE);
        qorSetDataFormat(file, byteOrder, floatFormat);
    }
    ~Sink() { qorClose(file); }
    Bytes written() const { return block.bytes(static_cast<size_t>(record(file).bufLast + 1)); }
    MemoryBlock block;
    QorFile file;
};

struct Node { std::string name; bool storage = false; Bytes data; std::vector<Node> children; };
inline Node stream_node(const std::string &name, Bytes data) { return {name, false, std::move(data), {}}; }
inline Node storage_node(const std::string &name, std::vector<Node> kids) { return {name, true, {}, std::move(kids)}; }

// Writes the children of `parent` with our writer, data in calls of `chunk`.
inline bool write_children(QorFile out, QorFile parent, const std::vector<Node> &children, size_t chunk)
{
    bool ok = true;
    for (const Node &node : children) {
        QorFile made = node.storage ? qorCreateStorage(out, parent, node.name.c_str())
                                    : qorCreateStream(parent, node.name.c_str());
        ok = ok && made && (!node.storage || write_children(out, made, node.children, chunk));
        for (size_t at = 0; ok && at < node.data.size(); at += chunk) {
            const int32_t n = static_cast<int32_t>(std::min(chunk, node.data.size() - at));
            ok = qorWrite(made, node.data.data() + at, n) == n;
        }
        ok = made && (node.storage ? qorCloseStorage(made) : qorCloseStream(made)) == 0 && ok;
    }
    return ok;
}

inline bool write_tree(const std::string &path, const std::vector<Node> &children, size_t chunk = 4096)
{
    QorFile out = qorOpen(path.c_str(), nullptr, QOR_CREATE | QOR_WRITE);
    QorFile root = qorCreateStorage(out, nullptr, "Root Entry");
    const bool ok = root && write_children(out, root, children, chunk) && qorCloseStorage(root) == 0;
    return qorClose(out) == 0 && ok;
}

inline Bytes written_image(const std::vector<Node> &tree, size_t chunk = 4096)
{
    TempDir dir;
    EXPECT_TRUE(write_tree(dir.file("t.cfb"), tree, chunk));
    return read_file(dir.file("t.cfb"));
}

enum class SourceKind { Path, Memory, Callback };
constexpr SourceKind kAllSources[] = {SourceKind::Path, SourceKind::Memory, SourceKind::Callback};

// A file image served through a host callback.
struct ImageState { Bytes bytes; int64_t position = 0; };

inline int64_t image_callback(void *handle, int32_t op, void *data, int64_t count)
{
    auto &s = *static_cast<ImageState *>(handle);
    const int64_t size = static_cast<int64_t>(s.bytes.size());
    if (op == QOR_IO_READ) {
        const int64_t n = std::max<int64_t>(0, std::min(count, size - s.position));
        std::copy_n(s.bytes.data() + std::min(s.position, size), n, static_cast<uint8_t *>(data));
        return s.position += n, n;
    }
    if (op == QOR_IO_SEEK) {
        const int64_t base = count == SEEK_SET ? 0 : count == SEEK_CUR ? s.position : size;
        const int64_t to = *static_cast<int32_t *>(data) + base;
        return to < 0 || count < 0 || count > 2 ? -1 : (s.position = to);
    }
    return op == QOR_IO_OPEN ? reinterpret_cast<intptr_t>(handle) : 0;
}

// A file image opened as a QorFile of the given kind and data format.
struct Source {
    Source(SourceKind kind, const Bytes &image, int16_t byteOrder = 0, int16_t floatFormat = 0) : state{image}
    {
        if (kind == SourceKind::Path) {
            write_file(dir.file("image.cfb"), image);
            file = qorOpen(dir.file("image.cfb").c_str(), nullptr, QOR_READ);
        } else if (kind == SourceKind::Memory) {
            state.bytes.push_back(0xFF); // a memory block ends with its end marker
            block = std::make_unique<MemoryBlock>(state.bytes);
            file = qorOpen("", &block->desc, QOR_READ);
        } else {
            desc.blockPtr = &state;
            desc.ioCallback = image_callback;
            file = qorOpen("image.cfb", &desc, QOR_READ);
        }
        qorSetDataFormat(file, byteOrder, floatFormat);
    }
    ~Source() { qorClose(file); }
    TempDir dir;
    ImageState state;
    QorOpenDesc desc{};
    std::unique_ptr<MemoryBlock> block;
    QorFile file = nullptr;
};

// Reads from a memory block closed by its end marker.
struct Reader : Source {
    explicit Reader(const Bytes &bytes, int16_t byteOrder = 0, int16_t floatFormat = 0)
        : Source(SourceKind::Memory, bytes, byteOrder, floatFormat) {}
};

// A stream by path ("a/b/c") read to its end in calls of `chunk` bytes (at most a million calls).
struct StreamRead {
    bool opened = false;
    Bytes bytes;
    int32_t first = 0, last = 0, calls = 0; // the first and last reads' results
    std::optional<Bytes> whole() const { return opened && last == 0 ? std::optional<Bytes>(bytes) : std::nullopt; }
};

inline StreamRead read_stream(QorFile file, const std::string &path, int32_t chunk)
{
    std::vector<std::string> parts;
    std::stringstream in(path);
    for (std::string part; std::getline(in, part, '/');)
        parts.push_back(part);
    std::vector<QorFile> storages{qorOpenStorage(file, "Root Entry")};
    while (storages.back() && storages.size() < parts.size())
        storages.push_back(qorOpenStorage(storages.back(), parts[storages.size() - 1].c_str()));
    StreamRead out;
    if (QorFile stream = storages.back() ? qorOpenStream(storages.back(), parts.back().c_str()) : nullptr) {
        out.opened = true;
        Bytes buf(static_cast<size_t>(chunk), 0xEE);
        for (; out.calls < 1000000 && (out.last = qorRead(stream, buf.data(), chunk)) > 0; ++out.calls) {
            out.first = out.calls ? out.first : out.last;
            out.bytes.insert(out.bytes.end(), buf.begin(), buf.begin() + out.last);
        }
        out.first = out.calls ? out.first : out.last;
        qorCloseStream(stream);
    }
    for (auto it = storages.rbegin(); it != storages.rend(); ++it)
        qorCloseStorage(*it);
    return out;
}

#define KX_REQUIRE_OLEFILE()                                                                                      \
    if (std::system("/usr/bin/python3 -c 'import olefile' >/dev/null 2>&1") != 0)                                 \
    GTEST_SKIP() << "python3-olefile is not installed"

// olefile's view: the root's name, every entry by path (names narrowed to bytes), the streams' bytes.
struct OleView { bool ok = false; std::string rootName; std::map<std::string, std::optional<Bytes>> entries; };

constexpr const char kOleScript[] = R"PY(
import sys, olefile
def enc(name): return ''.join(chr(ord(c) & 0xFF) for c in name).encode('latin-1').hex()
ole = olefile.OleFileIO(sys.argv[1])
with open(sys.argv[2], 'w') as m:
    m.write('root %s x\n' % enc(ole.root.name))
    for e in ole.listdir(streams=True, storages=True):
        stream = ole.get_type(e) == olefile.STGTY_STREAM
        data = ole.openstream(e).read().hex() if stream else ''
        m.write('%s %s x%s\n' % ('stream' if stream else 'storage', enc('/'.join(e)), data))
)PY";

inline Bytes unhex(const std::string &hex, size_t from = 0)
{
    auto nibble = [](char c) { return c <= '9' ? c - '0' : c - 'a' + 10; };
    Bytes out;
    for (size_t i = from; i + 1 < hex.size(); i += 2)
        out.push_back(static_cast<uint8_t>(nibble(hex[i]) << 4 | nibble(hex[i + 1])));
    return out;
}

inline OleView olefile_view(const std::string &path)
{
    OleView view;
    TempDir dir;
    std::ofstream(dir.file("dump.py")) << kOleScript;
    const std::string command = "/usr/bin/python3 " + dir.file("dump.py") + " '" + path + "' " + dir.file("out");
    view.ok = std::system(command.c_str()) == 0;
    std::ifstream in(dir.file("out"));
    for (std::string kind, name, data; view.ok && in >> kind >> name >> data;) {
        const Bytes raw = unhex(name);
        const std::string text(raw.begin(), raw.end());
        if (kind == "root")
            view.rootName = text;
        else
            view.entries[text] = kind == "stream" ? std::optional<Bytes>(unhex(data, 1)) : std::nullopt;
    }
    return view;
}

constexpr uint32_t kFree = 0xFFFFFFFFu, kEnd = 0xFFFFFFFEu;
inline size_t sector_at(uint32_t sector) { return (size_t{sector} + 1) * 512; }
inline void put(Bytes &b, size_t at, uint32_t v, int size = 4)
{
    b.resize(std::max(b.size(), at + size_t(size)));
    for (int i = 0; i < size; ++i)
        b[at + i] = static_cast<uint8_t>(v >> (8 * i));
}
inline uint32_t get32(const Bytes &b, size_t at)
{
    return uint32_t{b[at]} | uint32_t{b[at + 1]} << 8 | uint32_t{b[at + 2]} << 16 | uint32_t{b[at + 3]} << 24;
}

} // namespace iotest
