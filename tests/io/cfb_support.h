// Helpers for the Compound File tests: a tree of storages and streams that
// our writer writes, the four kinds of QorFile source over a file image
// (path, memory block, host callback, host stream object), whole-stream reads
// through our reader, Python's olefile as an independent reader, and a
// builder of hand-made (often hostile) Compound File images.
#pragma once

#include "qorfile_support.h"

#include <kxfpx/qorfile.h>
#include <kxfpx/storage.h>
#include <options/yt_ut.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

namespace cfbtest {

using iotest::Bytes;

// ---------------------------------------------------------------- trees --

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

// Writes the children of `parent` (a storage handle) with our writer; data
// goes in calls of `chunk` bytes. False at the first refusal.
inline bool write_children(QorFile out, QorFile parent, const std::vector<Node> &children, size_t chunk)
{
    for (const Node &node : children) {
        if (node.storage) {
            QorFile storage = qorCreateStorage(out, parent, node.name.c_str());
            if (!storage)
                return false;
            const bool ok = write_children(out, storage, node.children, chunk);
            if (qorCloseStorage(storage) != 0 || !ok)
                return false;
        } else {
            QorFile stream = qorCreateStream(parent, node.name.c_str());
            if (!stream)
                return false;
            for (size_t at = 0; at < node.data.size(); at += chunk) {
                const int32_t n = static_cast<int32_t>(std::min(chunk, node.data.size() - at));
                if (qorWrite(stream, node.data.data() + at, n) != n) {
                    qorCloseStream(stream);
                    return false;
                }
            }
            if (qorCloseStream(stream) != 0)
                return false;
        }
    }
    return true;
}

// Writes a whole file at `path`: root "Root Entry" and the given children.
inline bool write_tree(const std::string &path, const std::vector<Node> &children, size_t chunk = 4096)
{
    QorFile out = qorOpen(path.c_str(), nullptr, QOR_CREATE | QOR_WRITE);
    if (!out)
        return false;
    QorFile root = qorCreateStorage(out, nullptr, "Root Entry");
    bool ok = root != nullptr && write_children(out, root, children, chunk);
    if (root)
        ok = qorCloseStorage(root) == 0 && ok;
    return qorClose(out) == 0 && ok;
}

// Every stream of a tree with its path ("a/b/c") and data.
inline void flatten(const std::vector<Node> &nodes, const std::string &prefix,
                    std::map<std::string, const Node *> &out)
{
    for (const Node &node : nodes) {
        const std::string path = prefix.empty() ? node.name : prefix + "/" + node.name;
        out[path] = &node;
        if (node.storage)
            flatten(node.children, path, out);
    }
}

// -------------------------------------------------------------- sources --

enum class SourceKind { Path, Memory, Callback, Object };
constexpr SourceKind kAllSources[] = {SourceKind::Path, SourceKind::Memory, SourceKind::Callback, SourceKind::Object};
inline const char *source_name(SourceKind kind)
{
    switch (kind) {
    case SourceKind::Path: return "path";
    case SourceKind::Memory: return "memory";
    case SourceKind::Callback: return "callback";
    default: return "object";
    }
}

// A file image served through a host callback or a host stream object.
struct ImageState : QorHostStream {
    Bytes bytes;
    int64_t position = 0;

