// The FlashPix file as an ordered list of storages and streams: summary
// information, Global Info, the data object and its transform, and the data
// object store with "\005Image Contents" and one storage per resolution,
// each holding a subimage header (tile table) and the tile data.
#include "colour.h"
#include "fpx/fpx_format.h"
#include "fpxwrite.h"
#include "jpeg_tiles.h"
#include "propset.h"

#include <algorithm>
#include <cstdio>

namespace fpxw {

using namespace kxfpx::fpx;

namespace {

std::string numbered(const char *format, int index)
{
    char name[64];
    std::snprintf(name, sizeof name, format, index);
    return name;
}

// Seconds between 1601-01-01 and 1970-01-01, and FILETIME ticks per second.
constexpr int64_t kFiletimeEpochOffset = 11644473600;
constexpr int64_t kFiletimeTicksPerSecond = 10000000;

uint64_t filetime_of(int64_t unix_time)
{
    return uint64_t((unix_time + kFiletimeEpochOffset) * kFiletimeTicksPerSecond);
}

int add_entry(Document &doc, int parent, const std::string &name, bool storage,
              std::vector<uint8_t> data = {})
{
    doc.entries.push_back(DocumentEntry{parent, name, storage, std::move(data)});
    return int(doc.entries.size()) - 1;
}

// The 28 bytes that open both subimage streams (and the empty ICC profile).
std::vector<uint8_t> stream_header(const Guid &clsid)
{
    std::vector<uint8_t> out;
    put_u16(out, kPropByteOrder);
    put_u16(out, kPropFormatVersion);
    put_u32(out, kPropOsVersion);
    put_guid(out, clsid);
    put_u32(out, kStreamHeaderCount);
    return out;
}

// "\001CompObj": header, ANSI user type, no clipboard format, no program
// identifier, then the Unicode user type (length in characters).
std::vector<uint8_t> comp_obj(const Guid &clsid)
{
    std::vector<uint8_t> out;
    put_u32(out, kCompObjReserved);
    put_u32(out, kCompObjVersion);
    put_u32(out, kCompObjNoFormat);
    put_guid(out, clsid);
    put_lpstr(out, kCompObjUserType);
    put_u32(out, 0);  // clipboard format: none
    put_u32(out, 0);  // reserved string: empty
    put_u32(out, kCompObjUnicodeMarker);
    const std::string user = kCompObjUserType;
    put_u32(out, uint32_t(user.size() + 1));
    for (char c : user)
        put_u16(out, uint16_t(uint8_t(c)));
    put_u16(out, 0);
    put_u32(out, 0);  // Unicode clipboard format: none
    put_u32(out, 0);  // Unicode reserved string: empty
    return out;
}

std::vector<uint8_t> summary_information(const WriteOptions &o)
{
    PropertySet set;
    set.add_i2(kPidCodePage, kCodePageLatin1);
    if (!o.title.empty())
        set.add_lpstr(kPidTitle, o.title);
    set.add_filetime(kPidCreateTime, filetime_of(o.unix_time));
    set.add_filetime(kPidLastSaveTime, filetime_of(o.unix_time));
    set.add_i4(kPidPageCount, 0);
    set.add_i4(kPidWordCount, 0);
    set.add_i4(kPidCharCount, 0);
    set.add_lpstr(kPidAppName, "fpxwrite");
    return set.serialize(kFmtidSummary);
}

std::vector<uint8_t> global_info(const WriteOptions &o)
{
    PropertySet set;
    set.add_i2(kPidCodePage, kCodePageUnicode);
    set.add_vector_ui4(kPidVisibleOutputs, {uint32_t(o.data_object)});
    set.add_ui4(kPidMaxDataObjectIndex,
                uint32_t(o.highest_data_object > 0 ? o.highest_data_object : o.data_object));
    set.add_ui4(kPidTransformIndex, o.transform.any() ? uint32_t(o.transform_index) : 0u);
    set.add_ui4(kPidMaxOperationIndex, 0);
    return set.serialize(kFmtidGlobalInfo);
}

std::vector<uint8_t> data_object(const Image &full, bool marked = true)
{
    PropertySet set;
    set.add_i2(kPidCodePage, kCodePageUnicode);
    set.add_clsid(kPidDataObjectClass, kClsidImageObject);
    set.add_ui4(kPidDataObjectFlag, marked ? kDataObjectFlagValue : 0u);
    set.add_ui4(kPidDataObjectUsers, 0);
    set.add_vector_ui4(kPidDataObjectLinks, {});
    set.add_ui4(kPidDataObjectHeight, uint32_t(full.height));
    set.add_ui4(kPidDataObjectWidth, uint32_t(full.width));
    return set.serialize(kFmtidDataObject);
}

std::vector<uint8_t> transform_set(const TransformOptions &t)
{
    PropertySet set;
    set.add_i2(kPidCodePage, kCodePageUnicode);
    if (t.aspect_ratio)
        set.add_r4(kPidAspectRatio, *t.aspect_ratio);
    if (t.region)
        set.add_vector_r4(kPidRegionOfInterest, std::vector<float>(t.region->begin(), t.region->end()));
    if (t.filtering)
        set.add_r4(kPidFiltering, *t.filtering);
    if (t.affine)
        set.add_vector_r4(kPidAffineMatrix, std::vector<float>(t.affine->begin(), t.affine->end()));
    if (t.colour_twist)
        set.add_vector_r4(kPidColourTwist,
                          std::vector<float>(t.colour_twist->begin(), t.colour_twist->end()));
    if (t.contrast)
        set.add_r4(kPidContrast, *t.contrast);
    return set.serialize(kFmtidTransform);
}

// JPEG parameters of table set k (1-based).
JpegParams jpeg_params(const WriteOptions &o, const std::vector<ChannelSpec> &layout, int set)
{
    JpegParams p;
    p.components = int(layout.size());
    p.quality = std::max(1, o.quality - 10 * (set - 1));
    p.subsampling = uint8_t(o.subsampling);
    for (const ChannelSpec &c : layout)
        p.chroma.push_back(c.chroma);
    p.progressive = o.progressive;
    p.restart_interval = o.restart_interval;
    p.optimize_huffman = o.optimize_huffman;
    p.jfif = o.jfif;
    return p;
}

// An RGB file whose opacity channel comes before one of its colours. The
// import drops the opacity channel of uncompressed tiles wherever it lies,
// but takes the first three components of a JPEG tile and the first three
// subtype bytes of a single-colour tile as the colours: such files can hold
// raw tiles only. Needs resolved options.
bool opacity_before_a_colour(const WriteOptions &o)
{
    return o.colour == ColourSpace::rgb && o.opacity && !o.channel_order.empty() &&
           o.channel_order.back() != 'A';
}

int table_set_count(const WriteOptions &o)
{
    return (o.compression == Compression::raw || o.tables_in_tiles) ? 0 : o.table_sets;
}

// Copies tile (tx, ty) out of the stored samples, repeating the last column
// and row of the picture into the part of the tile outside it.
void cut_tile(const std::vector<uint8_t> &stored, int width, int height, int channels, int tx, int ty,
              std::vector<uint8_t> &tile)
{
    const int t = int(kTileSize);
    const size_t pixel = size_t(channels);
    tile.resize(size_t(t) * size_t(t) * pixel);
    // Columns of the tile inside the picture: at least one, as the tile exists.
    const int inside = std::min(t, width - tx * t);
    for (int y = 0; y < t; ++y) {
        const int sy = std::min(ty * t + y, height - 1);
        const uint8_t *src = stored.data() + (size_t(sy) * size_t(width) + size_t(tx) * size_t(t)) * pixel;
        uint8_t *row = tile.data() + size_t(y) * size_t(t) * pixel;
        std::copy(src, src + size_t(inside) * pixel, row);
        const uint8_t *last = row + size_t(inside - 1) * pixel;
        for (int x = inside; x < t; ++x)
            std::copy(last, last + pixel, row + size_t(x) * pixel);
    }
}

// The rounded mean of the tile's pixels inside the picture, per channel.
std::vector<uint8_t> mean_colour(const std::vector<uint8_t> &stored, int width, int height, int channels,
                                 int tx, int ty)
{
    const int t = int(kTileSize);
    std::vector<uint64_t> sum(size_t(channels), 0);
    uint64_t count = 0;
    for (int y = ty * t; y < std::min(height, ty * t + t); ++y)
        for (int x = tx * t; x < std::min(width, tx * t + t); ++x, ++count)
            for (int k = 0; k < channels; ++k)
                sum[size_t(k)] += stored[(size_t(y) * size_t(width) + size_t(x)) * size_t(channels) + size_t(k)];
    std::vector<uint8_t> out(static_cast<size_t>(channels));
    for (int k = 0; k < channels; ++k)
        out[size_t(k)] = uint8_t((sum[size_t(k)] + count / 2) / count);
    return out;
}

bool tile_is_flat(const std::vector<uint8_t> &tile, int channels)
{
    for (size_t i = size_t(channels); i < tile.size(); i += size_t(channels))
        if (!std::equal(tile.begin() + long(i), tile.begin() + long(i) + channels, tile.begin()))
            return false;
    return true;
}

struct ResolutionStreams {
    std::vector<uint8_t> header;
    std::vector<uint8_t> data;
};

// params[k - 1] holds the JPEG parameters of table set k; params[0] also
// serves tiles that carry their own tables.
std::string build_resolution(const WriteOptions &o, const std::vector<ChannelSpec> &layout,
                             const std::vector<JpegParams> &params, const Image &level, bool is_full,
                             ResolutionStreams &out)
{
    const int channels = int(layout.size());
    const std::vector<uint8_t> stored = stored_samples(level, o, layout);
    const int t = int(kTileSize);
    const int across = (level.width + t - 1) / t, down = (level.height + t - 1) / t;
    const int tile_count = across * down;
    const int sets = table_set_count(o);

    out.header = stream_header(kClsidSubimageHeader);
    for (uint32_t v : {kSubimageHeaderLength, uint32_t(level.width), uint32_t(level.height), uint32_t(tile_count),
                       kTileSize, kTileSize, uint32_t(channels), kSubimageHeaderLength, kTileEntrySize})
        put_u32(out.header, v);
    out.data = stream_header(kClsidSubimageData);

    std::vector<uint8_t> tile, body;
    for (int index = 0; index < tile_count; ++index) {
        const int tx = index % across, ty = index / across;
        cut_tile(stored, level.width, level.height, channels, tx, ty, tile);
        const bool forced = o.flat_tiles == FlatTiles::always ||
                            (is_full && std::find(o.flat_tile_list.begin(), o.flat_tile_list.end(), index) !=
                                            o.flat_tile_list.end());
        uint32_t kind;
        uint8_t subtype[4] = {0, 0, 0, 0};
        if (forced || (o.flat_tiles == FlatTiles::automatic && !opacity_before_a_colour(o) &&
                       tile_is_flat(tile, channels))) {
            // One colour in the subtype; the tile's raw samples follow in the
            // data stream as well, as real files have them (for a forced tile
            // they are its own pixels, not the colour).
            kind = kTileSingleColour;
            std::vector<uint8_t> colour(tile.begin(), tile.begin() + channels);
            if (forced)
                colour = o.flat_colour.empty() ? mean_colour(stored, level.width, level.height, channels, tx, ty)
                                               : std::vector<uint8_t>(o.flat_colour.begin(), o.flat_colour.end());
            std::copy(colour.begin(), colour.begin() + std::min(channels, 4), subtype);
            body = tile;
        } else if (o.compression == Compression::raw || (o.compression == Compression::mixed && index % 2 == 0)) {
            kind = kTileRaw;
            body = tile;
        } else {
            kind = kTileJpeg;
            const int set = sets > 0 ? 1 + index % sets : 0;
            std::string err = encode_tile(params[size_t(set > 0 ? set - 1 : 0)],
                                          jpeg_samples(tile, o, channels).data(), t, t, set > 0, body);
            if (!err.empty())
                return err;
            subtype[0] = kInterleaveChannels;
            subtype[1] = uint8_t(o.subsampling);
            subtype[2] = o.colour_conversion == 1 ? kColourConversionOn : 0;
            subtype[3] = uint8_t(set);
        }
        out.data.insert(out.data.end(), kTileGap, 0);
        if (out.data.size() + body.size() > 0x7FFFFFFFu)
            return "the tile data of a resolution passes 2 GB";
        put_u32(out.header, uint32_t(out.data.size() - kStreamHeaderSize));  // tile offset
        put_u32(out.header, uint32_t(body.size()));
        put_u32(out.header, kind);
        out.header.insert(out.header.end(), subtype, subtype + 4);
        out.data.insert(out.data.end(), body.begin(), body.end());
    }
    return {};
}

std::vector<uint8_t> colour_blob(const std::vector<ChannelSpec> &layout)
{
    std::vector<uint8_t> blob;
    put_u32(blob, kColourCount);
    put_u32(blob, uint32_t(layout.size()));
    for (const ChannelSpec &c : layout) {
        put_u16(blob, c.code);
        put_u16(blob, c.space);
    }
    return blob;
}

} // namespace

int Document::find(const std::string &path) const
{
    int parent = 0;
    size_t start = 0;
    if (entries.empty())
        return -1;
    while (start <= path.size()) {
        const size_t slash = path.find('/', start);
        const std::string part = path.substr(start, slash == std::string::npos ? std::string::npos : slash - start);
        int found = -1;
        for (size_t i = 1; i < entries.size(); ++i)
            if (entries[i].parent == parent && entries[i].name == part)
                found = int(i);
        if (found < 0)
            return -1;
        parent = found;
        if (slash == std::string::npos)
            break;
        start = slash + 1;
    }
    return parent;
}

std::string resolve_options(WriteOptions &o, const Image &image)
{
    std::string err = check_size(image.width, image.height);
    if (!err.empty())
        return err;
    if (image.channels < 1 || image.channels > 4 ||
        image.samples.size() != size_t(image.width) * size_t(image.height) * size_t(image.channels))
        return "the picture's samples do not match its size";
    const bool rgb = o.colour == ColourSpace::rgb;
    if (rgb) {
        if (o.channel_order.empty())
            o.channel_order = o.opacity ? "RGBA" : "RGB";
        std::string sorted = o.channel_order;
        std::sort(sorted.begin(), sorted.end());
        if (sorted != (o.opacity ? "ABGR" : "BGR"))
            return "the channel order must be a permutation of RGB" + std::string(o.opacity ? "A" : "") +
                   " (got " + o.channel_order + ")";
    } else if (!o.channel_order.empty()) {
        return "a channel order is only for RGB files";
    }
    if (o.colour_conversion < 0)
        o.colour_conversion = rgb && o.compression != Compression::raw ? 1 : 0;
    if (o.colour_conversion == 1) {
        if (!rgb)
            return "the internal colour conversion is only for RGB files";
        if (o.channel_order != "RGB" && o.channel_order != "RGBA")
            return "the internal colour conversion needs the channels in RGB order";
    }
    if (o.invert && !rgb)
        return "the inverted output bit is only for RGB files";
    // The bit goes into channel 0's code; an opacity channel there would no
    // longer carry the code 0x7FFE.
    if (o.invert && o.channel_order[0] == 'A')
        return "the inverted output bit needs a colour channel first, not the opacity channel";
    if (opacity_before_a_colour(o)) {
        if (o.compression != Compression::raw)
            return "JPEG tiles need the opacity channel last (the import takes a JPEG tile's first three "
                   "components as the colours); use raw tiles for " + o.channel_order;
        if (o.flat_tiles == FlatTiles::always || !o.flat_tile_list.empty())
            return "single-colour tiles need the opacity channel last (the import takes the first three "
                   "subtype bytes as the colour); not with " + o.channel_order;
    }
    // Progressive tiles of any colour space: a one-component progressive
    // tile is decoded into one byte per pixel, as a baseline one is.
    const bool chroma = o.colour == ColourSpace::photoycc || o.colour_conversion == 1;
    if (o.subsampling < 0)
        o.subsampling = chroma ? 0x22 : 0x11;
    if (o.subsampling != 0x11 && o.subsampling != 0x21 && o.subsampling != 0x22)
        return "the chroma subsampling must be 0x11, 0x21 or 0x22";
    if (o.subsampling != 0x11 && !chroma)
        return "chroma subsampling needs YCbCr (colour-converted RGB) or PhotoYCC tiles";
    if (o.quality < 1 || o.quality > 100)
        return "the JPEG quality must be 1 to 100";
    if (o.restart_interval < 0 || o.restart_interval > 65535)
        return "the restart interval must be 0 to 65535";
    if (o.table_sets < 1 || o.table_sets > int(kMaxJpegTableSets))
        return "the number of JPEG table sets must be 1 to 255";
    if (o.resolutions < 0)
        return "the resolution count must not be negative";
    if (o.data_object < 1 || o.highest_data_object < 0 || o.transform_index < 1)
        return "data-object and transform indices start at 1";
    for (int unmarked : o.unmarked_data_objects)
        if (unmarked < 1 || unmarked == o.data_object)
            return "an unmarked data object needs an index of its own, from 1";
    int possible = 1;
    for (int w = image.width, h = image.height; w > 1 || h > 1; w = std::max(1, w / 2), h = std::max(1, h / 2))
        ++possible;
    if (o.resolutions > possible)
        return "at most " + std::to_string(possible) + " resolutions fit this picture";
    const int t = int(kTileSize);
    const int full_tiles = ((image.width + t - 1) / t) * ((image.height + t - 1) / t);
    const int stored_channels = (o.colour == ColourSpace::monochrome ? 1 : 3) + (o.opacity ? 1 : 0);
    if (!o.flat_colour.empty() && int(o.flat_colour.size()) != stored_channels)
        return "the single colour needs " + std::to_string(stored_channels) + " values, one per channel";
    for (int v : o.flat_colour)
        if (v < 0 || v > 255)
            return "single-colour values must be 0 to 255";
    for (int k : o.flat_tile_list)
        if (k < 0 || k >= full_tiles)
            return "tile " + std::to_string(k) + " does not exist (the full resolution has " +
                   std::to_string(full_tiles) + " tiles)";
    return {};
}

std::string make_pyramid(const WriteOptions &o, const Image &full, std::vector<Image> &levels)
{
    levels.clear();
    levels.push_back(full);
    for (;;) {
        const Image &last = levels.back();
        if (o.resolutions > 0 ? int(levels.size()) >= o.resolutions
                              : (last.width <= int(kTileSize) && last.height <= int(kTileSize)))
            break;
        if (last.width == 1 && last.height == 1)
            return "too many resolutions for this picture";
        levels.push_back(halve(last));
    }
    std::reverse(levels.begin(), levels.end());
    return {};
}

std::string build_document(const WriteOptions &options, const Image &image, Document &doc)
{
    WriteOptions o = options;
    std::string err = resolve_options(o, image);
    if (!err.empty())
        return err;
    const std::vector<ChannelSpec> layout = channel_layout(o);
    std::vector<Image> levels;
    err = make_pyramid(o, working_picture(image, o), levels);
    if (!err.empty())
        return err;
    const Image &full = levels.back();

    doc.entries.clear();
    // Real files give their storages the FlashPix class ids, and readers
    // check the root's.
    const int root = add_entry(doc, -1, kRootName, true);
    doc.entries[size_t(root)].clsid = kClsidImageView;
    add_entry(doc, root, kSummaryName, false, summary_information(o));
    add_entry(doc, root, kGlobalInfoName, false, global_info(o));
    add_entry(doc, root, numbered(kDataObjectFormat, o.data_object), false, data_object(full));
    for (int unmarked : o.unmarked_data_objects)
        add_entry(doc, root, numbered(kDataObjectFormat, unmarked), false, data_object(full, false));
    if (o.transform.any())
        add_entry(doc, root, numbered(kTransformFormat, o.transform_index), false, transform_set(o.transform));
    add_entry(doc, root, kCompObjName, false, comp_obj(kClsidImageView));

    const int store = add_entry(doc, root, numbered(kStoreFormat, o.data_object), true);
    doc.entries[size_t(store)].clsid = kClsidImageObject;
    add_entry(doc, store, kSummaryName, false, summary_information(o));
    const int contents = add_entry(doc, store, kImageContentsName, false);
    add_entry(doc, store, kIccProfileName, false, stream_header(kClsidIccProfile));
    add_entry(doc, store, kCompObjName, false, comp_obj(kClsidImageObject));

    // The JPEG parameters of every table set, made once for all the tiles.
    const int sets = table_set_count(o);
    std::vector<JpegParams> params;
    for (int k = 1; k <= std::max(sets, 1); ++k)
        params.push_back(jpeg_params(o, layout, k));

    PropertySet ic;
    ic.add_i2(kPidCodePage, kCodePageUnicode);
    ic.add_ui4(kPidResolutionCount, uint32_t(levels.size()));
    ic.add_ui4(kPidFullWidth, uint32_t(full.width));
    ic.add_ui4(kPidFullHeight, uint32_t(full.height));
    ic.add_r4(kPidDisplayHeight, kDisplayHeightInches);
    ic.add_r4(kPidDisplayWidth, kDisplayHeightInches * float(full.width) / float(full.height));
    ic.add_ui4(kPidDisplayUnit, kDisplayUnitInches);
    // Resolutions from the highest index (the full size) down, as real files
    // order their properties and storages.
    for (int rr = int(levels.size()) - 1; rr >= 0; --rr) {
        const Image &level = levels[size_t(rr)];
        const uint32_t shift = uint32_t(rr) << 16;
        ic.add_ui4(shift | kPidResWidthBase, uint32_t(level.width));
        ic.add_ui4(shift | kPidResHeightBase, uint32_t(level.height));
        ic.add_blob(shift | kPidResColourBase, colour_blob(layout));
        ic.add_vector_ui4(shift | kPidResNumericalBase, {kVtUi1});
        ic.add_i4(shift | kPidResDecimationBase,
                  rr == int(levels.size()) - 1 ? kDecimationFull : kDecimationReduced);

        ResolutionStreams streams;
        err = build_resolution(o, layout, params, level, rr == int(levels.size()) - 1, streams);
        if (!err.empty())
            return err;
        if (std::find(o.missing_resolutions.begin(), o.missing_resolutions.end(), rr) !=
            o.missing_resolutions.end())
            continue;
        const int res = add_entry(doc, store, numbered(kResolutionFormat, rr), true);
        doc.entries[size_t(res)].clsid = kClsidResolution;
        add_entry(doc, res, kSubimageHeaderName, false, std::move(streams.header));
        add_entry(doc, res, kSubimageDataName, false, std::move(streams.data));
    }
    if (sets > 0) {
        ic.add_ui4(kPidMaxJpegTableIndex, uint32_t(sets));
        for (int k = 1; k <= sets; ++k) {
            std::vector<uint8_t> tables;
            err = encode_tables(params[size_t(k - 1)], tables);
            if (!err.empty())
                return err;
            ic.add_blob((uint32_t(k) << 16) | kPidJpegTablesBase, tables);
        }
    }
    doc.entries[size_t(contents)].data = ic.serialize(kFmtidImageContents);
    return {};
}

std::string write_fpx(const WriteOptions &options, const Image &image, const std::string &path)
{
    Document doc;
    std::string err = build_document(options, image, doc);
    if (!err.empty())
        return err;
    return write_document(doc, path);
}

} // namespace fpxw
