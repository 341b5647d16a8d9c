// Shared pieces of the fpxwrite tests: documents built in memory, their streams, properties, tiles.
#pragma once

#include "oracles/fpx_parse.h"
#include "fpx/fpx_format.h"
#include "support.h"

#include <gtest/gtest.h>

#include <cstdio>

namespace fpxtest {

using namespace fpxw;
using namespace kxfpx::fpx;

inline const std::string kStore = "Data Object Store 000001";
inline const std::string kContents = kStore + "/\005Image Contents";

inline std::string res_path(int rr, const char *leaf)
{
    char name[80];
    std::snprintf(name, sizeof name, "%s/Resolution %04d/%s", kStore.c_str(), rr, leaf);
    return name;
}

inline std::vector<uint8_t> entry(const Document &doc, const std::string &path)
{
    const int i = doc.find(path);
    EXPECT_GE(i, 0) << path;
    return i < 0 ? std::vector<uint8_t>{} : doc.entries[size_t(i)].data;
}

inline PropSet props(const Document &doc, const std::string &path)
{
    PropSet set;
    EXPECT_TRUE(parse_propset(entry(doc, path), set)) << path;
    return set;
}

inline Subimage subimage(const Document &doc, int rr)
{
    Subimage sub;
    EXPECT_TRUE(parse_subimage(entry(doc, res_path(rr, "Subimage 0000 Header")), sub)) << rr;
    return sub;
}

inline std::vector<uint8_t> tile(const Document &doc, int rr, size_t k)
{
    const Subimage sub = subimage(doc, rr);
    return k < sub.tiles.size() ? tile_bytes(entry(doc, res_path(rr, "Subimage 0000 Data")), sub.tiles[k])
                                : std::vector<uint8_t>{};
}

inline Document build(const WriteOptions &o, const Image &img)
{
    Document doc;
    EXPECT_EQ(build_document(o, img, doc), "");
    return doc;
}

// The synthetic picture without its alpha channel.
inline Image rgb_picture(int w, int h)
{
    const Image s = make_synthetic(w, h);
    Image out{w, h, 3, {}};
    for (size_t i = 0; i < s.samples.size(); i += 4)
        out.samples.insert(out.samples.end(), s.samples.begin() + long(i), s.samples.begin() + long(i) + 3);
    return out;
}

} // namespace fpxtest