    int64_t seek_to(int64_t offset, int32_t whence)
    {
        const int64_t base = whence == SEEK_SET ? 0 : whence == SEEK_CUR ? position : static_cast<int64_t>(bytes.size());
        if (whence < 0 || whence > 2 || base + offset < 0)
            return -1;
        position = base + offset;
        return position;
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
    case QOR_IO_WRITE: return 0;
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
    state->write = [](QorHostStream *, const void *, int32_t, int32_t *done) {
        *done = 0;
        return -9;
    };
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

// Opens a file image as a QorFile of the given kind, little-endian as a
// Compound File reader wants it. The source lives as long as this object.
class Source {
public:
    Source(SourceKind kind, const Bytes &image) : kind_(kind)
    {
        switch (kind) {
        case SourceKind::Path:
            path_ = dir_.file("image.cfb");
            iotest::write_file(path_, image);
            file_ = qorOpen(path_.c_str(), nullptr, QOR_READ);
            break;
        case SourceKind::Memory: {
            // A memory block ends with its end marker byte.
            Bytes marked = image;
            marked.push_back(0xFF);
            block_ = std::make_unique<iotest::MemoryBlock>(marked);
            file_ = qorOpen("", &block_->desc, QOR_READ);
            break;
        }
        case SourceKind::Callback: {
            state_.bytes = image;
            QorOpenDesc desc{};
            desc.blockPtr = &state_;
            desc.ioCallback = image_callback;
            file_ = qorOpen("image.cfb", &desc, QOR_READ);
            break;
        }
        case SourceKind::Object: {
            state_.bytes = image;
            g_object_image = &state_;
            const HostFileHook hook = image_hook;
            HostSetGlobalOption(YT_OPTION_FILE_HOOK, &hook, sizeof hook);
            char path[] = "image.cfb";
            file_ = qorOpen(path, nullptr, QOR_CREATE);
            HostSetGlobalOption(YT_OPTION_FILE_HOOK, nullptr, 0);
            break;
        }
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
    SourceKind kind_;
    iotest::TempDir dir_;
    std::string path_;
    std::unique_ptr<iotest::MemoryBlock> block_;
    ImageState state_;
    QorFile file_ = nullptr;
};

// ---------------------------------------------------------------- reads --

inline std::vector<std::string> split_path(const std::string &path)
{
    std::vector<std::string> parts;
    std::stringstream in(path);
    std::string part;
    while (std::getline(in, part, '/'))
        parts.push_back(part);
    return parts;
}

// Reads a whole stream, named by its path of storages, through our reader
// in calls of `chunk` bytes. `ok` is false when an open failed.
inline Bytes read_stream(QorFile file, const std::string &path, int32_t chunk, bool &ok)
{
    ok = false;
    Bytes out;
    const std::vector<std::string> parts = split_path(path);
    std::vector<QorFile> storages;
    QorFile root = qorOpenStorage_ex(file, "Root Entry", 0);
    if (!root)
        return out;
    storages.push_back(root);
    for (size_t i = 0; i + 1 < parts.size(); ++i) {
        QorFile next = qorOpenStorage(storages.back(), parts[i].c_str());
        if (!next)
            break;
        storages.push_back(next);
    }
    if (storages.size() == parts.size()) {
        if (QorFile stream = qorOpenStream(storages.back(), parts.back().c_str())) {
            std::vector<uint8_t> buf(static_cast<size_t>(chunk));
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

// -------------------------------------------------------------- olefile --

constexpr const char kPython[] = "/usr/bin/python3";

inline bool olefile_available()
{
    const std::string command = std::string(kPython) + " -c \"import olefile\" >/dev/null 2>&1";
    return std::system(command.c_str()) == 0;
}

#define KX_REQUIRE_OLEFILE()                                                                   \
    do {                                                                                       \
        if (!cfbtest::olefile_available())                                                     \
            GTEST_SKIP() << "python3-olefile is not installed";                                \
    } while (0)

// olefile's view of a file: entries by path (names narrowed to the low
// bytes of their UTF-16 units) and the bytes of every stream.
struct OleView {
    bool ok = false;
    std::string error;
    std::string rootName;
    std::map<std::string, bool> storages; // path -> is a storage
    std::map<std::string, Bytes> streams;
};

constexpr const char kOleScript[] = R"PY(
import os, sys, olefile
path, out = sys.argv[1], sys.argv[2]
def narrow(name): return ''.join(chr(ord(c) & 0xFF) for c in name)
def enc(name): return narrow(name).encode('latin-1').hex()
ole = olefile.OleFileIO(path)
with open(os.path.join(out, 'manifest.txt'), 'w') as m:
    m.write('root\t%s\n' % enc(ole.root.name))
    for i, entry in enumerate(ole.listdir(streams=True, storages=True)):
        p = '/'.join(enc(n) for n in entry)
        if ole.get_type(entry) == olefile.STGTY_STREAM:
            data = ole.openstream(entry).read()
            with open(os.path.join(out, 's%d.bin' % i), 'wb') as f:
                f.write(data)
            m.write('stream\t%s\ts%d.bin\n' % (p, i))
        else:
            m.write('storage\t%s\n' % p)
ole.close()
)PY";

inline std::string unhex(const std::string &hex)
{
    std::string out;
    for (size_t i = 0; i + 1 < hex.size(); i += 2)
        out.push_back(static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16)));
    return out;
}

inline std::string unhex_path(const std::string &hex_path)
{
    std::string out;
    for (const std::string &part : split_path(hex_path))
        out += (out.empty() ? "" : "/") + unhex(part);
    return out;
}

inline OleView olefile_view(const std::string &path)
{
    OleView view;
    iotest::TempDir dir;
    const std::string script = dir.file("dump.py");
    iotest::write_text(script, kOleScript);
    const std::string out = dir.file("");
    const std::string command = std::string(kPython) + " " + script + " '" + path + "' '" + out + "' 2>'" +
                                dir.file("stderr.txt") + "'";
    if (std::system(command.c_str()) != 0) {
        const Bytes err = iotest::read_file(dir.file("stderr.txt"));
        view.error.assign(err.begin(), err.end());
        return view;
    }
    const Bytes manifest = iotest::read_file(dir.file("manifest.txt"));
    std::stringstream lines(std::string(manifest.begin(), manifest.end()));
    std::string line;
    while (std::getline(lines, line)) {
        std::vector<std::string> fields;
        std::stringstream in(line);
        std::string field;
        while (std::getline(in, field, '\t'))
            fields.push_back(field);
        if (fields.size() == 2 && fields[0] == "root") {
            view.rootName = unhex(fields[1]);
        } else if (fields.size() == 2 && fields[0] == "storage") {
            view.storages[unhex_path(fields[1])] = true;
        } else if (fields.size() == 3 && fields[0] == "stream") {
            const std::string name = unhex_path(fields[1]);
            view.storages[name] = false;
            view.streams[name] = iotest::read_file(dir.file(fields[2]));
        }
    }
    view.ok = true;
    return view;
}

// ---------------------------------------------------- hand-made images --

inline void put32(Bytes &b, size_t at, uint32_t v)
{
    if (b.size() < at + 4)
        b.resize(at + 4);
    for (int i = 0; i < 4; ++i)
        b[at + i] = static_cast<uint8_t>(v >> (8 * i));
}
inline void put16(Bytes &b, size_t at, uint16_t v)
{
    if (b.size() < at + 2)
        b.resize(at + 2);
    b[at] = static_cast<uint8_t>(v);
    b[at + 1] = static_cast<uint8_t>(v >> 8);
}
inline uint32_t get32(const Bytes &b, size_t at)
{
    return uint32_t{b[at]} | uint32_t{b[at + 1]} << 8 | uint32_t{b[at + 2]} << 16 | uint32_t{b[at + 3]} << 24;
}

// A small Compound File laid out by hand, sector by sector, so that tests
// can break any part of it. Sector s starts at (s + 1) * 512.
class Image {
public:
    static constexpr uint32_t kFree = 0xFFFFFFFFu, kEnd = 0xFFFFFFFEu, kFatMark = 0xFFFFFFFDu;

    // Header of a well-formed file: one FAT sector (sector 0), directory at
    // sector 1, no MiniFAT.
    Image() : bytes(512 * 3, 0)
    {
        static const uint8_t signature[8] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};
        std::memcpy(bytes.data(), signature, 8);
        put16(bytes, 24, 0x3E);
        put16(bytes, 26, 3);
        put16(bytes, 28, 0xFFFE);
        put16(bytes, 30, 9);
        put16(bytes, 32, 6);
        put32(bytes, 44, 1);       // FAT sectors
        put32(bytes, 48, 1);       // first directory sector
        put32(bytes, 56, 4096);    // cutoff
        put32(bytes, 60, kEnd);    // first MiniFAT sector
        put32(bytes, 64, 0);       // MiniFAT sectors
        put32(bytes, 68, kEnd);    // first DIFAT sector
        put32(bytes, 72, 0);       // DIFAT sectors
        for (uint32_t i = 0; i < 109; ++i)
            put32(bytes, 76 + 4 * i, kFree);
        put32(bytes, 76, 0);       // FAT sector 0
        for (uint32_t i = 0; i < 128; ++i)
            fat(i, kFree);
        fat(0, kFatMark);
        fat(1, kEnd);
    }

    size_t sector_at(uint32_t sector) const { return (size_t{sector} + 1) * 512; }
    void ensure_sector(uint32_t sector)
    {
        if (bytes.size() < sector_at(sector) + 512)
            bytes.resize(sector_at(sector) + 512, 0);
    }
    void fat(uint32_t index, uint32_t value) { put32(bytes, sector_at(0) + 4 * index, value); }

    // Directory entry n in the directory sector (sector 1; entries 0..3).
    void entry(uint32_t n, const std::string &name, uint8_t type, uint32_t left, uint32_t right, uint32_t child,
               uint32_t start, uint32_t size, uint32_t dir_sector = 1)
    {
        ensure_sector(dir_sector);
        const size_t at = sector_at(dir_sector) + 128 * (n % 4);
        std::fill(bytes.begin() + at, bytes.begin() + at + 128, 0);
        for (size_t i = 0; i < name.size() && i < 31; ++i)
            bytes[at + 2 * i] = static_cast<uint8_t>(name[i]);
        put16(bytes, at + 64, static_cast<uint16_t>((name.size() + 1) * 2));
        bytes[at + 66] = type;
        put32(bytes, at + 68, left);
        put32(bytes, at + 72, right);
        put32(bytes, at + 76, child);
        put32(bytes, at + 116, start);
        put32(bytes, at + 120, size);
    }

    // A regular stream's data in consecutive sectors from `first`, chained.
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

    Bytes bytes;
};

} // namespace cfbtest
