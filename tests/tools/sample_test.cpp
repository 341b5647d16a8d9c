// samples/sample.fpx is made byte for byte by the command below.
#include "fpxwrite_fixture.h"

#include <sys/stat.h>

using namespace fpxtest;

namespace {

const std::vector<std::string> kSampleCommand = {"--synthetic", "640x480", "--resolutions", "3",
                                                 "--title", "fpxwrite sample", "samples/sample.fpx"};

std::string sample_path() { return kxtest::source_dir() + "/samples/sample.fpx"; }

} // namespace

TEST(FpxSample, MadeByTheDocumentedCommand)
{
    struct stat st;
    ASSERT_EQ(::stat(sample_path().c_str(), &st), 0);
    EXPECT_LT(st.st_size, 200 * 1024);
    CommandLine cmd;
    ASSERT_EQ(parse_command_line(kSampleCommand, cmd), "");
    const Document doc = build(cmd.options, make_synthetic(cmd.synthetic_width, cmd.synthetic_height));
    for (size_t i = 1; i < doc.entries.size(); ++i) {
        if (doc.entries[i].storage)
            continue;
        bool ok = false;
        const std::vector<uint8_t> bytes = read_stream(sample_path(), doc_path(doc, i), ok);
        ASSERT_TRUE(ok) << doc_path(doc, i);
        EXPECT_TRUE(bytes == doc.entries[i].data) << doc_path(doc, i) << ": regenerate the sample";
    }
}
