// Helpers for the QorFile tests: a temporary directory removed afterwards,
// whole-file reads and writes, a caller-owned memory block, and a peek at
// the record behind a handle.
#pragma once

#include "io/qorfile_rec.h"

#include <kxfpx/memory.h>
#include <kxfpx/qorfile.h>

#include <gtest/gtest.h>

using namespace kxfpx::io;

#include "support.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ftw.h>
#include <string>
#include <unistd.h>
#include <vector>

namespace iotest {

using Bytes = std::vector<uint8_t>;
using TempDir = kxtest::TempDir;

inline void write_file(const std::string &path, const Bytes &bytes)
{
    FILE *f = std::fopen(path.c_str(), "wb");
    ASSERT_NE(f, nullptr) << path;
    if (!bytes.empty()) {
        ASSERT_EQ(std::fwrite(bytes.data(), 1, bytes.size(), f), bytes.size());
    }
    std::fclose(f);
}

inline void write_text(const std::string &path, const std::string &text)
{
    write_file(path, Bytes(text.begin(), text.end()));
}

inline Bytes read_file(const std::string &path)
{
    Bytes out;
    FILE *f = std::fopen(path.c_str(), "rb");
    if (!f)
        return out;
    uint8_t chunk[4096];
    size_t n;
    while ((n = std::fread(chunk, 1, sizeof chunk, f)) > 0)
        out.insert(out.end(), chunk, chunk + n);
    std::fclose(f);
    return out;
}

// Bytes 0..n-1 of a pattern that does not repeat every 256 bytes.
inline Bytes pattern(size_t n)
{
    Bytes out(n);
    for (size_t i = 0; i < n; i++)
        out[i] = static_cast<uint8_t>((i * 7 + i / 251) & 0xFF);
    return out;
}

// A caller's movable block, as a host hands it to qorOpen: the variable
// `data` holds the locked data pointer and is rewritten when it grows.
class MemoryBlock {
public:
    explicit MemoryBlock(const Bytes &contents, uint32_t size = 0)
    {
        const uint32_t n = size ? size : static_cast<uint32_t>(contents.size());
        data = GlobalLock(GlobalAlloc(KX_GHND, n));
        if (!contents.empty())
            std::memcpy(data, contents.data(), contents.size());
        desc.blockPtr = &data;
        desc.blockSize = static_cast<int32_t>(n);
    }
    ~MemoryBlock()
    {
        if (data)
            GlobalFree(GlobalHandle(data));
    }
    MemoryBlock(const MemoryBlock &) = delete;
    MemoryBlock &operator=(const MemoryBlock &) = delete;

    uint32_t size() const { return GlobalSize(GlobalHandle(data)); }
    Bytes bytes(size_t n) const
    {
        const uint8_t *p = static_cast<const uint8_t *>(data);
        return Bytes(p, p + n);
    }

    void *data = nullptr;
    QorOpenDesc desc{};
};

// The record behind a handle, for checking its fields.
inline QorFileRec &record(QorFile file) { return *static_cast<QorFileRec *>(GlobalLock(file)); }

} // namespace iotest
