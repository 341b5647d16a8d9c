// The fpxwrite command line: options into WriteOptions, the input picture
// (PNG, PPM/PGM or the synthetic one), and the file written through the
// Compound File writer. Errors go to stderr with exit status 2 for usage
// and 1 for failures.
#include "fpxwrite.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace fpxw {

namespace {

bool parse_int(const std::string &text, long lo, long hi, int &out)
{
    if (text.empty())
        return false;
    errno = 0;
    char *end = nullptr;
    const long v = std::strtol(text.c_str(), &end, 0);
    if (errno != 0 || *end != '\0' || v < lo || v > hi)
        return false;
    out = int(v);
    return true;
}

bool parse_floats(const std::string &text, std::vector<float> &out)
{
    out.clear();
    size_t start = 0;
    while (start <= text.size()) {
        const size_t comma = text.find(',', start);
        const std::string part = text.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
        if (part.empty())
            return false;
        errno = 0;
        char *end = nullptr;
        const float v = std::strtof(part.c_str(), &end);
        if (errno != 0 || *end != '\0')
            return false;
        out.push_back(v);
        if (comma == std::string::npos)
            break;
        start = comma + 1;
    }
    return true;
}

std::array<float, 16> identity16()
{
    return {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};
}

} // namespace

std::string usage_text()
{
    return
        "usage: fpxwrite [options] INPUT.png|INPUT.ppm OUTPUT.fpx\n"
        "       fpxwrite [options] --synthetic WxH OUTPUT.fpx\n"
        "\n"
        "Writes a FlashPix file with the project's Compound File writer.\n"
        "\n"
        "Picture\n"
        "  --synthetic WxH        built-in photo-like picture (gradients, edges, texture,\n"
        "                         flat areas, an alpha channel) instead of an input file\n"
        "Colour\n"
        "  --colour rgb|mono|photoycc   colour space of the file (default rgb)\n"
        "  --opacity              add an opacity channel (code 0x7FFE), colours premultiplied\n"
        "  --channel-order ORDER  RGB channels stored in this order, e.g. BGR or GRBA\n"
        "                         (opacity before a colour: raw tiles only)\n"
        "  --colour-convert       RGB JPEG tiles stored as YCbCr, internal colour conversion\n"
        "                         flag set (default for RGB JPEG tiles)\n"
        "  --no-colour-convert    RGB JPEG tiles stored as RGB, flag clear\n"
        "  --invert               set the inverted-output bit of channel 0 (RGB); YCbCr tiles\n"
        "                         then hold the complement so that the output is the input\n"
        "Tiles\n"
        "  --compression raw|jpeg|mixed  tile kind (default jpeg; mixed: even tiles raw,\n"
        "                         odd tiles JPEG)\n"
        "  --flat auto|never|always  single-colour tiles for flat tiles (default auto),\n"
        "                         never, or for every tile (its mean colour)\n"
        "  --flat-tile N[,N...]   force these tiles of the full resolution to one colour\n"
        "                         (their pixels stay in the data stream)\n"
        "  --flat-colour V[,V...] the colour of forced tiles, one value per stored channel\n"
        "                         (default: the tile's mean)\n"
        "  --quality Q            JPEG quality 1-100 (default 90)\n"
        "  --subsampling 11|21|22 JPEG chroma subsampling (default 22 for YCbCr and PhotoYCC,\n"
        "                         11 otherwise)\n"
        "  --progressive          progressive JPEG tiles\n"
        "  --baseline             baseline JPEG tiles (the default)\n"
        "  --restart N            restart interval in MCUs (default 0, none)\n"
        "  --optimize-huffman     optimized Huffman tables, carried in every tile\n"
        "  --jfif                 a JFIF APP0 segment at the start of every tile\n"
        "  --tables-in-tiles      every JPEG tile carries its own tables (table index 0)\n"
        "  --table-sets N         N JPEG table sets in \"\\005Image Contents\" (default 1); set k\n"
        "                         has quality Q - 10 (k - 1), tile t uses set 1 + t mod N\n"
        "Resolutions\n"
        "  --resolutions N        N resolutions (default: halve until both sides <= 64)\n"
        "Viewing transform (written to \"\\005Transform 000001\"; only the values given)\n"
        "  --transform            write a transform stream even without values\n"
        "  --aspect R             aspect ratio\n"
        "  --roi L,T,R,B          region of interest in image heights\n"
        "  --filter F             filtering value (< 0 blur, > 0 sharpen)\n"
        "  --affine a,b,tx,c,d,ty | 16 values   affine matrix (row-major 4 x 4; the\n"
        "                         translations tx, ty in image heights)\n"
        "  --colour-twist 12 | 16 values        colour twist matrix (row-major)\n"
        "  --contrast C           contrast\n"
        "Other\n"
        "  --title TEXT           title in the summary information\n"
        "  --time SECONDS         creation time, Unix seconds (default 2000-01-01)\n"
        "  --verbose              print what was written\n"
        "  --help                 this text\n";
}

