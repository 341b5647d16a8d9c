// The fpxwrite command line: every option listed by --help is parsed into
// the option it names, bad values are refused with a message, and the tool
// itself turns PNG, PPM and synthetic input into files.
#include "oracles/fpx_parse.h"
#include "support.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <functional>
#include <regex>
#include <set>
#include <unistd.h>

using namespace fpxw;

namespace {

std::string parse(std::vector<std::string> args, CommandLine &cmd)
{
    args.push_back("out.fpx");
    return parse_command_line(args, cmd);
}

} // namespace

TEST(FpxCli, EveryListedOptionIsParsedIntoItsField)
{
    using Check = std::function<bool(const CommandLine &)>;
    const std::vector<std::pair<std::vector<std::string>, Check>> cases = {
        {{"--synthetic", "320x200"}, [](const CommandLine &c) { return c.synthetic_width == 320 && c.synthetic_height == 200; }},
        {{"--colour", "photoycc", "in.png"}, [](const CommandLine &c) { return c.options.colour == ColourSpace::photoycc; }},
        {{"--opacity", "in.png"}, [](const CommandLine &c) { return c.options.opacity; }},
        {{"--channel-order", "bgr", "in.png"}, [](const CommandLine &c) { return c.options.channel_order == "BGR"; }},
        {{"--colour-convert", "in.png"}, [](const CommandLine &c) { return c.options.colour_conversion == 1; }},
        {{"--no-colour-convert", "in.png"}, [](const CommandLine &c) { return c.options.colour_conversion == 0; }},
        {{"--invert", "in.png"}, [](const CommandLine &c) { return c.options.invert; }},
        {{"--compression", "mixed", "in.png"}, [](const CommandLine &c) { return c.options.compression == Compression::mixed; }},
        {{"--flat", "always", "in.png"}, [](const CommandLine &c) { return c.options.flat_tiles == FlatTiles::always; }},
        {{"--flat-tile", "0,3", "in.png"}, [](const CommandLine &c) { return c.options.flat_tile_list == std::vector<int>{0, 3}; }},
        {{"--flat-colour", "1,2,3", "in.png"}, [](const CommandLine &c) { return c.options.flat_colour == std::vector<int>{1, 2, 3}; }},
        {{"--quality", "55", "in.png"}, [](const CommandLine &c) { return c.options.quality == 55; }},
        {{"--subsampling", "21", "in.png"}, [](const CommandLine &c) { return c.options.subsampling == 0x21; }},
        {{"--progressive", "in.png"}, [](const CommandLine &c) { return c.options.progressive; }},
        {{"--progressive", "--baseline", "in.png"}, [](const CommandLine &c) { return !c.options.progressive; }},
        {{"--restart", "7", "in.png"}, [](const CommandLine &c) { return c.options.restart_interval == 7; }},
        {{"--optimize-huffman", "in.png"}, [](const CommandLine &c) { return c.options.optimize_huffman; }},
        {{"--jfif", "in.png"}, [](const CommandLine &c) { return c.options.jfif; }},
        {{"--tables-in-tiles", "in.png"}, [](const CommandLine &c) { return c.options.tables_in_tiles; }},
        {{"--table-sets", "5", "in.png"}, [](const CommandLine &c) { return c.options.table_sets == 5; }},
        {{"--resolutions", "3", "in.png"}, [](const CommandLine &c) { return c.options.resolutions == 3; }},
        {{"--transform", "in.png"}, [](const CommandLine &c) { return c.options.transform.write; }},
        {{"--aspect", "1.5", "in.png"}, [](const CommandLine &c) { return c.options.transform.aspect_ratio == 1.5f; }},
        {{"--roi", "0.1,0.2,1.3,0.9", "in.png"},
         [](const CommandLine &c) { return c.options.transform.region == std::array<float, 4>{0.1f, 0.2f, 1.3f, 0.9f}; }},
        {{"--filter", "-7", "in.png"}, [](const CommandLine &c) { return c.options.transform.filtering == -7.0f; }},
        {{"--affine", "0,-1,0.5,1,0,0", "in.png"},
         [](const CommandLine &c) {
             return c.options.transform.affine ==
                    std::array<float, 16>{0, -1, 0, 0.5f, 1, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};
         }},
        {{"--colour-twist", "1,0,0,0,0,1,0,0,0,0,1,0.25", "in.png"},
         [](const CommandLine &c) { return (*c.options.transform.colour_twist)[11] == 0.25f && (*c.options.transform.colour_twist)[15] == 1.0f; }},
        {{"--contrast", "2", "in.png"}, [](const CommandLine &c) { return c.options.transform.contrast == 2.0f; }},
        {{"--title", "hello", "in.png"}, [](const CommandLine &c) { return c.options.title == "hello"; }},
        {{"--time", "1700000000", "in.png"}, [](const CommandLine &c) { return c.options.unix_time == 1700000000; }},
        {{"--verbose", "in.png"}, [](const CommandLine &c) { return c.verbose; }},
        {{"--help"}, [](const CommandLine &c) { return c.help; }},
    };
    std::set<std::string> covered;
    for (const auto &c : cases) {
        CommandLine cmd;
        EXPECT_EQ(parse(c.first, cmd), "") << c.first[0];
        EXPECT_TRUE(c.second(cmd)) << c.first[0];
        for (const std::string &arg : c.first)
            if (arg.rfind("--", 0) == 0)
                covered.insert(arg);
    }
    // Every option the help text lists is in the table above.
    const std::string help = usage_text();
    const std::regex option("--[a-z-]+");
    for (auto it = std::sregex_iterator(help.begin(), help.end(), option); it != std::sregex_iterator(); ++it)
        EXPECT_EQ(covered.count(it->str()), 1u) << it->str() << " is listed but not tested";
}

