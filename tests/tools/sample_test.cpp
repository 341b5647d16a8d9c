// samples/sample.fpx is made byte for byte by the command below: a stale sample fails here.
#include "fpxwrite_fixture.h"

#include <filesystem>

using namespace fpxtest;

TEST(FpxSample, MadeByTheDocumentedCommand)
{
    const std::string sample = kxtest::source_dir() + "/samples/sample.fpx";
    EXPECT_LT(std::filesystem::file_size(sample), 200u * 1024);
    CommandLine cmd;
    ASSERT_EQ(parse_command_line({"--synthetic", "640x480", "--resolutions", "3", "--title", "fpxwrite sample",
                                  "samples/sample.fpx"},
                                 cmd),
              "");
    const Document doc = build(cmd.options, make_synthetic(cmd.synthetic_width, cmd.synthetic_height));
    for (size_t i = 1; i < doc.entries.size(); ++i) {
        if (doc.entries[i].storage)
            continue;
        std::string path = doc.entries[i].name; // "Data Object Store 000001/Resolution 0000/..."
        for (int p = doc.entries[i].parent; p > 0; p = doc.entries[size_t(p)].parent)
            path = doc.entries[size_t(p)].name + "/" + path;
        bool ok = false;
        EXPECT_TRUE(read_stream(sample, path, ok) == doc.entries[i].data && ok) << path << ": regenerate the sample";
    }
}
