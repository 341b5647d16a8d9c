// Every quoted #include under src/ must follow the layering: a folder may
// include its own headers and those of the folders below it, never one
// above it. The companions' headers are reached from port only.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <string>

namespace {

namespace fs = std::filesystem;

// What each folder may include besides itself.
const std::map<std::string, std::set<std::string>> kAllowed = {
    {"port", {"options", "nativemem"}},
    {"io", {"port"}},
    {"profile", {"port", "io"}},
    {"jpeg", {"port", "io"}},
    {"output", {"port"}},
    {"fpx", {"port", "io", "profile", "jpeg", "output"}},
    {"filter", {"port", "io", "profile", "jpeg", "output", "fpx"}},
};

TEST(Layering, EveryIncludeUnderSrcFollowsTheGraph)
{
    const fs::path src = fs::path(KXFPX_SOURCE_DIR) / "src";
    const std::regex include(R"(^\s*#\s*include\s*"([^"/]+)/[^"]+")");
    int checked = 0;
    for (const auto &entry : fs::recursive_directory_iterator(src)) {
        if (!entry.is_regular_file())
            continue;
        const std::string folder = entry.path().lexically_relative(src).begin()->string();
        const auto allowed = kAllowed.find(folder);
        ASSERT_NE(allowed, kAllowed.end()) << "folder without a place in the graph: " << folder;
        std::ifstream in(entry.path());
        std::string line;
        for (int number = 1; std::getline(in, line); ++number) {
            std::smatch m;
            if (!std::regex_search(line, m, include))
                continue;
            ++checked;
            const std::string target = m[1];
            EXPECT_TRUE(target == folder || allowed->second.count(target))
                << entry.path().string() << ":" << number << " includes " << target << "/";
        }
    }
    EXPECT_GT(checked, 0);
}

} // namespace