std::string parse_command_line(const std::vector<std::string> &args, CommandLine &cmd)
{
    std::vector<std::string> operands;
    WriteOptions &o = cmd.options;
    for (size_t i = 0; i < args.size(); ++i) {
        std::string arg = args[i];
        std::string value;
        bool has_value = false;
        if (arg.rfind("--", 0) == 0) {
            const size_t eq = arg.find('=');
            if (eq != std::string::npos) {
                value = arg.substr(eq + 1);
                arg = arg.substr(0, eq);
                has_value = true;
            }
        } else {
            operands.push_back(arg);
            continue;
        }
        auto need = [&](std::string &out) -> bool {
            if (has_value) {
                out = value;
                return true;
            }
            if (i + 1 >= args.size())
                return false;
            out = args[++i];
            return true;
        };
        std::string v;
        std::vector<float> floats;
        if (arg == "--help") {
            cmd.help = true;
        } else if (arg == "--verbose") {
            cmd.verbose = true;
        } else if (arg == "--synthetic") {
            if (!need(v))
                return "--synthetic needs WxH";
            const size_t x = v.find_first_of("xX");
            if (x == std::string::npos || !parse_int(v.substr(0, x), 1, kMaxDimension, cmd.synthetic_width) ||
                !parse_int(v.substr(x + 1), 1, kMaxDimension, cmd.synthetic_height))
                return "--synthetic needs WxH with sides 1 to 65535, got " + v;
        } else if (arg == "--colour" || arg == "--color") {
            if (!need(v))
                return "--colour needs rgb, mono or photoycc";
            if (v == "rgb")
                o.colour = ColourSpace::rgb;
            else if (v == "mono" || v == "monochrome" || v == "grey" || v == "gray")
                o.colour = ColourSpace::monochrome;
            else if (v == "photoycc" || v == "ycc")
                o.colour = ColourSpace::photoycc;
            else
                return "unknown colour space " + v;
        } else if (arg == "--opacity") {
            o.opacity = true;
        } else if (arg == "--channel-order") {
            if (!need(v))
                return "--channel-order needs an order such as BGR";
            for (char &c : v)
                c = char(std::toupper(static_cast<unsigned char>(c)));
            o.channel_order = v;
        } else if (arg == "--colour-convert" || arg == "--color-convert") {
            o.colour_conversion = 1;
        } else if (arg == "--no-colour-convert" || arg == "--no-color-convert") {
            o.colour_conversion = 0;
        } else if (arg == "--invert") {
            o.invert = true;
        } else if (arg == "--compression") {
            if (!need(v))
                return "--compression needs raw, jpeg or mixed";
            if (v == "raw")
                o.compression = Compression::raw;
            else if (v == "jpeg")
                o.compression = Compression::jpeg;
            else if (v == "mixed")
                o.compression = Compression::mixed;
            else
                return "unknown compression " + v;
        } else if (arg == "--flat") {
            if (!need(v))
                return "--flat needs auto, never or always";
            if (v == "auto")
                o.flat_tiles = FlatTiles::automatic;
            else if (v == "never")
                o.flat_tiles = FlatTiles::never;
            else if (v == "always")
                o.flat_tiles = FlatTiles::always;
            else
                return "unknown --flat value " + v;
        } else if (arg == "--flat-tile") {
            if (!need(v) || !parse_floats(v, floats))
                return "--flat-tile needs tile numbers";
            for (float f : floats) {
                if (f < 0 || f > 1e9f || float(int(f)) != f)
                    return "--flat-tile needs whole tile numbers";
                o.flat_tile_list.push_back(int(f));
            }
        } else if (arg == "--flat-colour" || arg == "--flat-color") {
            if (!need(v) || !parse_floats(v, floats))
                return "--flat-colour needs values 0 to 255";
            for (float f : floats) {
                if (f < 0 || f > 255 || float(int(f)) != f)
                    return "--flat-colour needs whole values 0 to 255";
                o.flat_colour.push_back(int(f));
            }
        } else if (arg == "--quality") {
            if (!need(v) || !parse_int(v, 1, 100, o.quality))
                return "--quality needs 1 to 100";
        } else if (arg == "--subsampling") {
            if (!need(v))
                return "--subsampling needs 11, 21 or 22";
            if (v == "11" || v == "0x11")
                o.subsampling = 0x11;
            else if (v == "21" || v == "0x21")
                o.subsampling = 0x21;
            else if (v == "22" || v == "0x22")
                o.subsampling = 0x22;
            else
                return "--subsampling needs 11, 21 or 22";
        } else if (arg == "--progressive") {
            o.progressive = true;
        } else if (arg == "--baseline") {
            o.progressive = false;
        } else if (arg == "--restart") {
            if (!need(v) || !parse_int(v, 0, 65535, o.restart_interval))
                return "--restart needs 0 to 65535";
        } else if (arg == "--optimize-huffman") {
            o.optimize_huffman = true;
        } else if (arg == "--jfif") {
            o.jfif = true;
        } else if (arg == "--tables-in-tiles") {
            o.tables_in_tiles = true;
        } else if (arg == "--table-sets") {
            if (!need(v) || !parse_int(v, 1, 255, o.table_sets))
                return "--table-sets needs 1 to 255";
        } else if (arg == "--resolutions") {
            if (!need(v) || !parse_int(v, 1, 64, o.resolutions))
                return "--resolutions needs a count from 1";
        } else if (arg == "--transform") {
            o.transform.write = true;
        } else if (arg == "--aspect") {
            if (!need(v) || !parse_floats(v, floats) || floats.size() != 1)
                return "--aspect needs one number";
            o.transform.aspect_ratio = floats[0];
        } else if (arg == "--roi") {
            if (!need(v) || !parse_floats(v, floats) || floats.size() != 4)
                return "--roi needs four numbers L,T,R,B";
            o.transform.region = std::array<float, 4>{floats[0], floats[1], floats[2], floats[3]};
        } else if (arg == "--filter") {
            if (!need(v) || !parse_floats(v, floats) || floats.size() != 1)
                return "--filter needs one number";
            o.transform.filtering = floats[0];
        } else if (arg == "--affine") {
            if (!need(v) || !parse_floats(v, floats) || (floats.size() != 6 && floats.size() != 16))
                return "--affine needs 6 numbers (a,b,tx,c,d,ty) or 16";
            std::array<float, 16> m = identity16();
            if (floats.size() == 6) {
                m[0] = floats[0], m[1] = floats[1], m[3] = floats[2];
                m[4] = floats[3], m[5] = floats[4], m[7] = floats[5];
            } else {
                std::copy(floats.begin(), floats.end(), m.begin());
            }
            o.transform.affine = m;
        } else if (arg == "--colour-twist" || arg == "--color-twist") {
            if (!need(v) || !parse_floats(v, floats) || (floats.size() != 12 && floats.size() != 16))
                return "--colour-twist needs 12 or 16 numbers";
            std::array<float, 16> m = identity16();
            std::copy(floats.begin(), floats.end(), m.begin());
            o.transform.colour_twist = m;
        } else if (arg == "--contrast") {
            if (!need(v) || !parse_floats(v, floats) || floats.size() != 1)
                return "--contrast needs one number";
            o.transform.contrast = floats[0];
        } else if (arg == "--title") {
            if (!need(v))
                return "--title needs a text";
            o.title = v;
        } else if (arg == "--time") {
            if (!need(v))
                return "--time needs Unix seconds";
            errno = 0;
            char *end = nullptr;
            const long long t = std::strtoll(v.c_str(), &end, 10);
            if (errno != 0 || *end != '\0' || t < 0 || t > 253402300799LL)
                return "--time needs Unix seconds up to the year 9999";
            o.unix_time = t;
        } else {
            return "unknown option " + arg;
        }
    }
    if (cmd.help)
        return {};
    const size_t expected = cmd.synthetic_width > 0 ? 1 : 2;
    if (operands.size() != expected)
        return cmd.synthetic_width > 0 ? "give one output file with --synthetic"
                                       : "give an input picture and an output file";
    if (expected == 2)
        cmd.input = operands[0];
    cmd.output = operands.back();
    return {};
}

