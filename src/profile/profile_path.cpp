// Where the filter's profile file is: s_getname takes the bare file name of
// a path (no directory, no last extension), and GetProfileDirectory looks
// for a profile first in the directory named by INIDIR, then by its name.
#include "profile/profile_impl.h"

#include <kxfpx/records.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

// Every caller hands a profile name buffer of this size (FilterSetup's
// profileName), and an INIDIR of this length or longer is not used.
constexpr size_t kProfileNameSize = KX_PROFILE_NAME_SIZE;
constexpr const char *kProfileExtension = ".ini";
using kxfpx::profile::kIniDirVariable;

// The part of `path` after its last backslash, else after its last '/',
// else after its last ':', else the whole path. A backslash anywhere wins
// over a later '/'.
const char *file_part(const char *path)
{
    static constexpr char kSeparators[] = {'\\', '/', ':'};
    for (const char separator : kSeparators) {
        if (const char *last = std::strrchr(path, separator))
            return last + 1;
    }
    return path;
}

// Length of a file part without its last extension (cut at its last '.').
size_t stem_length(const char *part)
{
    const char *dot = std::strrchr(part, '.');
    return dot ? static_cast<size_t>(dot - part) : std::strlen(part);
}

bool opens_for_reading(const char *path)
{
    std::FILE *file = std::fopen(path, "r");
    if (!file)
        return false;
    std::fclose(file);
    return true;
}

// Tries `dir` (may be empty) followed by `file` and, when it opens, writes
// the path into the caller's name buffer. A path that would not fit the
// buffer with its terminator is not a usable candidate: it is skipped rather
// than cut, so the name written back always names the file that opened.
bool try_candidate(char *name, const char *dir, const char *file)
{
    char path[kProfileNameSize];
    const int length = std::snprintf(path, sizeof path, "%s%s", dir, file);
    if (length < 0 || static_cast<size_t>(length) >= sizeof path || !opens_for_reading(path))
        return false;
    std::memcpy(name, path, static_cast<size_t>(length) + 1);
    return true;
}

} // namespace

extern "C" {

KX_API char *s_getname(char *dest, const char *path)
{
    if (!dest)
        return dest;
    // A null path names nothing: the result is empty.
    const char *part = path ? file_part(path) : "";
    const size_t length = stem_length(part);
    std::memmove(dest, part, length);
    dest[length] = '\0';
    return dest;
}

KX_API int32_t GetProfileDirectory(char *name, const char *libraryPath)
{
    if (!name)
        return 1;
    if (!*name && libraryPath) {
        // s_getname of the library path plus ".ini", done in place: the name
        // is cut where it would not fit the buffer with its extension.
        const char *part = file_part(libraryPath);
        const size_t length = stem_length(part);
        const size_t room = kProfileNameSize - 1 - std::strlen(kProfileExtension);
        std::snprintf(name, kProfileNameSize, "%.*s%s", static_cast<int>(length < room ? length : room),
                      part, kProfileExtension);
    }
    // An empty name names no file (INIDIR alone would open as a directory),
    // and a name that fills its buffer cannot be written back with any
    // prefix, nor even as it is: neither has a usable candidate.
    const size_t name_length = ::strnlen(name, kProfileNameSize);
    if (name_length == 0 || name_length >= kProfileNameSize)
        return 1;
    // The candidates are built from a copy: a successful try overwrites name.
    char bare[kProfileNameSize];
    std::memcpy(bare, name, std::strlen(name) + 1);

    const char *dir = std::getenv(kIniDirVariable);
    const size_t dir_length = dir ? std::strlen(dir) : 0;
    if (dir_length > 0 && dir_length < kProfileNameSize) {
        char in_dir[kProfileNameSize + 1];
        std::snprintf(in_dir, sizeof in_dir, "%s%s", dir, dir[dir_length - 1] == '/' ? "" : "/");
        if (try_candidate(name, in_dir, bare))
            return 0;
    }
    return try_candidate(name, "", bare) ? 0 : 1;
}

} // extern "C"
