// fpxwrite: writes FlashPix files for tests and samples. The options below
// cover every feature the import reads; build_document lays the whole file
// out in memory (storages, streams and their bytes, in directory order) and
// write_document hands it to the project's Compound File writer.
#pragma once

#include "image.h"

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace fpxw {

enum class ColourSpace { rgb, monochrome, photoycc };
enum class Compression { raw, jpeg, mixed };  // mixed: even tiles raw, odd tiles JPEG
enum class FlatTiles { automatic, never, always };

// The viewing transform; only the values given are written, so a reader's
// defaults can be exercised too.
struct TransformOptions {
    bool write = false;  // a "\005Transform 000001" stream, even an empty one
    std::optional<float> aspect_ratio;
    std::optional<std::array<float, 4>> region;  // left, top, right, bottom in image heights
    std::optional<float> filtering;
    std::optional<std::array<float, 16>> affine;  // row-major 4 x 4
    std::optional<std::array<float, 16>> colour_twist;
    std::optional<float> contrast;

    bool any() const
    {
        return write || aspect_ratio || region || filtering || affine || colour_twist || contrast;
    }
};

// Unix time of 2000-01-01, the default creation time, so that the same
// command always gives the same bytes.
inline constexpr int64_t kDefaultUnixTime = 946684800;

struct WriteOptions {
    ColourSpace colour = ColourSpace::rgb;
    bool opacity = false;         // a fourth (or second) channel, code 0x7FFE
    std::string channel_order;    // RGB only: a permutation of "RGB", plus "A" with opacity
    int colour_conversion = -1;   // RGB JPEG tiles stored as YCbCr; -1: on for RGB
    bool invert = false;          // bit 15 of channel 0's code
    Compression compression = Compression::jpeg;
    FlatTiles flat_tiles = FlatTiles::automatic;
    std::vector<int> flat_tile_list;  // tiles of the full resolution forced to one colour
    std::vector<int> flat_colour;     // colour of forced tiles, one value per stored channel;
                                      // empty: the mean of the tile
    int quality = 90;
    int subsampling = -1;         // 0x11, 0x21, 0x22; -1: 0x22 for YCbCr and PhotoYCC, else 0x11
    bool progressive = false;
    int restart_interval = 0;
    bool optimize_huffman = false;  // each tile carries its own optimized DHT segments
    bool jfif = false;              // each tile starts with a JFIF APP0 segment
    bool tables_in_tiles = false; // else in "\005Image Contents", tiles abbreviated
    int table_sets = 1;           // 1 to 255; set k has quality - 10 (k - 1), tile t uses set 1 + t mod n
    int resolutions = 0;          // 0: halve until both sides are 64 or less
    std::vector<int> missing_resolutions;  // storages left out; their properties stay
    int data_object = 1;          // index of the marked data object and its store
    int highest_data_object = 0;  // Global Info's highest index; 0: data_object
    std::vector<int> unmarked_data_objects;  // data objects whose flag is 0
    TransformOptions transform;
    int transform_index = 1;      // the transform stream's number and Global Info's index
    int64_t unix_time = kDefaultUnixTime;
    std::string title;
};

// One storage or stream of the file, in the order of creation.
struct DocumentEntry {
    int parent = -1;  // index of the parent storage; -1 for the root
    std::string name;
    bool storage = false;
    std::vector<uint8_t> data;
    // A storage's class id; all zero keeps the writer's default.
    std::array<uint8_t, 16> clsid{};
};

struct Document {
    std::vector<DocumentEntry> entries;  // entries[0] is "Root Entry"
    // Index of the entry at a path such as "Data Object Store 000001/Resolution 0000"; -1 if none.
    int find(const std::string &path) const;
};

// Resolves defaults (colour conversion, subsampling, channel order) and
// checks the combination; an empty string when the options are usable.
std::string resolve_options(WriteOptions &options, const Image &image);

// The resolutions, lowest first: index 0 is the smallest, the last the input.
std::string make_pyramid(const WriteOptions &options, const Image &full, std::vector<Image> &levels);

std::string build_document(const WriteOptions &options, const Image &image, Document &doc);

// Writes the document through qorOpen / qorCreateStorage / qorCreateStream.
std::string write_document(const Document &doc, const std::string &path);

// resolve_options, build_document and write_document in one.
std::string write_fpx(const WriteOptions &options, const Image &image, const std::string &path);

// Command line: options and operands as parsed; the tool's main runs it.
struct CommandLine {
    WriteOptions options;
    std::string input;             // PNG or PPM/PGM path; empty with synthetic
    int synthetic_width = 0;       // > 0 selects the synthetic picture
    int synthetic_height = 0;
    std::string output;
    bool help = false;
    bool verbose = false;
};
std::string parse_command_line(const std::vector<std::string> &args, CommandLine &cmd);
std::string usage_text();
int run_command_line(int argc, char **argv);

} // namespace fpxw
