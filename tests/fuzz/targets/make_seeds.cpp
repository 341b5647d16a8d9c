// fuzz_seeds: writes the seed corpora of the fuzz targets into
// <folder>/<target>/: FlashPix files made with fpxwrite for every feature
// (raw, single-colour, baseline and progressive JPEG tiles of every
// sampling, every colour space, opacity, transforms, several resolutions,
// several table sets), with the control bytes each target reads first; JPEG
// tiles with their table prefixes; the property-set streams of those files;
// and small profiles. Usage: fuzz_seeds <folder> [corpus folder]
#include "fpxwrite.h"
#include "jpeg_tiles.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <initializer_list>
#include <iterator>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;
std::string g_out;
int g_written = 0;

void put(const std::string &target, const std::string &name, uint8_t control, const Bytes &body)
{
    const std::string path = g_out + "/" + target + "/" + name;
    std::ofstream f(path, std::ios::binary);
    f.put(static_cast<char>(control));
    f.write(reinterpret_cast<const char *>(body.data()), static_cast<std::streamsize>(body.size()));
    g_written += f.good() ? 1 : 0;
}

Bytes read_file(const std::string &path)
{
    std::ifstream f(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(f), {});
}

using Edit = void (*)(fpxw::Document &);

// One FlashPix document: seeds for the file-level targets, and its property
// sets for the property target. With `controls`, import seeds only, one per
// control byte.
void document(const std::string &name, fpxw::WriteOptions o, int width, int height, int channels = 4,
              Edit edit = nullptr, std::initializer_list<uint8_t> controls = {})
{
    fpxw::Image image = fpxw::make_synthetic(width, height);  // RGBA
    if (channels != 4) {
        fpxw::Image cut{width, height, channels, {}};
        for (size_t p = 0; p < image.samples.size(); p += 4)
            for (int c = 0; c < channels; ++c)
                cut.samples.push_back(image.samples[p + size_t(channels == 1 ? 1 : c)]);
        image = cut;
    }
    fpxw::Document doc;
    std::string error = fpxw::resolve_options(o, image);
    if (error.empty())
        error = fpxw::build_document(o, image, doc);
    const std::string path = g_out + "/.scratch.fpx";
    if (error.empty() && edit)
        edit(doc);
    if (error.empty())
        error = fpxw::write_document(doc, path);
    if (!error.empty()) {
        std::fprintf(stderr, "fuzz_seeds: %s: %s\n", name.c_str(), error.c_str());
        return;
    }
    const Bytes file = read_file(path);
    std::remove(path.c_str());
    for (uint8_t control : controls)
        put("import", name + "_" + std::to_string(control), control, file);
    if (controls.size())
        return;
    put("import", name, 0x02, file);
    put("file_info", name, 0x00, file);
    put("cfb", name, 0x00, file);
    int k = 0;
    for (const fpxw::DocumentEntry &e : doc.entries)
        if (!e.storage && !e.name.empty() && e.name[0] == '\005')
            put("properties", name + "." + std::to_string(k++), 0x00, e.data);
}