int run_command_line(int argc, char **argv)
{
    CommandLine cmd;
    std::vector<std::string> args(argv + 1, argv + argc);
    std::string err = parse_command_line(args, cmd);
    if (!err.empty()) {
        std::fprintf(stderr, "fpxwrite: %s\n(fpxwrite --help lists the options)\n", err.c_str());
        return 2;
    }
    if (cmd.help) {
        std::fputs(usage_text().c_str(), stdout);
        return 0;
    }
    Image image;
    if (cmd.synthetic_width > 0) {
        image = make_synthetic(cmd.synthetic_width, cmd.synthetic_height);
        if (image.samples.empty()) {
            std::fprintf(stderr, "fpxwrite: %s\n", check_size(cmd.synthetic_width, cmd.synthetic_height).c_str());
            return 1;
        }
    } else {
        err = load_image(cmd.input, image);
        if (!err.empty()) {
            std::fprintf(stderr, "fpxwrite: %s\n", err.c_str());
            return 1;
        }
    }
    Document doc;
    err = build_document(cmd.options, image, doc);
    if (err.empty())
        err = write_document(doc, cmd.output);
    if (!err.empty()) {
        std::fprintf(stderr, "fpxwrite: %s\n", err.c_str());
        return 1;
    }
    if (cmd.verbose) {
        for (const DocumentEntry &e : doc.entries) {
            std::string path = e.name;
            for (int p = e.parent; p > 0; p = doc.entries[size_t(p)].parent)
                path = doc.entries[size_t(p)].name + "/" + path;
            for (char &c : path)
                if (static_cast<unsigned char>(c) < 0x20)
                    c = '^';
            std::printf("%s %s%s\n", e.storage ? "storage" : "stream ", path.c_str(),
                        e.storage ? "" : (" (" + std::to_string(e.data.size()) + " bytes)").c_str());
        }
    }
    return 0;
}

} // namespace fpxw