TEST(FpxCli, OptionEqualsValueAndOperands)
{
    CommandLine cmd;
    ASSERT_EQ(parse_command_line({"--quality=40", "in.ppm", "out.fpx"}, cmd), "");
    EXPECT_EQ(cmd.options.quality, 40);
    EXPECT_EQ(cmd.input, "in.ppm");
    EXPECT_EQ(cmd.output, "out.fpx");
}

TEST(FpxCli, BadCommandLinesAreRefused)
{
    const std::vector<std::vector<std::string>> bad = {
        {"--bogus", "a.png", "b.fpx"},
        {"a.png"},
        {"a.png", "b.png", "c.fpx"},
        {"--synthetic", "10x0", "b.fpx"},
        {"--synthetic", "100", "b.fpx"},
        {"--synthetic", "10x10", "a.png", "b.fpx"},
        {"--quality", "101", "a.png", "b.fpx"},
        {"--quality", "9x", "a.png", "b.fpx"},
        {"--subsampling", "12", "a.png", "b.fpx"},
        {"--roi", "1,2,3", "a.png", "b.fpx"},
        {"--affine", "1,2,3,4,5", "a.png", "b.fpx"},
        {"--colour", "cmyk", "a.png", "b.fpx"},
        {"--restart", "-1", "a.png", "b.fpx"},
        {"--table-sets", "0", "a.png", "b.fpx"},
        {"--flat-tile", "1.5", "a.png", "b.fpx"},
        {"--quality"},
    };
    for (const auto &args : bad) {
        CommandLine cmd;
        EXPECT_NE(parse_command_line(args, cmd), "") << args[0];
    }
}

namespace {

int run_tool(const std::string &args)
{
    const std::string cmd = kxtest::bin_dir() + "/fpxwrite " + args + " >/dev/null 2>&1";
    const int status = std::system(cmd.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

bool is_compound_file(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    char sig[8] = {};
    in.read(sig, 8);
    return in && std::memcmp(sig, "\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1", 8) == 0;
}

} // namespace

TEST(FpxCli, TheToolWritesFromPngPpmAndSynthetic)
{
    const std::string dir = kxtest::bin_dir() + "/fpxwrite_cli_" + std::to_string(getpid());
    const std::string png = dir + ".png", ppm = dir + ".ppm", out = dir + ".fpx";
    Image img = make_synthetic(90, 70);
    ASSERT_EQ(save_png(png, img), "");
    {
        std::ofstream f(ppm, std::ios::binary);
        f << "P6\n# comment\n90 70\n255\n";
        for (size_t i = 0; i < img.samples.size(); i += 4)
            f.write(reinterpret_cast<const char *>(&img.samples[i]), 3);
    }
    EXPECT_EQ(run_tool("--help"), 0);
    EXPECT_EQ(run_tool("--bogus x y"), 2);
    EXPECT_EQ(run_tool(dir + ".missing.png " + out), 1);
    for (const std::string &args : {png + " " + out, "--opacity --colour photoycc " + png + " " + out,
                                    ppm + " " + out, "--synthetic 200x120 --progressive " + out}) {
        std::remove(out.c_str());
        EXPECT_EQ(run_tool(args), 0) << args;
        EXPECT_TRUE(is_compound_file(out)) << args;
    }
    // The same command gives the same bytes.
    const std::string again = dir + ".again.fpx";
    EXPECT_EQ(run_tool("--synthetic 200x120 --progressive " + again), 0);
    std::ifstream a(out, std::ios::binary), b(again, std::ios::binary);
    const std::string bytes_a((std::istreambuf_iterator<char>(a)), {}), bytes_b((std::istreambuf_iterator<char>(b)), {});
    EXPECT_FALSE(bytes_a.empty());
    EXPECT_TRUE(bytes_a == bytes_b);
    for (const std::string &p : {png, ppm, out, again})
        std::remove(p.c_str());
}

TEST(FpxCli, PpmAndPngInputsAgree)
{
    const std::string base = kxtest::bin_dir() + "/fpxwrite_in_" + std::to_string(getpid());
    Image grey;
    grey.width = 5, grey.height = 3, grey.channels = 1;
    grey.samples = {0, 1, 2, 3, 4, 50, 60, 70, 80, 90, 251, 252, 253, 254, 255};
    {
        std::ofstream f(base + ".pgm", std::ios::binary);
        f << "P5 5 3 255\n";
        f.write(reinterpret_cast<const char *>(grey.samples.data()), 15);
    }
    ASSERT_EQ(save_png(base + ".png", grey), "");
    Image from_pgm, from_png;
    EXPECT_EQ(load_image(base + ".pgm", from_pgm), "");
    EXPECT_EQ(load_image(base + ".png", from_png), "");
    EXPECT_EQ(from_pgm.channels, 1);
    EXPECT_TRUE(from_pgm.samples == grey.samples);
    EXPECT_TRUE(from_png.samples == grey.samples);
    {
        std::ofstream f(base + ".pgm", std::ios::binary);
        f << "P5 5 3 255\n";
        f.write(reinterpret_cast<const char *>(grey.samples.data()), 14);  // one byte short
    }
    EXPECT_NE(load_image(base + ".pgm", from_pgm), "");
    std::remove((base + ".pgm").c_str());
    std::remove((base + ".png").c_str());
}