void documents()
{
    using fpxw::ColourSpace;
    using fpxw::Compression;
    fpxw::WriteOptions raw;
    raw.compression = Compression::raw;
    raw.flat_tiles = fpxw::FlatTiles::never;
    for (auto [name, colour] : {std::pair{"rgb", ColourSpace::rgb}, {"mono", ColourSpace::monochrome},
                                {"ycc", ColourSpace::photoycc}}) {
        fpxw::WriteOptions o = raw;
        o.colour = colour;
        document(std::string("raw_") + name, o, 70, 46);
        o.opacity = true;
        document(std::string("raw_opacity_") + name, o, 40, 30);
        o = raw;
        o.colour = colour;
        o.compression = Compression::jpeg;
        for (int sub : {0x11, 0x21, 0x22}) {
            if (colour == ColourSpace::monochrome && sub != 0x11)
                continue;
            o.subsampling = sub;
            o.progressive = false;
            document("jpeg_" + std::string(name) + "_" + std::to_string(sub), o, 100, 70);
            o.progressive = true;
            document("prog_" + std::string(name) + "_" + std::to_string(sub), o, 70, 70);
        }
        o.subsampling = -1;
        o.progressive = false;
        o.opacity = colour != ColourSpace::monochrome;
        document(std::string("jpeg_opacity_") + name, o, 70, 46);
    }
    fpxw::WriteOptions o = raw;
    o.flat_tiles = fpxw::FlatTiles::always;
    document("flat", o, 70, 46);
    o.flat_tiles = fpxw::FlatTiles::automatic;
    o.flat_tile_list = {0};
    o.compression = Compression::mixed;
    document("mixed_flat", o, 130, 70, 3);
    o = raw;
    o.channel_order = "BGR";
    o.invert = true;
    document("bgr_invert", o, 64, 64, 3);
    o = raw;
    o.colour = ColourSpace::monochrome;
    o.resolutions = 3;
    document("three_resolutions", o, 130, 70, 1);
    o.missing_resolutions = {1};
    document("missing_resolution", o, 130, 70, 1);
    o = raw;
    o.compression = Compression::jpeg;
    o.table_sets = 3;
    o.restart_interval = 2;
    o.jfif = true;
    document("three_table_sets", o, 200, 70);
    o.table_sets = 1;
    o.tables_in_tiles = true;
    o.optimize_huffman = true;
    document("tables_in_tiles", o, 100, 70);
    o = raw;
    o.transform.aspect_ratio = 1.5f;
    o.transform.region = std::array<float, 4>{0.1f, 0.2f, 1.2f, 0.9f};
    o.transform.filtering = -7.0f;
    o.transform.contrast = 1.5f;
    o.transform.colour_twist =
        std::array<float, 16>{0.9f, 0.1f, 0, 0, 0, 1, 0, 0, 0.1f, 0, 0.9f, 0, 0, 0, 0, 1};
    o.transform.affine = std::array<float, 16>{0.7f, -0.7f, 0, 3, 0.7f, 0.7f, 0, 0.1f, 0, 0, 1, 0, 0, 0, 0, 1};
    document("transform", o, 70, 46, 3);
    o.transform = {};
    o.transform.filtering = 3.0f;
    document("sharpen", o, 40, 30, 1);
    o = raw;
    o.data_object = 2;
    o.highest_data_object = 3;
    o.unmarked_data_objects = {1};
    document("second_data_object", o, 64, 40, 3);
}

// Small import seeds that end with each code of the import's failure
// tables: 0; 61 (the host cancels at the second progress report, the first
// after a strip); 9 (the output file cannot be made); 7 (no memory handle);
// 27 (no output library); 14 (no Global Info); 21 (a subimage wider than
// 65535); -23 (no Compound File at all).
void import_codes()
{
    fpxw::WriteOptions o;
    o.resolutions = 1;
    document("code", o, 40, 30, 3, nullptr, {0x02, 0x0A, 0x12, 0x42, 0x62});
    document("code_missing", o, 40, 30, 3, [](fpxw::Document &doc) {
        doc.entries[size_t(doc.find("\005Global Info"))].name += "!";
    }, {0x02});
    document("code_wide", o, 40, 30, 3, [](fpxw::Document &doc) {
        std::vector<uint8_t> &h = doc.entries[size_t(doc.find("Data Object Store 000001/Resolution 0000/Subimage 0000 Header"))].data;
        h[32 + 2] = 1;  // width (bytes 32-35) becomes 0x10000 + 40
    }, {0x02});
    const std::string text = "not a compound file";
    put("import", "code_not_flashpix", 0x02, Bytes(text.begin(), text.end()));
}

