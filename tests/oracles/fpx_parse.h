// Test-side readers for what fpxwrite produces, written from the file
// layout rather than from the writer's code: property sets (first section),
// the subimage header and tile table, and libjpeg-turbo decoding of a tile
// with the tables of a table set.
#pragma once

#include "fpxwrite.h"

#include <cstdint>
#include <cstring>
#include <functional>
#include <map>
#include <string>
#include <vector>

struct jpeg_compress_struct;

namespace fpxtest {

inline uint32_t le32(const std::vector<uint8_t> &b, size_t at)
{
    if (at + 4 > b.size())
        return 0xDEADBEEF;
    return uint32_t(b[at]) | uint32_t(b[at + 1]) << 8 | uint32_t(b[at + 2]) << 16 | uint32_t(b[at + 3]) << 24;
}
inline uint16_t le16(const std::vector<uint8_t> &b, size_t at)
{
    if (at + 2 > b.size())
        return 0xBEEF;
    return uint16_t(b[at] | b[at + 1] << 8);
}
inline float lef32(const std::vector<uint8_t> &b, size_t at)
{
    const uint32_t bits = le32(b, at);
    float f;
    std::memcpy(&f, &bits, 4);
    return f;
}

struct Prop {
    uint32_t id = 0;
    uint32_t type = 0;
    std::vector<uint8_t> value;  // bytes after the type word, to the next property or the end
    uint32_t u32(size_t at = 0) const { return le32(value, at); }
    float f32(size_t at = 0) const { return lef32(value, at); }
};

struct PropSet {
    std::vector<uint8_t> clsid;  // header bytes 8..23
    std::vector<uint8_t> fmtid;  // first section's format identifier
    std::vector<Prop> props;     // in pair-list order
    const Prop *find(uint32_t id) const
    {
        for (const Prop &p : props)
            if (p.id == id)
                return &p;
        return nullptr;
    }
};

// Parses the first section the way a reader finds it: its offset at byte 44,
// then size, count and (identifier, offset) pairs.
inline bool parse_propset(const std::vector<uint8_t> &b, PropSet &out)
{
    if (b.size() < 48 || le16(b, 0) != 0xFFFE)
        return false;
    out.clsid.assign(b.begin() + 8, b.begin() + 24);
    out.fmtid.assign(b.begin() + 28, b.begin() + 44);
    const uint32_t s = le32(b, 44);
    const uint32_t size = le32(b, s), count = le32(b, s + 4);
    if (size_t(s) + size != b.size() || count > 10000)
        return false;
    std::vector<std::pair<uint32_t, uint32_t>> pairs;
    for (uint32_t k = 0; k < count; ++k)
        pairs.emplace_back(le32(b, s + 8 + 8 * k), le32(b, s + 12 + 8 * k));
    for (size_t k = 0; k < pairs.size(); ++k) {
        const size_t start = size_t(s) + pairs[k].second;
        const size_t end = k + 1 < pairs.size() ? size_t(s) + pairs[k + 1].second : b.size();
        if (start + 4 > end || end > b.size() || pairs[k].second % 4 != 0)
            return false;
        Prop p;
        p.id = pairs[k].first;
        p.type = le32(b, start);
        p.value.assign(b.begin() + long(start) + 4, b.begin() + long(end));
        out.props.push_back(std::move(p));
    }
    return true;
}

struct TileEntry {
    uint32_t offset, length, type;
    uint8_t subtype[4];
};

struct Subimage {
    std::vector<uint8_t> streamHeader;  // the 28 bytes
    uint32_t values[9] = {};
    std::vector<TileEntry> tiles;
};

// Header stream: 28 bytes, nine longs, then the tile table at byte
// tileTableOffset + 28.
inline bool parse_subimage(const std::vector<uint8_t> &b, Subimage &out)
{
    if (b.size() < 64)
        return false;
    out.streamHeader.assign(b.begin(), b.begin() + 28);
    for (int k = 0; k < 9; ++k)
        out.values[k] = le32(b, 28 + 4 * size_t(k));
    const size_t table = size_t(out.values[7]) + 28;
    if (table + size_t(out.values[3]) * 16 != b.size())
        return false;
    for (uint32_t k = 0; k < out.values[3]; ++k) {
        TileEntry t;
        t.offset = le32(b, table + 16 * k);
        t.length = le32(b, table + 16 * k + 4);
        t.type = le32(b, table + 16 * k + 8);
        std::memcpy(t.subtype, &b[table + 16 * k + 12], 4);
        out.tiles.push_back(t);
    }
    return true;
}

// The bytes of tile k in a data stream: at its offset + 28.
inline std::vector<uint8_t> tile_bytes(const std::vector<uint8_t> &data, const TileEntry &t)
{
    const size_t at = size_t(t.offset) + 28;
    if (at + t.length > data.size())
        return {};
    return std::vector<uint8_t>(data.begin() + long(at), data.begin() + long(at + t.length));
}

struct Decoded {
    int width = 0, height = 0, components = 0;
    bool progressive = false;
    unsigned restart_interval = 0;
    int h[4] = {}, v[4] = {}, quant[4] = {};
    std::vector<uint8_t> samples;  // components as stored, no colour conversion
    std::string error;
};

// Decodes a tile with libjpeg-turbo; tables (may be empty) are read first
// as a tables-only datastream into the same decompressor.
Decoded decode_jpeg(const std::vector<uint8_t> &tables, const std::vector<uint8_t> &tile);

// libjpeg-turbo's encoding of width x height interleaved samples of `components` bytes in colour space
// `in_colour_space` (a J_COLOR_SPACE); `configure` sets parameters after jpeg_set_defaults. Empty when
// libjpeg-turbo refuses them.
std::vector<uint8_t> libjpeg_encode(const uint8_t *samples, int width, int height, int components,
                                    int in_colour_space, const std::function<void(jpeg_compress_struct &)> &configure);

// The reference for JPEG error: libjpeg-turbo's own encoding of a 64 x 64
// tile of RGB (3 channels) or grey (1) samples with its standard colour
// handling (RGB to YCbCr unless keep_rgb), the given quality and luma
// sampling, decoded back to RGB or grey.
std::vector<uint8_t> reference_roundtrip(const std::vector<uint8_t> &tile, int channels, int quality,
                                         int subsampling, bool keep_rgb);

// The bytes of a stream of a Compound File read through the project's own
// reader; path like "Data Object Store 000001/\005Image Contents". Sets ok
// to false when a storage or stream is missing.
std::vector<uint8_t> read_stream(const std::string &file, const std::string &path, bool &ok);

// The markers of a JPEG stream in order (RST markers included).
std::vector<uint8_t> list_markers(const std::vector<uint8_t> &jpeg);

// How often a marker (e.g. 0xC4, 0xDD, 0xD0 for any RST) occurs in a JPEG
// stream, walking its segments and its entropy-coded data.
int count_marker(const std::vector<uint8_t> &jpeg, uint8_t marker);

} // namespace fpxtest
