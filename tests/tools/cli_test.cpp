// The fpxwrite command line: every listed option accepted, bad values refused, output reproducible.
#include "fpxwrite_fixture.h"

#include <regex>
#include <set>

using namespace fpxtest;

TEST(FpxCli, EveryListedOptionIsAcceptedAndBadLinesAreRefused)
{
    const std::vector<std::vector<std::string>> good = {
        {"--synthetic", "320x200"}, {"--colour", "photoycc"}, {"--opacity"}, {"--channel-order", "bgr"},
        {"--colour-convert"}, {"--no-colour-convert"}, {"--invert"}, {"--compression", "mixed"},
        {"--flat", "always"}, {"--flat-tile", "0,3"}, {"--flat-colour", "1,2,3"}, {"--quality", "55"},
        {"--subsampling", "21"}, {"--progressive", "--baseline"}, {"--restart", "7"}, {"--optimize-huffman"},
        {"--jfif"}, {"--tables-in-tiles"}, {"--table-sets", "5"}, {"--resolutions", "3"}, {"--transform"},
        {"--aspect", "1.5"}, {"--roi", "0.1,0.2,1.3,0.9"}, {"--filter", "-7"}, {"--affine", "0,-1,0.5,1,0,0"},
        {"--colour-twist", "1,0,0,0,0,1,0,0,0,0,1,0.25"}, {"--contrast", "2"}, {"--title", "hello"},
        {"--time", "1700000000"}, {"--verbose"}, {"--help"}};
    std::set<std::string> covered;
    for (std::vector<std::string> args : good) {
        for (const std::string &arg : args)
            if (arg.rfind("--", 0) == 0)
                covered.insert(arg);
        if (args[0] != "--synthetic" && args[0] != "--help")
            args.push_back("in.png");
        args.push_back("out.fpx");
        CommandLine cmd;
        EXPECT_EQ(parse_command_line(args, cmd), "") << args[0];
    }
    const std::string help = usage_text();
    const std::regex option("--[a-z-]+");
    for (auto it = std::sregex_iterator(help.begin(), help.end(), option); it != std::sregex_iterator(); ++it)
        EXPECT_EQ(covered.count(it->str()), 1u) << it->str() << " is listed but not tested";

    CommandLine cmd;
    ASSERT_EQ(parse_command_line({"--quality=40", "--subsampling", "21", "--affine", "0,-1,0.5,1,0,0",
                                  "--channel-order", "bgr", "in.ppm", "out.fpx"},
                                 cmd),
              "");
    EXPECT_EQ(cmd.options.quality, 40);
    EXPECT_EQ(cmd.options.subsampling, 0x21);
    EXPECT_EQ(cmd.options.channel_order, "BGR");
    EXPECT_EQ(cmd.options.transform.affine,
              (std::array<float, 16>{0, -1, 0, 0.5f, 1, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1}));

    // One row per guard: the shared number parser once above its range, once below, once with trailing text.
    const std::vector<std::vector<std::string>> bad = {
        {"--bogus", "a.png", "b.fpx"}, {"a.png"}, {"a.png", "b.png", "c.fpx"}, {"--synthetic", "100", "b.fpx"},
        {"--synthetic", "10x10", "a.png", "b.fpx"}, {"--quality", "101", "a.png", "b.fpx"},
        {"--quality", "9x", "a.png", "b.fpx"}, {"--table-sets", "0", "a.png", "b.fpx"},
        {"--subsampling", "12", "a.png", "b.fpx"}, {"--roi", "1,2,3", "a.png", "b.fpx"},
        {"--affine", "1,2,3,4,5", "a.png", "b.fpx"}, {"--colour", "cmyk", "a.png", "b.fpx"},
        {"--flat-tile", "1.5", "a.png", "b.fpx"}, {"--quality"}};
    for (const auto &args : bad)
        EXPECT_NE(parse_command_line(args, cmd), "") << args[0];
}

namespace {

int run_tool(const std::string &args)
{
    const int status = std::system((kxtest::bin_dir() + "/fpxwrite " + args + " >/dev/null 2>&1").c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

} // namespace

TEST(FpxCli, TheToolWritesFromPngPpmAndSyntheticReproducibly)
{
    kxtest::TempDir dir;
    const std::string png = dir.file("in.png"), out = dir.file("out.fpx");
    const Image img = make_synthetic(90, 70);
    ASSERT_EQ(save_png(png, img), "");
    std::string ppm_bytes = "P6\n# comment\n90 70\n255\n";
    for (size_t i = 0; i < img.samples.size(); i += 4)
        ppm_bytes.append(reinterpret_cast<const char *>(&img.samples[i]), 3);
    const std::string ppm = dir.write("in.ppm", ppm_bytes);
    EXPECT_EQ(run_tool("--help"), 0);
    EXPECT_EQ(run_tool("--bogus x y"), 2);
    EXPECT_EQ(run_tool(dir.file("missing.png") + " " + out), 1);
    for (const std::string &args : {png + " " + out, ppm + " " + out, "--synthetic 200x120 --progressive " + out}) {
        std::remove(out.c_str());
        EXPECT_EQ(run_tool(args), 0) << args;
        EXPECT_EQ(kxtest::read_file(out).substr(0, 8), "\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1") << args;
    }
    EXPECT_EQ(run_tool("--synthetic 200x120 --progressive " + dir.file("again.fpx")), 0);
    EXPECT_TRUE(kxtest::read_file(out) == kxtest::read_file(dir.file("again.fpx")));

    // PGM and PNG loaders agree; a short PGM is refused.
    const Image grey{5, 3, 1, {0, 1, 2, 3, 4, 50, 60, 70, 80, 90, 251, 252, 253, 254, 255}};
    const std::string pgm = "P5 5 3 255\n" + std::string(grey.samples.begin(), grey.samples.end());
    Image from_pgm, from_png;
    EXPECT_NE(load_image(dir.write("short.pgm", pgm.substr(0, pgm.size() - 1)), from_pgm), "");
    ASSERT_EQ(save_png(png, grey), "");
    EXPECT_EQ(load_image(dir.write("in.pgm", pgm), from_pgm), "");
    EXPECT_EQ(load_image(png, from_png), "");
    EXPECT_EQ(from_pgm.channels, 1);
    EXPECT_TRUE(from_pgm.samples == grey.samples);
    EXPECT_TRUE(from_png.samples == grey.samples);
}