// JPEG tiles with their table prefixes, as the JPEG target reads them.
void jpeg_tiles()
{
    const fpxw::Image image = fpxw::make_synthetic(64, 64);
    for (int components : {1, 3, 4})
        for (uint8_t sub : {0x11, 0x21, 0x22})
            for (int progressive = 0; progressive < 2; ++progressive)
                for (int abbreviated = 0; abbreviated < 2; ++abbreviated) {
                    if (components == 1 && sub != 0x11)
                        continue;
                    fpxw::JpegParams p;
                    p.components = components;
                    p.subsampling = sub;
                    p.chroma = {false, components > 1, components > 1, false};
                    p.chroma.resize(size_t(components));
                    p.progressive = progressive != 0;
                    p.restart_interval = abbreviated ? 0 : 3;
                    Bytes samples;
                    for (size_t i = 0; i < image.samples.size(); i += 4)
                        samples.insert(samples.end(), image.samples.begin() + long(i),
                                       image.samples.begin() + long(i) + components);
                    Bytes tables, tile;
                    if (!fpxw::encode_tables(p, tables).empty() ||
                        !fpxw::encode_tile(p, samples.data(), 64, 64, abbreviated != 0, tile).empty())
                        continue;
                    Bytes body{uint8_t(tables.size()), uint8_t(tables.size() >> 8)};
                    body.insert(body.end(), tables.begin(), tables.end());
                    body.insert(body.end(), tile.begin(), tile.end());
                    // Destination and flag as the import gives them; subsampling index.
                    const uint8_t mode = components == 1 ? 0 : components == 3 ? 1 : 2 | 4;
                    const uint8_t subIndex = sub == 0x11 ? 0 : sub == 0x21 ? 1 : 2;
                    put("jpeg",
                        "tile_" + std::to_string(components) + "_" + std::to_string(sub) + "_" +
                            std::to_string(progressive) + std::to_string(abbreviated),
                        uint8_t(mode | subIndex << 3), body);
                }
}

void profiles()
{
    const std::string text[] = {
        "Mode\nResolution\n2\n[Mode]\r\nResolution=1\r\nColours=\"FILE\"\r\n; comment\r\n[Other]\r\nx=0x1f\r\n",
        "fonts\nname\nvalue\n[ Fonts ; c]\nname = a\nname=\"\"\"quoted\"\nFONTS\nkey=12abc\n[last]\nend",
        "s\n\n\n[s]\na=1\nbc=2\n",
    };
    for (int k = 0; k < 3; ++k)
        for (uint8_t control : {0x01 | 0x0A, 0x01 | 0x1C, 0x01 | 0x22, 0x01 | 0x3E})
            put("properties", "profile" + std::to_string(k) + "_" + std::to_string(control), control,
                Bytes(text[k].begin(), text[k].end()));
}

// The real files of the shared corpus, as they are.
void corpus(const std::string &folder)
{
    DIR *dir = opendir(folder.c_str());
    if (!dir)
        return;
    while (const dirent *e = readdir(dir)) {
        const std::string name = e->d_name;
        if (name.size() < 5 || name.find(".png") != std::string::npos ||
            (name.find(".fpx") == std::string::npos && name.find(".doc") == std::string::npos &&
             name.find(".mic") == std::string::npos))
            continue;
        const Bytes file = read_file(folder + "/" + name);
        put("import", "corpus_" + name, 0x02, file);
        put("file_info", "corpus_" + name, 0x00, file);
        put("cfb", "corpus_" + name, 0x00, file);
    }
    closedir(dir);
}

} // namespace

int main(int argc, char **argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: fuzz_seeds <folder> [corpus folder]\n");
        return 2;
    }
    g_out = argv[1];
    mkdir(g_out.c_str(), 0777);
    for (const char *t : {"cfb", "import", "file_info", "jpeg", "properties"})
        mkdir((g_out + "/" + t).c_str(), 0777);
    documents();
    import_codes();
    jpeg_tiles();
    profiles();
    if (argc > 2)
        corpus(argv[2]);
    std::printf("fuzz_seeds: %d seeds in %s\n", g_written, g_out.c_str());
    return g_written > 0 ? 0 : 1;
}
