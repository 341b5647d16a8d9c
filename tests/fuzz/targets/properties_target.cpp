// Property-set and profile target. Bit 0 of the first byte chooses:
//  0: the rest is a property-set stream, read with FindProperties and every
//     typed read the import drives from it (Global Info, data object,
//     transform with kernel and extent, Image Contents with JPEG table sets
//     and resolution colours);
//  1: the rest is three lines (section, key, value) and a profile file, read
//     with GetPrivateProfileString (one key, then the key list) and
//     GetPrivateProfileInt, rewritten with WritePrivateProfileString as
//     bits 4-5 say (0 no rewrite, 1 set the key, 2 remove it, 3 remove the
//     section) and read again. Bits 1-3 give the read buffer's size.
#include "fuzz_input.h"
#include "fuzz_targets.h"

#include "fpx/fpx_format.h"
#include "fpx/image_walk.h"
#include "fpx/import_stages.h"
#include "fpx/jpeg_table_sets.h"
#include "fpx/property_values.h"

#include <kxfpx/profile.h>

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace kxfuzz {

namespace {

using namespace kxfpx::fpx;

constexpr int32_t kBufferSizes[] = {1, 2, 3, 8, 32, 255, 256, 1024};
constexpr int32_t kMaxResolutionsRead = 8;
constexpr size_t kMaxNameLength = 200;

void read_property_set(const uint8_t *data, size_t size)
{
    MemoryFile file(data, size);
    QorFile s = file.get();
    if (!s)
        return;
    {
        const uint32_t ids[] = {kPidMaxDataObjectIndex, kPidTransformIndex, kPidDataObjectFlag};
        uint32_t pos[3];
        FindProperties(s, 3, ids, pos);
        int32_t value;
        int16_t flag;
        (void)read_long_at(s, pos[0], value);
        (void)read_long_at(s, pos[1], value);
        (void)read_short_at(s, pos[2], flag);
    }
    SubimageInfo info{};
    set_subimage_defaults(info);
    read_transform_values(s, info);
    const ContentsFacts facts = read_contents_facts(s);
    (void)picture_extent(info, facts.width, facts.height);
    {
        JpegTableSets tables;
        (void)tables.load(s, facts.maxTablePos);
    }
    for (int32_t r = 0; r < kMaxResolutionsRead; ++r)
        (void)read_resolution_facts(s, r, info);
    (void)read_resolution_facts(s, facts.highest, info);
}

// A folder of this process's own for the profile and the rewrite's
// temporary files (TMPDIR), in memory when the system has a memory file
// system; made once, removed at exit.
class ProfileFolder {
public:
    ProfileFolder()
    {
        char memory[] = "/dev/shm/kxfpx-fuzz-XXXXXX", disk[] = "/tmp/kxfpx-fuzz-XXXXXX";
        const char *dir = mkdtemp(memory);
        dir_ = dir ? dir : mkdtemp(disk) ? disk : "/tmp";
        setenv("TMPDIR", dir_.c_str(), 1);
        path_ = dir_ + "/fuzz.ini";
    }
    ~ProfileFolder()
    {
        std::remove(path_.c_str());
        (void)rmdir(dir_.c_str());
    }
    const std::string &path() const { return path_; }

private:
    std::string dir_, path_;
};

const std::string &profile_path()
{
    static const ProfileFolder folder;
    return folder.path();
}

std::string line(Cursor &in)
{
    std::string text;
    while (in.size && *in.data != '\n') {
        if (text.size() < kMaxNameLength)
            text += static_cast<char>(*in.data);
        ++in.data, --in.size;
    }
    (void)in.byte();
    return text;
}

void read_profile(uint8_t control, Cursor in)
{
    const std::string section = line(in), key = line(in), value = line(in);
    const std::string &path = profile_path();
    if (std::FILE *f = std::fopen(path.c_str(), "wb")) {
        std::fwrite(in.data, 1, in.size, f);
        std::fclose(f);
    }
    // Exactly the size given, so that a write past it is caught.
    std::vector<char> buffer(static_cast<size_t>(kBufferSizes[(control >> 1) & 7]));
    const int32_t n = static_cast<int32_t>(buffer.size());
    (void)GetPrivateProfileString(section.c_str(), key.c_str(), "default", buffer.data(), n, path.c_str());
    (void)GetPrivateProfileString(section.c_str(), nullptr, "", buffer.data(), n, path.c_str());
    (void)GetPrivateProfileInt(section.c_str(), key.c_str(), 7, path.c_str());
    switch ((control >> 4) & 3) {
    case 1:
        (void)WritePrivateProfileString(section.c_str(), key.c_str(), value.c_str(), path.c_str());
        break;
    case 2:
        (void)WritePrivateProfileString(section.c_str(), key.c_str(), nullptr, path.c_str());
        break;
    case 3:
        (void)WritePrivateProfileString(section.c_str(), nullptr, nullptr, path.c_str());
        break;
    default:
        break;
    }
    (void)GetPrivateProfileString(section.c_str(), key.c_str(), "default", buffer.data(), n, path.c_str());
    std::remove(path.c_str());
}

} // namespace

int properties_target(const uint8_t *data, size_t size)
{
    if (size > kMaxInput)
        return 0;
    Cursor in{data, size};
    const uint8_t control = in.byte();
    if (control & 1)
        read_profile(control, in);
    else
        read_property_set(in.data, in.size);
    return 0;
}

} // namespace kxfuzz
