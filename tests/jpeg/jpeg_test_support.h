// Helpers shared by the JPEG decoder tests: a big-endian QorFile over a byte
// vector, a table set that frees its blocks, segment surgery on JPEG streams,
// and the zig-zag order of T.81 Figure A.6.
#pragma once

#include "jpeg/jpeg_tables.h"

#include <kxfpx/memory.h>
#include <kxfpx/qorfile.h>

#include <cstdint>
#include <cstring>
#include <vector>

namespace jpegtest {

using Bytes = std::vector<uint8_t>;

// Natural (row-major) index of the k-th coefficient in zig-zag order.
inline constexpr uint8_t kZigzag[64] = {
    0,  1,  8,  16, 9,  2,  3,  10, 17, 24, 32, 25, 18, 11, 4,  5,  12, 19, 26, 33, 40, 48,
    41, 34, 27, 20, 13, 6,  7,  14, 21, 28, 35, 42, 49, 56, 57, 50, 43, 36, 29, 22, 15, 23,
    30, 37, 44, 51, 58, 59, 52, 45, 38, 31, 39, 46, 53, 60, 61, 54, 47, 55, 62, 63};

// A read-only memory QorFile holding exactly `bytes` (the end marker that a
// memory block needs is appended), big-endian.
class MemStream {
public:
    explicit MemStream(const Bytes &bytes)
    {
        const uint32_t n = uint32_t(bytes.size()) + 1;
        data_ = GlobalLock(GlobalAlloc(KX_GHND, n));
        if (!bytes.empty())
            std::memcpy(data_, bytes.data(), bytes.size());
        static_cast<uint8_t *>(data_)[bytes.size()] = 0xFF;
        desc_.blockPtr = &data_;
        desc_.blockSize = int32_t(n);
        file = qorOpen(nullptr, &desc_, QOR_READ);
        qorSetDataFormat(file, 1, 0);
    }
    ~MemStream()
    {
        qorClose(file);
        GlobalFree(GlobalHandle(data_));
    }
    MemStream(const MemStream &) = delete;
    MemStream &operator=(const MemStream &) = delete;
    int32_t position() const { return qorSeek(file, 0, 1); }

    QorFile file = nullptr;

private:
    void *data_ = nullptr;
    QorOpenDesc desc_{};
};

// A table set that frees whatever its slots hold.
struct TableSet {
    kxfpx::jpeg::JpegTableSet set{};
    TableSet() = default;
    TableSet(const TableSet &) = delete;
    TableSet &operator=(const TableSet &) = delete;
    ~TableSet() { clear(); }
    void clear()
    {
        for (HGLOBAL &h : set.slots)
            if (h) {
                GlobalFree(h);
                h = nullptr;
            }
    }
    template <typename T> const T *view(int slot) const
    {
        return static_cast<const T *>(set.slots[slot] ? GlobalLock(set.slots[slot]) : nullptr);
    }
};

// One marker segment of a JPEG stream: its marker code and its body (the
// bytes after the length field).
struct Segment {
    uint8_t marker;
    Bytes body;
};

// The segments before the first SOS (or EOI), in order.
inline std::vector<Segment> header_segments(const Bytes &jpeg)
{
    std::vector<Segment> out;
    size_t at = 2;
    while (at + 4 <= jpeg.size() && jpeg[at] == 0xFF) {
        const uint8_t m = jpeg[at + 1];
        if (m == 0xD9)
            break;
        const size_t len = size_t(jpeg[at + 2]) << 8 | jpeg[at + 3];
        if (len < 2 || at + 2 + len > jpeg.size())
            break;
        out.push_back({m, Bytes(jpeg.begin() + long(at + 4), jpeg.begin() + long(at + 2 + len))});
        if (m == 0xDA)
            break;
        at += 2 + len;
    }
    return out;
}

// The bytes of a segment with the given body (length field included, marker not).
inline Bytes with_length(const Bytes &body)
{
    const size_t len = body.size() + 2;
    Bytes out{uint8_t(len >> 8), uint8_t(len)};
    out.insert(out.end(), body.begin(), body.end());
    return out;
}

} // namespace jpegtest
