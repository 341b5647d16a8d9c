// Every saved fuzz finding and committed seed, replayed through the same
// entry functions the libFuzzer targets call; a crash, a leak or a sanitizer
// report fails the test. The import's inputs together end with every code
// of its failure tables.
#include "support.h"

#include "fuzz_targets.h"

#include <dirent.h>

#include <fstream>
#include <iterator>
#include <set>
#include <vector>

namespace kxfuzz {
void PrintTo(const Target &t, std::ostream *os) { *os << t.name; }
} // namespace kxfuzz

namespace {

std::vector<std::string> files_in(const std::string &dir)
{
    std::vector<std::string> out;
    if (DIR *d = opendir(dir.c_str())) {
        while (const dirent *e = readdir(d))
            if (e->d_name[0] != '.')
                out.push_back(dir + "/" + e->d_name);
        closedir(d);
    }
    return out;
}

class Replay : public testing::TestWithParam<kxfuzz::Target> {};

TEST_P(Replay, SavedInputsRunClean)
{
    const kxfuzz::Target t = GetParam();
    std::set<int32_t> codes;
    size_t count = 0;
    for (const char *kind : {"regressions", "seeds"})
        for (const std::string &path : files_in(std::string(KXFUZZ_DIR) + "/" + kind + "/" + t.name)) {
            std::ifstream f(path, std::ios::binary);
            const std::vector<uint8_t> bytes(std::istreambuf_iterator<char>(f), {});
            SCOPED_TRACE(path);
            EXPECT_EQ(t.run(bytes.data(), bytes.size()), 0);
            codes.insert(kxfuzz::last_import_code);
            ++count;
        }
    EXPECT_GT(count, 0u);
    if (t.run == kxfuzz::import_target) {
        EXPECT_EQ(codes, (std::set<int32_t>{0, 7, 9, 14, 21, 27, 61, -23}));
    }
}

INSTANTIATE_TEST_SUITE_P(Targets, Replay, testing::ValuesIn(kxfuzz::kTargets),
                         [](const auto &info) { return std::string(info.param.name); });

} // namespace
